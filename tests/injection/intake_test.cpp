#include "injection/intake.h"

#include <cmath>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/services.h"
#include "liveries/database.h"
#include "simlink/link.h"
#include "support/test_support.h"
#include "trafficservice/clients.h"

namespace {

constexpr std::uint32_t kKnown = 0x100001;

class Intake : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        gf_resetLinkState();
        gf_setAiTick(0);
        gf_clearDataBase();
        g_knownModels = {"A320", "B744", "C172", "F16", "EC35"};
        g_largeModels = {"A320"};
        g_heavyModels = {"B744"};
        g_highPerfModels = {"F16"};
        g_rotorcraftModels = {"EC35"};
        g_wingspans = {{"A320", 0.0097}, {"B744", 0.0173}};
        g_regcodeDb["D-ABYA"] = RegcodeData{"DLH", "B744", "", false};
        g_trafficClient.clearParkAirportElevation();
        gf_seedWorkRandom(3);
    }
    void TearDown() override {
        g_trafficClient.clearParkAirportElevation();
        for (auto* p : {&g_LIGHT_AIRCRAFT, &g_HELICOPTERS, &g_HIGH_PERF_AIRCRAFT}) p->reset();
        gf_clearDataBase();
        gf_setAiRunning(false);
        lf_clearAiLists();
        gf_resetLinkState();
    }

    static TrafficRecord record(std::uint32_t hexId, const char* callsign, const char* type, double time) {
        TrafficRecord r;
        r.hexId = hexId;
        r.callsign = callsign;
        r.type = type;
        r.time = time;
        r.lat = 50.0;
        r.lon = 8.5;
        return r;
    }
};

// A known aircraft, in the simulator or not, whose last report came at 1000 s.
struct Known {
    double speed, track;
    bool airborne;
    std::uint32_t status = kAcInSim;
    std::int32_t extendSteps = 0;
};
// The next report for it.
struct Report {
    double dt, speed, track;
    bool airborne;
    double alt = 0.0;
};

TEST_F(Intake, EachDropRuleOfAKnownAircraftHoldsAtItsThreshold) {
    struct Case {
        const char* name;
        Known known;
        Report report;
        bool taken;
    };
    // Unless a case is about them, the tracks differ by 10 degrees and the speeds are alike, so that only the
    // rule under test can drop the report.
    const Case cases[] = {
        {"same time", {200, 90, true}, {0.0, 200, 100, true}, false},
        {"one second", {200, 90, true}, {1.0, 200, 100, true}, false},
        {"past one second", {200, 90, true}, {1.01, 200, 100, true}, true},
        {"tenfold drop", {100, 90, true}, {5, 10, 100, true}, false},
        {"under tenfold drop", {100, 90, true}, {5, 10.01, 100, true}, true},
        {"tenfold rise", {20, 90, true}, {5, 200, 100, true}, false},
        {"under tenfold rise", {20, 90, true}, {5, 199, 100, true}, true},
        {"stopped against 80", {80, 90, false}, {5, 5, 100, false}, false},
        {"stopped against 79", {79, 90, false}, {5, 5, 100, false}, true},
        // A speed its positions do not show is unknown: the place is taken all the same.
        {"80 after standing", {5, 90, false}, {5, 80, 100, false}, true},
        {"79 after standing", {5, 90, false}, {5, 79, 100, false}, true},
        // 450 kt covers 0.243 nm in 1.944 s.
        {"steady 450 kt", {450, 90, true}, {1.94, 450, 91, true}, false},
        {"steady 450 kt later", {450, 90, true}, {1.95, 450, 91, true}, true},
        {"450 kt turning", {450, 90, true}, {1.5, 450, 91.01, true}, true},
        {"450 kt while predicting", {450, 90, true, kAcInSim, 1}, {1.5, 450, 91, true}, true},
        {"standing 15 s", {0, 90, false}, {15.0, 0, 92, false}, false},
        {"standing past 15 s", {0, 90, false}, {15.01, 0, 92, false}, true},
        // 10 kt rolls 0.0108 nm in 3.888 s.
        {"rolling 10 kt", {10, 90, false}, {3.88, 10, 90, false}, false},
        {"rolling 10 kt later", {10, 90, false}, {3.9, 10, 90, false}, true},
        {"31 kt is not taxiing", {31, 90, false}, {2, 31, 90, false}, true},
        {"respawning", {200, 90, true, kAcRespawn}, {5, 200, 100, true}, false},
        {"being removed", {200, 90, true, kAcRemovalRequested}, {5, 200, 100, true}, false},
        // The park airport lies at 500 ft.
        {"not created, 120 ft above the field", {200, 90, true, kAcNotInSim}, {5, 200, 100, true, 620}, false},
        {"not created, 121 ft above the field", {200, 90, true, kAcNotInSim}, {5, 200, 100, true, 621}, true},
        {"created, at the field", {200, 90, true}, {5, 200, 100, true, 500}, true},
    };
    g_trafficClient.setParkAirportElevation(500.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_liveAc.clear();
        TrafficRecord first = record(kKnown, "DLH4AB", "A320", 1000.0);
        first.speed = c.known.speed;
        first.track = c.known.track;
        first.airborne = c.known.airborne;
        lf_addLiveAc(first);
        ASSERT_EQ(g_liveAc.size(), 1u);
        g_liveAc[0].status = c.known.status;
        g_liveAc[0].extendSteps = c.known.extendSteps;

        TrafficRecord next = record(kKnown, "DLH4AB", "A320", 1000.0 + c.report.dt);
        next.speed = c.report.speed;
        next.track = c.report.track;
        next.airborne = c.report.airborne;
        next.alt = c.report.alt;
        // Elsewhere (a repeated place is the track merge's to drop, not the intake's); on the ground as far as
        // the last speed goes.
        next.lat += c.report.airborne ? 0.01 : std::max(0.0003, c.known.speed * c.report.dt / 3600.0 / 60.0);
        lf_applyTrafficRecord(next);
        ASSERT_EQ(g_liveAc.size(), 1u);  // never a second aircraft for a known hex id
        EXPECT_EQ(g_liveAc[0].track.size(), c.taken ? 2u : 1u);
        EXPECT_EQ(g_liveAc[0].lastRecordTime, c.taken ? next.time : 1000.0);
    }
}

TEST_F(Intake, NewAircraftAreMadeOrDroppedByTypeCategoryAndHeight) {
    struct Case {
        const char* name;
        const char* callsign;
        const char* type;
        const char* registration;
        double alt;
        std::optional<double> fieldElevation;
        bool lightAllowed;
        const char* madeType;  // nullptr: dropped
        double vs = 0.0, kt = 0.0;
    };
    const Case cases[] = {
        {"known type", "BAW12", "A320", "", 0, {}, true, "A320"},
        {"same callsign and type as a known one", "DLH4AB", "A320", "", 0, {}, true, nullptr},
        {"same callsign, other type", "DLH4AB", "B744", "", 0, {}, true, "B744"},
        {"empty callsign, same type", "", "A320", "", 0, {}, true, "A320"},
        {"empty type from the registration", "BAW12", "", "D-ABYA", 0, {}, true, "B744"},
        {"unknown type from the registration", "BAW12", "XXXX", "D-ABYA", 0, {}, true, "B744"},
        {"unknown type, unknown registration", "BAW12", "XXXX", "G-EUPA", 0, {}, true, nullptr},
        {"light aircraft allowed", "DEABC", "C172", "", 0, {}, true, "C172"},
        {"light aircraft switched off", "DEABC", "C172", "", 0, {}, false, nullptr},
        {"80 ft above the field", "BAW12", "A320", "", 580, 500.0, true, nullptr},
        {"200 ft above the field", "BAW12", "A320", "", 700, 500.0, true, "A320"},
        {"no park airport: against -1000 ft", "BAW12", "A320", "", 100, {}, true, "A320"},
        // Descending at flying speed at the field's height: on short final.
        {"short final at the field", "BAW12", "A320", "", 1430, 1416.0, true, "A320", -300, 121},
        {"at the field at 80 kt", "BAW12", "A320", "", 1430, 1416.0, true, nullptr, -300, 80},
        {"at the field at 121 kt, level", "BAW12", "A320", "", 1430, 1416.0, true, nullptr, 0, 121},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_liveAc.clear();
        lf_addLiveAc(record(kKnown, "DLH4AB", "A320", 1000.0));
        g_LIGHT_AIRCRAFT.set(c.lightAllowed);
        // The traffic reader's reference: the park airport's field, or none.
        if (c.fieldElevation) g_trafficClient.setParkAirportElevation(*c.fieldElevation);
        else g_trafficClient.clearParkAirportElevation();
        TrafficRecord r = record(0x200002, c.callsign, c.type, 1010.0);
        r.registration = c.registration;
        r.alt = c.alt;
        r.airborne = c.alt > 0.0;
        r.vs = c.vs;
        r.speed = c.kt;
        lf_applyTrafficRecord(r);
        ASSERT_EQ(g_liveAc.size(), c.madeType ? 2u : 1u);
        if (!c.madeType) continue;
        const LiveAc& made = g_liveAc[1];
        EXPECT_EQ(made.hexId, 0x200002u);
        EXPECT_EQ(made.type, c.madeType);
        EXPECT_EQ(made.state, kMoveNew);
        EXPECT_EQ(made.status, kAcNotInSim);
        ASSERT_EQ(made.track.size(), 1u);
        EXPECT_EQ(made.track.front().alt, c.alt);
    }
}

TEST_F(Intake, AReportWithAValueNoAircraftCanHaveIsRefusedWithAWarning) {
    testing_support::TempDir dir;
    gf_openLog(dir / "Log.txt");
    struct Case {
        double TrackPoint::*field;
        double value;
        bool taken;
    };
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {&TrackPoint::speed, 2500.0, true},     {&TrackPoint::speed, 1e302, false},
        {&TrackPoint::speed, nan, false},       {&TrackPoint::alt, 100000.0, true},
        {&TrackPoint::alt, 1e6, false},         {&TrackPoint::lat, -90.5, false},
        {&TrackPoint::lon, nan, false},         {&TrackPoint::vs, -1e9, false},
        {&TrackPoint::tas, INFINITY, false},    {&TrackPoint::track, 1e300, false},
        {&TrackPoint::bank, 4.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        g_liveAc.clear();
        TrafficRecord r = record(0x200002, "BAW12", "A320", 1010.0);
        r.alt = 30000.0;
        r.airborne = true;
        r.*c.field = c.value;
        lf_applyTrafficRecord(r);
        EXPECT_EQ(g_liveAc.size(), c.taken ? 1u : 0u);
    }
    gf_closeLog();
    EXPECT_NE(testing_support::readWholeFile(dir / "Log.txt")
                  .find("===> 200002 BAW12: ground speed 1e+302 kt is no aircraft's, report not taken"),
              std::string::npos);
}

// A type the registration list corrects must take its category, span and every table with it: an A320 that
// turns out to be a B744 keeps no Large performance.
TEST_F(Intake, ACorrectedTypeTakesItsCategorySpanAndTables) {
    const AiAc heavy = [] {
        AiAc ac = gf_makeModelRecord(record(kKnown, "DLH4AB", "B744", 0));
        gf_applyLiveTables(ac);
        return ac;
    }();
    lf_addLiveAc(record(kKnown, "DLH4AB", "A320", 1000.0));
    LiveAc& ac = g_liveAc.at(0);
    ASSERT_EQ(ac.category, kCatLarge);
    gf_setModelType(ac, "B744");
    EXPECT_EQ(ac.type, "B744");
    EXPECT_EQ(ac.category, kCatHeavy);
    EXPECT_DOUBLE_EQ(ac.halfSpan, 0.0173);
    EXPECT_EQ(ac.flareTicks, heavy.flareTicks);
    EXPECT_NEAR(ac.climbPitch, heavy.climbPitch, std::abs(heavy.climbPitch) * 0.11);
    EXPECT_DOUBLE_EQ(ac.groundTurnRate, heavy.groundTurnRate);
    EXPECT_DOUBLE_EQ(ac.taxiInSpeed, heavy.taxiInSpeed);
}

TEST_F(Intake, LiveBatchesPlayFromTheirMedianAndAreTakenTwoATickFromTheEnd) {
    gf_setAiRunning(true);
    gf_setAiTick(500);
    const auto batch = [](std::vector<double> times) {
        g_trafficClient.liveRecords.clear();
        std::uint32_t hexId = 0x300000;
        for (double t : times) g_trafficClient.liveRecords.push_back(record(++hexId, "", "A320", t));
    };
    // 0.25 s before the median plays two tenths (20 ticks) early, not 25 or 30.
    batch({100.0, 100.25});
    gf_processTrafficBatch(g_trafficClient, 30);
    {
        std::lock_guard lock(g_intakeMutex);
        ASSERT_EQ(g_receivedTraffic.size(), 2u);
        EXPECT_EQ(g_receivedTraffic[0].playTick, 3500 - 20);
        EXPECT_EQ(g_receivedTraffic[1].playTick, 3500);
    }
    // While that batch waits, the next one is dropped whole.
    batch({101.0, 101.5, 102.0});
    gf_processTrafficBatch(g_trafficClient, 30);
    EXPECT_TRUE(g_trafficClient.liveRecords.empty());

    {
        std::lock_guard lock(g_intakeMutex);
        g_receivedTraffic.push_back(record(0x300010, "", "A320", 99.0));  // now three, the last taken first
    }
    lf_handleUdpMessages();
    ASSERT_EQ(g_liveAc.size(), 2u);
    EXPECT_EQ(g_liveAc[0].hexId, 0x300010u);
    EXPECT_EQ(g_liveAc[1].hexId, 0x300002u);
    lf_handleUdpMessages();
    ASSERT_EQ(g_liveAc.size(), 3u);
    EXPECT_EQ(g_liveAc[2].hexId, 0x300001u);
    std::lock_guard lock(g_intakeMutex);
    EXPECT_TRUE(g_receivedTraffic.empty());
}

// A lift-off ends a roll: the speed its positions show must have grown from the one they showed before, at no
// more than an aircraft gains. Standing 8 s, then flagged airborne 240 m away 2 s later (78 kt from the place 6 s
// before, where it stood): a stale place renewed, not a lift-off (AEE5ZH in the demo took off from a taxiway).
TEST_F(Intake, AnAirborneReportAfterStandingIsALiftOffOnlyAtASpeedGrownTo) {
    g_parkAirportElevationFt = [] { return std::optional<double>(500.0); };
    TrafficRecord standing = record(kKnown, "DLH4AB", "A320", 1000.0);
    standing.speed = standing.tas = 0.0;
    standing.speedGiven = standing.trackGiven = false;
    lf_addLiveAc(standing);
    ASSERT_EQ(g_liveAc.size(), 1u);
    LiveAc& a = g_liveAc[0];
    a.status = kAcInSim;
    a.state = kMoveFollowing;
    a.onGround = true;
    for (const double t : {1002.0, 1004.0, 1006.0, 1008.0}) {
        standing.time = t;
        lf_applyTrafficRecord(standing);
    }
    ASSERT_EQ(a.reportedPlaces.size(), 5u);
    TrafficRecord away = standing;
    away.time = 1010.0;
    away.lon += 240.0 / (1852.0 * 60.0 * std::cos(away.lat * 3.141592653589793 / 180.0));
    away.airborne = true;
    away.alt = away.reportedAlt = 800.0;
    lf_applyTrafficRecord(away);
    EXPECT_FALSE(a.track.back().airborne);
    EXPECT_EQ(a.takeOffRollFrom, 0.0);
}

TEST_F(Intake, TheMovementPassErasesFlaggedAircraftAndHandsThePositionsOn) {
    for (std::uint32_t id : {1u, 2u, 3u}) lf_addLiveAc(record(0x100000 + id, "", "A320", 1000.0));
    for (LiveAc& ac : g_liveAc) ac.status = kAcCreationQueued;  // past the spawn decision
    g_liveAc[1].eraseRequested = true;
    g_aircraftUpdates.write().resize(2);
    lf_updateAllLiveAc();
    ASSERT_EQ(g_liveAc.size(), 2u);
    EXPECT_EQ(g_liveAc[0].hexId, 0x100001u);
    EXPECT_EQ(g_liveAc[1].hexId, 0x100003u);
    {
        std::lock_guard lock(g_simQueueMutex);
        EXPECT_EQ(g_aircraftUpdates.read().size(), 2u);
        EXPECT_TRUE(g_aircraftUpdates.write().empty());
    }

    // The frame handler holds the buffer and the simulator is slow: this tick's positions are dropped rather
    // than waited for.
    g_simFrameRate = 30.0f;
    g_aircraftUpdates.write().resize(3);
    std::promise<void> held, release;
    std::thread frameHandler([&] {
        std::lock_guard lock(g_simQueueMutex);
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    lf_updateAllLiveAc();
    release.set_value();
    frameHandler.join();
    std::lock_guard lock(g_simQueueMutex);
    EXPECT_EQ(g_aircraftUpdates.read().size(), 2u);
    EXPECT_TRUE(g_aircraftUpdates.write().empty());
}

}  // namespace
