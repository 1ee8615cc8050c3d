#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "frame/settings.h"
#include "livery_index_test_env.h"
#include "run/work_loop.h"
#include "window/requests.h"

using testing_support::livery;

namespace {

using LiveryIndexTest = testing_support::LiveryWorld;
using Types = std::vector<std::string>;

TEST_F(LiveryIndexTest, IndexesSplitByCargoAndKeepOnlyInstalledSimilarTypes) {
    g_similarModelGroups = {{"A318", "A319", "A320", "A321"}, {"E170", "E175"}};
    build({livery("DLH", "A320", "DLH A320"), livery("DLH", "A320", "DLH A320 cargo", true),
           livery("DLH", "A321", "DLH A321"), livery("BAW", "A319", "Same"), livery("BAW", "A320", "BAW A320"),
           livery("BAW", "A321", "BAW A321"), livery("RYR", "B738", "Same")});

    // One list with both kinds: one entry in each airline map.
    EXPECT_EQ(g_liveryIndex[kPaxIndex].at("DLH").at("A320"), TitleList{"DLH A320"});
    EXPECT_EQ(g_liveryIndex[kCargoIndex].at("DLH").at("A320"), TitleList{"DLH A320 cargo"});
    EXPECT_FALSE(g_liveryIndex[kCargoIndex].at("DLH").contains("A321"));
    EXPECT_TRUE(logHas("3 airlines, 4 pax aircraft models and 1 cargo aircraft models"));

    // No member of E170/E175 installed: no entry. BAW flies every installed member, so only the uninstalled
    // A318 points to its types; DLH lacks the A319.
    EXPECT_FALSE(g_similarModels.contains("E170"));
    EXPECT_EQ(g_similarModels.at("A318"), (Types{"A319", "A320", "A321"}));
    EXPECT_EQ(g_similarModelsByAirline.at("BAW").size(), 1u);
    EXPECT_EQ(g_similarModelsByAirline.at("DLH").at("A319"), (Types{"A320", "A321"}));

    // A title found by the map is the one a walk over the database meets first.
    const char* first = nullptr;
    for (const auto& [airline, types] : g_airlineLiveries)
        for (const auto& [type, liveries] : types)
            for (const OwnedTitle& t : liveries)
                if (!first && t.title == "Same") first = t.title.data();
    EXPECT_EQ(gf_findOwnedTitle("Same").data(), first);
    EXPECT_TRUE(gf_findOwnedTitle("Missing").empty());
}

TEST_F(LiveryIndexTest, CategoryLinesCountLiveriesAndListTypesTwentyToALine) {
    g_heavyModels = {"B744"};
    std::vector<LiveryData> scan = {livery("ABC", "C172", "Cessna"), livery("ZZZ", "B744", "Generic 744"),
                                    livery("KLM", "B744", "KLM 744", true), livery("KLM", "B744", "KLM 744 pax")};
    Types large;
    for (int i = 0; i < 45; ++i) {
        large.push_back(fmt::format("L{:02}", i));
        g_largeModels.insert(large.back());
        scan.push_back(livery("XYZ", large.back(), "Large " + large.back()));
    }
    g_HELICOPTERS.set(true);
    g_HIGH_PERF_AIRCRAFT.set(false);
    build(scan);

    const Types expected = {
        "1 model have a generic livery",
        "  B744",
        "Category Light: 1 pax liverie",
        "  C172",
        "Category Buzjets: No livery found",
        "Category Large: 45 pax liveries",
        fmt::format("  {}", fmt::join(large.begin(), large.begin() + 20, ",")),
        fmt::format("  {}", fmt::join(large.begin() + 20, large.begin() + 40, ",")),
        "  L40,L41,L42,L43,L44",
        "Category Heavy: 2 pax liveries and 1 cargo liverie",
        "  B744",
        "Category HighPerf: No livery found",
        "Category Rotorcraft: No livery found",
    };
    const Types lines = logLines();
    const auto from = std::find(lines.begin(), lines.end(), expected.front());
    ASSERT_GE(lines.end() - from, static_cast<std::ptrdiff_t>(expected.size()));
    EXPECT_EQ(Types(from, from + static_cast<std::ptrdiff_t>(expected.size())), expected);
    EXPECT_TRUE(logHas("HELICOPTERS temporary switched off because you do not have Helicopters installed"));
    EXPECT_EQ(stored("HELICOPTERS"), "false");
    EXPECT_TRUE(g_LIGHT_AIRCRAFT.value());
    EXPECT_EQ(g_randomModels[0], Types{"C172"});
}

TEST_F(LiveryIndexTest, ClearRequestWaitsForTheNextBuildAndTheRebuildStartsEmpty) {
    build({livery("DLH", "A320", "Old DLH")});
    AiAc ac = aircraft("DLH", "A320");
    gf_selectLiveryForLiveAircraft(ac);
    ASSERT_EQ(ac.title, "Old DLH");

    // The window's request reaches the work thread while the aircraft still flies its livery.
    gf_postWorkRequest({.kind = WorkRequestKind::ClearLiveryDatabase});
    lf_handleWorkRequests();
    EXPECT_EQ(ac.title.data(), gf_findOwnedTitle("Old DLH").data());
    EXPECT_FALSE(g_liveriesProcessed);

    // The next start-up builds the new scan into empty containers; a start-up after it keeps them.
    g_scannedLiveries = {livery("BAW", "A320", "New BAW")};
    lf_writeLiveriesScanned(liveriesFile());
    for (int start = 0; start < 2; ++start) {
        gf_processScannedLiveries(liveriesFile());
        EXPECT_EQ(g_airlineLiveries.size(), 1u);
        EXPECT_EQ(g_typeLiveryIndex[kPaxIndex].at("A320"), TitleList{"New BAW"});
    }
    EXPECT_TRUE(logHas("Processing scanned liveries skipped; already done in previous start-up"));
}

}  // namespace
