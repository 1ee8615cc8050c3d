// Stand files on disk: golden texts of a generated, a learned and a hand-made learned file, a save that fails,
// and the learned file of the park airport: its stands, its folder and what it reports.
#include "airports/stand_save.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <fmt/format.h>

#include "airports/services.h"
#include "airports/stand_load.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/timeutil.h"
#include "frame/version.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace testing_support;
using ::testing::HasSubstr;

namespace {

constexpr std::time_t kNoon = 1780056000;  // 2026-05-29 12:00:00 UTC

ParkPosOption opt(std::uint32_t fromFile) {
    return ParkPosOption{.airline = "KLM", .type = "B738", .registration = "", .callsign1 = "KLM1", .callsign2 = "",
                         .halfHours = HalfHourSet(1), .id = 1, .day = 1, .fromFile = fromFile, .real = 1};
}

ParkPos stand(std::string id, double lon, std::vector<ParkPosOption> options = {}) {
    return ParkPos(std::move(id), std::move(options), 52.3, lon, 0.0, 20.0, false, true, false);
}

class StandSave : public ::testing::Test {
protected:
    void SetUp() override {
        gf_openLog(m_logDir / "Log.txt");
        gf_setSlotClock({.now = [] { return kNoon; }, .trafficTimeInForce = {}, .latestTrafficTime = {}});
    }
    void TearDown() override {
        gf_setSlotClock({});
        gf_closeLog();
        g_parkPositions.clear();
        g_parkAirportCode.clear();
        g_apfLearnedPath.clear();
        g_apfInfo = {};
        g_apfHandmade = false;
        g_apfUpdates = 0;
        g_apfSettingsChanged = false;
    }
    std::string log() const { return readWholeFile(m_logDir / "Log.txt"); }

    TempDir m_program;
    ScopedCwd m_cwd{m_program.path()};
    TempDir m_logDir;
};

// The golden files pin the whole text: read and written again, each comes back byte for byte.
TEST_F(StandSave, GoldenFilesComeBackByteForByte) {
    const std::string version = fmt::format("value=\"{}\"", gf_versionText(g_programVersion));
    for (const char* name : {"generated.xml", "learned.xml", "handmade.xml"}) {
        SCOPED_TRACE(name);
        std::string golden = readWholeFile(fs::path(ZNTV_SOURCE_DIR) / "tests/airports/golden" / name);
        const std::string marker = "value=\"@VERSION@\"";
        golden.replace(golden.find(marker), marker.size(), version);
        StandFile file;
        std::string error;
        ASSERT_TRUE(gf_readStandFileText(golden, 1, file, error)) << error;
        ASSERT_TRUE(gf_writeApf(file, name));
        EXPECT_EQ(readWholeFile(m_program / name), golden);
    }
}

TEST_F(StandSave, AFailedSaveKeepsTheOldFileAndSaysSo) {
    writeWholeFile(m_program / "EHAM.xml", "old");
    StandFile big;
    for (int i = 0; i < 200; ++i) big.stands.push_back(stand(fmt::format("S{}", i), 4.0));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = gf_writeApf(big, "EHAM.xml");
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_FALSE(saved);
    EXPECT_EQ(readWholeFile(m_program / "EHAM.xml"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_program.path()), fs::directory_iterator()), 1);
    EXPECT_THAT(log(), HasSubstr("could not save to \"EHAM.xml\", the file there is unchanged: File too large"));
}

// A process killed at any moment of its saving leaves either the old file or the new one, whole.
TEST_F(StandSave, AKillDuringTheSaveLeavesAWholeFile) {
    StandFile a, b;
    for (int i = 0; i < 300; ++i) {
        a.stands.push_back(stand(fmt::format("A{}", i), 4.0));
        b.stands.push_back(stand(fmt::format("B{}", i), 5.0));
    }
    ASSERT_TRUE(gf_writeApf(a, "EHAM.xml"));
    const std::string textA = readWholeFile(m_program / "EHAM.xml");
    ASSERT_TRUE(gf_writeApf(b, "EHAM.xml"));
    const std::string textB = readWholeFile(m_program / "EHAM.xml");
    for (int round = 0; round < 10; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int n = 0;; ++n) gf_writeApf(n % 2 == 0 ? a : b, "EHAM.xml");
        }
        ::usleep(static_cast<useconds_t>(3000 + 1700 * round));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string text = readWholeFile(m_program / "EHAM.xml");
        EXPECT_TRUE(text == textA || text == textB) << "round " << round << ": " << text.size() << " bytes";
    }
    // The next start removes the temporary files the kills left (one is made sure of), and nothing else.
    writeWholeFile(m_program / "EHAM.xml.0badf00d.tmp", "half a file");
    writeWholeFile(m_program / "notes.tmp", "the user's");
    gf_removeInterruptedSaves();
    std::set<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_program.path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"EHAM.xml", "notes.tmp"}));
    EXPECT_THAT(log(), HasSubstr("./EHAM.xml.0badf00d.tmp removed, left by an interrupted save"));
}

TEST_F(StandSave, LearnedFileOfTheParkAirport) {
    struct Case {
        const char* learnedPath;  // as the loader set it
        const char* publisher;
        bool handmade;
        const char* expectedPath;
    };
    const std::vector<Case> cases = {
        {"airports/learned/my_ORBX/EHAM.xml", "Some Maker", false, "airports/learned/my_ORBX/EHAM.xml"},
        {"", "stock", false, "airports/learned/stock/EHAM.xml"},
        {"", "simaddon", false, "airports/learned/simaddon/EHAM.xml"},
        {"", "Some Maker", false, "airports/learned/thirdparty/Some Maker/EHAM.xml"},
        {"", "../../x", false, "airports/learned/thirdparty/_.__._x/EHAM.xml"},
        {"", "stock", true, "airports/learned/stock/EHAM.xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedPath);
        g_parkAirportCode = "EHAM";
        g_apfInfo = {.airportName = "Schiphol", .publisher = c.publisher, .altitude = -11};
        g_apfLearnedPath = c.learnedPath;
        g_apfHandmade = c.handmade;
        g_apfUpdates = 2;
        g_apfSettingsChanged = true;
        // Manual; options of the archived file only; a learned option too; an enlarged radius; nothing.
        g_parkPositions = {stand("M", 4.7), stand("F", 4.8, {opt(1)}), stand("L", 4.9, {opt(1), opt(0)}),
                           stand("R", 5.0), stand("N", 5.1)};
        g_parkPositions[0].manual = 1;
        g_parkPositions[3].radiusChanged = 1;

        lf_saveAirportFile();
        EXPECT_EQ(g_apfUpdates, 0u);
        EXPECT_FALSE(g_apfSettingsChanged);
        EXPECT_THAT(log(), HasSubstr(fmt::format("12:00:00{} \"{}\" saved with 2 updates and one or more parameter "
                                                 "changes\n",
                                                 c.handmade ? " handmade" : "", c.expectedPath)));
        StandFile back;
        std::string error;
        ASSERT_TRUE(gf_readStandFileText(readWholeFile(m_program / c.expectedPath), 1, back, error)) << error;
        std::vector<std::string> ids;
        for (const ParkPos& s : back.stands) ids.push_back(s.id);
        // A hand-made file replaces the archived stands when read: every stand stays.
        const std::vector<std::string> expected =
            c.handmade ? std::vector<std::string>{"M", "F", "L", "R", "N"} : std::vector<std::string>{"M", "L", "R"};
        EXPECT_EQ(ids, expected);
        // Options of the archived file are learning's only in a hand-made file.
        const ParkPos& l = back.stands[c.handmade ? 2 : 1];
        EXPECT_EQ(l.options.size(), c.handmade ? 2u : 1u);
        EXPECT_EQ(back.handmade, c.handmade);
        if (c.handmade) {
            EXPECT_EQ(back.qfReal, gf_realFactor(gf_qualityFactor()));
        }
    }
}

TEST_F(StandSave, AFailedSaveKeepsTheCountsForTheNextSave) {
    fs::create_directories(m_program / "airports");
    writeWholeFile(m_program / "airports/learned", "a file where the folder belongs");
    g_parkAirportCode = "EHAM";
    g_apfInfo.publisher = "stock";
    g_apfUpdates = 3;
    g_apfSettingsChanged = true;

    lf_saveAirportFile();
    EXPECT_EQ(g_apfUpdates, 3u);
    EXPECT_TRUE(g_apfSettingsChanged);
    EXPECT_THAT(log(), HasSubstr("create_directory"));
    EXPECT_THAT(log(), HasSubstr("12:00:00 saving \"airports/learned/stock/EHAM.xml\" did not succeed (create_directory: "
                                   "Not a directory: \"airports/learned/stock\"), its learning is kept for the next save\n"));
}

}  // namespace
