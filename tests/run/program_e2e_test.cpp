// The program itself, build/bin/ZNTV_P3D, run headless in a program folder of its own with the simulator
// stand-in as a process beside it: one instance only, the "docs" check, closing by signal and the end of a
// run when the simulator goes away. Waits are scaled with ZNTV_TIME_SCALE.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "child_process.h"
#include "support/test_support.h"
#include "support/airport_list_file.h"

namespace run_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

const fs::path kProgram = fs::path(ZNTV_BINARY_DIR) / "bin" / "ZNTV_P3D";
const fs::path kSimulator = fs::path(ZNTV_BINARY_DIR) / "bin" / "zntv-simulator";
const fs::path kService = fs::path(ZNTV_BINARY_DIR) / "bin" / "zntv-service";
const fs::path kScenario = fs::path(ZNTV_SOURCE_DIR) / "testbed" / "fixtures" / "synthetic_scenario.json";
// The aircraft database the build generates; without one the start-up stops.
const fs::path kDatabase = fs::path(ZNTV_BINARY_DIR) / "dbase" / "dbase.zip";

bool lf_waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound = 30s) {
    return testing_support::waitFor(condition, bound);
}

class Program : public ::testing::Test {
protected:
    Program() {
        for (const char* folder : {"program/docs", "program/input", "config/ZNTV_P3D", "registry", "runtime",
                                   "documents", "public", "sim/Prepar3D v5/Scenery"}) {
            fs::create_directories(m_root / folder);
        }
        fs::permissions(m_root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        testing_support::copyAirportList(m_root / "program");
        // The liveries of an earlier scan: these runs are about the run-time, not about the livery scan.
        writeWholeFile(m_root / "config/ZNTV_P3D/parameters.xml",
                       "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" value=\"" +
                           (m_root / "sim/Prepar3D v5").string() +
                           "\"/>\n<parameter name=\"SCAN_LIVERIES\" value=\"false\"/>\n</parameters>\n");
        fs::create_directories(m_root / "program/output");
        writeWholeFile(m_root / "program/output/LiveriesScanned.xml",
                       "<?xml version=\"1.0\"?>\n<meta><info name=\"author\" value=\"ZNTV\"/><info name=\"date\" "
                       "value=\"2026-12-07\"/><info name=\"version\" value=\"10.10.4\"/></meta>\n"
                       "<liveries><liv airl=\"SWR\" type=\"A320\" title=\"Test A320\"/></liveries>\n");
        // The user's service credential, as the traffic service's own app leaves it beside the program.
        writeWholeFile(m_root / "program/RealTraffic.lic", "{\"License\":\"LIC-1\"}\n");
    }

    // The live-traffic service and update server stand-in as a process, playing the synthetic scenario and
    // serving the database; the program finds it through ZNTV_SERVICE_URL and ZNTV_UPDATE_URL.
    void startService() {
        const fs::path out = m_root / "service.out";
        m_service = std::make_unique<ChildProcess>(
            kService,
            std::vector<std::string>{"--port", "0", "--scenario", kScenario.string(), "--loop", "--dbase",
                                     kDatabase.string()},
            m_root, environment(), out);
        std::string port;
        ASSERT_TRUE(lf_waitFor([&] {
            const std::string text = readWholeFile(out);
            const auto line = text.find("port ");
            const auto end = text.find('\n', line);
            if (line == std::string::npos || end == std::string::npos) return false;
            port = text.substr(line + 5, end - line - 5);
            return true;
        }));
        m_serviceUrl = "http://127.0.0.1:" + port + "/v4/";
        m_updateUrl = "http://127.0.0.1:" + port + "/downloads/";
    }

    std::map<std::string, std::string> environment() const {
        auto env = testing_support::programFolders(m_root);
        env.insert({{"ZNTV_UPDATE_URL", m_updateUrl},
                    {"ZNTV_SERVICE_URL", m_serviceUrl},
                    {"ZNTV_HEADLESS", "1"},
                    {"ZNTV_TIME_SCALE", "0.05"}});
        return env;
    }

    std::unique_ptr<ChildProcess> startProgram(const fs::path& folder, const std::string& name) {
        return std::make_unique<ChildProcess>(kProgram, std::vector<std::string>{}, folder, environment(),
                                              m_root / (name + ".out"));
    }

    fs::path program() const { return m_root / "program"; }
    std::string log(const fs::path& folder) const { return readWholeFile(folder / "Log.txt"); }
    bool logHas(const fs::path& folder, const std::string& part) const {
        return fs::exists(folder / "Log.txt") && log(folder).find(part) != std::string::npos;
    }

    testing_support::TempDir m_dir;
    fs::path m_root = m_dir.path();
    std::string m_serviceUrl = "http://127.0.0.1:9/v4/";
    std::string m_updateUrl = "http://127.0.0.1:9/downloads/";
    std::unique_ptr<ChildProcess> m_service;
};

TEST_F(Program, ASecondInstanceReturnsMinusOneAndLeavesTheLogAlone) {
    startService();
    auto first = startProgram(program(), "first");
    ASSERT_TRUE(lf_waitFor([&] { return logHas(program(), "Program Version file not found?"); }));
    const std::string before = log(program());

    auto second = startProgram(program(), "second");
    EXPECT_EQ(second->waitForExit(30s), 255);  // -1
    EXPECT_FALSE(fs::exists(program() / "Log0.txt"));
    EXPECT_EQ(log(program()).substr(0, before.size()), before);
    EXPECT_TRUE(first->running());

    first->signal(SIGTERM);
    EXPECT_EQ(first->waitForExit(30s), 0);
    EXPECT_TRUE(logHas(program(), "Exiting: USER CLOSED SIM"));
    EXPECT_TRUE(logHas(program(), "User closed ZNTV_P3D"));
}

TEST_F(Program, WithoutDocsItShowsUserError41AndDoesNothingElse) {
    const fs::path elsewhere = m_root / "elsewhere";
    fs::create_directories(elsewhere / "input");
    auto p = startProgram(elsewhere, "elsewhere");
    ASSERT_TRUE(lf_waitFor(
        [&] { return logHas(elsewhere, "Error 41: ZNTV_P3D must be run from the ZNTV_P3D folder!\n"); }));
    EXPECT_FALSE(logHas(elsewhere, "parameters"));
    EXPECT_FALSE(fs::exists(elsewhere / "output"));
    EXPECT_TRUE(p->running());  // idle with the error shown, until closed
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitForExit(30s), 0);
}

TEST_F(Program, TheRunEndsByItselfWhenTheSimulatorGoesAway) {
    startService();
    const fs::path portFile = m_root / "sim.port";
    ChildProcess simulator(kSimulator,
                           {"--port", "0", "--no-pipe", "--no-ipv6", "--port-file", portFile.string(), "--user-lat",
                            "52.3086", "--user-lon", "4.7639"},
                           m_root, environment(), m_root / "simulator.out");
    ASSERT_TRUE(lf_waitFor([&] { return fs::exists(portFile); }));
    const std::string port = readWholeFile(portFile).substr(0, readWholeFile(portFile).find('\n'));
    writeWholeFile(m_root / "documents/SimConnect.cfg",
                   "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + port + "\n");

    auto p = startProgram(program(), "program");
    ASSERT_TRUE(lf_waitFor([&] { return logHas(program(), "Prepar3D v5 (5.4.9.28482) connected"); }));
    // Connected, a flight runs, and the start-up has reached the work loop.
    ASSERT_TRUE(lf_waitFor([&] { return logHas(program(), "No traffic in this region?"); }));

    simulator.signal(SIGTERM);
    ASSERT_EQ(simulator.waitForExit(30s), 0);
    EXPECT_EQ(p->waitForExit(30s), 0);
    EXPECT_TRUE(logHas(program(), "Flight Simulator no longer connected, ZNTV_P3D will stop ..."));
    EXPECT_TRUE(logHas(program(), "Exiting: SIM WAS CLOSED"));
}

}  // namespace
}  // namespace run_test
