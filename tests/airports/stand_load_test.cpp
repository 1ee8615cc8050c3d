#include "airports/stand_load.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "airports/renewal.h"
#include "airports/services.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "support/test_support.h"
#include "trafficservice/clients.h"

namespace {

using testing_support::readWholeFile;
using testing_support::writeWholeFile;

const std::string kMeta = R"(<meta><info name="author" value="a"/><info name="date" value="d"/>)"
                          R"(<info name="version" value="v"/></meta>)";
const std::string kReference = "airports/my_ORBX/EHAM.xml";
const std::string kLearned = "airports/learned/my_ORBX/EHAM.xml";
constexpr double kNmPerDegreeLat = 60.0;  // near enough for the 10 % margins below

std::string param(const std::string& name, const std::string& value) {
    return "<parameter name=\"" + name + "\" value=\"" + value + "\"/>";
}

// A stand of radius 0.02 nm (37.04 m), `nmNorth` north of the field's reference point.
std::string stand(const std::string& id, double nmNorth) {
    return "<parkpos id=\"" + id + "\" latitude=\"" + std::to_string(52.3 + nmNorth / kNmPerDegreeLat) +
           "\" longitude=\"4.76\" radius=\"37.04\"/>";
}

std::string archived(const std::string& params, const std::string& stands) {
    return kMeta + "<parameters>" + param("airport_name", "Schiphol") + param("publisher", "simaddon") + params +
           "</parameters><parkpositions>" + stands + "</parkpositions>";
}

class StandLoad : public ::testing::Test {
protected:
    void SetUp() override {
        gf_openLog(m_dir / "Log.txt");
        std::filesystem::create_directories("airports/my_ORBX");
        std::filesystem::create_directories("airports/learned/my_ORBX");
        g_parkAirportCode = "EHAM";
        g_parking_percentage.reset();
    }
    void TearDown() override {
        gf_closeLog();
        g_parkAirportCode.clear();
        g_parkPositions.clear();
        g_standFileLoaded = false;
        g_parking_percentage.reset();
    }
    std::string load(const std::string& reference, const std::string& text) {
        writeWholeFile(kReference, text);
        return gf_readApf(reference, m_info, m_quality);
    }

    testing_support::TempDir m_dir;
    testing_support::ScopedCwd m_cwd{m_dir.path()};
    ApfInfo m_info;
    QualityWord m_quality = 0;
};

TEST_F(StandLoad, RefusedOrBrokenFileLeavesNothingLoaded) {
    struct Case {
        std::string name;
        std::string text;
        std::string result;  // the message, or the user error's text
    };
    const std::string alt = param("altitude", "-11");
    const Case cases[] = {
        {"not xml", "<meta>", kReference + " could not be loaded: "},
        {"meta incomplete", "<meta/><parameters>" + alt + "</parameters>",
         kReference + " but refused to load, copyright problem"},
        {"no altitude", archived("", stand("S1", 0)), "65: Parameter altitude not found"},
        // The first S1 is read before the second one is found: it must not stay behind.
        {"same id twice", archived(alt, stand("S1", 0) + stand("S1", 1)),
         "94: Parking position S1 appears more than once?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_apfReference = "airports/my_ORBX/OLD.xml";
        std::string result;
        try {
            result = load(kReference, c.text);
        } catch (const qtm::UserErrorException& e) {
            result = e.what();
        }
        EXPECT_EQ(result.substr(0, c.result.size()), c.result);
        EXPECT_TRUE(g_parkPositions.empty());
        EXPECT_FALSE(g_standFileLoaded.load());
        EXPECT_TRUE(g_apfReference.empty());
    }
}

TEST_F(StandLoad, NumbersStandsListsOverlapsAndTakesTheLearnedFile) {
    // S1 and S2 are 0.03 nm apart (0.04 > 0.033: they overlap); S2 and S3 0.04 nm (0.04 > 0.044 is false).
    const std::string file = archived(param("altitude", "-11") + param("Qf_real", "63") + param("RT_traffic_week", "7"),
                                      stand("S1", 0) + stand("S2", 0.03) + stand("S3", 0.07));
    const std::string learned = kMeta + "<parameters/><parkpositions><parkpos id=\"S1\">"
                                        "<opt reg=\"\" airl=\"KLM\" type=\"B738\" day=\"3\" hh=\"1,2,3,4\"/>"
                                        "</parkpos></parkpositions>";
    struct Case {
        bool withLearned;
        QualityWord quality;
    };
    // Without a learned file the file's factors stand (soft absent: -1); with one they are computed anew:
    // one stand of three scores 10128, a real factor of 21.
    const Case cases[] = {{false, 0xffffffff0000003full}, {true, 21}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.withLearned);
        std::filesystem::remove(kLearned);
        if (c.withLearned) writeWholeFile(kLearned, learned);
        g_parking_percentage.set(55);
        EXPECT_EQ(load(kReference, file), "");
        ASSERT_EQ(g_parkPositions.size(), 3u);
        const std::vector<std::vector<std::uint32_t>> excluded{{2}, {1}, {}};
        for (std::uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(g_parkPositions[i].index, i + 1);
            EXPECT_EQ(g_parkPositions[i].excluded, excluded[i]);
        }
        EXPECT_EQ(m_quality, c.quality);
        EXPECT_EQ(g_parking_percentage.value(), 30);  // the file's snapshot has none either
        EXPECT_EQ(g_apfLearnedPath, std::filesystem::path(kLearned));
        EXPECT_EQ(g_apfReference, kReference);
        EXPECT_EQ(g_parkAirportElevation, -11.0);
        EXPECT_EQ(g_rtTrafficWeek, 7);
        EXPECT_TRUE(g_standFileLoaded.load());
    }
}

// The traffic reader reads a report's height against the park airport's field from the load of its stand file
// until the park airport is left: 70 ft over the field at 60 kt is an aircraft on the ground then, and in the
// air (over a reference 1000 ft below sea level) before and after.
TEST_F(StandLoad, TheTrafficReaderReadsHeightsAgainstTheFieldWhileItsStandFileIsLoaded) {
    nlohmann::json line = nlohmann::json::array();
    for (int i = 0; i < 48; ++i) line.push_back(nullptr);
    line[4] = 1486;
    const auto heightRead = [&line] {
        TrafficRecord r;
        r.speed = 60.0;
        g_trafficClient.correctAltitude(r, line);
        return r.alt;
    };
    EXPECT_EQ(heightRead(), 1486.0);
    ASSERT_EQ(load(kReference, archived(param("altitude", "1416"), stand("S1", 0))), "");
    EXPECT_EQ(heightRead(), 0.0);
    lf_leaveParkAirport();
    EXPECT_EQ(heightRead(), 1486.0);
}

TEST_F(StandLoad, ClosestStandOfAnotherAirport) {
    struct Case {
        std::string text;
        double distance;
        std::string id;
    };
    const std::string farAway = "<parkpos id=\"F\" latitude=\"10\" longitude=\"4.76\"/>";
    const Case cases[] = {
        {archived("", farAway + stand("N1", 0.5) + stand("N2", 0.2) + stand("N3", 0.2)), 0.2, "N2"},
        // A user's broken file is not ours to delete.
        {"<parkpositions>", 100.0, "unchanged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        writeWholeFile(kReference, c.text);
        std::string id = "unchanged";
        EXPECT_NEAR(gf_readDestApfForClosestStand("EHAM", 52.3, 4.76, id), c.distance, 0.002);
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(readWholeFile(kReference), c.text);
    }
}

// The offline-learning check downloads the server's stock file under a name that no file holds: a file of the
// airport's name in the program folder is the user's and stays as it was, and the check leaves nothing behind.
TEST_F(StandLoad, TheOfflineLearningCheckLeavesAUsersFileOfTheAirportsName) {
    testing_support::ScopedEnv local{"ZNTV_UPDATE_URL", std::nullopt};  // the downloads folder of the program
    std::filesystem::create_directories("downloads/P3D/archive/stock");
    writeWholeFile("downloads/P3D/archive/stock/EGLL.xml",
                   archived(param("Qf_real", "50") + param("WEEK", "24"), stand("S1", 0)));
    const auto programFolder = [] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.is_regular_file() && entry.path().filename() != "Log.txt")
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    struct Case {
        const char* code;
        std::vector<std::string> users;  // files of the program folder before the check
        bool suitable;
    };
    const Case cases[] = {
        {"EGLL", {"EGLL.xml"}, true},
        {"EGLL", {}, true},
        {"EGLL", {"EGLL.download.xml", "EGLL.xml"}, true},
        {"EGKK", {"EGKK.xml"}, false},  // no stock file
    };
    for (const Case& c : cases) {
        for (const std::string& name : programFolder()) std::filesystem::remove(name);
        for (const std::string& name : c.users) writeWholeFile(name, "the user's " + name);
        EXPECT_EQ(gf_suitableForOfflineLearning(c.code), c.suitable) << c.code;
        EXPECT_EQ(programFolder(), c.users);
        for (const std::string& name : c.users) EXPECT_EQ(readWholeFile(name), "the user's " + name);
    }
}

}  // namespace
