#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "airports/services.h"
#include "frame/settings.h"
#include "livery_index_test_env.h"

using testing_support::livery;

namespace {

class SelectionTest : public testing_support::LiveryWorld {
protected:
    void SetUp() override {
        LiveryWorld::SetUp();
        g_largeModels = {"A319", "A320", "A321", "B738"};
        g_heavyModels = {"B744", "B77L"};
        g_similarModelGroups = {{"A319", "A320", "A321"}, {"BE55", "BE58"}};
        g_regcodeDb["D-ABCD"] = RegcodeData{.airline = "DLH", .type = "A320", .operatorCode = "CLH", .cargo = false};
        build({livery("DLH", "A320", "Lufthansa A320"), livery("DLH", "A321", "DLH A321 D-AIRA"),
               livery("DLH", "B77L", "Lufthansa Cargo 777F", true), livery("EWG", "A320", "FSLTL_EWG_A320"),
               livery("BAW", "A319", "BA A319"), livery("KLM", "B744", "KLM 744"), livery("ZZZ", "A320", "Generic A320"),
               livery("ZZZ", "B744", "Generic 744"), livery("ZZZ", "C172", "Generic C172"),
               livery("ABC", "BE58", "ABC BE58"), livery("PVT", "P28A", "Private P28A"), livery("SPC", "B738", "S1"),
               livery("SPC", "B738", "S2"), livery("SPC", "B738", "S3"), livery("SPC", "B738", "Ordinary")});
        addRegistration("D-AIZA", "Lufthansa A320");
        addRegistration("D-AIRA", "DLH A321 D-AIRA", true);
        for (const char* title : {"S1", "S2", "S3"}) addRegistration(title, title, true);
    }
};

TEST_F(SelectionTest, LiveAircraftGoesDownTheStepsAsDeepAsMatchingDepthAllows) {
    struct Case {
        const char* what;
        std::int32_t depth;
        AiAc ac;
        std::string title;
        std::int32_t step;  // 0: no livery
    };
    AiAc smallBaw = aircraft("BAW", "A320");
    smallBaw.category = 0;
    const std::vector<Case> cases = {
        {"registration, dash after one", 1, aircraft("DLH", "A320", "DAIZA"), "Lufthansa A320", 1},
        {"depth 1 knows registrations only", 1, aircraft("DLH", "A320"), "", 0},
        {"airline and type", 2, aircraft("DLH", "A320"), "Lufthansa A320", 2},
        {"cargo falls back to passenger", 2, aircraft("DLH", "A320", "", true), "Lufthansa A320", 2},
        {"cargo finds cargo", 2, aircraft("DLH", "B77L", "", true), "Lufthansa Cargo 777F", 2},
        {"passenger never gets cargo", 4, aircraft("DLH", "B77L"), "", 0},
        {"airline of the registration's record", 2, aircraft("CLH", "A320", "D-ABCD"), "Lufthansa A320", 2},
        {"no similar type at depth 2", 2, aircraft("BAW", "A320"), "", 0},
        {"similar type of the airline", 3, aircraft("BAW", "A320"), "BA A319", 3},
        {"similar type of the same category only", 3, smallBaw, "Generic A320", 4},
        {"heavy keeps to its airline at depth 3", 3, aircraft("AFR", "B744"), "", 0},
        {"heavy takes a generic at depth 4", 4, aircraft("AFR", "B744"), "Generic 744", 4},
        {"light generic", 3, aircraft("XYZ", "C172"), "Generic C172", 4},
        {"light type only", 3, aircraft("XYZ", "P28A"), "Private P28A", 5},
        {"light cargo type only is never passenger", 3, aircraft("XYZ", "P28A", "", true), "", 0},
        {"light similar type only", 3, aircraft("XYZ", "BE55"), "ABC BE58", 6},
        {"private generic first", 2, aircraft("PVT", "C172"), "Generic C172", 4},
        {"private without generic by airline", 2, aircraft("PVT", "P28A"), "Private P28A", 2},
        {"special only by registration", 4, aircraft("DLH", "A321"), "", 0},
        {"special by its registration", 1, aircraft("XYZ", "A321", "D-AIRA"), "DLH A321 D-AIRA", 1},
        {"FSLTL title", 2, aircraft("EWG", "A320"), "FSLTL_EWG_A320", 2},
    };
    std::array<std::int32_t, 6> counted{};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_MATCHING_DEPTH.set(c.depth);
        AiAc ac = c.ac;
        gf_selectLiveryForLiveAircraft(ac);
        EXPECT_EQ(ac.title, c.title);
        EXPECT_EQ(ac.fsltlTitle, c.title.starts_with("FSLTL_"));
        if (c.step > 0) ++counted[static_cast<std::size_t>(c.step - 1)];
        for (std::size_t i = 0; i < counted.size(); ++i) EXPECT_EQ(g_matchStepCounts[i].load(), counted[i]) << i + 1;
    }
}

TEST_F(SelectionTest, RandomPickNeverGivesASpecialLiveryAndRefusedTitlesAreNotCounted) {
    g_MATCHING_DEPTH.set(2);
    for (int i = 0; i < 50; ++i) {
        AiAc ac = aircraft("SPC", "B738");
        gf_selectLiveryForLiveAircraft(ac);
        ASSERT_EQ(ac.title, "Ordinary");
    }
    // The refused title is not given, and no lower step (the generic A320) stands in for it.
    gf_resetMatchStepCounts();
    g_MATCHING_DEPTH.set(4);
    g_liveriesNotCreated = {"Lufthansa A320"};
    AiAc live = aircraft("DLH", "A320"), parked = aircraft("DLH", "A320");
    gf_selectLiveryForLiveAircraft(live);
    EXPECT_TRUE(live.title.empty());
    EXPECT_FALSE(gf_selectLiveryForStatic(parked, ParkPos{"A12", {}, 0.0, 0.0, 0.0, 0.0, false, false, false}));
    EXPECT_TRUE(parked.title.empty());
    for (const auto& count : g_matchStepCounts) EXPECT_EQ(count.load(), 0);
}

TEST_F(SelectionTest, StaticAircraftTakesItsCargoWishFromTheStandAndCountsNothing) {
    const ParkPos cargoStand{"C1", {}, 0.0, 0.0, 0.0, 0.0, true, false, false},
        paxStand{"A1", {}, 0.0, 0.0, 0.0, 0.0, false, false, false};
    AiAc smallBaw = aircraft("BAW", "A320"), before = aircraft("DLH", "A320");
    smallBaw.category = 0;
    before.title = "kept from before";
    struct Case {
        std::int32_t depth;
        AiAc ac;
        const ParkPos& stand;
        std::string title;
    };
    const std::vector<Case> cases = {
        {2, aircraft("DLH", "B77L"), cargoStand, "Lufthansa Cargo 777F"},
        {2, aircraft("DLH", "B77L", "", true), paxStand, ""},
        {1, aircraft("DLH", "A320", "DAIZA"), cargoStand, "Lufthansa A320"},
        {3, smallBaw, paxStand, "BA A319"},  // no category filter on similar types
        {1, before, paxStand, "kept from before"},
    };
    for (const Case& c : cases) {
        g_MATCHING_DEPTH.set(c.depth);
        AiAc ac = c.ac;
        EXPECT_EQ(gf_selectLiveryForStatic(ac, c.stand), !c.title.empty()) << c.ac.type;
        EXPECT_EQ(ac.title, c.title);
    }
    for (const auto& count : g_matchStepCounts) EXPECT_EQ(count.load(), 0);
    EXPECT_TRUE(logHas("A1      : " + std::string(10, ' ') + "DLH B77L no livery match ..."));
}

TEST_F(SelectionTest, UnmatchedReportAndSummaryGoToTheLog) {
    g_MATCHING_DEPTH.set(2);
    AiAc ac = aircraft("DLH", "A320");
    gf_selectLiveryForLiveAircraft(ac);
    g_unmatchedAircraft = {"b text", "a text"};
    gf_logUnmatchedAircraft();
    gf_liveryMatchingSummary();
    const std::vector<std::string> expected = {
        "", "No match found for: ", "a text", "b text", "", "",
        std::string(31, '*') + " live traffic livery matching summary " + std::string(31, '*'),
        "Matches at step: ", "  1: 0", "  2: 1", "  3: 0", "  4: 0", "  5: 0", "  6: 0", std::string(100, '*'), ""};
    const std::vector<std::string> lines = logLines();
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(expected.size()), lines.end()), expected);
}

}  // namespace
