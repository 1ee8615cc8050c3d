#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/simulator.h"
#include "settings_test_env.h"

using namespace settings_test;

namespace {

std::vector<std::pair<std::string, bool>> g_shownMessages;
void lf_recordMessage(std::string_view text, bool log) { g_shownMessages.emplace_back(std::string(text), log); }

const char* const kV5Key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\r\n";
const char* const kV6Key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v6]\r\n";

class SimulatorTest : public SettingsEnv {
protected:
    void SetUp() override {
        SettingsEnv::SetUp();
        g_shownMessages.clear();
        gf_setStatusLineHooks({lf_recordMessage, nullptr});
        createWindow();
        ASSERT_TRUE(lf_createEditField(g_ALL_INSTALL_PATH, 200, 300));
        gf_readParameters();  // a settings file to save into, as at a real start
    }
    void TearDown() override {
        gf_setStatusLineHooks({});
        SettingsEnv::TearDown();
    }

    // The registry of this test, read as the program reads it at start.
    void installRegistry(const std::string& body) {
        writeMachineRegistry(body);
        gf_initGlobalPaths();
    }

    std::string storedSimPath() {
        pugi::xml_document doc;
        EXPECT_TRUE(doc.load_file(settingsFile().c_str()));
        return doc.select_node(gf_findParameterNode("SIM_INSTALL_PATH").c_str()).node().attribute("value").value();
    }

    // ALL_INSTALL_PATH holds a stale path that detection must clear.
    void staleInstallPath() {
        g_ALL_INSTALL_PATH.set("stale");
        m_ui->setText(g_ALL_INSTALL_PATH.controlId, "stale");
    }

    std::string userErrorOf(void (*f)()) {
        try {
            f();
        } catch (const qtm::UserErrorException& e) {
            return e.what();
        }
        return "no user error";
    }
};

TEST_F(SimulatorTest, OnlyV5InstalledFillsAndSavesTheInstallPath) {
    installRegistry(std::string(kV5Key) +
                    "\"SetupPath\"=\"C:\\\\Program Files\\\\Lockheed Martin\\\\Prepar3D v5\\\\\"\r\n");
    ASSERT_TRUE(g_p3dV5Installed);
    ASSERT_FALSE(g_p3dV6Installed);
    const std::string path = "C:\\Program Files\\Lockheed Martin\\Prepar3D v5\\";

    lf_detectSimulator();

    EXPECT_TRUE(logHas("P3Dv5detected"));
    EXPECT_EQ(g_SIM_INSTALL_PATH.value(), path);
    EXPECT_EQ(g_ALL_INSTALL_PATH.value(), path);
    EXPECT_EQ(m_ui->text(g_ALL_INSTALL_PATH.controlId), path);
    EXPECT_EQ(storedSimPath(), path);
    EXPECT_EQ(gf_simMajorVersion(), "5");
    EXPECT_TRUE(g_shownMessages.empty());
}

TEST_F(SimulatorTest, OnlyV6InstalledFillsAndSavesTheInstallPath) {
    installRegistry(std::string(kV6Key) + "\"SetupPath\"=\"D:\\\\P3D\\\\Prepar3D v6\"\r\n");

    lf_detectSimulator();

    EXPECT_TRUE(logHas("P3Dv6detected"));
    EXPECT_EQ(g_SIM_INSTALL_PATH.value(), "D:\\P3D\\Prepar3D v6");
    EXPECT_EQ(storedSimPath(), "D:\\P3D\\Prepar3D v6");
    EXPECT_EQ(gf_simMajorVersion(), "6");
}

TEST_F(SimulatorTest, BothInstalledAsksTheUserToChoose) {
    installRegistry(std::string(kV5Key) + "\"SetupPath\"=\"C:\\\\A\"\r\n\r\n" + kV6Key +
                    "\"SetupPath\"=\"C:\\\\B\"\r\n");
    EXPECT_EQ(userErrorOf(lf_detectSimulator),
              "153: More than one P3D version detected, type full Install Path to wanted version above and press "
              "Enter");
    EXPECT_EQ(g_SIM_INSTALL_PATH.value(), "");
    EXPECT_EQ(storedSimPath(), "");
}

TEST_F(SimulatorTest, NoneInstalledWithoutFoldersIsAUserError) {
    // no registry file at all: every look-up fails quietly
    gf_initGlobalPaths();
    EXPECT_FALSE(gf_P3DInstalled(5));
    EXPECT_EQ(gf_P3DSetupPath(6), "");
    staleInstallPath();

    EXPECT_EQ(userErrorOf(lf_detectSimulator),
              "151: No P3D install path detected, type full Install Path above, and press Enter");
    EXPECT_EQ(g_ALL_INSTALL_PATH.value(), "");
    EXPECT_EQ(m_ui->text(g_ALL_INSTALL_PATH.controlId), "");
    ASSERT_EQ(g_shownMessages.size(), 1u);
    EXPECT_EQ(g_shownMessages[0], std::make_pair(std::string("P3D not detected?"), true));
}

TEST_F(SimulatorTest, NoneInstalledWithAFolderKeyGoesOn) {
    installRegistry(std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v4]\r\n") +
                    "\"SetupPath\"=\"C:\\\\Old\"\r\n");
    g_lfolder[3].set("E:\\AI");

    EXPECT_NO_THROW(lf_detectSimulator());
    ASSERT_EQ(g_shownMessages.size(), 1u);
    EXPECT_EQ(g_shownMessages[0].first, "P3D not detected?");
    EXPECT_FALSE(logHas("P3Dv4detected"));

    g_lfolder[3].set("");
    g_afolder[9].set("F:\\Airports");
    EXPECT_NO_THROW(lf_detectSimulator());
}

TEST_F(SimulatorTest, KeyWithoutSetupPathIsAUserError) {
    for (const std::string& value : {std::string(), std::string("\"SetupPath\"=\"\"\r\n")}) {
        SCOPED_TRACE(value);
        installRegistry(std::string(kV5Key) + "\"Other\"=\"x\"\r\n" + value);
        staleInstallPath();
        EXPECT_EQ(userErrorOf(lf_detectSimulator),
                  "151: No P3D install path detected, type full Install Path above, and press Enter");
        EXPECT_TRUE(logHas("P3Dv5detected"));
        EXPECT_EQ(m_ui->text(g_ALL_INSTALL_PATH.controlId), "");
        EXPECT_EQ(g_SIM_INSTALL_PATH.value(), "");
    }
}

TEST_F(SimulatorTest, MajorVersionComesFromTheInnermostMarkedFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Program Files\\Lockheed Martin\\Prepar3D v5", "5"},
        {"C:\\Program Files\\Lockheed Martin\\Prepar3D V5\\", "5"},
        {"/home/dev5/Prepar3D v6", "6"},
        {"C:\\v6stuff\\Prepar3D v5", "5"},
        {"E:\\P3DV6", "6"},
        {"C:\\sims\\v6\\Prepar3D", "6"},  // no mark in the last folder: the next one out decides
        {"D:\\Prepar3D", "5"},            // no mark anywhere: P3D_VERSION, default 5
        {"", "5"},
    };
    for (const auto& [path, major] : cases) {
        g_SIM_INSTALL_PATH.set(path);
        EXPECT_EQ(gf_simMajorVersion(), major) << path;
    }

    writeSettings("\t<parameter name=\"P3D_VERSION\" value=\"6\" />\n");
    gf_readParameters();
    g_SIM_INSTALL_PATH.set("D:\\Prepar3D");
    EXPECT_EQ(gf_simMajorVersion(), "6");

    // only code that sets the value below its range can get here
    g_P3D_VERSION.set(0);
    EXPECT_EQ(userErrorOf([] { (void)gf_simMajorVersion(); }),
              "77: P3D install path does not contain v5 or v6? Use hidden parameter P3D_VERSION, set it at 5 or 6");
}

// add-ons.cfg lies in the simulator user's roaming folder on the simulator's drive: the user registry's
// "AppData" shell folder, else the one user folder in C:\users, else among several the one named like $USER.
TEST_F(SimulatorTest, TheSimulatorUsersRoamingFolderIsFoundOnItsDrive) {
    EXPECT_EQ(gf_simRoamingFolder(), std::nullopt);  // no drive mapped: the program's own folder serves
    const fs::path wine = m_root.path() / "wine";
    fs::create_directories(wine / "dosdevices");
    fs::create_directory_symlink("../drive_c", wine / "dosdevices" / "c:");
    testing_support::ScopedEnv dos("ZNTV_DOSDEVICES", wine.string());
    struct Case {
        std::vector<const char*> users;
        const char* user;
        const char* appDataValue;  // in the user registry file, or none
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{}, "pilot", nullptr, std::nullopt},
        {{"Public", "Default", "simuser"}, "pilot", nullptr, "C:\\users\\simuser\\AppData\\Roaming"},
        {{"Public", "alice", "Pilot"}, "pilot", nullptr, "C:\\users\\Pilot\\AppData\\Roaming"},
        {{"alice", "bob"}, "pilot", nullptr, std::nullopt},
        {{"alice", "bob"}, "pilot", "D:\\\\Profiles\\\\bob\\\\Roaming", "D:\\Profiles\\bob\\Roaming"},
    };
    for (const Case& c : cases) {
        fs::remove_all(wine / "drive_c");
        fs::create_directories(wine / "drive_c");
        for (const char* user : c.users) fs::create_directories(wine / "drive_c" / "users" / user);
        fs::remove(m_registry / "user.reg");
        if (c.appDataValue != nullptr)
            writeWholeFile(m_registry / "user.reg",
                           std::string("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
                                       "CurrentVersion\\Explorer\\Shell Folders]\r\n\"AppData\"=\"") +
                               c.appDataValue + "\"\r\n");
        testing_support::ScopedEnv user("USER", c.user);
        EXPECT_EQ(gf_simRoamingFolder(), c.expected) << c.users.size() << " users, " << c.expected.value_or("none");
    }
}

}  // namespace
