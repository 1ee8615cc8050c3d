// Every way a run ends goes through one exit request with a reason; only the first request of a run counts.
// The exit sequence itself (logging the reason, stopping the threads, removing the AI, restarting or
// closing) belongs to the run-time, which installs it with gf_setExitSequence at start.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

enum class ExitReason : std::uint32_t {
    NotYetSet = 0,       // "NOT YET SET"
    SimWasClosed = 1,    // "SIM WAS CLOSED"
    NewFlight = 2,       // "NEW FLIGHT"
    NewSettings = 3,     // "NEW SETTINGS"
    UserClosedSim = 4,   // "USER CLOSED SIM"
    SimConnectError = 5, // "SIMCONNECT ERROR"
    ReaderError = 6,     // "READER ERROR"
    SystemError = 7,     // "SYSTEM ERROR"
};

// The text of a reason; a reason outside the table throws std::out_of_range "invalid unordered_map<K, T> key".
const std::string& gf_exitReasonText(std::uint32_t reason);

extern std::atomic<bool> g_quitRequested;   // set by the first exit request of a run
extern std::atomic<bool> g_stopRequested;   // stop working now (user closed); cleared before a restart
extern std::atomic<std::uint32_t> g_exitReason;
extern std::atomic<bool> g_restartPending;  // the current exit ends in a restart

// The exit sequence itself failed: the program closes, and not as a normal end.
extern std::atomic<bool> g_exitSequenceFailed;

// The status the process ends with once the run has closed: 0 for an end the user or the simulator chose
// (window closed, Ctrl-C, simulator closed, new flight), 1 when the run ended through an error (a system
// error, or an exit sequence that failed), so that a script that started the program can tell.
int gf_exitStatus();

// True when an exit or a stop has been requested: the test every waiting loop makes.
inline bool gf_exitOrStopRequested() { return g_quitRequested.load() || g_stopRequested.load(); }

// Requests the end or restart of the run; callable from any thread. Only the first request counts until
// the exit sequence clears g_quitRequested.
void gf_requestExit(std::uint32_t reason, std::uint32_t restartDelaySeconds);
inline void gf_requestExit(ExitReason reason, std::uint32_t restartDelaySeconds) {
    gf_requestExit(static_cast<std::uint32_t>(reason), restartDelaySeconds);
}

// Installed by the run-time: starts the exit sequence for an accepted request. Until one is installed (lower
// layers' tests) an accepted request is only logged.
using ExitSequenceStarter = void (*)(std::uint32_t restartDelaySeconds);
void gf_setExitSequence(ExitSequenceStarter starter);

// The common handler of the exceptions that reach the top of a thread procedure named `functionName`;
// call it inside a catch block. A user error goes to the error line and the program carries on; a format
// error shows "std::format error: " and its text; any other standard exception shows "<function>: <text>"
// and ends the run with reason 7; anything else shows "Unknown exception".
void lf_logException(std::string_view functionName);

// The four flags back to "running" (tests and the run-time's own reset, nothing else).
void gf_resetExitFlags();
