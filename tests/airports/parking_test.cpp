#include "airports/parking.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "airports/services.h"
#include "airports/stand_choice.h"
#include "injection/ai_update.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/movement.h"
#include "injection/spawn.h"
#include "injection/stand_hooks.h"
#include "simlink/link.h"

namespace {

constexpr double kLat = 47.45, kLon = 8.55;
constexpr double kMetresPerDegree = 111132.95;
constexpr double kNmPerMetre = 1.0 / 1852.0;
constexpr std::uint32_t kHex = 0x400001;

double north(double metres) { return kLat + metres / kMetresPerDegree; }

// Stands along the meridian, `metres` north of the aircraft's stop.
void setStands(const std::vector<std::pair<std::string, double>>& stands) {
    g_parkPositions.clear();
    for (const auto& [id, metres] : stands) {
        g_parkPositions.emplace_back(id, std::vector<ParkPosOption>{}, north(metres), kLon, 0.0, 30.0, false, false,
                                     false);
        g_parkPositions.back().index = static_cast<std::uint32_t>(g_parkPositions.size());
    }
}

TrackPoint point(double lat, std::int32_t playTick, bool stopped) {
    TrackPoint p;
    p.lat = lat;
    p.lon = kLon;
    p.playTick = playTick;
    p.stopped = stopped;
    return p;
}

// A live aircraft that stopped where its last point is.
LiveAc stopped(double lastLat = kLat, std::uint32_t hexId = kHex) {
    LiveAc a;
    a.callsign = "SWR" + std::to_string(hexId & 0xff);
    a.hexId = hexId;
    a.status = kAcInSim;
    a.state = kMoveFollowing;
    a.onGround = true;
    a.halfSpan = 15 * kNmPerMetre;
    a.taxiInSpeed = 10.0;
    a.latitude = lastLat;
    a.longitude = kLon;
    a.track = {point(lastLat, 100, false), point(lastLat, 200, true)};
    return a;
}

AiAc parkedStatic(std::uint32_t standIndex, std::uint32_t status, std::uint32_t hexId) {
    AiAc s;
    s.callsign = "STA" + std::to_string(hexId) + "*";
    s.hexId = hexId;
    s.status = status;
    s.objectId = status == kAcInSim ? 100 + hexId : 0;
    s.standIndex = standIndex;
    s.halfSpan = 15 * kNmPerMetre;
    return s;
}

class Parking : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override {
        fresh();
        g_standHooks = {};
    }
    // Empty lists, the stand hooks on the stands, the user aircraft on the ground far from every stand.
    static void fresh() {
        lf_clearAiLists();
        gf_resetLinkState();
        g_parkPositions.clear();
        g_reservedStand.clear();
        gf_installStandHooks();
        g_userOnGround = true;
        gf_forgetUserStand();
        std::lock_guard lock(g_userAcMutex);
        g_userAcFromSim.latitude = kLat + 1.0;
        g_userAcFromSim.longitude = kLon;
    }
    static bool parkedAt(const LiveAc& a, const std::string& id) {
        return a.state == kMoveToStand && a.standIndex != 0 && g_parkPositions[a.standIndex - 1].id == id;
    }
};

TEST_F(Parking, TheSameLastPointIsSearchedOnce) {
    setStands({{"A", 100}});
    g_liveAc.push_back(stopped());
    LiveAc& a = g_liveAc.back();
    try2Park(a, false);  // nothing within 20 m
    EXPECT_EQ(a.state, kMoveFollowing);
    g_parkPositions[0].latitude = north(10);
    try2Park(a, false);  // the same point: no second search
    EXPECT_EQ(a.state, kMoveFollowing);
    a.track.back().lat = north(1);
    try2Park(a, false);
    EXPECT_TRUE(parkedAt(a, "A"));
    EXPECT_EQ(a.previousState, kMoveFollowing);
    EXPECT_EQ(g_parkPositions[0].occupiedByLive, kHex);
}

TEST_F(Parking, TheSearchReachesFartherOnlyWhenWide) {
    struct Case {
        double metres;
        bool wide;
        bool parks;
    };
    const Case cases[] = {{15, false, true}, {40, false, false}, {40, true, true}, {60, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.metres << " m wide " << c.wide);
        fresh();
        setStands({{"A", c.metres}});
        g_liveAc.push_back(stopped());
        try2Park(g_liveAc.back(), c.wide);
        EXPECT_EQ(parkedAt(g_liveAc.back(), "A"), c.parks);
    }
}

TEST_F(Parking, TheReservedAndTheUsersStandAreNeverGiven) {
    for (const bool reserved : {true, false}) {
        SCOPED_TRACE(reserved);
        fresh();
        setStands({{"A", 10}});
        if (reserved) {
            g_reservedStand = "A";
        } else {
            std::lock_guard lock(g_userAcMutex);
            g_userAcFromSim.latitude = north(10);
        }
        g_liveAc.push_back(stopped());
        try2Park(g_liveAc.back(), true);
        EXPECT_EQ(g_liveAc.back().state, kMoveFollowing);
        EXPECT_EQ(g_parkPositions[0].occupiedByLive, 0u);
    }
}

TEST_F(Parking, StaticAircraftOnTheStandMakeWay) {
    struct Case {
        const char* name;
        std::uint32_t status;
        bool requestQueued;
        bool erased;
        std::uint32_t statusAfter;
        bool removeWhenCreated;
    };
    const Case cases[] = {
        {"queued creation withdrawn", kAcCreationQueued, true, true, kAcCreationQueued, false},
        {"sent creation removed once created", kAcCreationQueued, false, false, kAcCreationQueued, true},
        {"in the simulator removed", kAcInSim, false, false, kAcRemovalRequested, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        setStands({{"A", 10}});
        g_staticAc.push_back(parkedStatic(1, c.status, 7));
        if (c.requestQueued) {
            CreateAircraftRequest request;
            request.callsign = g_staticAc.back().callsign;
            request.hexid = 7;
            g_staticCreations.push_back(request);
        }
        g_liveAc.push_back(stopped());
        try2Park(g_liveAc.back(), false);
        ASSERT_TRUE(parkedAt(g_liveAc.back(), "A"));
        EXPECT_TRUE(g_staticCreations.empty());
        ASSERT_EQ(g_staticAc.empty(), c.erased);
        if (c.erased) continue;
        EXPECT_EQ(g_staticAc[0].status, c.statusAfter);
        EXPECT_EQ(g_staticAc[0].removeWhenCreated, c.removeWhenCreated);
    }
}

TEST_F(Parking, NeighboursGoOnlyWhenTheSpansCouldTouch) {
    // Half spans 15 m each: touching up to (15 + 15) x 1.1 = 33 m between the stands.
    struct Case {
        double neighbourMetres;
        bool removed;
    };
    for (const Case c : {Case{30, true}, Case{40, false}}) {
        SCOPED_TRACE(c.neighbourMetres);
        fresh();
        setStands({{"A", 5}, {"N", 5 + c.neighbourMetres}, {"M", 5 - c.neighbourMetres}});
        g_parkPositions[0].excluded = {2, 3};
        g_staticAc.push_back(parkedStatic(2, kAcInSim, 7));
        g_liveAc.push_back(stopped(kLat, 0x500000));
        g_liveAc.back().state = kMoveParked;
        g_liveAc.back().standIndex = 3;
        g_parkPositions[2].occupiedByLive = 0x500000;
        g_liveAc.push_back(stopped());
        try2Park(g_liveAc.back(), false);
        ASSERT_TRUE(parkedAt(g_liveAc.back(), "A"));
        const std::uint32_t expected = c.removed ? kAcRemovalRequested : kAcInSim;
        EXPECT_EQ(g_staticAc[0].status, expected);
        EXPECT_EQ(g_liveAc[0].status, expected);
        EXPECT_EQ(g_parkPositions[2].occupiedByLive, c.removed ? 0u : 0x500000u);
    }
}

TEST_F(Parking, AnAircraftArrivingAtTheStandItHoldsParksThere) {
    setStands({{"A", 10}});
    g_liveAc.push_back(stopped());
    try2Park(g_liveAc.back(), false);
    LiveAc& a = g_liveAc.back();
    ASSERT_TRUE(parkedAt(a, "A"));
    a.latitude = a.standLat;
    a.longitude = a.standLon;
    lf_arriveAtStand(a);
    EXPECT_EQ(a.state, kMoveParked);
    EXPECT_EQ(a.status, kAcInSim);
    EXPECT_EQ(g_parkPositions[0].occupiedByLive, kHex);

    // Another aircraft sent to the same stand meets the holder and gives way; the stand stays the holder's.
    LiveAc other = stopped(a.standLat, 0x500000);
    other.standIndex = 1;
    other.standLat = a.standLat;
    other.standLon = a.standLon;
    other.state = kMoveToStand;
    lf_arriveAtStand(other);
    EXPECT_EQ(other.status, kAcRemovalRequested);
    EXPECT_EQ(g_parkPositions[0].occupiedByLive, kHex);
}

// A new aircraft stopped 30 m from stand A: it is created there, the static aircraft on A making way, unless
// A is the reserved stand.
TEST_F(Parking, ANewAircraftStoppedNextToAStandIsCreatedOnIt) {
    const auto savedAirport = g_activeParkAirportPosition;
    g_activeParkAirportPosition = [] { return std::optional(GeoPosition{kLat, kLon}); };
    for (const bool reserved : {false, true}) {
        SCOPED_TRACE(reserved);
        fresh();
        setStands({{"A", 30}});
        g_parkPositions[0].heading = 2.0;
        if (reserved) g_reservedStand = "A";
        g_staticAc.push_back(parkedStatic(1, kAcInSim, 7));
        LiveAc a = stopped();
        a.status = kAcNotInSim;
        a.state = kMoveNew;
        a.title = "Swiss A320";
        spawnLiveAc(a);
        EXPECT_FALSE(a.eraseRequested);
        EXPECT_EQ(a.status, kAcCreationQueued);
        EXPECT_EQ(a.state, reserved ? kMoveNew : kMoveParked);
        EXPECT_EQ(g_parkPositions[0].occupiedByLive, reserved ? 0u : kHex);
        EXPECT_EQ(g_staticAc[0].status, reserved ? kAcInSim : kAcRemovalRequested);
        EXPECT_DOUBLE_EQ(a.latitude, reserved ? kLat : north(30));
    }
    g_activeParkAirportPosition = savedAirport;
}

TEST_F(Parking, ACargoAircraftParkedAtAStandMakesItACargoStandOnce) {
    setStands({{"C1", 0.0}});
    g_apfUpdates = 0;
    LiveAc a = stopped();
    a.cargo = true;
    a.standIndex = 1;
    lf_learnCargoStand(a);
    lf_learnCargoStand(a);  // already a cargo stand: nothing more
    EXPECT_EQ(g_parkPositions[0].cargo, 1);
    EXPECT_EQ(g_parkPositions[0].cargoChanged, 1);
    EXPECT_EQ(g_apfUpdates, 1u);
}

}  // namespace
