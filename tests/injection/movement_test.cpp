#include "injection/movement.h"

#include <cmath>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/log.h"
#include "injection/aircraft_lists.h"
#include "injection/services.h"
#include "recording_sink.h"
#include "simlink/link.h"
#include "support/test_support.h"

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;
constexpr double kLat = 47.45, kLon = 8.56;
constexpr std::uint32_t kObject = 101;

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
    a.hexId = 0x4b1234;
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
        gf_setAiTick(0);
        gf_openLog(m_dir / "Log.txt");
    }
    void TearDown() override {
        gf_closeLog();
        lf_clearAiLists();
        gf_resetLinkState();
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

TEST_F(Movement, AnAircraftReachesTheNextPointAtItsPlayTick) {
    struct Case {
        const char* name;
        TrackPoint from, to;
        double startHeadingDeg;
        bool createdInPlace = false;  // as the spawn leaves an aircraft created where its track is
    };
    const Case cases[] = {
        {"taxiing, turning 40 degrees", point(0, 0, 100, false), point(40, 35, 1100, false), 0.0},
        {"taxiing after its creation in place", point(0, 0, 100, false), point(-40, 35, 1100, false), 90.0, true},
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
        if (c.createdInPlace) {
            a.state = kMoveNew;
            a.headingStep = a.heading;
        }
        run(a, 90, 1099);  // the leg starts at 100 and ends with the tick before 1100
        EXPECT_NEAR(a.latitude, c.to.lat, 1e-9);
        EXPECT_NEAR(a.longitude, c.to.lon, 1e-9);
        EXPECT_NEAR(a.altitude, c.to.alt, 1e-6);
        EXPECT_NEAR(a.heading, gf_initialBearing(c.from.lat, c.from.lon, c.to.lat, c.to.lon), 1e-9);
        EXPECT_EQ(a.status, kAcInSim);
        EXPECT_EQ(a.rateTicks, 1u);  // above 1 the simulator's reports would hold it on the ground
        ASSERT_EQ(m_sink.positions.size(), 1010u);  // one per tick, the ones before the leg too
        for (const AircraftUpdate& u : m_sink.positions) ASSERT_EQ(u.objectID, kObject);
        // Waiting for its first leg, the aircraft stands as it was created.
        for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(m_sink.positions[i].heading, c.startHeadingDeg * kRadPerDeg);
        EXPECT_EQ(m_sink.positions.back().latitude, a.latitude);
        EXPECT_EQ(m_sink.positions.back().altitude, a.altitude);
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
        LiveAc a = inSim(c.track.empty() ? std::vector<TrackPoint>{last} : c.track);
        if (c.track.empty()) a.track.clear();
        a.objectId = c.objectId;
        a.category = c.category;
        a.status = c.status;
        run(a, 100, 100);
        EXPECT_EQ(a.status, c.statusAfter);
        EXPECT_EQ(std::vector<std::uint32_t>(g_removals.begin(), g_removals.end()), c.removals);
        EXPECT_EQ(m_sink.positions.size(), c.positions);
        if (c.logged) EXPECT_NE(log().find(c.logged), std::string::npos) << log();
        TearDown();
    }
}

TEST_F(Movement, ATrackOfMoreThan200PointsEndsTheAircraftButTakesThePoint) {
    std::vector<TrackPoint> track;
    for (std::int32_t i = 0; i < 201; ++i) track.push_back(point(10.0 * i, 0, 100 * i, true, 3000, 200));
    LiveAc a = inSim(track);
    decodeExisting(a, point(2020, 0, 20200, true, 3000, 200));
    EXPECT_EQ(a.status, kAcRemovalRequested);
    EXPECT_EQ(g_removals.size(), 1u);
    EXPECT_EQ(a.track.size(), 202u);
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

}  // namespace
