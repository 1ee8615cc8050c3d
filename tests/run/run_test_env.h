// A private world for the run-time's suites: roaming folder, registry, runtime folder and a program folder
// (with "docs" and "input") in one temporary folder, a headless window layer, every setting, display field,
// request and flag at its start value, waits scaled down a hundredfold, and subsystems that record what they
// are asked and stand in for the simulator and the traffic service.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "frame/display.h"
#include "frame/download.h"
#include "frame/entry.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "run/entry.h"
#include "run/final_exit.h"
#include "run/startup.h"
#include "run/subsystems.h"
#include "run/timing.h"
#include "run/work_loop.h"
#include "frame/settings.h"
#include "frame/timeutil.h"
#include "injection/services.h"
#include "liveries/services.h"
#include "platform/ui.h"
#include "platform/ui_headless.h"
#include "simlink/link.h"
#include "support/program_env.h"
#include "support/test_support.h"
#include "trafficservice/runtime_services.h"
#include "window/main_window.h"
#include "window/requests.h"
#include "window/services.h"
#include "window/status_line.h"

namespace run_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

// Polls until the condition holds; false when it never did within the (generous) bound.
inline bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound = 30s) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

// Which subsystem calls were made, by name, from whichever thread made them.
class CallLog {
public:
    void add(const std::string& name) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(name);
    }
    int count(const std::string& name) const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), name));
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

// A simulator that runs a flight at a real position and ticks its second every few milliseconds.
struct FakeSimulator {
    std::atomic<int> linkStarts{0};
    std::atomic<int> linkStops{0};
    std::atomic<bool> ticking{true};
    double latitude = 52.3086, longitude = 4.7639;

    void run(std::stop_token stop) {
        ++linkStarts;
        {
            std::lock_guard lock(g_userAcMutex);
            g_userAcFromSim.latitude = latitude;
            g_userAcFromSim.longitude = longitude;
        }
        g_userOnGround = true;
        g_userOnGroundKnown = true;
        g_beforeFirstConnection = false;
        g_flightRunning = true;
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(3ms);
            if (ticking) g_secondTick = true;
        }
        ++linkStops;
    }
};

class RunEnv : public testing_support::ProgramEnv {
protected:
    RunEnv()
        : m_runtime(m_root.path() / "runtime"),
          m_sim(m_root.path() / "sim" / "Prepar3D v5"),
          m_docs("XDG_DOCUMENTS_DIR", (m_root.path() / "documents").string()),
          m_public("XDG_PUBLICSHARE_DIR", (m_root.path() / "public").string()),
          m_runtimeEnv("XDG_RUNTIME_DIR", m_runtime.string()),
          // Nothing listens there: the update check fails at once unless a test serves one.
          m_update("ZNTV_UPDATE_URL", "http://127.0.0.1:9/downloads/") {
        for (const fs::path& p : {m_runtime, m_sim / "Scenery", m_program / "docs", m_program / "input"}) {
            fs::create_directories(p);
        }
        fs::permissions(m_runtime, fs::perms::owner_all, fs::perm_options::replace);
    }

    void SetUp() override {
        ProgramEnv::SetUp();
        gf_resetMainWindowState();
        gf_resetWindowRequests();
        gf_resetExitFlags();
        gf_resetWorkLoopState();
        gf_resetStartUpState();
        gf_setTimeScale(0.01);
        lf_resetRunState();
        forgetWhatTestsSet();
        DownloadTimeouts quick;
        quick.connect = 2000ms;
        quick.lowSpeedTime = 1s;
        gf_setDownloadTimeouts(quick);
        writeSettings("<parameter name=\"SIM_INSTALL_PATH\" value=\"" + m_sim.string() + "\"/>\n");
        openLog();
        gf_setSubsystems(fakes());
    }

    void TearDown() override {
        if (m_uiThread.joinable()) {
            m_ui->post(WM_APP_END, 0);
            m_uiThread.join();
        }
        gf_stopRunThreads();
        gf_setStatusLineHooks({});
        gf_setWindowServices({});
        gf_setExitSequence(nullptr);
        gf_setDownloadStopCheck({});
        gf_setDownloadTimeouts(DownloadTimeouts{});
        gf_setSlotClock({});
        gf_setSubsystems({});
        gf_setTimeScale(1.0);
        ProgramEnv::TearDown();
    }

    // What the suites set by hand in the lists and flags of the other parts, back to nothing.
    static void forgetWhatTestsSet() {
        g_weatherClient.reset();
        g_trafficClient.reset();
        g_collectSeenTraffic = false;
        gf_setAiRunning(false);
        g_ghostCallsigns.clear();
        g_standFileLoaded = false;
        g_parkingBusy = 0;
        g_maxLiveInForce = -1;
        g_parkAirportCode.clear();
        g_reservedStand.clear();
        g_parkPositions.clear();
        g_parkAirports.clear();
        g_airports.clear();
        g_liveryByHexid.clear();
        g_unmatchedAircraft.clear();
    }

    // Every subsystem call recorded under its name; the simulator link and the service readers stand-ins.
    Subsystems fakes() {
        Subsystems s;
        CallLog* c = &m_calls;
        const auto record = [c](const char* name) { return [c, name] { c->add(name); }; };
        s.detectSimulator = record("detectSimulator");
        s.simClient = [this](std::stop_token stop) { m_simulator.run(stop); };
        s.requestUserOnGround = [] { return kSimOk; };
        s.requestUserTitleAndModel = [] { return 0; };
        s.getUserPosition = [] {
            std::lock_guard lock(g_userAcMutex);
            return g_userAcFromSim;
        };
        s.createFlightPlanFolder = record("createFlightPlanFolder");
        s.removeFlightPlanFolder = record("removeFlightPlanFolder");
        s.findRTLicense = record("findRTLicense");
        s.setTrafficBox = record("setTrafficBox");
        s.authenticateOrThrow = record("authenticateOrThrow");
        s.deauthenticate = record("deauthenticate");
        s.refreshConnectionIndicators = record("refreshConnectionIndicators");
        s.weatherReader = [c](std::stop_token stop) {
            c->add("weatherReader");
            while (!stop.stop_requested()) std::this_thread::sleep_for(2ms);
        };
        s.trafficReader = [c](std::stop_token stop) {
            c->add("trafficReader");
            while (!stop.stop_requested()) std::this_thread::sleep_for(2ms);
        };
        s.liveriesScan = record("liveriesScan");
        s.readDataBase = record("readDataBase");
        s.liveryMatchingSummary = record("liveryMatchingSummary");
        s.logUnmatchedAircraft = record("logUnmatchedAircraft");
        s.updateAI = [] {};
        s.simCommands = [] {};
        s.removeAllLiveAc = [c] {
            c->add("removeAllLiveAc");
            gf_removeAllLiveAc();
        };
        s.removeAllStaticAc = [c] {
            c->add("removeAllStaticAc");
            gf_removeAllStaticAc();
        };
        s.removeAcAtReservedStand = record("removeAcAtReservedStand");
        s.autoTrafficRange = record("autoTrafficRange");
        s.enforceMaxLive = record("enforceMaxLive");
        s.checkDuplicates = [](const DuplicateContext& context, const AiAc& st) {
            return st.status == kAcInSim && st.callsign.rfind(context.callsignCut, 0) == 0;
        };
        s.removeLiveConflictingWithUser = [c](int, LiveAc&) {
            c->add("removeLiveConflictingWithUser");
            return false;
        };
        s.removeStaticForCollisionAvoidance = [c](bool& removed, int, LiveAc&) {
            c->add("removeStaticForCollisionAvoidance");
            removed = false;
        };
        s.checkForParkAirportUpdates = [c](bool first) { c->add(first ? "parkCheckFirst" : "parkCheck"); };
        s.scanAddOnAirports = record("scanAddOnAirports");
        s.readAirports = record("readAirports");
        s.readMyParkAirports = [c] {
            c->add("readMyParkAirports");
            return true;
        };
        s.checkReservedStand = [c](bool, std::string&) {
            c->add("checkReservedStand");
            return false;
        };
        s.adjustParking = [c](bool modeChanged) { c->add(modeChanged ? "adjustParking(mode)" : "adjustParking"); };
        s.searchForCoupledCs = [c](WeekSlot, LiveAc&) { c->add("searchForCoupledCs"); };
        s.clearStaticParking = record("clearStaticParking");
        s.disableParkingControls = [c] {
            c->add("disableParkingControls");
            g_parkingBusy = 1;
        };
        s.enableParkingControls = [c] {
            c->add("enableParkingControls");
            g_parkingBusy = 0;
        };
        return s;
    }

    // ---- the program, run on a UI thread of the test's own ----

    void startProgram() {
        m_uiThread = std::thread([this] { m_exitCode = gf_runApplication(); });
    }
    // Waits for the program to end by itself; a program that does not is ended, and the test fails.
    bool programEnded() {
        if (!m_uiThread.joinable()) return true;
        const bool ended = waitFor([this] { return m_loopEnded(); });
        if (!ended) {
            ADD_FAILURE() << "the program did not end by itself";
            m_ui->post(WM_APP_END, 0);
        }
        m_uiThread.join();
        return ended;
    }
    // The work loop has run its per-second work at least `seconds` times since the counter was last zeroed.
    bool workLoopRuns(int seconds = 2) {
        return waitFor([&] { return g_seconds.load() >= seconds; });
    }

    // ---- files ----

    int logCount(const std::string& line) const {
        const auto lines = logLines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    bool logContains(const std::string& part) const { return readWholeFile(logPath()).find(part) != std::string::npos; }

    fs::path m_runtime, m_sim;
    testing_support::ScopedEnv m_docs, m_public, m_runtimeEnv, m_update;
    CallLog m_calls;
    FakeSimulator m_simulator;
    std::thread m_uiThread;
    std::atomic<int> m_exitCode{-100};

private:
    bool m_loopEnded() const { return m_exitCode.load() != -100; }
};

}  // namespace run_test
