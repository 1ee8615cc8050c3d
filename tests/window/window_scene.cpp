#include "window_scene.h"

#include "frame/display.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "window/controls.h"
#include "window/main_window.h"
#include "window/status_line.h"

namespace window_test {

void gf_showRunningScene() {
    gf_loadParameters(gf_storedParameters());
    lf_initTimeShift();
    gf_enableSettingsControls();
    g_ALL_INSTALL_PATH.set("D:\\Lockheed Martin\\Prepar3D v5");
    gf_showStringParameter(g_ALL_INSTALL_PATH);

    MainWindow& w = g_mainWindow;
    {
        std::lock_guard lock(w.statusLock);
        w.g_simName = "Prepar3D v5.4.9.28482";
        w.g_userStandShown = "GATE B 44";
        w.userTitle = "Boeing 737-800 Zentavo House Colours";
        w.serviceStatusText = "RealTraffic professional licence";
        w.parkAirportCode = "EDDF";
        w.parkAirportLabel = "EDDF";
        w.parkAirportName = "Frankfurt am Main";
        w.standFileInfo = "learned";
        w.qualityFactorText = "0.87";
    }
    w.g_simConnected = true;
    w.g_simRunningShown = true;
    w.liveryCount = 4211;
    w.simaddonCount = 18;
    w.thirdpCount = 6;
    w.g_rtConnected = true;
    w.serviceBoxBlack = false;
    w.g_weatherIndicator = kReaderDataArriving;
    w.g_trafficIndicator = kReaderDataArriving;
    w.qnhShown = 1013;
    w.liveAirborneCount = 23;
    w.standFileOk = true;
    w.standFileWeekCount = 3;
    w.standCount = 212;
    w.parkedLiveCount = 9;
    w.parkedStaticCount = 61;
    w.g_wantedStatics = 80;
    w.maxParkPercent = 40;
    w.updateCount = 14;
    w.g_averageFitShown[0] = 2.5f;
    w.g_averageFitShown[1] = 1.5f;
    ui::backend().invalidate({0, 0, kMainClientWidth, kMainClientHeight});
    gf_showMessage("23 live aircraft in the simulator, 61 parked at EDDF", false);
}

}  // namespace window_test
