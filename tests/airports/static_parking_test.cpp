#include "airports/static_parking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "airports/renewal.h"
#include "airports/services.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "liveries/database.h"
#include "support/program_env.h"
#include "trafficservice/clients.h"
#include "window/main_window.h"

namespace {

constexpr double kLat = 47.45, kLon = 8.55, kMetresPerDegree = 111132.95;
constexpr std::time_t kNow = 1733580000;  // Sat 7 Dec 2024 14:00 UTC: weekday 6, half-hour 28
constexpr std::uint32_t kSat = 6, kSun = 7, kMon = 1;

WeekSlot slot(std::uint32_t weekday, std::uint32_t halfHour) { return gf_makeWeekSlot(halfHour, weekday); }

// Stands 60 m apart along the meridian (none overlaps); stand i gets a real option of Saturday at halfHours[i].
void setStands(std::size_t count, const std::vector<std::uint32_t>& halfHours = {}) {
    g_parkPositions.clear();
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<ParkPosOption> options;
        if (i < halfHours.size()) {
            const std::string n = std::to_string(i);
            ParkPosOption& o = options.emplace_back();
            o.airline = "SWR";
            o.type = "A320";
            o.registration = "HB-" + n;
            o.callsign1 = "SWR" + n;
            o.halfHours.set(halfHours[i]);
            o.id = 1;
            o.day = kSat;
            o.real = 1;
        }
        g_parkPositions.emplace_back("S" + std::to_string(i), std::move(options), kLat + 60.0 * i / kMetresPerDegree,
                                     kLon, 0.0, 20.0, false, false, false);
        g_parkPositions.back().index = static_cast<std::uint32_t>(i + 1);
    }
}

ParkedTrafficRecord parked(std::uint32_t hex, const std::string& callsign, double metresNorth, std::uint32_t age = 0) {
    ParkedTrafficRecord r;
    r.hexid = hex;
    r.callsign = callsign;
    r.type = "A320";
    r.airline = "SWR";
    r.latitude = kLat + metresNorth / kMetresPerDegree;
    r.longitude = kLon;
    r.slot = age;
    return r;
}

class StaticParking : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        reset();
        SlotClock clock;
        clock.now = [] { return kNow; };
        gf_setSlotClock(clock);
        g_weekSlotNow = gf_weekSlot();
        g_knownModels = g_largeModels = {"A320"};
        g_wingspans = {{"A320", 17.0 / 1852.0}};
        gf_seedWorkRandom(7);
        gf_setParkedTrafficSource([] { return true; });
    }
    void TearDown() override {
        gf_setParkedTrafficSource({});
        gf_setSlotClock({});
        reset();
        g_knownModels.clear();
        g_largeModels.clear();
        g_wingspans.clear();
        ProgramEnv::TearDown();
    }
    static void reset() {
        g_parkPositions.clear();
        g_parkingList.clear();
        g_staticRemovals.clear();
        g_seenCallsigns.clear();
        g_seenHexIds.clear();
        g_trafficClient.parkedRecords.clear();
        g_parkingBusy = 0;
        lf_clearAiLists();
    }
};

}  // namespace

TEST_F(StaticParking, WantedCountRoundsAndHonoursTheCustomMaximum) {
    struct Case {
        std::size_t stands;
        int percent, custom, maxPark;  // parking_percentage, CUSTOM_PARKING_PERCENTAGE, CUSTOM_MAX_PARK
        std::int64_t wanted;
        int shown;
    };
    const Case cases[] = {
        {1, 30, -1, -1, 1, 30}, {2, 30, -1, -1, 1, 30},  {3, 30, -1, -1, 1, 30},    {3, 50, -1, -1, 2, 50},
        {4, 10, -1, -1, 0, 10}, {4, 30, 50, -1, 2, 50},  {100, 30, -1, 0, 0, 0},    {100, 30, -1, 50, 30, 30},
        {8, 30, -1, 1, 1, 13},  {0, 30, -1, 5, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.stands << " stands, " << c.percent << "/" << c.custom << "%, max "
                                        << c.maxPark);
        setStands(c.stands);
        g_parking_percentage.set(c.percent);
        g_CUSTOM_PARKING_PERCENTAGE.set(c.custom);
        g_CUSTOM_MAX_PARK.set(c.maxPark);
        EXPECT_EQ(lf_wantedStaticCount(), c.wanted);
        EXPECT_EQ(g_mainWindow.g_wantedStatics.load(), c.wanted);
        EXPECT_EQ(g_mainWindow.maxParkPercent.load(), c.shown);
    }
}

// Options 0, 2 and 5 half-hours back: the window widens up to MAX_FIT and stops once enough stands are taken.
TEST_F(StaticParking, TheWindowWidensUpToMaxFit) {
    struct Case {
        int maxFit;
        std::int64_t wanted;
        std::size_t entries;
        std::int32_t finalOffset;
    };
    for (const Case& c : {Case{0, 3, 1, 0}, Case{2, 3, 2, 2}, Case{5, 3, 3, 5}, Case{47, 2, 2, 2}}) {
        SCOPED_TRACE(testing::Message() << "MAX_FIT " << c.maxFit << ", wanted " << c.wanted);
        reset();
        setStands(3, {28, 26, 23});
        g_MAX_FIT.set(c.maxFit);
        g_PARK_SOFT.set(false);
        g_PARK_FAKE.set(false);
        lf_fillFromStatistics(g_weekSlotNow, c.wanted, 0);
        ASSERT_EQ(g_parkingList.size(), c.entries);
        for (std::size_t i = 0; i < c.entries; ++i) EXPECT_EQ(g_parkingList[i].standIndex, i + 1);
        EXPECT_EQ(g_realOffsetShown, c.finalOffset);
    }
}

TEST_F(StaticParking, ParkedTrafficTakesAFreeStandWithin110mUnlessItIsLive) {
    const struct {
        const char* name;
        ParkedTrafficRecord record;
        bool placed;
    } cases[] = {
        {"100 m away", parked(0x4b0001, "SWR1", 100), true},
        {"120 m away", parked(0x4b0002, "SWR2", 120), false},
        {"no callsign", parked(0x4b0003, "", 0), false},
        {"callsign seen live", parked(0x4b0004, "SWR4", 0), false},
        {"callsign with '_' seen live", parked(0x4b0005, "SWR5", 0), false},
        {"hex id seen live", parked(0x4b0006, "SWR6", 0), false},
        {"callsign of a live aircraft", parked(0x4b0007, "EZY1", 0), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setStands(1);
        g_seenCallsigns = {"SWR4", "SWR5_"};
        g_seenHexIds = {0x4b0006};
        g_liveAc.emplace_back().callsign = "EZY1_";
        std::int64_t wanted = 1;
        lf_placeParkTraffic(wanted, c.record);
        ASSERT_EQ(g_parkingList.size(), c.placed ? 1u : 0u);
        EXPECT_EQ(g_parkPositions[0].takenByStatic, c.placed ? 1 : 0);
        if (c.placed) {
            EXPECT_EQ(g_parkingList[0].hexId, c.record.hexid);
        }
    }
    EXPECT_TRUE(logHas("          [A320      :   4b0002 SWR2                 , hh:0 ===> could not find a stand for "
                       "PT's 47.451080,8.550000]"));
}

// A static aircraft from parked traffic on the chosen stand: the more recent report keeps the stand. Both
// times count back from now, also through the week's end.
TEST_F(StaticParking, TheMoreRecentReportWinsTheStandOfAStatic) {
    const struct {
        const char* name;
        WeekSlot now, placed;
        std::uint32_t recordAge;
        bool staticStays;
    } cases[] = {
        {"record newer", slot(kSat, 28), slot(kSat, 20), 2, false},
        {"record of the placement's half-hour", slot(kSat, 28), slot(kSat, 20), 8, false},
        {"record older", slot(kSat, 28), slot(kSat, 20), 9, true},
        {"placed Monday, record Sunday after it", slot(kSun, 20), slot(kMon, 10), 4, false},
        {"placed Monday, record Sunday before it", slot(kMon, 3), slot(kMon, 1), 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setStands(1);
        g_weekSlotNow = c.now;
        AiAc& s = g_staticAc.emplace_back();
        s.callsign = "EZY9*";
        s.parkedHexId = 0x400009;
        s.placementKind = 0;
        s.standIndex = 1;
        s.placedSlot = c.placed;
        s.status = kAcInSim;
        s.objectId = 77;
        std::int64_t wanted = 5;
        lf_placeParkTraffic(wanted, parked(0x4b0001, "SWR1", 0, c.recordAge));

        ASSERT_EQ(g_parkingList.size(), 1u);
        EXPECT_EQ(g_parkPositions[0].takenByStatic, 1);
        EXPECT_EQ(g_parkingList[0].hexId, c.staticStays ? 0x400009u : 0x4b0001u);
        EXPECT_EQ(g_parkingList[0].offset, c.staticStays ? gf_weekSlotsForward(c.placed, c.now) : c.recordAge);
        EXPECT_EQ(g_staticAc[0].status, c.staticStays ? kAcInSim : kAcRemovalRequested);
        EXPECT_EQ(g_staticRemovals.size(), c.staticStays ? 0u : 1u);
        // The removal must reach the simulator: a status alone would leave the aircraft standing for good.
        EXPECT_EQ(g_removals.size(), c.staticStays ? 0u : 1u);
    }
}

// 20 stands with an option for now each, 4 of them with parked aircraft: every aircraft counts once.
TEST_F(StaticParking, ACalculationFillsUpToTheWantedNumber) {
    const struct {
        const char* name;
        int percent;
        bool parkTrafficOnly;
        std::size_t entries, fromTraffic;
        const char* line;
    } cases[] = {
        {"traffic, then statistics", 50, false, 10, 4, "10 positions (50% vs wanted 50%, with Max fit=24 hours)"},
        {"traffic up to the wanted number", 10, false, 2, 2, "2 positions (10% vs wanted 10%, with Max fit=24 hours)"},
        {"traffic only places every record", 10, true, 4, 4, "4 positions from RT parktraffic only"},
        {"nothing wanted", 0, false, 0, 0, "no parking positions found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setStands(20, std::vector<std::uint32_t>(20, 28));
        g_parkPositions[19].occupiedByLive = 0x4c0001;
        for (std::uint32_t i = 0; i < 4; ++i) {
            g_trafficClient.parkedRecords.push_back(parked(0x4b0001 + i, "EDW" + std::to_string(i), 60.0 * i, i));
        }
        g_parking_percentage.set(c.percent);
        g_RT_PARKTRAFFIC_ONLY.set(c.parkTrafficOnly);
        lf_calculateStaticParking();

        EXPECT_EQ(g_parkingList.size(), c.entries);
        EXPECT_EQ(std::count_if(g_parkingList.begin(), g_parkingList.end(),
                                [](const ParkingEntry& e) { return e.fromOptions == 0; }),
                  c.fromTraffic);
        EXPECT_TRUE(std::is_sorted(g_parkingList.begin(), g_parkingList.end(),
                                   [](const ParkingEntry& a, const ParkingEntry& b) { return a.offset > b.offset; }));
        EXPECT_TRUE(logHas(c.line));
        EXPECT_EQ(g_parkingBusy.load(), c.entries == 0 ? 0 : 1);
        EXPECT_EQ(g_parkPositions[19].occupiedByLive, 0x4c0001u);
    }
    EXPECT_TRUE(logHas("4 parking positions from PT"));
    EXPECT_TRUE(logHas("16 real positions found, Max fit=24 hours, day 6, hh:28 or 14.5 hrs fit: 0.5 hour"));
}

TEST_F(StaticParking, AStandFileOfAnUnknownPublisherIsRefusedUnread) {
    g_parkAirportCode = "EHAM";
    const std::string notFound = lf_readParkedFile();
    EXPECT_EQ(notFound, "lf_readParkedFile EHAM not found");
    // The log keeps the function; the red line says only what failed.
    EXPECT_EQ(gf_standFileFaultLine(notFound, "EHAM"),
              "EHAM not found; no parking at EHAM until its stand file loads");
    std::filesystem::create_directories(g_myOrbxFolder);
    testing_support::writeWholeFile(g_myOrbxFolder / "EHAM.txt", "archive/thirdparty/unknown/EHAM.xml\n");
    EXPECT_EQ(lf_readParkedFile(), "lf_readParkedFile EHAM has publisher:unknown, archive/thirdparty/unknown/EHAM.xml");
    EXPECT_FALSE(g_mainWindow.standFileOk.load());
    g_parkAirportCode.clear();
}
