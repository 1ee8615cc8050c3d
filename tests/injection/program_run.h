// The program from end to end: build/bin/ZNTV_P3D as a process in a program folder of its own, the
// live-traffic service stand-in as a process playing a scenario the test writes, and the simulator stand-in in
// the test's process with a trace, so that what the program created, sent and removed can be looked at
// directly. The scanned liveries hold one title, KLM's Boeing 737-800; the user stands at Amsterdam.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "standin.h"
#include "support/airport_list_file.h"
#include "support/test_support.h"

namespace injection_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline const fs::path kProgram = fs::path(ZNTV_BINARY_DIR) / "bin" / "ZNTV_P3D";
inline const fs::path kService = fs::path(ZNTV_BINARY_DIR) / "bin" / "zntv-service";
inline const fs::path kDatabase = fs::path(ZNTV_BINARY_DIR) / "dbase" / "dbase.zip";

// The one livery of the scanned file.
inline const std::string kTitle = "Test KLM B738";
constexpr double kUserLat = 52.3086, kUserLon = 4.7639;

inline bool lf_waitUntil(Clock::time_point end, const std::function<bool()>& condition) {
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

inline bool lf_waitFor(std::chrono::milliseconds bound, const std::function<bool()>& condition) {
    return lf_waitUntil(Clock::now() + bound, condition);
}

class ProgramRun : public ::testing::Test {
protected:
    ProgramRun() {
        for (const char* folder : {"program/docs", "program/input", "program/output", "config/ZNTV_P3D", "registry",
                                   "runtime", "documents", "public", "sim/Prepar3D v5/Scenery"}) {
            fs::create_directories(m_root / folder);
        }
        fs::permissions(m_root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        testing_support::copyAirportList(m_root / "program");
        testing_support::writeWholeFile(
            m_root / "program/output/LiveriesScanned.xml",
            "<?xml version=\"1.0\"?>\n<meta><info name=\"author\" value=\"ZNTV\"/><info name=\"date\" "
            "value=\"2026-12-07\"/><info name=\"version\" value=\"10.10.4\"/></meta>\n"
            "<liveries><liv airl=\"KLM\" type=\"B738\" title=\"" +
                kTitle + "\"/></liveries>\n");
        testing_support::writeWholeFile(m_root / "program/RealTraffic.lic", "{\"License\":\"LIC-1\"}\n");
    }

    ~ProgramRun() override {
        // The program closes through its exit sequence while the simulator still answers.
        if (m_program) {
            m_program->signal(SIGTERM);
            m_program->waitForExit(15s);
        }
        m_program.reset();
        m_service.reset();
        if (m_sim) m_sim->stop();
        // ZNTV_E2E_KEEP=<folder> keeps the run's files (trace, log, scenario) for a look afterwards.
        if (const char* keep = std::getenv("ZNTV_E2E_KEEP")) {
            std::error_code ignored;
            fs::copy(m_root, keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ignored);
        }
    }

    struct Run {
        std::vector<nlohmann::json> aircraft;
        std::string parameters;  // more <parameter> lines
        std::vector<std::string> refusedTitles;
        double startAt = 60;    // scenario second the service starts at
        double timeScale = 0;   // 0: the scenario clock stands still
        // The program's own clock: its timers run this much faster than real time (1: real time).
        double programTimeScale = 0.05;
        // A scenario file of the build instead of `aircraft`, and the update server's files from a folder.
        std::optional<fs::path> scenarioFile;
        std::optional<fs::path> serverRoot;
        // The user aircraft on the ground (degrees, true heading) and the field's elevation (ft).
        double userLat = kUserLat, userLon = kUserLon, userHeading = 280, groundAltitude = 0;
        bool userOnGround = true;
        // The add-on airport scan at start (the program's default is on; runs here leave their stand files be).
        bool scanAirports = false;
        // The simulator's second (it paces the program's timers); shortened with the program's time scale.
        std::chrono::milliseconds simulatorSecond{1000};
        // The stand-in keeps every request for a look afterwards; a long run leaves them.
        bool keepRequests = true;
    };

    // The liveries of an earlier scan, in place of the one KLM title: `liv` elements.
    void writeLiveries(const std::string& livElements) {
        testing_support::writeWholeFile(
            m_root / "program/output/LiveriesScanned.xml",
            "<?xml version=\"1.0\"?>\n<meta><info name=\"author\" value=\"ZNTV\"/><info name=\"date\" "
            "value=\"2026-12-07\"/><info name=\"version\" value=\"10.10.4\"/></meta>\n<liveries>" +
                livElements + "</liveries>\n");
    }

    // Service, simulator and program.
    void start(const Run& run) {
        fs::path scenarioFile = m_root / "scenario.json";
        if (run.scenarioFile) {
            scenarioFile = *run.scenarioFile;
        } else {
            const nlohmann::json scenario = {{"name", "e2e"}, {"loop", false}, {"aircraft", run.aircraft}};
            testing_support::writeWholeFile(scenarioFile, scenario.dump(1));
        }
        testing_support::writeWholeFile(
            m_root / "config/ZNTV_P3D/parameters.xml",
            "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" value=\"" +
                (m_root / "sim/Prepar3D v5").string() + "\"/>\n<parameter name=\"SCAN_LIVERIES\" value=\"false\"/>\n" +
                "<parameter name=\"SCAN_AIRPORTS\" value=\"" + (run.scanAirports ? "true" : "false") + "\"/>\n" +
                run.parameters + "</parameters>\n");

        ASSERT_TRUE(fs::exists(kProgram)) << kProgram;
        const fs::path out = m_root / "service.out";
        std::vector<std::string> serviceArgs{"--port", "0", "--scenario", scenarioFile.string(), "--start-at",
                                             std::to_string(run.startAt), "--time-scale", std::to_string(run.timeScale),
                                             "--dbase", kDatabase.string()};
        if (run.serverRoot) serviceArgs.insert(serviceArgs.end(), {"--root", run.serverRoot->string()});
        m_service = std::make_unique<run_test::ChildProcess>(kService, serviceArgs, m_root,
                                                             std::map<std::string, std::string>{}, out);
        ASSERT_TRUE(lf_waitFor(30s, [&] {
            const std::string text = testing_support::readWholeFile(out);
            const auto line = text.find("port ");
            const auto end = text.find('\n', line);
            if (line == std::string::npos || end == std::string::npos) return false;
            m_servicePort = text.substr(line + 5, end - line - 5);
            return true;
        }));

        standin::Options o = standin::defaultOptions();
        o.tcpPort = 0;
        o.listenPipe = false;
        o.listenIPv6 = false;
        o.user.latitude = run.userLat;
        o.user.longitude = run.userLon;
        o.user.heading = run.userHeading;
        o.user.altitude = o.user.groundAltitude = run.groundAltitude;
        o.user.onGround = run.userOnGround;
        o.tracePath = m_root / "trace.jsonl";
        o.refusedTitles = run.refusedTitles;
        o.secondInterval = run.simulatorSecond;
        o.keepRequests = run.keepRequests;
        m_sim = std::make_unique<standin::SimulatorStandIn>(o);
        ASSERT_TRUE(m_sim->start());
        testing_support::writeWholeFile(
            m_root / "documents/SimConnect.cfg",
            "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(m_sim->portIPv4()) + "\n");
        m_programTimeScale = run.programTimeScale;
        startProgram();
    }

    // The program alone, against the running stand-ins (again after stopProgram: its folders stay).
    void startProgram() {
        std::map<std::string, std::string> env = m_programEnvironment;
        env.insert({
            {"XDG_CONFIG_HOME", (m_root / "config").string()},
            {"XDG_DOCUMENTS_DIR", (m_root / "documents").string()},
            {"XDG_PUBLICSHARE_DIR", (m_root / "public").string()},
            {"XDG_RUNTIME_DIR", (m_root / "runtime").string()},
            {"ZNTV_REGISTRY_DIR", (m_root / "registry").string()},
            {"ZNTV_UPDATE_URL", "http://127.0.0.1:" + m_servicePort + "/downloads/"},
            {"ZNTV_SERVICE_URL", "http://127.0.0.1:" + m_servicePort + "/v4/"},
            {"ZNTV_HEADLESS", "1"},
            {"ZNTV_HEADLESS_SCREEN", (m_root / "screen.txt").string()},
            {"ZNTV_TIME_SCALE", std::to_string(m_programTimeScale)}});
        m_program = std::make_unique<run_test::ChildProcess>(kProgram, std::vector<std::string>{},
                                                             m_root / "program", env, m_root / "program.out");
    }

    // Closes the program through its exit sequence (a signal, as the desktop does); true when it ended.
    bool stopProgram() {
        m_program->signal(SIGTERM);
        const bool ended = m_program->waitForExit(30s).has_value();
        m_program.reset();
        return ended;
    }

    // Waits for the condition as long as the program runs: a program that ended early fails at once.
    bool waitWhileRunning(std::chrono::milliseconds bound, const std::function<bool()>& condition) {
        return lf_waitFor(bound, [&] { return condition() || !m_program->running(); }) && condition();
    }

    std::optional<standin::ObjectState> aiObject(const std::string& atcId) const {
        for (const standin::ObjectState& o : m_sim->aiObjects())
            if (o.atcId == atcId) return o;
        return std::nullopt;
    }

    // Every session's requests of one kind, in the order received.
    template <typename T>
    std::vector<T> all(std::vector<T> standin::SessionView::*member) const {
        std::vector<T> result;
        for (const standin::SessionView& s : m_sim->sessions())
            result.insert(result.end(), (s.*member).begin(), (s.*member).end());
        return result;
    }

    std::string log() const { return testing_support::readWholeFile(m_root / "program/Log.txt"); }
    // The texts the program's window shows now, a line each.
    std::string screen() const { return testing_support::readWholeFile(m_root / "screen.txt"); }

    testing_support::TempDir m_dir;
    fs::path m_root = m_dir.path();
    std::unique_ptr<standin::SimulatorStandIn> m_sim;
    std::unique_ptr<run_test::ChildProcess> m_service;
    std::unique_ptr<run_test::ChildProcess> m_program;
    std::string m_servicePort;
    double m_programTimeScale = 0.05;
    // More of the program's environment (its simulator's drives, say): a child has no other of its variables.
    std::map<std::string, std::string> m_programEnvironment;
};

}  // namespace injection_test
