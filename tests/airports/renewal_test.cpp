#include "airports/renewal.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "airports/services.h"
#include "airports/static_parking.h"
#include "frame/display.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/removal.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"

namespace {

constexpr double kLat = 47.45, kLon = 8.55;
constexpr std::time_t kWednesday1015 = 1704276900;  // 2024-01-03 10:15 UTC: weekday 3, half-hour 20

std::vector<std::string> g_messages;
void lf_recordMessage(std::string_view text, bool) { g_messages.emplace_back(text); }

WeekSlot slot(std::uint32_t weekday, std::uint32_t halfHour) { return gf_makeWeekSlot(halfHour, weekday); }

ParkPosOption option(std::uint32_t day, std::vector<std::uint32_t> halfHours, std::string cs1 = "KLM1",
                     std::string airline = "KLM") {
    ParkPosOption o;
    o.airline = std::move(airline), o.type = "B738", o.callsign1 = std::move(cs1), o.day = day, o.real = 1;
    for (const std::uint32_t h : halfHours) o.halfHours.set(h);
    return o;
}

ParkingEntry entry(std::uint32_t standIndex, std::uint32_t offset) {
    ParkingEntry e;
    e.standIndex = standIndex, e.offset = offset;
    return e;
}

// Stands 1 km apart, numbered from 1; each option gets an id.
void setStands(std::vector<std::vector<ParkPosOption>> options) {
    g_parkPositions.clear();
    for (std::size_t i = 0; i < options.size(); ++i) {
        for (std::size_t k = 0; k < options[i].size(); ++k) options[i][k].id = static_cast<std::uint32_t>(k + 1);
        g_parkPositions.emplace_back(std::string(1, static_cast<char>('A' + i)), options[i], kLat + 0.01 * i, kLon,
                                     0.0, 30.0, false, false, false);
        g_parkPositions.back().index = static_cast<std::uint32_t>(i + 1);
    }
}

// A static aircraft in the simulator, placed from the statistics unless `kind` says 0.
AiAc& addStatic(std::uint32_t standIndex, WeekSlot placed, std::string callsign = "KLM1*", std::uint32_t kind = 1) {
    AiAc& s = g_staticAc.emplace_back();
    s.callsign = std::move(callsign), s.callsignCopy = "KLM1", s.airline = "KLM", s.type = "B738";
    s.standIndex = standIndex, s.standLat = kLat + 0.01 * (standIndex - 1), s.standLon = kLon;
    s.placedSlot = placed, s.placementKind = kind, s.status = kAcInSim;
    s.objectId = 100 + static_cast<std::uint32_t>(g_staticAc.size());
    return s;
}

LiveAc& addParkedLive(std::uint32_t standIndex, std::uint32_t state = kMoveParked) {
    LiveAc& a = g_liveAc.emplace_back();
    const auto n = static_cast<std::uint32_t>(g_liveAc.size());
    a.callsign = "LIVE" + std::to_string(n), a.hexId = 0x400000 + n, a.objectId = 500 + n;
    a.standIndex = standIndex, a.state = state, a.status = kAcInSim, a.standConfirmed = true;
    return a;
}

class Renewal : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        g_parkPositions.clear();
        g_parkingList.clear();
        g_staticRemovals.clear();
        g_staticStayers.clear();
        g_liveStayers.clear();
        g_seenCallsigns.clear();
        g_seenHexIds.clear();
        g_trafficClient.parkedRecords.clear();
        g_reservedStand.clear();
        g_parkAirportCode = "EHAM";
        g_standFileLoaded = false;
        g_userOnGround = false;
        g_realOffsetShown = 0;
        g_softOffsetShown = -1;
        g_INITIAL_LOAD_ONLY.set(false);
        g_RT_PARKTRAFFIC_ONLY.set(false);
        SlotClock clock;
        clock.now = [] { return kWednesday1015; };
        gf_setSlotClock(clock);
        g_weekSlotNow = slot(3, 20);
        g_messages.clear();
        gf_setStatusLineHooks({.showMessage = lf_recordMessage});
        wanted(0);
    }
    void TearDown() override {
        gf_setStatusLineHooks({});
        gf_setSlotClock({});
        gf_setRenewalServices({});
    }
    static void wanted(std::int64_t n, bool parkedTraffic = false) {
        gf_setRenewalServices({.wantedStaticCount = [n] { return n; },
                               .fetchParkedTraffic = [parkedTraffic] { return parkedTraffic; }});
    }
};

TEST_F(Renewal, TheRenewalKeepsWhatStillFitsAndRemovesTheRest) {
    struct Case {
        std::vector<std::uint32_t> secondHalfHours;
        std::string secondSpare;  // the flight's other callsign: with it, one leaving next half-hour is replaced
        std::string message;
        bool secondStays;
    };
    const std::vector<Case> cases{
        {{19, 20}, "", "Parking adjustments: 0 to be removed, 0 to be added\n", true},
        {{10}, "", "Parking adjustments: 1 to be removed, 0 to be added\n", false},
        {{19, 20}, "KLM3", "Parking adjustments: 1 to be removed, 1 to be added\n", false},
    };
    for (const Case& c : cases) {
        SetUp();
        setStands({{option(3, {20, 21})}, {option(3, c.secondHalfHours, "KLM2")}});
        g_parkPositions[1].options[0].id = 0;  // withdrawn by an earlier search: renumbering brings it back
        addStatic(1, slot(3, 18));
        AiAc& second = addStatic(2, slot(3, 19), "KLM2*");
        second.callsignCopy = "KLM2", second.spare = c.secondSpare;
        wanted(2);
        lf_adjustParking(false);
        EXPECT_EQ(g_messages.back(), c.message);
        EXPECT_EQ(g_staticAc[0].status, kAcInSim);
        EXPECT_EQ(g_staticAc[1].status, c.secondStays ? kAcInSim : kAcRemovalRequested);
        if (c.secondSpare.empty()) continue;
        ASSERT_EQ(g_parkingList.size(), 1u);
        const ParkingEntry& e = g_parkingList[0];
        EXPECT_EQ(e.offset, 1u);  // placed again, it keeps the time it was placed at
        EXPECT_EQ(e.callsign1 + "/" + e.callsign2 + "/" + std::to_string(e.staysNextSlot), "KLM2/KLM3/0");
    }
}

TEST_F(Renewal, EntriesFromParkedTrafficCountOnceWhenTheStatisticsFillUp) {
    setStands({{option(3, {20})}, {option(3, {20}, "KLM2")}, {}});
    addStatic(1, slot(3, 18));
    ParkedTrafficRecord r;
    r.callsign = "DLH1", r.airline = "DLH", r.type = "A320", r.hexid = 0x3c0001, r.latitude = kLat + 0.02;
    r.longitude = kLon;
    g_trafficClient.parkedRecords = {r};
    wanted(3, true);
    lf_adjustParking(false);
    EXPECT_EQ(g_messages.back(), "Parking adjustments: 0 to be removed, 2 to be added\n");
}

TEST_F(Renewal, AStaticKeepsItsStandWhileAnOptionCoversNowAndNoNewerEntryWantsIt) {
    struct Case {
        WeekSlot now, placed;
        std::int32_t window, entryOffset;  // entry of another aircraft at the stand, -1: none
        ParkPosOption option;
        bool seenLive, reserved, stays;
    };
    const std::vector<Case> cases{
        {slot(3, 20), slot(3, 20), 0, -1, option(3, {20}), false, false, true},
        {slot(3, 20), slot(3, 20), 0, -1, option(3, {19}), false, false, false},
        {slot(3, 20), slot(3, 20), 2, -1, option(3, {18}), false, false, true},
        {slot(3, 20), slot(3, 20), 2, -1, option(3, {17}), false, false, false},
        {slot(1, 1), slot(1, 1), 3, -1, option(7, {46}), false, false, true},  // back over the week's end
        {slot(1, 1), slot(1, 1), 3, -1, option(7, {45}), false, false, false},
        {slot(3, 20), slot(3, 20), 0, -1, option(3, {20}, "KLM1", "TRA"), false, false, false},  // other airline
        {slot(3, 20), slot(3, 20), 0, -1, option(3, {20}), true, false, false},  // its flight is live now
        {slot(3, 20), slot(3, 20), 0, -1, option(3, {20}), false, true, false},  // the reserved stand stays free
        {slot(1, 10), slot(6, 40), 0, 2, option(1, {10}), false, false, false},  // seen Monday, placed Saturday
        {slot(1, 2), slot(7, 46), 0, 5, option(1, {2}), false, false, true},     // seen before it was placed
        {slot(1, 2), slot(1, 0), 0, 2, option(1, {2}), false, false, true},      // seen when it was placed
    };
    for (const Case& c : cases) {
        SetUp();
        setStands({{c.option}});
        addStatic(1, c.placed);
        if (c.entryOffset >= 0) g_parkingList = {entry(1, static_cast<std::uint32_t>(c.entryOffset))};
        g_realOffsetShown = c.window;
        if (c.seenLive) g_seenCallsigns.insert("KLM1");
        if (c.reserved) g_reservedStand = "A";
        lf_reviewStatics(c.now);
        const std::size_t i = &c - cases.data();
        EXPECT_EQ(g_staticAc[0].status, c.stays ? kAcInSim : kAcRemovalRequested) << i;
        EXPECT_EQ(g_staticStayers.size(), c.stays ? 1u : 0u) << i;
        EXPECT_TRUE(c.entryOffset < 0 || g_parkingList.empty() == c.stays) << i;
    }
}

TEST_F(Renewal, StayersAreOrderedByAgeAndTheSurplusTakesTheYoungest) {
    const WeekSlot now = slot(2, 20);
    setStands({{option(2, {20})}, {option(2, {20})}, {option(2, {20})}});
    addStatic(1, slot(7, 40), "SUN*");
    addStatic(2, slot(2, 5), "TUE*");
    addStatic(3, slot(1, 10), "MON*");
    lf_reviewStatics(now);
    ASSERT_EQ(g_staticStayers.size(), 3u);
    EXPECT_EQ(g_staticStayers[0].callsign, "SUN*");
    EXPECT_EQ(g_staticStayers[1].callsign, "MON*");
    EXPECT_EQ(g_staticStayers[2].callsign, "TUE*");
    lf_dropSurplus(2, 0);
    ASSERT_EQ(g_staticRemovals.size(), 1u);
    EXPECT_EQ(g_staticRemovals[0].callsign, "TUE*");
}

TEST_F(Renewal, TheSurplusComesFromEntriesThenStaticsThenLiveUnlessInitialLoadOnly) {
    struct Case {
        std::int64_t wanted;
        bool initialLoadOnly;
        std::size_t entriesLeft, staticsRemoved, liveRemoved;
    };
    const std::vector<Case> cases{
        {5, false, 1, 0, 0},
        {1, true, 0, 2, 0},
        {1, false, 0, 2, 1},
        {0, false, 0, 2, 0},  // nothing wanted: the live traffic stays all the same
    };
    for (const Case& c : cases) {
        SetUp();
        g_INITIAL_LOAD_ONLY.set(c.initialLoadOnly);
        g_parkingList = {entry(3, 4), entry(4, 1)};
        g_staticStayers.resize(2);
        addParkedLive(1);
        addParkedLive(2);
        g_liveStayers = {{"LIVE1", 1, 0}, {"LIVE2", 2, 0}};
        lf_dropSurplus(c.wanted, 0);
        const std::size_t i = &c - cases.data();
        EXPECT_EQ(g_parkingList.size(), c.entriesLeft) << i;
        EXPECT_TRUE(g_parkingList.empty() || g_parkingList[0].offset == 1u) << i;  // the best fit stays
        EXPECT_EQ(g_staticRemovals.size(), c.staticsRemoved) << i;
        EXPECT_EQ(g_removals.size(), c.liveRemoved) << i;
    }
}

TEST_F(Renewal, InitialLoadOnlyKeepsMoreParkedLiveAircraftThanWanted) {
    setStands({{}, {}});
    g_INITIAL_LOAD_ONLY.set(true);
    addParkedLive(1);
    addParkedLive(2);
    wanted(1);
    lf_adjustParking(false);
    EXPECT_TRUE(g_removals.empty());
}

TEST_F(Renewal, AFailedParkedTrafficQueryKeepsTheStaticsPlacedFromIt) {
    for (const bool parkTrafficOnly : {false, true}) {
        for (const bool throws : {false, true}) {
            SetUp();
            g_RT_PARKTRAFFIC_ONLY.set(parkTrafficOnly);
            setStands({{}, {}});
            addStatic(1, slot(3, 10), "PT1*", 0).parkedHexId = 0x4840d6;
            const auto fails = [throws] {
                return throws ? throw std::runtime_error("No data for this license type") : false;
            };
            gf_setRenewalServices({.wantedStaticCount = [] { return std::int64_t{0}; }, .fetchParkedTraffic = fails});
            lf_adjustParking(false);
            EXPECT_EQ(g_staticAc[0].status, kAcInSim) << parkTrafficOnly << throws;
            EXPECT_TRUE(g_staticRemovals.empty()) << parkTrafficOnly << throws;
        }
    }
}

TEST_F(Renewal, ClearingKeepsTheLiveAircraftThatAreNotParkedOrLeaving) {
    setStands({{}, {}});
    addStatic(1, slot(3, 10));
    g_parkingList = {entry(2, 0)};
    for (const std::uint32_t state : {kMoveAirborne, kMoveToStand, kMoveNew, kMoveParked, kMoveFollowing}) {
        addParkedLive(2, state);
    }
    g_maxLiveInForce = g_MAX_LIVE.value();
    lf_clearStaticParking();
    EXPECT_EQ(g_staticAc[0].status, kAcRemovalRequested);
    ASSERT_EQ(g_liveAc.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(g_liveAc[i].status, i < 3 ? kAcInSim : kAcRemovalRequested) << i;
    EXPECT_EQ(g_liveAc[3].standIndex, 0u);
    EXPECT_TRUE(g_parkingList.empty());
    EXPECT_TRUE(g_parkPositions.empty());
    EXPECT_TRUE(g_parkAirportCode.empty());
}

}  // namespace
