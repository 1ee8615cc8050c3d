#include "run/entry.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include <fmt/format.h>
#include <pthread.h>

#include "airports/parking.h"
#include "airports/services.h"
#include "frame/download.h"
#include "frame/entry.h"
#include "frame/exit.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "run/final_exit.h"
#include "run/startup.h"
#include "run/timing.h"
#include "run/work_loop.h"
#include "frame/timeutil.h"
#include "injection/flight_phases.h"
#include "injection/services.h"
#include "platform/single_instance.h"
#include "platform/ui.h"
#include "platform/ui_fltk.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"
#include "window/main_window.h"
#include "window/requests.h"
#include "window/services.h"

namespace fs = std::filesystem;

namespace {

// Ctrl-C and SIGTERM are blocked in every thread and taken by this one with sigwait, from where the exit
// request may be made safely.
std::jthread g_signalThread;

sigset_t lf_closeSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Before any thread starts, so that every thread inherits the mask: a signal that comes before the signal
// thread runs stays pending until it does.
void lf_blockCloseSignals() {
    const sigset_t set = lf_closeSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Started only once the exit sequence is installed and the window stands to be ended by it: a request made
// earlier would find nothing to run it, and would be lost.
void lf_startSignalThread() {
    g_signalThread = std::jthread([set = lf_closeSignals()](std::stop_token stop) {
        bool closing = false;
        while (!stop.stop_requested()) {
            timespec timeout{0, 200'000'000};
            const int sig = sigtimedwait(&set, nullptr, &timeout);
            if (sig != SIGINT && sig != SIGTERM) continue;
            if (!closing) {
                // As the close box: the exit sequence removes the AI and saves before the window goes.
                gf_logLine(fmt::format("signal {} received, closing {} ...", sig, kAppTitle));
                closing = true;
                gf_requestExit(ExitReason::UserClosedSim, 0);
            } else {
                // Asked twice: the user wants it gone now.
                ui::backend().post(WM_APP_END, 0);
                return;
            }
        }
    });
}

void lf_chooseWindowLayer() {
    const char* headless = std::getenv("ZNTV_HEADLESS");
    if (headless != nullptr && std::string(headless) == "1") {
        // Without a window, ZNTV_HEADLESS_SCREEN names a file that shows the window's texts as they change.
        const char* screen = std::getenv("ZNTV_HEADLESS_SCREEN");
        ui::setBackend(ui::makeHeadlessBackend(screen != nullptr ? std::filesystem::path(screen)
                                                                 : std::filesystem::path()));
        return;
    }
    if (auto fltk = ui::makeFltkBackend()) {
        ui::setBackend(std::move(fltk));
        return;
    }
    gf_logLine("no display to open the window on, running without one");
    ui::setBackend(ui::makeHeadlessBackend());
}

}  // namespace

void gf_stopRunThreads() {
    gf_stopExitThread();
    gf_stopWorkThread();
    gf_stopReaderThreads();
    gf_stopLinkThread();
}

bool gf_runThreadsIdle() {
    return !gf_exitThreadRunning() && !gf_workThreadRunning() && !gf_readerThreadsRunning() &&
           !gf_linkThreadRunning();
}

void gf_installRunHooks() {
    gf_setExitSequence(lf_startFinalExit);
    gf_setDownloadStopCheck([] { return gf_exitOrStopRequested(); });

    WindowServices services;
    services.requestExit = [](std::int32_t reason, std::int32_t delay) {
        gf_requestExit(static_cast<std::uint32_t>(reason), static_cast<std::uint32_t>(std::max(delay, 0)));
    };
    services.startWorkThread = gf_startWorkThread;
    // WM_APP+2: the window stores its position and closes the log once every thread has ended.
    services.stopWorkThread = gf_stopRunThreads;
    services.seconds = [] { return static_cast<std::int64_t>(g_seconds.load()); };
    services.beforeFirstConnection = [] { return g_beforeFirstConnection.load(); };
    services.simEpochTime = [] { return g_simEpochTime.load(); };
    services.standFileLoaded = [] { return g_standFileLoaded.load(); };
    services.parkingBusy = [] { return static_cast<std::int32_t>(g_parkingBusy.load()); };
    // The airport list is read once by the start-up and not changed afterwards.
    services.airportKnown = [](const std::string& icao) { return gf_findAirport(icao).has_value(); };
    gf_setWindowServices(std::move(services));

    SlotClock clock;
    clock.trafficTimeInForce = [] { return g_rtProfessional.load() && g_timeShifted.load(); };
    clock.latestTrafficTime = [] { return static_cast<std::time_t>(g_trafficClient.latestRecordTime.load()); };
    gf_setSlotClock(std::move(clock));

    // The automatic traffic range measures from the active park airport, the first of the list (work thread).
    g_firstParkAirportPosition = []() -> std::optional<GeoPosition> {
        if (g_parkAirports.empty()) return std::nullopt;
        return GeoPosition{g_parkAirports.front().latitude, g_parkAirports.front().longitude};
    };
    // A new aircraft reporting the active park airport's elevation is standing there (work thread).
    g_parkAirportElevationFt = []() -> std::optional<double> {
        if (g_parkAirportCode.empty()) return std::nullopt;
        return g_parkAirportElevation;
    };
    // The injection's stand hooks read and mark the active park airport's stands (work thread).
    gf_installStandHooks();
    // Approaches are flown to the active park airport: within 10 nm of it a descent becomes one (work thread).
    g_activeParkAirportPosition = []() -> std::optional<GeoPosition> {
        if (g_parkAirportCode.empty()) return std::nullopt;
        return g_parkAirportPos;
    };
}

int gf_runApplication(const std::function<void()>& whenItCanClose) {
    gf_installRunHooks();
    // The program could not start: a failure for whoever started it, not a normal end.
    if (!gf_createMainWindow()) {
        gf_logLine("initInstance failed");
        return 1;
    }
    try {
        gf_ensureGlobalPaths();
        if (!fs::exists(g_appFolder)) fs::create_directories(g_appFolder);
        // Before anything is read or saved: what a killed save left behind is no file of the user's. Outside a
        // program folder nothing is read, and files of such names may be anyone's.
        if (gf_isProgramFolder()) gf_removeInterruptedSaves();
    } catch (const fs::filesystem_error& e) {
        gf_logLine(fmt::format("Failed to create directory: {}", e.what()));
        return 1;
    }
    // The exit sequence is installed and has a window to end: from here a request to close is carried out.
    if (whenItCanClose) whenItCanClose();
    if (g_mainWindow.windowCreated.load()) ui::backend().post(WM_APP_START, 0);
    const int result = ui::backend().run();
    // The window's end has joined them already; this covers a loop that ended any other way.
    gf_stopRunThreads();
    return result;
}

int gf_programEntry() {
    lf_blockCloseSignals();
    platform::SingleInstance instance(kInstanceMutexName);
    if (instance.alreadyExists()) return -1;
    // The log belongs to the program folder. Started elsewhere (a source checkout among such folders), the
    // program writes nothing there: the window shows user error 41, and so does the terminal it was started from.
    if (gf_isProgramFolder()) {
        try {
            gf_openLog();
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    } else {
        std::cerr << "41: " << gf_wrongFolderText() << '\n';
    }
    gf_setTimeScaleFromEnvironment();
    lf_chooseWindowLayer();
    const int result = gf_runApplication(lf_startSignalThread);
    g_signalThread = {};
    return result;
}
