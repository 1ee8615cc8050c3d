#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "frame/exit.h"
#include "frame/files.h"
#include "frame/paths.h"
#include "liveries/aircraft_cfg.h"
#include "liveries/database.h"
#include "liveries/livery_records.h"
#include "liveries/livery_scan.h"
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
        lf_clearScanReports();
        g_scannedLiveries.clear();
        g_scanLimit = std::max(1u, std::thread::hardware_concurrency());
    }

    // A package with one livery; `filler` comment lines make its file slow to parse.
    static void package(const fs::path& dir, const std::string& title, const std::string& airline, int filler = 0) {
        fs::create_directories(dir);
        std::string text = "[General]\r\natc_model=A320\r\n";
        for (int i = 0; i < filler; ++i) text += "// filler line of a large file\r\n";
        text += "[fltsim.0]\r\ntitle=" + title + "\r\nsim=A320\r\ntexture=1\r\natc_parking_codes=" + airline + "\r\n";
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

}  // namespace
