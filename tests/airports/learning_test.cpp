#include "airports/learning.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "airports/services.h"
#include "frame/settings.h"
#include "injection/stand_hooks.h"
#include "window/main_window.h"

namespace {

constexpr double kLat = 40.64, kLon = -73.78;
constexpr double kNmPerMetre = 1.0 / 1852.0;
constexpr std::uint32_t kMon = 1, kTue = 2, kWed = 3;

WeekSlot slot(std::uint32_t weekday, std::uint32_t halfHour) { return gf_makeWeekSlot(halfHour, weekday); }

// Stands of 40 m radius at one place; an id starting with 'G' is a gate, the others ramps.
void setStands(const std::vector<std::string>& ids) {
    g_parkPositions.clear();
    for (const std::string& id : ids) {
        g_parkPositions.emplace_back(id, std::vector<ParkPosOption>{}, kLat, kLon, 0.0, 40.0, false, id[0] != 'G',
                                     false);
        g_parkPositions.back().index = static_cast<std::uint32_t>(g_parkPositions.size());
    }
}

LiveAc liveAc(double halfSpanMetres = 15.0, ModelCategory category = kCatLarge) {
    LiveAc ac;
    ac.hexId = 0xA12345;
    ac.callsign = "DAL12";
    ac.airline = "DAL";
    ac.type = "A321";
    ac.registration = "N123DA";
    ac.halfSpan = halfSpanMetres * kNmPerMetre;
    ac.category = category;
    ac.latitude = kLat;
    ac.longitude = kLon;
    ac.heightAboveGround = 0.0;
    return ac;
}

ParkPosOption occupying(std::uint32_t day, std::uint32_t halfHour) {
    ParkPosOption o;
    o.registration = "N999ZZ";
    o.halfHours.set(halfHour);
    o.id = 1;
    o.day = day;
    o.real = 1;
    return o;
}

class Learning : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        g_parkPositions.clear();
        g_standReservations.clear();
        g_apfUpdates = 0;
        g_mainWindow.updateCount = 0;
        g_parkAirportCode.clear();
        g_parkAirportPos = {};
        g_softLearningAllowed = true;
        g_LEARN_SOFT.reset();
    }
};

TEST_F(Learning, RealAndSoftOptionsAreLearnedAtMostOncePerHalfHour) {
    struct Case {
        const char* name;
        bool real, fromFile;
        std::string registration;
        std::vector<std::uint32_t> halfHours;  // learned in this order
        std::vector<bool> results;
    };
    const Case cases[] = {
        {"no registration teaches no real option", true, false, "", {20}, {false}},
        {"the same half-hour twice counts once", true, false, "N123DA", {20, 20}, {true, false}},
        {"a stand file's real option gets no half-hour", true, true, "N123DA", {11}, {false}},
        {"a stand file's soft option gets no half-hour", false, true, "N123DA", {11}, {false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setStands({"A1"});
        ParkPosOption fileOption = occupying(kWed, 10);
        fileOption.registration = "N123DA";
        fileOption.fromFile = 1;
        fileOption.real = c.real ? 1 : 0;
        if (c.fromFile) g_parkPositions[0].options.push_back(fileOption);
        LiveAc ac = liveAc();
        ac.registration = c.registration;
        std::uint32_t changes = 0;
        for (std::size_t i = 0; i < c.halfHours.size(); ++i) {
            const WeekSlot s = slot(kWed, c.halfHours[i]);
            const bool learned =
                c.real ? lf_addRealParkPosOption(1, ac, true, s, false) : lf_addSoftParkPosOption(1, ac, true, s);
            EXPECT_EQ(learned, c.results[i]);
            changes += learned ? 1 : 0;
        }
        EXPECT_EQ(g_apfUpdates, changes);
        EXPECT_EQ(g_mainWindow.updateCount.load(), static_cast<std::int32_t>(changes));
        std::vector<HalfHourSet> options;
        for (const ParkPosOption& o : g_parkPositions[0].options) options.push_back(o.halfHours);
        if (c.fromFile || changes > 0) {
            EXPECT_EQ(options, std::vector<HalfHourSet>{c.fromFile ? fileOption.halfHours : HalfHourSet(1ull << 20)});
        } else {
            EXPECT_TRUE(options.empty());
        }
    }
}

TEST_F(Learning, SoftLearningWaitsThreeHalfHoursForwardInTheWeek) {
    gf_reserveStand(0xA12345, slot(kWed, 10));
    EXPECT_FALSE(lf_softLearningDue(slot(kWed, 11), 0xA12345));
    EXPECT_TRUE(lf_softLearningDue(slot(kWed, 13), 0xA12345));
    // By half-hours alone this would be one half-hour later; it is a day and one half-hour.
    g_standReservations = {{0xA12345, slot(kMon, 10)}};
    EXPECT_TRUE(lf_softLearningDue(slot(kTue, 11), 0xA12345));
    EXPECT_EQ(g_standReservations, (std::vector<std::pair<std::uint32_t, WeekSlot>>{{0xA12345, slot(kTue, 11)}}));
}

TEST_F(Learning, AnAircraftNearTheParkAirportIsGuessedOnce) {
    g_parkAirportCode = "KJFK";
    g_parkAirportPos = {kLat, kLon};
    setStands({"R1", "R2", "R3", "R4"});
    LiveAc ac = liveAc(5.0, kCatLight);
    for (const std::uint32_t h : {10u, 10u, 11u}) lf_learnStandOfNearbyLiveAcAt(ac, false, slot(kWed, h));
    // Once guessed, the aircraft is followed at that stand rather than guessed again.
    std::vector<HalfHourSet> learned;
    for (const ParkPos& s : g_parkPositions) {
        for (const ParkPosOption& o : s.options) learned.push_back(o.halfHours);
    }
    EXPECT_EQ(learned, std::vector<HalfHourSet>{HalfHourSet(3ull << 10)});
    EXPECT_EQ(g_apfUpdates, 2u);
}

TEST_F(Learning, GuessOfAStand) {
    struct Case {
        const char* name;
        std::size_t stands;
        std::vector<std::uint32_t> occupied;
        ModelCategory category;
        const char* expected;  // a stand id, "any" or "none"
    };
    const Case cases[] = {
        {"8 stands full now, free next", 8, {10}, kCatLight, "any"},
        {"8 stands full now and next", 8, {10, 11}, kCatLight, "none"},
        {"11 stands full now, free next", 11, {10}, kCatLight, "none"},
        {"a Heavy at a US airport takes the gate", 2, {}, kCatHeavy, "GATE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        g_parkAirportCode = "KJFK";
        std::vector<std::string> ids{"GATE"};
        for (std::size_t i = 0; i + 1 < c.stands; ++i) ids.push_back("R" + std::to_string(i));
        setStands(ids);
        for (ParkPos& s : g_parkPositions) {
            for (const std::uint32_t h : c.occupied) s.options.push_back(occupying(kWed, h));
        }
        for (int draw = 0; draw < 20; ++draw) {  // whatever the random draws give
            const ParkPos* stand = lf_guessStand(slot(kWed, 10), liveAc(5.0, c.category), true);
            const std::string found = stand == nullptr ? "none" : std::string(c.expected) == "any" ? "any" : stand->id;
            EXPECT_EQ(found, c.expected);
            if (c.stands > 2) break;
        }
    }
}

TEST_F(Learning, CoupledCallsignsOfALightAtHalfHour3ComeFrom0To13) {
    for (const std::uint32_t h : {0u, 13u, 14u}) {
        SCOPED_TRACE(h);
        reset();
        setStands({"A1"});
        ParkPosOption o = occupying(kWed, h);
        o.airline = "DAL";
        o.callsign1 = "DAL12";
        o.callsign2 = "DAL8812";
        g_parkPositions[0].options.push_back(o);
        LiveAc ac = liveAc(5.0, kCatLight);
        ac.callsign = "DAL12_";
        lf_searchForCoupledCsAroundThisTime(slot(kWed, 3), ac);
        EXPECT_EQ(ac.spare, h <= 13 ? "DAL8812" : "");
    }
}

}  // namespace
