// The park airport from end to end: the program (build/bin/ZNTV_P3D) as a process in a program folder of its
// own with the airport list the build made, the service stand-in as a process playing the Zurich scenario (its
// parked aircraft) and serving the stock stand file of LSZH that the build made, and the simulator stand-in in
// this process with the user aircraft standing on a stand of that file. The program finds the user at Zurich,
// loads the stand file and fills the stands with static aircraft.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "child_process.h"
#include "standin.h"
#include "support/airport_list_file.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

const fs::path kBuild = ZNTV_BINARY_DIR;
const fs::path kProgram = kBuild / "bin" / "ZNTV_P3D";
const fs::path kService = kBuild / "bin" / "zntv-service";
const fs::path kDatabase = kBuild / "dbase" / "dbase.zip";
const fs::path kScenario = kBuild / "scenarios" / "zurich.json";
const fs::path kServerRoot = kBuild / "server";

bool lf_waitFor(std::chrono::milliseconds bound, const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

struct Stand {
    std::string id;
    double lat = 0, lon = 0, headingDeg = 0;
};

class ParkAirport : public ::testing::Test {
protected:
    void SetUp() override {
        for (const fs::path& file : {kScenario, kServerRoot / "P3D/archive/stock/LSZH.xml", testing_support::kBuiltAirportList})
            if (!fs::exists(file)) GTEST_SKIP() << file << " was not made (no shared fixtures?)";
        for (const char* folder : {"program/docs", "program/input", "program/output", "config/ZNTV_P3D", "registry",
                                   "runtime", "documents", "public", "sim/Prepar3D v5/Scenery"})
            fs::create_directories(m_root / folder);
        fs::permissions(m_root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        testing_support::copyAirportList(m_root / "program");
        writeWholeFile(m_root / "program/output/LiveriesScanned.xml",
                       "<?xml version=\"1.0\"?>\n<meta><info name=\"author\" value=\"ZNTV\"/><info name=\"date\" "
                       "value=\"2026-12-07\"/><info name=\"version\" value=\"10.10.4\"/></meta>\n"
                       "<liveries><liv airl=\"SWR\" type=\"A320\" title=\"Test SWISS A320\"/></liveries>\n");
        writeWholeFile(m_root / "program/RealTraffic.lic", "{\"License\":\"LIC-1\"}\n");
        writeWholeFile(m_root / "config/ZNTV_P3D/parameters.xml",
                       "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" value=\"" +
                           (m_root / "sim/Prepar3D v5").string() +
                           "\"/>\n<parameter name=\"SCAN_LIVERIES\" value=\"false\"/>\n</parameters>\n");
    }

    void TearDown() override {
        if (m_program) {
            m_program->signal(SIGTERM);
            m_program->waitForExit(15s);
        }
        m_program.reset();
        m_service.reset();
        if (m_sim) m_sim->stop();
    }

    static std::vector<Stand> lszhStands() {
        pugi::xml_document doc;
        doc.load_file((kServerRoot / "P3D/archive/stock/LSZH.xml").c_str());
        std::vector<Stand> stands;
        for (const pugi::xml_node p : doc.child("parkpositions").children("parkpos"))
            stands.push_back({p.attribute("id").value(), p.attribute("latitude").as_double(),
                              p.attribute("longitude").as_double(), p.attribute("heading").as_double()});
        return stands;
    }

    void start(const Stand& userStand) {
        const fs::path out = m_root / "service.out";
        m_service = std::make_unique<run_test::ChildProcess>(
            kService,
            std::vector<std::string>{"--port", "0", "--root", kServerRoot.string(), "--scenario", kScenario.string(),
                                     "--start-at", "60", "--time-scale", "0", "--dbase", kDatabase.string()},
            m_root, std::map<std::string, std::string>{}, out);
        std::string port;
        ASSERT_TRUE(lf_waitFor(30s, [&] {
            const std::string text = readWholeFile(out);
            const auto line = text.find("port ");
            const auto end = text.find('\n', line);
            if (line == std::string::npos || end == std::string::npos) return false;
            port = text.substr(line + 5, end - line - 5);
            return true;
        }));

        standin::Options o = standin::defaultOptions();
        o.tcpPort = 0;
        o.listenPipe = false;
        o.listenIPv6 = false;
        o.user.latitude = userStand.lat;
        o.user.longitude = userStand.lon;
        o.user.heading = userStand.headingDeg;
        o.user.onGround = true;
        m_sim = std::make_unique<standin::SimulatorStandIn>(o);
        ASSERT_TRUE(m_sim->start());
        writeWholeFile(m_root / "documents/SimConnect.cfg",
                       "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(m_sim->portIPv4()) +
                           "\n");

        const std::map<std::string, std::string> env = {
            {"XDG_CONFIG_HOME", (m_root / "config").string()},
            {"XDG_DOCUMENTS_DIR", (m_root / "documents").string()},
            {"XDG_PUBLICSHARE_DIR", (m_root / "public").string()},
            {"XDG_RUNTIME_DIR", (m_root / "runtime").string()},
            {"ZNTV_REGISTRY_DIR", (m_root / "registry").string()},
            {"ZNTV_UPDATE_URL", "http://127.0.0.1:" + port + "/downloads/"},
            {"ZNTV_SERVICE_URL", "http://127.0.0.1:" + port + "/v4/"},
            {"ZNTV_HEADLESS", "1"}};
        m_program = std::make_unique<run_test::ChildProcess>(kProgram, std::vector<std::string>{},
                                                             m_root / "program", env, m_root / "program.out");
    }

    bool logHas(const std::string& text) const {
        return readWholeFile(m_root / "program/Log.txt").find(text) != std::string::npos;
    }

    testing_support::TempDir m_dir;
    fs::path m_root = m_dir.path();
    std::unique_ptr<standin::SimulatorStandIn> m_sim;
    std::unique_ptr<run_test::ChildProcess> m_service;
    std::unique_ptr<run_test::ChildProcess> m_program;
};

// Waits for the stand-file loading and the static parking of the park airport.
TEST_F(ParkAirport, TheUserOnAZurichStandFillsZurichWithStaticAircraft) {
    const std::vector<Stand> stands = lszhStands();
    ASSERT_GE(stands.size(), 20u);
    // A stand that no parked aircraft of the scenario stands on (they take every third added stand).
    start(stands[1]);
    ASSERT_TRUE(lf_waitFor(90s, [&] { return logHas("The park airport is LSZH (ZRH)") || !m_program->running(); }));
    EXPECT_TRUE(logHas("The park airport is LSZH (ZRH)"));
    EXPECT_TRUE(lf_waitFor(60s, [&] { return logHas("Airport file read from"); }));
    // Static aircraft of the parked traffic, told from the live ones by where they stand: within a few metres
    // of an aircraft that the service reports parked on a stand.
    std::vector<std::pair<double, double>> parked;
    const nlohmann::json scenario = nlohmann::json::parse(readWholeFile(kScenario));
    for (const auto& p : scenario.at("parked"))
        if (!p.value("stand", "").empty()) parked.emplace_back(p.at("lat").get<double>(), p.at("lon").get<double>());
    const auto staticCreated = [&] {
        for (const standin::ObjectState& o : m_sim->aiObjects())
            for (const auto& [lat, lon] : parked)
                if (std::abs(o.latitude - lat) < 0.0003 && std::abs(o.longitude - lon) < 0.0004) return true;
        return false;
    };
    EXPECT_TRUE(lf_waitFor(120s, staticCreated));
}

}  // namespace
