// An installed program folder, used as the README says: the install step of scripts/install into a fresh
// folder, then only what a user supplies (the service credential, the service address, SimConnect.cfg and the
// simulator's folders, its files on a Wine-style drive C:) and no update address. Everything else the program
// needs (airport list, aircraft database, registration codes, version file) must come with the installation.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "fixtures/simtree.h"
#include "standin.h"
#include "support/test_support.h"

namespace run_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

const fs::path kService = fs::path(ZNTV_BINARY_DIR) / "bin" / "zntv-service";

// A KLM 737 at 2500 ft a mile east of the user at Amsterdam, flying east at 200 kt for ten minutes.
nlohmann::json lf_scenario() {
    const auto point = [](double t) {
        return nlohmann::json{{"t", t},       {"lat", 52.3086},  {"lon", 4.79 + (t - 42) * 0.0000914},
                              {"alt", 2500},  {"gs", 200},       {"trk", 90},
                              {"vs", 0},      {"gnd", false}};
    };
    const nlohmann::json klm = {{"hex", "48c001"},   {"callsign", "KLM101"}, {"registration", "PH-Z11"},
                                {"type", "B738"},    {"airline", "KLM"},     {"origin", "AMS"},
                                {"destination", "LHR"}, {"flight", "KL101"}, {"category", "A3"},
                                {"track", nlohmann::json::array({point(0), point(600)})}};
    return {{"name", "installed"}, {"loop", false}, {"aircraft", nlohmann::json::array({klm})}};
}

// scripts/install builds and then runs this step.
void lf_install(const fs::path& root, const fs::path& program) {
    ChildProcess install(ZNTV_CMAKE_COMMAND, {"--install", ZNTV_BINARY_DIR, "--prefix", program.string()}, root, {},
                         root / "install.out");
    ASSERT_EQ(install.waitForExit(60s), 0) << readWholeFile(root / "install.out");
}

TEST(InstalledProgram, StartsAsInstalledAndCreatesTrafficWithoutAnUpdateAddress) {
    testing_support::TempDir dir;
    const fs::path root = dir.path();
    const fs::path program = root / "zntv";
    ASSERT_NO_FATAL_FAILURE(lf_install(root, program));

    // The simulator's machine: its installation with AI liveries for the scenario's aircraft, and its
    // configuration files on drive C:, reached through ZNTV_DOSDEVICES.
    const fs::path scenario = root / "scenario.json";
    writeWholeFile(scenario, lf_scenario().dump(1));
    const fs::path sim = root / "sim" / "Prepar3D v5";
    simtree::generate({.sim = sim, .appData = {}, .wine = root / "wine", .program = {}, .server = {}},
                      {.features = false,
                       .scenarios = {scenario},
                       .tables = fs::path(ZNTV_SOURCE_DIR) / "testbed" / "fixtures" / "database"});
    fs::create_directories(sim / "Scenery");

    // The service and the simulator.
    ChildProcess service(kService, {"--port", "0", "--scenario", scenario.string(), "--start-at", "60", "--time-scale", "0"},
                         root, {}, root / "service.out");
    std::string servicePort;
    ASSERT_TRUE(testing_support::waitFor(
        [&] {
            const std::string text = readWholeFile(root / "service.out");
            const auto line = text.find("port ");
            const auto end = text.find('\n', line);
            if (line == std::string::npos || end == std::string::npos) return false;
            servicePort = text.substr(line + 5, end - line - 5);
            return true;
        },
        30s));
    standin::Options o = standin::defaultOptions();
    o.tcpPort = 0;
    o.listenPipe = false;
    o.listenIPv6 = false;
    o.user.latitude = 52.3086;
    o.user.longitude = 4.7639;
    o.user.onGround = true;
    standin::SimulatorStandIn simulator(o);
    ASSERT_TRUE(simulator.start());

    // What the README asks of the user: the credential in the program folder, SimConnect.cfg in Documents,
    // the simulator's installation folder in the settings, and the service address.
    writeWholeFile(program / "RealTraffic.lic", "{\"License\":\"LIC-1\"}\n");
    fs::create_directories(root / "documents");
    writeWholeFile(root / "documents/SimConnect.cfg", "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" +
                                                          std::to_string(simulator.portIPv4()) + "\n");
    fs::create_directories(root / "config/ZNTV_P3D");
    writeWholeFile(root / "config/ZNTV_P3D/parameters.xml",
                   "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" value=\"" + sim.string() +
                       "\"/>\n</parameters>\n");
    fs::create_directories(root / "runtime");
    fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    const std::map<std::string, std::string> env = {
        {"XDG_CONFIG_HOME", (root / "config").string()},
        {"XDG_DOCUMENTS_DIR", (root / "documents").string()},
        {"XDG_PUBLICSHARE_DIR", (root / "public").string()},
        {"XDG_RUNTIME_DIR", (root / "runtime").string()},
        {"ZNTV_DOSDEVICES", (root / "wine").string()},
        {"ZNTV_SERVICE_URL", "http://127.0.0.1:" + servicePort + "/v4/"},
        {"ZNTV_UPDATE_URL", ""},
        {"ZNTV_HEADLESS", "1"},
        {"ZNTV_TIME_SCALE", "0.05"}};
    auto zntv = std::make_unique<ChildProcess>(program / "ZNTV_P3D", std::vector<std::string>{}, program, env,
                                               root / "program.out");
    const auto log = [&] { return readWholeFile(program / "Log.txt"); };
    const auto created = [&] {
        for (const standin::ObjectState& object : simulator.aiObjects())
            if (object.atcId == "KLM101") return true;
        return false;
    };
    EXPECT_TRUE(testing_support::waitFor([&] { return created() || !zntv->running(); }, 120s) && created()) << log();

    const std::string text = log();
    EXPECT_NE(text.find("Authenticated at RT server"), std::string::npos);
    for (const char* missing : {"Program Version file not found?", "AIG-regcodes.xml failed?", "downloading"})
        EXPECT_EQ(text.find(missing), std::string::npos) << missing;
    zntv->signal(SIGTERM);
    EXPECT_TRUE(zntv->waitForExit(30s).has_value());
    // ZNTV_E2E_KEEP=<folder> keeps the run's files for a look afterwards.
    if (const char* keep = std::getenv("ZNTV_E2E_KEEP")) {
        std::error_code ignored;
        fs::copy(root, keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ignored);
    }
}

// A fault the start-up goes on with, and the error it then ends on, which follows from it: the error says what
// the user can do now, and beneath it the window keeps naming the cause while the program waits for the user.
struct CauseBehindAnError {
    const char* name;
    std::string settings;  // parameters.xml; "{root}" stands for the test's folder
    std::string error;
    std::string cause;
    // parameters.xml not readable by the user the program runs as (another user's file with no rights for
    // anyone, as an edit under another account can leave it), in a settings folder that user may write or not;
    // the file's bytes must be in that folder under this name after the run.
    enum class Unreadable { no, inWritableFolder, inShutFolder } unreadable = Unreadable::no;
    const char* keptAs = nullptr;
};

void PrintTo(const CauseBehindAnError& c, std::ostream* os) { *os << c.name; }

const std::string kSettingsWithPath =
    "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" value=\"{root}/Prepar3D v5\"/>\n"
    "<parameter name=\"LATERAL_RANGE\" value=\"77\"/>\n</parameters>\n";

class CausesBehindErrors : public ::testing::TestWithParam<CauseBehindAnError> {};

TEST_P(CausesBehindErrors, StayInViewBeneathTheError) {
    testing_support::TempDir dir;
    const fs::path root = dir.path();
    const fs::path program = root / "zntv";
    ASSERT_NO_FATAL_FAILURE(lf_install(root, program));
    const auto filled = [&](std::string text) {
        for (auto at = text.find("{root}"); at != std::string::npos; at = text.find("{root}"))
            text.replace(at, 6, root.string());
        return text;
    };
    writeWholeFile(program / "RealTraffic.lic", "{\"License\":\"LIC-1\"}\n");
    for (const char* folder : {"config/ZNTV_P3D", "registry", "runtime", "documents", "public"})
        fs::create_directories(root / folder);
    fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    const fs::path settings = root / "config/ZNTV_P3D/parameters.xml";
    writeWholeFile(settings, filled(GetParam().settings));
    // The rights are enforced for the program: run as root (as CI does), it runs as another user, who owns
    // everything here but the settings file.
    using Unreadable = CauseBehindAnError::Unreadable;
    const std::optional<Account> account = unprivilegedAccount();
    if (GetParam().unreadable != Unreadable::no) {
        if (account && !testing_support::closedToOthers(root).empty())
            GTEST_SKIP() << "another user cannot reach " << root << " to run the program there";
        if (account) {
            handOver(root, *account);
            ASSERT_EQ(lchown(settings.c_str(), 0, 0), 0);
        }
        fs::permissions(settings, fs::perms::none);
        if (GetParam().unreadable == Unreadable::inShutFolder)
            fs::permissions(settings.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    auto env = testing_support::programFolders(root);
    env.insert({{"ZNTV_SERVICE_URL", "http://127.0.0.1:9/v4/"},
                {"ZNTV_UPDATE_URL", ""},
                {"ZNTV_HEADLESS", "1"},
                {"ZNTV_HEADLESS_SCREEN", (root / "screen.txt").string()},
                {"ZNTV_TIME_SCALE", "0.05"}});
    ChildProcess zntv(program / "ZNTV_P3D", {}, program, env, root / "program.out",
                      GetParam().unreadable == Unreadable::no ? std::nullopt : account);

    // The status line in the error's colours, yellow on red.
    const auto shownAsError = [&](const std::string& text) {
        std::istringstream screen(readWholeFile(root / "screen.txt"));
        for (std::string line; std::getline(screen, line);)
            if (line == text + "\t#ffff00 on #ff0000") return true;
        return false;
    };
    const std::string error = filled(GetParam().error);
    const std::string cause = filled(GetParam().cause);
    ASSERT_TRUE(testing_support::waitFor([&] { return shownAsError(error); }, 60s))
        << readWholeFile(root / "screen.txt") << readWholeFile(program / "Log.txt");
    EXPECT_TRUE(shownAsError(cause)) << readWholeFile(root / "screen.txt");
    EXPECT_TRUE(zntv.running());  // idle with both shown, until the user acts
    if (GetParam().unreadable == Unreadable::inShutFolder) {
        // The user mends the rights while the program runs on the defaults: its saves at the exit must not put
        // them into the file.
        fs::permissions(settings.parent_path(), static_cast<fs::perms>(0755));
        fs::permissions(settings, static_cast<fs::perms>(0644));
    }
    zntv.signal(SIGINT);
    EXPECT_EQ(zntv.waitForExit(30s), 0);
    if (GetParam().keptAs) {
        fs::permissions(settings.parent_path(), fs::perms::owner_all);
        const fs::path kept = settings.parent_path() / GetParam().keptAs;
        fs::permissions(kept, fs::perms::owner_read, fs::perm_options::add);
        EXPECT_EQ(readWholeFile(kept), filled(GetParam().settings)) << readWholeFile(program / "Log.txt");
    }
}

INSTANTIATE_TEST_SUITE_P(
    InstalledProgram, CausesBehindErrors,
    ::testing::Values(
        // No liveries can be found in a simulator folder that is not there.
        CauseBehindAnError{"InstallPathMissing",
                           "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" "
                           "value=\"{root}/Prepar3D v5 typo\"/>\n</parameters>\n",
                           "43: Automatic scan has not found any liveries, switch off automatic and set lfolder "
                           "parameter(-s), Manual 5.1",
                           "This install path does not exist: {root}/Prepar3D v5 typo; its liveries and add-on "
                           "airports not read. Type the full Install Path, press Enter"},
        // A file named as the simulator's folder: the settings file itself, a file every run has.
        CauseBehindAnError{"InstallPathIsAFile",
                           "<?xml version=\"1.0\"?>\n<parameters>\n<parameter name=\"SIM_INSTALL_PATH\" "
                           "value=\"{root}/config/ZNTV_P3D/parameters.xml\"/>\n</parameters>\n",
                           "43: Automatic scan has not found any liveries, switch off automatic and set lfolder "
                           "parameter(-s), Manual 5.1",
                           "This install path is a file, not a folder: {root}/config/ZNTV_P3D/parameters.xml; "
                           "nothing read from it. Type the simulator's folder above, press Enter"},
        // The install path went with the settings that could not be read.
        CauseBehindAnError{"SettingsNotXml", "not xml at all",
                           "151: No P3D install path detected, type full Install Path above, and press Enter",
                           "parameters.xml could not be read: kept as \"{root}/config/ZNTV_P3D/parameters0.xml\", "
                           "defaults taken"},
        // A file the program may not read is moved aside (a rename needs no right to read it); one that cannot be
        // moved either is left alone.
        CauseBehindAnError{"SettingsNotReadable", kSettingsWithPath,
                           "151: No P3D install path detected, type full Install Path above, and press Enter",
                           "parameters.xml could not be read: kept as \"{root}/config/ZNTV_P3D/parameters0.xml\", "
                           "defaults taken",
                           CauseBehindAnError::Unreadable::inWritableFolder, "parameters0.xml"},
        CauseBehindAnError{"SettingsNotReadableInAShutFolder", kSettingsWithPath,
                           "151: No P3D install path detected, type full Install Path above, and press Enter",
                           "parameters.xml could not be read nor kept (rename: Permission denied: "
                           "\"{root}/config/ZNTV_P3D/parameters.xml\"), defaults taken; settings are not saved until "
                           "the program starts again and reads it",
                           CauseBehindAnError::Unreadable::inShutFolder, "parameters.xml"}),
    [](const ::testing::TestParamInfo<CauseBehindAnError>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace run_test
