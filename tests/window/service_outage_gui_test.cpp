// The program itself with its real window under a virtual X server, while the live-traffic service stand-in
// goes away in the middle of a run and comes back on the same address, or drops one kind of reply for a while:
// what the status line says meanwhile, in which colour, and that the program runs on through it.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <httplib.h>

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
const fs::path kScenario = fs::path(ZNTV_SOURCE_DIR) / "testbed" / "fixtures" / "synthetic_scenario.json";
const fs::path kDatabase = fs::path(ZNTV_BINARY_DIR) / "dbase" / "dbase.zip";
// Where the settings put the window; without a window manager it stands exactly there.
constexpr int kWindowX = 0, kWindowY = 20;

std::size_t lf_count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

class ServiceOutage : public ::testing::Test {
protected:
    void SetUp() override {
        if (!XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed";
        m_x = std::make_unique<XvfbServer>(1600, 1200);
        ASSERT_TRUE(m_x->running()) << m_x->failure();
        for (const char* folder : {"program/docs", "program/output", "config/ZNTV_P3D", "registry", "runtime",
                                   "documents", "public", "sim/Prepar3D v5/Scenery"})
            fs::create_directories(m_root / folder);
        fs::permissions(m_root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        testing_support::copyAirportList(m_root / "program");
        writeWholeFile(m_root / "config/ZNTV_P3D/parameters.xml",
                       "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" value=\"" +
                           (m_root / "sim/Prepar3D v5").string() +
                           "\"/>\n<parameter name=\"SCAN_LIVERIES\" value=\"false\"/>\n" +
                           "<parameter name=\"MAIN_WINDOW_X\" value=\"" + std::to_string(kWindowX) + "\"/>\n" +
                           "<parameter name=\"MAIN_WINDOW_Y\" value=\"" + std::to_string(kWindowY) + "\"/>\n" +
                           "</parameters>\n");
        // The liveries of an earlier scan: this run is about the service, not about the livery scan.
        writeWholeFile(m_root / "program/output/LiveriesScanned.xml",
                       "<?xml version=\"1.0\"?>\n<meta><info name=\"author\" value=\"ZNTV\"/><info name=\"date\" "
                       "value=\"2026-12-07\"/><info name=\"version\" value=\"10.10.4\"/></meta>\n"
                       "<liveries><liv airl=\"KLM\" type=\"B738\" title=\"Test B738\"/></liveries>\n");
        writeWholeFile(m_root / "program/RealTraffic.lic", "{\"License\":\"LIC-1\"}\n");
    }

    // The stand-in on the port given (0: a free one, which is then kept for its comeback), polled twice a second.
    std::unique_ptr<ChildProcess> startService(const std::string& name, bool loginCheck = true) {
        const fs::path out = m_root / (name + ".out");
        std::vector<std::string> arguments{"--port", m_port, "--scenario", kScenario.string(), "--loop", "--dbase",
                                           kDatabase.string(), "--rrl", "500", "--wrrl", "500"};
        if (!loginCheck) arguments.emplace_back("--no-login-check");
        auto service = std::make_unique<ChildProcess>(kBin / "zntv-service", arguments, m_root,
                                                      std::map<std::string, std::string>{}, out);
        std::string port;
        testing_support::waitFor(
            [&] {
                const std::string text = readWholeFile(out);
                const auto at = text.find("port ");
                const auto end = text.find('\n', at);
                if (at == std::string::npos || end == std::string::npos) return false;
                port = text.substr(at + 5, end - at - 5);
                return true;
            },
            30s);
        EXPECT_EQ(m_port == "0" ? port : m_port, port) << readWholeFile(out);
        m_port = port;
        return service;
    }

    std::map<std::string, std::string> environment() const {
        auto env = testing_support::programFolders(m_root);
        env.insert({{"ZNTV_UPDATE_URL", "http://127.0.0.1:" + m_port + "/downloads/"},
                    {"ZNTV_SERVICE_URL", serviceUrl()},
                    {"ZNTV_TIME_SCALE", "0.05"},
                    {"DISPLAY", m_x->display()}});
        return env;
    }

    std::string serviceUrl() const { return "http://127.0.0.1:" + m_port + "/v4/"; }
    std::string log() const { return readWholeFile(m_root / "program/Log.txt"); }

    // The status line's colour, right of any text it holds.
    ui::Rgb statusLineColour() {
        const fs::path shot = m_root / "screen.ppm";
        if (!gf_screenshot(m_x->display(), shot)) return {};
        const auto image = gf_readPpm(shot);
        if (!image || image->width < kWindowX + kStatusLine.right || image->height < kWindowY + kStatusLine.bottom)
            return {};
        return image->at(kWindowX + kStatusLine.right - 4, kWindowY + kStatusLine.bottom - 6);
    }

    // The colour of a reader's connection indicator ("Weather" or "Traffic"): the first of green and yellow
    // that a pixel of its word has.
    ui::Rgb indicatorColour(const std::string& reader) {
        const fs::path shot = m_root / "screen.ppm";
        if (!gf_screenshot(m_x->display(), shot)) return {};
        const auto image = gf_readPpm(shot);
        const int top = reader == "weather" ? 63 : 91;
        for (const ui::Rgb colour : {kGreen, kYellow})
            for (int x = 458; image && x < 510; ++x)
                for (int y = top; y < top + 15; ++y)
                    if (image->at(kWindowX + x, kWindowY + y) == colour) return colour;
        return {};
    }

    bool indicatorTurns(const std::string& reader, ui::Rgb wanted) {
        return testing_support::waitFor([&] { return indicatorColour(reader) == wanted; }, 30s);
    }

    bool statusLineTurns(ui::Rgb wanted) {
        ui::Rgb colour{};
        const bool turned = testing_support::waitFor([&] { return (colour = statusLineColour()) == wanted; }, 30s);
        EXPECT_TRUE(turned) << "rgb " << int(colour.r) << "," << int(colour.g) << "," << int(colour.b) << "\n"
                            << log();
        return turned;
    }

    testing_support::TempDir m_dir;
    fs::path m_root = m_dir.path();
    std::unique_ptr<XvfbServer> m_x;
    std::string m_port = "0";
};

// How the service fails the program, and how it comes back. It goes away, and comes back with the program's
// login still known (as after a break in the connection) or without it (started afresh), which ends the
// readers with a 401 and restarts the program. Or it answers all but one kind of request until that is mended:
// the readers it still answers must not take the other's outage away.
struct Outage {
    const char* name;
    const char* dropped;  // the endpoint whose replies the running stand-in drops; nullptr: it goes away
    bool loginKept;
    std::vector<std::string> silent;  // the readers cut off, as the line names them
    const char* cause;
};

void PrintTo(const Outage& c, std::ostream* os) { *os << c.name; }

class ServiceOutages : public ServiceOutage, public ::testing::WithParamInterface<Outage> {};

TEST_P(ServiceOutages, TheStatusLineSaysSoInRedWhileItLastsAndTheProgramRunsOn) {
    const Outage& c = GetParam();
    auto service = startService("service");
    const fs::path portFile = m_root / "sim.port";
    // Flying near Zurich, where the scenario's traffic is: the polls bring data until they fail.
    ChildProcess simulator(kBin / "zntv-simulator",
                           {"--port", "0", "--no-pipe", "--no-ipv6", "--port-file", portFile.string(), "--user-lat",
                            "47.40", "--user-lon", "8.60", "--user-alt", "5000", "--user-airborne"},
                           m_root, {}, m_root / "simulator.out");
    ASSERT_TRUE(testing_support::waitFor([&] { return fs::exists(portFile) && fs::file_size(portFile) > 0; }, 30s));
    const std::string simPort = readWholeFile(portFile).substr(0, readWholeFile(portFile).find('\n'));
    writeWholeFile(m_root / "documents/SimConnect.cfg",
                   "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + simPort + "\n");

    ChildProcess program(kBin / "ZNTV_P3D", {}, m_root / "program", environment(), m_root / "program.out");
    ASSERT_TRUE(testing_support::waitFor([&] { return lf_count(log(), "Traffic Reader connected") == 1; }, 90s))
        << log();
    ASSERT_TRUE(statusLineTurns(kGreen));
    for (const std::string& reader : c.silent) ASSERT_TRUE(indicatorTurns(reader, kGreen)) << reader;

    // From the first failed poll on, the error line says where, why and since when; it stays through the
    // answers of the other reader.
    httplib::Client control("127.0.0.1", std::stoi(m_port));
    const auto drop = [&](const char* fault) {
        const auto posted =
            control.Post("/control/live/fault", httplib::Params{{"target", c.dropped}, {"fault", fault}});
        return posted && posted->status == 200;
    };
    if (c.dropped) {
        ASSERT_TRUE(drop("drop"));
    } else {
        service->signal(SIGTERM);
        ASSERT_EQ(service->waitForExit(30s), 0);
    }
    ASSERT_TRUE(statusLineTurns(kRed));
    ASSERT_TRUE(testing_support::waitFor([&] { return lf_count(log(), std::string(c.cause) + "\n") >= 6; }, 30s))
        << log();
    const std::string during = log();
    std::size_t firstLine = std::string::npos;
    // A poll in flight when the stand-in goes away ends without a reply (or on a reset, when its request was
    // still unread); the polls after it find no server.
    const std::string cause =
        c.dropped ? std::string(c.cause)
                  : "(" + std::string(c.cause) +
                        R"(|Server returned nothing \(no headers, no data\)|Recv failure: Connection reset by peer))";
    for (const std::string& reader : c.silent) {
        const std::regex line("\nError RT at " + std::regex_replace(serviceUrl(), std::regex(R"([.])"), R"(\.)") +
                              " silent for " + reader + R"( since \d\d:\d\d:\d\d UTC \()" + cause +
                              R"(\); a lost login restarts ZNTV_P3D\n)");
        std::smatch found;
        ASSERT_TRUE(std::regex_search(during, found, line)) << reader << "\n" << during;
        firstLine = std::min(firstLine, static_cast<std::size_t>(found.position(0)));
    }
    // Logged once for each reader, the first ahead of the readers' line of the first failed poll.
    EXPECT_EQ(lf_count(during, "Error RT at "), c.silent.size()) << during;
    EXPECT_EQ(lf_count(during, " answers again"), 0U) << during;
    EXPECT_LT(firstLine, during.find(std::string(c.cause) + "\n"));
    EXPECT_TRUE(program.running());
    EXPECT_EQ(statusLineColour(), kRed);
    // Its polls bring no data: the indicator of a reader cut off turns yellow.
    for (const std::string& reader : c.silent) EXPECT_TRUE(indicatorTurns(reader, kYellow)) << reader;

    // It answers again (on the same address): the line clears at the answer that ends the last outage, and
    // the program runs on.
    if (c.dropped) {
        ASSERT_TRUE(drop("none"));
    } else {
        service = startService("service-again", !c.loginKept);
    }
    ASSERT_TRUE(statusLineTurns(kGreen));
    EXPECT_NE(log().find("RT at " + serviceUrl() + " answers again"), std::string::npos);
    if (c.loginKept) {
        // Cleared by the answer itself: the run goes on as it was.
        EXPECT_EQ(log().find("Exiting: "), std::string::npos) << log();
    } else {
        EXPECT_TRUE(testing_support::waitFor([&] { return lf_count(log(), "Traffic Reader connected") == 2; }, 60s))
            << log();
    }
    EXPECT_TRUE(program.running());

    program.signal(SIGTERM);
    EXPECT_EQ(program.waitForExit(30s), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Outages, ServiceOutages,
    ::testing::Values(
        Outage{"GoneLoginKept", nullptr, true, {"weather", "traffic"}, "Couldn't connect to server"},
        Outage{"GoneLoginLost", nullptr, false, {"weather", "traffic"}, "Couldn't connect to server"},
        Outage{"WeatherDropped", "weather", true, {"weather"}, "Transferred a partial file"},
        Outage{"NearestMetarDropped", "nearestmetar", true, {"weather"}, "Transferred a partial file"}),
    [](const ::testing::TestParamInfo<Outage>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace window_test
