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

// The requests of the two readers: the weather reader asks for the nearest station, then for its weather; the
// traffic reader asks for traffic.
enum class ServicePoll { NearestMetar, Weather, Traffic };

// What each poll of the two readers tells of the service itself (any thread). Each reader has an outage of its
// own: a failed transfer starts it, or goes on with it, and it ends when every request of that reader that
// failed is answered again; the other reader's answers say nothing of it (a large traffic reply can time out
// while the weather is answered). While either reader has one, the error line names the address, the reader
// (none when both are cut off), since when and the last cause. The log has each reader's start and end once,
// beside the readers' own line per failed poll. A poll that was stopped tells nothing.
void gf_noteServicePoll(ServicePoll poll, const TransferResult& transfer);
// Forgets both readers' outages without a word: a restart begins with readers that have not polled yet.
void gf_forgetServiceOutages();

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
