// The pieces of the start-up that decide something on their own: the hold after the last service visit,
// the test for a real user position, the data folders, and the version housekeeping after the settings.
#include "run_test_env.h"

#include "run/version_update.h"
#include "frame/settings_file.h"
#include "frame/version.h"

namespace run_test {
namespace {

TEST(ServiceHold, HoldsWhatIsLeftOfTwoSecondsAndNeverMore) {
    const std::int64_t now = 1'700'000'000;
    EXPECT_EQ(lf_serviceHoldSeconds(now, 0), 0);  // never visited
    EXPECT_EQ(lf_serviceHoldSeconds(now, now - 5), 0);
    EXPECT_EQ(lf_serviceHoldSeconds(now, now - 2), 0);
    EXPECT_EQ(lf_serviceHoldSeconds(now, now - 1), 1);
    EXPECT_EQ(lf_serviceHoldSeconds(now, now), 2);
    // A stamp from a clock that was ahead must not hold the start-up for hours.
    EXPECT_EQ(lf_serviceHoldSeconds(now, now + 3600), 2);
    EXPECT_EQ(lf_serviceHoldSeconds(now, INT32_MAX), 2);
}

TEST(RealPosition, TheSimulatorsNearZeroBoxIsNotReal) {
    EXPECT_FALSE(gf_isRealPosition(0.0, 0.0));
    EXPECT_FALSE(gf_isRealPosition(0.0009, 0.05));
    EXPECT_TRUE(gf_isRealPosition(0.00091, 0.0));
    EXPECT_TRUE(gf_isRealPosition(0.0, 0.0501));
    EXPECT_TRUE(gf_isRealPosition(-0.0001, 0.0));
    EXPECT_TRUE(gf_isRealPosition(52.3, 4.76));
}

class StartUpPieces : public RunEnv {};

TEST_F(StartUpPieces, DataFoldersAreMadeOneLevelAtATime) {
    lf_createDataFolders();
    for (const char* folder : {"output/info", "output/errors", "airports/learned/stock", "airports/learned/simaddon",
                               "airports/learned/thirdparty", "airports/my_ORBX", "airports/my_thirdparty",
                               "input/my_regcodes"}) {
        EXPECT_TRUE(fs::is_directory(m_program / folder)) << folder;
    }
    // "input" itself belongs to the installation; without it the start-up fails rather than guessing.
    fs::remove_all(m_program / "input");
    EXPECT_THROW(lf_createDataFolders(), fs::filesystem_error);
}

TEST_F(StartUpPieces, SceneryCheckMapsTheInstallPathAndNamesAMissingFolder) {
    // A Wine-style drive D: over the folder that holds the simulator.
    const fs::path drives = m_root.path() / "wine" / "dosdevices";
    fs::create_directories(drives);
    fs::create_directory_symlink(m_sim.parent_path(), drives / "d:");
    testing_support::ScopedEnv dosDevices("ZNTV_DOSDEVICES", drives.parent_path().string());
    const struct {
        std::string install;
        fs::path scenery;
        bool exists;
    } cases[] = {
        {m_sim.string(), m_sim / "Scenery", true},
        // As the registry holds it or as typed, in another case than the folders have.
        {"D:\\PREPAR3D V5\\", fs::canonical(m_sim) / "Scenery", true},
        {(m_root.path() / "nowhere").string(), m_root.path() / "nowhere" / "Scenery", false},
        {"E:\\Prepar3D v5", fs::path("E:\\Prepar3D v5") / "Scenery", false},  // a drive there is no link for
    };
    const std::string missing = "Stock airports path does not exist: ";
    const auto reports = [&] {
        const auto lines = logLines();
        return std::count_if(lines.begin(), lines.end(), [&](const auto& l) { return l.starts_with(missing); });
    };
    for (const auto& c : cases) {
        const auto before = reports();
        g_SIM_INSTALL_PATH.set(c.install);
        lf_checkSceneryPath();
        EXPECT_EQ(g_stockSceneryPath, c.scenery) << c.install;
        EXPECT_EQ(reports() - before, c.exists ? 0 : 1) << c.install;
        if (!c.exists) {
            EXPECT_TRUE(logHas(missing + c.scenery.string())) << c.install;
        }
    }
}

class VersionUpdate : public RunEnv {
protected:
    fs::path serviceFolder() const { return m_config / "InsideSystems"; }
    fs::path localLicence() const { return m_program / "RealTraffic.lic"; }
    void readSettings(const std::string& body) {
        writeSettings(body);
        gf_loadParameters(gf_storedParameters());
    }
};

TEST_F(VersionUpdate, FirstStartCopiesTheUsersOwnCredential) {
    fs::create_directories(serviceFolder());
    writeWholeFile(serviceFolder() / "RealTraffic.lic", "{\"License\":\"mine\"}");
    readSettings("");
    gf_versionUpdate();
    EXPECT_EQ(readWholeFile(localLicence()), "{\"License\":\"mine\"}");
    EXPECT_TRUE(logHas("copied your \"" + (serviceFolder() / "RealTraffic.lic").string() + "\" to here"));
    EXPECT_EQ(stored("PROGRAM_VERSION"), "10.10.4");
}

TEST_F(VersionUpdate, FirstStartWithoutAnyCredentialWritesTheTemplate) {
    readSettings("");
    gf_versionUpdate();
    EXPECT_EQ(readWholeFile(localLicence()), "{\"License\":\"fill in your license here\",\"Name\":\"not relevant\"}");
    EXPECT_TRUE(logHas("A RealTraffic license file \"RealTraffic.lic\" created to fill in your license"));
}

TEST_F(VersionUpdate, TheSameVersionOnlyReplacesAMissingCredential) {
    readSettings("<parameter name=\"PROGRAM_VERSION\" value=\"10.10.4\"/>\n");
    writeWholeFile(localLicence(), "{\"License\":\"kept\"}");
    const auto before = logLines().size();
    gf_versionUpdate();
    EXPECT_EQ(logLines().size(), before);  // nothing logged, nothing saved
    EXPECT_EQ(readWholeFile(localLicence()), "{\"License\":\"kept\"}");
    fs::remove(localLicence());
    gf_versionUpdate();
    EXPECT_TRUE(fs::exists(localLicence()));
}

TEST_F(VersionUpdate, AnUpdateRemovesTheInstallerAndRescansEverything) {
    readSettings("<parameter name=\"PROGRAM_VERSION\" value=\"10.9.9\"/>\n"
                 "<parameter name=\"SCAN_LIVERIES\" value=\"false\"/>\n"
                 "<parameter name=\"SCAN_AIRPORTS\" value=\"false\"/>\n");
    writeWholeFile(m_program / "install_new_version.exe", "MZ");
    gf_versionUpdate();
    EXPECT_TRUE(logHas("This is a version update from 10.9.9 -> 10.10.4"));
    EXPECT_FALSE(fs::exists(m_program / "install_new_version.exe"));
    EXPECT_EQ(stored("SCAN_LIVERIES"), "true");
    EXPECT_EQ(stored("SCAN_AIRPORTS"), "true");
    EXPECT_EQ(stored("PROGRAM_VERSION"), "10.10.4");
    EXPECT_FALSE(fs::exists(localLicence()));  // an update does not look at the credential
}

TEST_F(VersionUpdate, AnOlderProgramTakesOverTheStoredVersionQuietly) {
    readSettings("<parameter name=\"PROGRAM_VERSION\" value=\"10.10.5\"/>\n"
                 "<parameter name=\"SCAN_LIVERIES\" value=\"false\"/>\n");
    gf_versionUpdate();
    EXPECT_EQ(stored("PROGRAM_VERSION"), "10.10.4");
    EXPECT_EQ(stored("SCAN_LIVERIES"), "false");
    EXPECT_FALSE(logContains("version update"));
}

}  // namespace
}  // namespace run_test
