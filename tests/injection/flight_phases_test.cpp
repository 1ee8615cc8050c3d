#include "injection/flight_phases.h"

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/log.h"
#include "injection/ai_update.h"
#include "injection/aircraft_lists.h"
#include "injection/intake.h"
#include "injection/removal.h"
#include "injection/sim_messages.h"
#include "recording_sink.h"
#include "simlink/link.h"
#include "support/test_support.h"

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;
constexpr std::uint32_t kObject = 101;

TrackPoint point(std::int32_t playTick, bool airborne, double alt, double speed, double vs = 0.0) {
    TrackPoint p;
    p.lat = 47.45 + playTick * 1e-6;
    p.lon = 8.56;
    p.playTick = playTick;
    p.airborne = airborne;
    p.alt = alt;
    p.speed = p.tas = speed;
    p.vs = vs;
    return p;
}

LiveAc aircraft(ModelCategory category, std::vector<TrackPoint> points, std::uint32_t objectId = kObject) {
    LiveAc a;
    a.hexId = 0x4b1000 + objectId;
    a.callsign = "SWR100";
    a.category = category;
    a.status = kAcInSim;
    a.objectId = objectId;
    a.onGround = !points.front().airborne;
    a.state = a.onGround ? kMoveFollowing : kMoveAirborne;
    a.altitude = points.front().alt;
    a.track.assign(points.begin(), points.end());
    a.rotationTicks = 250;
    a.rotationPitch = -5.0 * kRadPerDeg;
    a.climbPitch = -12.5 * kRadPerDeg;
    a.climbTicks = 400;
    a.derotationTicks = 350;
    a.flareTicks = 400;
    a.staticCgHeight = 30.0;
    return a;
}

class FlightPhases : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        gf_resetLinkState();
        gf_setAiTick(0);
        gf_openLog(m_dir / "Log.txt");
        m_sink.clear();
    }
    void TearDown() override {
        gf_closeLog();
        lf_clearAiLists();
        gf_resetLinkState();
    }
    static void report(std::uint32_t objectId, bool onGround, double groundAlt = 0.0, double height = 0.0) {
        gf_postSimMessage(SimMessage{objectId, onGround ? 1u : 0u, 0, kSimMsgAircraftReport, groundAlt, height});
        gf_SimCommands();
    }

    testing_support::TempDir m_dir;
    RecordingSink m_sink;
};

TEST_F(FlightPhases, ThePitchFollowsTheVerticalSpeedWithinTheCategorysRate) {
    struct Case {
        double vs;
        std::int32_t legTicks;
        double pitchStepDeg;  // per tick, from a level attitude
    };
    const Case cases[] = {
        {3000.0, 6000, -11.8 / 6000},  // pitched as 2400 ft/min
        {-4000.0, 6000, 2.5 / 6000},   // pitched as half of -3000 ft/min
        {0.0, 6000, -3.0 / 6000},
        {3000.0, 100, -0.0075},  // a Large pitches at most 0.0075 degrees a tick
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vs);
        LiveAc a = aircraft(kCatLarge, {point(0, true, 20000, 300), point(c.legTicks, true, 20000, 300, c.vs)});
        lf_airVerticalProfile(a);
        EXPECT_NEAR(a.pitchStep / kRadPerDeg, c.pitchStepDeg, 1e-9);
    }
}

TEST_F(FlightPhases, AnAirborneTurnKeepsWithinTheCategorysTurnRate) {
    struct Case {
        double turnDeg;
        double headingStepDeg;  // per tick, over a leg of 200 ticks
    };
    // A Large turns at most 0.045 degrees a tick.
    for (const Case& c : {Case{5.0, 0.025}, Case{-54.0, -0.045}}) {
        SCOPED_TRACE(c.turnDeg);
        LiveAc a = aircraft(kCatLarge, {point(0, true, 1800, 120), point(200, true, 1800, 120)});
        a.heightAboveGround = 376.0;
        TrackPoint& second = a.track[1];
        second.attitudeGiven = second.bankGiven = second.headingGiven = true;
        second.heading = (180.0 + c.turnDeg) * kRadPerDeg;
        a.heading = 180.0 * kRadPerDeg;
        lf_airVerticalProfile(a);
        EXPECT_NEAR(a.headingStep / kRadPerDeg, c.headingStepDeg, 1e-9);
    }
}

TEST_F(FlightPhases, LowOverTheGroundOnlyAClimbKeepsAMinimumRate) {
    struct Case {
        const char* name;
        double height, secondAlt, secondVs;
        double altitudeStep;  // ft per tick over a leg of 1000 ticks from 1000 ft
    };
    const Case cases[] = {
        {"a slow climb low down", 600.0, 1050.0, 300.0, 0.2},
        {"a steep climb within the category's step", 600.0, 2000.0, 3000.0, 0.6},
        {"level low down", 600.0, 1000.0, 0.0, 0.0},
        {"a descent low down", 600.0, 900.0, -600.0, -0.1},
        {"a slow climb higher up", 1500.0, 1050.0, 300.0, 0.05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveAc a = aircraft(kCatLarge, {point(0, true, 1000, 160), point(1000, true, c.secondAlt, 160, c.secondVs)});
        a.heightAboveGround = c.height;
        a.climbAltitudeStep = 0.6;
        lf_airAltitudeRate(a);
        EXPECT_NEAR(a.altitudeStep, c.altitudeStep, 1e-12);
    }
}

TEST_F(FlightPhases, AnAirborneLegDivesNoFasterThanItsPointsReportAndClimbsWithinTheStep) {
    struct Case {
        const char* name;
        double secondAlt, vs;
        bool approach;
        double altitudeStep;  // ft per tick over a leg of 500 ticks from 14,400 ft
    };
    const Case cases[] = {
        {"a bad altitude far below a climbing aircraft", 7275.0, 512.0, false, -0.25},  // 1500 ft/min
        {"a reported steep descent is followed", 14100.0, -3000.0, false, -0.6},
        {"a bad altitude on the approach", 7275.0, -700.0, true, -0.25},
        {"a climb on the approach", 15400.0, 1000.0, true, 0.6},
        {"a point above that reports a descent holds the height", 14800.0, -960.0, false, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveAc a = aircraft(kCatLarge, {point(0, true, 14400, 250, c.vs), point(500, true, c.secondAlt, 250, c.vs)});
        a.heightAboveGround = 13000.0;
        a.climbAltitudeStep = 0.6;
        a.approach = c.approach;
        lf_airAltitudeRate(a);
        EXPECT_NEAR(a.altitudeStep, c.altitudeStep, 1e-12);
    }
}

TEST_F(FlightPhases, AHeavyRotatesOnlyWhenEveryLaterPointIsAirborneAtItsRotationSpeed) {
    struct Case {
        const char* name;
        std::vector<TrackPoint> ahead;
        bool rotates;
        double rollKt = 155.0;  // the speed it rolls at
    };
    const Case cases[] = {
        {"one later point at 149 kt", {point(300, true, 100, 160), point(600, true, 300, 149)}, false},
        {"all at 150 kt or more", {point(300, true, 100, 150), point(600, true, 300, 160)}, true},
        {"one still on the ground", {point(300, false, 0, 160), point(600, true, 300, 170)}, false},
        {"all climbing faster than 256 ft/min", {point(300, true, 100, 120, 500), point(600, true, 300, 130, 900)},
         true},
        {"its data in the air while it rolls at its rotation speed", {point(300, true, 100, 160), point(600, true, 300, 170)},
         false, 150.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TrackPoint> points{point(0, false, 0, 120)};
        points.insert(points.end(), c.ahead.begin(), c.ahead.end());
        LiveAc a = aircraft(kCatHeavy, points);
        a.takeOffRoll = true;
        a.groundSpeedKt = c.rollKt;
        lf_takeOff(a);
        EXPECT_EQ(a.state == kMoveTakeOff, c.rotates);
        EXPECT_EQ(a.rateTicks, c.rotates ? 250 : 1);
    }
}

TEST_F(FlightPhases, TheClimbRampsUpAfterTheRotationAndTheGearComesUpAfter300Ticks) {
    LiveAc a = aircraft(kCatHeavy, {point(0, false, 0, 160), point(300, true, 100, 170)});
    a.takeOffRoll = true;
    a.heightAboveGround = 100.0;
    a.altitudeStep = 0.5;  // the take-off leg's climb rate
    lf_rotate(a);
    for (int i = 0; i < 250; ++i) lf_climb(a);  // the rotation ends with the 250th tick
    EXPECT_EQ(a.altitude, 0.0);
    const std::string gearUp = "event 101 220 0";
    const std::vector<std::pair<int, double>> shares{{1, 0.1},   {99, 0.1},  {100, 0.2}, {199, 0.2},
                                                     {200, 0.5}, {299, 0.5}, {300, 1.0}, {301, 1.0}};
    int tick = 0;
    for (const auto& [after, share] : shares) {
        SCOPED_TRACE(after);
        while (tick < after - 1) {
            lf_climb(a);
            ++tick;
        }
        EXPECT_EQ(m_sink.with(gearUp).size(), after > 300 ? 1u : 0u);
        const double before = a.altitude;
        lf_climb(a);
        ++tick;
        EXPECT_NEAR(a.altitude - before, 0.5 * share, 1e-12);
        EXPECT_EQ(m_sink.with(gearUp).size(), after >= 300 ? 1u : 0u);
    }
    EXPECT_EQ(a.state, kMoveTakeOff);  // below 800 ft it keeps climbing in the take-off state
    EXPECT_LT(a.rateTicks, -300);  // the counter runs on below 0
}

TEST_F(FlightPhases, ALegPlannedDuringTheClimbRampLeavesTheGearToTheRamp) {
    const std::string gearUp = "event 101 220 0";
    for (const double frontAlt : {1800.0, 38000.0}) {  // the climb set-up low down, the one above 10,000 ft
        SCOPED_TRACE(frontAlt);
        m_sink.clear();
        LiveAc a = aircraft(kCatHeavy, {point(0, true, frontAlt, 170, 1500), point(500, true, frontAlt, 180, 1500)});
        a.state = kMoveTakeOff;
        a.heightAboveGround = 100.0;
        a.rateTicks = -115;
        lf_airVerticalProfile(a);
        EXPECT_TRUE(m_sink.with(gearUp).empty());
        a.rateTicks = -300;  // the ramp raised the gear
        lf_airVerticalProfile(a);
        EXPECT_EQ(m_sink.with(gearUp).size(), 1u);
    }
}

TEST_F(FlightPhases, AReportPinsAnAircraftToTheGroundOnlyOnTheGroundOrWhileRotating) {
    struct Case {
        const char* name;
        bool onGround;
        std::uint32_t state;
        std::int32_t rateTicks;
        bool pinned;
    };
    const Case cases[] = {
        {"on the ground", true, kMoveFollowing, 1, true},
        {"rotating", false, kMoveTakeOff, 100, true},
        {"climbing after the rotation", false, kMoveTakeOff, -50, false},
        {"airborne with a rate running", false, kMoveAirborne, 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        LiveAc& a = g_liveAc.emplace_back(aircraft(kCatLarge, {point(0, true, 520, 160), point(300, true, 600, 170)}));
        a.onGround = c.onGround;
        a.state = c.state;
        a.rateTicks = c.rateTicks;
        a.altitudeStep = 0.6;
        report(kObject, true, 500.0, 20.0);
        EXPECT_EQ(g_liveAc[0].altitude, c.pinned ? 530.0 : 520.0);
        EXPECT_EQ(g_liveAc[0].heightAboveGround, 20.0);
        // A climb touched by such a report goes on.
        if (c.state == kMoveTakeOff && c.rateTicks < 1) {
            EXPECT_EQ(g_liveAc[0].altitudeStep, 0.6);
        }
    }
}

TEST_F(FlightPhases, TheFlareStagesFollowAtThirtyTwentyTenAndThreeFeetAboveTheStaticCgHeight) {
    struct Step {
        double height;
        std::uint32_t stage;
        double altitudeStep, frontVs;
    };
    const Step steps[] = {
        {61.0, 0, 0.0, -700.0},    {60.0, 1, -0.1, -601.0},   {51.0, 1, -0.1, -601.0},
        {50.0, 2, -0.075, -450.0}, {40.0, 3, -0.05, -300.0},  {34.0, 3, -0.05, -300.0},
        {33.0, 4, -0.025, -150.0}, {10.0, 4, -0.025, -150.0},
    };
    LiveAc a = aircraft(kCatLarge, {point(0, true, 460, 140, -700), point(300, false, 0, 130)});
    a.approach = true;
    a.throttleState = 1;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.height);
        a.heightAboveGround = s.height;
        lf_flare(a);
        EXPECT_EQ(a.flareStage, s.stage);
        EXPECT_EQ(a.altitudeStep, s.altitudeStep);
        EXPECT_EQ(a.track.front().vs, s.frontVs);
    }
    EXPECT_EQ(m_sink.with("event 101 223").size(), 1u);  // idle from 10 ft on
    EXPECT_NEAR(a.pitchStep, (-4.0 * kRadPerDeg) / 400.0, 1e-12);
}

TEST_F(FlightPhases, ATouchdownSetsSpoilersAndThrustExceptOnALightAircraft) {
    struct Case {
        ModelCategory category;
        bool fsltl;
        std::vector<std::string> engine;
    };
    const Case cases[] = {
        {kCatLight, false, {}},
        {kCatLarge, false, {"engine 101 100 100 100"}},
        {kCatLarge, true, {"engine 101 100 -100 -100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.category);
        SetUp();
        LiveAc& a = g_liveAc.emplace_back(aircraft(c.category, {point(0, true, 500, 130), point(300, false, 0, 120)}));
        a.approach = true;
        a.flareStage = 4;
        a.fsltlTitle = c.fsltl;
        report(kObject, true, 470.0, 0.0);
        const LiveAc& b = g_liveAc[0];
        EXPECT_TRUE(b.onGround && b.braking && b.derotating && b.landed && !b.approach);
        EXPECT_EQ(m_sink.with("engine"), c.engine);
        EXPECT_EQ(m_sink.with("event 101 219 16383").size(), 1u);
    }
}

TEST_F(FlightPhases, LeavingTheRunwayAxisBy15DegreesEndsBrakingWithTheTaxiLights) {
    struct Case {
        double offDeg;
        bool vacated;
    };
    for (const Case& c : {Case{14.9, false}, Case{-15.001, true}, Case{40.0, true}}) {
        SCOPED_TRACE(c.offDeg);
        m_sink.clear();
        LiveAc a = aircraft(kCatLarge, {point(0, false, 0, 100), point(300, false, 0, 95)});
        a.braking = true;
        a.flapsState = 3;
        a.runwayHeading = 2.0;
        a.heading = 2.0 + c.offDeg * kRadPerDeg;
        lf_landingRoll(a);
        EXPECT_EQ(a.braking, !c.vacated);
        // Flaps up, idle, spoilers in, no thrust data, then NAV BEACON LANDING TAXI STROBES LOGO CABIN.
        std::string sent;
        for (const std::string& l : m_sink.lines) sent += l.substr(l.find(' ', l.find(' ') + 1) + 1) + ",";
        EXPECT_EQ(sent, c.vacated ? "218 0,223 0,219 0,0 0 0,208 1,207 1,211 0,209 1,210 0,213 1,212 1," : "");
    }
}

TEST_F(FlightPhases, TheFastRangeRequestsLastWhileAnyAircraftStillFlares) {
    enum class End { touchdown, removal, erasure, none };
    struct Case {
        const char* name;
        End other;  // what happens to the second flaring aircraft
        std::size_t requests;  // over ticks 1 to 100
    };
    const Case cases[] = {
        {"one of two touched down", End::none, 5},
        {"both touched down", End::touchdown, 1},
        {"the other removed mid-flare", End::removal, 1},
        {"the other's record erased mid-flare", End::erasure, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (std::uint32_t id : {kObject, kObject + 1}) {
            LiveAc& a = g_liveAc.emplace_back(aircraft(kCatLarge, {point(100000, true, 50, 130)}, id));
            a.status = kAcCreationQueued;  // left alone by the movement of the tick
            a.approach = true;
            a.heightAboveGround = 55.0;
            lf_flare(a);
            ASSERT_EQ(a.flareStage, 1u);
        }
        report(kObject, true);
        if (c.other == End::touchdown) report(kObject + 1, true);
        if (c.other == End::removal) removeAircraftFromSim(g_liveAc[1]);
        if (c.other == End::erasure) lf_eraseLiveAc(g_liveAc[1]);
        m_sink.clear();
        gf_setAiTick(1);
        gf_runAiTicks(100);
        EXPECT_EQ(m_sink.with("range").size(), c.requests);
    }
}

}  // namespace

namespace {

// Climbing through 10,000 ft turns the landing lights off; coming down through it turns them on again, each
// crossing once.
TEST_F(FlightPhases, LandingLightsFollowEveryCrossingOf10000Feet) {
    LiveAc a = aircraft(kCatLarge, {point(0, true, 9000, 250)});
    a.heightAboveGround = 8000.0;
    std::string landing;
    for (const double alt : {9000.0, 9500.0, 11000.0, 12000.0, 9000.0, 8000.0, 10500.0, 9900.0}) {
        a.track.assign({point(0, true, alt, 250), point(200, true, alt, 250)});
        m_sink.clear();
        lf_airVerticalProfile(a);
        for (const std::string& l : m_sink.with("event 101 211 ")) landing += l.substr(l.size() - 1);
        landing += ",";
    }
    EXPECT_EQ(landing, "1,,0,,1,,0,1,");
}

}  // namespace

namespace {

// Down to a point on the ground the descent keeps the limit of the air legs: a ground report high above the
// field is not dived to.
TEST_F(FlightPhases, TheDescentToAGroundPointKeepsTheDescentLimit) {
    static constexpr double kField = 1416.0;
    g_parkAirportElevationFt = [] { return std::optional<double>(kField); };
    g_activeParkAirportPosition = [] { return std::optional<GeoPosition>(GeoPosition{47.45, 8.56}); };
    struct Case {
        double heightFt;
        double fpm;
    };
    for (const Case& c : {Case{1100.0, -1500.0}, Case{20.0, -600.0}}) {
        SCOPED_TRACE(c.heightFt);
        LiveAc a = aircraft(kCatLarge, {point(0, true, kField + c.heightFt, 140, -960), point(200, false, 0, 140)});
        a.latitude = 47.45;
        a.longitude = 8.56;
        lf_airVerticalProfile(a);
        EXPECT_NEAR(a.altitudeStep * 6000.0, c.fpm, 1e-6);
    }
    g_parkAirportElevationFt = nullptr;
    g_activeParkAirportPosition = nullptr;
}

}  // namespace
