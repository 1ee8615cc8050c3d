#include "airports/stand_choice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "airports/services.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/ai_update.h"
#include "window/main_window.h"

namespace {

constexpr double kLat = 47.45, kLon = 8.55;
constexpr double kMetresPerDegree = 111132.95;
constexpr double kNmPerMetre = 1.0 / 1852.0;
constexpr std::uint32_t kMon = 1, kWed = 3, kSun = 7;

struct StandRow {
    const char* id;
    double northMetres;
    double radiusMetres;
    bool heli = false;
    std::uint32_t heldBy = 0;
};

void setStands(const std::vector<StandRow>& rows) {
    g_parkPositions.clear();
    for (const StandRow& s : rows) {
        g_parkPositions.emplace_back(s.id, std::vector<ParkPosOption>{}, kLat + s.northMetres / kMetresPerDegree, kLon,
                                     0.0, s.radiusMetres, false, false, s.heli);
        g_parkPositions.back().occupiedByLive = s.heldBy;
        g_parkPositions.back().index = static_cast<std::uint32_t>(g_parkPositions.size());
    }
}

AiAc aircraft(double halfSpanMetres, ModelCategory category = kCatLarge, std::uint32_t hexId = 0x400001) {
    AiAc ac;
    ac.callsign = "SWR12";
    ac.airline = "SWR";
    ac.type = "A333";
    ac.halfSpan = halfSpanMetres * kNmPerMetre;
    ac.category = category;
    ac.hexId = hexId;
    return ac;
}

WeekSlot slot(std::uint32_t weekday, std::uint32_t halfHour) { return gf_makeWeekSlot(halfHour, weekday); }

ParkPosOption option(std::uint32_t id, std::string cs1, std::string cs2 = {}, std::uint32_t day = kWed,
                     std::uint32_t halfHour = 20) {
    ParkPosOption o;
    o.airline = "SWR";
    o.type = "A333";
    o.registration = "HB-" + cs1;
    o.callsign1 = std::move(cs1);
    o.callsign2 = std::move(cs2);
    o.halfHours.set(halfHour);
    o.id = id;
    o.day = day;
    o.real = 1;
    return o;
}

class StandChoice : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        g_parkPositions.clear();
        g_parkingList.clear();
        g_seenCallsigns.clear();
        g_apfUpdates = 0;
        lf_clearAiLists();
        g_WEEK.reset();
        g_HELICOPTERS.reset();
        g_mainWindow.updateCount = 0;
    }
    static std::optional<std::string> nearest(const AiAc& ac, double maxMetres, bool wide = false) {
        const std::size_t i = lf_nearestFreeStand(kLat, kLon, ac, maxMetres * kNmPerMetre, wide);
        if (i >= g_parkPositions.size()) return std::nullopt;
        return g_parkPositions[i].id;
    }
};

TEST_F(StandChoice, NearestFreeStandPrefersTheNearestThatFitsOrNearlyFits) {
    struct Case {
        const char* name;
        std::vector<StandRow> stands;
        double halfSpan;
        ModelCategory category;
        double maxMetres;
        std::optional<std::string> expected;
        bool enlarged;
    };
    // Half span 20 m: a 25 m stand fits, a 15 m one is 5 m too small.
    const Case cases[] = {
        {"too small at 15 m beats fitting at 18 m", {{"F", 18, 25}, {"S", 15, 15}}, 20, kCatLarge, 20, "S", true},
        {"the same in the other order", {{"S", 15, 15}, {"F", 18, 25}}, 20, kCatLarge, 20, "S", true},
        {"fitting at 15 m beats too small at 18 m", {{"S", 18, 15}, {"F", 15, 25}}, 20, kCatLarge, 20, "F", false},
        {"too small at 30 m is never taken", {{"S", 30, 15}}, 20, kCatLarge, 55, std::nullopt, false},
        {"up to 1.8 m too small still fits", {{"T", 30, 18.3}}, 20, kCatLarge, 55, "T", false},
        {"beyond the maximum distance", {{"F", 30, 25}}, 20, kCatLarge, 20, std::nullopt, false},
        {"a free heli pad does not hide the stand behind it", {{"H", 5, 25, true}, {"F", 12, 25}}, 20, kCatLarge, 20,
         "F", false},
        {"a rotorcraft takes the pad behind a stand", {{"F", 5, 25}, {"H", 12, 25, true}}, 8, kCatRotorcraft, 20, "H",
         false},
        {"a rotorcraft gets no plain stand", {{"F", 5, 25}}, 8, kCatRotorcraft, 20, std::nullopt, false},
        {"a stand held by another is not free", {{"A", 5, 25, false, 0x500000}, {"F", 12, 25}}, 20, kCatLarge, 20, "F",
         false},
        {"a stand held by the aircraft itself is", {{"A", 5, 25, false, 0x400001}, {"F", 12, 25}}, 20, kCatLarge, 20,
         "A", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setStands(c.stands);
        EXPECT_EQ(nearest(aircraft(c.halfSpan, c.category), c.maxMetres), c.expected);
        const auto small = lf_findStand("S");
        if (small != g_parkPositions.end()) {
            EXPECT_EQ(small->radiusChanged, c.enlarged ? 1 : 0);
            EXPECT_NEAR(small->radius / kNmPerMetre, c.enlarged ? 19.0 : 15.0, 1e-9);
        }
        EXPECT_EQ(g_apfUpdates, c.enlarged ? 1u : 0u);
        EXPECT_EQ(g_mainWindow.updateCount.load(), c.enlarged ? 1 : 0);
    }
}

TEST_F(StandChoice, TheWideSearchReachesAStandTheAircraftIsKnownToUseWithin85m) {
    struct Case {
        const char* name;
        double northMetres;
        const char* optionCallsign;  // the stand's option; "" for none
        bool wide;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"its own stand at 70 m", 70, "SWR12", true, "W"},
        {"not without the wide search", 70, "SWR12", false, std::nullopt},
        {"a stand its airline and type use", 70, "DLH4", true, "W"},
        {"not beyond 85 m", 90, "SWR12", true, std::nullopt},
        {"not a stand without options", 70, "", true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setStands({{"W", c.northMetres, 25}});
        if (*c.optionCallsign != 0) g_parkPositions[0].options.push_back(option(1, c.optionCallsign));
        EXPECT_EQ(nearest(aircraft(20), 55, c.wide), c.expected);
    }
}

TEST_F(StandChoice, TheSearchedSlotReachesBackOverMidnightAndTheWeek) {
    EXPECT_EQ(gf_searchedSlot(slot(kMon, 1), 3), slot(kSun, 46));
    EXPECT_EQ(gf_searchedSlot(slot(kWed, 10), 5), slot(kWed, 5));
    EXPECT_EQ(gf_searchedSlot(slot(kWed, 0), 1), slot(2, 47));
}

TEST_F(StandChoice, OptionsOfAircraftSeenLiveAreWithdrawnOrSkipped) {
    struct Case {
        const char* name;
        std::string seen;
        std::size_t entries;
        std::uint32_t idAfter;
    };
    const Case cases[] = {
        {"nothing seen", "", 1, 1},
        {"first callsign seen", "SWR12", 0, 0},
        {"first callsign seen as a ghost", "SWR12_", 0, 0},
        {"second callsign seen", "SWR99", 0, 1},
        {"second callsign seen as a ghost", "SWR99_", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setStands({{"A", 0, 30}});
        g_parkPositions[0].options.push_back(option(1, "SWR12", "SWR99"));
        if (!c.seen.empty()) g_seenCallsigns.insert(c.seen);
        std::vector<ParkingEntry> list;
        lf_searchStands(slot(kWed, 20), 1, 0, list);
        EXPECT_EQ(list.size(), c.entries);
        EXPECT_EQ(g_parkPositions[0].options[0].id, c.idAfter);
        EXPECT_EQ(g_parkPositions[0].takenByStatic, c.entries);
    }
}

TEST_F(StandChoice, OneOfTwoCandidatesIsChosenAndTheStandTaken) {
    setStands({{"A", 0, 30}, {"B", 10, 30}});
    g_parkPositions[0].options = {option(1, "SWR12"), option(2, "DLH4")};
    g_parkPositions[0].options[1].airline = "DLH";
    g_parkPositions[0].excluded = {2};
    g_parkPositions[1].options = {option(1, "AFR7")};
    std::vector<ParkingEntry> list;
    lf_searchStands(slot(kWed, 22), 1, 2, list);  // searched half-hour 20
    ASSERT_EQ(list.size(), 1u);  // B is blocked by A's aircraft
    const ParkingEntry& e = list[0];
    EXPECT_TRUE(e.callsign1 == "SWR12" || e.callsign1 == "DLH4") << e.callsign1;
    EXPECT_EQ(e.standIndex, 1u);
    EXPECT_EQ(e.offset, 2u);
    EXPECT_EQ(e.fromOptions, 1u);
    EXPECT_EQ(e.staysNextSlot, 1);
    EXPECT_EQ(g_parkPositions[0].takenByStatic, 1);
    EXPECT_EQ(g_parkPositions[1].blocked, 1);
}

TEST_F(StandChoice, TheAverageFitIsZeroWithoutStaticAircraft) {
    g_mainWindow.g_averageFitShown[0] = -1.0f;
    EXPECT_EQ(lf_countStaticAc(true), 0u);
    EXPECT_EQ(g_mainWindow.g_averageFitShown[0].load(), 0.0f);

    g_weekSlotNow = slot(kWed, 20);
    for (const std::uint32_t placed : {18u, 16u}) {
        AiAc s;
        s.status = kAcInSim;
        s.placedSlot = slot(kWed, placed);
        g_staticAc.push_back(s);
    }
    EXPECT_EQ(lf_countStaticAc(true), 2u);
    EXPECT_FLOAT_EQ(g_mainWindow.g_averageFitShown[0].load(), 2.0f);  // 6 half-hours / (2 x 2) + 0.5
}

}  // namespace
