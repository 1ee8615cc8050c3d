// The two reader threads around the weather and the traffic loop: what each shows when it starts and when
// its loop ends, how the failure of one stops the other and reaches the rest of the program, and the
// refresh of the two connection indicators.
#pragma once

#include <atomic>
#include <stop_token>
#include <string>
#include <string_view>

#include "trafficservice/transport.h"

// A reader stopped with an error other than 401; the work loop turns it into an exit.
extern std::atomic<bool> g_readerError;

// What made the service unusable, kept for the error line that ends the run: the first failure since the
// last login attempt, the login's own (address and cause) or a reader's end. Any thread.
void gf_noteServiceFailure(std::string text);
void gf_clearServiceFailure();
std::string gf_serviceFailure();
// The error line of a reader error: `prefix` alone, or followed by ": " and the failure noted.
std::string gf_readerErrorText(std::string_view prefix);

// What each poll of the two readers tells of the service itself (any thread). A failed transfer starts an
// outage, or goes on with one: the error line names the address, the cause and since when, and stays while
// the polls fail; the log has its start and its end once, beside the readers' own line per failed poll. Any
// answer ends it and takes the line away. A poll that was stopped tells nothing.
void gf_noteServicePoll(const TransferResult& transfer);

// The reader thread procedures. Each ends when its loop ends: on its stop token or its client's stop flag
// (both stop it the same way), or on a status of the service that ends the loop.
void gf_weatherReader(std::stop_token stop);
void gf_trafficReader(std::stop_token stop);

// "<name> connected" into the log, indented.
void lf_logConnected(std::string_view name);
// A reader ended with an error: shown on the status line; a 401 (the login was lost) restarts the program
// after 15 s, any other error sets g_readerError.
void gf_readerStopped(bool is401, std::string_view readerName = "WeatherReader");

// Brings the two connection indicators up to date with what the last polls brought (work thread). Does
// nothing while the service is not connected.
void gf_refreshConnectionIndicators();
