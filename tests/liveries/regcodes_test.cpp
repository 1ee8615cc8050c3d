#include "liveries/regcodes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "frame/paths.h"
#include "liveries/aircraft_cfg.h"
#include "liveries/scramble.h"
#include "livery_index_test_env.h"

namespace fs = std::filesystem;
using testing_support::livery;
using testing_support::readWholeFile;

namespace {

void writeWholeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    testing_support::writeWholeFile(path, text);
}

class RegcodesTest : public testing_support::LiveryWorld {
protected:
    void SetUp() override {
        LiveryWorld::SetUp();
        gf_clearAircraftCfgReports();
        fs::create_directories(g_infoFolder);  // the start-up makes the program's folders
    }
    void TearDown() override {
        gf_clearAircraftCfgReports();
        LiveryWorld::TearDown();
    }
    // Nothing listens there: the archive download fails at once.
    testing_support::ScopedEnv m_noServer{"ZNTV_UPDATE_URL", "http://127.0.0.1:9/"};
};

struct LineCase {
    std::string line;
    std::vector<RegcodeEntry> entries;
    bool error;
    std::string warning;  // a log line that must be there
};

TEST_F(RegcodesTest, LineRules) {
    using Regs = std::vector<std::string>;
    const std::vector<LineCase> cases = {
        {"", {}, false, ""},
        {"Title A", {{"Title A", {}, false}}, false, ""},
        {"Title A;", {}, false, ""},
        {"Title A; ", {}, false, ""},
        {" Title A ; D-ABCD ", {{"Title A", Regs{"D-ABCD"}, true}}, false, ""},
        {"Title A;AB", {{"Title A", Regs{"AB"}, true}}, false, ""},
        {"Title A;D-ABCD, D-ABCE", {{"Title A", Regs{"D-ABCD", "D-ABCE"}, false}}, false, ""},
        {"Title A;D-ABCD,D-ABCE; # ", {{"Title A", Regs{"D-ABCD", "D-ABCE"}, true}}, false, ""},
        {"Title A;D-ABCD,D-ABCE;x", {{"Title A", Regs{"D-ABCD", "D-ABCE"}, false}}, false, ""},
        {"Title A;D-ABCDEFGHIJK", {}, true, "===> wrong regcode length \"D-ABCDEFGHIJK\" in f.txt"},
        {"Title A;AB,D-ABCD", {{"Title A", Regs{"D-ABCD"}, false}}, true, "===> wrong regcode length \"AB\" in f.txt"},
        {"Title B;AB,CD", {}, true, "===> Title B ; regs empty? "},
        {"a;b;c;d", {}, true, "===> f.txt: wrong format \"a;b;c;d\""},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<RegcodeEntry> entries;
        RegcodeReadContext context{.path = "f.txt", .entries = &entries, .error = false, .joined = {}};
        lf_parseRegcodeLine(context, c.line);
        EXPECT_EQ(entries, c.entries);
        EXPECT_EQ(context.error, c.error);
        if (!c.warning.empty()) {
            EXPECT_TRUE(logHas(c.warning));
        }
    }
}

TEST_F(RegcodesTest, FolderReadsTextFilesOnlyAndTheXmlUnscrambles) {
    const fs::path folder = m_program / "regs";
    writeWholeFile(folder / "a.txt", "One\r\nTwo;D-ABCD\r\n");
    writeWholeFile(folder / "B.TXT", "Three;N123,N456;#\n");
    writeWholeFile(folder / "c.csv", "Four\n");
    writeWholeFile(folder / "sub" / "d.txt", "Five\n");
    std::vector<RegcodeEntry> entries;
    EXPECT_TRUE(gf_readRegcodeFiles(folder, entries));
    std::vector<std::string> titles;
    for (const RegcodeEntry& e : entries) titles.push_back(e.title);
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, (std::vector<std::string>{"One", "Three", "Two"}));
    EXPECT_TRUE(logHas("3 liveries read"));

    const fs::path xml = m_program / "AIG-regcodes.xml";
    writeWholeFile(xml, "<AIG-regcodes><livery title=\"X\" reg=\"" + gf_scrambleRegistration("D-AIPA") + "," +
                            gf_scrambleRegistration("D-AIPB") +
                            "\" special=\"True\"/><livery title=\"Y\" reg=\"\" "
                            "special=\"0\"/></AIG-regcodes>");
    entries.clear();
    EXPECT_EQ(gf_readRegcodesXmlFile(xml, entries), 1);
    EXPECT_EQ(entries, (std::vector<RegcodeEntry>{{"X", {"D-AIPA", "D-AIPB"}, true}, {"Y", {}, false}}));
    EXPECT_EQ(gf_readRegcodesXmlFile(m_program / "none.xml", entries), 0);
}

TEST_F(RegcodesTest, ScanTimeCollectsTheTitlesNotToUse) {
    writeWholeFile(m_program / "input" / "my_regcodes" / "mine.txt", "Bad one\nBad two\nGood;D-ABCD\nx;y;z;w\n");
    lf_readAigRegcodesForScan();
    EXPECT_EQ(g_excludedLiveryTitles.titles(), (std::vector<std::string>{"Bad one", "Bad two"}));
    EXPECT_TRUE(logHas("===> reading input/AIG-regcodes.xml failed?"));
    EXPECT_TRUE(logHas("2 don't use titles read from files in input/my_regcodes"));
    EXPECT_EQ(g_regcodeReport, std::vector<std::string>{"There were errors in processing the regcode files in folder "
                                                        "\"input/my_regcodes\", see the Log.txt"});
}

TEST_F(RegcodesTest, UserFilesReplaceTheServerListAndInlineClashesAreReported) {
    build({livery("DLH", "A320", "DLH A", false, "D-AAAA"), livery("DLH", "A320", "DLH B"),
           livery("DLH", "A321", "DLH C", false, "D-AAAA")});
    // The build entered the liveries' own codes: the first livery in list order kept D-AAAA.
    EXPECT_EQ(g_regcodeLiveries.at("D-AAAA"), "DLH A");
    EXPECT_EQ(readWholeFile(g_inlineRegcodesReportPath), "D-AAAA \"DLH C\" => already in use by \"DLH A\"\n");
    EXPECT_TRUE(logHas("1 in-line regcode clashes, see \"output/errors/InlineRegcodes.txt\""));

    g_regcodeReport.clear();
    lf_mergeRegcodes({{"DLH A", {"D-BBBB", "D-CCCC"}, false}, {"Not installed", {"D-DDDD"}, true}});
    lf_mergeRegcodes({{"DLH B", {"D-BBBB"}, true}, {"DLH C", {"D-AAAA"}, false}});
    EXPECT_EQ(g_regcodeLiveries.at("D-BBBB"), "DLH B");
    EXPECT_EQ(g_regcodeLiveries.at("D-AAAA"), "DLH C");
    EXPECT_FALSE(g_regcodeLiveries.contains("D-DDDD"));
    EXPECT_EQ(g_regcodeReport, (std::vector<std::string>{
                                   "2 new regcodes added",
                                   "   regcode D-BBBB for \"DLH B\", instead of the same for \"DLH A\"",
                                   "   regcode D-AAAA for \"DLH C\", instead of the same for \"DLH A\"",
                                   "0 new regcodes added, 2 regcodes replaced, 1 regcode defined as special",
                               }));
    EXPECT_EQ(g_specialLiveries, TitleList{"DLH B"});
    EXPECT_EQ(g_specialRegistrations, std::set<std::string>{"D-BBBB"});
}

TEST_F(RegcodesTest, BuildWritesTheOfflineReportOfTheUserFiles) {
    writeWholeFile(m_program / "input" / "my_regcodes" / "mine.txt", "DLH B;D-EEEE\n");
    build({livery("DLH", "A320", "DLH A"), livery("DLH", "A320", "DLH B")});
    EXPECT_EQ(g_regcodeLiveries.at("D-EEEE"), "DLH B");
    EXPECT_EQ(readWholeFile(gf_offlineRegcodesReportPath()),
              "Processing files in input/my_regcodes\n1 new regcode added, 1 regcode defined as special\n");
    EXPECT_TRUE(logHas("1 special liveries"));
    EXPECT_TRUE(logHas("===> reading AIG-regcodes failed?"));
    EXPECT_FALSE(fs::exists(g_inlineRegcodesReportPath));
}

}  // namespace
