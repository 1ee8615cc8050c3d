#include "injection/spawn.h"

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../liveries/livery_index_test_env.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/geodesy.h"
#include "injection/services.h"
#include "injection/stand_hooks.h"
#include "simlink/link.h"

using testing_support::livery;

namespace {

constexpr double kUserLat = 47.0, kUserLon = 8.0;
constexpr std::int32_t kPlayTick = 1000;

// A point `north` and `east` nautical miles from the user.
TrackPoint point(double north, double east, bool airborne, double speed = 0.0) {
    TrackPoint p;
    p.lat = kUserLat + north / 60.0;
    p.lon = kUserLon + east / (60.0 * std::cos(kUserLat * std::numbers::pi / 180.0));
    p.airborne = airborne;
    p.alt = airborne ? 5000.0 : 0.0;
    p.speed = speed;
    p.playTick = kPlayTick;
    return p;
}

enum class Outcome { Waiting, Dropped, Erased, Spawned };

class Spawn : public testing_support::LiveryWorld {
protected:
    void SetUp() override {
        LiveryWorld::SetUp();
        lf_clearAiLists();
        gf_resetLinkState();
        g_liveryByHexid.clear();
        g_largeModels = {"A320"};
        g_heavyModels = {"B77L"};
        build({livery("DLH", "A320", "Lufthansa A320"), livery("CLH", "B77L", "CityLine 777")});
        g_userPos = {};
        g_userPos.latitude = kUserLat;
        g_userPos.longitude = kUserLon;
        g_userPos.altitude = 5000.0;
        g_userOnGround = true;
        gf_setAiTick(kPlayTick - 100);
    }
    void TearDown() override {
        lf_clearAiLists();
        gf_resetLinkState();
        g_liveryByHexid.clear();
        LiveryWorld::TearDown();
    }

    // Airborne 30 nm north of the user, due now, with a livery waiting for it.
    static LiveAc aircraft(std::uint32_t hexId = 0x400001) {
        LiveAc a;
        a.hexId = hexId;
        a.callsign = "DLH4AB";
        a.airline = "DLH";
        a.type = "A320";
        a.category = gf_categoryOfModel("A320");
        a.track = {point(30.0, 0.0, true), point(30.1, 0.0, true)};
        return a;
    }
    static Outcome decide(LiveAc& a) {
        const std::size_t before = a.track.size();
        updateBufferAc(a);
        if (a.eraseRequested) return Outcome::Erased;
        if (a.status == kAcCreationQueued) return Outcome::Spawned;
        return a.track.size() < before ? Outcome::Dropped : Outcome::Waiting;
    }
};

TEST_F(Spawn, EachHoldStopsAtItsThreshold) {
    struct Case {
        const char* what;
        std::function<void(LiveAc&)> setup;
        Outcome outcome;
        bool held = false;
    };
    const auto ground = [](double north, double east, double speed = 0.0) {
        return std::deque<TrackPoint>{point(north, east, false, speed), point(north, east, false, speed)};
    };
    const auto rollingWithoutSpeed = [](LiveAc& a, double nm) {
        a.track = {point(30, 0, false), point(30, nm, false)};
        a.track[0].speedGiven = a.track[1].speedGiven = false;
        a.track[1].playTick = kPlayTick + 100;
    };
    const auto userAloft = [] {
        g_userOnGround = false;
        g_userPos.altAboveGround = 500.0;
    };
    const std::vector<Case> cases = {
        {"airborne, 1 s ahead", [](LiveAc&) {}, Outcome::Spawned},
        {"airborne, a tick earlier", [](LiveAc&) { gf_setAiTick(kPlayTick - 101); }, Outcome::Waiting},
        {"rolling, 3 s ahead", [&](LiveAc& a) { a.track = ground(30, 0, 20); gf_setAiTick(kPlayTick - 300); },
         Outcome::Spawned},
        {"rolling, a tick earlier", [&](LiveAc& a) { a.track = ground(30, 0, 20); gf_setAiTick(kPlayTick - 301); },
         Outcome::Waiting},
        {"only its point is due", [](LiveAc& a) { a.track.pop_back(); }, Outcome::Erased},
        // Waiting to see whether it parks never spends its last point: a stop waits 30 s for the next report.
        {"only a stop is due", [&](LiveAc& a) {
             a.track = ground(30, 0);
             a.track.pop_back();
             a.track[0].stopped = true;
         }, Outcome::Waiting},
        {"only a stop, 30 s past it", [&](LiveAc& a) {
             a.track = ground(30, 0);
             a.track.pop_back();
             a.track[0].stopped = true;
             gf_setAiTick(kPlayTick + 3000);
         }, Outcome::Erased},
        // Never created on a runway roll: at a reported 36 kt, or 36 kt from point to point without a speed.
        {"rolling at 35 kt", [&](LiveAc& a) { a.track = ground(30, 0, 35); gf_setAiTick(kPlayTick - 300); },
         Outcome::Spawned},
        {"rolling at 36 kt", [&](LiveAc& a) { a.track = ground(30, 0, 36); gf_setAiTick(kPlayTick - 300); },
         Outcome::Dropped},
        {"no speed, 0.009 nm in a second", [&](LiveAc& a) { rollingWithoutSpeed(a, 0.009); }, Outcome::Spawned},
        {"no speed, 0.010 nm in a second", [&](LiveAc& a) { rollingWithoutSpeed(a, 0.010); }, Outcome::Dropped},
        // Seen at rest first (a stop), it is created there and rolls from there.
        {"no speed, 0.010 nm in a second from a stop", [&](LiveAc& a) {
             rollingWithoutSpeed(a, 0.010);
             a.track[0].stopped = true;
         }, Outcome::Spawned},
        {"10 creations queued", [](LiveAc&) { g_liveCreations.resize(10); }, Outcome::Spawned},
        {"11 creations queued", [](LiveAc&) { g_liveCreations.resize(11); }, Outcome::Dropped},
        {"MAX_LIVE 0", [](LiveAc&) { g_MAX_LIVE.set(0); }, Outcome::Erased},
        // Sent to the simulator and not yet answered: it counts as much as one that is there.
        {"MAX_LIVE 1, a creation under way", [](LiveAc&) {
             g_MAX_LIVE.set(1);
             g_liveAc.push_back(aircraft(0x400002));
             g_liveAc.back().status = kAcCreationQueued;
         }, Outcome::Erased},
        {"blocked callsign", [](LiveAc&) { g_BLOCK_CALLSIGN.set("DLH4AB"); }, Outcome::Erased},
        // The user flies low: a ground aircraft on its line of flight within 1.5 nm waits, judged by where it
        // was first reported (it has no position of its own before it is created).
        {"user aloft, ground aircraft 1.4 nm ahead", [&](LiveAc& a) { userAloft(); a.track = ground(1.4, 0); },
         Outcome::Dropped, true},
        {"user aloft, ground aircraft 1.6 nm ahead", [&](LiveAc& a) { userAloft(); a.track = ground(1.6, 0); },
         Outcome::Spawned},
        // An airborne aircraft 5.9 nm east heading for the user: its first reported track stands in for the
        // heading it does not have yet.
        {"user aloft, aircraft at 5.9 nm heading for it", [&](LiveAc& a) {
             userAloft();
             a.track = {point(0, 5.9, true), point(0, 5.8, true)};
             a.track[0].track = 270.0;
         }, Outcome::Dropped, true},
        {"user aloft, aircraft at 6.1 nm heading for it", [&](LiveAc& a) {
             userAloft();
             a.track = {point(0, 6.1, true), point(0, 6.0, true)};
             a.track[0].track = 270.0;
         }, Outcome::Spawned},
        // The user on the ground: nothing appears within 150 m of it; a hold ends once the user (at most 8 kt)
        // and the aircraft (stopped, 500 m away) are clear.
        {"user on ground, aircraft 140 m away", [&](LiveAc& a) { a.track = ground(140.0 / 1852, 0); },
         Outcome::Dropped},
        {"user on ground, aircraft 160 m away", [&](LiveAc& a) { a.track = ground(160.0 / 1852, 0); },
         Outcome::Spawned},
        {"held, user at 9 kt", [&](LiveAc& a) {
             a.track = ground(600.0 / 1852, 0);
             a.spawnHold = true;
             g_userPos.groundSpeed = 9.0;
         }, Outcome::Dropped, true},
        {"held, aircraft 490 m away", [&](LiveAc& a) { a.track = ground(490.0 / 1852, 0); a.spawnHold = true; },
         Outcome::Dropped, true},
        {"held, user at 8 kt, aircraft 510 m away", [&](LiveAc& a) {
             a.track = ground(510.0 / 1852, 0);
             a.spawnHold = true;
             g_userPos.groundSpeed = 8.0;
         }, Outcome::Spawned},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        LiveAc a = aircraft();
        c.setup(a);
        g_liveAc.push_back(a);
        EXPECT_EQ(decide(g_liveAc.back()), c.outcome);
        EXPECT_EQ(g_liveAc.back().spawnHold, c.held);
        TearDown();
    }
}

TEST_F(Spawn, AtMaxLiveANewAircraftReplacesOneFartherByMoreThanATenth) {
    struct Case {
        double fartherNm;
        Outcome outcome;
        std::uint32_t otherStatus;
    };
    for (const Case& c : {Case{0.15, Outcome::Spawned, kAcRemovalRequested}, Case{0.05, Outcome::Erased, kAcInSim}}) {
        SCOPED_TRACE(c.fartherNm);
        SetUp();
        g_MAX_LIVE.set(1);
        LiveAc other = aircraft(0x400002);
        other.status = kAcInSim;
        const TrackPoint far = point(30.0 + c.fartherNm, 0.0, true);
        other.latitude = far.lat;
        other.longitude = far.lon;
        g_liveAc.push_back(other);
        g_liveAc.push_back(aircraft());
        EXPECT_EQ(decide(g_liveAc.back()), c.outcome);
        EXPECT_EQ(g_liveAc.front().status, c.otherStatus);
        TearDown();
    }
}

TEST_F(Spawn, ATypeFromTheRegistrationListBringsItsCategoryAndTables) {
    g_regcodeDb["D-ABCD"] = RegcodeData{.airline = "DLH", .type = "B77L", .operatorCode = "CLH", .cargo = true};
    LiveAc a = aircraft();
    a.registration = "D-ABCD";
    a.flareTicks = static_cast<std::uint32_t>(g_flareTicks.at(static_cast<int>(kCatLarge)));
    g_liveAc.push_back(a);
    ASSERT_EQ(decide(g_liveAc.back()), Outcome::Spawned);
    const LiveAc& s = g_liveAc.back();
    EXPECT_EQ(s.type, "B77L");
    EXPECT_EQ(s.airline, "CLH");
    EXPECT_TRUE(s.cargo);
    EXPECT_EQ(s.category, kCatHeavy);
    EXPECT_EQ(s.halfSpan, gf_wingspanOfModel("B77L"));
    EXPECT_EQ(s.flareTicks, static_cast<std::uint32_t>(g_flareTicks.at(static_cast<int>(kCatHeavy))));
    EXPECT_EQ(s.title, "CityLine 777");
}

TEST_F(Spawn, AnAircraftWithoutLiveryIsNeverTriedAgain) {
    LiveAc a = aircraft();
    a.airline = "XYZ";
    a.type = "B77L";
    g_liveAc.push_back(a);
    EXPECT_EQ(decide(g_liveAc.back()), Outcome::Erased);
    ASSERT_EQ(g_unmatchedAircraft.size(), 1u);
    // A livery that would fit now does not bring it back in this run.
    build({livery("XYZ", "B77L", "XYZ 777")});
    LiveAc again = aircraft(0x400009);
    again.airline = "XYZ";
    again.type = "B77L";
    g_liveAc.push_back(again);
    EXPECT_EQ(decide(g_liveAc.back()), Outcome::Erased);
    EXPECT_TRUE(g_liveAc.back().title.empty());
}

TEST_F(Spawn, PitchFollowsTheFirstVerticalSpeed) {
    struct Case {
        bool airborne;
        double vs, pitchDeg;
    };
    for (const Case& c : {Case{true, 3000.0, -11.8}, Case{true, -4000.0, 2.5}, Case{false, 0.0, 0.6}}) {
        SCOPED_TRACE(c.vs);
        g_liveAc.clear();
        LiveAc a = aircraft();
        a.track[0].airborne = a.track[1].airborne = c.airborne;
        a.track[0].vs = c.vs;
        g_liveAc.push_back(a);
        ASSERT_EQ(decide(g_liveAc.back()), Outcome::Spawned);
        EXPECT_NEAR(g_liveAc.back().pitch * 180.0 / std::numbers::pi, c.pitchDeg, 1e-9);
        EXPECT_EQ(g_creationIds.back(), a.hexId);
    }
}

// Created standing, it faces the way its track leads later on; with nothing ahead, its reported heading; else its
// reported track.
TEST_F(Spawn, AnAircraftCreatedStandingFacesTheWayItsTrackLeads) {
    struct Case {
        const char* what;
        bool leads, headingGiven;
        double headingDeg;  // expected
    };
    for (const Case& c : {Case{"leads east", true, true, 90.0}, Case{"reported heading", false, true, 200.0},
                          Case{"reported track", false, false, 300.0}}) {
        SCOPED_TRACE(c.what);
        g_liveAc.clear();
        LiveAc a = aircraft();
        a.track = {point(30, 0, false), point(30, 0, false)};
        a.track[1].stopped = true;
        if (c.leads) a.track.push_back(point(30, 0.01, false, 5.0));
        a.track[0].track = 300.0;
        a.track[0].headingGiven = c.headingGiven;
        a.track[0].heading = 200.0 * std::numbers::pi / 180.0;
        g_liveAc.push_back(a);
        ASSERT_EQ(decide(g_liveAc.back()), Outcome::Spawned);
        EXPECT_NEAR(g_liveAc.back().heading * 180.0 / std::numbers::pi, c.headingDeg, 0.01);
    }
}

TEST_F(Spawn, EnforcingMaxLiveRemovesTheFarthest) {
    g_MAX_LIVE.set(2);
    std::uint32_t id = 1;
    for (double north : {1.0, 4.0, 2.0, 3.0}) {
        LiveAc a = aircraft(0x400000 + id);
        a.objectId = id++;
        a.status = kAcInSim;
        const TrackPoint p = point(north, 0.0, true);
        a.latitude = p.lat;
        a.longitude = p.lon;
        g_liveAc.push_back(a);
    }
    // The farthest of all is still on its way into the simulator: it goes as soon as it is there.
    LiveAc underWay = aircraft(0x400009);
    underWay.status = kAcCreationQueued;
    const TrackPoint p = point(5.0, 0.0, true);
    underWay.latitude = p.lat;
    underWay.longitude = p.lon;
    g_liveAc.push_back(underWay);
    gf_enforceMaxLive();
    EXPECT_EQ(g_removals, (std::deque<std::uint32_t>{2, 4}));
    EXPECT_EQ(g_liveAc[0].status, kAcInSim);
    EXPECT_EQ(g_liveAc[2].status, kAcInSim);
    EXPECT_EQ(g_liveAc[4].status, kAcRemovalRequested);
    EXPECT_TRUE(g_liveAc[4].removeWhenCreated);
}

}  // namespace

namespace {

// One stand of the park airport, 30 m north of where the aircraft stops; the airport 1 nm south of it.
class SpawnAtStand : public Spawn {
protected:
    static constexpr std::uint32_t kStand = 3;
    static constexpr double kStandHeading = 1.5;  // rad
    static constexpr double kThirtyMetresNm = 30.0 / 1852.0;

    void SetUp() override {
        Spawn::SetUp();
        savedHooks = g_standHooks;
        savedAirport = g_activeParkAirportPosition;
        reset();
        g_standHooks.hasStands = [] { return true; };
        g_standHooks.nearestFreeStand = [this](double lat, double lon, const LiveAc&, double maxNm, bool) {
            const bool near = gf_distanceNM(lat, lon, stand.lat, stand.lon) <= maxNm;
            return near && holder == 0 ? kStand : 0u;
        };
        g_standHooks.place = [this](std::uint32_t i) { return i == kStand ? std::optional(stand) : std::nullopt; };
        g_standHooks.standNear = [this](double lat, double lon, double maxNm) {
            return gf_distanceNM(lat, lon, stand.lat, stand.lon) <= maxNm;
        };
        g_standHooks.keptFree = [this](std::uint32_t) { return keptFree; };
        g_standHooks.markLive = [this](std::uint32_t i, std::uint32_t hexId) { if (i == kStand) holder = hexId; };
        g_standHooks.clearStaticAround = [this](std::uint32_t i, const LiveAc&) { staticCleared = i; };
        g_standHooks.addRealParkPosOption = [](LiveAc&, bool, WeekSlot, bool) { return true; };
    }
    void reset() {
        g_standReservations.clear();
        stand = {kUserLat + (2.0 + kThirtyMetresNm) / 60.0, kUserLon, kStandHeading};
        g_activeParkAirportPosition = [] { return std::optional(GeoPosition{kUserLat + 1.0 / 60.0, kUserLon}); };
        keptFree = false;
        holder = 0;
        staticCleared = 0;
    }
    void TearDown() override {
        g_standHooks = savedHooks;
        g_activeParkAirportPosition = savedAirport;
        g_standReservations.clear();
        Spawn::TearDown();
    }

    // On the ground 2 nm north of the user: `first` and `second` the speeds of its two points (0: stopped).
    static LiveAc groundAircraft(double first, double second, double secondNorth = 2.0) {
        LiveAc a = aircraft();
        a.track = {point(2.0, 0.0, false, first), point(secondNorth, 0.0, false, second)};
        a.track[0].stopped = first == 0.0;
        a.track[1].stopped = second == 0.0;
        a.track[0].track = 90.0;
        return a;
    }

public:  // the cases set these
    StandHooks savedHooks;
    std::function<std::optional<GeoPosition>()> savedAirport;
    StandPlace stand;
    bool keptFree = false;
    std::uint32_t holder = 0;
    std::uint32_t staticCleared = 0;
};

TEST_F(SpawnAtStand, AGroundAircraftParksAtOnceOnlyOnAFreeStandItMayTake) {
    enum class Result { Parked, InPlaceNew, Following, Standing, Dropped };
    struct Case {
        const char* what;
        LiveAc a;
        std::function<void(SpawnAtStand&)> setup;
        Result result;
    };
    const std::vector<Case> cases = {
        {"stopped, 30 m from a free stand", groundAircraft(0.0, 0.0), {}, Result::Parked},
        {"nearly stopped, track ends next to it", groundAircraft(4.0, 4.0, 2.0001), {}, Result::Parked},
        {"the reserved or the user's stand", groundAircraft(0.0, 0.0), [](SpawnAtStand& t) { t.keptFree = true; },
         Result::InPlaceNew},
        {"rolling at 6 kt", groundAircraft(6.0, 6.0, 2.0001), {}, Result::Following},
        {"slow, but its track leads 50 m away", groundAircraft(4.0, 4.0, 2.0 + 50.0 / 1852.0), {}, Result::Following},
        {"stopped, stand held by another", groundAircraft(0.0, 0.0), [](SpawnAtStand& t) { t.holder = 0x400777; },
         Result::Dropped},
        // No stand near (the nearest 60 m away): created standing where it stands.
        {"stopped, no stand near", groundAircraft(0.0, 0.0),
         [](SpawnAtStand& t) { t.stand.lat = kUserLat + (2.0 + 60.0 / 1852.0) / 60.0; }, Result::Standing},
        {"moving, no stand", groundAircraft(4.0, 4.0, 2.0001), [](SpawnAtStand& t) { t.holder = 0x400777; },
         Result::Following},
        {"park airport 6 nm away", groundAircraft(0.0, 0.0), [](SpawnAtStand&) {
             g_activeParkAirportPosition = [] { return std::optional(GeoPosition{kUserLat - 4.0 / 60.0, kUserLon}); };
         }, Result::Following},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        if (c.setup) c.setup(*this);
        LiveAc a = c.a;
        const TrackPoint first = a.track.front();
        spawnLiveAc(a);
        ASSERT_FALSE(a.eraseRequested);
        switch (c.result) {
        case Result::Parked:
            EXPECT_EQ(a.state, kMoveParked);
            EXPECT_EQ(a.status, kAcCreationQueued);
            EXPECT_EQ(a.standIndex, kStand);
            EXPECT_EQ(holder, a.hexId);
            EXPECT_EQ(staticCleared, kStand);
            EXPECT_DOUBLE_EQ(a.heading, kStandHeading);
            EXPECT_DOUBLE_EQ(a.latitude, stand.lat);
            ASSERT_EQ(a.track.size(), 1u);
            EXPECT_TRUE(a.track.front().stopped);
            EXPECT_NEAR(a.track.front().track * std::numbers::pi / 180.0, kStandHeading, 1e-12);
            ASSERT_EQ(g_standReservations.size(), 1u);
            EXPECT_EQ(g_standReservations.front().first, a.hexId);
            break;
        case Result::InPlaceNew:
        case Result::Following:
        case Result::Standing:
            EXPECT_EQ(a.state, c.result == Result::InPlaceNew ? kMoveNew : kMoveFollowing);
            if (c.result == Result::Standing) {
                EXPECT_TRUE(a.track.front().stopped);
            }
            EXPECT_EQ(a.status, kAcCreationQueued);
            EXPECT_EQ(a.track.size(), 2u);
            EXPECT_DOUBLE_EQ(a.latitude, first.lat);
            EXPECT_EQ(holder == a.hexId, false);
            break;
        case Result::Dropped:
            EXPECT_EQ(a.state, kMoveNew);
            EXPECT_EQ(a.status, kAcNotInSim);
            EXPECT_EQ(a.track.size(), 1u);
            break;
        }
    }
}

}  // namespace
