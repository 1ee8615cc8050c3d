#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/files.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "liveries/database.h"
#include "liveries/livery_index.h"
#include "liveries/livery_records.h"
#include "liveries/livery_scan.h"
#include "liveries/scan_driver.h"
#include "support/program_env.h"

namespace fs = std::filesystem;
using testing_support::writeWholeFile;

namespace {

struct DriverCase {
    const char* what;
    bool automatic;
    bool withLivery;  // lfolder0 names a folder with one livery (else an empty folder, when manual)
    bool stop;        // an exit or stop is requested while the scan runs
    std::optional<int> error;
};

class ScanDriver : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        fs::create_directories(m_program / "output" / "info");
        fs::create_directories(m_program / "output" / "errors");
    }
    void TearDown() override {
        gf_resetExitFlags();
        gf_clearDataBase();
        gf_clearLiveryDatabase();
        ProgramEnv::TearDown();
    }
    // One folder with one livery, or with nothing.
    fs::path folder(const std::string& name, bool withLivery) const {
        const fs::path dir = m_root.path() / name;
        fs::create_directories(dir);
        if (withLivery) {
            fs::create_directories(dir / "Pkg" / "model");
            fs::create_directories(dir / "Pkg" / "texture.1");
            writeWholeFile(dir / "Pkg" / "A320.air", "air");
            writeWholeFile(dir / "Pkg" / "aircraft.cfg",
                           "[General]\natc_model=A320\n[fltsim.0]\ntitle=One\nsim=A320\ntexture=1\natc_parking_codes=DLH\n");
        }
        return dir;
    }

    testing_support::ScopedEnv m_update{"ZNTV_UPDATE_URL", "http://127.0.0.1:9/downloads/"};
};

// Whatever keeps the scan from finishing leaves SCAN_LIVERIES on and builds nothing, so that the next
// start scans again rather than build from a file that no finished scan wrote.
TEST_F(ScanDriver, AnUnfinishedScanLeavesTheScanOnAndBuildsNothing) {
    const std::vector<DriverCase> cases = {
        {"manual without folders", false, false, false, 48},
        {"manual, nothing found", false, false, false, 53},
        {"automatic, nothing found", true, false, false, 43},
        {"stop during the scan", false, true, true, std::nullopt},
    };
    int n = 0;
    for (const DriverCase& c : cases) {
        SCOPED_TRACE(c.what);
        gf_resetParametersToDefaults();
        g_icaoAirlines = {"DLH"};
        g_knownModels = {"A320"};
        g_SIM_INSTALL_PATH.set((m_root.path() / "sim" / "Prepar3D v5").string());
        g_LIG_AUTOMATIC.set(c.automatic);
        if (!c.automatic && *c.error != 48) g_lfolder[0].set(folder("AI" + std::to_string(++n), c.withLivery).string());
        // A finished scan of an earlier run: the new scan removes it first.
        g_scannedLiveries = {LiveryData{.airl = "DLH", .type = "A320", .title = "Old", .atcid = "", .priority = 1}};
        lf_writeLiveriesScanned();
        g_scannedLiveries.clear();
        if (c.stop) g_stopRequested = true;

        std::optional<int> error;
        try {
            gf_liveriesScan();
        } catch (const qtm::UserErrorException& e) {
            error = std::stoi(e.what());
        }
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(g_SCAN_LIVERIES.value());
        EXPECT_NE(stored("SCAN_LIVERIES"), std::optional<std::string>("false"));
        EXPECT_FALSE(g_liveriesProcessed);
        // Without a folder nothing is scanned, so the old file is left alone; a scan removes it first.
        EXPECT_EQ(fs::exists(g_liveriesScannedFile), c.error == 48);
        EXPECT_EQ(g_scanRunningTasks.load(), 0u);
        gf_resetExitFlags();
    }
}

}  // namespace
