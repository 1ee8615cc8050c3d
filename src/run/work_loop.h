// The work thread's loop: a 10 ms tick that drives the AI update and, paced by the simulator's second, the
// cascade of timers (every second; every 15 seconds the work named for 5 and 15 seconds; every 30 seconds;
// every 16 seconds the park airports; every 61 seconds the duplicates; every 20 minutes the parking
// renewal; every 86,400 seconds the counter's reset). While no flight runs, the tick only keeps house.
#pragma once

#include <atomic>
#include <cstdint>
#include <stop_token>

#include "window/main_window.h"

// Seconds counter of the per-second work (work thread writes; the window reads it).
extern std::atomic<std::int32_t> g_seconds;
// The loop has paused the AI because no flight runs.
extern std::atomic<bool> g_flightPaused;
// Ticks while no flight runs; starts at 100 at each pause.
extern std::int32_t g_pauseTicks;
// The first pass of a parking renewal has run, the second has not.
extern std::atomic<bool> g_renewalCollecting;
// Minutes to the next 20-minute mark, as the window shows them.
inline std::atomic<std::int32_t>& g_nextRenewalMinutes = g_mainWindow.minutesToRenewal;

// Runs the ticks until one returns false or the thread is asked to stop.
void mainLoop(std::stop_token stop);
// One tick; false ends the loop.
bool lf_workZNTV();
void lf_workSimNotRunning();
void lf_everySecond();
void lf_every5Seconds();
void lf_every15Seconds(std::int32_t n);
void lf_every30Seconds(std::int32_t n);
// A pending "Re-read": the reserved stand and the park airports checked again.
void lf_recheckReservedStand();
// The three aircraft counts of the display.
void lf_refreshAirborneCount();
// Carries out what the window asked for since the last call.
void lf_handleWorkRequests();

// The loop's own state back to its start values (the restart, and tests).
void gf_resetWorkLoopState();
