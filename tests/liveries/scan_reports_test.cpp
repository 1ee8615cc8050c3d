#include "liveries/scan_reports.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "frame/paths.h"
#include "liveries/aircraft_cfg.h"
#include "liveries/database.h"
#include "support/program_env.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;

namespace {

class ScanReportsTest : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        lf_reset();
    }
    void TearDown() override {
        lf_reset();
        ProgramEnv::TearDown();
    }
    static void lf_reset() {
        gf_clearDataBase();
        gf_clearAircraftCfgReports();
        g_dbaseCorrections.clear();
    }
    // The log from the first line equal to `from` on.
    std::vector<std::string> logFrom(const std::string& from) const {
        const std::vector<std::string> lines = logLines();
        const auto it = std::find(lines.begin(), lines.end(), from);
        return {it, lines.end()};
    }
};

struct CorrectionCase {
    const char* name;
    LiveryData livery;
    LiveryData expected;
    std::vector<std::string> lines;
};

TEST_F(ScanReportsTest, RegistrationsCorrectAirlineTypeAndCargo) {
    g_regcodeDb["D-ABCD"] = RegcodeData{"DLH", "A320", "", false};
    g_regcodeDb["D-AOPR"] = RegcodeData{"DLH", "A321", "CLH", true};
    const auto liv = [](std::string airl, std::string type, std::string atcid, bool cargo) {
        return LiveryData{.airl = airl, .type = type, .title = "T", .atcid = atcid, .priority = 2, .cargo = cargo};
    };
    const std::string t80 = fmt::format("{:80}", "T");
    const std::vector<CorrectionCase> cases = {
        {"airline and type",
         liv("CFG", "A20N", "D-ABCD", false),
         liv("DLH", "A320", "D-ABCD", false),
         {t80 + " D-ABCD airl CFG => DLH", t80 + " D-ABCD model A20N => A320"}},
        {"found under another spelling", liv("DLH", "A320", "DABCD", false), liv("DLH", "A320", "DABCD", false), {}},
        {"the operator flies it; all three fields",
         liv("DLH", "A320", "D-AOPR", false),
         liv("CLH", "A321", "D-AOPR", true),
         {t80 + " D-AOPR cargo false => true", t80 + " D-AOPR airl DLH => CLH", t80 + " D-AOPR model A320 => A321"}},
        {"unknown registration", liv("CFG", "A20N", "D-XXXX", false), liv("CFG", "A20N", "D-XXXX", false), {}},
        {"no registration", liv("CFG", "A20N", "", false), liv("CFG", "A20N", "", false), {}},
    };
    for (const CorrectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_dbaseCorrections.clear();
        LiveryData livery = c.livery;
        lf_correctLiveryFromDbase(livery);
        EXPECT_EQ(livery, c.expected);
        EXPECT_EQ(g_dbaseCorrections, c.lines);
    }
}

TEST_F(ScanReportsTest, ReportFilesAndTheirSummary) {
    fs::create_directories(g_infoFolder);
    g_reportInvalidAirlineCodes.append("XYZ b");
    g_reportInvalidAirlineCodes.append("ABC a");
    g_reportCodeFixes.append("Model fix: 2");
    g_reportCodeFixes.append("Model fix: 1");
    g_reportIncompleteSections.append("one");
    g_reportEmptyCfgFiles.append("z.cfg");
    g_reportEmptyCfgFiles.append("a.cfg");
    g_dbaseCorrections = {"c2", "c1", "c3"};
    lf_writeLiveryScanReports();

    EXPECT_EQ(readWholeFile(g_invalidAirlinesReportPath), "ABC a\nXYZ b\n");
    EXPECT_EQ(readWholeFile(g_fixesReportPath), "Model fix: 2\nModel fix: 1\n");  // in the order found
    EXPECT_EQ(readWholeFile(g_noFltsimReportPath), "a.cfg\nz.cfg\n");
    EXPECT_EQ(readWholeFile(g_airlineModelReportPath), "c2\nc1\nc3\n");
    EXPECT_FALSE(fs::exists(g_invalidAircraftReportPath));
    EXPECT_FALSE(fs::exists(g_invalidCfgReportPath));
    const std::vector<std::string> expected = {
        "",
        "Errors:",
        "2 invalid airline codes, see output/errors/InvalidAirlineCodes.txt",
        "2 code fixes, see output/errors/Fixes.txt",
        "1 incomplete [fltsim.x] sections, see output/errors/IncompleFltsimSections.txt",
        "",
        "Information:",
        "2 empty aircraft.cfg files, see output/info/AircraftCfgWithNoFltsimSection.txt",
        "3 liveries updated with real live data from dbase, see output/info/AirlineModelConversions.txt",
    };
    EXPECT_EQ(logFrom("Errors:"), std::vector<std::string>(expected.begin() + 1, expected.end()));
}

TEST_F(ScanReportsTest, ACleanScanLogsNoErrorsAndWritesNothing) {
    lf_writeLiveryScanReports();
    EXPECT_EQ(logFrom("No errors"), (std::vector<std::string>{"No errors", "", "Information:"}));
    EXPECT_FALSE(fs::exists(g_outputFolder));
}

TEST_F(ScanReportsTest, TheErrorsFolderThatCannotBeMadeStopsTheReports) {
    g_reportInvalidModelCodes.append("XXXX");
    // No "output" folder: "errors" cannot be created in it.
    EXPECT_THROW(lf_writeLiveryScanReports(), fs::filesystem_error);
    EXPECT_FALSE(lf_writeLines({"a"}, "missing/folder/file.txt"));
    fs::create_directories(g_outputFolder);
    EXPECT_TRUE(lf_writeLines({"a", "", "b"}, "output/lines.txt"));
    EXPECT_EQ(readWholeFile("output/lines.txt"), "a\n\nb\n");
}

}  // namespace
