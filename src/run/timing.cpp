#include "run/timing.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

#include "frame/exit.h"

namespace {

std::atomic<double> g_timeScale{1.0};

// An exit request is a flag, not a notification: waits look at it in slices this long.
constexpr std::chrono::milliseconds kExitPollSlice{10};

}  // namespace

void gf_setTimeScale(double scale) { g_timeScale = scale > 0.0 && scale <= 1.0 ? scale : 1.0; }

double gf_timeScale() { return g_timeScale.load(); }

void gf_setTimeScaleFromEnvironment() {
    const char* text = std::getenv("ZNTV_TIME_SCALE");
    if (text == nullptr) return;
    try {
        gf_setTimeScale(std::stod(text));
    } catch (const std::exception&) {
        gf_setTimeScale(1.0);
    }
}

std::chrono::nanoseconds gf_scaled(std::chrono::nanoseconds duration) {
    return std::chrono::nanoseconds(static_cast<std::int64_t>(static_cast<double>(duration.count()) * g_timeScale));
}

bool gf_pause(std::chrono::nanoseconds duration, std::stop_token stop, WakeOn wake) {
    return gf_pauseUntil(std::chrono::steady_clock::now() + gf_scaled(duration), std::move(stop), wake);
}

bool gf_pauseUntil(std::chrono::steady_clock::time_point deadline, std::stop_token stop, WakeOn wake) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    for (;;) {
        if (stop.stop_requested()) return false;
        if (wake == WakeOn::StopTokenOrExit && gf_exitOrStopRequested()) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return true;
        const auto until = wake == WakeOn::StopTokenOrExit ? std::min(deadline, now + kExitPollSlice) : deadline;
        cv.wait_until(lock, stop, until, [] { return false; });
    }
}
