#include "airports/addon_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/text.h"
#include "fixtures/bgl_writer.h"
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

    // A stop: nothing is decided, the next start scans again.
    g_SCAN_AIRPORTS.set(true);
    gf_saveBoolParameter(g_SCAN_AIRPORTS);
    g_stopRequested = true;
    gf_scanAddOnAirports();
    EXPECT_TRUE(logContains("airports scan cancelled, it runs again at the next start"));
    EXPECT_EQ(stored("SCAN_AIRPORTS"), "true");
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

}  // namespace

// Without the list of a last scan (a version that kept none) a file is the scan's only when it is as a scan
// writes it; hand-made, learned or reworded files stay.
TEST_F(AddOnScan, WithoutAListOnlyFilesAsTheScanWritesThemAreRemoved) {
    const std::string generated = readWholeFile(fs::path(ZNTV_SOURCE_DIR) / "tests/airports/golden/generated.xml");
    const auto edited = [&](const std::string& from, const std::string& to) {
        std::string text = generated;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::string stand = "<parkpos id=\"A1\"";
    const std::vector<std::tuple<fs::path, std::string, bool>> cases = {
        {g_myThirdpartyFolder / "EHXX.xml", generated, true},
        {g_myOrbxFolder / "EHXX.xml", generated, true},
        {g_myThirdpartyFolder / "EHX1.xml",
         edited("</parameters>", "\t<parameter name=\"handmade\" value=\"true\" />\n</parameters>"), false},
        {g_myThirdpartyFolder / "EHX2.xml",
         edited("ramp=\"true\" />", "ramp=\"true\">\n\t\t<opt reg=\"HBJVA\" day=\"1\" hh=\"1\" />\n\t</parkpos>"),
         false},
        {g_myThirdpartyFolder / "EHX3.xml", edited("value=\"ZNTV_P3D\"", "value=\"me\""), false},
        {g_myThirdpartyFolder / "EHX4.xml", edited(stand, "<parkpos  id=\"A1\""), false},
        {g_myThirdpartyFolder / "EHX5.xml", edited("latitude=\"52.308056\"", "latitude=\"52.3080560\""), false},
        {g_myThirdpartyFolder / "LSZB.txt", "archive/thirdparty/Some%20Pub/LSZB.xml\n", true},
        {g_myOrbxFolder / "EGLL.txt", "archive/simaddon/EGLL.xml\r\n", true},
        {g_myOrbxFolder / "EGLM.txt", "archive/simaddon/EGLM.xml", false},
        {g_myThirdpartyFolder / "LSZC.txt", "archive/thirdparty/Some%20Pub/LSZB.xml\n", false},
        {g_myThirdpartyFolder / "LSZD.txt", "archive/stock/LSZD.xml\n", false},
        {g_myOrbxFolder / "EGKK.txt", "archive/thirdparty/Pub/EGKK.xml\n", false},
    };
    for (const auto& [file, text, removed] : cases) {
        fs::create_directories(file.parent_path());
        writeWholeFile(file, text);
    }
    writeWholeFile(m_programData / "scenery.cfg", "");
    gf_scanAddOnAirports();
    for (const auto& [file, text, removed] : cases) EXPECT_EQ(fs::exists(file), !removed) << file;
}
