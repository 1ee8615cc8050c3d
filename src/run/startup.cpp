#include "run/startup.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "airports/services.h"
#include "frame/display.h"
#include "frame/entry.h"
#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "run/final_exit.h"
#include "run/subsystems.h"
#include "run/timing.h"
#include "run/version_update.h"
#include "run/work_loop.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/timeutil.h"
#include "injection/services.h"
#include "liveries/services.h"
#include "platform/simpath.h"
#include "platform/ui.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"
#include "window/commands.h"
#include "window/controls.h"
#include "window/main_window.h"
#include "window/requests.h"
#include "window/status_line.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path g_stockSceneryPath;

namespace {

std::mutex g_workThreadMutex;
std::jthread g_workThread;

std::mutex g_readerMutex;
std::jthread g_weatherReaderThread;
std::jthread g_trafficReaderThread;

// The aircraft database is read once per process; restarts keep it.
bool g_databaseRead = false;

void lf_startReader(std::jthread& thread, const std::function<void(std::stop_token)>& procedure) {
    std::lock_guard lock(g_readerMutex);
    if (thread.joinable()) {
        thread.request_stop();
        thread.join();
    }
    thread = std::jthread(procedure);
}

void lf_repaint() { ui::backend().invalidate({0, 0, kMainClientWidth, kMainClientHeight}); }

// Waits in steps until the condition holds, at most `count` steps; false when it never held or the wait was
// ended by an exit, a stop or the thread's own stop.
template <class Condition, class Step>
bool lf_waitSteps(int count, std::chrono::milliseconds step, const std::stop_token& stop, Condition condition,
                  Step afterEachStep) {
    for (int i = 0; i < count; ++i) {
        if (condition()) return true;
        if (!gf_pause(step, stop)) return false;
        afterEachStep();
    }
    return condition();
}

// Measured from the moment the start-up read the settings, as the service counts from its last request.
void lf_hold(std::int64_t startSeconds, std::stop_token stop) {
    const std::int64_t hold = lf_serviceHoldSeconds(startSeconds, g_LAST_EPOCH_TIME.value());
    if (hold <= 0) return;
    gf_showMessage(
        fmt::format("Holding for {} seconds... (RT API cannnot be revisited within 2 seconds)", hold), true);
    gf_pause(std::chrono::seconds(hold), stop);
}

void lf_enableControl(const ParameterControl& c, bool on) { ui::backend().setEnabled(c.controlId, on); }

}  // namespace

std::int64_t lf_serviceHoldSeconds(std::int64_t now, std::int64_t lastVisit) {
    const std::int64_t since = now - lastVisit;
    if (since >= 2) return 0;
    return std::clamp<std::int64_t>(2 - since, 0, 2);
}

void gf_startWorkThread() {
    // The exit sequence posted this message as its very last act; it is left to finish before anything starts.
    if (!gf_exitOrStopRequested()) gf_joinExitThread();
    std::lock_guard lock(g_workThreadMutex);
    if (g_workThread.joinable()) {
        g_workThread.request_stop();
        g_workThread.join();
    }
    if (gf_exitOrStopRequested()) return;
    g_workThread = std::jthread(lf_startUpZNTV);
}

void gf_stopWorkThread() {
    std::lock_guard lock(g_workThreadMutex);
    if (!g_workThread.joinable()) return;
    g_workThread.request_stop();
    g_workThread.join();
}

bool gf_workThreadRunning() {
    std::lock_guard lock(g_workThreadMutex);
    return g_workThread.joinable();
}

void gf_stopReaderThreads() {
    std::lock_guard lock(g_readerMutex);
    for (std::jthread* t : {&g_weatherReaderThread, &g_trafficReaderThread}) {
        if (!t->joinable()) continue;
        t->request_stop();
        t->join();
    }
}

bool gf_readerThreadsRunning() {
    std::lock_guard lock(g_readerMutex);
    return g_weatherReaderThread.joinable() || g_trafficReaderThread.joinable();
}

void gf_resetStartUpState() { g_databaseRead = false; }

void lf_createDataFolders() {
    for (const fs::path& folder :
         {g_outputFolder, g_infoFolder, g_errorsFolder, g_airportsFolder, g_learnedFolder, g_learnedStockFolder,
          g_learnedSimaddonFolder, g_learnedThirdpartyFolder, g_myOrbxFolder, g_myThirdpartyFolder,
          g_myRegcodesFolder}) {
        if (!fs::exists(folder)) fs::create_directory(folder);
    }
}

namespace {

// The install path is a Windows path, as the registry holds it or as typed: it goes through the simulator
// path mapping like every other simulator path, and "Scenery" is matched without case as Windows would.
fs::path lf_stockSceneryFolder(const std::string& installPath) {
    const auto install = platform::mapSimPath(installPath);
    if (!install) return fs::path(installPath) / "Scenery";  // a drive we cannot reach: named as the user knows it
    return platform::mapSimPath("Scenery", *install).value_or(*install / "Scenery");
}

}  // namespace

void lf_checkSceneryPath() {
    const std::string installPath = g_SIM_INSTALL_PATH.value();
    g_stockSceneryPath = lf_stockSceneryFolder(installPath);
    if (!fs::exists(g_stockSceneryPath)) {
        gf_showMessage(fmt::format("Stock airports path does not exist: {}", g_stockSceneryPath.string()), true);
    }
    // A path typed wrong, a drive not mounted or a file named: the run goes on without the liveries and add-on
    // airports in the simulator's folder, and the user is to see why until the path is put right (which
    // restarts the program).
    if (installPath.empty()) return;
    const InstallPathKind kind = gf_installPathKind(installPath);
    if (kind != InstallPathKind::Folder) gf_showInstallPathFault(installPath, kind);
}

void lf_initZNTV() {
    const Subsystems& s = gf_subsystems();
    gf_readParameters();
    gf_versionUpdate();
    ui::backend().invalidate(kMiddleBand);
    lf_createDataFolders();
    g_maxLiveInForce = g_MAX_LIVE.value();
    s.findRTLicense();
    if (!g_restartPending.load()) s.checkForUpdate();
    lf_initTimeShift();
    g_PROGRAM_INSTALL_PATH.set(fs::current_path().string());
    gf_saveStringParameter(g_PROGRAM_INSTALL_PATH);
    g_weekSlotNow = gf_weekSlot();
    if (!g_databaseRead) {
        s.readDataBase();
        g_databaseRead = true;
    }
    g_ALL_INSTALL_PATH.set(g_SIM_INSTALL_PATH.value());
    lf_enableControl(g_ALL_INSTALL_PATH, true);
    gf_showStringParameter(g_ALL_INSTALL_PATH);
    if (g_ALL_INSTALL_PATH.value().empty()) s.detectSimulator();
    lf_repaint();
    gf_enableSettingsControls();
    g_autoRangeManualValue = g_LATERAL_RANGE.value();
    s.readAirports();
}

std::string gf_wrongFolderText() { return fmt::format("{} must be run from the {} folder!", kAppTitle, kAppTitle); }

void lf_startUpZNTV(std::stop_token stop) {
    try {
        const Subsystems& s = gf_subsystems();
        if (!gf_isProgramFolder()) throw qtm::UserErrorException(41, gf_wrongFolderText());
        lf_initZNTV();
        const auto startSeconds = static_cast<std::int64_t>(gf_now());
        lf_checkSceneryPath();
        g_scanLimit = std::max(1u, std::thread::hardware_concurrency());
        g_scanRunningTasks = 0;
        // What the window asked for while no work thread ran (a restart's livery reset among them).
        lf_handleWorkRequests();
        if (!fs::exists(g_liveriesScannedFile) && !g_SCAN_LIVERIES.value()) {
            gf_showMessage(fmt::format("File {} is gone, rescan liveries", g_liveriesScannedFile.string()), true);
            g_SCAN_LIVERIES.set(true);
            gf_saveBoolParameter(g_SCAN_LIVERIES);
            gf_showCheckState(g_SCAN_LIVERIES);
            lf_repaint();
        }
        s.liveriesScan();
        if (gf_exitOrStopRequested() || stop.stop_requested()) return;
        if (g_SCAN_AIRPORTS.value()) {
            g_mainWindow.thirdpCount = 0;
            g_mainWindow.simaddonCount = 0;
            lf_repaint();
            s.scanAddOnAirports();
        }
        lf_hold(startSeconds, stop);
        g_mainWindow.thirdpCount = gf_countFiles(g_myThirdpartyFolder);
        g_mainWindow.simaddonCount = gf_countFiles(g_myOrbxFolder);
        lf_repaint();
        if (stop.stop_requested()) return;
        if (gf_exitOrStopRequested()) {
            gf_requestExit(ExitReason::UserClosedSim, 1);
            return;
        }
        s.createFlightPlanFolder();
        s.readMyParkAirports();
        lf_enableControl(g_Re_read, true);
        const std::string destination = g_DESTINATION.value();
        if (!destination.empty()) {
            if (gf_findAirport(destination)) lf_setDestination(destination);
        } else {
            lf_enableControl(g_Re_read, true);
        }
        ui::backend().setTopmost(g_ALWAYS_ON_TOP.value());
        if (g_AUTO_RANGE.value()) {
            s.autoTrafficRange();
            lf_enableControl(g_LATERAL_RANGE, false);
        }
        lf_runZNTV(stop);
    } catch (...) {
        lf_logException("lf_startUpZNTV");
    }
}

bool lf_requestGroundAndAirAircraft(std::stop_token stop) {
    const Subsystems& s = gf_subsystems();
    const auto ended = [&] { return gf_exitOrStopRequested() || stop.stop_requested(); };
    while (!g_flightRunning.load()) {
        if (!gf_pause(100ms, stop)) return false;
    }
    SimResult onGround;
    {
        std::lock_guard lock(g_simQueueMutex);
        onGround = s.requestUserOnGround();
    }
    if (onGround != kSimOk) {
        gf_logWarning("SimConnect request ac gnd/air fails");
        gf_countRequestError();
    }
    while (!(g_userOnGroundKnown.load() && gf_isRealPosition(g_userPos.latitude, g_userPos.longitude))) {
        g_userPos = s.getUserPosition();
        if (!gf_pause(500ms, stop)) return false;
    }
    int failures = 0;
    {
        std::lock_guard lock(g_simQueueMutex);
        failures = s.requestUserTitleAndModel();
    }
    for (int i = 0; i < failures; ++i) gf_countRequestError();
    while (!gf_isRealPosition(g_userPos.latitude, g_userPos.longitude)) {
        g_userPos = s.getUserPosition();
        if (!gf_pause(200ms, stop)) return false;
    }
    return !ended();
}

void lf_waitForFirstTraffic(std::stop_token stop) {
    const bool arrived = lf_waitSteps(
        150, 100ms, stop, [] { return static_cast<std::int64_t>(g_trafficClient.latestRecordTime.load()) != 0; },
        [] {});
    if (!arrived && !gf_exitOrStopRequested() && !stop.stop_requested()) gf_logLine("No traffic in this region?");
}

void lf_runZNTV(std::stop_token stop) {
    const Subsystems& s = gf_subsystems();
    const auto ended = [&] { return gf_exitOrStopRequested() || stop.stop_requested(); };
    try {
        g_rtConnected = false;
        ui::backend().invalidate(kUpperBand);
        g_simConnected = false;
        ui::backend().invalidate(kUpperBand);
        lf_reserveGlobalLists();
        gf_reserveLiveryContainers();
        gf_initSimConnectQueues(g_P3D_VERSION.value());
        gf_startLinkThread(s.simClient);
        if (!lf_requestGroundAndAirAircraft(stop) || ended()) return;
        // The flight was found running above, and the simulator sends its "Sim" event again only when the
        // flight stops or starts: the mark shows the flight as it is now, or the box would stay yellow
        // through the whole run.
        g_mainWindow.g_simRunningShown = g_flightRunning.load();
        ui::backend().invalidate(kUpperBand);
        if (ended()) return;
        gf_setAiRunning(false);
        s.setTrafficBox();
        s.authenticateOrThrow();
        // A login that failed leaves the readers nothing to do: the run ends here, and the line says why from
        // the moment it is known, not after the waits for a weather reader that cannot start.
        if (!gf_serviceFailure().empty() && !ended()) {
            gf_showError(gf_readerErrorText("Reader error"));
            gf_requestExit(ExitReason::SystemError, 0);
            return;
        }
        g_mainWindow.g_weatherIndicator = kReaderNoData;
        ui::backend().invalidate(kUpperBand);
        g_mainWindow.g_trafficIndicator = kReaderNoData;
        ui::backend().invalidate(kUpperBand);
        lf_enableEditControls(g_rtProfessional.load());
        if (!g_rtProfessional.load()) {
            lf_setTimeShift(0, true);
            if (g_KEEP_SIM_TIME_PAR.value()) {
                g_KEEP_SIM_TIME_PAR.set(false);
                gf_saveBoolParameter(g_KEEP_SIM_TIME_PAR);
                gf_showCheckState(g_KEEP_SIM_TIME_PAR);
            }
            lf_repaint();
        }
        lf_waitSteps(10, 300ms, stop, [] { return g_weatherClient.loggedIn(); }, [] {});
        if (ended()) return;
        lf_startReader(g_weatherReaderThread, s.weatherReader);
        lf_waitSteps(10, 300ms, stop, [] { return g_mainWindow.qnhShown.load() != 0; }, [] { lf_recheckReservedStand(); });
        if (ended()) return;
        lf_startReader(g_trafficReaderThread, s.trafficReader);
        g_trafficClient.queryLatitude = g_userPos.latitude;
        g_trafficClient.queryLongitude = g_userPos.longitude;
        // A login that failed is a reader error already (the readers end at once without a login id): the
        // line says why, whether or not their threads have run yet.
        if (g_readerError.load() || (!gf_serviceFailure().empty() && !ended())) {
            gf_showError(gf_readerErrorText("Reader error"));
            gf_requestExit(ExitReason::SystemError, 0);
        }
        lf_waitForFirstTraffic(stop);
        g_weekSlotNow = gf_weekSlot();
        if (ended()) return;
        mainLoop(stop);
    } catch (const qtm::UserErrorException& e) {
        // Something the user must mend, such as a refused licence: shown, and the program waits for the user
        // instead of ending the run as if the program had failed.
        // A refused licence is on the line already, since the login knew it.
        if (gf_statusError() != e.what()) gf_showError(e.what());
    } catch (const std::exception& e) {
        gf_showMessage(e.what(), true);
        g_rtConnected = false;
        ui::backend().invalidate(kUpperBand);
        gf_requestExit(ExitReason::SystemError, 0);
    }
}
