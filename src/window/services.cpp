#include "window/services.h"

#include <mutex>
#include <utility>

#include <fmt/format.h>

#include "frame/entry.h"
#include "frame/log.h"
#include "platform/ui.h"

namespace {

WindowServices lf_withDefaults(WindowServices s) {
    if (!s.requestExit) {
        s.requestExit = [](std::int32_t reason, std::int32_t delay) {
            if (reason == kExitUserClosedSim) {
                ui::backend().post(WM_APP_END, 0);
                return;
            }
            gf_logLine(fmt::format("exit requested (reason {}, restart after {} s), no exit sequence to run it",
                                   reason, delay));
        };
    }
    if (!s.startWorkThread) s.startWorkThread = [] { gf_logLine("no work thread to start"); };
    if (!s.stopWorkThread) s.stopWorkThread = [] {};
    if (!s.seconds) s.seconds = [] { return std::int64_t{0}; };
    if (!s.beforeFirstConnection) s.beforeFirstConnection = [] { return true; };
    if (!s.simEpochTime) s.simEpochTime = [] { return std::int64_t{0}; };
    if (!s.standFileLoaded) s.standFileLoaded = [] { return false; };
    if (!s.parkingBusy) s.parkingBusy = [] { return std::int32_t{0}; };
    if (!s.airportKnown) s.airportKnown = [](const std::string&) { return false; };
    return s;
}

std::mutex g_servicesMutex;

std::shared_ptr<const WindowServices>& lf_current() {
    static std::shared_ptr<const WindowServices> current =
        std::make_shared<const WindowServices>(lf_withDefaults({}));
    return current;
}

}  // namespace

void gf_setWindowServices(WindowServices services) {
    auto next = std::make_shared<const WindowServices>(lf_withDefaults(std::move(services)));
    std::lock_guard lock(g_servicesMutex);
    lf_current() = std::move(next);
}

std::shared_ptr<const WindowServices> gf_windowServices() {
    std::lock_guard lock(g_servicesMutex);
    return lf_current();
}
