// What the window needs from the parts of the program that run around it: the exit sequence, the work
// thread, the simulator link and the parking code. They install their functions here when they start;
// until then (and in tests that install their own) each has a safe default, listed below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Exit reasons the window asks for.
inline constexpr std::int32_t kExitNewSettings = 3;    // a scan or a new install path: restart
inline constexpr std::int32_t kExitUserClosedSim = 4;  // the user closed the window

struct WindowServices {
    // End or restart the program (reason, restart delay in seconds); only the first request counts.
    // Default: the close box ends the program at once (WM_APP+2); other reasons are only logged.
    std::function<void(std::int32_t reason, std::int32_t delaySeconds)> requestExit;
    // WM_APP+1: stop and join a running start-up/work thread, then start a new one. Default: logged only.
    std::function<void()> startWorkThread;
    // WM_APP+2, before the window stores its position and closes the log: stop and join the work thread.
    // Default: nothing.
    std::function<void()> stopWorkThread;
    // The seconds counter of the work loop's per-second work. Default: 0.
    std::function<std::int64_t()> seconds;
    // True until the simulator link has connected once in this run. Default: true.
    std::function<bool()> beforeFirstConnection;
    // The simulator's epoch time of its latest report. Default: 0.
    std::function<std::int64_t()> simEpochTime;
    // Whether the active park airport's stand file is loaded. Default: false.
    std::function<bool()> standFileLoaded;
    // Above 0 while static parking is being calculated. Default: 0.
    std::function<std::int32_t()> parkingBusy;
    // Whether the airport list holds this code. Default: false (no list read).
    std::function<bool(const std::string& icao)> airportKnown;
};

// Installs the given functions; empty members get their defaults. Any thread.
void gf_setWindowServices(WindowServices services);
// The functions in force; every member is callable.
std::shared_ptr<const WindowServices> gf_windowServices();
