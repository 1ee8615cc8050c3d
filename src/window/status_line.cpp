#include "window/status_line.h"

#include <algorithm>
#include <mutex>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/entry.h"
#include "frame/log.h"
#include "window/main_window.h"

namespace {

// A message stays this many counted seconds.
constexpr std::int32_t kMessageSeconds = 25;

}  // namespace

void lf_showStatusMessage(std::string_view text, bool log) {
    std::lock_guard lock(g_mainWindow.statusLock);
    // An error holds the line until it is cleared; a message meanwhile is dropped, not even logged.
    if (!g_mainWindow.error.empty()) return;
    g_mainWindow.message.assign(text);
    // At least 1, so that a message set at second 0 still counts as shown and expires.
    g_mainWindow.messageSecond = text.empty() ? 0 : std::max(g_mainWindow.displaySeconds.load(), 1);
    if (log && !text.empty()) gf_logString(std::string(text));
    ui::backend().invalidate(kStatusLine);
}

void lf_showStatusError(std::string_view text) {
    std::lock_guard lock(g_mainWindow.statusLock);
    g_mainWindow.message.clear();
    g_mainWindow.messageSecond = 0;
    g_mainWindow.error.assign(text);
    gf_logLine(fmt::format("Error {}", text));
    ui::backend().invalidate(kStatusLine);
}

void lf_showStandingFault(StandingFault which, std::string_view text, bool log) {
    std::lock_guard lock(g_mainWindow.statusLock);
    std::string& shown = g_mainWindow.standingFaults.at(static_cast<std::size_t>(which));
    if (shown == text) return;  // a retry that fails the same way says nothing new
    shown.assign(text);
    if (log) gf_logLine(fmt::format("Error {}", text));
    ui::backend().invalidate(kStatusLine);
}

void lf_clearStandingFault(StandingFault which) {
    std::lock_guard lock(g_mainWindow.statusLock);
    std::string& shown = g_mainWindow.standingFaults.at(static_cast<std::size_t>(which));
    if (shown.empty()) return;
    shown.clear();
    ui::backend().invalidate(kStatusLine);
}

void gf_clearStandingFaults() {
    for (std::size_t i = 0; i < kStandingFaultCount; ++i) lf_clearStandingFault(static_cast<StandingFault>(i));
}

const std::string& lf_redLineLocked() {
    if (!g_mainWindow.error.empty()) return g_mainWindow.error;
    for (const std::string& fault : g_mainWindow.standingFaults)
        if (!fault.empty()) return fault;
    return g_mainWindow.error;  // empty
}

void gf_installStatusLine() {
    gf_setStatusLineHooks({lf_showStatusMessage, lf_showStatusError, lf_showStandingFault, lf_clearStandingFault});
}

void gf_clearError() {
    {
        std::lock_guard lock(g_mainWindow.statusLock);
        g_mainWindow.error.clear();
    }
    gf_clearMessage();
}

void gf_tickDisplaySeconds() {
    const std::int32_t now = ++g_mainWindow.displaySeconds;
    // Checked and cleared under one lock: a message set in between is a new one and keeps its 25 seconds.
    std::lock_guard lock(g_mainWindow.statusLock);
    const std::int32_t since = g_mainWindow.messageSecond;
    if (since > 0 && now - since >= kMessageSeconds) {
        g_mainWindow.message.clear();
        g_mainWindow.messageSecond = 0;
        ui::backend().invalidate(kStatusLine);
    }
}

void gf_refreshAirborneCount(std::uint64_t liveAirborne, std::uint64_t parkedLive, std::uint64_t parkedStatic) {
    if (g_mainWindow.liveAirborneCount.exchange(liveAirborne) != liveAirborne) ui::backend().invalidate(kUpperBand);
    const bool liveChanged = g_mainWindow.parkedLiveCount.exchange(parkedLive) != parkedLive;
    const bool staticChanged = g_mainWindow.parkedStaticCount.exchange(parkedStatic) != parkedStatic;
    if (liveChanged || staticChanged) ui::backend().invalidate(kParkingBand);
}

std::string lf_formatWithAppName(std::string_view format) {
    return fmt::format(fmt::runtime(format), kAppTitle, kAppTitle);
}

std::string gf_statusMessage() {
    std::lock_guard lock(g_mainWindow.statusLock);
    return g_mainWindow.message;
}

std::string gf_statusError() {
    std::lock_guard lock(g_mainWindow.statusLock);
    return g_mainWindow.error;
}

std::string gf_standingFault(StandingFault which) {
    std::lock_guard lock(g_mainWindow.statusLock);
    return g_mainWindow.standingFaults.at(static_cast<std::size_t>(which));
}
