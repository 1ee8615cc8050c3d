#include "liveries/aircraft_cfg.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/errors.h"
#include "frame/files.h"
#include "frame/text.h"
#include "liveries/database.h"
#include "liveries/registrations.h"
#include "support/program_env.h"

namespace fs = std::filesystem;
using testing_support::writeWholeFile;

namespace {

struct Expected {
    std::string airl, title, atcid;
    bool cargo = false;
};

// Every report list by name, so that a case can say which one must hold its line and that the rest stay empty.
const std::vector<std::pair<std::string, ScanReportList*>>& reportLists() {
    static const std::vector<std::pair<std::string, ScanReportList*>> lists = {
        {"airline", &g_reportInvalidAirlineCodes},
        {"model", &g_reportInvalidModelCodes},
        {"fixes", &g_reportCodeFixes},
        {"cfg", &g_reportInvalidCfgFiles},
        {"incomplete", &g_reportIncompleteSections},
        {"empty", &g_reportEmptyCfgFiles}};
    return lists;
}

class AircraftCfgTest : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        lf_reset();
        g_icaoAirlines = {"DLH", "CLH", "ZZZ"};
        g_knownModels = {"A320", "A20N", "B744", "C172", "GLID"};
        g_largeModels = {"A320"};
        g_heavyModels = {"B744"};
        g_modelFixes["A32N"] = "A20N";
        g_regcodeDb["D-AIPA"] = RegcodeData{"DLH", "A320", "", false};
        g_regcodeDb["N12"] = RegcodeData{"PVT", "C172", "", false};
        gf_collectPrivateOperators();
        g_excludedLiveryTitles.add("Excluded");
        m_folder = package("SimObjects/Airplanes/Pkg");
    }
    void TearDown() override {
        lf_reset();
        ProgramEnv::TearDown();
    }
    static void lf_reset() {
        gf_clearDataBase();
        gf_collectPrivateOperators();
        gf_clearAircraftCfgReports();
    }

    // A package as installers lay it out: "model." with an empty suffix is the folder "model".
    fs::path package(const std::string& relative) const {
        const fs::path folder = m_program / relative;
        fs::create_directories(folder / "model");
        fs::create_directories(folder / "texture");
        fs::create_directories(folder / "MODEL.heavy");
        writeWholeFile(folder / "A320.air", "air");
        return folder;
    }

    // The reports of all lists as "list: line", then emptied for the next case.
    static std::vector<std::string> takeReports() {
        std::vector<std::string> all;
        for (const auto& [name, list] : reportLists()) {
            for (const std::string& line : list->lines()) all.push_back(name + ": " + line);
            list->clear();
        }
        return all;
    }

    static std::vector<std::string> expectedReports(const std::string& report, const fs::path& folder,
                                                    const fs::path& path) {
        if (report.empty()) return {};
        return {
            fmt::format(fmt::runtime(report), fmt::arg("folder", folder.string()), fmt::arg("path", path.string()))};
    }

    static void expectLivery(const std::optional<Expected>& expected, const LiveryData* found,
                             const std::string& type) {
        if (!expected) {
            EXPECT_EQ(found, nullptr);
            return;
        }
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->airl, expected->airl);
        EXPECT_EQ(found->title, expected->title);
        EXPECT_EQ(found->atcid, expected->atcid);
        EXPECT_EQ(found->cargo, expected->cargo);
        EXPECT_EQ(found->type, type);
    }

    fs::path m_folder;
};

struct SectionCase {
    const char* name;
    std::string type;
    std::vector<std::string> lines;  // before the package lines model=, texture=, sim=A320
    std::optional<Expected> livery;
    std::string report;  // "list: line" with {folder} and {path}; empty: no report
};

TEST_F(AircraftCfgTest, SectionRules) {
    const std::vector<SectionCase> cases = {
        {"key in any case, blanks around the value",
         "A320",
         {"TITLE = A320 Foo   ", "atc_parking_codes=DLH", "atc_id = D-AIPA"},
         Expected{"DLH", "A320 Foo", "D-AIPA"},
         ""},
        {"second title",
         "A320",
         {"title=A", "Title=B", "atc_parking_codes=DLH"},
         std::nullopt,
         "incomplete: {folder} [fltsim.0] has more than one title key"},
        {"parking code ending C", "A320", {"title=A", "atc_parking_codes=DLHC"}, Expected{"DLH", "A", ""}, ""},
        {"parking code ending X", "A320", {"title=A", "atc_parking_codes=CLHX"}, Expected{"CLH", "A", ""}, ""},
        {"RFO", "A320", {"title=A", "atc_parking_codes=RFO"}, std::nullopt, ""},
        {"two airline codes: reported, the registration gives the airline",
         "A320",
         {"title=A", "atc_parking_codes=DLH, CLH", "atc_id=D-AIPA"},
         Expected{"DLH", "A", "D-AIPA"},
         "airline: DLH,CLH      in {path} [fltsim.0]"},
        {"atc_id cut at ;",
         "A320",
         {"title=A", "atc_parking_codes=DLH", "atc_id=D-ABCD;x"},
         Expected{"DLH", "A", "D-ABCD"},
         ""},
        {"two registrations",
         "A320",
         {"title=A", "atc_parking_codes=DLH", "atc_id=D-ABCD,D-ABCE"},
         Expected{"DLH", "A", ""},
         ""},
        {"wild card", "A320", {"title=A", "atc_parking_codes=DLH", "atc_id=D-AB*"}, Expected{"DLH", "A", ""}, ""},
        {"second atc_id",
         "A320",
         {"title=A", "atc_id=D-AIPA", "atc_id=D-AIPB"},
         std::nullopt,
         "incomplete: {folder}, [fltsim.0], has more than one atc_id key"},
        {"second atc_parking_codes",
         "A320",
         {"title=A", "atc_parking_codes=DLH", "atc_parking_codes=CLH"},
         std::nullopt,
         "incomplete: {folder} [fltsim.0] has more than one atc_parking_codes key"},
        {"large type without airline or registration",
         "A320",
         {"title=A"},
         std::nullopt,
         "incomplete: \"{folder}\" \"[fltsim.0]\" has no airline and no regcode info"},
        {"large type with an unknown registration",
         "A320",
         {"title=A", "atc_id=X-UNKN"},
         std::nullopt,
         "incomplete: \"{folder}\" \"[fltsim.0]\" has no airline and its regcode is not in my dbase (very old liv?)"},
        {"light type: a private owner, registration from the title",
         "C172",
         {"title=C172 N12AB"},
         Expected{"PVT", "C172 N12AB", "N12"},
         ""},
        {"generic livery keeps no registration",
         "A320",
         {"title=A", "atc_parking_codes=ZZZ", "atc_id=D-AIPA"},
         Expected{"ZZZ", "A", ""},
         ""},
        {"cargo from the parking types",
         "A320",
         {"title=A", "atc_parking_codes=DLH", "atc_parking_types=GATE, cargo"},
         Expected{"DLH", "A", "", true},
         ""},
        {"model folder in another letter case",
         "A320",
         {"title=A", "atc_parking_codes=DLH", "model=Heavy"},
         Expected{"DLH", "A", ""},
         ""},
        {"missing texture folder",
         "A320",
         {"title=A", "atc_parking_codes=DLH", "texture=Gone"},
         std::nullopt,
         "incomplete: {folder}/texture.Gone [fltsim.0] does not exist"},
        {"missing flight model",
         "A320",
         {"title=A", "atc_parking_codes=DLH", "sim=B738"},
         std::nullopt,
         "incomplete: {folder}/B738.air [fltsim.0] does not exist"},
        {"no title", "A320", {"atc_parking_codes=DLH"}, std::nullopt, "incomplete: {folder} [fltsim.0] misses title"},
        {"excluded title", "A320", {"title=Excluded", "atc_parking_codes=DLH"}, std::nullopt, ""},
    };
    const fs::path path = m_folder / "aircraft.cfg";
    for (const SectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> section = {"[fltsim.0]"};
        section.insert(section.end(), c.lines.begin(), c.lines.end());
        for (const char* line : {"model=", "texture=", "sim=A320", "", "// end"}) section.emplace_back(line);
        const auto found = lf_procesFltSimSection(section, 3, c.type, path.string(), m_folder.string());
        expectLivery(c.livery, found ? &found->livery : nullptr, c.type);
        if (found) {
            EXPECT_EQ(found->livery.priority, 3);
        }
        EXPECT_EQ(takeReports(), expectedReports(c.report, m_folder, path));
    }
    EXPECT_TRUE(logHas("===> A D-AB* wild cards no longer supported, atc_id skipped "));
}

struct FileCase {
    const char* name;
    std::string text;
    std::vector<std::string> titles;
    std::string report;
};

std::string cfg(const std::string& sections, const std::string& model = "A320") {
    return "[General]\natc_model=" + model + "\n" + sections;
}
const std::string kBody = "model=\ntexture=\nsim=A320\natc_parking_codes=DLH\n";

std::string utf16le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

TEST_F(AircraftCfgTest, FileRules) {
    const std::vector<FileCase> cases = {
        {"sections in order", cfg("[fltsim.1]\ntitle=B\n" + kBody + "[fltsim.0]\ntitle=A\n" + kBody), {"B", "A"}, ""},
        {"non-consecutive",
         cfg("[fltsim.0]\ntitle=A\n" + kBody + "[fltsim.2]\ntitle=B\n" + kBody),
         {},
         "cfg: {path} contains non-consecutive [fltsim.x] numbers at .x=2"},
        {"without a number",
         cfg("[fltsim.0]\ntitle=A\n" + kBody + "[fltsim.]\ntitle=B\n" + kBody),
         {},
         "cfg: {path} contains a [fltsim.] section without a number"},
        {"no section at all", cfg("[General]\n"), {}, "empty: {path}"},
        {"commented header ends the section, is not counted",
         cfg("[fltsim.0]\ntitle=A\n" + kBody + "//[fltsim.3]\ntitle=B\n"),
         {"A"},
         ""},
        {"[ within the first six characters ends the section",
         cfg("[fltsim.0]\ntitle=A\n" + kBody + "     [x]\ntitle=B\n"),
         {"A"},
         ""},
        {"[ further into a line is a value", cfg("[fltsim.0]\ntitle=[old] DLH\n" + kBody), {"[old] DLH"}, ""},
        {"no atc_model",
         "[fltsim.0]\ntitle=A\n" + kBody,
         {},
         "cfg: Line atc_model= is missing in [General] section of {path}"},
        {"fixed type code",
         cfg("[fltsim.0]\ntitle=A\n" + kBody, "A32N"),
         {"A"},
         "fixes: Model fix: A32N found in {path} changed into A20N"},
        {"unknown type code", cfg("[fltsim.0]\ntitle=A\n" + kBody, "XXXX"), {}, "model: XXXX             in {path}"},
        {"a value too long for a file name drops its section alone",
         cfg("[fltsim.0]\ntitle=A\n" + kBody + "[fltsim.1]\ntitle=B\ntexture=" + std::string(300, 'n') +
             "\nmodel=\nsim=A320\n[fltsim.2]\ntitle=C\n" + kBody),
         {"A", "C"},
         "incomplete: {folder}/texture." + std::string(300, 'n') +
             " [fltsim.1] cannot be looked up: File name too long"},
        {"UTF-16 with CR LF",
         utf16le("[General]\r\natc_model=A320\r\n[fltsim.0]\r\ntitle=A\r\nmodel=\r\ntexture=\r\n"
                 "sim=A320\r\natc_parking_codes=DLH\r\n"),
         {"A"},
         ""},
    };
    const fs::path path = m_folder / "Aircraft.CFG";
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        writeWholeFile(path, c.text);
        const LiveryFileResult result = gf_parseLiveryFile(1, path, false);
        std::vector<std::string> titles;
        for (const LiveryData& livery : result.liveries) titles.push_back(livery.title);
        EXPECT_EQ(titles, c.titles);
        for (const std::string& line : result.fixLines) g_reportCodeFixes.append(line);  // as the scan takes them
        EXPECT_EQ(takeReports(), expectedReports(c.report, m_folder, path));
    }
}

TEST_F(AircraftCfgTest, IvaoTypeFromThePackageFolder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/sim/IVAO_MTL/IVAO_B744F/aircraft.cfg", "B744"},
        {"/sim/ivao_mtl/IVAO_A320w/Aircraft.CFG", "A320"},
        {"C:\\sim\\IVAO_MTL\\IVAO_GLID_KA6\\aircraft.cfg", "GLID"},
        {"/sim/IVAO_MTL/IVAO_C172/aircraft_cfg", "C172"},
        {"IVAO_MTL/IVAO_B744/aircraft.cfg", ""},
        {"/sim/IVAO_MTL/x/IVAO_B744/aircraft.cfg", ""},
        {"/sim/IVAO_MTL/IVAO_B7-4/aircraft.cfg", ""},
        {"/sim/IVAO_MTL/IVAO_B744/sim.cfg", ""},
    };
    for (const auto& [path, type] : cases) EXPECT_EQ(lf_ivaoMtlModelFix(path), type) << path;
    EXPECT_TRUE(takeReports().empty());
}

TEST_F(AircraftCfgTest, IvaoSectionTakesTheAirlineFromTheTitle) {
    const fs::path folder = package("IVAO_MTL/IVAO_B744");
    const fs::path path = folder / "aircraft.cfg";
    const std::vector<SectionCase> cases = {
        {"airline from the title, parking keys ignored",
         "B744",
         {"title=DLH Boeing 747", "atc_parking_codes=CLH", "atc_parking_types=CARGO"},
         Expected{"DLH", "DLH Boeing 747", ""},
         ""},
        {"unknown airline", "B744", {"title=XYZ 747"}, std::nullopt, "airline: XYZ          in {path} [fltsim.0]"},
        {"no code in the title, known registration",
         "B744",
         {"title=-- 747", "atc_id=D-AIPA"},
         Expected{"DLH", "-- 747", "D-AIPA"},
         ""},
        {"no code, unknown registration",
         "B744",
         {"title=-- 747", "atc_id=X-UNK"},
         std::nullopt,
         "incomplete: {folder} [fltsim.0] misses airlinecode in title: -- 747, and regcode unknownX-UNK"},
        {"no code, no registration",
         "B744",
         {"title=-- 747"},
         std::nullopt,
         "incomplete: {folder} [fltsim.0] misses airlinecode in title: -- 747, and no regcode"},
    };
    for (const SectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> section = {"[fltsim.0]"};
        section.insert(section.end(), c.lines.begin(), c.lines.end());
        for (const char* line : {"model=", "texture=", "sim=A320"}) section.emplace_back(line);
        const auto found = lf_procesFltSimSectionMtl(section, 1, c.type, path.string(), folder.string());
        expectLivery(c.livery, found ? &found->livery : nullptr, c.type);
        EXPECT_EQ(takeReports(), expectedReports(c.report, folder, path));
    }
    // A "[" anywhere ends a section of the IVAO variant.
    writeWholeFile(path,
                   "[fltsim.0]\ntitle=DLH 747\nmodel=\ntexture=\nsim=A320\n[fltsim.1]\ntitle=CLH 747\n"
                   "model=\ntexture=\nsim=A320\nthe [end]\ntitle=second\n");
    const LiveryFileResult result = gf_parseLiveryFile(1, path, true);
    ASSERT_EQ(result.liveries.size(), 2u);
    EXPECT_EQ(result.liveries.back().title, "CLH 747");
    EXPECT_EQ(result.liveries.back().type, "B744");
}

TEST_F(AircraftCfgTest, KeyLinesAndHeaders) {
    const std::vector<std::tuple<std::string, std::string, std::string>> keys = {
        {"  Title  =  x y \t", "title", "x y"},
        {"title=", "title", ""},
        {"title=  ", "title", ""},
        {"titles=x", "title", ""},
        {"title=a\rb", "title", ""},
        {"x title=y", "title", ""},
        {"sim = A=B", "sim", "A=B"},
    };
    for (const auto& [line, key, value] : keys) EXPECT_EQ(lf_matchKeyValue(line, key), value) << line;
    const std::vector<std::pair<std::string, std::string>> headers = {
        {" [FLTSIM.12] ", "12"}, {"[fltsim.0]x", "10000"}, {"[fltsim.]", "10000"},
        {"//[fltsim.3]", ""},    {"[Fltsim.x]", ""},       {"[general]", ""},
    };
    for (const auto& [line, number] : headers) EXPECT_EQ(lf_fltsimSectionNumber(line), number) << line;
}

TEST_F(AircraftCfgTest, ATitleGoesToTheLiveryFirstInFolderOrderWhicheverParseEndsFirst) {
    const fs::path first = package("A"), second = package("B");
    writeWholeFile(first / "aircraft.cfg", cfg("[fltsim.0]\ntitle=Same\n" + kBody, "A32N"));
    writeWholeFile(second / "aircraft.cfg",
                   cfg("[fltsim.0]\ntitle=Same\n" + kBody + "[fltsim.1]\ntitle=Other\n" + kBody, "A32N"));
    // The later file's task finishes first.
    LiveryFileResult late = gf_parseLiveryFile(2, second / "aircraft.cfg", false);
    LiveryFileResult early = gf_parseLiveryFile(1, first / "aircraft.cfg", false);
    std::list<LiveryData> scanned;
    EXPECT_EQ(gf_takeFileLiveries(std::move(early), scanned), 1u);
    EXPECT_EQ(gf_takeFileLiveries(std::move(late), scanned), 1u);
    ASSERT_EQ(scanned.size(), 2u);
    EXPECT_EQ(scanned.front().title, "Same");
    EXPECT_EQ(scanned.front().priority, 1);
    EXPECT_EQ(scanned.back().title, "Other");
    // Fixes are reported in folder order too.
    const auto fix = [](const fs::path& folder) {
        return fmt::format("fixes: Model fix: A32N found in {} changed into A20N", (folder / "aircraft.cfg").string());
    };
    EXPECT_EQ(takeReports(),
              (std::vector<std::string>{
                  fix(first), fix(second),
                  fmt::format("incomplete: {} [fltsim.0] title \"Same\" already exists", second.string())}));
}

TEST_F(AircraftCfgTest, AVeryLongLineIsReadInLinearTime) {
    // Far beyond what a backtracking matcher can take on its stack.
    const std::string title(8 << 20, 'x');
    const fs::path path = m_folder / "aircraft.cfg";
    writeWholeFile(path,
                   cfg("[fltsim.0]\ntitle=" + title + "\n" + kBody + "atc_id=" + std::string(1 << 20, ' ') + "D-X\n"));
    const LiveryFileResult result = gf_parseLiveryFile(1, path, false);
    ASSERT_EQ(result.liveries.size(), 1u);
    EXPECT_EQ(result.liveries.front().title, title);
    EXPECT_EQ(result.liveries.front().atcid, "D-X");
}

TEST_F(AircraftCfgTest, ATaskLeavesTheThrottleOnceAlsoWhenItFails) {
    writeWholeFile(m_folder / "aircraft.cfg", cfg("[fltsim.0]\ntitle=A\n" + kBody));
    g_scanRunningTasks = 3;
    EXPECT_EQ(lf_searchLiveriesinFile(1, m_folder / "aircraft.cfg").liveries.size(), 1u);
    EXPECT_TRUE(lf_searchLiveriesInMtlFile(1, m_folder / "missing.cfg").liveries.empty());
    // A name too long for the file system: the status query fails, which is no "not found".
    EXPECT_THROW(lf_searchLiveriesinFile(1, m_folder / std::string(300, 'n') / "aircraft.cfg"), fs::filesystem_error);
    EXPECT_EQ(g_scanRunningTasks.load(), 0u);
    g_scanRunningTasks = 0;
}

}  // namespace
