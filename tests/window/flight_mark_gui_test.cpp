// The program itself with its real window under a virtual X server, in the demo's set-up: the Zurich recording
// played by the live-traffic stand-in, the user aircraft at Zurich on the simulator stand-in. What the screen
// shows once the flight runs and traffic flows.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "run/child_process.h"
#include "support/airport_list_file.h"
#include "support/test_support.h"
#include "window/main_window.h"
#include "xvfb.h"

namespace window_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using run_test::ChildProcess;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

const fs::path kBin = fs::path(ZNTV_BINARY_DIR) / "bin";
const fs::path kZurich = fs::path(ZNTV_BINARY_DIR) / "scenarios" / "zurich.json";
const fs::path kDatabase = fs::path(ZNTV_BINARY_DIR) / "dbase" / "dbase.zip";
const fs::path kStandFile = fs::path(ZNTV_BINARY_DIR) / "server/P3D/archive/stock/LSZH.xml";
// Where the demo puts the window; without a window manager it stands exactly there.
constexpr int kWindowX = 0, kWindowY = 20;

class FlightMark : public ::testing::Test {
protected:
    void SetUp() override {
        if (!XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed";
        m_x = std::make_unique<XvfbServer>(1600, 1200);
        ASSERT_TRUE(m_x->running()) << m_x->failure();
        for (const char* folder : {"program/docs", "config/ZNTV_P3D", "registry", "runtime", "documents", "public",
                                   "server/release", "server/P3D/archive/stock", "sim/Prepar3D v5/Scenery"})
            fs::create_directories(m_root / folder);
        fs::permissions(m_root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        testing_support::copyAirportList(m_root / "program");
        // As the demo lays out its world: the simulator's AI packages with liveries for the scenario's airlines
        // and types (scanned at the start), the update server with the database and the stand file of Zurich.
        writeWholeFile(m_root / "config/ZNTV_P3D/parameters.xml",
                       "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" value=\"" +
                           sim().string() + "\"/>\n<parameter name=\"SCAN_LIVERIES\" value=\"true\"/>\n" +
                           "<parameter name=\"MAIN_WINDOW_X\" value=\"" + std::to_string(kWindowX) + "\"/>\n" +
                           "<parameter name=\"MAIN_WINDOW_Y\" value=\"" + std::to_string(kWindowY) + "\"/>\n" +
                           "</parameters>\n");
        ChildProcess tree(kBin / "zntv-simtree-gen",
                          {"--sim", sim().string(), "--appdata", (m_root / "config").string(), "--wine",
                           (m_root / "wine").string(), "--program", (m_root / "program").string(), "--server",
                           (m_root / "server").string(), "--tables",
                           (fs::path(ZNTV_SOURCE_DIR) / "testbed/fixtures/database").string(), "--scenario",
                           kZurich.string()},
                          m_root, {}, m_root / "simtree.out");
        ASSERT_EQ(tree.waitForExit(60s), 0) << readWholeFile(m_root / "simtree.out");
        writeWholeFile(m_root / "program/RealTraffic.lic", "{\"License\":\"DEMO-LICENCE\"}\n");
        writeWholeFile(m_root / "server/release/version_P3D.json", "10.10.4\n");
        fs::copy_file(kDatabase, m_root / "server/dbase.zip");
        fs::copy_file(kStandFile, m_root / "server/P3D/archive/stock/LSZH.xml");
    }

    fs::path sim() const { return m_root / "sim" / "Prepar3D v5"; }

    std::map<std::string, std::string> environment() const {
        auto env = testing_support::programFolders(m_root);
        env.insert({{"ZNTV_DOSDEVICES", (m_root / "wine").string()},
                    {"ZNTV_UPDATE_URL", "http://127.0.0.1:" + m_servicePort + "/downloads/"},
                    {"ZNTV_SERVICE_URL", "http://127.0.0.1:" + m_servicePort + "/v4/"},
                    {"DISPLAY", m_x->display()}});
        return env;
    }

    // The last word of the first line of a child's output that starts with the prefix, once it is there.
    std::string firstWordAfter(const fs::path& file, const std::string& prefix) {
        std::string found;
        testing_support::waitFor([&] {
            const std::string text = readWholeFile(file);
            const auto at = text.find(prefix);
            const auto end = text.find('\n', at);
            if (at == std::string::npos || end == std::string::npos) return false;
            found = text.substr(at + prefix.size(), end - at - prefix.size());
            return true;
        }, 30s);
        return found;
    }

    ui::Rgb simBoxColour() {
        const fs::path shot = m_root / "screen.ppm";
        if (!gf_screenshot(m_x->display(), shot)) return {};
        const auto image = gf_readPpm(shot);
        if (!image || image->width < kWindowX + kSimBox.right) return {};
        // Inside the box, clear of the "Sim" drawn in black.
        return image->at(kWindowX + (kSimBox.left + kSimBox.right) / 2, kWindowY + kSimBox.top + 4);
    }

    testing_support::TempDir m_dir;
    fs::path m_root = m_dir.path();
    std::unique_ptr<XvfbServer> m_x;
    std::string m_servicePort = "9";
};

TEST_F(FlightMark, TheSimBoxIsGreenSoonAfterTrafficFlows) {
    ChildProcess service(kBin / "zntv-service",
                         {"--port", "0", "--root", (m_root / "server").string(), "--scenario", kZurich.string(),
                          "--loop", "--start-at", "50"},
                         m_root, {}, m_root / "service.out");
    m_servicePort = firstWordAfter(m_root / "service.out", "port ");
    ASSERT_FALSE(m_servicePort.empty());
    const fs::path portFile = m_root / "sim.port", trace = m_root / "trace.jsonl";
    ChildProcess simulator(kBin / "zntv-simulator",
                           {"--port", "0", "--no-pipe", "--port-file", portFile.string(), "--user-lat", "47.4612",
                            "--user-lon", "8.5535", "--trace", trace.string()},
                           m_root, {}, m_root / "simulator.out");
    ASSERT_TRUE(testing_support::waitFor([&] { return fs::exists(portFile) && fs::file_size(portFile) > 0; }, 30s));
    const std::string simPort = readWholeFile(portFile).substr(0, readWholeFile(portFile).find('\n'));
    writeWholeFile(m_root / "documents/SimConnect.cfg",
                   "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + simPort + "\n");

    ChildProcess program(kBin / "ZNTV_P3D", {}, m_root / "program", environment(), m_root / "program.out");
    // Traffic flows once the program has put its first AI aircraft into the simulator.
    ASSERT_TRUE(testing_support::waitFor(
        [&] { return fs::exists(trace) && readWholeFile(trace).find("\"create\"") != std::string::npos; }, 90s))
        << readWholeFile(m_root / "program/Log.txt");
    ui::Rgb colour{};
    testing_support::waitFor([&] { return (colour = simBoxColour()) == kGreen; }, 10s);
    EXPECT_EQ(colour, kGreen) << "rgb " << int(colour.r) << "," << int(colour.g) << "," << int(colour.b);

    program.signal(SIGTERM);
    EXPECT_EQ(program.waitForExit(30s), 0);
}

}  // namespace
}  // namespace window_test
