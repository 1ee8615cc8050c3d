// The exit sequence: every end and every restart of a run goes through one exit request (frame/exit.h) that
// starts `FinalExit` on the exit thread. It stops the work thread, the readers and the link (and joins
// them) before it touches what they used, logs out, removes the AI, saves what the next run needs, and then
// closes the program or, for reasons 3, 5 and 6, counts down and starts the start-up again.
#pragma once

#include <cstdint>
#include <stop_token>

// The starter installed with gf_setExitSequence: lets a previous exit sequence end, then runs FinalExit on
// the exit thread.
void lf_startFinalExit(std::uint32_t restartDelaySeconds);
void FinalExit(std::stop_token stop, std::uint32_t restartDelaySeconds);

// "Restarting after {} second{}" on the status line for each second left. False when an exit or stop
// request, or the exit thread's own stop, ended it early.
bool lf_restartCountdown(std::uint32_t seconds, std::stop_token stop);
// The three time-shift fields back to 0, saved and shown.
void lf_resetTimeShift();
// The state of a run back to its start, before the restart's start-up. Every run-time thread has ended.
void lf_resetRunState();

// Waits for the exit thread to end (never from the exit thread itself).
void gf_joinExitThread();
// Asks the exit thread to hurry (its waits end) and waits for it.
void gf_stopExitThread();
bool gf_exitThreadRunning();
