#include "airports/quality.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "airports/stands.h"

namespace {

ParkPosOption option(std::uint32_t id, bool real, std::uint32_t day, std::initializer_list<int> halfHours) {
    ParkPosOption o;
    o.id = id;
    o.real = real ? 1 : 0;
    o.day = day;
    for (const int h : halfHours) o.halfHours.set(static_cast<std::size_t>(h));
    return o;
}

void addStand(std::vector<ParkPosOption> options) {
    g_parkPositions.emplace_back("S" + std::to_string(g_parkPositions.size() + 1), std::move(options), 47.0, 8.0, 0.0,
                                 30.0, false, false, false);
}

class Quality : public ::testing::Test {
protected:
    void SetUp() override { g_parkPositions.clear(); }
    void TearDown() override { g_parkPositions.clear(); }
};

TEST_F(Quality, TheFactorsAreTheMeanScoreOfTheStands) {
    struct Case {
        const char* name;
        std::vector<std::vector<ParkPosOption>> stands;
        std::int32_t real, soft;
    };
    std::vector<ParkPosOption> busy;  // 250 options over all seven weekdays, 10 half-hours each
    for (std::uint32_t i = 0; i < 250; ++i) busy.push_back(option(i + 1, true, i % 7 + 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    const Case cases[] = {
        // 10000 + 20 + 100 + 8 = 10128: 63.3.
        {"one real option", {{option(1, true, 3, {1, 2, 3, 4})}}, 63, 0},
        {"beside a stand without options", {{option(1, true, 3, {1, 2, 3, 4})}, {}}, 32, 0},
        {"every share at its largest", {busy}, 99, 0},
        {"withdrawn options count for nothing", {{option(0, true, 3, {1})}}, 0, 0},
        {"a weekday outside the week adds none", {{option(1, false, 9, {1, 2})}}, 0, 63},  // 10000 + 20 + 4: 62.65
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_parkPositions.clear();
        for (const auto& options : c.stands) addStand(options);
        const QualityWord q = gf_qualityFactor();
        EXPECT_EQ(gf_realFactor(q), c.real);
        EXPECT_EQ(gf_softFactor(q), c.soft);
    }
}

TEST_F(Quality, WithoutAnyOptionEveryBitIsSet) {
    EXPECT_EQ(gf_qualityFactor(), kNoStandOptions);
    addStand({});
    addStand({});
    EXPECT_EQ(gf_qualityFactor(), kNoStandOptions);
    EXPECT_EQ(lf_formatQualityFactor(gf_realFactor(kNoStandOptions), gf_softFactor(kNoStandOptions)), "  ");
}

TEST(QualityText, RealAloneFrom45) {
    EXPECT_EQ(lf_formatQualityFactor(63, 0), "63");
    EXPECT_EQ(lf_formatQualityFactor(12, 5), "12/ 5");
    EXPECT_EQ(lf_formatQualityFactor(44, 70), "44/70");
    EXPECT_EQ(lf_formatQualityFactor(45, 3), "45");
}

}  // namespace
