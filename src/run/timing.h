// The run-time's waits: every one is a sleep to a deadline that ends early when its thread is asked to stop
// (and, where a wait can be long, when an exit or a stop is requested), and every one is scaled by one
// factor, so that tests and end-to-end runs go through the program's seconds in milliseconds.
#pragma once

#include <chrono>
#include <stop_token>

// 1 is real time; 0.01 makes a second 10 ms. Values outside (0, 1] are taken as 1.
void gf_setTimeScale(double scale);
double gf_timeScale();
// ZNTV_TIME_SCALE, when it holds a number in (0, 1]; else real time.
void gf_setTimeScaleFromEnvironment();

std::chrono::nanoseconds gf_scaled(std::chrono::nanoseconds duration);

enum class WakeOn {
    StopToken,           // only the thread's own stop
    StopTokenOrExit,     // also an exit or a stop request of the program
};

// Sleeps the scaled duration. True when it has passed; false when the wait was ended early.
bool gf_pause(std::chrono::nanoseconds duration, std::stop_token stop, WakeOn wake = WakeOn::StopTokenOrExit);
// Sleeps to a deadline of the steady clock (not scaled). Same result.
bool gf_pauseUntil(std::chrono::steady_clock::time_point deadline, std::stop_token stop,
                   WakeOn wake = WakeOn::StopTokenOrExit);
