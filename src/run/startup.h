// The start-up on the work thread: each WM_APP+1 runs it on a new thread that then becomes the work thread.
// It checks the program folder, reads the settings, creates the data folders, finds the credential, checks
// for an update (not on a restart), reads the databases, scans, starts the simulator link, logs in at the
// traffic service, starts the two readers and enters the work loop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>

// SIM_INSTALL_PATH joined with "Scenery"; set by the start-up, emptied before a restart.
extern std::filesystem::path g_stockSceneryPath;

// ---- The threads the start-up owns ----

// WM_APP+1: stops and joins a running work thread, then starts the start-up on a new one. Nothing starts
// while an exit is under way: the exit sequence posts WM_APP+1 itself when it restarts. UI thread.
void gf_startWorkThread();
// Stops and joins the work thread; nothing when none runs.
void gf_stopWorkThread();
bool gf_workThreadRunning();
// Stops and joins the two reader threads.
void gf_stopReaderThreads();
bool gf_readerThreadsRunning();

// ---- The start-up ----

// User error 41's text, which the start-up ends on outside a program folder (gf_isProgramFolder).
std::string gf_wrongFolderText();

void lf_startUpZNTV(std::stop_token stop);
void lf_initZNTV();
void lf_runZNTV(std::stop_token stop);
// "output" with "info" and "errors", "airports" with its folders, "my_regcodes" in "input"; one level
// each, in that order.
void lf_createDataFolders();
void lf_checkSceneryPath();
// Waits for a flight and a real user position and sends the link's first requests; false when an exit,
// a stop or the thread's own stop came first.
bool lf_requestGroundAndAirAircraft(std::stop_token stop);
// Waits up to 150 x 100 ms for the first traffic record.
void lf_waitForFirstTraffic(std::stop_token stop);

// The service must not be visited again within 2 seconds: how long to hold, 0..2 seconds, after a last
// visit at `lastVisit` (seconds since 1970) when it is `now`. A last visit in the future holds the full 2.
std::int64_t lf_serviceHoldSeconds(std::int64_t now, std::int64_t lastVisit);

// Forgets that the aircraft database was read (tests).
void gf_resetStartUpState();
