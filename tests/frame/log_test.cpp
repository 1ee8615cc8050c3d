#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame/files.h"
#include "frame/log.h"
#include "frame/timeutil.h"
#include "frame/version.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> lf_lines(const fs::path& p) {
    std::vector<std::string> lines;
    std::istringstream in(readWholeFile(p));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::time_t lf_utc(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return timegm(&tm);
}

class LogTest : public ::testing::Test {
protected:
    void TearDown() override {
        gf_closeLog();
        gf_setSlotClock({});
    }
    TempDir dir;
    ScopedCwd cwd{dir.path()};
};

}  // namespace

TEST_F(LogTest, ThreeStartsKeepTheTwoPreviousRunsAndWriteTheHeader) {
    const std::time_t t = lf_utc(2026, 12, 6, 14, 51, 2);
    gf_setSlotClock({.now = [t] { return t; }, .trafficTimeInForce = {}, .latestTrafficTime = {}});
    const std::string header = "Sun Dec 06 14:51:02 2026 (utc) ZNTV_P3D version 10.10.4 for Prepar3D v5/v6";

    gf_openLog();
    gf_logLine("run 1");
    EXPECT_TRUE(fs::exists("Log.txt"));
    EXPECT_FALSE(fs::exists("Log0.txt"));
    EXPECT_FALSE(fs::exists("Log00.txt"));

    gf_openLog();
    gf_logLine("run 2");
    EXPECT_TRUE(fs::exists("Log0.txt"));
    EXPECT_FALSE(fs::exists("Log00.txt"));

    gf_openLog();
    gf_logLine("run 3");
    gf_closeLog();

    EXPECT_EQ(readWholeFile("Log.txt"), header + "\nrun 3\n");
    EXPECT_EQ(readWholeFile("Log0.txt"), header + "\nrun 2\n");
    EXPECT_EQ(readWholeFile("Log00.txt"), header + "\nrun 1\n");
    // Nothing else (no temporary copies) is left in the folder.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(".")) ++entries;
    EXPECT_EQ(entries, 3u);
}

TEST_F(LogTest, WritersAddTheirPrefixesAndLinefeedOnly) {
    gf_openLog("x.log");
    gf_logLine("plain");
    gf_logString(std::string("owned"));
    gf_logWarning("careful");
    gf_logIndented("detail");
    gf_closeLog();
    const std::string text = readWholeFile("x.log");
    const std::string body = text.substr(text.find('\n') + 1);
    EXPECT_EQ(body, "plain\nowned\n===> careful\n          detail\n");
}

TEST_F(LogTest, TwoThreadsNeverInterleaveWithinALine) {
    gf_openLog();
    const std::string a(300, 'a'), b(300, 'b');
    constexpr int kLines = 2000;
    std::thread ta([&] {
        for (int i = 0; i < kLines; ++i) gf_logLine(a);
    });
    std::thread tb([&] {
        for (int i = 0; i < kLines; ++i) gf_logWarning(b);
    });
    ta.join();
    tb.join();
    gf_closeLog();

    const auto lines = lf_lines("Log.txt");
    ASSERT_EQ(lines.size(), 1u + 2 * kLines);
    int countA = 0, countB = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i] == a)
            ++countA;
        else if (lines[i] == "===> " + b)
            ++countB;
        else
            ADD_FAILURE() << "mixed line " << i;
    }
    EXPECT_EQ(countA, kLines);
    EXPECT_EQ(countB, kLines);
}

TEST_F(LogTest, WritesAfterCloseDoNothing) {
    gf_openLog();
    EXPECT_TRUE(gf_logIsOpen());
    gf_logLine("before");
    gf_closeLog();
    EXPECT_FALSE(gf_logIsOpen());
    const std::string closed = readWholeFile("Log.txt");
    gf_logLine("after");
    gf_logString("after");
    gf_logWarning("after");
    gf_logIndented("after");
    EXPECT_EQ(readWholeFile("Log.txt"), closed);
    EXPECT_EQ(closed.substr(closed.find('\n') + 1), "before\n");
}

TEST_F(LogTest, ClosingWhileOtherThreadsWriteLeavesOnlyWholeLines) {
    gf_openLog();
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&, w] {
            const std::string line(100, static_cast<char>('a' + w));
            while (!stop) {
                gf_logLine(line);
                ++written;
            }
        });
    while (written < 500) std::this_thread::yield();
    gf_closeLog();
    const std::string atClose = readWholeFile("Log.txt");
    stop = true;
    for (auto& t : writers) t.join();

    EXPECT_EQ(readWholeFile("Log.txt"), atClose);
    ASSERT_FALSE(atClose.empty());
    EXPECT_EQ(atClose.back(), '\n');
    const auto lines = lf_lines("Log.txt");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].size(), 100u) << "line " << i;
        EXPECT_EQ(lines[i].find_first_not_of(lines[i][0]), std::string::npos) << "line " << i;
    }
}

TEST_F(LogTest, AnUnwritableLogFailsWithThePathAndStaysClosed) {
    const fs::path bad = dir.path() / "missing" / "Log.txt";
    try {
        gf_openLog(bad);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to write file " + bad.string());
    }
    EXPECT_FALSE(gf_logIsOpen());
    gf_logLine("nowhere");  // must not crash or write anywhere
    // The log opens fine afterwards.
    gf_openLog();
    gf_logLine("ok");
    gf_closeLog();
    EXPECT_NE(readWholeFile("Log.txt").find("\nok\n"), std::string::npos);
}

TEST(ProgramVersion, TextAndParsing) {
    EXPECT_EQ(gf_versionText(g_programVersion), "10.10.4");
    EXPECT_EQ(gf_parseVersion(kProgramVersionText), g_programVersion);

    // Any one character between the digit runs, anywhere in the text.
    EXPECT_EQ(gf_parseVersion("release 11_2-33 final"), (ProgramVersion{11, 2, 33}));
    EXPECT_EQ(gf_parseVersion(R"({"major": 12, "minor": 1})"), (ProgramVersion{12, 1, 0}));
    EXPECT_EQ(gf_parseVersion(R"({"major": 12, "minor": 1, "patch": 7})"), (ProgramVersion{12, 1, 7}));
    // A member of the wrong type ends the parse with what was read before it.
    EXPECT_EQ(gf_parseVersion(R"({"major": 3, "minor": "x", "patch": 7})"), (ProgramVersion{3, 0, 0}));
    EXPECT_EQ(gf_parseVersion("99999999999.1.1"), (ProgramVersion{0, 0, 0}));

    EXPECT_FALSE(gf_parseVersion(""));
    EXPECT_FALSE(gf_parseVersion("not a version"));
    EXPECT_FALSE(gf_parseVersion("[1, 2, 3]"));
    EXPECT_FALSE(gf_parseVersion("10.10"));

    EXPECT_LT((ProgramVersion{10, 10, 4}), (ProgramVersion{10, 11, 0}));
    EXPECT_LT((ProgramVersion{9, 99, 99}), (ProgramVersion{10, 0, 0}));
    EXPECT_GT((ProgramVersion{10, 10, 5}), g_programVersion);
}
