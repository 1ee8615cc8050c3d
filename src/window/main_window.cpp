#include "window/main_window.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "frame/display.h"
#include "frame/entry.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/timeutil.h"
#include "window/commands.h"
#include "window/controls.h"
#include "window/services.h"
#include "window/status_line.h"

MainWindow g_mainWindow;

MainWindow::MainWindow() { constructed.store(true); }

// Every thread that writes here is joined before the process ends; nothing is left to release but the texts,
// which go with the object.
MainWindow::~MainWindow() { windowCreated = false; }

void gf_setDisplayText(std::string MainWindow::*field, std::string text, const ui::Rect& band) {
    {
        std::lock_guard lock(g_mainWindow.statusLock);
        (g_mainWindow.*field).swap(text);
    }
    ui::backend().invalidate(band);
}

std::string gf_displayText(std::string MainWindow::*field) {
    std::lock_guard lock(g_mainWindow.statusLock);
    return g_mainWindow.*field;
}

void gf_resetMainWindowState() {
    MainWindow& w = g_mainWindow;
    {
        std::lock_guard lock(w.statusLock);
        for (std::string MainWindow::*text :
             {&MainWindow::message, &MainWindow::error, &MainWindow::userTitle, &MainWindow::parkAirportName,
              &MainWindow::standFileInfo, &MainWindow::qualityFactorText, &MainWindow::g_simName,
              &MainWindow::serviceStatusText, &MainWindow::g_userStandShown, &MainWindow::parkAirportCode,
              &MainWindow::parkAirportLabel, &MainWindow::reservedStand}) {
            (w.*text).clear();
        }
        for (std::string& fault : w.standingFaults) fault.clear();
    }
    for (auto& fit : w.g_averageFitShown) fit = -1.0f;
    for (std::atomic<std::uint64_t> MainWindow::*count :
         {&MainWindow::liveAirborneCount, &MainWindow::simaddonCount, &MainWindow::thirdpCount,
          &MainWindow::liveryCount, &MainWindow::parkedLiveCount, &MainWindow::parkedStaticCount,
          &MainWindow::standCount, &MainWindow::addonAirportCount}) {
        (w.*count) = 0;
    }
    for (std::atomic<std::int32_t> MainWindow::*number :
         {&MainWindow::maxParkPercent, &MainWindow::qnhShown, &MainWindow::g_wantedStatics,
          &MainWindow::minutesToRenewal, &MainWindow::displaySeconds, &MainWindow::messageSecond,
          &MainWindow::updateCount, &MainWindow::standFileWeekCount}) {
        (w.*number) = 0;
    }
    w.parkingRowY = 399;
    for (std::atomic<bool> MainWindow::*flag :
         {&MainWindow::standFileHandMade, &MainWindow::g_rtConnected, &MainWindow::standFileOk,
          &MainWindow::g_simConnected, &MainWindow::g_simRunningShown, &MainWindow::staticParkingMark,
          &MainWindow::reservedStandOk, &MainWindow::windowCreated}) {
        (w.*flag) = false;
    }
    w.serviceBoxBlack = true;
    w.userModelKnown = true;
    w.simaddonOk = true;
    w.timeLabelsActive = true;
    w.g_trafficIndicator = kReaderStopped;
    w.g_weatherIndicator = kReaderStopped;
}

void gf_setQnh(std::int32_t qnh) {
    g_mainWindow.qnhShown = qnh;
    std::int32_t noData = kReaderNoData;
    g_mainWindow.g_weatherIndicator.compare_exchange_strong(noData, kReaderDataArriving);
    ui::backend().invalidate(kUpperBand);
}

namespace {

bool lf_atLimit(const IntParameter& p) { return p.value() == p.minimum || p.value() == p.maximum; }

// A window minimised or pushed off screen at the last exit left its position at a limit of the range; it
// would open out of sight. Such a value goes back to the default.
void lf_readWindowPosition() {
    gf_ensureGlobalPaths();
    pugi::xml_document doc;
    if (g_parametersPath.empty() || !doc.load_file(g_parametersPath.c_str())) return;
    for (IntParameter* p : {&g_MAIN_WINDOW_X, &g_MAIN_WINDOW_Y}) {
        const pugi::xml_node node = doc.select_node(gf_findParameterNode(p->key).c_str()).node();
        if (node) p->set(std::clamp(node.attribute("value").as_int(p->defaultValue), p->minimum, p->maximum));
        if (lf_atLimit(*p)) {
            p->set(std::clamp(p->defaultValue, p->minimum, p->maximum));
            lf_saveIntParameter(*p);
        }
    }
}

void lf_endMainWindow() {
    gf_windowServices()->stopWorkThread();
    const std::int32_t previousX = g_MAIN_WINDOW_X.value();
    const std::int32_t previousY = g_MAIN_WINDOW_Y.value();
    int x = 0, y = 0;
    if (ui::backend().windowPosition(x, y)) {
        g_MAIN_WINDOW_X.set(std::clamp(x, g_MAIN_WINDOW_X.minimum, g_MAIN_WINDOW_X.maximum));
        lf_saveIntParameter(g_MAIN_WINDOW_X);
        g_MAIN_WINDOW_Y.set(std::clamp(y, g_MAIN_WINDOW_Y.minimum, g_MAIN_WINDOW_Y.maximum));
        lf_saveIntParameter(g_MAIN_WINDOW_Y);
    }
    lf_checkWindowPosition(previousX, previousY);
    if (gf_logIsOpen()) {
        gf_logLine(gf_utcTimeStamp(gf_now()));
        gf_closeLog();
    }
    // A run that ended through an error ends the process with a failure status; a close is a normal end.
    ui::backend().quit(gf_exitStatus());
}

}  // namespace

void lf_checkWindowPosition(std::int32_t previousX, std::int32_t previousY) {
    const std::pair<IntParameter*, std::int32_t> positions[] = {{&g_MAIN_WINDOW_X, previousX},
                                                                {&g_MAIN_WINDOW_Y, previousY}};
    for (auto [p, previous] : positions) {
        if (!lf_atLimit(*p)) continue;
        p->set(std::clamp(previous, p->minimum, p->maximum));
        lf_saveIntParameter(*p);
    }
}

void lf_mainWindowCommand(ui::ControlId id, ui::Notify what) {
    if (what == ui::Notify::EnterPressed) {
        lf_handleEditEnter(id);
        return;
    }
    lf_HandleWMCOMMAND(id);
}

void lf_mainWindowAppMessage(unsigned message, std::intptr_t) {
    if (message == WM_APP_START) {
        gf_windowServices()->startWorkThread();
    } else if (message == WM_APP_END) {
        lf_endMainWindow();
    }
}

void lf_mainWindowClose() {
    gf_showMessage(fmt::format("Close window button clicked, closing {} ...", kAppTitle), false);
    // The window stays until the exit sequence ends it.
    gf_windowServices()->requestExit(kExitUserClosedSim, 0);
}

bool gf_createMainWindow() { return gf_createMainWindow(kAppTitle); }

bool gf_createMainWindow(const std::string& title) {
    // The state object is built before the program starts; the bounded wait only guards against a caller
    // that runs during static initialisation.
    for (int i = 0; i < 18 && !g_mainWindow.constructed.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!g_mainWindow.constructed.load()) return false;

    lf_readWindowPosition();
    gf_installStatusLine();

    ui::WindowHandlers handlers;
    handlers.paint = [](ui::Canvas& canvas, const ui::Rect&) { lf_paintMainWindow(canvas); };
    handlers.command = lf_mainWindowCommand;
    handlers.appMessage = lf_mainWindowAppMessage;
    handlers.closeRequested = lf_mainWindowClose;
    if (!ui::backend().createWindow(title, g_MAIN_WINDOW_X.value(), g_MAIN_WINDOW_Y.value(), kMainClientWidth,
                                    kMainClientHeight, std::move(handlers))) {
        return false;
    }
    g_mainWindow.windowCreated = true;
    if (!lf_createControls()) gf_logLine("not every control of the window could be created");
    ui::backend().invalidate(ui::Rect{0, 0, kMainClientWidth, kMainClientHeight});
    return true;
}
