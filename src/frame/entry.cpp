#include "frame/entry.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <new>
#include <stdexcept>
#include <stop_token>
#include <thread>

#include <fmt/format.h>
#include <pthread.h>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "platform/single_instance.h"
#include "platform/ui.h"

namespace fs = std::filesystem;

namespace {

constexpr int kClientWidth = 880;
constexpr int kClientHeight = 476;

// The start-up thread. The window procedure stops and joins a previous one before it starts the next, so
// two start-ups never overlap.
std::jthread g_startUpThread;
std::mutex g_startUpMutex;

// Ctrl-C and SIGTERM end the program the same way the window's close box does. The signals are blocked in
// every thread and taken by one thread with sigwait, which may post to the UI thread safely.
std::jthread g_signalThread;

void lf_createDataFolders() {
    for (const fs::path& folder :
         {g_outputFolder, g_infoFolder, g_errorsFolder, g_airportsFolder, g_learnedFolder, g_learnedStockFolder,
          g_learnedSimaddonFolder, g_learnedThirdpartyFolder, g_myOrbxFolder, g_myThirdpartyFolder,
          g_myRegcodesFolder}) {
        if (!fs::exists(folder)) fs::create_directory(folder);
    }
}

void lf_startUpZNTV(std::stop_token stop) {
    try {
        if (!fs::is_directory(g_docsFolder)) {
            throw qtm::UserErrorException(41, fmt::format("{} must be run from the {} folder!", kAppTitle, kAppTitle));
        }
        gf_readParameters();
        lf_createDataFolders();
        gf_logLine("start-up done, idle until the program is closed");
        // The work loop comes here; until then the thread only waits for its stop.
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock lock(m);
        cv.wait(lock, stop, [] { return false; });
    } catch (...) {
        lf_logException("lf_startUpZNTV");
    }
}

void lf_startStartUpThread() {
    std::lock_guard lock(g_startUpMutex);
    if (g_startUpThread.joinable()) {
        g_startUpThread.request_stop();
        g_startUpThread.join();
    }
    g_startUpThread = std::jthread(lf_startUpZNTV);
}

void lf_stopStartUpThread() {
    std::lock_guard lock(g_startUpMutex);
    if (g_startUpThread.joinable()) {
        g_startUpThread.request_stop();
        g_startUpThread.join();
    }
}

void lf_endProgram() {
    lf_stopStartUpThread();
    int x = 0, y = 0;
    if (ui::backend().windowPosition(x, y)) {
        // stored so that the next start opens the window where the user left it
        g_MAIN_WINDOW_X.set(x);
        g_MAIN_WINDOW_Y.set(y);
        lf_saveIntParameter(g_MAIN_WINDOW_X);
        lf_saveIntParameter(g_MAIN_WINDOW_Y);
    }
    gf_closeLog();
    ui::backend().quit(0);
}

void lf_onAppMessage(unsigned message, std::intptr_t) {
    if (message == WM_APP_START) {
        lf_startStartUpThread();
    } else if (message == WM_APP_END) {
        lf_endProgram();
    }
}

void lf_startSignalThread() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    g_signalThread = std::jthread([set](std::stop_token stop) {
        while (!stop.stop_requested()) {
            timespec timeout{0, 200'000'000};
            int sig = sigtimedwait(&set, nullptr, &timeout);
            if (sig == SIGINT || sig == SIGTERM) {
                ui::backend().post(WM_APP_END, 0);
                return;
            }
        }
    });
}

}  // namespace

void lf_logException(std::string_view functionName) {
    try {
        throw;
    } catch (const qtm::UserErrorException& e) {
        gf_showError(e.what());
    } catch (const fmt::format_error& e) {
        gf_showError(fmt::format("std::format error: {}", e.what()));
    } catch (const std::exception& e) {
        gf_showError(fmt::format("{}: {}", functionName, e.what()));
    } catch (...) {
        gf_showError("Unknown exception");
    }
}

int gf_runApplication() {
    const char* headless = std::getenv("ZNTV_HEADLESS");
    (void)headless;  // the real window comes with the window layer; headless until then
    ui::setBackend(ui::makeHeadlessBackend());

    ui::WindowHandlers handlers;
    handlers.appMessage = lf_onAppMessage;
    handlers.closeRequested = [] { ui::backend().post(WM_APP_END, 0); };
    if (!ui::backend().createWindow(kAppTitle, g_MAIN_WINDOW_X.value(), g_MAIN_WINDOW_Y.value(), kClientWidth,
                                    kClientHeight, handlers)) {
        gf_logLine("initInstance failed");
        return 0;
    }
    try {
        gf_initGlobalPaths();
        if (!fs::exists(g_appFolder)) fs::create_directories(g_appFolder);
    } catch (const fs::filesystem_error& e) {
        gf_logLine(fmt::format("Failed to create directory: {}", e.what()));
        return 0;
    }
    lf_startSignalThread();
    ui::backend().post(WM_APP_START, 0);
    int result = ui::backend().run();
    g_signalThread = {};
    lf_stopStartUpThread();
    return result;
}

int gf_programEntry() {
    platform::SingleInstance instance(kInstanceMutexName);
    if (instance.alreadyExists()) return -1;
    try {
        gf_openLog();
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return gf_runApplication();
}
