#include "injection/removal.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "injection/ai_update.h"
#include "injection/aircraft_lists.h"
#include "injection/services.h"
#include "simlink/link.h"
#include "support/test_support.h"

namespace {

constexpr std::int32_t kNow = 5000;
constexpr std::uint64_t kMinute = 600'000'000;  // 100 ns units

LiveAc live(const char* callsign, std::uint32_t status = kAcInSim, std::uint32_t objectId = 0,
            std::uint32_t state = kMoveFollowing, std::uint32_t hexId = 0x400000) {
    LiveAc a;
    a.callsign = callsign;
    a.hexId = hexId + static_cast<std::uint32_t>(g_liveAc.size());
    a.status = status;
    a.objectId = objectId;
    a.state = state;
    return a;
}

class Removal : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        gf_resetLinkState();
        gf_setAiTick(kNow);
        g_LOG.set(true);
        g_standHooks.markLive = [this](std::uint32_t i, bool on) {
            on ? void(marked.insert(i)) : void(marked.erase(i));
        };
        g_standHooks.place = [this](std::uint32_t i) {
            return places.contains(i) ? std::optional(places[i]) : std::nullopt;
        };
        g_standHooks.reservedIndex = [this] { return reserved; };
        gf_openLog(m_dir / "Log.txt");
    }
    void TearDown() override {
        gf_closeLog();
        g_standHooks = {};
        for (auto* s : {&g_LOG, &g_GUID_CHANGES, &g_INITIAL_LOAD_ONLY}) s->reset();
        g_parkAirportIata = nullptr;
        g_steadyClockOverride = nullptr;
        g_liveStayers.clear();
        lf_clearAiLists();
        gf_resetLinkState();
    }
    std::string log() { return testing_support::readWholeFile(m_dir / "Log.txt"); }

    std::set<std::uint32_t> marked;
    std::map<std::uint32_t, StandPlace> places;
    std::uint32_t reserved = 0;
    testing_support::TempDir m_dir;
};

TEST_F(Removal, RemovalFollowsHowFarTheCreationGot) {
    enum Queued { kNothing, kCreationId, kRequest };
    struct Case {
        const char* what;
        bool isStatic;
        std::uint32_t status, objectId;
        Queued queued;
        std::uint32_t statusAfter;
        bool erased;  // eraseRequested (live) or gone from the list (static)
        bool removeWhenCreated, queuedForRemoval, warning;
    };
    constexpr std::uint32_t kNew = kAcNotInSim, kQueued = kAcCreationQueued, kOut = kAcRemovalRequested;
    const Case cases[] = {
        {"never created", false, kNew, 0, kNothing, kNew, true, false, false, false},
        {"in the simulator", false, kAcInSim, 77, kNothing, kOut, false, false, true, false},
        {"creation id still to be built", false, kQueued, 0, kCreationId, kNew, true, false, false, false},
        {"request still queued", false, kQueued, 0, kRequest, kNew, true, false, false, false},
        {"request handed to the link", false, kQueued, 0, kNothing, kOut, false, true, false, false},
        {"static request still queued", true, kQueued, 0, kRequest, kNew, true, false, false, false},
        {"in the simulator without object", false, kAcInSim, 0, kNothing, kOut, false, false, false, true},
        {"respawning: its object went already", false, kAcRespawn, 77, kNothing, kOut, false, false, false, false},
        {"static leaving", true, kAcInSim, 77, kNothing, kOut, false, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        marked = {5};
        AiAc& ac = c.isStatic ? g_staticAc.emplace_back() : g_liveAc.emplace_back(live("A", c.status, c.objectId));
        ac.callsign = "A", ac.hexId = c.isStatic ? 3 : ac.hexId, ac.status = c.status, ac.objectId = c.objectId;
        ac.standIndex = 5;
        if (c.queued == kCreationId) g_creationIds.push_back(ac.hexId);
        if (c.queued == kRequest) (c.isStatic ? g_staticCreations : g_liveCreations).push_back({{}, "A", {}, ac.hexId});
        removeAircraftFromSim(ac);
        const AiAc* after = c.isStatic ? (g_staticAc.empty() ? nullptr : &g_staticAc[0]) : &ac;
        EXPECT_EQ(c.isStatic ? after == nullptr : ac.eraseRequested, c.erased);
        if (after != nullptr) {
            EXPECT_EQ(after->status, c.statusAfter);
            EXPECT_EQ(after->removeWhenCreated, c.removeWhenCreated);
        }
        EXPECT_EQ(g_removals.size(), c.queuedForRemoval ? 1u : 0u);
        EXPECT_TRUE(g_creationIds.empty() && g_liveCreations.empty() && g_staticCreations.empty());
        EXPECT_EQ(log().find("objectid=0") != std::string::npos, c.warning);
        // The occupied-by-live mark is freed at once, and only by a live aircraft.
        EXPECT_EQ(marked.contains(5), c.isStatic || c.status == kAcNotInSim);
    }
}

TEST_F(Removal, RemoveAllKeepsWhatTheSimulatorMustConfirm) {
    g_liveAc = {live("IN", kAcInSim, 10), live("QUEUED", kAcCreationQueued), live("SENT", kAcCreationQueued),
                live("NEW", kAcNotInSim)};
    g_liveCreations.push_back({{}, "QUEUED", {}, 0});
    gf_removeAllLiveAc();
    ASSERT_EQ(g_liveAc.size(), 2u);
    EXPECT_EQ(g_liveAc[0].callsign, "IN");
    EXPECT_EQ(g_liveAc[1].callsign, "SENT");
    EXPECT_TRUE(g_liveAc[1].removeWhenCreated);
    EXPECT_EQ(std::vector(g_removals.begin(), g_removals.end()), std::vector<std::uint32_t>{10});
}

TEST_F(Removal, GhostGivesWayAndIsRemembered) {
    g_liveAc = {live("DLH4_", kAcInSim, 12), live("BAW1", kAcInSim, 13)};
    EXPECT_TRUE(lf_isGhostOfLive("BAW1_"));
    EXPECT_FALSE(lf_isGhostOfLive("DLH4"));
    lf_checkGhost("DLH4");
    EXPECT_EQ(g_liveAc[0].status, kAcRemovalRequested);
    EXPECT_EQ(g_ghostCallsigns, std::vector<std::string>{"DLH4_"});
    EXPECT_NE(log().find("DLH4_    is a ghost and will be removed, continue with DLH4"), std::string::npos);
    removeAircraftFromSim(g_liveAc[1]);
    EXPECT_FALSE(lf_isGhostOfLive("BAW1_"));  // one being removed is no longer there to be ghosted
}

TEST_F(Removal, StandConflictKeepsTheRightAircraft) {
    struct Case {
        const char* standing;
        bool confirmed;
        const char* newcomer;
        std::uint32_t stand;
        bool tookPart, ok, removed;
    };
    const Case cases[] = {
        {"X", false, "X_", 4, true, false, false},  // the newcomer is the ghost
        {"X_", false, "X", 4, true, true, true},    // the standing one is the ghost
        {"X", false, "X", 4, true, true, true},
        {"DLH1", true, "BAW2", 4, true, false, false},
        {"DLH1", false, "BAW2", 4, true, true, true},
        {"DLH1", false, "DLH12", 4, true, true, true},  // one more character is not a ghost
        {"DLH1", false, "BAW2", 0, false, true, false},  // no stand
        {"DLH1", false, "BAW2", 6, false, true, false},  // another stand
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.standing) + " / " + c.newcomer);
        LiveAc b = live(c.standing, kAcInSim, 3, kMoveParked);
        b.standIndex = c.stand == 0 ? 0 : 4;
        b.standConfirmed = c.confirmed;
        StandConflict conflict{true, c.stand, c.newcomer};
        EXPECT_EQ(lf_resolveStandConflict(conflict, b), c.tookPart);
        EXPECT_EQ(conflict.ok, c.ok);
        EXPECT_EQ(b.status == kAcRemovalRequested, c.removed);
    }
}

TEST_F(Removal, NeighboursAndReservedStandNeedARealStand) {
    places = {{3, {47.0, 8.0, 0.0}}, {4, {47.0, 8.0, 0.0}}, {5, {48.0, 8.0, 0.0}}};
    g_liveAc = {live("ZERO", kAcInSim, 1, kMoveParked), live("FAR", kAcInSim, 2, kMoveParked),
                live("NEAR", kAcInSim, 3, kMoveParked)};
    g_liveAc[1].standIndex = 5;
    g_liveAc[2].standIndex = 3;
    const LiveAc newcomer = live("NEW", kAcNotInSim);
    EXPECT_EQ(lf_findLiveAtStand({0, 5, 3}, {4, newcomer}), 2u);
    EXPECT_EQ(lf_findLiveAtStand({0, 5}, {4, newcomer}), 2u);  // none in the way

    gf_removeAcAtReservedStand();  // no reserved stand: the aircraft without a stand stays
    EXPECT_EQ(g_liveAc[0].status, kAcInSim);
    reserved = 3;
    gf_removeAcAtReservedStand();
    EXPECT_EQ(g_liveAc[2].status, kAcRemovalRequested);
}

TEST_F(Removal, ParkedLiveAircraftStayForTheirTime) {
    struct Case {
        std::uint64_t minutes;
        ModelCategory category;
        bool confirmed, initialLoadOnly, stays;
    };
    const Case cases[] = {
        {90, kCatLarge, false, false, true},  {91, kCatLarge, false, false, false},
        {180, kCatHeavy, false, false, true}, {181, kCatHeavy, false, false, false},
        {91, kCatLarge, false, true, true},   {500, kCatLarge, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.minutes);
        lf_clearAiLists();
        g_INITIAL_LOAD_ONLY.set(c.initialLoadOnly);
        LiveAc a = live("P", kAcInSim, 4, kMoveParked);
        a.category = c.category;
        a.standConfirmed = c.confirmed;
        a.standIndex = 2;
        a.parkedSince = 1000 * kMinute;
        g_steadyClockOverride = [&] { return (1000 + c.minutes) * kMinute + kMinute / 2; };
        g_liveAc.push_back(a);
        gf_collectLiveStayers();
        EXPECT_EQ(g_liveStayers.size(), c.stays ? 1u : 0u);
        EXPECT_EQ(g_liveAc[0].status == kAcRemovalRequested, !c.stays);
        if (c.stays) {
            EXPECT_EQ(g_liveStayers[0].minutesParked, c.confirmed ? 0 : static_cast<std::int32_t>(c.minutes));
        }
    }
}

TEST_F(Removal, RespawnTakesOverIdentityOrCreatesAgain) {
    struct Case {
        const char* what;
        bool guidChanges;
        const char *callsign, *origin, *destination, *parkIata;
        bool merge, respawned;
        const char* callsignAfter;
    };
    const Case cases[] = {
        {"new callsign, GUID_CHANGES off", false, "NEW1", "", "", "", true, false, "NEW1"},
        {"new callsign, GUID_CHANGES on", true, "NEW1", "", "", "", false, true, "NEW1"},
        {"one end of the route only", true, "", "ZRH", "MUC", "", true, false, "OLD1"},
        {"return leg shown at the park airport", true, "", "LHR", "FRA", "FRA", true, false, "OLD1"},
        {"new route", true, "", "LHR", "JFK", "", false, true, "OLD1"},
        {"ghost of a live aircraft", true, "OTHER_", "", "", "", false, false, "OTHER_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lf_clearAiLists();
        g_liveAc.push_back(live("OTHER"));
        g_parkAirportIata = [&] { return std::string(c.parkIata); };
        g_GUID_CHANGES.set(c.guidChanges);
        LiveAc a = live("OLD1", kAcInSim, 21);
        a.origin = "FRA", a.destination = "MUC", a.latitude = 47.5, a.heading = 1.0;
        a.track = {TrackPoint{}, TrackPoint{}};
        TrafficRecord r;
        r.callsign = c.callsign, r.origin = c.origin, r.destination = c.destination;
        EXPECT_EQ(lf_respawn(a, r), c.merge);
        EXPECT_EQ(a.callsign, c.callsignAfter);
        EXPECT_EQ(a.status, c.respawned ? kAcRespawn : kAcInSim);
        EXPECT_EQ(g_removals.size(), c.respawned ? 1u : 0u);
        if (c.respawned) {  // created again where it is now, with its heading
            EXPECT_EQ(a.track.size(), 3u);
            EXPECT_EQ(a.track.front().playTick, kNow + 1);
            EXPECT_EQ(a.track.front().lat, 47.5);
            EXPECT_EQ(a.respawnHeading, 1.0);
        }
    }
}

TEST_F(Removal, DuplicatesOfALiveAircraft) {
    struct Case {
        const char* what;
        std::function<void(LiveAc&, AiAc&)> setup;
        bool duplicate;
    };
    const std::vector<Case> cases = {
        {"same parked hex id", [](LiveAc& l, AiAc& s) { s.placementKind = 0, s.parkedHexId = l.hexId; }, true},
        {"same registration", [](LiveAc& l, AiAc& s) { l.registration = s.registration = "D-AIBC"; }, true},
        {"same callsign", [](LiveAc& l, AiAc& s) { s.callsignCopy = l.callsign; }, true},
        {"coupled spare", [](LiveAc& l, AiAc& s) { l.spare = s.spare = "CPL9"; }, true},
        {"ghost callsign", [](LiveAc& l, AiAc& s) { s.callsignCopy = l.callsign, l.callsign += "_"; }, true},
        {"not in the simulator", [](LiveAc& l, AiAc& s) { s.callsignCopy = l.callsign, s.status = 1; }, false},
        {"nothing given", [](LiveAc&, AiAc&) {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LiveAc l = live("DLH4");
        AiAc s;
        s.callsign = "DLH4*", s.status = kAcInSim, s.hexId = 7;
        c.setup(l, s);
        EXPECT_EQ(gf_checkDuplicates({l, l.callsign.substr(0, l.callsign.size() - 1), true}, s), c.duplicate);
    }
    EXPECT_NE(log().find("\"DLH4 \" removed, new DLH4 on ground \"DLH4 \" has same callsign"), std::string::npos);
}

}  // namespace
