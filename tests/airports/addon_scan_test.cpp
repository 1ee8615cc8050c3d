#include "airports/addon_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "airports/stand_sources.h"
#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/text.h"
#include "fixtures/bgl_writer.h"
#include "liveries/database.h"
#include "support/program_env.h"
#include "window/main_window.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

// scenery.cfg read as the INI file it is, against the install path D:\P3D.
TEST(SceneryCfg, ActiveAddOnAreasGiveTheirLocalFolders) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        // absolute, relative and ".\\" relative folders in file order; other sections are no areas
        {"[General]\nLocal=E:\\General\n[Area.001]\nLocal=E:\\KTST\nActive=TRUE\n[Area.002]\n"
         "Local=Addon Scenery\\Apt\nActive=TRUE\n[Area.003]\nActive=TRUE\nLocal=.\\Rel\n",
         {"E:\\KTST", "D:\\P3D\\Addon Scenery\\Apt", "D:\\P3D\\Rel"}},
        // inactive areas, areas without Active, an empty Local
        {"[Area.001]\nLocal=E:\\A\nActive=FALSE\n[Area.002]\nLocal=E:\\B\n[Area.3]\nLocal=\nActive=TRUE", {}},
        // keys and TRUE in any case; a Title with Local or Area in it; a folder named with Area; first key counts
        {"[area.7]\n  local = E:\\Bay Area\\KSFO \nTitle=Local Area\nLocal=E:\\Second\nACTIVE=true\nLayer=4",
         {"E:\\Bay Area\\KSFO"}},
        {"[Area.001]\nTitle=Local airports\nActive=TRUE\n", {}},
        // stock scenery markers
        {"[Area.1]\nLocal=Scenery\\0106\nActive=TRUE\n[Area.2]\nLocal=E:\\Scenery\\Global\\x\nActive=TRUE", {}},
    };
    for (const auto& [cfg, folders] : cases)
        EXPECT_EQ(lf_parseSceneryCfg(gf_split(cfg, '\n'), "D:\\P3D"), folders) << cfg;
}

// A simulator install with its stock scenery, drive C: as Wine lays it out with the simulator's ProgramData
// files, and the program folder as working folder.
class AddOnScan : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        fs::create_directories(m_install / "Scenery" / "World");
        fs::create_directories(m_programData);
        fs::create_directories(m_root.path() / "wine" / "dosdevices");
        fs::create_directory_symlink(m_root.path() / "c", m_root.path() / "wine" / "dosdevices" / "c:");
        g_SIM_INSTALL_PATH.set(m_install.string());
        lf_refreshStockSceneryPath();
        g_addOnAirportFound = false;
        g_SCAN_AIRPORTS.set(true);
        g_AFG_AUTOMATIC.set(true);
    }
    void TearDown() override {
        g_stopRequested = false;
        ProgramEnv::TearDown();
    }

    std::string log() const { return readWholeFile(logPath()); }
    bool logContains(const std::string& text) const { return log().find(text) != std::string::npos; }

    testing_support::ScopedEnv m_dos{"ZNTV_DOSDEVICES", (m_root.path() / "wine").string()};
    fs::path m_install = m_root.path() / "sim" / "Prepar3D v5";
    fs::path m_programData = m_root.path() / "c" / "ProgramData" / "Lockheed Martin" / "Prepar3D v5";
};

TEST_F(AddOnScan, FolderSettingsInTheStockSceneryAreRefusedWithTheirKey) {
    for (const auto& [folder, stock] : std::vector<std::pair<fs::path, bool>>{{m_install / "Scenery", true},
                                                                             {m_install / "Scenery/World/x", true},
                                                                             {m_install / "Scenery2", false}}) {
        g_afolder[0].set("E:\\first");
        g_afolder[2].set(folder.string());
        std::vector<std::string> folders;
        try {
            lf_checkNotStockAirportsFolder(std::begin(g_afolder), std::end(g_afolder), folders);
            EXPECT_FALSE(stock) << folder;
            EXPECT_EQ(folders, (std::vector<std::string>{"E:\\first", folder.string()}));
        } catch (const qtm::UserErrorException& e) {
            EXPECT_TRUE(stock) << folder;
            EXPECT_STREQ(e.what(), "42: parameter afolder2 points to stock airports instead of add-on airports!");
        }
    }
    for (StringParameter& p : g_afolder) p.set("");
    g_AFG_AUTOMATIC.set(false);
    EXPECT_THROW(gf_scanAddOnAirports(), qtm::UserErrorException);  // 49: no folder at all
    EXPECT_TRUE(g_SCAN_AIRPORTS.value());
}

TEST_F(AddOnScan, TheSceneryListsFoldersAreCheckedAndTheScanEndsSwitchedOff) {
    for (const char* old : {"airports/my_thirdparty/OLD1.xml", "TBLO/OLD1.xml"}) {
        fs::create_directories(fs::path(old).parent_path());
        writeWholeFile(old, "old");
    }
    const fs::path addOn = m_root.path() / "addons", missing = m_root.path() / "missing", file = addOn / "afile";
    fs::create_directories(addOn);
    writeWholeFile(file, "");
    std::string cfg;
    for (const fs::path& local : {missing, file, addOn, m_install / "Scenery" / "Addon"})
        cfg += "[Area.1]\nLocal=" + local.string() + "\nActive=TRUE\n";
    writeWholeFile(m_programData / "scenery.cfg", cfg);

    gf_scanAddOnAirports();

    for (const std::string& line : std::vector<std::string>{
             "++++++++++++++++++++++++ airports scan automatic  starts +++++", "\n3 scenery add-on paths found\n",
             "scenery_add-ons.xml not found!\n0 scenery add-on paths found\n",
             missing.string() + " does not exist, skipped!", file.string() + " is not a folder name, skipped!",
             "Warning: Scan has not found any add-on airports",
             "-------------------------- airports scan ends    ----------------------------\n"})
        EXPECT_TRUE(logContains(line)) << line;
    EXPECT_EQ(readWholeFile(g_airportsScanLogFile), "Scanning for addon airports in " + addOn.string() + "\n");
    EXPECT_TRUE(fs::exists("airports/my_thirdparty/OLD1.xml"));  // not made by a scan
    EXPECT_FALSE(fs::exists("TBLO"));
    EXPECT_EQ(stored("SCAN_AIRPORTS"), "false");

    // A stop: nothing is decided, the next start scans again. Without the last scan's list it writes none
    // either: the next scan compares every file there again.
    const fs::path list = g_airportsScanLogFile.parent_path() / "AirportsScanGenerated.txt";
    ASSERT_TRUE(fs::remove(list));
    g_SCAN_AIRPORTS.set(true);
    gf_saveBoolParameter(g_SCAN_AIRPORTS);
    g_stopRequested = true;
    gf_scanAddOnAirports();
    EXPECT_TRUE(logContains("airports scan cancelled, it runs again at the next start"));
    EXPECT_EQ(stored("SCAN_AIRPORTS"), "true");
    EXPECT_FALSE(fs::exists(list));
}

// Generated stand files go to TBLO when the server says the airport is worth offline learning; a generated
// file that the archive covers (its pointer file beside it) then stays only there. The user's own files there
// take no part, pointer file beside them or not.
TEST_F(AddOnScan, SuitableStandFilesAreGatheredIntoTblo) {
    struct Case {
        std::vector<std::string> orbx, orbxPointers, thirdparty, suitable, tblo, orbxLeft;
        std::uint32_t count;
        std::vector<std::string> users = {};  // in both folders, each with a pointer file beside it
    };
    const std::vector<Case> cases = {
        {{}, {}, {}, {}, {}, {}, 0},
        {{"EGLL"}, {}, {"KTST"}, {}, {}, {"EGLL"}, 0},
        {{"EGKK", "EGLL"}, {"EGLL"}, {}, {"EGLL", "EGKK"}, {"EGKK", "EGLL"}, {"EGKK"}, 2},
        {{"A001", "A002", "A003"}, {}, {"KTST"}, {"A001", "A002", "A003"}, {"A001", "A002", "A003"},
         {"A001", "A002", "A003"}, 3},
        {{"EGLL"}, {}, {"KTST", "KXYZ"}, {"KTST", "KXYZ"}, {"KTST", "KXYZ"}, {"EGLL"}, 2},
        {{}, {}, {"KTST"}, {"KTST", "LSZB"}, {"KTST"}, {"LSZB"}, 1, {"LSZB"}},
    };
    const auto names = [](const fs::path& folder, const char* ext) {
        std::vector<std::string> out;
        if (fs::exists(folder))
            for (const auto& e : fs::directory_iterator(folder))
                if (e.path().extension() == ext) out.push_back(e.path().stem().string());
        std::sort(out.begin(), out.end());
        return out;
    };
    for (const Case& c : cases) {
        for (const fs::path& f : {g_myOrbxFolder, g_myThirdpartyFolder, fs::path("TBLO")}) {
            fs::remove_all(f);
            fs::create_directories(f);
        }
        writeWholeFile("TBLO/OLD1.xml", "from the last scan");
        gf_startScanFiles();
        const auto make = [](const fs::path& file) {
            ASSERT_FALSE(gf_claimScanFile(file));
            writeWholeFile(file, file.stem().string());
        };
        for (const std::string& code : c.users) {
            for (const fs::path& folder : {g_myOrbxFolder, g_myThirdpartyFolder}) {
                writeWholeFile(folder / (code + ".xml"), "the user's");
                writeWholeFile(folder / (code + ".txt"), "ref");
            }
        }
        for (const std::string& code : c.orbx) make(g_myOrbxFolder / (code + ".xml"));
        for (const std::string& code : c.orbxPointers) make(g_myOrbxFolder / (code + ".txt"));
        for (const std::string& code : c.thirdparty) make(g_myThirdpartyFolder / (code + ".xml"));
        g_offlineLearningCount = 0;

        lf_collectOfflineLearning([&](const std::string& code) {
            return std::find(c.suitable.begin(), c.suitable.end(), code) != c.suitable.end();
        });

        EXPECT_EQ(names("TBLO", ".xml"), c.tblo) << c.count;
        EXPECT_EQ(fs::exists("TBLO"), !c.tblo.empty());
        EXPECT_EQ(names(g_myOrbxFolder, ".xml"), c.orbxLeft);
        EXPECT_EQ(g_offlineLearningCount.load(), c.count);
        EXPECT_EQ(g_mainWindow.addonAirportCount.load(), c.count);
        EXPECT_TRUE(g_orbxDone.load() && g_mainWindow.simaddonOk.load());
        for (const std::string& code : c.users) {
            EXPECT_EQ(readWholeFile(g_myThirdpartyFolder / (code + ".xml")), "the user's");
            EXPECT_FALSE(fs::exists(fs::path("TBLO") / (code + ".xml")));
        }
    }
    for (const char* line : {"===> zip folder \"TBLO\", and mail to \"airports@zentavo.org\" please!\\n\n",
                             "airports/my_ORBX/EGKK.xml copied to TBLO/EGKK.xml",
                             "All your ORBX airports are done, no off line learning needed.",
                             "All your third party airports are done, no off line learning needed."})
        EXPECT_TRUE(logContains(line)) << line;
}

// A scan removes only the stand files the previous scan made, and only while the user has not changed them:
// the user's own files and folders in my_thirdparty stay, and the log names them.
TEST_F(AddOnScan, TheNextScanRemovesOnlyWhatTheLastOneMadeUnchanged) {
    const fs::path addOn = m_root.path() / "addons" / "Somebody" / "Athens";
    const auto airport = [](const char* ident, double lon) {
        bglgen::Airport a;
        a.ident = ident;
        a.lat = 47.25, a.lon = lon;
        bglgen::ParkingSpot spot;
        spot.lat = 47.25, spot.lon = lon + 1e-4;
        a.parking = {spot};
        return a;
    };
    fs::create_directories(addOn);  // and no "airports" folder yet: the first scan makes it
    bglgen::writeFile(addOn / "AIRPORTS.bgl", bglgen::airportFile({airport("LGAV", 23.9), airport("LGTS", 22.9)}));
    writeWholeFile(m_programData / "scenery.cfg", "[Area.1]\nLocal=" + addOn.string() + "\nActive=TRUE\n");
    const fs::path mine = g_myThirdpartyFolder;
    gf_scanAddOnAirports();
    ASSERT_TRUE(fs::exists(mine / "LGAV.xml") && fs::exists(mine / "LGTS.xml")) << log();

    // The user's: an archived file, an airport folder, a generated file edited; the add-on is uninstalled.
    writeWholeFile(mine / "EDDF.xml", "the user's");
    fs::create_directories(mine / "LSZH");
    writeWholeFile(mine / "LGTS.xml", readWholeFile(mine / "LGTS.xml") + "<!-- edited -->");
    fs::remove_all(addOn);
    g_SCAN_AIRPORTS.set(true);
    gf_scanAddOnAirports();

    EXPECT_FALSE(fs::exists(mine / "LGAV.xml"));
    for (const char* kept : {"EDDF.xml", "LSZH", "LGTS.xml"}) {
        EXPECT_TRUE(fs::exists(mine / kept)) << kept;
        EXPECT_TRUE(logContains((mine / kept).string() + " kept, the airports scan did not make it")) << kept;
    }
}

// Without the list of the last scan (a first scan, or files left by a version that kept none) a file of the
// two folders is the scan's only when the scan writes the same now from the same scenery, past the meta block:
// a generated file the user edited in the writer's own form (a moved stand, another radius, heading or
// publisher), a pointer file naming another reference and a file of an airport the scan does not write now are
// the user's, kept byte for byte. What the scan writes again is its own from then on: the next scan, with the
// add-on gone, removes it. A pointer file of the scan's beside a stand file the user put there goes at once, or
// every load would read the pointer first.
TEST_F(AddOnScan, WithoutAListAFileIsTheScansOnlyWhenTheScanWritesTheSameNow) {
    const fs::path addOns = m_root.path() / "addons";
    const auto airport = [](const char* ident, double lon) {
        bglgen::Airport a;
        a.ident = ident;
        a.name = std::string("Field ") + ident;
        a.lat = 37.5, a.lon = lon;
        bglgen::ParkingSpot spot;
        spot.lat = 37.5, spot.lon = lon + 1e-4;
        a.parking = {spot};
        return a;
    };
    fs::create_directories(addOns / "Somebody" / "Greece");
    fs::create_directories(addOns / "ORBX" / "Australia");
    bglgen::writeFile(addOns / "Somebody" / "Greece" / "AIRPORTS.bgl",
                      bglgen::airportFile({airport("LGAV", 23.9), airport("LGTS", 22.9), airport("LGKR", 19.9),
                                           airport("LGIR", 25.1), airport("LGRP", 28.1)}));
    bglgen::writeFile(addOns / "ORBX" / "Australia" / "ORBX_AU.bgl",
                      bglgen::airportFile({airport("YMML", 144.8), airport("YSSY", 151.2), airport("YBBN", 153.1)}));
    writeWholeFile(m_programData / "scenery.cfg", "[Area.1]\nLocal=" + (addOns / "Somebody").string() +
                                                      "\nActive=TRUE\n[Area.2]\nLocal=" + (addOns / "ORBX").string() +
                                                      "\nActive=TRUE\n");
    const struct SimAddons {
        std::set<std::string> before = g_simAddonAirports;
        ~SimAddons() { g_simAddonAirports = before; }
    } simAddons;
    g_simAddonAirports = {"YMML", "YSSY", "YBBN"};
    gf_scanAddOnAirports();
    const fs::path list = g_airportsScanLogFile.parent_path() / "AirportsScanGenerated.txt";
    const fs::path third = g_myThirdpartyFolder, orbx = g_myOrbxFolder;
    ASSERT_TRUE(fs::exists(list));
    ASSERT_EQ(readWholeFile(orbx / "YMML.txt"), "archive/simaddon/YMML.xml\n") << log();

    // The files as a version that kept no list left them; the user has changed some in the writer's form.
    fs::remove(list);
    const auto edit = [&](const char* code, const std::string& from, const std::string& to) {
        std::string text = readWholeFile(third / (std::string(code) + ".xml"));
        const std::size_t at = text.find(from);
        if (at == std::string::npos) ADD_FAILURE() << from << " not in " << text;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    // Another publisher, as the writer writes it: a publisher of its own has no "BGLpath".
    std::string lgrp = edit("LGRP", "value=\"unknown\"", "value=\"Somebody\"");
    const std::size_t bglPath = lgrp.find("\t<parameter name=\"BGLpath\"");
    lgrp.erase(bglPath, lgrp.find("</parameters>") - bglPath);
    struct Row {
        fs::path file;
        std::string text;  // as the user left it
        bool users;
    };
    const std::vector<Row> rows = {
        {third / "LGAV.xml", readWholeFile(third / "LGAV.xml"), false},
        {third / "LGTS.xml", edit("LGTS", "latitude=\"37.500000\"", "latitude=\"37.501000\""), true},
        {third / "LGKR.xml", edit("LGKR", "radius=\"20.0\"", "radius=\"35.0\""), true},
        {third / "LGIR.xml", edit("LGIR", "heading=\"90.0\"", "heading=\"91.0\""), true},
        {third / "LGRP.xml", lgrp, true},
        {third / "LGXX.xml", readWholeFile(third / "LGAV.xml"), true},  // an airport the scan does not write
        {orbx / "YMML.txt", "archive/simaddon/YMML.xml\r\n", false},
        {orbx / "YSSY.txt", "archive/thirdparty/Somebody/YSSY.xml\n", true},
        {orbx / "EGLL.txt", "archive/simaddon/EGLL.xml\r\n", true},  // as a scan writes it, of another scenery
        {third / "LSZB.txt", "archive/thirdparty/Some%20Pub/LSZB.xml\n", true},
        {orbx / "YBBN.xml", "the user's stands", true},  // beside the pointer file the scan writes
    };
    for (const Row& row : rows) writeWholeFile(row.file, row.text);
    g_SCAN_AIRPORTS.set(true);
    gf_scanAddOnAirports();

    const std::string listed = readWholeFile(list);
    const std::string scanLog = readWholeFile(g_airportsScanLogFile);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file.string());
        if (!fs::exists(row.file)) {
            ADD_FAILURE() << "gone";
            continue;
        }
        EXPECT_EQ(listed.find(" " + row.file.string() + "\n") != std::string::npos, !row.users) << listed;
        if (row.users) {
            EXPECT_EQ(readWholeFile(row.file), row.text);
            EXPECT_TRUE(logContains(row.file.string() + " kept, the airports scan did not make it"));
        }
    }
    for (const char* ident : {"LGTS", "LGKR", "LGIR", "LGRP"}) {
        EXPECT_NE(scanLog.find((third / ident).string() + ".xml is the user's, the scan's stands of " + ident +
                               " not written"),
                  std::string::npos)
            << ident;
    }
    EXPECT_EQ(readWholeFile(orbx / "YMML.txt"), "archive/simaddon/YMML.xml\n");
    EXPECT_EQ(lf_findArchivedApf("YBBN"), (orbx / "YBBN.xml").generic_string());  // no longer behind the pointer

    // The add-on is uninstalled: what the scan wrote goes, the user's files stay.
    fs::remove_all(addOns);
    g_SCAN_AIRPORTS.set(true);
    gf_scanAddOnAirports();
    for (const Row& row : rows) {
        EXPECT_EQ(fs::exists(row.file), row.users) << row.file;
        if (row.users) {
            EXPECT_EQ(readWholeFile(row.file), row.text) << row.file;
        }
    }
}

}  // namespace
