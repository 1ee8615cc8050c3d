#include "injection/records.h"

#include <cmath>
#include <numbers>
#include <set>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

class ModelRecord : public ::testing::Test {
protected:
    void SetUp() override {
        gf_clearDataBase();
        g_largeModels = {"A320"};
        g_heavyModels = {"B744"};
        g_buzjetModels = {"C25A"};
        g_rotorcraftModels = {"EC35"};
        g_highPerfModels = {"F16"};
        g_wingspans = {{"A320", 0.0097}};
        g_defaultWingspans = {0.003, 0.004, 0.009, 0.017, 0.005, 0.002};
        gf_seedWorkRandom(7);
    }
    void TearDown() override { gf_clearDataBase(); }

    static TrafficRecord record(const char* type) {
        TrafficRecord r;
        r.type = type;
        r.callsign = "DLH4AB";
        r.registration = "D-AIZZ";
        return r;
    }
};

TEST_F(ModelRecord, EachCategoryTakesItsOwnRowOfEveryTable) {
    struct Case {
        const char* type;
        ModelCategory category;
        double halfSpan;
        std::uint32_t flare, derotation, rotation, climb;
        double rotationPitchDeg, climbPitchDeg;
        double turnDeg, climbStep, taxi;
    };
    // "ZZZZ" is not in the database: Light, never the Large that the record starts from.
    const Case cases[] = {
        {"ZZZZ", 0, 0.003, 250, 250, 100, 200, -9.0, -15.0, 0.15, 0.5, 5.0},
        {"C25A", 1, 0.004, 300, 300, 200, 250, -8.0, -18.0, 0.10, 0.75, 4.5},
        {"A320", 2, 0.0097, 400, 350, 200, 300, -6.0, -16.5, 0.07, 0.6, 4.0},
        {"B744", 3, 0.017, 450, 450, 250, 400, -5.0, -12.5, 0.05, 0.5, 3.0},
        {"F16", 4, 0.005, 150, 150, 100, 200, -6.0, -20.0, 0.10, 1.0, 4.5},
        {"EC35", 5, 0.002, 100, 100, 100, 100, -20.0, -30.0, 0.20, 0.75, 5.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        AiAc ac = gf_makeModelRecord(record(c.type));
        EXPECT_EQ(ac.category, c.category);
        EXPECT_EQ(ac.type, c.type);
        EXPECT_EQ(ac.callsign, "DLH4AB");
        EXPECT_DOUBLE_EQ(ac.halfSpan, c.halfSpan);
        EXPECT_EQ(ac.flareTicks, c.flare);
        EXPECT_EQ(ac.derotationTicks, c.derotation);
        EXPECT_EQ(ac.rotationTicks, c.rotation);
        EXPECT_EQ(ac.climbTicks, c.climb);
        // Either side of the table value by exactly the share, never in between.
        const auto eitherSide = [](double radians, double tableDeg, double share) {
            const double deg = radians / kDeg;
            return std::abs(deg - tableDeg * (1 + share)) < 1e-9 || std::abs(deg - tableDeg * (1 - share)) < 1e-9;
        };
        EXPECT_TRUE(eitherSide(ac.rotationPitch, c.rotationPitchDeg, 0.025)) << ac.rotationPitch / kDeg;
        EXPECT_TRUE(eitherSide(ac.climbPitch, c.climbPitchDeg, 0.05)) << ac.climbPitch / kDeg;
        // The live-only values come later, from the live aircraft's own intake.
        EXPECT_EQ(ac.groundTurnRate, 0.0);
        gf_applyLiveTables(ac);
        EXPECT_NEAR(ac.groundTurnRate, c.turnDeg * kDeg, 1e-12);
        EXPECT_EQ(ac.turnRate, ac.groundTurnRate);
        EXPECT_DOUBLE_EQ(ac.climbAltitudeStep, c.climbStep);
        EXPECT_DOUBLE_EQ(ac.taxiInSpeed, c.taxi);
    }
}

TEST_F(ModelRecord, PitchesVaryBothWaysAndRepeatUnderTheSameSeed) {
    std::set<double> rotations, climbs;
    std::vector<double> first;
    for (int i = 0; i < 64; ++i) {
        const AiAc ac = gf_makeModelRecord(record("B744"));
        rotations.insert(std::round(ac.rotationPitch / kDeg * 1000.0) / 1000.0);
        climbs.insert(std::round(ac.climbPitch / kDeg * 1000.0) / 1000.0);
        first.push_back(ac.rotationPitch);
    }
    EXPECT_EQ(rotations, (std::set<double>{-5.125, -4.875}));
    EXPECT_EQ(climbs, (std::set<double>{-13.125, -11.875}));

    gf_seedWorkRandom(7);
    for (double expected : first) EXPECT_EQ(gf_makeModelRecord(record("B744")).rotationPitch, expected);
}

TEST(CategoryTables, ACategoryOutsideTheTablesIsAnError) {
    AiAc ac;
    ac.category = 6;
    std::mt19937 random(1);
    for (auto apply : {+[](AiAc& a, std::mt19937& r) { gf_applyModelTables(a, r); },
                       +[](AiAc& a, std::mt19937&) { gf_applyLiveTables(a); },
                       +[](AiAc& a, std::mt19937&) { gf_categoryName(a.category); }}) {
        try {
            apply(ac, random);
            ADD_FAILURE() << "no error";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "invalid unordered_map<K, T> key");
        }
    }
    EXPECT_EQ(gf_categoryName(4), "HighPerf");
}

AiAc aircraft(const char* airline, const char* type, const char* origin, const char* destination, const char* callsign,
              const char* registration) {
    AiAc ac;
    ac.airline = airline;
    ac.type = type;
    ac.origin = origin;
    ac.destination = destination;
    ac.callsign = callsign;
    ac.registration = registration;
    return ac;
}

TEST(AircraftTexts, LogDescriptionsKeepTheirColumns) {
    const AiAc full = aircraft("DLH", "A20N", "EDDF", "LSZH", "DLH4AB", "D-AINA");
    const AiAc bare = aircraft("", "C1", "", "", "N123", "");
    const AiAc inbound = aircraft("SWR", "A320", "", "ZRH", "SWR12", "HB-JLS");
    EXPECT_EQ(gf_acText(full), "EDDF->LSZH DLH4AB   D-AINA DLH A20N");
    EXPECT_EQ(gf_acText(bare), "         N123          C1  ");
    EXPECT_EQ(gf_routeText(inbound), "   ->ZRH");
    EXPECT_EQ(gf_acCsRegText(inbound), "SWR12    HB-JLS SWR A320");
    EXPECT_EQ(gf_aimoRegText(bare), "    C1   ");
    EXPECT_EQ(gf_callsignText(bare), "N123    ");
    EXPECT_TRUE(gf_sameAimo(inbound, aircraft("SWR", "A320", "", "", "X", "")));
    EXPECT_FALSE(gf_sameAimo(inbound, aircraft("SWR", "A321", "", "", "SWR12", "")));
}

TEST(AircraftTexts, CallsignRules) {
    struct Case {
        const char* callsign;
        bool valid;
        const char* airlineAfter;  // the airline starts as "XXX"
    };
    const Case cases[] = {
        {"ABCDEFGH", true, "XXX"},   // 8 characters, fourth not a digit
        {"ABCDEFGHI", false, "XXX"},
        {"@@@@@@@@", false, "XXX"},
        {"", false, "XXX"},
        {"dlh4ab", true, "DLH"},
        {"ab12", true, "XXX"},  // third character a digit
        {"DLH", true, "XXX"},   // too short
        {"EZY1234", true, "EZY"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.callsign);
        AiAc ac;
        ac.airline = "XXX";
        ac.callsign = c.callsign;
        EXPECT_EQ(gf_validCallsign(ac), c.valid);
        EXPECT_EQ(gf_airlineFromCallsign(ac), std::string(c.airlineAfter) != "XXX");
        EXPECT_EQ(ac.airline, c.airlineAfter);
    }
}

TEST(AircraftRecords, ConstructorsTakeTheModelPartOnly) {
    AiAc model = aircraft("DLH", "A320", "EDDF", "LSZH", "DLH4AB", "D-AIZZ");
    model.hexId = 0x3C6444;
    model.flareTicks = 400;
    model.title = "AI A320 Lufthansa";
    model.objectId = 99;  // the simulator's, not the model's
    model.status = kAcInSim;

    const AiAc st(model, 17, StandPlace{47.45, 8.56, 1.5}, true);
    EXPECT_EQ(st.title, "AI A320 Lufthansa");
    EXPECT_EQ(st.hexId, 0x3C6444u);
    EXPECT_EQ(st.objectId, 0u);
    EXPECT_EQ(st.status, kAcNotInSim);
    EXPECT_EQ(st.standIndex, 17u);
    EXPECT_TRUE(st.standCargo);
    EXPECT_EQ(st.throttleState, 5u);
    EXPECT_EQ(st.flapsState, 4u);

    TrackPoint first;
    first.lat = 50.0;
    const LiveAc live(first, model, 1700000000.5);
    EXPECT_EQ(live.flareTicks, 400u);
    EXPECT_EQ(live.objectId, 0u);
    EXPECT_EQ(live.state, kMoveNew);
    EXPECT_TRUE(std::isnan(live.groundCurve.controlEast));  // no curve yet
    ASSERT_EQ(live.track.size(), 1u);

    // The collision check's snapshot has its own track.
    LiveAc copy = live;
    copy.track.front().lat = 51.0;
    copy.track.push_back(first);
    EXPECT_EQ(live.track.size(), 1u);
    EXPECT_EQ(live.track.front().lat, 50.0);
}

}  // namespace
