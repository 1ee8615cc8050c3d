#include "airports/stands.h"
#include "injection/aircraft_lists.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "frame/log.h"
#include "injection/geodesy.h"
#include "liveries/database.h"
#include "support/test_support.h"

namespace {

constexpr std::uint32_t kMon = 1, kTue = 2, kWed = 3, kSun = 7;

WeekSlot slot(std::uint32_t weekday, std::uint32_t halfHour) { return gf_makeWeekSlot(halfHour, weekday); }

HalfHourSet hours(std::initializer_list<std::size_t> list) {
    HalfHourSet set;
    for (const std::size_t h : list) set.set(h);
    return set;
}

ParkPosOption option(std::uint32_t id, std::uint32_t day, HalfHourSet hh, std::string cs1 = "SWR12") {
    return ParkPosOption{.airline = "SWR", .type = "A333", .registration = "HBJHA", .callsign1 = std::move(cs1),
                         .callsign2 = {}, .halfHours = hh, .id = id, .day = day, .real = 1};
}

AiAc aircraft(std::string callsign = "SWR12", std::string airline = "SWR", std::string type = "A333") {
    AiAc ac;
    ac.callsign = std::move(callsign);
    ac.airline = std::move(airline);
    ac.type = std::move(type);
    ac.registration = "HBJHA";
    return ac;
}

class Stands : public ::testing::Test {
protected:
    void SetUp() override { gf_openLog(m_dir / "Log.txt"); }
    void TearDown() override {
        gf_closeLog();
        g_regcodeDb.clear();
    }
    // What the log got since the last call.
    std::string newLog() {
        const std::string all = testing_support::readWholeFile(m_dir / "Log.txt");
        std::string fresh = all.substr(m_seen);
        m_seen = all.size();
        return fresh;
    }
    testing_support::TempDir m_dir;
    std::size_t m_seen = 0;
};

TEST_F(Stands, HalfHourTextIsReadPieceByPiece) {
    struct Case {
        std::string text;
        HalfHourSet expected;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"1,3,47", hours({1, 3, 47}), ""},
        {"48", {}, "gf_hours2bitset invalid hour \"48\" in 48\n"},
        {"x", {}, "gf_hours2bitset invalid hour \"x\" in x\n"},
        {"7abc", hours({7}), ""},
        {"5,", hours({5}), "gf_hours2bitset invalid hour \"\" in 5,\n"},
        {"", {}, ""},
        {"-0,-1", hours({0}), "gf_hours2bitset invalid hour \"-1\" in -0,-1\n"},
        {"4294967299,2", hours({2}), "gf_hours2bitset invalid hour \"4294967299\" in 4294967299,2\n"},
    };
    newLog();
    for (const Case& c : cases) {
        EXPECT_EQ(gf_hours2bitset(c.text), c.expected) << c.text;
        EXPECT_EQ(newLog(), c.log) << c.text;
    }
    EXPECT_EQ(gf_bitset2hours({}), "");
    EXPECT_EQ(gf_bitset2hours(hours({0, 47})), "0,47");
    EXPECT_EQ(gf_bitset2hours(hours({1, 2, 47})), "1,2,47");
}

TEST_F(Stands, NewOptionIdIsAboveEveryIdInUse) {
    struct Case {
        std::vector<std::uint32_t> ids;
        std::uint32_t expected;
    };
    const std::vector<Case> cases = {
        {{}, 1}, {{1, 2, 3, 4}, 5}, {{1, 0, 3, 4}, 5}, {{1, 2, 3, 0}, 4}, {{3, 1, 2}, 4},
    };
    for (const Case& c : cases) {
        std::vector<ParkPosOption> options;
        for (const std::uint32_t id : c.ids) options.push_back(option(id, kTue, hours({id})));
        EXPECT_EQ(gf_addOption(options, aircraft(), true, slot(kWed, 20), "EDW7", ""), c.expected) << c.ids.size();
        EXPECT_EQ(options.back().callsign1, "EDW7");
    }
}

TEST_F(Stands, AddedOptionTakesItsIdentityFromTheRegistrationAndIsNotAddedTwice) {
    g_regcodeDb["HB-JHA"] = RegcodeData{.airline = "SWR", .type = "A333", .operatorCode = "EDW"};
    g_regcodeDb["HB-JHB"] = RegcodeData{.airline = "SWR", .type = "A343", .operatorCode = ""};
    std::vector<ParkPosOption> o;
    const AiAc ac = aircraft("SWR12_", "XXX", "B738");
    EXPECT_EQ(gf_addOption(o, ac, false, slot(kWed, 20), ac.callsign, "HBJHA"), 1u);
    EXPECT_EQ(gf_addOption(o, ac, true, slot(kWed, 20), ac.callsign, "HBJHA"), 0u);  // the same again
    EXPECT_EQ(gf_addOption(o, ac, true, slot(kWed, 20), ac.callsign, "HBJHB"), 2u);
    EXPECT_EQ(gf_addOption(o, ac, true, slot(kWed, 21), ac.callsign, ""), 3u);
    ASSERT_EQ(o.size(), 3u);
    EXPECT_EQ(o[0].airline + o[0].type + "," + o[1].airline + o[1].type + "," + o[2].airline + o[2].type,
              "EDWA333,SWRA343,XXXB738");
    EXPECT_EQ(o[0].callsign1 + gf_bitset2hours(o[0].halfHours), "SWR1220");
    EXPECT_EQ(o[0].day * 10 + o[0].real, kWed * 10 + 0);
    EXPECT_THROW(gf_addOption(o, ac, true, slot(kWed, 48), ac.callsign, ""), std::out_of_range);
}

TEST_F(Stands, OptionMatchesARealAircraftByCallsignOrAirlineAndType) {
    struct Case {
        const char* name;
        std::uint32_t id, real;
        std::string callsign, airline, type;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"first callsign", 1, 1, "SWR12", "DLH", "A320", true},
        {"second callsign", 1, 1, "EDW34", "DLH", "A320", true},
        {"airline and type", 1, 1, "SWR99", "SWR", "A333", true},
        {"airline only", 1, 1, "SWR99", "SWR", "A320", false},
        {"soft", 1, 0, "SWR12", "SWR", "A333", false},
        {"withdrawn", 0, 1, "SWR12", "SWR", "A333", false},
    };
    for (const Case& c : cases) {
        ParkPosOption o = option(c.id, kTue, {});
        o.callsign2 = "EDW34";
        o.real = c.real;
        EXPECT_EQ(gf_optionMatchesAc(c.callsign, aircraft(c.callsign, c.airline, c.type), o), c.expected) << c.name;
    }
}

TEST_F(Stands, OptionKeepsTheFirstCallsignAndTheLatestOther) {
    std::vector<ParkPosOption> options = {option(0, kTue, {}, ""), option(1, kTue, {}, "")};
    const std::vector<std::pair<std::string, std::string>> afterEach = {
        {"SWR12", ""}, {"SWR12", ""}, {"SWR12", "EDW34"}, {"SWR12", "EDW34"}, {"SWR12", "EDW56"}, {"SWR12", "EDW56"},
    };
    const std::vector<std::string> calls = {"SWR12_", "_", "EDW34", "SWR12", "EDW56", "EDW56_"};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        gf_addOptionCallsign(options, 1, calls[i]);
        EXPECT_EQ(std::make_pair(options[1].callsign1, options[1].callsign2), afterEach[i]) << calls[i];
    }
    EXPECT_EQ(options[0].callsign1, "");  // a withdrawn option takes nothing
}

TEST_F(Stands, HalfHoursBetweenTwoSightingsAreFilledUpToFiveApart) {
    struct Case {
        const char* name;
        WeekSlot from, now;
        HalfHourSet firstDay;  // the option the key points at, which had `from`
        HalfHourSet nextDay;   // the new option of now's day; none when empty
        bool keyMoves;
    };
    const std::vector<Case> cases = {
        {"Tue 46 to Wed 1", slot(kTue, 46), slot(kWed, 1), hours({46, 47}), hours({0, 1}), true},
        {"Tue 47 to Wed 1", slot(kTue, 47), slot(kWed, 1), hours({47}), hours({0, 1}), true},
        {"Sun 47 to Mon 0", slot(kSun, 47), slot(kMon, 0), hours({47}), hours({0}), true},
        {"same day", slot(kTue, 10), slot(kTue, 13), hours({10, 11, 12, 13}), {}, true},
        {"six apart", slot(kTue, 10), slot(kTue, 16), hours({10}), {}, false},
        {"same half-hour mod 48 but days away", slot(kTue, 46), slot(kTue, 1), hours({46}), {}, false},
    };
    for (const Case& c : cases) {
        ParkPos stand("A1", {option(1, gf_weekdayOf(c.from), hours({gf_slotOf(c.from)}))}, 0, 0, 0, 40, false, false,
                      false);
        StandKey key{c.from, 1};
        lf_updateOptionSlots(c.now, stand, 1, key, aircraft("EDW34"), true);
        EXPECT_EQ(stand.options[0].halfHours, c.firstDay) << c.name;
        ASSERT_EQ(stand.options.size(), c.nextDay.any() ? 2u : 1u) << c.name;
        if (c.nextDay.any()) {
            EXPECT_EQ(stand.options[1].halfHours, c.nextDay) << c.name;
            EXPECT_EQ(stand.options[1].day, gf_weekdayOf(c.now)) << c.name;
            EXPECT_EQ(stand.options[0].callsign2, "EDW34") << c.name;
            EXPECT_EQ(key.optionId, 2u) << c.name;
        } else {
            EXPECT_EQ(key.optionId, 1u) << c.name;
        }
        EXPECT_EQ(key.slot, c.keyMoves ? c.now : c.from) << c.name;
    }
}

TEST_F(Stands, WindowReachingIntoThePreviousDayCountsItsHalfHoursThere) {
    struct Case {
        HalfHourSet set;
        std::int32_t start, offset;
        bool found;
        std::int32_t previousDay;
    };
    const std::vector<Case> cases = {
        {{}, 2, 5, false, 3}, {{}, 10, 5, false, -1}, {hours({5}), 10, 5, true, -1},
        {hours({4}), 10, 5, false, -1}, {{}, 0, 60, false, 46}, {hours({0}), 2, 5, true, -1},
    };
    for (const Case& c : cases) {
        ParkPosOption o = option(1, kTue, c.set);
        std::int32_t previousDay = 99;
        EXPECT_EQ(testRange(o, c.start, c.offset, previousDay), c.found) << c.start << "/" << c.offset;
        EXPECT_EQ(previousDay, c.previousDay) << c.start << "/" << c.offset;
    }
}

TEST_F(Stands, HalfHourOutOfRangeIsLoggedAndChangesNothing) {
    ParkPosOption o = option(1, kTue, hours({3}));
    newLog();
    updateOption(o, 48);
    std::int32_t previousDay = 0;
    EXPECT_FALSE(testRange(o, 48, 5, previousDay));
    EXPECT_EQ(o.halfHours, hours({3}));
    const std::string log = newLog();
    EXPECT_EQ(log.rfind("===> updateOption \"SWR12\" \"\" bit:48 exception:", 0), 0u) << log;
    EXPECT_NE(log.find("\n===> exception "), std::string::npos) << log;
    EXPECT_NE(log.find(" in testRange, start: 48, offset: 5\n"), std::string::npos) << log;
}

}  // namespace

TEST_F(Stands, AnOptionIsPlacedAlreadyOnlyByACallsignOrRegistrationBothSay) {
    ParkPosOption option;
    option.callsign1 = "SWR12";  // no second callsign, no registration
    AiAc& other = g_staticAc.emplace_back();
    other.callsignCopy = "DLH4";  // nor has this one a registration
    ParkingEntry& entry = g_parkingList.emplace_back();
    entry.callsign1 = "AFR8";
    EXPECT_EQ(lf_findStaticForOption(option), g_staticAc.end());
    EXPECT_EQ(lf_findParkingEntryForOption(option), g_parkingList.end());
    entry.callsign1 = "SWR12";
    other.registration = option.registration = "HB-JCA";
    EXPECT_EQ(lf_findParkingEntryForOption(option), g_parkingList.begin());
    EXPECT_EQ(lf_findStaticForOption(option), g_staticAc.begin());
    g_staticAc.clear();
    g_parkingList.clear();
}

// ---- Numbering and overlaps ----

namespace {

ParkPos standAt(double lat, double lon, double radiusMetres) {
    return ParkPos("S", {}, lat, lon, 0.0, radiusMetres, false, false, false);
}

}  // namespace

// The spatial index finds exactly the pairs that measuring every pair finds, whatever the radii and wherever
// the stands: over the date line, at the pole, of no, negative, no-number and endless radius.
TEST(StandNumbering, TheIndexFindsWhatMeasuringEveryPairFinds) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> jitter(-0.002, 0.002);
    const double radii[] = {1, 5, 20, 35, 80, 200, 900, 0, -30, std::nan(""), HUGE_VAL, -HUGE_VAL, 1e308, 40000};
    std::vector<ParkPos> stands;
    for (const auto& [lat, lon] : {std::pair{47.45, 8.55}, {-16.5, 179.999}, {-16.5, -179.999}, {89.9995, 10.0}}) {
        for (int i = 0; i < 60; ++i)
            stands.push_back(standAt(lat + jitter(gen), lon + jitter(gen), radii[gen() % std::size(radii)]));
    }
    stands.push_back(standAt(std::nan(""), 8.55, 30));
    std::vector<std::vector<std::uint32_t>> want(stands.size());
    for (std::size_t a = 0; a < stands.size(); ++a) {
        for (std::size_t b = 0; b < stands.size(); ++b) {
            const ParkPos &first = stands[std::min(a, b)], &second = stands[std::max(a, b)];
            if (a != b && first.radius + second.radius >
                              1.1 * gf_distanceNM(first.latitude, first.longitude, second.latitude, second.longitude))
                want[a].push_back(static_cast<std::uint32_t>(b + 1));
        }
    }
    gf_numberStands(stands);
    std::size_t overlaps = 0;
    for (std::size_t i = 0; i < stands.size(); ++i) {
        EXPECT_EQ(stands[i].index, i + 1);
        EXPECT_EQ(stands[i].excluded, want[i]) << i;
        overlaps += want[i].size();
    }
    EXPECT_GT(overlaps, 2 * stands.size());
}

// Numbering stays near linear: stands on a grid are measured a bounded number of times each, and stands
// piled on one point get at most kMaxExcludedStands neighbours each.
TEST(StandNumbering, WorkAndListsStayBoundedPerStand) {
    struct Case {
        const char* what;
        std::size_t count;
        double spacingMetres;
        std::uint64_t measuredPerStand;
        std::size_t longestList;
    };
    for (const Case& c : {Case{"16,384 stands 50 m apart", 16384, 50.0, 32, 8},
                          Case{"8,192 stands on one point", 8192, 0.0, kMaxExcludedStands + 1, kMaxExcludedStands},
                          Case{"8,192 stands without a radius on one point", 8192, 0.0, 0, 0}}) {
        SCOPED_TRACE(c.what);
        std::vector<ParkPos> stands;
        for (std::size_t i = 0; i < c.count; ++i) {
            const double north = static_cast<double>(i / 128) * c.spacingMetres, east = (i % 128) * c.spacingMetres;
            stands.push_back(standAt(47.45 + north / 111120.0, 8.55 + east / 75000.0,
                                     c.longestList == 0 ? 0.0 : 20.0 + i % 15));
        }
        const std::uint64_t measured = gf_numberStands(stands);
        std::size_t longest = 0;
        for (const ParkPos& s : stands) longest = std::max(longest, s.excluded.size());
        EXPECT_LE(measured, c.measuredPerStand * c.count);
        EXPECT_LE(longest, c.longestList);
        EXPECT_EQ(longest > 0, c.longestList > 0);
    }
}
