// Liveries the simulator refused: the status message, the tally that stops the program at 20, and the
// lines of the matching summary.
#include <gtest/gtest.h>

#include "frame/errors.h"
#include "injection/services.h"
#include "link_test_env.h"
#include "simlink/refused_liveries.h"

namespace {

const std::string kTitles[] = {"AI A320 Swiss", "AI B738 KLM", "AI A20N easyJet"};

AiAc refused(const std::string& callsign, const std::string& title, const std::string& type,
             const std::string& airline) {
    AiAc ac;
    ac.callsign = callsign;
    ac.title = title;
    ac.type = type;
    ac.airline = airline;
    return ac;
}

using RefusedLiveries = link_test::LinkEnv;

TEST_F(RefusedLiveries, EachRefusalIsShownAndTheTwentiethStopsWithError81) {
    for (int i = 1; i <= 19; ++i) {
        ASSERT_NO_THROW(gf_liveryCouldNotBeCreated(refused("SWR" + std::to_string(i), kTitles[i % 3], "A320", "SWR")));
    }
    EXPECT_TRUE(caught().shown("SWR19 \"" + kTitles[19 % 3] + "\" could not be created by your Sim!"));
    EXPECT_EQ(g_liveriesNotCreated.size(), 19u);
    EXPECT_FALSE(logHas("===> Error 81, there are too many liveries that could not be created by P3D!"));
    try {
        gf_liveryCouldNotBeCreated(refused("SWR20", kTitles[0], "A320", "SWR"));
        FAIL() << "the 20th refusal must stop the program";
    } catch (const qtm::UserErrorException& e) {
        EXPECT_STREQ(e.what(), "81: there are too many liveries that could not be created by P3D!, see Log.txt");
    }
    EXPECT_TRUE(logHas("===> Error 81, there are too many liveries that could not be created by P3D!"));
    EXPECT_EQ(g_liveriesNotCreated.size(), 20u);
}

TEST_F(RefusedLiveries, TheSameLiveryRefusedTwentyTimesReachesTheLimit) {
    for (int i = 1; i < 20; ++i) gf_liveryCouldNotBeCreated(refused("EZY1", kTitles[2], "A20N", "EZY"));
    EXPECT_THROW(gf_liveryCouldNotBeCreated(refused("EZY1", kTitles[2], "A20N", "EZY")), qtm::UserErrorException);
}

TEST_F(RefusedLiveries, RefusalsWhileTheRunEndsAreNotCounted) {
    g_quitRequested = true;
    for (int i = 0; i < 25; ++i) gf_liveryCouldNotBeCreated(refused("KLM1", kTitles[1], "B738", "KLM"));
    EXPECT_TRUE(g_liveriesNotCreated.empty());
    EXPECT_TRUE(caught().messagesCopy().empty());
}

TEST_F(RefusedLiveries, TheRefusedTitleOutlivesTheTextItWasTakenFrom) {
    // The livery database can be rebuilt within one process (a rescan); the tally must not point into the
    // texts of the old one.
    std::string owner = "AI B77W Emirates";
    gf_liveryCouldNotBeCreated(refused("UAE1", owner, "B77W", "UAE"));
    owner.assign(owner.size(), 'x');
    ASSERT_EQ(g_liveriesNotCreated.size(), 1u);
    EXPECT_EQ(g_liveriesNotCreated[0], "AI B77W Emirates");
}

TEST_F(RefusedLiveries, SummaryListsEachTypeAndAirlineOnceSortedAndIndented) {
    gf_liveryCouldNotBeCreated(refused("SWR1", kTitles[0], "A320", "SWR"));
    gf_liveryCouldNotBeCreated(refused("KLM1", kTitles[1], "B738", "KLM"));
    gf_liveryCouldNotBeCreated(refused("SWR2", kTitles[0], "A320", "SWR"));
    gf_liveryCouldNotBeCreated(refused("EZY1", kTitles[2], "A20N", "EZY"));
    EXPECT_EQ(gf_notCreatedLiveries(), (std::vector<std::string>{"  A20N EZY", "  A320 SWR", "  B738 KLM"}));
    // Asked again, the same lines: the kept list is now sorted and without repeats.
    EXPECT_EQ(gf_notCreatedLiveries().size(), 3u);
    EXPECT_EQ(g_notCreatedLines, (std::list<std::string>{"A20N EZY", "A320 SWR", "B738 KLM"}));
}

}  // namespace
