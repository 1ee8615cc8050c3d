// The program itself, build/bin/ZNTV_P3D, run headless in a program folder of its own with the simulator
// stand-in as a process beside it: one instance only, the "docs" check, closing by signal, the end of a run
// when the simulator goes away, and the ends through an error (a service that cannot be used, an "output"
// folder that cannot be written) with what the error line says and the exit status. Waits are scaled with
// ZNTV_TIME_SCALE.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>

#include <chrono>
#include <functional>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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
        writeSettings({{"SCAN_LIVERIES", "false"}});
        fs::create_directories(m_root / "program/output");
        writeWholeFile(m_root / "program/output/LiveriesScanned.xml",
                       "<?xml version=\"1.0\"?>\n<meta><info name=\"author\" value=\"ZNTV\"/><info name=\"date\" "
                       "value=\"2026-12-07\"/><info name=\"version\" value=\"10.10.4\"/></meta>\n"
                       "<liveries><liv airl=\"SWR\" type=\"A320\" title=\"Test A320\"/></liveries>\n");
        // The user's service credential, as the traffic service's own app leaves it beside the program.
        writeWholeFile(m_root / "program/RealTraffic.lic", "{\"License\":\"LIC-1\"}\n");
    }

    // parameters.xml with the simulator's folder (or another install path) and these settings.
    void writeSettings(const std::map<std::string, std::string>& settings, std::string installPath = {}) {
        if (installPath.empty()) installPath = (m_root / "sim/Prepar3D v5").string();
        std::string text = "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" value=\"" +
                           installPath + "\"/>\n";
        for (const auto& [name, value] : settings)
            text += "<parameter name=\"" + name + "\" value=\"" + value + "\"/>\n";
        writeWholeFile(m_root / "config/ZNTV_P3D/parameters.xml", text + "</parameters>\n");
    }

    // The live-traffic service and update server stand-in as a process, playing the synthetic scenario and
    // serving the database; the program finds it through ZNTV_SERVICE_URL and ZNTV_UPDATE_URL.
    void startService(const std::vector<std::string>& extra = {}) {
        const fs::path out = m_root / "service.out";
        std::vector<std::string> arguments{"--port",  "0", "--scenario", kScenario.string(),
                                           "--loop",  "--dbase", kDatabase.string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        m_service = std::make_unique<ChildProcess>(kService, arguments, m_root, environment(), out);
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
                    {"ZNTV_HEADLESS_SCREEN", (m_root / "screen.txt").string()},
                    {"ZNTV_TIME_SCALE", "0.05"}});
        return env;
    }

    // The simulator stand-in as a process with a flight running at Amsterdam, found through SimConnect.cfg.
    std::unique_ptr<ChildProcess> startSimulator() {
        const fs::path portFile = m_root / "sim.port";
        auto simulator = std::make_unique<ChildProcess>(
            kSimulator,
            std::vector<std::string>{"--port", "0", "--no-pipe", "--no-ipv6", "--port-file", portFile.string(),
                                     "--user-lat", "52.3086", "--user-lon", "4.7639"},
            m_root, environment(), m_root / "simulator.out");
        EXPECT_TRUE(lf_waitFor([&] { return fs::exists(portFile); }));
        const std::string port = readWholeFile(portFile).substr(0, readWholeFile(portFile).find('\n'));
        writeWholeFile(m_root / "documents/SimConnect.cfg",
                       "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + port + "\n");
        return simulator;
    }

    std::unique_ptr<ChildProcess> startProgram(const fs::path& folder, const std::string& name) {
        return std::make_unique<ChildProcess>(kProgram, std::vector<std::string>{}, folder, environment(),
                                              m_root / (name + ".out"));
    }

    fs::path program() const { return m_root / "program"; }
    // The screen's line that shows `text`, with its colours after a tab; empty when none does.
    std::string shownLine(const std::string& text) const {
        std::istringstream in(readWholeFile(m_root / "screen.txt"));
        for (std::string line; std::getline(in, line);)
            if (line.find(text) != std::string::npos) return line;
        return {};
    }
    // The status line shows `text` in the error's colours (yellow on red).
    bool shownAsError(const std::string& text) const { return shownLine(text).ends_with(kErrorColours); }
    static constexpr const char* kErrorColours = "\t#ffff00 on #ff0000";
    static constexpr const char* kMessageColours = "\t#ffff00 on #32cd32";
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

// A folder that is no program folder: the program says so and writes nothing there, not even its log.
struct NoProgramFolder {
    const char* name;
    std::vector<std::string> folders, files;  // what the folder holds
};

void PrintTo(const NoProgramFolder& c, std::ostream* os) { *os << c.name; }

class NoProgramFolders : public Program, public ::testing::WithParamInterface<NoProgramFolder> {};

TEST_P(NoProgramFolders, ShowUserError41AndGetNothingWritten) {
    const fs::path elsewhere = m_root / "elsewhere";
    fs::create_directories(elsewhere);
    for (const std::string& folder : GetParam().folders) fs::create_directories(elsewhere / folder);
    for (const std::string& file : GetParam().files) writeWholeFile(elsewhere / file, "as it was\n");
    const auto contents = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(elsewhere))
            names.insert(fs::relative(entry.path(), elsewhere).string());
        return names;
    };
    const std::set<std::string> before = contents();

    auto p = startProgram(elsewhere, "elsewhere");
    const std::string error41 = "41: ZNTV_P3D must be run from the ZNTV_P3D folder!";
    ASSERT_TRUE(lf_waitFor([&] { return shownAsError(error41); })) << readWholeFile(m_root / "screen.txt");
    EXPECT_NE(readWholeFile(m_root / "elsewhere.out").find(error41), std::string::npos);
    EXPECT_TRUE(p->running());  // idle with the error shown, until closed
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitForExit(30s), 0);
    EXPECT_EQ(contents(), before);
}

INSTANTIATE_TEST_SUITE_P(
    WorkingFolder, NoProgramFolders,
    ::testing::Values(NoProgramFolder{"WithoutDocs", {"input"}, {}},
                      // Named as an interrupted save leaves its file, yet someone's own here: it stays.
                      NoProgramFolder{"WithAFileNamedAsASaveLeftover", {"input"}, {"notes.txt.0123abcd.tmp"}},
                      // The program's own source, started as build/bin/ZNTV_P3D from the checkout's root.
                      NoProgramFolder{"SourceCheckout", {"docs", "src", "build/bin"},
                                      {"CMakeLists.txt", "README.md"}}),
    [](const ::testing::TestParamInfo<NoProgramFolder>& info) { return std::string(info.param.name); });

TEST_F(Program, TheRunEndsByItselfWhenTheSimulatorGoesAway) {
    startService();
    auto simulatorProcess = startSimulator();
    ChildProcess& simulator = *simulatorProcess;

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

// An install path that names no folder: typed wrong, or on a drive that is not there. The run goes on without
// the liveries and add-on airports in the simulator's folder, and the status line says so in the error's
// colours all along, over the messages of the start-up; the log keeps its own line about the stock airports.
struct MissingInstallFolder {
    const char* name;
    const char* path;  // "{root}" stands for the test's folder
};

void PrintTo(const MissingInstallFolder& c, std::ostream* os) { *os << c.name; }

class MissingInstallFolders : public Program, public ::testing::WithParamInterface<MissingInstallFolder> {};

TEST_P(MissingInstallFolders, AreARedLineWhileTheRunGoesOn) {
    std::string path = GetParam().path;
    if (const auto at = path.find("{root}"); at != std::string::npos) path.replace(at, 6, m_root.string());
    writeSettings({{"SCAN_LIVERIES", "false"}}, path);
    startService();
    auto simulator = startSimulator();
    auto p = startProgram(program(), "program");

    const std::string expected = "This install path does not exist: " + path +
                                 "; its liveries and add-on airports not read. Type the full Install Path, press Enter";
    ASSERT_TRUE(lf_waitFor([&] { return shownAsError(expected); })) << readWholeFile(m_root / "screen.txt");
    EXPECT_TRUE(logHas(program(), "Stock airports path does not exist: ")) << log(program());
    // The run goes on to the work loop, and the line stays over whatever the start-up said meanwhile.
    ASSERT_TRUE(lf_waitFor([&] { return logHas(program(), "Authenticated at RT server"); })) << log(program());
    ASSERT_TRUE(lf_waitFor([&] { return logHas(program(), "No traffic in this region?"); }, 60s)) << log(program());
    EXPECT_TRUE(p->running());
    EXPECT_TRUE(shownAsError(expected)) << readWholeFile(m_root / "screen.txt");
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitForExit(30s), 0);
}

INSTANTIATE_TEST_SUITE_P(
    InstallPath, MissingInstallFolders,
    ::testing::Values(MissingInstallFolder{"TypedWrong", "{root}/Prepar3D v5 typo"},
                      MissingInstallFolder{"DriveNotMounted", "Q:\\Lockheed Martin\\Prepar3D v5"}),
    [](const ::testing::TestParamInfo<MissingInstallFolder>& info) { return std::string(info.param.name); });

// A file system mounted over a folder of the test, unmounted at the end of the scope; mounted() is false
// where this user may not mount (the test then skips).
class ScopedMount {
public:
    ScopedMount(const fs::path& folder, const std::string& options) : m_folder(folder) {
        m_mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~ScopedMount() {
        if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
    }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    bool mounted() const { return m_mounted; }
    bool makeReadOnly() const {
        return ::mount(nullptr, m_folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    fs::path m_folder;
    bool m_mounted = false;
};

// An "output" folder the program cannot write, on a file system of its own: read-only, or full. The start-up
// scans the liveries (one package in a folder of the user's) and ends on the first file it cannot write, with
// the file and the system's reason on the error line.
struct UnwritableOutput {
    const char* name;
    bool readOnly;  // else full
    const char* message;
};

void PrintTo(const UnwritableOutput& c, std::ostream* os) { *os << c.name; }

class UnwritableOutputs : public Program, public ::testing::WithParamInterface<UnwritableOutput> {};

TEST_P(UnwritableOutputs, EndTheStartUpWithTheFileAndTheReasonAndAFailureStatus) {
    const UnwritableOutput& c = GetParam();
    const fs::path output = program() / "output";
    fs::remove_all(output);
    fs::create_directories(output);
    ScopedMount mount(output, "size=64k");
    if (!mount.mounted()) GTEST_SKIP() << "this user may not mount a file system";
    fs::create_directories(output / "info");
    fs::create_directories(output / "errors");
    if (c.readOnly) {
        ASSERT_TRUE(mount.makeReadOnly());
    } else {
        std::ofstream filler(output / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
        }
    }
    const fs::path liveries = m_root / "liveries" / "Test A320";
    fs::create_directories(liveries / "model");
    fs::create_directories(liveries / "texture.1");
    writeWholeFile(liveries / "A320.air", "air");
    writeWholeFile(liveries / "aircraft.cfg", "[General]\r\natc_model=A320\r\n[fltsim.0]\r\ntitle=Test A320\r\n"
                                              "sim=A320\r\ntexture=1\r\natc_parking_codes=SWR\r\n");
    writeSettings(
        {{"SCAN_LIVERIES", "true"}, {"LIG_AUTOMATIC", "false"}, {"lfolder0", (m_root / "liveries").string()}});
    startService();
    auto p = startProgram(program(), "program");

    EXPECT_EQ(p->waitForExit(60s), 1);
    // The log names the function the start-up failed in; the user is told only what failed.
    EXPECT_TRUE(logHas(program(), std::string("lf_startUpZNTV: ") + c.message + "\n")) << log(program());
    EXPECT_TRUE(logHas(program(), std::string("Error ") + c.message + "\n")) << log(program());
    EXPECT_TRUE(shownAsError(c.message)) << readWholeFile(m_root / "screen.txt");
    EXPECT_EQ(readWholeFile(m_root / "screen.txt").find("lf_"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Output, UnwritableOutputs,
    ::testing::Values(UnwritableOutput{"ReadOnly", true,
                                       "output/LiveriesScanned.xml could not be written: Read-only file system"},
                      UnwritableOutput{"Full", false,
                                       "output/LiveriesScanned.xml could not be written: No space left on device"}),
    [](const ::testing::TestParamInfo<UnwritableOutput>& info) { return std::string(info.param.name); });

// A service that cannot be used: how the address is given, the fault of the stand-in at that address, and
// what the window's error line then says after the system's own "Reader error"; or a licence the service turns
// away, which the user must mend: its user error on the error line, with the licence file, and the program
// stays open. Either way the failure is on the error line from the moment it is known, never first in the
// message colour, and stays there.
struct ServiceFailure {
    const char* name;
    enum { Unset, NothingListening, StandIn } address;
    const char* fault;
    const char* cause;
    const char* userError = nullptr;  // the whole line; the run does not end
};

void PrintTo(const ServiceFailure& c, std::ostream* os) { *os << c.name; }

class ServiceFailures : public Program, public ::testing::WithParamInterface<ServiceFailure> {};

TEST_P(ServiceFailures, ShowTheAddressAndTheCauseOnTheErrorLineFromTheStart) {
    const ServiceFailure& c = GetParam();
    // The stand-in serves the downloads in every case (the database among them); only the service address
    // differs.
    startService(c.address == ServiceFailure::StandIn ? std::vector<std::string>{"--service-fault", c.fault}
                                                      : std::vector<std::string>{});
    if (c.address == ServiceFailure::Unset) m_serviceUrl.clear();  // the address the program is built with
    if (c.address == ServiceFailure::NothingListening) m_serviceUrl = "http://127.0.0.1:9/v4/";
    const std::string address =
        c.address == ServiceFailure::Unset ? "https://rtapi.zentavo.example.net/v4/" : m_serviceUrl;
    auto simulator = startSimulator();
    auto p = startProgram(program(), "program");

    // Every message the status line shows meanwhile, as often as the test can look.
    std::set<std::string> messages;
    const auto look = [&] {
        std::istringstream in(readWholeFile(m_root / "screen.txt"));
        for (std::string line; std::getline(in, line);)
            if (line.ends_with(kMessageColours)) messages.insert(line);
    };
    const auto watchUntil = [&](const std::function<bool()>& done, std::chrono::milliseconds bound) {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < end) {
            look();
            if (done()) return true;
            std::this_thread::sleep_for(2ms);
        }
        return done();
    };

    std::string expected;
    if (c.userError == nullptr) {
        ASSERT_TRUE(watchUntil([&] { return !p->running(); }, 60s));
        EXPECT_EQ(p->waitForExit(1s), 1);
        expected = "Reader error: RT login at " + address + "auth " + c.cause;
        EXPECT_TRUE(logHas(program(), "Error " + expected + "\n")) << log(program());
        EXPECT_FALSE(logHas(program(), "Reader connected"));
        EXPECT_TRUE(logHas(program(), "Exiting: SYSTEM ERROR"));
    } else {
        expected = c.userError;
        // Past the pause in which the user reads it, the start-up has given up and the program waits, open.
        ASSERT_TRUE(watchUntil([&] { return logHas(program(), "Error " + expected + "\n"); }, 60s))
            << log(program());
        std::this_thread::sleep_for(1s);
        EXPECT_TRUE(p->running());
        EXPECT_FALSE(logHas(program(), "Exiting:"));
    }
    // The log has the error before the window has painted it: the screen is waited for, not a time.
    EXPECT_TRUE(watchUntil([&] { return shownAsError(expected); }, 30s)) << readWholeFile(m_root / "screen.txt");
    for (const std::string& line : messages) {
        EXPECT_EQ(line.find("error"), std::string::npos) << line;
        EXPECT_EQ(line.find("license"), std::string::npos) << line;
    }
    if (p->running()) {
        p->signal(SIGTERM);
        EXPECT_EQ(p->waitForExit(30s), 0);
        EXPECT_TRUE(shownAsError(expected)) << readWholeFile(m_root / "screen.txt");  // until the window closed
    }
}

INSTANTIATE_TEST_SUITE_P(
    Login, ServiceFailures,
    ::testing::Values(
        ServiceFailure{"AddressUnset", ServiceFailure::Unset, "", "failed: Couldn't resolve host name"},
        ServiceFailure{"NothingListening", ServiceFailure::NothingListening, "", "failed: Couldn't connect to server"},
        ServiceFailure{"Refused401", ServiceFailure::StandIn, "auth=401",
                       "refused, status: 401 (license file \"RealTraffic.lic\")"},
        ServiceFailure{"BrokenReply", ServiceFailure::StandIn, "auth=brokenjson", "gave no login reply"},
        ServiceFailure{"Expired402", ServiceFailure::StandIn, "auth=402", "",
                       "402: Your RT license is expired (license file \"RealTraffic.lic\")"}),
    [](const ::testing::TestParamInfo<ServiceFailure>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace run_test
