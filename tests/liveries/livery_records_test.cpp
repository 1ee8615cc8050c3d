#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/errors.h"
#include "frame/timeutil.h"
#include "livery_index_test_env.h"

namespace fs = std::filesystem;
using testing_support::livery;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

namespace {

class LiveryRecordsTest : public testing_support::LiveryWorld {
protected:
    std::vector<LiveryData> readBack(const fs::path& path) {
        lf_readLiveriesScanned(path);
        return {g_scannedLiveries.begin(), g_scannedLiveries.end()};
    }
};

TEST_F(LiveryRecordsTest, WrittenFileReadsBackToTheSameRecordsAndTheSameBytes) {
    // The meta block carries the date: a fixed clock keeps two writes byte-equal across midnight.
    gf_setSlotClock({.now = [] { return std::time_t{1'800'000'000}; }, .trafficTimeInForce = {}, .latestTrafficTime = {}});
    const std::vector<LiveryData> scan = {
        livery("DLH", "A320", "Lufthansa A320", false, "D-AIZA"),
        livery("DLH", "B77L", "Lufthansa \"Cargo\" 7 & <co>\tF", true),
        livery("ZZZ", "C172", "Cessna 172 \xC3\xA9t\xC3\xA9"),
    };
    g_scannedLiveries.assign(scan.begin(), scan.end());
    const fs::path first = m_program / "first.xml", second = m_program / "second.xml";
    lf_writeLiveriesScanned(first);
    const std::vector<LiveryData> read = readBack(first);
    EXPECT_EQ(read, scan);
    EXPECT_EQ(read[0].priority, 0);
    lf_writeLiveriesScanned(second);
    EXPECT_EQ(readWholeFile(second), readWholeFile(first));
    gf_setSlotClock({});

    const std::string text = readWholeFile(first);
    EXPECT_NE(text.find("<liv airl=\"DLH\" type=\"A320\" title=\"Lufthansa A320\" atcid=\"D-AIZA\" />"), std::string::npos);
    EXPECT_NE(text.find("<liv airl=\"DLH\" type=\"B77L\" cargo=\"true\" title="), std::string::npos);
    EXPECT_NE(text.find("<liv airl=\"ZZZ\" type=\"C172\" title=\"Cessna 172 \xC3\xA9t\xC3\xA9\" />"), std::string::npos);
    EXPECT_TRUE(logHas("3 liveries in " + first.string()));
    EXPECT_TRUE(logHas("3 liveries read from " + first.string()));
}

TEST_F(LiveryRecordsTest, ReaderTakesCargoFromTheFirstCharacterAndRefusesFilesWithoutLiveries) {
    const fs::path path = m_program / "in.xml";
    writeWholeFile(path, "<meta/><liveries><liv airl=\"A\" type=\"T\" title=\"1\" cargo=\"yes\"/><liv title=\"2\" cargo=\"1\"/>"
                         "<liv title=\"3\" cargo=\"false\"/><liv title=\"4\" cargo=\"0\"/><liv title=\"5\"/></liveries>");
    std::vector<bool> cargo;
    for (const LiveryData& r : readBack(path)) cargo.push_back(r.cargo);
    EXPECT_EQ(cargo, (std::vector<bool>{true, true, false, false, false}));
    EXPECT_EQ(g_scannedLiveries.back().atcid, "");

    const std::vector<std::pair<std::string, std::string>> refused = {
        {"<meta/><liveries><other/></liveries>", "533: " + path.string() + " does not contain liveries"},
        {"<livery><liv title=\"x\"/></livery>", "52: " + path.string() + " does not contain a <liveries> section"},
        {"<liveries><liv title=\"x\"></liveries>", "51: File " + path.string() + " not found"},
    };
    for (const auto& [body, error] : refused) {
        writeWholeFile(path, body);
        try {
            lf_readLiveriesScanned(path);
            ADD_FAILURE() << body;
        } catch (const qtm::UserErrorException& e) {
            EXPECT_EQ(std::string(e.what()), error);
        }
    }
}

TEST_F(LiveryRecordsTest, FailedSaveIsAnErrorAndLeavesTheOldFile) {
    g_scannedLiveries = {livery("DLH", "A320", "Lufthansa A320")};
    // A folder where the file should be: the rename over it fails, as on a full or read-only disk.
    const fs::path blocked = m_program / "blocked.xml";
    fs::create_directories(blocked / "inside");
    EXPECT_THROW(lf_writeLiveriesScanned(blocked), std::runtime_error);
    EXPECT_TRUE(fs::is_directory(blocked / "inside"));
    EXPECT_FALSE(logHas("1 liveries in " + blocked.string()));
}

}  // namespace
