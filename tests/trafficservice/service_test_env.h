// A private world for the service client's suites: the program test world (folders, settings at their
// defaults, headless window, own log), both clients and everything they touch back at their start values,
// fast pauses, and the exit requests caught instead of run.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "airports/services.h"
#include "frame/exit.h"
#include "frame/settings.h"
#include "injection/services.h"
#include "liveries/services.h"
#include "simlink/link.h"
#include "support/program_env.h"
#include "trafficservice/runtime_services.h"
#include "window/main_window.h"
#include "window/requests.h"

namespace service_test {

// The last exit request that reached the exit sequence: its restart delay, -1 while none came.
inline std::atomic<std::int64_t> g_exitDelay{-1};
inline void lf_catchExit(std::uint32_t delaySeconds) { g_exitDelay = delaySeconds; }

// Waits (in steps, bounded) until the condition holds; a guard against a hung suite, not a measurement.
inline bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

class ServiceEnv : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        resetWorld();
        ServiceTiming timing;
        timing.pollFloor = std::chrono::milliseconds(1);
        timing.refusedLoginPause = std::chrono::milliseconds(20);
        timing.connectTimeout = std::chrono::milliseconds(5000);
        timing.transferTimeout = std::chrono::milliseconds(20000);
        gf_setServiceTiming(timing);
        g_exitDelay = -1;
        gf_setExitSequence(&lf_catchExit);
    }

    void TearDown() override {
        gf_setExitSequence(nullptr);
        gf_setTrafficBatchHandOver({});
        gf_setServiceTiming(ServiceTiming{});
        resetWorld();
        ProgramEnv::TearDown();
    }

    static void resetWorld() {
        g_weatherClient.reset();
        g_trafficClient.reset();
        g_weatherClient.rrl = 2000;
        g_weatherClient.wrrl = 2000;
        g_trafficClient.rrl = 2000;
        g_trafficClient.wrrl = 2000;
        g_trafficClient.clearParkAirportElevation();
        g_trafficClient.setParkAirportFilter(false, 0, 0, 0);
        g_trafficClient.queryLatitude = 0;
        g_trafficClient.queryLongitude = 0;
        g_trafficClient.parkedRecords.clear();
        g_rtLicense.clear();
        g_readerError = false;
        gf_clearServiceFailure();
        gf_forgetServiceOutages();
        g_rtConnected = false;
        g_rtProfessional = false;
        g_blockedCallsign.clear();
        gf_resetExitFlags();
        gf_resetMainWindowState();
        gf_resetWindowRequests();
        gf_setDerivedTrafficRange(g_LATERAL_RANGE.value());
        g_userPos = UserAcData{};
        {
            std::lock_guard lock(g_userAcMutex);
            g_userAcFromSim = UserAcData{};
        }
        g_parkAirportCode.clear();
        g_parkAirportPos = GeoPosition{};
        g_parkAirportElevation = 0;
        g_reservedStand.clear();
        g_standFileLoaded = false;
        g_seenCallsigns.clear();
        g_seenHexIds.clear();
        g_regcodeDb.clear();
        g_knownModels.clear();
        for (auto* set : {&g_largeModels, &g_heavyModels, &g_buzjetModels, &g_rotorcraftModels, &g_highPerfModels})
            set->clear();
        gf_setAiRunning(false);
        lf_clearAiLists();
        (void)gf_takeSimMessages();
    }

    // The user aircraft where the simulator reports it (the weather reads it) and where the work thread
    // last copied it (the request box).
    static void placeUser(double latitude, double longitude, double altitude = 0) {
        UserAcData d;
        d.latitude = latitude;
        d.longitude = longitude;
        d.altitude = altitude;
        {
            std::lock_guard lock(g_userAcMutex);
            g_userAcFromSim = d;
        }
        g_userPos = d;
        g_trafficClient.queryLatitude = latitude;
        g_trafficClient.queryLongitude = longitude;
    }

    // A park airport the filters know about.
    static void activateParkAirport(const std::string& code, double latitude, double longitude, double elevation) {
        g_parkAirportCode = code;
        g_parkAirportPos = GeoPosition{latitude, longitude};
        g_parkAirportElevation = elevation;
        g_trafficClient.setParkAirportFilter(true, latitude, longitude, elevation);
    }

    // Lines of the log that contain the text.
    std::vector<std::string> logLinesWith(const std::string& part) const {
        std::vector<std::string> found;
        for (const std::string& line : logLines()) {
            if (line.find(part) != std::string::npos) found.push_back(line);
        }
        return found;
    }
    bool logContains(const std::string& part) const { return !logLinesWith(part).empty(); }
};

}  // namespace service_test
