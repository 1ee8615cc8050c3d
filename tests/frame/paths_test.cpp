#include <gtest/gtest.h>

#include <stdexcept>

#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "settings_test_env.h"

using namespace settings_test;

namespace {

class PathsTest : public SettingsEnv {};

TEST_F(PathsTest, SettingsFileLivesInTheRoamingFolderWhateverTheWorkingFolder) {
    EXPECT_EQ(g_appFolder, m_config / "ZNTV_P3D");
    EXPECT_EQ(g_parametersPath, m_config / "ZNTV_P3D" / "parameters.xml");

    // a save made before the folder exists creates it, and nothing lands in the working folder
    ASSERT_FALSE(fs::exists(g_appFolder));
    ASSERT_TRUE(gf_setStringParameterAndSave(g_DESTINATION, "LOWW"));
    EXPECT_TRUE(fs::exists(settingsFile()));
    EXPECT_TRUE(fs::is_empty(m_program));

    // another roaming folder takes effect on the next computation
    const fs::path other = m_root.path() / "other";
    testing_support::ScopedEnv xdg("XDG_CONFIG_HOME", other.string());
    gf_initGlobalPaths();
    EXPECT_EQ(g_parametersPath, other / "ZNTV_P3D" / "parameters.xml");
}

TEST_F(PathsTest, DataPathsAreRelativeToTheProgramFolder) {
    const std::pair<const fs::path*, const char*> cases[] = {
        {&g_docsFolder, "docs"},
        {&g_myRegcodesFolder, "input/my_regcodes"},
        {&g_learnedThirdpartyFolder, "airports/learned/thirdparty"},
        {&g_myParkAirportsFile, "airports/my_park_airports.txt"},
        {&g_liveriesScannedFile, "output/LiveriesScanned.xml"},
        {&g_airportsScanLogFile, "output/info/AirportsScanLog.txt"},
        {&g_incompleteFltsimReportPath, "output/errors/IncompleFltsimSections.txt"},
    };
    for (const auto& [path, text] : cases) {
        EXPECT_FALSE(path->is_absolute()) << *path;
        EXPECT_EQ(path->generic_string(), text);
    }
}

TEST_F(PathsTest, CategoryTablesAndTheirMissingKey) {
    EXPECT_EQ(g_flareTicks.at(3), 450);
    EXPECT_EQ(g_derotationTicks.at(2), 350);
    EXPECT_EQ(g_rotationTicks.at(1), 200);
    EXPECT_EQ(g_climbTicks.at(5), 100);
    EXPECT_EQ(g_rotationPitchDeg.at(5), -20.0);
    EXPECT_EQ(g_climbPitchDeg.at(2), -16.5);
    for (const auto* table : {&g_flareTicks, &g_derotationTicks, &g_rotationTicks, &g_climbTicks})
        EXPECT_EQ(table->size(), 6u);

    try {
        (void)g_climbPitchDeg.at(6);
        FAIL() << "category 6 was found";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid unordered_map<K, T> key");
    }
    EXPECT_THROW((void)g_flareTicks.at(-1), std::out_of_range);
}

TEST_F(PathsTest, RegistryFactsAreTakenWhenTheGlobalsAreComputed) {
    EXPECT_FALSE(g_p3dV5Installed);
    EXPECT_FALSE(g_p3dV6Installed);
    writeMachineRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v6]\r\n\"SetupPath\"=\"X\"\r\n");
    EXPECT_FALSE(g_p3dV6Installed);  // fixed until computed again
    gf_initGlobalPaths();
    EXPECT_FALSE(g_p3dV5Installed);
    EXPECT_TRUE(g_p3dV6Installed);
}

}  // namespace
