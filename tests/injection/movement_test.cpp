#include "injection/movement.h"

#include <cmath>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "frame/timeutil.h"
#include "injection/aircraft_lists.h"
#include "injection/removal.h"
#include "injection/services.h"
#include "injection/stand_hooks.h"
#include "recording_sink.h"
#include "simlink/link.h"
#include "support/test_support.h"

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;
constexpr double kLat = 47.45, kLon = 8.56;
constexpr std::uint32_t kObject = 101;
constexpr std::uint32_t kHexId = 0x4b1234;

// A point `north` and `east` metres from the reference position.
TrackPoint point(double north, double east, std::int32_t playTick, bool airborne, double alt = 0.0,
                 double speed = 15.0) {
    TrackPoint p;
    p.lat = kLat + north / 111132.95;
    p.lon = kLon + east / (111132.95 * std::cos(kLat * kRadPerDeg));
    p.playTick = playTick;
    p.airborne = airborne;
    p.alt = alt;
    p.speed = speed;
    return p;
}

// An aircraft in the simulator standing at the first of its points.
LiveAc inSim(std::vector<TrackPoint> points) {
    LiveAc a;
    a.hexId = kHexId;
    a.callsign = "SWR100";
    a.status = kAcInSim;
    a.objectId = kObject;
    a.onGround = !points.front().airborne;
    a.state = a.onGround ? kMoveFollowing : kMoveAirborne;
    a.turnRate = a.groundTurnRate = 0.07 * kRadPerDeg;
    a.latitude = points.front().lat;
    a.longitude = points.front().lon;
    a.altitude = points.front().alt;
    a.track.assign(points.begin(), points.end());
    return a;
}

class Movement : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        gf_resetLinkState();
        gf_resetParametersToDefaults();
        gf_setAiTick(0);
        g_userPos = {};
        gf_openLog(m_dir / "Log.txt");
    }
    void TearDown() override {
        gf_closeLog();
        lf_clearAiLists();
        gf_resetLinkState();
        gf_resetParametersToDefaults();
        g_standHooks = {};
        g_standReservations.clear();
        g_steadyClockOverride = nullptr;
        g_userPos = {};
    }

    // The aircraft's work of the ticks from `first` up to `last`.
    void run(LiveAc& a, std::int32_t first, std::int32_t last) {
        for (std::int32_t t = first; t <= last; ++t) {
            gf_setAiTick(t);
            updateLiveAc(a);
        }
    }
    std::string log() {
        std::ifstream in(m_dir / "Log.txt");
        return {std::istreambuf_iterator<char>(in), {}};
    }

    testing_support::TempDir m_dir;
    RecordingSink m_sink;
};

TEST_F(Movement, ALegsRatesReachTheNextPointAtItsPlayTick) {
    struct Case {
        const char* name;
        TrackPoint from, to;
        double startHeadingDeg;
    };
    const Case cases[] = {
        {"taxiing, turning 40 degrees", point(0, 0, 100, false), point(40, 35, 1100, false), 0.0},
        {"climbing", point(0, 0, 100, true, 3000, 200), point(-800, 600, 1100, true, 3500, 200), 120.0},
        {"turning left across north in the air", point(0, 0, 100, true, 3000, 200),
         point(900, -300, 1100, true, 3000, 200), 30.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m_sink.clear();
        LiveAc a = inSim({c.from, c.to});
        a.heading = c.startHeadingDeg * kRadPerDeg;
        run(a, 90, 99);
        // Waiting for its first leg, the aircraft stands as it was created.
        EXPECT_EQ(a.latitude, c.from.lat);
        gf_setAiTick(100);
        nextPosMain(a);
        ASSERT_EQ(a.track.size(), 1u);
        const TrackPoint& to = a.track.front();
        const double ticks = to.playTick - 100;
        EXPECT_NEAR(a.latitude + a.latStep * ticks, to.lat, 1e-9);
        EXPECT_NEAR(a.longitude + a.lonStep * ticks, to.lon, 1e-9);
        EXPECT_NEAR(a.targetHeading, gf_initialBearing(c.from.lat, c.from.lon, c.to.lat, c.to.lon), 1e-12);
        EXPECT_EQ(a.status, kAcInSim);
        ASSERT_EQ(m_sink.positions.size(), 10u);  // one per tick, the ones before the leg too
        for (const AircraftUpdate& u : m_sink.positions) ASSERT_EQ(u.objectID, kObject);
        for (const AircraftUpdate& u : m_sink.positions) EXPECT_EQ(u.heading, c.startHeadingDeg * kRadPerDeg);
        TearDown();
    }
}

TEST_F(Movement, AStoppedNextPointStopsTheAircraftAndNarrowsItsWindows) {
    LiveAc a = inSim({point(0, 0, 100, false), point(0, 0, 400, false, 0.0, 0.0)});
    a.latStep = a.lonStep = 1e-5;
    a.maxAdvanceTicks = 3000;
    a.maxDelayTicks = 1050;
    run(a, 100, 300);
    EXPECT_EQ(a.latStep, 0.0);
    EXPECT_EQ(a.lonStep, 0.0);
    EXPECT_EQ(a.altitudeStep, 0.0);
    EXPECT_EQ(a.maxAdvanceTicks, 2900);
    EXPECT_EQ(a.maxDelayTicks, 1000);
    EXPECT_EQ(a.trueAirspeed, 0.0);
    EXPECT_EQ(a.latitude, kLat);
    EXPECT_EQ(a.longitude, kLon);
    ASSERT_EQ(a.track.size(), 1u);
    EXPECT_TRUE(a.track.front().stopped);
    EXPECT_EQ(m_sink.positions.size(), 201u);  // a standing aircraft still reports every tick
}

TEST_F(Movement, AnAircraftLeavesWhenItCannotGoOn) {
    struct Case {
        const char* name;
        std::vector<TrackPoint> track;
        std::uint32_t objectId = kObject;
        ModelCategory category = kCatLarge;
        std::uint32_t status = kAcInSim;
        // Expected after the tick at 100.
        std::uint32_t statusAfter;
        std::vector<std::uint32_t> removals;
        std::size_t positions;
        const char* logged;
    };
    const TrackPoint last = point(0, 0, 100, true, 3000, 200);
    const TrackPoint next = point(0, 500, 900, true, 3000, 200);
    TrackPoint stoppedAloft = point(0, 0, 900, true, 3000, 0);
    stoppedAloft.stopped = true;
    const Case cases[] = {
        {"the track runs out", {last}, kObject, kCatLarge, kAcInSim, kAcRemovalRequested, {kObject}, 0, nullptr},
        {"no object", {last, next}, 0, kCatLarge, kAcInSim, kAcRemovalRequested, {}, 0,
         "updateLiveAc objectid=0? hexid: 4919860,cs:SWR100"},
        {"empty track", {}, kObject, kCatLarge, kAcInSim, kAcRemovalRequested, {kObject}, 0,
         "updateLiveAc stream empty ? "},
        {"a stop in the air is passed over", {last, stoppedAloft}, kObject, kCatLarge, kAcInSim,
         kAcRemovalRequested, {kObject}, 0, nullptr},
        {"a rotorcraft hovers", {last, stoppedAloft}, kObject, kCatRotorcraft, kAcInSim, kAcInSim, {}, 1, nullptr},
        {"creation still queued", {last}, kObject, kCatLarge, kAcCreationQueued, kAcCreationQueued, {}, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m_sink.clear();
        g_userPos.latitude = kLat + 100.0 / 60.0;  // far beyond the range: an airborne aircraft is not predicted
        g_userPos.longitude = kLon;
        LiveAc a = inSim(c.track.empty() ? std::vector<TrackPoint>{last} : c.track);
        if (c.track.empty()) a.track.clear();
        a.objectId = c.objectId;
        a.category = c.category;
        a.status = c.status;
        run(a, 100, 100);
        EXPECT_EQ(a.status, c.statusAfter);
        EXPECT_EQ(std::vector<std::uint32_t>(g_removals.begin(), g_removals.end()), c.removals);
        EXPECT_EQ(m_sink.positions.size(), c.positions);
        if (c.logged) {
            EXPECT_NE(log().find(c.logged), std::string::npos) << log();
        }
        TearDown();
    }
}

TEST_F(Movement, ARepeatedPlaceIsKeptAsAStopOrDropped) {
    struct Case {
        const char* name;
        double north;  // metres from the back point
        double speed;
        bool airborne;
        double backSpeed;
        bool takeOffRoll = false;
        bool aloftInSim = false;
        ModelCategory category = kCatLarge;
        // Expected
        bool kept;
        bool stopped;
        bool movedOntoBack;
    };
    const Case cases[] = {
        {"same place on the ground", 0, 4, false, 4, false, false, kCatLarge, true, true, false},
        {"same place, reported airborne", 0, 4, true, 4, false, false, kCatLarge, false, true, false},
        {"same place, flying in the simulator", 0, 4, false, 4, false, true, kCatLarge, false, true, false},
        {"same place, rolling from 30 kt", 0, 35, false, 30, true, false, kCatLarge, false, true, false},
        {"same place, rotorcraft aloft", 0, 0, true, 0, false, true, kCatRotorcraft, true, true, false},
        {"10 m away on the ground", 10, 3, false, 3, false, false, kCatLarge, true, true, true},
        {"10 m away, rolling from 50 kt", 10, 60, false, 50, true, false, kCatLarge, false, false, false},
        {"10 m away, rolling below 50 kt", 10, 60, false, 49, true, false, kCatLarge, true, true, true},
        {"30 m away, standing", 30, 0, false, 0, false, false, kCatLarge, true, false, false},
        {"30 m away, speed 0 aloft after 50 kt", 30, 0, true, 50, false, false, kCatLarge, false, false, false},
        {"30 m away, speed 0 aloft after 49 kt", 30, 0, true, 49, false, false, kCatLarge, true, false, false},
        {"30 m away, moving", 30, 140, true, 150, false, true, kCatLarge, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrackPoint back = point(0, 0, 500, false, 0.0, c.backSpeed);
        LiveAc a = inSim({back});
        a.onGround = !c.aloftInSim;
        a.takeOffRoll = c.takeOffRoll;
        a.category = c.category;
        TrackPoint p = point(c.north, 0, 700, c.airborne, c.airborne ? 800.0 : 0.0, c.speed);
        EXPECT_EQ(lf_isSamePosition(a, p), c.kept);
        if (!c.kept) continue;
        EXPECT_EQ(p.stopped, c.stopped);
        if (c.stopped) {
            EXPECT_EQ(p.speed, 0.0);
            EXPECT_EQ(p.lat, back.lat);
        }
        EXPECT_EQ(p.playTick == back.playTick, c.movedOntoBack);
    }
}

// ---- Merging received points ----

// A taxiing aircraft in the simulator whose track ends with `points`.
LiveAc taxiing(std::vector<TrackPoint> points) {
    LiveAc a = inSim(std::move(points));
    a.onGround = true;
    a.state = kMoveFollowing;
    return a;
}

TrackPoint stop(TrackPoint p) {
    p.stopped = true;
    p.speed = 0.0;
    return p;
}

TEST_F(Movement, APointJustBesideATaxiingAircraftBecomesAStopWhereItIs) {
    LiveAc a = taxiing({point(0, 0, 100, false), point(50, 0, 600, false)});
    decodeExisting(a, point(60, 0, 900, false, 0.0, 4.0));
    ASSERT_EQ(a.track.size(), 3u);
    const TrackPoint& p = a.track.back();
    EXPECT_TRUE(p.stopped);
    EXPECT_EQ(p.speed, 0.0);
    EXPECT_EQ(p.lat, a.track[1].lat);
    EXPECT_EQ(p.lon, a.track[1].lon);
    EXPECT_EQ(p.playTick, 601);  // after the point it repeats
}

TEST_F(Movement, AStationaryAircraftKeepsTwoStoppedPoints) {
    LiveAc a = taxiing({stop(point(0, 0, 100, false))});
    gf_setAiTick(2000);
    for (std::int32_t i = 1; i <= 4; ++i) {
        decodeExisting(a, point(0, 0, 100 + 500 * i, false, 0.0, 3.0));
        ASSERT_LE(a.track.size(), 2u);
    }
    ASSERT_EQ(a.track.size(), 2u);
    EXPECT_TRUE(a.track[0].stopped);
    EXPECT_TRUE(a.track[1].stopped);
    EXPECT_EQ(a.track[0].playTick, 2001);  // re-timed: the movement plans again on the next tick
    EXPECT_EQ(a.track[1].speed, 0.0);
}

TEST_F(Movement, AShortStopGoesWhenTheAircraftMovesOn) {
    struct Case {
        const char* name;
        std::int32_t stopSeconds;
        double pEast;  // metres east of the last moving point
        std::size_t sizeAfter;
    };
    const Case cases[] = {
        {"10 s stop", 10, 100, 3},
        {"20 s stop, then 30 m further", 20, 30, 5},
        {"20 s stop, then only 20 m further", 20, 20, 3},
        {"15 s stop, then 30 m further", 15, 30, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TrackPoint moving = point(0, 0, 1000, false, 0.0, 10.0);
        LiveAc a = taxiing({point(-100, 0, 100, false), moving, stop(point(0, 0, 1100, false)),
                            stop(point(0, 0, 1000 + 100 * c.stopSeconds, false))});
        decodeExisting(a, point(0, c.pEast, 5000, false, 0.0, 10.0));
        ASSERT_EQ(a.track.size(), c.sizeAfter);
        EXPECT_FALSE(a.track.back().stopped);
        EXPECT_EQ(a.track[1].lat, moving.lat);
    }
}

// A standing aircraft's reports are taken once per 15 s; the others are kept as places. Its first point that moves
// away starts the leg from the last place that still showed it standing, not from the last report taken: it moves
// off when its reports do.
TEST_F(Movement, AStopLastsAsLongAsItsReportsShowTheAircraftThere) {
    TrackPoint standing = stop(point(0, 0, 1000, false));
    standing.time = 1000.0;
    LiveAc a = taxiing({standing});
    const auto place = [&](double time, double north) {
        a.reportedPlaces.push_back({time, kLat + north / 111132.95, kLon, false});
    };
    for (const double t : {1002.0, 1004.0, 1006.0, 1008.0, 1010.0}) place(t, t == 1006.0 ? 1.5 : 0.0);
    place(1011.0, 8.0);
    place(1011.5, 15.0);
    place(1012.0, 30.0);
    TrackPoint moving = point(30, 0, 2200, false, 0.0, 10.0);
    moving.time = 1012.0;
    decodeExisting(a, moving);
    ASSERT_EQ(a.track.size(), 3u);
    const TrackPoint& still = a.track[1];
    EXPECT_TRUE(still.stopped);
    EXPECT_EQ(still.lat, kLat);
    EXPECT_EQ(still.time, 1010.0);
    EXPECT_EQ(still.playTick, 2000);
    EXPECT_FALSE(a.track.back().stopped);
    EXPECT_EQ(a.track.back().playTick, 2200);
}

// Holding in place (its track ran out while it stood), an aircraft whose first report taken after it started to
// roll lies 280 m down the runway, beyond the holding threshold (250 m), goes there: its reports lead away to it.
// One such report among reports that stay where it holds is a jump, and dropped.
TEST_F(Movement, AHoldingAircraftGoesWhereItsReportsLeadAway) {
    for (const bool leadsAway : {true, false}) {
        SCOPED_TRACE(leadsAway ? "reports leading away" : "one far report");
        TrackPoint hold = stop(point(0, 0, 1000, false));
        hold.time = 1040.0;
        LiveAc a = taxiing({hold, stop(point(0, 0, 1300, false))});
        a.holding = true;
        a.extendSteps = 1;
        for (const double t : {1036.0, 1038.0, 1040.0, 1042.0}) a.reportedPlaces.push_back({t, kLat, kLon, false});
        for (const auto& [t, north] : std::vector<std::pair<double, double>>{{1046.0, 40}, {1050.0, 110}, {1053.0, 200}})
            a.reportedPlaces.push_back({t, kLat + (leadsAway ? north : 0.0) / 111132.95, kLon, false});
        a.reportedPlaces.push_back({1056.0, kLat + 280.0 / 111132.95, kLon, false});
        TrackPoint far = point(280, 0, 2600, false, 0.0, 0.0);
        far.time = 1056.0;
        far.speedGiven = false;
        decodeExisting(a, far);
        EXPECT_EQ(a.status, kAcInSim);
        EXPECT_EQ(a.holding, !leadsAway);
        EXPECT_EQ(a.track.back().lat == far.lat, leadsAway);
    }
}

TEST_F(Movement, TheStopLookBackEndsAtTheFrontPoint) {
    LiveAc a = taxiing({stop(point(0, 0, 100, false)), stop(point(0, 0, 200, false)), stop(point(0, 0, 300, false))});
    decodeExisting(a, point(0, 100, 600, false, 0.0, 10.0));
    EXPECT_EQ(a.track.size(), 4u);
    EXPECT_EQ(log().find("removeSmallStop"), std::string::npos) << log();
}

TEST_F(Movement, ALegWithoutSpeedsTakesItsSpeedFromTheTimeBetweenItsReports) {
    // 90 m reported 10 s apart, the front point's play tick held on to the second's: about 17.5 kt, not the
    // 7,000 kt of a 90 m leg squeezed into 25 ticks.
    TrackPoint front = point(0, 0, 1000, false, 0.0, 0.0);
    TrackPoint second = point(90, 0, 1000, false, 0.0, 0.0);
    front.time = 1000.0;
    second.time = 1010.0;
    const LiveAc a = inSim({front, second});
    EXPECT_NEAR(lf_legSpeed(a), 90.0 / 1852.0 * 360.0, 0.1);
}

TEST_F(Movement, ATrackOfMoreThan200PointsEndsTheAircraftOnceButTakesThePoints) {
    std::vector<TrackPoint> track;
    for (std::int32_t i = 0; i < 201; ++i) track.push_back(point(10.0 * i, 0, 100 * i, true, 3000, 200));
    LiveAc a = inSim(track);
    decodeExisting(a, point(2100, 0, 20200, true, 3000, 200));
    decodeExisting(a, point(2200, 0, 20300, true, 3000, 200));
    EXPECT_EQ(a.status, kAcRemovalRequested);
    EXPECT_EQ(g_removals.size(), 1u);
    EXPECT_EQ(a.track.size(), 203u);
}

// A parked live aircraft at stand 5, whose stand marks are recorded.
class AtStand : public Movement {
protected:
    void SetUp() override {
        Movement::SetUp();
        g_standHooks.markLive = [this](std::uint32_t i, std::uint32_t hexId) {
            marks.push_back(hexId != 0 ? int(i) : -int(i));
        };
        g_standHooks.occupiedByLive = [this](std::uint32_t) { return holder; };
        g_steadyClockOverride = [] { return std::uint64_t{4'000'000'000}; };
    }
    LiveAc parked() {
        LiveAc a = taxiing({stop(point(0, 0, 100, false))});
        a.state = kMoveParked;
        a.previousState = kMoveNew;
        a.standIndex = 5;
        a.standLat = kLat;
        a.standLon = kLon;
        a.halfSpan = 0.01;
        return a;
    }
    std::vector<int> marks;
    std::uint32_t holder = kHexId;  // the stand is the aircraft's own
};

TEST_F(AtStand, APointFarFromTheStandLeavesItOrRemovesTheAircraft) {
    struct Case {
        const char* name;
        double north;
        std::size_t sizeAfter;
        bool leaveStand;
        std::uint32_t status;
        std::vector<int> marks;
    };
    const Case cases[] = {
        {"at the stand", 10, 1, false, kAcInSim, {}},
        {"150 m away", 150, 2, true, kAcInSim, {-5}},
        {"250 m away", 250, 1, false, kAcRemovalRequested, {-5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        marks.clear();
        g_removals.clear();
        LiveAc a = parked();
        decodeExisting(a, point(c.north, 0, 600, false, 0.0, 5.0));
        EXPECT_EQ(a.track.size(), c.sizeAfter);
        EXPECT_EQ(a.leaveStand, c.leaveStand);
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.state, kMoveParked);
        EXPECT_TRUE(a.standConfirmed);
        EXPECT_EQ(marks, c.marks);
        if (c.leaveStand) {
            EXPECT_FALSE(a.track.back().stopped);
        }
    }
}

TEST_F(AtStand, ParkedTimeIsTheSteadyClocksOwn) {
    LiveAc a = parked();
    decodeExisting(a, point(10, 0, 600, false, 0.0, 0.0));
    EXPECT_EQ(a.parkedSince, 4'000'000'000u);
    a.track.assign(1, stop(point(0, 0, 100, false)));
    a.state = kMoveToStand;
    lf_arriveAtStand(a);
    EXPECT_EQ(a.state, kMoveParked);
    EXPECT_EQ(a.parkedSince, 4'000'000'000u);
}

TEST_F(AtStand, AnAircraftDrivingToItsStandParksOnlyThere) {
    struct Case {
        const char* name;
        double metresFromStand;
        bool occupied;
        std::uint32_t stateAfter, statusAfter;
        std::vector<int> marks;
    };
    const Case cases[] = {
        // Parked, its week-long prediction no longer holds the stand against others.
        {"at the stand", 1, false, kMoveParked, kAcInSim, {-5}},
        {"10 m short", 10, false, kMoveFollowing, kAcInSim, {}},
        // The other aircraft keeps the stand: the removal leaves its mark alone, and it is set again.
        {"stand taken", 1, true, kMoveToStand, kAcRemovalRequested, {5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        marks.clear();
        holder = c.occupied ? 0x4b9999 : kHexId;
        LiveAc a = parked();
        a.state = kMoveToStand;
        a.latitude = kLat + c.metresFromStand / 111132.95;
        a.track.assign(1, point(c.metresFromStand, 0, 100, false, 0.0, 0.0));
        gf_setAiTick(100);
        nextPosMain(a);
        EXPECT_EQ(a.state, c.stateAfter);
        EXPECT_EQ(a.status, c.statusAfter);
        EXPECT_EQ(marks, c.marks);
        if (c.stateAfter == kMoveParked) {
            EXPECT_TRUE(a.track.front().stopped);
            ASSERT_FALSE(g_spawnedHexIds.empty());
            EXPECT_EQ(g_spawnedHexIds.back(), a.hexId);
        }
    }
}

// ---- Track extension ----

TEST_F(Movement, ATaxiingAircraftWhoseDataStopsHoldsThenLeaves) {
    LiveAc a = taxiing({point(0, 0, 1000, false, 0.0, 8.0)});
    gf_setAiTick(1000);
    int holds = 0;
    while (lf_extendOrHold(a)) {
        ASSERT_EQ(a.track.size(), 2u);
        const TrackPoint& hold = a.track.back();
        EXPECT_EQ(hold.playTick, a.track.front().playTick + 300);
        EXPECT_TRUE(hold.stopped);
        EXPECT_EQ(hold.speed, 0.0);
        EXPECT_EQ(hold.lat, kLat);
        a.track.pop_front();
        gf_setAiTick(a.track.front().playTick);
        ASSERT_LT(++holds, 1000);
    }
    EXPECT_EQ(holds, 21 * 20);  // 3 s steps until more than 20 whole minutes held
    nextPosMain(a);
    EXPECT_EQ(a.status, kAcRemovalRequested);
}

// A ground aircraft holding in place, another live aircraft taxiing 30 m from it.
LiveAc holdingBesideATaxi() {
    LiveAc other = taxiing({point(30, 0, 100, false)});
    other.objectId = kObject + 1;
    other.latitude = kLat + 30 / 111132.95;
    other.halfSpan = 0.02;
    g_liveAc.push_back(other);
    LiveAc a = taxiing({point(0, 0, 100, false)});
    a.halfSpan = 0.02;
    a.holding = true;
    return a;
}

TEST_F(Movement, AHoldingAircraftLeavesAtOnceForAnotherTaxiingNearby) {
    LiveAc a = holdingBesideATaxi();
    EXPECT_FALSE(lf_extendOrHold(a));
    EXPECT_FALSE(a.holding);
    EXPECT_EQ(a.track.size(), 1u);
}

// A ground aircraft whose reports still come (newer than the last one taken, too alike to be taken: standing)
// holds whatever taxis past it: removed, it came back turned round (VJT796 in the demo).
TEST_F(Movement, AStandingAircraftWhoseReportsStillComeHoldsForAnotherTaxiingNearby) {
    LiveAc a = holdingBesideATaxi();
    a.lastRecordTime = 1000.0;
    a.reportedPlaces.push_back({1010.0, kLat, kLon, false});
    EXPECT_TRUE(lf_extendOrHold(a));
    EXPECT_TRUE(a.holding);
    ASSERT_EQ(a.track.size(), 2u);
    EXPECT_TRUE(a.track.back().stopped);
}

TEST_F(Movement, ATakeOffRollIsPredictedTenStepsFaster) {
    LiveAc a = taxiing({point(0, 0, 1000, false, 0.0, 50.0)});
    a.takeOffRoll = true;
    std::vector<double> speeds, vs;
    while (lf_extendOrHold(a)) {
        ASSERT_EQ(a.track.size(), 2u);
        EXPECT_EQ(a.track.back().playTick, a.track.front().playTick + 300);
        EXPECT_GT(a.track.back().lat, a.track.front().lat);  // on along the heading (north)
        speeds.push_back(a.track.back().speed);
        vs.push_back(a.track.back().vs);
        a.track.pop_front();
        ASSERT_LT(speeds.size(), 100u);
    }
    EXPECT_EQ(speeds, (std::vector<double>{80, 110, 150, 170, 180, 180, 180, 180, 180, 180}));
    EXPECT_EQ(vs, (std::vector<double>{0, 0, 600, 1200, 2400, 2400, 2400, 2400, 2400, 2400}));
    EXPECT_EQ(a.extendSteps, -1);
}

TEST_F(Movement, AnAirborneAircraftFliesOnOnlyWithinTheRange) {
    struct Case {
        const char* name;
        double userNorthNm;  // 0: the user's position is not known yet
        ModelCategory category;
        bool lightAircraft;
        std::size_t predicted;
    };
    const Case cases[] = {
        {"within the range", 30, kCatLarge, false, 8},
        {"beyond the range less half a mile", 39.6, kCatLarge, false, 0},
        {"user not known yet", 0, kCatLarge, false, 8},
        {"light aircraft switched off", 30, kCatLight, false, 0},
        {"light aircraft switched on", 30, kCatLight, true, 8},
        {"rotorcraft switched off", 30, kCatRotorcraft, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        g_LIGHT_AIRCRAFT.set(c.lightAircraft);
        g_HELICOPTERS.set(false);
        if (c.userNorthNm != 0) {
            g_userPos.latitude = kLat + c.userNorthNm / 60.0;
            g_userPos.longitude = kLon;
        }
        LiveAc a = inSim({point(0, 0, 1000, true, 5000, 200)});
        a.category = c.category;
        a.heading = std::numbers::pi;  // away from the user
        std::vector<double> speeds;
        while (lf_extendOrHold(a)) {
            EXPECT_EQ(a.track.back().playTick, a.track.front().playTick + 800);
            EXPECT_LT(a.track.back().lat, a.track.front().lat);
            speeds.push_back(a.track.back().speed);
            a.track.pop_front();
            ASSERT_LT(speeds.size(), 100u);
        }
        ASSERT_EQ(speeds.size(), c.predicted);
        for (std::size_t i = 0; i < speeds.size(); ++i) EXPECT_NEAR(speeds[i], 200 * std::pow(0.95, i + 1), 1e-9);
        nextPosMain(a);
        EXPECT_EQ(a.status, kAcRemovalRequested);
        TearDown();
    }
}

// ---- Landing ----

TEST_F(Movement, ALandingRollPointBehindStartsTheTrackWhereTheAircraftIs) {
    LiveAc a = taxiing({point(0, 0, 1000, false, 0.0, 100.0)});
    a.braking = true;
    a.heading = 0.0;
    a.latitude = kLat + 20 / 111132.95;
    gf_setAiTick(700);
    decodeExisting(a, point(-200, 0, 1500, false, 0.0, 60.0));
    ASSERT_EQ(a.track.size(), 2u);
    EXPECT_EQ(a.track.front().lat, a.latitude);
    EXPECT_EQ(a.track.front().playTick, 701);
}

TEST_F(Movement, BothPointsAirborneInTheLandingRollIsAGoAround) {
    LiveAc a = taxiing({point(0, 0, 1000, true, 50, 130)});
    a.braking = true;
    a.approach = a.landed = true;
    decodeExisting(a, point(300, 0, 1500, true, 100, 135));
    EXPECT_TRUE(a.takeOffRoll);
    EXPECT_FALSE(a.approach);
    EXPECT_FALSE(a.landed);
    EXPECT_EQ(a.maxDelayTicks, 5000);
    // Throttle (223) and flaps (218) go with their own stages; the spoilers and the departure lights:
    std::vector<std::string> events = m_sink.with("event");
    std::erase_if(events, [](const std::string& e) { return e.starts_with("event 101 223 ") || e.starts_with("event 101 218 "); });
    EXPECT_EQ(events,
              (std::vector<std::string>{"event 101 219 16383", "event 101 208 1", "event 101 207 1", "event 101 211 1",
                                        "event 101 209 1", "event 101 210 1", "event 101 213 1", "event 101 212 0"}));
}

}  // namespace
