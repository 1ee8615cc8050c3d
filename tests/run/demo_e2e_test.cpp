// scripts/demo as a user starts it, in a checkout of its own whose build is made already: a temporary folder
// with the script, this build's programs and data and the fixtures, where installing and building have
// nothing to do. The demo lays out build/demo there and runs the stand-ins and the program, headless.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "frame/entry.h"
#include "platform/single_instance.h"
#include "support/test_support.h"

namespace run_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

class Demo : public ::testing::Test {
protected:
    Demo() {
        fs::create_directories(m_root / "scripts");
        fs::create_directories(m_root / "build");
        fs::create_symlink(fs::path(ZNTV_SOURCE_DIR) / "scripts" / "demo", m_root / "scripts" / "demo");
        for (const char* step : {"setup", "build"}) {
            writeWholeFile(m_root / "scripts" / step, "#!/bin/sh\n");
            fs::permissions(m_root / "scripts" / step, fs::perms::owner_exec, fs::perm_options::add);
        }
        for (const char* made : {"bin", "dbase", "input", "scenarios", "server"})
            fs::create_directory_symlink(fs::path(ZNTV_BINARY_DIR) / made, m_root / "build" / made);
        fs::create_directory_symlink(fs::path(ZNTV_SOURCE_DIR) / "testbed", m_root / "testbed");
    }
    // A demo that still runs closes as on a TERM, with its stand-ins; a kill would leave them running. It gives
    // its program 70 s at most.
    ~Demo() override {
        for (auto& demo : m_demos) {
            if (!demo->running()) continue;
            demo->signal(SIGTERM);
            demo->waitForExit(90s);
        }
        endProcessesOfTheDemo();
    }

    ChildProcess& start(const std::string& name, const Terminal* terminal = nullptr) {
        return *m_demos.emplace_back(std::make_unique<ChildProcess>(
            m_root / "scripts" / "demo", std::vector<std::string>{}, m_root,
            std::map<std::string, std::string>{{"ZNTV_HEADLESS", "1"}}, m_root / (name + ".out"), std::nullopt,
            terminal));
    }
    std::string output(const std::string& name) const { return readWholeFile(m_root / (name + ".out")); }
    fs::path demoFolder() const { return m_root / "build" / "demo"; }
    std::string log() const { return readWholeFile(demoFolder() / "Log.txt"); }

    // The program or stand-in of this build's bin/ under `name` is started by a script that runs `prelude` first
    // (with the built program in "$real"); the demo finds the rest of bin/ as it is.
    void wrap(const std::string& name, const std::string& prelude) {
        const fs::path bin = m_root / "build" / "bin";
        const fs::path built = fs::path(ZNTV_BINARY_DIR) / "bin";
        if (fs::is_symlink(bin)) {
            fs::remove(bin);
            fs::create_directory(bin);
            for (const auto& entry : fs::directory_iterator(built))
                fs::create_symlink(entry.path(), bin / entry.path().filename());
        }
        fs::remove(bin / name);
        writeWholeFile(bin / name, "#!/bin/sh\nreal=\"" + (built / name).string() + "\"\n" + prelude +
                                       "\nexec \"$real\" \"$@\"\n");
        fs::permissions(bin / name, fs::perms::owner_exec, fs::perm_options::add);
    }

    // The processes that run in the test's folder or name it, as the demo's all do (the program, the stand-ins,
    // the log's echo): each "pid command line". Those found are ended, so that no test leaves them running.
    std::vector<std::string> endProcessesOfTheDemo() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string pid = entry.path().filename().string();
            if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
            std::string command = readWholeFile(entry.path() / "cmdline");
            std::replace(command.begin(), command.end(), '\0', ' ');
            std::error_code ec;
            const std::string cwd = fs::read_symlink(entry.path() / "cwd", ec).string();
            if (command.find(m_root.string()) == std::string::npos && !cwd.starts_with(m_root.string())) continue;
            found.push_back(pid + " " + command);
            kill(std::stoi(pid), SIGKILL);
        }
        return found;
    }

    testing_support::TempDir m_dir;
    const fs::path m_root = m_dir.path();
    std::vector<std::unique_ptr<ChildProcess>> m_demos;
};

TEST_F(Demo, ASecondDemoLeavesTheRunningOneAloneAndFails) {
    ChildProcess& first = start("first");
    // Under a sanitizer on two cores that other test runs share, the stand-ins alone have taken over a minute.
    ASSERT_TRUE(testing_support::waitFor([&] { return output("first").find("ZNTV_P3D runs") != std::string::npos; },
                                         150s))
        << output("first");
    // The first's trace is the file its simulator writes, not only one at that path.
    const fs::path trace = demoFolder() / "simulator-trace.jsonl";
    fs::create_hard_link(trace, m_root / "first-trace");
    const fs::path pointers[] = {demoFolder() / "home/Documents/SimConnect.cfg", demoFolder() / "run/simulator.port"};
    std::map<fs::path, std::string> before;
    for (const fs::path& file : pointers) before[file] = readWholeFile(file);
    // Each frame's positions go out at once: with Nagle's algorithm on, they reach the simulator a frame late in
    // runs of frames wherever a request of the work thread's falls between two frames.
    EXPECT_NE(before[pointers[0]].find("DisableNagle=1"), std::string::npos) << before[pointers[0]];

    ChildProcess& second = start("second");
    const auto status = second.waitForExit(60s);
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_NE(output("second").find("a demo runs"), std::string::npos) << output("second");
    EXPECT_TRUE(fs::exists(trace) && fs::equivalent(trace, m_root / "first-trace"));
    for (const fs::path& file : pointers) EXPECT_EQ(readWholeFile(file), before[file]) << file;
    EXPECT_TRUE(first.running());
}

// Ctrl-C pressed twice in the terminal (the script's whole process group, half a second apart), a SIGINT to the
// script alone, as a supervisor sends it, and the terminal closed: the program is asked to close once and closes
// through its exit sequence while its service and simulator still answer; the script ends after it with the
// status of the signal and leaves nothing running. A request at the program's very first moment waits for the
// program to take it: here the program is 3 s slow after its exec, before its main, as on a loaded machine.
enum class Request { ctrlCTwice, toTheScript, terminalClosed };

struct Interruption {
    const char* name;
    Request request;
    const char* programPrelude;  // what runs before the program; none: it starts at once
    int status;
    std::vector<const char*> closing;  // in the program's log
};

void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

class DemoInterrupted : public Demo, public ::testing::WithParamInterface<Interruption> {};

TEST_P(DemoInterrupted, TheProgramClosesBeforeItsStandInsAndNothingOutlivesTheScript) {
    const Interruption& how = GetParam();
    if (*how.programPrelude != '\0') wrap("ZNTV_P3D", how.programPrelude);
    std::optional<Terminal> terminal;
    if (how.request == Request::terminalClosed) terminal.emplace(m_root / "demo.out");
    ChildProcess& demo = start("demo", terminal ? &*terminal : nullptr);
    if (*how.programPrelude != '\0')
        ASSERT_TRUE(testing_support::waitFor(
            [&] { return output("demo").find("ZNTV_P3D runs") != std::string::npos; }, 240s))
            << output("demo");
    else
        ASSERT_TRUE(testing_support::waitFor(
            [&] { return log().find("Authenticated at RT server") != std::string::npos; }, 240s))
            << output("demo") << log();
    switch (how.request) {
        case Request::ctrlCTwice:
            demo.signalGroup(SIGINT);
            std::this_thread::sleep_for(500ms);
            demo.signalGroup(SIGINT);
            break;
        case Request::toTheScript: demo.signal(SIGINT); break;
        case Request::terminalClosed: terminal->hangUp(); break;
    }
    const auto status = demo.waitForExit(120s);
    const std::vector<std::string> left = endProcessesOfTheDemo();
    EXPECT_EQ(status, how.status) << output("demo");
    EXPECT_EQ(left, std::vector<std::string>{});
    const std::string text = log();
    for (const char* closing : how.closing) EXPECT_NE(text.find(closing), std::string::npos) << closing << "\n" << text;
}

const char* const kSlowAfterItsExec = "export LD_PRELOAD=\"" ZNTV_SLOW_START_LIBRARY "\"";

const std::vector<const char*> kLoggedOut = {"signal 2 received", "Deauthenticated RT server",
                                             "Exiting: USER CLOSED SIM"};

INSTANTIATE_TEST_SUITE_P(
    Demo, DemoInterrupted,
    ::testing::Values(Interruption{"CtrlCTwice", Request::ctrlCTwice, "", 130, kLoggedOut},
                      Interruption{"SigintToTheScriptAlone", Request::toTheScript, "", 130, kLoggedOut},
                      Interruption{"TerminalClosed", Request::terminalClosed, "", 129, kLoggedOut},
                      Interruption{"SigintAsASlowProgramStarts", Request::toTheScript, kSlowAfterItsExec, 130,
                                   {"signal 2 received", "Exiting: USER CLOSED SIM"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A SIGINT to the script alone, at any moment from its first line through the stand-ins coming up and the
// program's first seconds, is heard: the script ends with 130 (before it has started anything it may die of
// the signal, which its parent sees as 130 too), a program that ran was asked to close, and nothing is left.
struct Moment {
    const char* after;  // the output that shows first; none: from the start
    std::chrono::milliseconds delay;
};

TEST_F(Demo, ASigintToTheScriptAtAnyMomentOfItsStartIsHeard) {
    const Moment moments[] = {{nullptr, 0ms},
                              {nullptr, 20ms},
                              {nullptr, 60ms},
                              {nullptr, 150ms},
                              {nullptr, 400ms},
                              {"demo: update server", 0ms},
                              {"demo: update server", 30ms},
                              {"demo: simulator stand-in", 0ms},
                              {"ZNTV_P3D runs", 0ms},
                              {"ZNTV_P3D runs", 300ms},
                              {"ZNTV_P3D runs", 2s}};
    int run = 0;
    for (const Moment& moment : moments) {
        const std::string name = "demo" + std::to_string(run++);
        const std::string when = std::string(moment.after ? moment.after : "the start") + " + " +
                                 std::to_string(moment.delay.count()) + " ms";
        ChildProcess& demo = start(name);
        if (moment.after != nullptr) {
            ASSERT_TRUE(testing_support::waitFor(
                [&] { return output(name).find(moment.after) != std::string::npos; }, 240s))
                << when << "\n" << output(name);
        }
        std::this_thread::sleep_for(moment.delay);
        demo.signal(SIGINT);
        const auto status = demo.waitForExit(120s);
        EXPECT_EQ(status, 130) << when << "\n" << output(name);
        EXPECT_EQ(endProcessesOfTheDemo(), std::vector<std::string>{}) << when;
        if (output(name).find("ZNTV_P3D runs") != std::string::npos) {
            EXPECT_NE(log().find("signal 2 received"), std::string::npos) << when << "\n" << log();
        }
        if (HasFailure()) return;
    }
}

// Stand-ins slow to start on a loaded machine are waited for; one that ends at its start ends the demo, named
// with its error output, and the demo never goes on without its port.
struct StandInStart {
    const char* name;
    std::vector<std::pair<std::string, std::string>> wrapped;  // stand-in, what runs before it
    std::vector<std::string> told;  // in the demo's output when it ends with 1; none: the program runs
};

void PrintTo(const StandInStart& c, std::ostream* os) { *os << c.name; }

class DemoStandInStart : public Demo, public ::testing::WithParamInterface<StandInStart> {};

TEST_P(DemoStandInStart, WaitsForItsStandInsAsLongAsTheyLive) {
    for (const auto& [name, prelude] : GetParam().wrapped) wrap(name, prelude);
    ChildProcess& demo = start("demo");
    if (GetParam().told.empty()) {
        ASSERT_TRUE(testing_support::waitFor(
            [&] { return output("demo").find("ZNTV_P3D runs") != std::string::npos || !demo.running(); }, 240s));
        EXPECT_NE(output("demo").find("ZNTV_P3D runs"), std::string::npos) << output("demo");
        return;
    }
    EXPECT_EQ(demo.waitForExit(240s), 1);
    for (const std::string& told : GetParam().told)
        EXPECT_NE(output("demo").find(told), std::string::npos) << told << "\n" << output("demo");
    EXPECT_EQ(output("demo").find("ZNTV_P3D runs"), std::string::npos) << output("demo");
    EXPECT_EQ(endProcessesOfTheDemo(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Demo, DemoStandInStart,
    ::testing::Values(
        StandInStart{"SlowToStart", {{"zntv-service", "sleep 15"}, {"zntv-simulator", "sleep 15"}}, {}},
        StandInStart{"SimulatorEndsAtItsStart",
                     {{"zntv-simulator", "echo 'zntv-simulator: no port to listen on' >&2; exit 3"}},
                     {"demo: zntv-simulator ended with 3 before it gave its port; its error output",
                      "zntv-simulator: no port to listen on"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A test program started as a script's background job has SIGINT and SIGQUIT ignored, and a shell cannot trap a
// signal ignored at its start: the demo is started with both at their defaults, so that it can be interrupted.
TEST(ChildProcessStart, InterruptAndQuitAreAtTheirDefaults) {
    testing_support::TempDir dir;
    struct sigaction ignore {}, oldInterrupt{}, oldQuit{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &oldInterrupt);
    sigaction(SIGQUIT, &ignore, &oldQuit);
    ChildProcess cat("/bin/cat", {"/proc/self/status"}, dir.path(), {}, dir / "status");
    sigaction(SIGINT, &oldInterrupt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    ASSERT_EQ(cat.waitForExit(10s), 0);
    const std::string status = readWholeFile(dir / "status");
    const auto at = status.find("SigIgn:");
    ASSERT_NE(at, std::string::npos) << status;
    EXPECT_EQ(std::stoull(status.substr(at + 7), nullptr, 16) & 0x6, 0u) << status.substr(at, 25);
}

// The demo's status is the program's: here it finds another instance in the demo's folder and ends with 255.
TEST_F(Demo, EndsWithTheProgramsStatus) {
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", (demoFolder() / "run").string());
    const platform::SingleInstance other(kInstanceMutexName);
    ASSERT_FALSE(other.alreadyExists());
    EXPECT_EQ(start("demo").waitForExit(60s), 255) << output("demo");
}

}  // namespace
}  // namespace run_test
