// The AceXML flight plans of the AI aircraft: the exact text the simulator reads, escaping of codes from the
// service, replacing and deleting files, and the folder that holds them.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "injection/services.h"
#include "link_test_env.h"
#include "simlink/flight_plan.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readWholeFile;

AiAc aircraft(std::uint32_t category, std::string origin, std::string destination) {
    AiAc ac;
    ac.category = category;
    ac.origin = std::move(origin);
    ac.destination = std::move(destination);
    return ac;
}

class FlightPlan : public link_test::LinkEnv {
protected:
    void SetUp() override {
        LinkEnv::SetUp();
        gf_createFlightPlanFolder();
    }
    void TearDown() override {
        gf_removeFlightPlanFolder();
        LinkEnv::TearDown();
    }
};

TEST_F(FlightPlan, TextIsTheEightLinesTheSimulatorReads) {
    EXPECT_EQ(gf_flightPlanText(aircraft(3, "LSZH", "KJFK")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<SimBase.Document Type=\"AceXML\" version=\"4,3\">\n"
              "<FlightPlan.FlightPlan>\n"
              "<FPType>IFR</FPType>\n"
              "<DepartureID>LSZH</DepartureID>\n"
              "<DestinationID>KJFK</DestinationID>\n"
              "</FlightPlan.FlightPlan>\n"
              "</SimBase.Document>\n");
}

TEST_F(FlightPlan, BusinessJetsLargeAndHeavyFlyIfrTheOthersVfr) {
    const char* expected[] = {"VFR", "IFR", "IFR", "IFR", "VFR", "VFR", "VFR"};
    for (std::uint32_t category = 0; category <= 6; ++category) {
        const std::string text = gf_flightPlanText(aircraft(category, "A", "B"));
        EXPECT_NE(text.find(std::string("<FPType>") + expected[category] + "</FPType>"), std::string::npos)
            << "category " << category;
    }
}

TEST_F(FlightPlan, CodesFromTheServiceAreEscapedAndReadBackUnchanged) {
    const std::string text = gf_flightPlanText(aircraft(2, "A&B<C>\"'", std::string("X\x01Y\tZ", 5)));
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(text.c_str())) << text;
    const pugi::xml_node plan = doc.child("SimBase.Document").child("FlightPlan.FlightPlan");
    EXPECT_STREQ(plan.child_value("DepartureID"), "A&B<C>\"'");
    // A control byte XML cannot carry is left out; the tab stays.
    EXPECT_STREQ(plan.child_value("DestinationID"), "XY\tZ");
}

TEST_F(FlightPlan, WritingTheSameObjectTwiceKeepsOnlyTheSecondPlan) {
    const fs::path path = g_flightPlanFolder / gf_flightPlanFileName(1234);
    EXPECT_EQ(path.filename(), "1234.pln");
    ASSERT_TRUE(gf_writeFlightPlan(path, aircraft(0, "LSZH", "LSGG")));
    ASSERT_TRUE(gf_writeFlightPlan(path, aircraft(3, "EGLL", "OMDB")));
    EXPECT_EQ(readWholeFile(path), gf_flightPlanText(aircraft(3, "EGLL", "OMDB")));
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(g_flightPlanFolder), fs::directory_iterator()), 1);
}

TEST_F(FlightPlan, AWriteThatCannotHappenIsReportedAsFailure) {
    EXPECT_FALSE(gf_writeFlightPlan(g_flightPlanFolder / "missing" / "1.pln", aircraft(2, "A", "B")));
    // A folder in the way of the file.
    fs::create_directories(g_flightPlanFolder / "7.pln" / "x");
    EXPECT_FALSE(gf_writeFlightPlan(g_flightPlanFolder / "7.pln", aircraft(2, "A", "B")));
}

TEST_F(FlightPlan, RemovingAPlanDeletesOnlyThatObjectsFile) {
    ASSERT_TRUE(gf_writeFlightPlan(g_flightPlanFolder / gf_flightPlanFileName(5), aircraft(2, "A", "B")));
    ASSERT_TRUE(gf_writeFlightPlan(g_flightPlanFolder / gf_flightPlanFileName(6), aircraft(2, "A", "B")));
    EXPECT_TRUE(gf_removeFlightPlan(5));
    EXPECT_FALSE(fs::exists(g_flightPlanFolder / "5.pln"));
    EXPECT_TRUE(fs::exists(g_flightPlanFolder / "6.pln"));
    EXPECT_TRUE(gf_removeFlightPlan(5));  // already gone: nothing to do
}

TEST_F(FlightPlan, TheFolderLivesInTheApplicationFolderAndGoesWithAllItsPlans) {
    EXPECT_EQ(g_flightPlanFolder, g_appFolder / "orig_dest");
    EXPECT_TRUE(fs::is_directory(g_flightPlanFolder));
    ASSERT_TRUE(gf_writeFlightPlan(g_flightPlanFolder / gf_flightPlanFileName(9), aircraft(2, "A", "B")));
    EXPECT_TRUE(gf_removeFlightPlanFolder());
    EXPECT_FALSE(fs::exists(g_flightPlanFolder));
    EXPECT_TRUE(fs::is_directory(g_appFolder));
    gf_createFlightPlanFolder();  // the next start makes it again
    EXPECT_TRUE(fs::is_directory(g_flightPlanFolder));
}

}  // namespace
