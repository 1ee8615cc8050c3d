#include "airports/airport_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "frame/errors.h"
#include "support/program_env.h"

namespace {

namespace fs = std::filesystem;

class AirportList : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        lf_resetAirportListForTests();
        openLog();
    }
    void TearDown() override {
        lf_resetAirportListForTests();
        ProgramEnv::TearDown();
    }
    void writeList(const std::string& body) {
        fs::create_directories("input");
        testing_support::writeWholeFile("input/airports_p3d.xml", body);
    }
    static std::vector<std::string> codes() {
        std::vector<std::string> out;
        for (const auto& a : g_airports) out.push_back(a.code);
        return out;
    }
};

const char* const kTwoAirports =
    "<airports><airport code=\"LSZH\" iata=\"ZRH\" lat=\"47.4647\" lon=\"8.5492\" alt=\"1416\"/>"
    "<airport code=\"EHAM\" lat=\"52.3086\" lon=\"4.7639\" alt=\"-11\"/></airports>";

TEST_F(AirportList, ReadsSortedOnceAndPublishesNothingOfAFailedRead) {
    const struct {
        const char* name;
        const char* file;  // nullptr: no file
        const char* error;  // empty: the read succeeds
        std::vector<std::string> codes;
    } cases[] = {
        {"sorted byte-wise, other elements ignored",
         "<?xml version=\"1.0\"?><airports><airport code=\"lszh\" lat=\"1\" lon=\"2\" alt=\"3\"/><note/>"
         "<airport code=\"LSZH\" lat=\" 47.46x\" lon=\"+8.5e0\" alt=\"1416\"/>"
         "<airport code=\"9A10\" lat=\"0\" lon=\"0\" alt=\"0\"/><airport lat=\"0\" lon=\"0\" alt=\"0\"/></airports>"
         "<airports><airport code=\"XXXX\" lat=\"0\" lon=\"0\" alt=\"0\"/></airports>",
         "", {"", "9A10", "LSZH", "lszh"}},
        {"no airports in the list", "<airports><airportx code=\"LSZH\"/></airports>", "", {}},
        {"no file", nullptr, "88: input/airports_p3d.xml not loaded File was not found", {}},
        {"not XML", "<airports><airport", "88: input/airports_p3d.xml not loaded Error parsing start element tag",
         {}},
        {"no airports element", "<airport code=\"LSZH\" lat=\"1\" lon=\"2\" alt=\"3\"/>",
         "88: input/airports_p3d.xml not found", {}},
        {"a missing latitude after a good airport",
         "<airports><airport code=\"LSZH\" lat=\"1\" lon=\"2\" alt=\"3\"/><airport code=\"EHAM\" lon=\"2\" alt=\"3\"/>"
         "</airports>",
         "88: invalid stod argument", {}},
        {"a number out of range", "<airports><airport code=\"LSZH\" lat=\"1e999\" lon=\"2\" alt=\"3\"/></airports>",
         "88: stod argument out of range", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        lf_resetAirportListForTests();
        fs::remove("input/airports_p3d.xml");
        if (c.file) writeList(c.file);
        if (*c.error) {
            try {
                gf_readAirports();
                ADD_FAILURE() << "no user error";
            } catch (const qtm::UserErrorException& e) {
                EXPECT_EQ(std::string(e.what()), c.error);
            }
            EXPECT_TRUE(g_airports.empty());
            // A failed read is tried again the next time.
            writeList(kTwoAirports);
            EXPECT_TRUE(gf_readAirports());
            EXPECT_EQ(codes(), (std::vector<std::string>{"EHAM", "LSZH"}));
            continue;
        }
        EXPECT_EQ(gf_readAirports(), !c.codes.empty());
        EXPECT_EQ(codes(), c.codes);
        EXPECT_TRUE(logHas(std::to_string(c.codes.size()) + " airports read from \"input/airports_p3d.xml\""));
        // Read once per process: a changed file is not read again.
        writeList(kTwoAirports);
        EXPECT_EQ(gf_readAirports(), !c.codes.empty());
        EXPECT_EQ(codes(), c.codes);
    }
    EXPECT_EQ(g_airports.capacity(), g_airports.size());
}

TEST_F(AirportList, FindsByExactCodeAndLabels) {
    writeList(kTwoAirports);
    ASSERT_TRUE(gf_readAirports());
    const auto zurich = gf_findAirport("LSZH");
    ASSERT_TRUE(zurich);
    EXPECT_EQ(zurich->iata, "ZRH");
    EXPECT_DOUBLE_EQ(zurich->latitude, 47.4647);
    EXPECT_DOUBLE_EQ(zurich->longitude, 8.5492);
    EXPECT_DOUBLE_EQ(zurich->altitude, 1416);
    EXPECT_FALSE(gf_findAirport("lszh"));
    EXPECT_FALSE(gf_findAirport("LSZ"));

    const struct {
        AirportData airport;
        const char* label;
    } labels[] = {
        {*zurich, "LSZH (ZRH)"},
        {*gf_findAirport("EHAM"), "EHAM"},
        {AirportData{}, "?"},
        {AirportData{.code = "", .iata = "XYZ"}, "? (XYZ)"},
    };
    for (const auto& l : labels) EXPECT_EQ(gf_airportLabel(l.airport), l.label);
}

TEST_F(AirportList, ClosestAirportWithinFiveMiles) {
    // On the equator one minute of latitude is one nautical mile.
    writeList("<airports>"
              "<airport code=\"AAAA\" lat=\"0.0835\" lon=\"0\" alt=\"0\"/>"   // 5.01 nm north
              "<airport code=\"BBBB\" lat=\"-0.05\" lon=\"0\" alt=\"0\"/>"    // 3 nm south
              "<airport code=\"CCCC\" lat=\"0\" lon=\"0.0625\" alt=\"0\"/>"   // 3.75 nm east
              "<airport code=\"DDDD\" lat=\"0\" lon=\"10\" alt=\"0\"/>"
              "<airport code=\"EEEE\" lat=\"0.08\" lon=\"10\" alt=\"0\"/>"    // 4.8 nm north of DDDD
              "</airports>");
    ASSERT_TRUE(gf_readAirports());
    const struct {
        double lat, lon;
        const char* code;  // empty: none
    } cases[] = {
        {0.0, 0.0, "BBBB"},      // the nearer one comes first: no neighbour look
        {0.0, 0.03, "CCCC"},     // 1.95 nm from CCCC, 3.5 nm from BBBB
        {0.0, -1.0, ""},
        {0.0, 10.0, "DDDD"},
        {5.0 / 60.0, 10.0, "EEEE"},  // DDDD, exactly 5 nm away, is the neighbour
        {5.01 / 60.0 + 0.08, 10.0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const auto found = gf_closestAirport(c.lat, c.lon);
        EXPECT_EQ(found ? found->code : "", c.code);
    }
    EXPECT_FALSE(logHas("Airport BBBB is closest, neighbour is CCCC"));
    EXPECT_TRUE(logHas("Airport CCCC is closest, neighbour is BBBB"));
    EXPECT_TRUE(logHas("Airport EEEE is closest, neighbour is DDDD"));
}

TEST_F(AirportList, TheNeighbourWithTheNearerStandWins) {
    // The aircraft stands nearer to Zurich's reference point, but on a stand of Dubendorf, which comes first.
    writeList("<airports><airport code=\"LSMD\" lat=\"47.3986\" lon=\"8.6482\" alt=\"1470\"/>"
              "<airport code=\"LSZH\" iata=\"ZRH\" lat=\"47.4647\" lon=\"8.5492\" alt=\"1416\"/></airports>");
    ASSERT_TRUE(gf_readAirports());
    fs::create_directories("airports/my_thirdparty");
    const auto standFile = [](const char* id, const char* lat, const char* lon) {
        return std::string("<parameters><parameter name=\"altitude\" value=\"1416\"/></parameters><parkpositions>") +
               "<parkpos id=\"" + id + "\" latitude=\"" + lat + "\" longitude=\"" + lon +
               "\" heading=\"0.0\" radius=\"30.0\" cargo=\"false\" ramp=\"false\"/></parkpositions>";
    };
    testing_support::writeWholeFile("airports/my_thirdparty/LSZH.xml", standFile("A01", "47.4647", "8.5492"));
    testing_support::writeWholeFile("airports/my_thirdparty/LSMD.xml", standFile("M01", "47.4401", "8.5801"));
    const auto found = gf_closestAirport(47.44, 8.58);
    ASSERT_TRUE(found);
    EXPECT_EQ(gf_airportLabel(*found), "LSMD");
    EXPECT_TRUE(logHas("Airport LSZH is closest, neighbour is LSMD"));
    EXPECT_TRUE(
        logHas("Airport LSZH is closest, but stand M01 at neighbouring airport LSMD is closest at 13 meters ..."));
}

}  // namespace
