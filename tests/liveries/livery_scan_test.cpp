#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "frame/exit.h"
#include "frame/files.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "injection/records.h"
#include "liveries/aircraft_cfg.h"
#include "liveries/database.h"
#include "liveries/livery_records.h"
#include "liveries/livery_index.h"
#include "liveries/livery_scan.h"
#include "liveries/selection.h"
#include "support/program_env.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

namespace {

class LiveryScan : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        lf_reset();
        g_icaoAirlines = {"DLH", "SWR"};
        g_knownModels = {"A320"};
        g_largeModels = {"A320"};
        fs::create_directories(m_program / "output" / "info");
        fs::create_directories(m_program / "output" / "errors");
    }
    void TearDown() override {
        lf_reset();
        ProgramEnv::TearDown();
    }
    static void lf_reset() {
        gf_clearDataBase();
        gf_clearLiveryDatabase();
        lf_clearScanReports();
        g_scannedLiveries.clear();
        g_scanLimit = std::max(1u, std::thread::hardware_concurrency());
    }

    // A package with one livery; `filler` comment lines make its file slow to parse.
    static void package(const fs::path& dir, const std::string& title, const std::string& airline, int filler = 0,
                        const std::string& type = "A320", bool cargo = false) {
        fs::create_directories(dir);
        std::string text = "[General]\r\natc_model=" + type + "\r\n";
        for (int i = 0; i < filler; ++i) text += "// filler line of a large file\r\n";
        text += "[fltsim.0]\r\ntitle=" + title + "\r\nsim=A320\r\ntexture=1\r\natc_parking_codes=" + airline + "\r\n";
        if (cargo) text += "atc_parking_types=CARGO\r\n";
        writeWholeFile(dir / "aircraft.cfg", text);
        writeWholeFile(dir / "A320.air", "air");
        fs::create_directories(dir / "model");
        fs::create_directories(dir / "texture.1");
    }
    // title -> airline of the stored scan.
    static std::map<std::string, std::string> stored() {
        lf_readLiveriesScanned(g_liveriesScannedFile);
        std::map<std::string, std::string> result;
        for (const LiveryData& l : g_scannedLiveries) result[l.title] = l.airl;
        g_scannedLiveries.clear();
        return result;
    }

    testing_support::ScopedEnv m_update{"ZNTV_UPDATE_URL", "http://127.0.0.1:9/downloads/"};
};

// The first file of the walk keeps a title that a later one repeats, however much later its task ends.
TEST_F(LiveryScan, TheFirstFileInFolderOrderKeepsARepeatedTitle) {
    const fs::path folder = m_root.path() / "AI";
    package(folder / "A_Large", "Shared Title", "DLH", 200000);
    package(folder / "B_Small", "Shared Title", "SWR");
    g_scanLimit = 4;

    ASSERT_EQ(lf_scanAllLiveryFolders({folder.string()}), ScanOutcome::Found);
    EXPECT_EQ(stored(), (std::map<std::string, std::string>{{"Shared Title", "DLH"}}));
    const std::string report = readWholeFile(g_incompleteFltsimReportPath);
    EXPECT_NE(report.find("B_Small"), std::string::npos) << report;
    EXPECT_NE(report.find("title \"Shared Title\" already exists"), std::string::npos) << report;
    EXPECT_EQ(g_scanRunningTasks.load(), 0u);
}

// A folder below the scanned one that cannot be opened is left out alone: the liveries found before it and
// after it are kept. Here the folder's full path is longer than this system opens, while its Windows
// form, drive C: on the scanned folder, stays short enough to be searched.
TEST_F(LiveryScan, AFolderThatCannotBeReadIsSkippedAlone) {
    fs::path deep = m_root.path() / "deep";
    while (deep.string().size() < 3900) deep /= std::string(200, 'd');
    fs::create_directories(deep);
    fs::create_directories(m_root.path() / "wine" / "dosdevices");
    fs::create_directory_symlink(deep, m_root.path() / "wine" / "dosdevices" / "c:");
    const testing_support::ScopedEnv dos("ZNTV_DOSDEVICES", (m_root.path() / "wine").string());

    package(deep / "A_Before", "Before", "DLH");
    package(deep / "Z_After", "After", "SWR");
    const std::string unreadable = "M_" + std::string(4100 - deep.string().size(), 'x');
    // Made and removed relative to its parent: by its full path it can be neither.
    struct Unreadable {
        int parent;
        std::string name;
        ~Unreadable() {
            ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
            ::close(parent);
        }
    } folder{::open(deep.c_str(), O_RDONLY | O_DIRECTORY), unreadable};
    ASSERT_GE(folder.parent, 0);
    ASSERT_EQ(::mkdirat(folder.parent, unreadable.c_str(), 0755), 0);

    ASSERT_EQ(lf_scanAllLiveryFolders({"C:\\"}), ScanOutcome::Found);
    EXPECT_EQ(stored(), (std::map<std::string, std::string>{{"After", "SWR"}, {"Before", "DLH"}}));
    const std::string warning = "===> liveries search in folder C:\\" + unreadable + " aborted because of iterator problem";
    EXPECT_NE(readWholeFile(logPath()).find(warning), std::string::npos);
    EXPECT_EQ(g_scanRunningTasks.load(), 0u);
}


// What a scan keeps decides which livery an aircraft flies: with LIG_PRIORITIZE an airline's type comes from
// the first folder that has it alone, no folder at a path of 250 bytes or more is searched, and an aircraft
// whose airline has no fitting livery of a similar type flies the one of its registration's airline.
TEST_F(LiveryScan, WhatTheScanKeepsAndWhichLiveryAnAircraftThenFlies) {
    struct Package {
        int folder;
        std::string dir;  // with `pathLength`: padded until the Windows path of the folder is that long
        std::string title, airline;
        std::string type = "A320";
        bool cargo = false;
        std::size_t pathLength = 0;
    };
    struct Case {
        const char* what;
        bool prioritize;
        std::vector<Package> packages;
        std::set<std::string> kept;
        std::vector<std::string> flight;  // airline, type, registration, the title it flies; empty: none
    };
    const std::vector<Package> twoFolders = {
        {0, "P", "One DLH", "DLH"}, {1, "P", "Two DLH", "DLH"}, {1, "Q", "Two SWR", "SWR"}};
    const std::vector<Case> cases = {
        {"LIG_PRIORITIZE", true, twoFolders, {"One DLH", "Two SWR"}, {}},
        {"no LIG_PRIORITIZE", false, twoFolders, {"One DLH", "Two DLH", "Two SWR"}, {}},
        {"250-byte paths",
         false,
         {{0, "S", "Short enough", "DLH", "A320", false, 249}, {0, "L", "Too long", "SWR", "A320", false, 250}},
         {"Short enough"},
         {}},
        {"similar type of the registration's airline",
         false,
         {{0, "DLH", "Lufthansa A320", "DLH"}, {0, "CLH", "Cityline A320F", "CLH", "A320", true}},
         {"Lufthansa A320", "Cityline A320F"},
         {"CLH", "A319", "D-ABCD", "Lufthansa A320"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lf_reset();
        g_icaoAirlines = {"DLH", "SWR", "CLH"};
        g_knownModels = g_largeModels = {"A319", "A320"};
        g_similarModelGroups = {{"A319", "A320"}};
        g_regcodeDb["D-ABCD"] = RegcodeData{.airline = "DLH", .type = "A320", .operatorCode = "CLH", .cargo = false};
        g_LIG_PRIORITIZE.set(c.prioritize);
        const fs::path root = m_root.path() / ("case" + std::to_string(++n));
        const std::vector<std::string> folders = {(root / "F0").string(), (root / "F1").string()};
        for (const Package& p : c.packages) {
            std::string dir = p.dir;
            if (p.pathLength > 0) dir.resize(p.pathLength - folders[p.folder].size() - 1, 'x');
            package(fs::path(folders[p.folder]) / dir, p.title, p.airline, 0, p.type, p.cargo);
        }
        ASSERT_EQ(lf_scanAllLiveryFolders(folders), ScanOutcome::Found);
        std::set<std::string> kept;
        for (const auto& [title, airline] : stored()) kept.insert(title);
        EXPECT_EQ(kept, c.kept);
        if (c.flight.empty()) continue;
        gf_requestLiveryRebuild();
        gf_processScannedLiveries(g_liveriesScannedFile);
        g_MATCHING_DEPTH.set(3);
        AiAc ac;
        ac.airline = c.flight[0];
        ac.type = c.flight[1];
        ac.registration = c.flight[2];
        ac.category = gf_categoryOfModel(ac.type);
        gf_selectLiveryForLiveAircraft(ac);
        EXPECT_EQ(ac.title, c.flight[3]);
        gf_clearLiveryDatabase();
    }
}

}  // namespace
