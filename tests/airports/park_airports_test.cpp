#include "airports/park_airports.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "airports/services.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"
#include "support/program_env.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

namespace {

constexpr double kZurichLat = 47.4647, kZurichLon = 8.5492;

class ParkAirports : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        gf_resetMainWindowState();
        fs::create_directories(g_airportsFolder);
        g_airports = {{"EDDF", "", 50.0333, 8.5706, 364}, {"LFSB", "", 47.59, 7.5292, 885},
                      {"LSGG", "", 46.2381, 6.1089, 1411}, {"LSZH", "", kZurichLat, kZurichLon, 1416}};
        g_parkCheckPosition = {};
        gf_resetLinkState();
        g_standFileFetcher.start = [this](const std::string& code) { started.push_back(code); };
        g_standFileFetcher.fetched = [this](const std::string&) { return fetch; };
    }
    void TearDown() override {
        g_standFileFetcher = {};
        g_airports.clear();
        g_parkAirports.clear();
        g_parkAirportCode.clear();
        g_parkingRecalcPending = false;
        g_parkingBusy = 0;
        g_trafficClient.clearParkAirportElevation();
        ProgramEnv::TearDown();
    }
    static void userAt(double lat, double lon, bool onGround, double heightFt = 0.0) {
        g_userOnGround = onGround;
        g_userOnGroundKnown = true;
        std::lock_guard lock(g_userAcMutex);
        g_userAcFromSim.latitude = lat;
        g_userAcFromSim.longitude = lon;
        g_userAcFromSim.altAboveGround = heightFt;
    }
    static std::string listed() {
        std::string text;
        for (const ParkAirport& p : g_parkAirports) text += p.code + (p.reservedStand.empty() ? "" : ":" + p.reservedStand) + " ";
        return text;
    }
    std::vector<std::string> started;
    std::optional<StandFileFetch> fetch;
};

TEST_F(ParkAirports, TheListComesFromTheFileAndTheThirdPartyFolders) {
    struct Case {
        const char* what;
        std::optional<std::string> file;
        std::vector<std::string> thirdParty;  // folders; "=" marks a plain file
        std::string destination;
        std::string expected;
        bool result;
        std::vector<std::string> logs;
    };
    const std::vector<Case> cases = {
        {"lines of every kind",
         "LSZH , A12\n\n EDDF\nEDDF\nXXXX\nLSGG,B,C\n",
         {"EDDF", "LSGG", "NOPE", "=LFSB"},
         "",
         "LSZH:A12 EDDF LSGG ",
         false,
         {"===> my_park_airports.txt:LSGG,B,C wrong syntax, skipped", "===> my_park_airports.txt:EDDF double, skipped",
          "airport XXXX is unknown", "2 park airports read from \"my_park_airports.txt\"",
          "1 park airport added from my_thirdparty folder(-s) "}},
        {"no file and no folder", std::nullopt, {}, "", "", true, {"airports/my_park_airports.txt not found"}},
        {"the destination stays first", "EDDF\nLSZH,B\n", {}, "LSZH", "LSZH:B EDDF ", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(g_airportsFolder);
        fs::create_directories(g_airportsFolder);
        if (c.file) writeWholeFile(g_myParkAirportsFile, *c.file);
        for (const std::string& name : c.thirdParty) {
            fs::create_directories(g_myThirdpartyFolder);
            if (name[0] == '=')
                writeWholeFile(g_myThirdpartyFolder / name.substr(1), "x");
            else
                fs::create_directories(g_myThirdpartyFolder / name);
        }
        g_DESTINATION.set(c.destination);
        EXPECT_EQ(lf_readMyParkAirports(), c.result);
        EXPECT_EQ(listed(), c.expected);
        for (const std::string& line : c.logs) EXPECT_TRUE(logHas(line)) << line;
    }
}

TEST_F(ParkAirports, TheFirstEntryIsRecordedInTheFileWithoutLosingTheUsersLines) {
    struct Case {
        const char* what;
        std::optional<std::string> before;  // "/" : a folder stands where the file should be
        ParkAirport first;
        std::optional<std::string> after;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"no file", std::nullopt, {"LSZH", "A1"}, "LSZH,A1\r\n", "my_park_airports.txt created with LSZH,A1"},
        // The user's lines keep their order; a CR alone ends a line too; of a repeated airport, the first
        // line (the one the read takes) is updated.
        {"its line", "LSZH\nEDDF\nLSGG,X\n", {"LSZH", "A1"}, "LSZH,A1\r\nEDDF\r\nLSGG,X\r\n", "my_park_airports.txt:LSZH,A1 updated stand"},
        {"its line, no stand", "EDDF\r\nLSZH,B2\r\n", {"LSZH", ""}, "EDDF\r\nLSZH,\r\n", "my_park_airports.txt:LSZH, updated stand"},
        {"a new line", "LSZH\n", {"LFSB", ""}, "LFSB\r\nLSZH\r\n", "my_park_airports.txt:LFSB new entry"},
        {"CR line ends", "EDDF,X,Y\rLSZH,B2\rLSGG", {"LSZH", "A1"}, "EDDF,X,Y\r\nLSZH,A1\r\nLSGG\r\n", "my_park_airports.txt:LSZH,A1 updated stand"},
        {"a line ending in CR", "EDDF,X,\r\r\nLSZH\n", {"LSZH", "A1"}, "EDDF,X,\r\nLSZH,A1\r\n", "my_park_airports.txt:LSZH,A1 updated stand"},
        {"a repeated airport", "LSZH,X,Y\nLSZH,B2\nLSZH,A0\n", {"LSZH", "X9"}, "LSZH,X,Y\r\nLSZH,X9\r\nLSZH,A0\r\n", "my_park_airports.txt:LSZH,X9 updated stand"},
        {"unreadable", "/", {"LSZH", "A1"}, std::nullopt, "===> airports/my_park_airports.txt could not be read, LSZH,A1 not recorded"},
        // UTF-16 with a lone surrogate in its second line: the lines after it were never read, so nothing is written.
        {"read in part", std::string("\xFF\xFE" "E\0D\0D\0F\0\n\0" "\x00\xD8\n\0" "L\0S\0Z\0H\0\n\0", 26), {"LSZH", "A1"},
         std::string("\xFF\xFE" "E\0D\0D\0F\0\n\0" "\x00\xD8\n\0" "L\0S\0Z\0H\0\n\0", 26),
         "===> airports/my_park_airports.txt could not be read, LSZH,A1 not recorded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(g_airportsFolder);
        fs::create_directories(g_airportsFolder);
        if (c.before == "/")
            fs::create_directories(g_myParkAirportsFile);
        else if (c.before)
            writeWholeFile(g_myParkAirportsFile, *c.before);
        g_parkAirports = {c.first};
        gf_updateMyParkAirportsFile();
        if (c.after) {
            EXPECT_EQ(readWholeFile(g_myParkAirportsFile), *c.after);
        } else {
            EXPECT_TRUE(fs::is_directory(g_myParkAirportsFile));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(g_airportsFolder), fs::directory_iterator()), 1);  // no temp file
        EXPECT_TRUE(logHas(c.log)) << c.log;
    }
}

TEST_F(ParkAirports, AnAirborneUserActivatesTheFirstAirportInSightAndLoadsOnceTheFileIsFetched) {
    g_AIRPORT_RANGE.set(20);
    g_AIRPORT_HEIGHT.set(3000);
    struct Case {
        double distance, height;
        bool activated;
    };
    for (const Case& c : {Case{20.01, 3000.0, false}, Case{20.0, 3000.5, false}, Case{20.0, 3000.0, true}}) {
        g_parkAirportCode.clear();
        g_parkingRecalcPending = false;
        g_parkAirports = {{"LSZH", "", kZurichLat, kZurichLon, c.distance}};
        userAt(kZurichLat + 0.3, kZurichLon, false, c.height);
        lf_checkUserOnGroundAirport(kZurichLat + 0.3, kZurichLon, true);
        EXPECT_EQ(g_parkAirportCode, c.activated ? "LSZH" : "") << c.distance << " nm " << c.height << " ft";
        EXPECT_EQ(g_parkingRecalcPending, c.activated);
    }
    EXPECT_TRUE(logHas("LSZH in sight at 20.0 nm"));
    EXPECT_EQ(started, std::vector<std::string>{"LSZH"});  // fetched while the next check is awaited

    // The loop never waits: while the fetch runs the calculation stays due and the controls stay off.
    g_parkingBusy = 1;
    gf_checkForParkAirportUpdates(false);
    EXPECT_TRUE(g_parkingRecalcPending);
    EXPECT_EQ(g_parkingBusy.load(), 1);
    fetch = StandFileFetch{"LSZH", "archive/stock/LSZH.xml", "airports/park_airport.xml", ""};
    gf_checkForParkAirportUpdates(false);
    EXPECT_FALSE(g_parkingRecalcPending);
}

TEST_F(ParkAirports, ADestinationKeepsItsPlaceButNotAStaleDistance) {
    g_AIRPORT_RANGE.set(20);
    g_AIRPORT_HEIGHT.set(3000);
    g_DESTINATION.set("EDDF");
    g_parkAirports = {{"EDDF", "", 50.0333, 8.5706, 0}, {"LSZH", "", kZurichLat, kZurichLon, 0}};
    userAt(kZurichLat + 0.05, kZurichLon, false, 1000);
    gf_checkForParkAirportUpdates(false);
    EXPECT_EQ(listed(), "EDDF LSZH ");
    EXPECT_GT(g_parkAirports[0].distance, 100.0);
    EXPECT_EQ(g_parkAirportCode, "");  // far away, though it was 0 nm when made

    g_DESTINATION.set("");
    userAt(kZurichLat + 0.04, kZurichLon, false, 1000);
    gf_checkForParkAirportUpdates(false);
    EXPECT_EQ(listed(), "LSZH EDDF ");
    EXPECT_EQ(g_parkAirportCode, "LSZH");
}

TEST_F(ParkAirports, OnTheGroundTheAirportIsTakenOnlyOnceItsStandFileIsKnown) {
    userAt(kZurichLat, kZurichLon, true);
    lf_checkUserOnGroundAirport(kZurichLat, kZurichLon, false);
    EXPECT_EQ(g_parkAirportCode, "");  // the fetch runs
    EXPECT_EQ(started, std::vector<std::string>{"LSZH"});
    fetch = StandFileFetch{"LSZH", "", "", ""};
    lf_checkUserOnGroundAirport(kZurichLat, kZurichLon, false);
    EXPECT_EQ(g_parkAirportCode, "");
    EXPECT_TRUE(logHas("User aircraft on the ground at LSZH, no airport file found"));
    fetch = StandFileFetch{"LSZH", "archive/stock/LSZH.xml", "airports/park_airport.xml", ""};
    lf_checkUserOnGroundAirport(kZurichLat, kZurichLon, false);
    EXPECT_EQ(g_parkAirportCode, "LSZH");
    EXPECT_TRUE(logHas("User aircraft on the ground at LSZH"));
    EXPECT_TRUE(logHas("The park airport is LSZH"));
}

// While its stand file is fetched, the user stands on the field that becomes the park airport: the traffic
// reader reads the reports against the ground there, not as flying over it; without an airport it reads them
// against none.
TEST_F(ParkAirports, WhileTheAirportUnderTheUserIsSoughtTheTrafficIsReadAgainstTheGroundThere) {
    userAt(kZurichLat, kZurichLon, true, 8.0);
    g_userPos.altitude = 1424.0;
    g_userPos.altAboveGround = 8.0;
    gf_checkForParkAirportUpdates(false);
    ASSERT_EQ(started, std::vector<std::string>{"LSZH"});
    EXPECT_EQ(g_trafficClient.parkAirportElevation(), std::optional<double>(1416.0));
    fetch = StandFileFetch{"LSZH", "", "", ""};
    gf_checkForParkAirportUpdates(false);
    EXPECT_EQ(g_parkAirportCode, "");
    EXPECT_EQ(g_trafficClient.parkAirportElevation(), std::nullopt);
    g_userPos = {};
}

TEST_F(ParkAirports, BesideANeighbouringAirportTheLookAtTheirStandsNeverHoldsUpTheCheck) {
    // LSZA lies 1.8 nm north and before LSZH in the list: it is the neighbour.
    g_airports.insert(g_airports.begin() + 3, {"LSZA", "", kZurichLat + 0.03, kZurichLon, 1400});
    userAt(kZurichLat, kZurichLon, true);
    lf_checkUserOnGroundAirport(kZurichLat, kZurichLon, false);
    EXPECT_TRUE(started.empty());
    for (int i = 0; i < 1000 && started.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lf_checkUserOnGroundAirport(kZurichLat, kZurichLon, false);
    }
    EXPECT_EQ(started, std::vector<std::string>{"LSZH"});
    EXPECT_TRUE(logHas("Airport LSZH is closest, neighbour is LSZA"));
    gf_waitForParkAirportChecks();
}

}  // namespace
