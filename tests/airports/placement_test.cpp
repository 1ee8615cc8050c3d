#include "airports/placement.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "airports/parking.h"
#include "airports/services.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/removal.h"
#include "injection/stand_hooks.h"
#include "liveries/livery_index_test_env.h"
#include "window/main_window.h"

namespace {

const WeekSlot kMonday0100 = gf_makeWeekSlot(2, 1);

ParkingEntry entry(std::uint32_t stand, std::string cs1 = "SWR12", std::string cs2 = {}, std::uint8_t stays = 0) {
    return {.standIndex = stand, .airline = "SWR", .type = "A320", .callsign1 = std::move(cs1),
            .callsign2 = std::move(cs2), .registration = {}, .staysNextSlot = stays};
}

LiveAc live(std::uint32_t hexId, std::uint32_t stand, std::uint32_t state, std::uint64_t parkedSeconds = 0) {
    LiveAc a;
    a.hexId = hexId;
    a.callsign = "LIV" + std::to_string(hexId & 0xff);
    a.standIndex = stand;
    a.state = state;
    a.status = kAcInSim;
    a.objectId = hexId & 0xff;
    a.parkedSince = (10'000 - parkedSeconds) * 10'000'000;
    return a;
}

AiAc parked(std::uint32_t hexId, std::uint32_t stand, std::uint32_t status, WeekSlot placed = 0) {
    AiAc s;
    s.hexId = hexId;
    s.callsign = "STA" + std::to_string(hexId) + "*";
    s.standIndex = stand;
    s.status = status;
    s.objectId = 500 + hexId;
    s.placedSlot = placed;
    return s;
}

// Stands A and B overlap, C stands apart; one livery, SWR A320.
class Placement : public testing_support::LiveryWorld {
protected:
    void SetUp() override {
        LiveryWorld::SetUp();
        build({testing_support::livery("SWR", "A320", "Swiss A320")});
        g_MATCHING_DEPTH.set(2);
        g_LOG.set(true);
        lf_clearAiLists();
        g_staticCounter = 0;
        g_weekSlotNow = kMonday0100;
        g_steadyClockOverride = [] { return std::uint64_t{10'000} * 10'000'000; };
        for (const char* id : {"A", "B", "C"}) {
            g_parkPositions.emplace_back(id, std::vector<ParkPosOption>{}, 47.45 + g_parkPositions.size() * 0.001, 8.55,
                                         1.0, 30.0, false, false, false);
            g_parkPositions.back().index = static_cast<std::uint32_t>(g_parkPositions.size());
        }
        g_parkPositions[0].excluded = {2};
        g_parkPositions[1].excluded = {1};
        gf_installStandHooks();
    }
    void TearDown() override {
        lf_clearAiLists();
        g_parkPositions.clear();
        g_parkingList.clear();
        g_standHooks = {};
        g_steadyClockOverride = nullptr;
        LiveryWorld::TearDown();
    }
};

TEST(StaticCallsign, TheChosenCallsignLosesItsUnderscoresAndEndsInOneStar) {
    const std::vector<std::pair<ParkingEntry, std::string>> cases = {
        {entry(1, "SWR12", "EDW3_", 0), "EDW3*"},  {entry(1, "SWR12", "EDW3_", 1), "SWR12*"},
        {entry(1, "SWR12", "", 0), "SWR12*"},      {entry(1, "SWR12*", "", 1), "SWR12*"},
        {entry(1, "AB__", "", 1), "AB*"},          {entry(1, "", "", 1), ""},
    };
    for (const auto& [e, expected] : cases) EXPECT_EQ(lf_detcs(e), expected) << e.callsign1 << "/" << e.callsign2;
}

TEST_F(Placement, AnEntryIsDroppedWhenItsStandOrAnOverlappingOneIsInUse) {
    const std::vector<std::tuple<std::function<void()>, std::uint32_t, std::string>> cases = {
        {[] { g_liveAc.push_back(live(0x400001, 1, kMoveToStand)); }, 1,
         "A       : no static parking for SWR12, live aircraft LIV1 standing here"},
        {[] { g_liveAc.push_back(live(0x400002, 2, kMoveParked)); }, 1,
         "A       : no static parking for SWR12, live aircraft LIV2 is adjacent at B, possibly colliding"},
        {[] { g_staticAc.push_back(parked(7, 2, kAcCreationQueued)); }, 1,
         "A       : no static parking for SWR12, static aircraft STA7* is adjacent at B, possibly colliding"},
        {[] {}, 9, "===> stand with id unknown not found"},
        {[] { g_liveAc.push_back(live(0x400003, 1, kMoveFollowing)); }, 1, ""},  // only taxiing past: placed
        {[] { g_staticAc.push_back(parked(8, 3, kAcInSim)); }, 1, ""},
    };
    for (const auto& [arrange, stand, logLine] : cases) {
        SCOPED_TRACE(logLine);
        lf_clearAiLists();
        arrange();
        const std::size_t before = g_staticAc.size();
        g_parkingList = {entry(stand)};
        lf_parkStatic();
        EXPECT_TRUE(g_parkingList.empty());
        EXPECT_EQ(g_staticAc.size(), before + (logLine.empty() ? 1 : 0));
        EXPECT_EQ(g_staticCreations.size(), logLine.empty() ? 1u : 0u);
        if (!logLine.empty()) {
            EXPECT_TRUE(logHas(logLine));
        }
    }
}

TEST_F(Placement, APlacedStaticCarriesItsIdentityAndItsCreationRequest) {
    ParkingEntry fromTraffic = entry(3, "");
    fromTraffic.hexId = 0x4b1234;
    fromTraffic.offset = 3;
    ParkingEntry fromOptions = entry(2, "SWR12", "EDW3_");
    fromOptions.fromOptions = 1;
    ParkingEntry noLivery = entry(1);
    noLivery.type = "B744";
    g_parkingList = {fromOptions, noLivery, fromTraffic};  // taken from the back
    g_staticCounter = 9999;
    for (int i = 0; i < 3; ++i) lf_parkStatic();

    ASSERT_EQ(g_staticAc.size(), 2u);  // no livery: nothing stays behind, but the counter moved on
    const AiAc& first = g_staticAc[0];
    EXPECT_EQ(first.callsign, "SWR0*");  // the counter wrapped to 0
    EXPECT_EQ(first.parkedHexId, 0x4b1234u);
    EXPECT_EQ(first.placementKind, 0u);
    EXPECT_EQ(first.placedSlot, gf_makeWeekSlot(47, 7));  // Monday 01:00 less 3 half-hours
    EXPECT_EQ(first.status, kAcCreationQueued);
    const AiAc& second = g_staticAc[1];
    EXPECT_EQ(second.callsign + second.callsignCopy + second.spare, "EDW3*SWR12EDW3_");
    EXPECT_EQ(second.hexId, 2u);
    EXPECT_EQ(second.placedSlot, kMonday0100);
    ASSERT_EQ(g_staticCreations.size(), 2u);
    const CreateAircraftRequest& request = g_staticCreations.front();
    EXPECT_EQ(request.callsign + "|" + std::string(request.containerTitle), "SWR0*|Swiss A320");
    EXPECT_EQ(request.hexid, 0u);
    EXPECT_DOUBLE_EQ(request.position.latitude, g_parkPositions[2].latitude);
    EXPECT_DOUBLE_EQ(request.position.heading, 57.29577951308232);
    EXPECT_EQ(request.position.onGround, 1u);
}

TEST_F(Placement, MaxParkRemovesTheLongestParkedLiveAndTheOldestStatic) {
    struct Case {
        const char* what;
        std::int32_t wanted;
        bool initialLoadOnly, parkTrafficOnly;
        std::int32_t extra;
        std::size_t statics;  // of Monday 00:30 and Sunday 23:30, the older over the week's end
        bool liveGoes, staticGoes;
    };
    const std::vector<Case> cases = {
        {"over the limit", 2, false, false, 0, 1, true, true},
        {"one spawned parked counts", 3, false, false, 1, 0, true, false},
        {"at the limit", 3, false, false, 0, 0, false, false},
        {"wanted 0 keeps the live, not the static", 0, false, false, 0, 2, false, true},
        {"initial load only keeps the live", 2, true, false, 0, 2, false, true},
        {"room for all", 5, false, false, 0, 2, false, false},
        {"park traffic only", 0, false, true, 0, 2, false, false},
    };
    const std::vector<WeekSlot> placed = {gf_makeWeekSlot(1, 1), gf_makeWeekSlot(47, 7)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lf_clearAiLists();
        g_mainWindow.g_wantedStatics = c.wanted;
        g_INITIAL_LOAD_ONLY.set(c.initialLoadOnly);
        g_RT_PARKTRAFFIC_ONLY.set(c.parkTrafficOnly);
        for (std::uint32_t i = 0; i < 3; ++i) g_liveAc.push_back(live(0x400010 + i, 1, kMoveParked, i == 1 ? 9000 : 500));
        for (std::size_t i = 0; i < c.statics; ++i) g_staticAc.push_back(parked(20 + i, 3, kAcInSim, placed[i]));

        gf_checkMaxPark(c.extra);  // through the injection's hook
        for (const LiveAc& l : g_liveAc) EXPECT_EQ(l.status == kAcRemovalRequested, c.liveGoes && l.hexId == 0x400011);
        for (const AiAc& s : g_staticAc) {
            EXPECT_EQ(s.status == kAcRemovalRequested, c.staticGoes && s.placedSlot == placed[c.statics - 1]);
        }
    }
    EXPECT_TRUE(logHas("A: LIV17    max park exceeded, removed"));
    EXPECT_EQ(gf_standName(0) + "|" + gf_standName(9), "sid==0?|unknown");
}

}  // namespace
