#include "run/final_exit.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "airports/services.h"
#include "airports/stand_save.h"
#include "airports/stand_sources.h"
#include "frame/display.h"
#include "frame/entry.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "run/startup.h"
#include "run/subsystems.h"
#include "run/timing.h"
#include "run/work_loop.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/text.h"
#include "injection/services.h"
#include "liveries/services.h"
#include "platform/ui.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"
#include "window/main_window.h"
#include "window/requests.h"
#include "window/status_line.h"

using namespace std::chrono_literals;

namespace {

std::mutex g_exitThreadMutex;
std::jthread g_exitThread;

void lf_post(unsigned message) {
    if (g_mainWindow.windowCreated.load()) ui::backend().post(message, 0);
}

bool lf_restarts(std::uint32_t reason) { return reason == 3 || reason == 5 || reason == 6; }

void lf_switchOff(CheckBoxParameter& p) {
    p.set(false);
    gf_saveBoolParameter(p);
    gf_showCheckState(p);
}

void lf_resetDisplay() {
    MainWindow& w = g_mainWindow;
    for (std::string MainWindow::*text :
         {&MainWindow::userTitle, &MainWindow::parkAirportName, &MainWindow::standFileInfo,
          &MainWindow::qualityFactorText, &MainWindow::g_simName, &MainWindow::serviceStatusText,
          &MainWindow::g_userStandShown, &MainWindow::parkAirportCode, &MainWindow::parkAirportLabel,
          &MainWindow::reservedStand}) {
        std::lock_guard lock(w.statusLock);
        (w.*text).clear();
    }
    w.g_weatherIndicator = kReaderStopped;
    w.g_trafficIndicator = kReaderStopped;
    for (auto& fit : w.g_averageFitShown) fit = -1.0f;
    w.qnhShown = 0;
    w.g_simRunningShown = false;
    ui::backend().invalidate({0, 0, kMainClientWidth, kMainClientHeight});
}

// The removals the injection could not hand over any more go to the link, which sends them on its frames.
void lf_handOverRemovals() {
    while (!g_removals.empty()) {
        std::lock_guard lock(g_simQueueMutex);
        g_removeQueue.push_back(g_removals.front());
        g_removals.pop_front();
    }
}

}  // namespace

void lf_resetTimeShift() {
    for (IntEditParameter* p : {&g_TIME_SHIFT_DAYS, &g_TIME_SHIFT_HOURS, &g_TIME_SHIFT_MINS}) {
        p->set(std::clamp(0, p->minimum, p->maximum));
        lf_saveIntParameter(*p);
        gf_showIntParameter(*p);
    }
}

bool lf_restartCountdown(std::uint32_t seconds, std::stop_token stop) {
    const auto ended = [&] { return gf_exitOrStopRequested() || stop.stop_requested(); };
    if (seconds > 0) {
        gf_logLine(fmt::format("Restarting after {} seconds\n\n\n\n\n", seconds));
        for (std::uint32_t left = seconds; left >= 1; --left) {
            if (ended()) return false;
            gf_showMessage(fmt::format("Restarting after {} second{}", left, gf_pluralSuffix(std::uint64_t{left})),
                           false);
            if (!gf_pause(1s, stop)) return false;
        }
    }
    return !ended();
}

void lf_resetRunState() {
    g_simMajorVersion = g_P3D_VERSION.value();
    gf_resetLinkState();
    lf_clearAiLists();
    lf_resetDisplay();
    g_exitReason = 0;
    g_readerError = false;
    gf_clearServiceFailure();
    gf_forgetServiceOutages();
    g_parkingRenewalRequest = false;
    g_blockRequest = false;
    gf_resetWorkLoopState();
    g_userPos = UserAcData{};
    g_rtProfessional = false;
    g_stockSceneryPath.clear();
    g_LATERAL_RANGE.set(std::clamp(g_LATERAL_RANGE.value(), g_LATERAL_RANGE.minimum, g_LATERAL_RANGE.maximum));
    gf_setDerivedTrafficRange(g_LATERAL_RANGE.value());
}

void FinalExit(std::stop_token stop, std::uint32_t restartDelaySeconds) {
    // Each wait gives the other threads time, and ends at once when the program is closing regardless.
    const auto pause = [&](std::chrono::nanoseconds d) { gf_pause(d, stop, WakeOn::StopToken); };
    try {
        const Subsystems& s = gf_subsystems();
        const std::uint32_t reason = g_exitReason.load();
        gf_logLine(fmt::format("Exiting: {}", gf_exitReasonText(reason)));
        const bool restart = lf_restarts(reason);
        g_restartPending = restart;
        // What the exit says is to be seen; a start-up after a restart shows again what is still wrong.
        gf_clearStandingFaults();
        if (restart) gf_showMessage("Prepare for a restart ...", true);

        // The work thread owns the aircraft lists and starts the readers: it ends first (it sees the exit
        // request within a tick), so that nothing below shares a list with it or races a thread it starts.
        gf_stopWorkThread();
        if (g_weatherClient.loggedIn()) {
            g_weatherClient.stop = true;
            g_trafficClient.stop = true;
            gf_stopReaderThreads();
            // The service is not to be visited again within 2 seconds of the readers' last request.
            pause(3s);
            s.deauthenticate();
        } else {
            gf_stopReaderThreads();
            pause(500ms);
        }
        s.removeAllLiveAc();
        s.removeAllStaticAc();
        lf_handOverRemovals();
        pause(1s);  // the link sends the removals meanwhile
        if (reason == static_cast<std::uint32_t>(ExitReason::SystemError)) pause(5s);
        if (reason == static_cast<std::uint32_t>(ExitReason::UserClosedSim)) {
            gf_logLine(fmt::format("User closed {}", kAppTitle));
            g_stopRequested = true;
        }
        gf_stopLinkThread();
        g_liveryByHexid.clear();
        s.removeFlightPlanFolder();

        if (!restart) {
            gf_setStringParameterAndSave(g_DESTINATION, "");
            gf_setStringParameterAndSave(g_BLOCK_CALLSIGN, "");
            g_timeShifted = false;
            if (!g_KEEP_SIM_TIME_PAR.value()) {
                g_SIM_TIME.set(false);
                gf_saveBoolParameter(g_SIM_TIME);
                lf_resetTimeShift();
            } else if (g_SIM_TIME.value()) {
                lf_resetTimeShift();
            }
            s.liveryMatchingSummary();
            s.logUnmatchedAircraft();
        } else if (g_SIM_TIME.value()) {
            lf_resetTimeShift();
        }
        if (!g_parkAirportCode.empty()) s.clearStaticParking();
        if (!restart) gf_writeUnsavedLearnedFilesAtEnd();
        // A stand file still being fetched is given up (the download stop check sees the exit) and its thread
        // joined before anything it writes to is reset; so is a look at the stands of a neighbouring airport.
        gf_joinStandFileFetch();
        gf_waitForParkAirportChecks();

        if (!restart) {
            g_ghostCallsigns.clear();
            if (reason == static_cast<std::uint32_t>(ExitReason::NewFlight)) {
                gf_showMessage(
                    fmt::format("New flight detected, {} will close, please restart manually ...", kAppTitle), true);
                pause(10s);
            }
            // The exit flag stays set: nothing is to start a second exit sequence while the window closes.
            lf_post(WM_APP_END);
            return;
        }

        gf_clearError();
        g_trafficClient.reset();
        g_weatherClient.reset();
        // A settings restart is for the scans; a restart after a failure is not to scan again.
        if (reason != static_cast<std::uint32_t>(ExitReason::NewSettings)) {
            lf_switchOff(g_SCAN_LIVERIES);
            lf_switchOff(g_SCAN_AIRPORTS);
        }
        g_stopRequested = false;
        g_quitRequested = false;
        // An exit asked for during the countdown takes over: its own sequence decides what follows.
        if (!lf_restartCountdown(restartDelaySeconds, stop)) return;
        lf_resetRunState();
        g_quitRequested = false;
        lf_post(WM_APP_START);
    } catch (...) {
        // A failing exit sequence must still end the program; a closed flag keeps the handler from
        // starting another one.
        g_quitRequested = true;
        g_exitSequenceFailed = true;
        lf_logException("FinalExit");
        lf_post(WM_APP_END);
    }
}

void lf_startFinalExit(std::uint32_t restartDelaySeconds) {
    std::lock_guard lock(g_exitThreadMutex);
    if (g_exitThread.joinable()) {
        // Only a countdown or the last steps of a restart can still run here: both end at once.
        g_exitThread.request_stop();
        if (g_exitThread.get_id() == std::this_thread::get_id())
            g_exitThread.detach();
        else
            g_exitThread.join();
    }
    g_exitThread = std::jthread(FinalExit, restartDelaySeconds);
}

void gf_joinExitThread() {
    std::lock_guard lock(g_exitThreadMutex);
    if (!g_exitThread.joinable() || g_exitThread.get_id() == std::this_thread::get_id()) return;
    g_exitThread.join();
}

void gf_stopExitThread() {
    std::lock_guard lock(g_exitThreadMutex);
    if (!g_exitThread.joinable() || g_exitThread.get_id() == std::this_thread::get_id()) return;
    g_exitThread.request_stop();
    g_exitThread.join();
}

bool gf_exitThreadRunning() {
    std::lock_guard lock(g_exitThreadMutex);
    return g_exitThread.joinable();
}
