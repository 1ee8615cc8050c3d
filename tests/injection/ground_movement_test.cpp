#include "injection/ground_movement.h"

#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "injection/ai_update.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/geodesy.h"
#include "injection/movement.h"
#include "injection/stand_hooks.h"
#include "recording_sink.h"
#include "simlink/link.h"
#include "support/test_support.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDeg = kPi / 180.0;
constexpr double kLat = 47.45, kLon = 8.56;
constexpr std::uint32_t kObject = 101;
constexpr std::int32_t kNow = 1000;
constexpr double kHalfSpan = 0.0097;  // nm, 18 m

double deg(double rad) { return rad / kRadPerDeg; }

// A ground point `north` and `east` metres from the reference position.
TrackPoint point(double north, double east, std::int32_t playTick, double speed = 15.0) {
    TrackPoint p;
    p.lat = kLat + north / 111132.95;
    p.lon = kLon + east / (111132.95 * std::cos(kLat * kRadPerDeg));
    p.playTick = playTick;
    p.speed = speed;
    return p;
}

// The point `metres` from `from` along the bearing (degrees).
TrackPoint pointFrom(const TrackPoint& from, double bearingDeg, double metres, std::int32_t playTick) {
    TrackPoint p = from;
    const GeoPosition to = gf_destinationPoint(from.lat, from.lon, bearingDeg * kRadPerDeg, metres / 0.3048);
    p.lat = to.latitude;
    p.lon = to.longitude;
    p.playTick = playTick;
    return p;
}

// A Large taxiing in the simulator, standing at the first of its points and heading north.
LiveAc taxiing(std::vector<TrackPoint> points) {
    LiveAc a;
    a.hexId = 0x4b1234;
    a.callsign = "SWR100";
    a.status = kAcInSim;
    a.objectId = kObject;
    a.onGround = true;
    a.state = a.previousState = kMoveFollowing;
    gf_applyLiveTables(a);  // a Large's turn rate, taxi speeds and accelerations
    a.halfSpan = kHalfSpan;
    a.latitude = points.front().lat;
    a.longitude = points.front().lon;
    a.track.assign(points.begin(), points.end());
    return a;
}

bool curveSet(const LiveAc& a) { return !std::isnan(a.groundCurve.controlNorth); }

class GroundMovement : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        gf_resetLinkState();
        gf_setAiTick(kNow);
        gf_openLog(m_dir / "Log.txt");
        g_standHooks = StandHooks{};
        g_STRAIGHT_PBS_ONLY.set(false);
        g_LOG.set(false);
    }
    void TearDown() override {
        gf_closeLog();
        g_standHooks = StandHooks{};
        g_STRAIGHT_PBS_ONLY.reset();
        g_LOG.reset();
        lf_clearAiLists();
        gf_resetLinkState();
    }

    testing_support::TempDir m_dir;
    RecordingSink m_sink;
};

TEST_F(GroundMovement, CornersBecomeCurvesThroughTheMiddlePoint) {
    struct Case {
        const char* name;
        double bearingDeg;  // of the leg after the corner; the aircraft heads north
        bool curve;
    };
    const Case cases[] = {
        {"right angle to the right", 90.0, true},
        {"right angle to the left", 270.0, true},
        {"150 degrees to the left", 210.0, true},
        {"more than 160 degrees", 175.0, false},
        {"hardly a corner", 2.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TrackPoint a0 = point(0, 0, kNow);
        const TrackPoint b = point(100, 0, kNow + 300);
        const TrackPoint third = pointFrom(b, c.bearingDeg, 100, kNow + 600);
        LiveAc a = taxiing({a0, b, third});
        a.targetHeading = 0.0;
        nextPosGround(a);
        EXPECT_EQ(curveSet(a), c.curve);
        if (!c.curve) {
            EXPECT_EQ(a.track.size(), 3u);
            continue;
        }
        // The middle point is the control point and no longer part of the track.
        ASSERT_EQ(a.track.size(), 2u);
        EXPECT_EQ(a.track[1].lat, third.lat);
        EXPECT_NEAR(a.groundCurve.controlNorth, 100.0, 1e-6);
        EXPECT_NEAR(a.groundCurve.controlEast, 0.0, 1e-6);
        EXPECT_NEAR(a.curveTurnDeg, std::abs(deg(gf_angleDiff(0.0, c.bearingDeg * kRadPerDeg))), 1e-6);
        EXPECT_FALSE(a.turning);
    }
}

TEST_F(GroundMovement, TurnsGoTheShortWayAndStopAtTheirTarget) {
    LiveAc a = taxiing({point(0, 0, kNow), point(100, 0, kNow + 300)});
    a.heading = 350 * kRadPerDeg;
    a.targetHeading = 10 * kRadPerDeg;
    nextPosGround(a);
    EXPECT_NEAR(a.turnRemainingDeg, 20.0, 1e-9);
    ASSERT_TRUE(a.turning);
    a.turnRate = 30 * kRadPerDeg;  // more than is left to turn
    a.groundSpeedKt = 20.0;        // the nose turns only as the aircraft rolls
    for (int tick = 0; tick < 100; ++tick) {
        lf_followCurve(a);
        const double deg = std::fmod(a.heading / kRadPerDeg + 360.0, 360.0);
        ASSERT_TRUE(deg >= 350.0 - 1e-9 || deg <= 10.0 + 1e-9) << deg;
    }
    EXPECT_NEAR(a.heading, 10 * kRadPerDeg, 1e-12);
}

// Standing with its nose north, an aircraft whose next point lies 30 m to the east, 100 s on, creeps there at
// half a knot: its nose comes round only as it rolls, not on the spot (45 degrees on less than 2 m of way).
TEST_F(GroundMovement, ACreepOntoALegOffTheNoseTurnsOnlyAsItRolls) {
    LiveAc a = taxiing({point(0, 0, kNow, 0.0), point(0, 30, kNow + 10000, 0.6)});
    a.heading = 0.0;
    double rolledM = 0.0;
    for (std::int32_t tick = kNow; tick < kNow + 10000 && deg(a.heading) < 45.0; ++tick) {
        gf_setAiTick(tick);
        const double lat = a.latitude, lon = a.longitude;
        updateLiveAc(a);
        rolledM += gf_distanceNM(lat, lon, a.latitude, a.longitude) * 1852.0;
    }
    EXPECT_GE(deg(a.heading), 45.0);
    EXPECT_GE(rolledM, 2.0);
}

TEST_F(GroundMovement, TurnRateScalesWithTheTurn) {
    struct Case {
        const char* name;
        double turnDeg;
        bool viaCurve;
        double legMetres, speed;
        double rateDeg;  // expected turn rate, degrees per tick
        bool wideWindows;
        std::int32_t receivedTicks;  // the second point's time, from now
    };
    const Case cases[] = {
        // 1944 ticks over 246 rate steps; slowed by the 30 m per ratio step the leg allows.
        {"30 degrees on 100 m at 10 kt is slowed", 30, false, 100, 10, 0.029524, false, 1944},
        {"30 degrees through a curve alike", 30, true, 100, 10, 0.029524, false, 1944},
        // 1944 ticks over 982 steps: sped up by that ratio, under the cap of 3.
        {"120 degrees on 100 m at 10 kt is sped up", 120, false, 100, 10, 0.07 * 1944.0 / 982.0, true, 1944},
        {"120 degrees on a long slow leg: three times", 120, false, 300, 5, 0.21, true, 11663},
        // 1490 ticks over 229 steps, but 2.3 km of leg: never more than three times either.
        {"28 degrees on a long fast leg: at most three times", 28, false, 2300, 300, 0.21, false, 1490},
        {"no turn keeps the base rate", 0, false, 100, 10, 0.07, false, 1944},
        // Towards a point reported at a creep: the leg speed says 12 minutes, the timing windows 26 s; the turn is
        // done within those 26 s (2600 ticks over 164 steps, slowed by 10 / 20 degrees), not in 12 minutes.
        {"20 degrees on a leg the windows cut short", 20, false, 55, 0.15, 0.07 / (2600.0 / 164.0 * 10.0 / 20.0), false,
         2600 - 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveAc a = taxiing({point(0, 0, kNow, c.speed), point(c.legMetres, 0, kNow + c.receivedTicks, c.speed)});
        a.turnRate = 1.0;  // whatever the last leg left
        if (c.viaCurve) {
            a.groundCurve.controlNorth = a.groundCurve.controlEast = 1.0;
            a.curveTurnDeg = c.turnDeg;
        } else {
            a.turning = c.turnDeg > 0;
            a.turnRemainingDeg = c.turnDeg;
        }
        adjustTimeGround(a);
        EXPECT_NEAR(deg(a.turnRate), c.rateDeg, 1e-5);
        EXPECT_EQ(a.maxAdvanceTicks >= 2000 && a.maxDelayTicks >= 2000, c.wideWindows);
    }
}

TEST_F(GroundMovement, TheTaxiToTheStandEndsWithAStop) {
    struct Case {
        const char* name;
        double standMetres;  // north of the last point
        std::int32_t ticks;
    };
    const Case cases[] = {
        {"a stand close by still takes a second", 1, 100},
        // 200 m at 4 kt.
        {"a stand 200 m away at taxi speed", 200, static_cast<std::int32_t>(std::lround(
                                                      200.0 / 111132.95 * 60.0 * 360000.0 / 4.0))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveAc a = taxiing({point(0, 0, kNow, 0.0)});
        a.extendSteps = 4;
        const TrackPoint stand = point(c.standMetres, 0, 0);
        // The stand points along the way in: nothing to turn on it.
        drive2Stand(a, stand.lat, stand.lon, 0.0);
        // From farther away, through a lead-in on the stand's axis.
        const std::size_t n = c.standMetres > 60 ? 4u : 3u;
        ASSERT_EQ(a.track.size(), n);
        EXPECT_EQ(a.track[0].speed, 4.0);
        const TrackPoint& at = a.track[n - 2];
        const TrackPoint& stop = a.track[n - 1];
        EXPECT_NEAR(at.playTick, kNow + c.ticks, 1);
        EXPECT_FALSE(at.stopped);
        EXPECT_EQ(at.speed, 4.0);
        EXPECT_NEAR(at.track, 0.0, 1e-9);
        EXPECT_EQ(stop.playTick, at.playTick + 50);
        EXPECT_TRUE(stop.stopped);
        EXPECT_EQ(stop.speed, 0.0);
        EXPECT_EQ(stop.lat, stand.lat);
        EXPECT_NEAR(a.targetHeading, 0.0, 1e-9);
        EXPECT_EQ(a.extendSteps, 0);
    }
}

// A stand 90 m off, 45 degrees off the way in, pointing elsewhere: the aircraft turns onto the stand's heading
// through the lead-in (pointing back past the way in, 270, on its way in without one) and arrives on it with that
// heading; within the last 2 m it turns less than 45 degrees (no turn on the spot).
TEST_F(GroundMovement, TheTaxiToTheStandEndsOnTheStandHeading) {
    for (const double standDeg : {0.0, 90.0, 135.0, 350.0, 270.0}) {
        SCOPED_TRACE(standDeg);
        LiveAc a = taxiing({point(0, 0, kNow, 0.0)});
        a.heading = 0.0;
        const TrackPoint stand = pointFrom(a.track.front(), 45, 90, 0);
        a.standIndex = 3;
        a.standLat = stand.lat;
        a.standLon = stand.lon;
        a.standHeading = standDeg * kRadPerDeg;
        a.state = kMoveToStand;
        drive2Stand(a, stand.lat, stand.lon, a.standHeading);
        std::optional<double> headingNear;
        for (std::int32_t tick = kNow; tick < kNow + 30000 && a.state == kMoveToStand; ++tick) {
            gf_setAiTick(tick);
            updateLiveAc(a);
            if (!headingNear && gf_distanceNM(a.latitude, a.longitude, stand.lat, stand.lon) * 1852.0 < 2.0)
                headingNear = a.heading;
        }
        ASSERT_EQ(a.state, kMoveParked);
        ASSERT_TRUE(headingNear);
        EXPECT_LT(std::abs(deg(gf_angleDiff(*headingNear, a.heading))), 45.0);
        EXPECT_LT(gf_distanceNM(a.latitude, a.longitude, stand.lat, stand.lon) * 1852.0, 2.0);
        EXPECT_LT(std::abs(deg(gf_angleDiff(a.heading, a.standHeading))), 1.0) << deg(a.heading);
    }
}

// A Large parked at its stand heading north, whose received data moved off along `bearingDeg`.
LiveAc parkedLeaving(double bearingDeg) {
    LiveAc a = taxiing({point(0, 0, kNow, 0.0)});
    a.track.front().stopped = true;
    a.track.push_back(pointFrom(a.track.front(), bearingDeg, 40, kNow + 500));
    a.state = kMoveParked;
    a.leaveStand = true;
    a.standIndex = 7;
    a.standLat = a.latitude;
    a.standLon = a.longitude;
    a.standHeading = 0.0;
    a.heading = 0.0;
    a.turning = true;  // left over from the turn onto the stand
    a.throttleState = 5;
    a.flapsState = 4;
    return a;
}

TEST_F(GroundMovement, AParkedAircraftPullsOutOrIsPushedBack) {
    struct Case {
        const char* name;
        double bearingDeg;
        std::optional<double> standRadiusNm;
        std::uint32_t state;
        double distanceNm, awayDeg;  // of the target (P1 for a push-back) from the stand
    };
    const Case cases[] = {
        {"60 degrees: forward", 60, std::nullopt, kMoveFollowing, 2 * kHalfSpan, 0},
        {"-60 degrees: forward", 300, std::nullopt, kMoveFollowing, 2 * kHalfSpan, 0},
        {"120 degrees: push-back by the stand's radius", 120, 0.02, kMoveAfterPushback, 2.5 * 0.02, 180},
        {"120 degrees: push-back by the half span", 240, std::nullopt, kMoveAfterPushback, 2.5 * kHalfSpan, 180},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_sink.clear();
        const std::optional<double> radius = c.standRadiusNm;
        g_standHooks.radius = [radius](std::uint32_t) { return radius; };
        LiveAc a = parkedLeaving(c.bearingDeg);
        nextPosGround(a);
        EXPECT_EQ(a.state, c.state);
        EXPECT_EQ(a.previousState, kMoveParked);
        const bool pushBack = c.state == kMoveAfterPushback;
        if (!pushBack) {
            EXPECT_FALSE(a.leaveStand);
        }
        // The target is the last point of a pull-out; a push-back ends with a side point after it.
        ASSERT_GE(a.track.size(), pushBack ? 3u : 2u);
        const TrackPoint& target = a.track[a.track.size() - (pushBack ? 2 : 1)];
        EXPECT_NEAR(gf_distanceNM(a.standLat, a.standLon, target.lat, target.lon), c.distanceNm, 1e-9);
        EXPECT_NEAR(deg(gf_initialBearing(a.standLat, a.standLon, target.lat, target.lon)), c.awayDeg, 1e-6);
        EXPECT_EQ(target.speed, 4.0);
        EXPECT_EQ(a.targetHeading, a.heading);
        const std::vector<std::string> taxiLights = {"event 101 208 1", "event 101 207 1", "event 101 211 0",
                                                     "event 101 209 1", "event 101 210 0", "event 101 213 1",
                                                     "event 101 212 0"};
        ASSERT_GE(m_sink.lines.size(), 7u);
        EXPECT_EQ(std::vector<std::string>(m_sink.lines.begin(), m_sink.lines.begin() + 7), taxiLights);
        // Engines start at once on a pull-out, at the end of a push-back.
        EXPECT_EQ(m_sink.with("event 101 221").size(), pushBack ? 0u : 1u);
        if (pushBack) {
            EXPECT_EQ(a.standExitTicks, 2u);
            EXPECT_FALSE(a.turning);
            // The side points lie a half span either side of P1.
            const TrackPoint& side = a.track.back();
            EXPECT_NEAR(gf_distanceNM(target.lat, target.lon, side.lat, side.lon), kHalfSpan, 1e-9);
            EXPECT_NEAR(deg(gf_initialBearing(target.lat, target.lon, side.lat, side.lon)), 90, 1e-6);
            const TrackPoint& alt = a.pushbackAltPoint;
            EXPECT_NEAR(deg(gf_initialBearing(target.lat, target.lon, alt.lat, alt.lon)), 270, 1e-6);
        }
    }
}

TEST_F(GroundMovement, APushBackEndsWithAQuarterTurnToTheSideShown) {
    struct Case {
        const char* name;
        bool sideKnown, toAlt, straightOnly;
        double turnToDeg;  // bearing of the turn's end from P1; negative: straight back
    };
    const Case cases[] = {
        {"tail swung to the one side", true, false, false, 90},
        {"tail swung to the other side", true, true, false, 270},
        {"no heading received: straight", false, false, false, -1},
        {"straight push-backs only", true, true, true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_STRAIGHT_PBS_ONLY.set(c.straightOnly);
        m_sink.clear();
        // Half way back from a stand heading north, P1 40 m south, the side points either side of it.
        const TrackPoint mid = point(-20, 0, kNow);
        const TrackPoint p1 = point(-40, 0, kNow + 400);
        LiveAc a = taxiing({mid, p1, pointFrom(p1, 90, 18, kNow + 700)});
        a.pushbackAltPoint = pointFrom(p1, 270, 18, kNow + 700);
        a.state = kMoveAfterPushback;
        a.standExitTicks = 2;
        a.pushbackSideKnown = c.sideKnown;
        a.pushbackToAlt = c.toAlt;
        nextPosGround(a);
        ASSERT_EQ(a.track.size(), 2u);
        EXPECT_EQ(a.standExitTicks, 1u);
        if (c.turnToDeg < 0) {
            EXPECT_FALSE(curveSet(a));
            EXPECT_EQ(a.track[1].lat, p1.lat);
        } else {
            ASSERT_TRUE(curveSet(a));
            EXPECT_EQ(a.curveTurnDeg, 90.0);
            // 90 degrees at the base rate of 0.07 degrees a tick: 737 rate steps.
            EXPECT_DOUBLE_EQ(a.curveParamStep, 1.0 / 737);
            EXPECT_NEAR(a.groundCurve.controlNorth, -20.0, 1e-6);
            const TrackPoint& end = a.track[1];
            EXPECT_NEAR(deg(gf_initialBearing(p1.lat, p1.lon, end.lat, end.lon)), c.turnToDeg, 1e-6);
            // Driven backwards: the nose points against the curve.
            a.heading = 0.0;
            a.turnRate = 1.0;
            a.curveParamStep = 0.001;
            lf_followCurve(a);
            EXPECT_NEAR(a.heading, 0.0, 1e-3);
        }
        EXPECT_TRUE(m_sink.with("event 101 221").empty());
        // At the end of the push-back the engines start and the aircraft waits for its data to move away.
        nextPosGround(a);
        EXPECT_EQ(a.state, kMoveEnginesStarted);
        EXPECT_EQ(a.departureDistanceRef, 900.0);
        EXPECT_EQ(m_sink.with("event 101 221").size(), 1u);
    }
}

// An aircraft that stopped a metre or two beside its stand, its nose nearly on the stand's heading: it parks
// there without circling round to the stand's point (a full turn on the spot), its nose coming onto the stand's
// heading as it rolls onto the spot.
TEST_F(GroundMovement, AStandBesideTheNoseIsReachedWithoutCirclingToIt) {
    struct Case {
        double bearingDeg, metres, standDeg;
    };
    // The last: already on its stand, pointing 90 degrees off it: it parks as it stands, nothing turns in place.
    const Case cases[] = {{140, 1.5, 106}, {230, 1.5, 106}, {320, 1.5, 106}, {45, 1.5, 106}, {0, 0, 192}};
    for (const auto& [bearingDeg, metres, standDeg] : cases) {
        SCOPED_TRACE(bearingDeg);
        LiveAc a = taxiing({point(0, 0, kNow, 0.0)});
        a.heading = 102.0 * kRadPerDeg;
        const TrackPoint stand = pointFrom(a.track.front(), bearingDeg, metres, 0);
        a.standIndex = 3;
        a.standLat = stand.lat;
        a.standLon = stand.lon;
        a.standHeading = standDeg * kRadPerDeg;
        a.state = kMoveToStand;
        drive2Stand(a, stand.lat, stand.lon, a.standHeading);
        double turned = 0.0;
        for (std::int32_t tick = kNow; tick < kNow + 6000 && a.state == kMoveToStand; ++tick) {
            gf_setAiTick(tick);
            const double before = a.heading;
            updateLiveAc(a);
            turned += std::abs(deg(gf_angleDiff(before, a.heading)));
        }
        EXPECT_EQ(a.state, kMoveParked);
        EXPECT_LT(turned, metres > 0.0 ? 45.0 : 1.0);
        const double parkedOff = std::abs(deg(gf_angleDiff(a.heading, a.standHeading)));
        EXPECT_NEAR(parkedOff, metres > 0.0 ? 0.0 : 90.0, 1.0) << deg(a.heading);
    }
}

// At its lift-off speed a roll whose data still put it on the runway, faster than any aeroplane rolls there (the
// first seconds of its flight at the field's height), lifts off; the points of that roll ahead are passed over in
// the air; so too where its reports bend a few degrees (the roll follows a curve through the bend). One whose data
// roll slower, in the air 9 s ahead, does not lift off at once: it rolls on towards their first point in the air
// until they lift off (that point re-timed as it is reached sooner).
TEST_F(GroundMovement, ATakeOffRollAtItsLiftOffSpeedLiftsOffWhereItsDataRollFaster) {
    struct Row {
        const char* name;
        std::array<double, 3> dataKt;
        double bendDeg;                 // of the reports from 250 m on
        std::int32_t earliest, latest;  // ticks after the start
    };
    const Row rows[] = {{"faster", {150.0, 165.0, 172.0}, 0.0, 0, 10},
                        {"faster, bending 6 degrees", {150.0, 165.0, 172.0}, 6.0, 0, 10},
                        {"slower", {140.0, 142.0, 145.0}, 0.0, 500, 910}};
    const double liftOffKt = g_rotationSpeedKt.at(kCatLarge) + 15.0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TrackPoint bend = point(250, 0, kNow + 300, row.dataKt[1]);
        TrackPoint on = pointFrom(bend, row.bendDeg, 250, kNow + 600);
        on.speed = row.dataKt[2];
        TrackPoint air = pointFrom(on, row.bendDeg, 200, kNow + 900);
        air.speed = 175.0;
        air.airborne = true;
        air.alt = 100.0;
        air.vs = 1500.0;
        LiveAc a = taxiing({point(0, 0, kNow, row.dataKt[0]), bend, on, air});
        a.heading = 0.0;
        a.takeOffRoll = true;
        a.groundSpeedKt = liftOffKt;
        a.rotationTicks = 200;
        std::int32_t tick = kNow;
        for (; tick < kNow + 1000 && a.state != kMoveTakeOff; ++tick) {
            gf_setAiTick(tick);
            updateLiveAc(a);
        }
        EXPECT_EQ(a.state, kMoveTakeOff);
        EXPECT_GE(tick, kNow + row.earliest);
        EXPECT_LT(tick, kNow + row.latest);
        for (const std::int32_t end = tick + 700; tick < end; ++tick) {
            gf_setAiTick(tick);
            updateLiveAc(a);
        }
        EXPECT_FALSE(a.onGround);
        ASSERT_FALSE(a.track.empty());
        EXPECT_TRUE(a.track.front().airborne);  // no way back to the runway
    }
}

// A take-off roll whose data stop ahead (a roll read from stale speeds, or a rejected take-off) brakes for the
// stop within the limits instead of rolling on and stopping dead on it, and taxis on from there.
TEST_F(GroundMovement, ATakeOffRollWithAStopAheadBrakesForIt) {
    TrackPoint stop = point(250, 0, kNow + 3000, 0.0);
    stop.stopped = true;
    LiveAc a = taxiing({point(0, 0, kNow, 54.0), point(200, 0, kNow + 2000, 54.0), stop});
    a.heading = 0.0;
    a.takeOffRoll = true;
    a.groundSpeedKt = 54.0;
    double fastestDrop = 0.0, before = a.groundSpeedKt;
    for (std::int32_t tick = kNow; tick < kNow + 6000; ++tick) {
        gf_setAiTick(tick);
        updateLiveAc(a);
        if ((tick - kNow) % 100 == 99) {
            fastestDrop = std::max(fastestDrop, before - a.groundSpeedKt);
            before = a.groundSpeedKt;
        }
    }
    EXPECT_EQ(a.groundSpeedKt, 0.0);
    EXPECT_LT(fastestDrop, 9.5) << "kt in a second";  // 0.5 g
    EXPECT_LT(gf_distanceNM(a.latitude, a.longitude, stop.lat, stop.lon) * 1852.0, 5.0);
    EXPECT_FALSE(a.takeOffRoll);  // it taxis on from its stop
}

}  // namespace
