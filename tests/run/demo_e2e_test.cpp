// scripts/demo as a user starts it, in a checkout of its own whose build is made already: a temporary folder
// with the script, this build's programs and data and the fixtures, where installing and building have
// nothing to do. The demo lays out build/demo there and runs the stand-ins and the program, headless.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

    ChildProcess& start(const std::string& name, const Terminal* terminal = nullptr,
                        std::map<std::string, std::string> environment = {}) {
        return startIn(name, m_root / "scripts" / "demo", {}, std::move(environment), terminal);
    }
    ChildProcess& startIn(const std::string& name, const fs::path& program, std::vector<std::string> arguments,
                          std::map<std::string, std::string> environment, const Terminal* terminal = nullptr) {
        environment.emplace("ZNTV_HEADLESS", "1");
        return *m_demos.emplace_back(std::make_unique<ChildProcess>(program, std::move(arguments), m_root,
                                                                    environment, m_root / (name + ".out"),
                                                                    std::nullopt, terminal));
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
        std::vector<std::string> found = processesOfTheDemo();
        for (const std::string& process : found) kill(std::stoi(process), SIGKILL);
        return found;
    }
    std::vector<std::string> processesOfTheDemo() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string pid = entry.path().filename().string();
            if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
            std::string command = readWholeFile(entry.path() / "cmdline");
            std::replace(command.begin(), command.end(), '\0', ' ');
            std::error_code ec;
            const std::string cwd = fs::read_symlink(entry.path() / "cwd", ec).string();
            if (command.empty()) continue;  // a zombie, or gone meanwhile
            if (command.find(m_root.string()) == std::string::npos && !cwd.starts_with(m_root.string())) continue;
            found.push_back(pid + " " + command);
        }
        return found;
    }
    // The pid of the demo's process whose command starts with this program of bin/.
    std::optional<pid_t> pidOf(const std::string& program) const {
        const std::string command = (m_root / "build" / "bin" / program).string() + " ";
        for (const std::string& process : processesOfTheDemo()) {
            const auto space = process.find(' ');
            if (process.compare(space + 1, command.size(), command) == 0) return std::stoi(process.substr(0, space));
        }
        return std::nullopt;
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
// script alone, as a supervisor sends it, the terminal closed and Ctrl-\: the program is asked to close once and
// closes through its exit sequence while its service and simulator still answer; the script ends after it by the
// signal and leaves nothing running. A request at the program's very first moment waits for the program to take
// it: here the program is 3 s slow after its exec, before its main, as on a loaded machine, and in one row also
// slow after each thread it starts, so that its signal thread runs before the program goes on. A stand-in that
// ends meanwhile is told, and the program runs on; one that does not close in the time it is given is ended.
// Run by a shell, the demo ends by the signal, so that a loop of demos stops with it; piped into a reader that
// goes away after the first line, it runs on.
enum class Request { ctrlC, ctrlCTwice, toTheScript, terminalClosed, quit };

struct Interruption {
    const char* name;
    Request request;
    const char* programPrelude;  // what runs before the program; none: it starts at once
    int status;
    std::vector<const char*> closing;  // in the program's log
    std::vector<const char*> told = {};  // in the demo's output
    bool serviceEndsFirst = false;       // the service stand-in is killed before the request
    int closeSeconds = 30;               // what the program is given to close before it is ended
    const char* shell = nullptr;         // the command line of a `bash -c` that runs the demo
};

void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

class DemoInterrupted : public Demo, public ::testing::WithParamInterface<Interruption> {};

TEST_P(DemoInterrupted, TheProgramClosesBeforeItsStandInsAndNothingOutlivesTheScript) {
    const Interruption& how = GetParam();
    if (*how.programPrelude != '\0') wrap("ZNTV_P3D", how.programPrelude);
    std::optional<Terminal> terminal;
    if (how.request == Request::terminalClosed) terminal.emplace(m_root / "demo.out");
    // A QUIT's core file would show here: the demo is allowed one as a user's shell may allow it.
    rlimit core{}, unlimited{RLIM_INFINITY, RLIM_INFINITY};
    getrlimit(RLIMIT_CORE, &core);
    if (how.request == Request::quit) setrlimit(RLIMIT_CORE, &unlimited);
    const std::map<std::string, std::string> bound{{"ZNTV_DEMO_CLOSE_SECONDS", std::to_string(how.closeSeconds)}};
    ChildProcess& demo = how.shell != nullptr ? startIn("demo", "/bin/bash", {"-c", how.shell}, bound)
                                              : start("demo", terminal ? &*terminal : nullptr, bound);
    setrlimit(RLIMIT_CORE, &core);
    if (*how.programPrelude != '\0')
        ASSERT_TRUE(testing_support::waitFor(
            [&] { return output("demo").find("ZNTV_P3D runs") != std::string::npos; }, 240s))
            << output("demo");
    else
        ASSERT_TRUE(testing_support::waitFor(
            [&] { return log().find("Authenticated at RT server") != std::string::npos || !demo.running(); }, 240s))
            << output("demo") << log();
    ASSERT_TRUE(*how.programPrelude != '\0' || log().find("Authenticated at RT server") != std::string::npos)
        << output("demo") << log();
    if (how.serviceEndsFirst) {
        const auto service = pidOf("zntv-service");
        ASSERT_TRUE(service.has_value());
        kill(*service, SIGKILL);
        ASSERT_TRUE(testing_support::waitFor(
            [&] { return output("demo").find("while ZNTV_P3D runs") != std::string::npos; }, 10s))
            << output("demo");
        std::this_thread::sleep_for(2s);
        EXPECT_TRUE(demo.running()) << output("demo");
    }
    const auto asked = std::chrono::steady_clock::now();
    switch (how.request) {
        case Request::ctrlC: demo.signalGroup(SIGINT); break;
        case Request::ctrlCTwice:
            demo.signalGroup(SIGINT);
            std::this_thread::sleep_for(500ms);
            demo.signalGroup(SIGINT);
            break;
        case Request::toTheScript: demo.signal(SIGINT); break;
        case Request::terminalClosed: terminal->hangUp(); break;
        case Request::quit: demo.signalGroup(SIGQUIT); break;
    }
    const auto status = demo.waitForExit(120s);
    const auto took = std::chrono::steady_clock::now() - asked;
    const std::vector<std::string> left = endProcessesOfTheDemo();
    EXPECT_EQ(status, how.status) << output("demo");
    EXPECT_EQ(left, std::vector<std::string>{});
    const std::string text = log();
    for (const char* closing : how.closing) EXPECT_NE(text.find(closing), std::string::npos) << closing << "\n" << text;
    for (const char* told : how.told) EXPECT_NE(output("demo").find(told), std::string::npos) << told << "\n" << output("demo");
    // One request only, however often Ctrl-C is pressed: a second one would end the program at once, and its
    // exit sequence would log out without the 3 s it leaves the service after its readers' last request.
    if (!how.closing.empty()) {
        EXPECT_EQ(output("demo").find("has not closed"), std::string::npos) << output("demo");
        EXPECT_GE(took, 3s);
    }
    // One demo ran: nothing started another after it.
    const std::string out = output("demo");
    EXPECT_EQ(out.find("demo: update server", out.find("demo: update server") + 1), std::string::npos) << out;
    for (const fs::path& folder : {m_root, demoFolder()})
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_FALSE(entry.path().filename().string().starts_with("core")) << entry.path();
}

const char* const kSlowAfterItsExec = "export LD_PRELOAD=\"" ZNTV_SLOW_START_LIBRARY "\"";
const char* const kSlowAfterEachThread = "export LD_PRELOAD=\"" ZNTV_SLOW_START_LIBRARY " " ZNTV_FAULTS_LIBRARY
                                         "\" ZNTV_HOLD_AFTER_THREAD_MS=500";
// Unblocked, so that the TERM that ends it comes through; a SIGINT changes nothing.
const char* const kNeverCloses =
    "exec perl -e 'use POSIX; $SIG{INT} = q(IGNORE); sigprocmask(SIG_SETMASK, POSIX::SigSet->new); sleep 600'";

const std::vector<const char*> kLoggedOut = {"signal 2 received", "Deauthenticated RT server",
                                             "Exiting: USER CLOSED SIM"};
const std::vector<const char*> kClosed = {"signal 2 received", "Exiting: USER CLOSED SIM"};

INSTANTIATE_TEST_SUITE_P(
    Demo, DemoInterrupted,
    ::testing::Values(
        Interruption{"CtrlCTwice", Request::ctrlCTwice, "", 130, kLoggedOut},
        Interruption{"SigintToTheScriptAlone", Request::toTheScript, "", 130, kLoggedOut},
        Interruption{"TerminalClosed", Request::terminalClosed, "", 129, kLoggedOut},
        Interruption{"CtrlBackslash", Request::quit, "", 131, kLoggedOut},
        Interruption{"SigintAsASlowProgramStarts", Request::toTheScript, kSlowAfterItsExec, 130, kClosed},
        Interruption{"SigintAsTheProgramStartsItsThreads", Request::toTheScript, kSlowAfterEachThread, 130, kClosed},
        Interruption{"CtrlCAfterTheServiceEnded", Request::ctrlCTwice, "", 130, kClosed,
                     {"demo: zntv-service ended with 137 while ZNTV_P3D runs"}, true},
        Interruption{"AProgramThatDoesNotClose", Request::toTheScript, kNeverCloses, 130, {},
                     {"demo: ZNTV_P3D has not closed in 2 s; it is ended", "demo: ZNTV_P3D ended with 143"}, false,
                     2},
        Interruption{"ALoopOfDemosInAShell", Request::ctrlC, "", 130, kLoggedOut, {}, false, 30,
                     "for d in 1 2; do scripts/demo; done"},
        Interruption{"IntoAReaderThatGoesAway", Request::ctrlC, "", 130, kLoggedOut, {}, false, 30,
                     "set -o pipefail; scripts/demo | head -n 1"}),
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
    // Each child of the demo is slow after its fork, as on a loaded machine: the demo's wait for the service's
    // port then reads its output before the child could have emptied it.
    wrap("zntv-demo", "export LD_PRELOAD=\"" ZNTV_FAULTS_LIBRARY "\" ZNTV_HOLD_CHILD_MS=100");
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
        // The port announced is this run's service's, never the one the previous run left in its output.
        const std::string announced = "live-traffic service on port ";
        if (const auto at = output(name).find(announced); at != std::string::npos) {
            const std::string port = output(name).substr(at + announced.size());
            const std::string service = readWholeFile(demoFolder() / "service.out");
            EXPECT_EQ("port " + port.substr(0, port.find('\n')), service.substr(0, service.find('\n'))) << when;
        }
        if (HasFailure()) return;
    }
}

// A signal to the script alone while it installs, builds or lays out the simulator tree is taken when that step
// ends: the script ends with 130 and starts nothing after it, as it does when started as `bash scripts/demo`
// (which starts itself again with the signals blocked). No step gets the demo's lock.
struct SlowStep {
    const char* name;
    const char* step;  // the one of setup, build and simtree that takes 3 s
    bool byBash;
};

void PrintTo(const SlowStep& c, std::ostream* os) { *os << c.name; }

class DemoStep : public Demo, public ::testing::WithParamInterface<SlowStep> {};

TEST_P(DemoStep, ASignalDuringAStepIsTakenWhenItEnds) {
    const std::vector<std::string> steps = {"setup", "build", "simtree"};
    const std::string slow = GetParam().step;
    const fs::path marks = m_root / "marks";
    fs::create_directory(marks);
    const auto mark = [&](const std::string& what) { return (marks / what).string(); };
    const auto stepScript = [&](const std::string& step) {
        return "touch " + mark(step + ".began") + "\n" + (step == slow ? "sleep 3\n" : "") +
               "if [ -e /proc/$$/fd/9 ]; then touch " + mark("lock-held") + "; fi\ntouch " + mark(step + ".ended") +
               "\n";
    };
    for (const char* step : {"setup", "build"}) writeWholeFile(m_root / "scripts" / step, "#!/bin/sh\n" + stepScript(step));
    wrap("zntv-simtree-gen", stepScript("simtree"));
    ChildProcess& demo = GetParam().byBash
                             ? startIn("demo", "/bin/bash", {(m_root / "scripts" / "demo").string()}, {})
                             : start("demo");
    ASSERT_TRUE(testing_support::waitFor([&] { return fs::exists(mark(slow + ".began")); }, 120s)) << output("demo");
    std::this_thread::sleep_for(1s);
    demo.signal(SIGINT);
    EXPECT_EQ(demo.waitForExit(20s), 130) << output("demo");
    EXPECT_TRUE(fs::exists(mark(slow + ".ended")));
    for (auto later = std::find(steps.begin(), steps.end(), slow) + 1; later != steps.end(); ++later)
        EXPECT_FALSE(fs::exists(mark(*later + ".began"))) << *later;
    EXPECT_FALSE(fs::exists(demoFolder() / "service.out"));
    EXPECT_FALSE(fs::exists(mark("lock-held")));
    EXPECT_EQ(endProcessesOfTheDemo(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Demo, DemoStep,
                         ::testing::Values(SlowStep{"DuringSetup", "setup", false},
                                           SlowStep{"DuringTheBuild", "build", false},
                                           SlowStep{"DuringTheSimulatorTree", "simtree", false},
                                           SlowStep{"DuringSetupOfBashScriptsDemo", "setup", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A child of the demo that cannot be started (its fork fails, as under a process limit, or its exec) is told;
// what has started is stopped, the program through its exit sequence, and the demo ends with 1. No signal goes
// to a pid of 1 or less, and no wait to any child but its own.
struct FailedStart {
    const char* name;
    int failingFork;           // of zntv-demo's: the service, the simulator, the program, the log's echo
    const char* notExecutable;  // a program of bin/ that cannot be run
    const char* told;
    std::vector<const char*> closing = {};  // in the program's log
};

void PrintTo(const FailedStart& c, std::ostream* os) { *os << c.name; }

class DemoStartFails : public Demo, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(DemoStartFails, StopsWhatStartedAndEndsWithOne) {
    const FailedStart& how = GetParam();
    const fs::path record = m_root / "faults";
    if (how.failingFork > 0)
        wrap("zntv-demo", "export LD_PRELOAD=\"" ZNTV_FAULTS_LIBRARY "\" ZNTV_FAIL_FORK=" +
                              std::to_string(how.failingFork) + " ZNTV_FAULT_RECORD=\"" + record.string() + "\"");
    if (how.notExecutable != nullptr) {
        wrap(how.notExecutable, "");
        fs::permissions(m_root / "build" / "bin" / how.notExecutable, fs::perms::all & ~fs::perms::others_all &
                                                                        ~fs::perms::owner_exec & ~fs::perms::group_exec);
    }
    ChildProcess& demo = start("demo");
    EXPECT_EQ(demo.waitForExit(120s), 1) << output("demo");
    EXPECT_NE(output("demo").find(how.told), std::string::npos) << output("demo");
    for (const char* closing : how.closing) EXPECT_NE(log().find(closing), std::string::npos) << closing << "\n" << log();
    EXPECT_EQ(endProcessesOfTheDemo(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(record)) << readWholeFile(record);
}

INSTANTIATE_TEST_SUITE_P(
    Demo, DemoStartFails,
    ::testing::Values(
        FailedStart{"TheServiceCannotFork", 1, nullptr,
                    "demo: cannot start zntv-service: Resource temporarily unavailable"},
        FailedStart{"TheSimulatorCannotFork", 2, nullptr,
                    "demo: cannot start zntv-simulator: Resource temporarily unavailable"},
        FailedStart{"TheProgramCannotFork", 3, nullptr, "demo: cannot start ZNTV_P3D: Resource temporarily unavailable"},
        FailedStart{"TheEchoCannotFork", 4, nullptr, "demo: cannot start tail: Resource temporarily unavailable",
                    {"signal 2 received", "Exiting: USER CLOSED SIM"}},
        FailedStart{"TheSimulatorCannotRun", 0, "zntv-simulator", "demo: cannot start zntv-simulator: Permission denied"}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever kills the demo, nothing it started runs on: the stand-ins end, the program closes as on a TERM, and
// the next demo finds the folder free and starts its program.
TEST_F(Demo, NothingOutlivesAKilledDemo) {
    // Started with a signal ignored, as whoever starts it may leave one, the demo starts its children with none.
    struct sigaction ignore {}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGUSR1, &ignore, &old);
    ChildProcess& killed = start("killed");
    sigaction(SIGUSR1, &old, nullptr);
    ASSERT_TRUE(testing_support::waitFor(
        [&] { return log().find("Authenticated at RT server") != std::string::npos; }, 240s))
        << output("killed") << log();
    for (const char* child : {"zntv-service", "zntv-simulator", "ZNTV_P3D"}) {
        const auto pid = pidOf(child);
        ASSERT_TRUE(pid.has_value()) << child;
        const std::string status = readWholeFile("/proc/" + std::to_string(*pid) + "/status");
        const auto at = status.find("SigIgn:");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(std::stoull(status.substr(at + 7), nullptr, 16) & (1ull << (SIGUSR1 - 1)), 0u) << child;
    }
    killed.signal(SIGKILL);
    EXPECT_EQ(killed.waitForExit(10s), 128 + SIGKILL);
    EXPECT_TRUE(testing_support::waitFor([&] { return processesOfTheDemo().empty(); }, 15s))
        << testing::PrintToString(processesOfTheDemo());
    ChildProcess& next = start("next");
    EXPECT_TRUE(testing_support::waitFor(
        [&] { return output("next").find("ZNTV_P3D runs") != std::string::npos || !next.running(); }, 240s));
    EXPECT_NE(output("next").find("ZNTV_P3D runs"), std::string::npos) << output("next");
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

// A signal sent as soon as the child exists is heard, even by a test program that ignores it (as a script's
// background job does). The child is held from running until the signal has gone out: the test's thread has
// the one core to itself at a real-time priority that its children do not inherit.
TEST(ChildProcessStart, ASigintAsTheChildStartsIsHeard) {
    testing_support::TempDir dir;
    cpu_set_t cpus, one;
    sched_getaffinity(0, sizeof cpus, &cpus);
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);
    const sched_param realTime{1};
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &realTime) != 0) {
        sched_setaffinity(0, sizeof cpus, &cpus);
        GTEST_SKIP() << "no real-time priority here: " << std::strerror(errno);
    }
    struct sigaction ignore {}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &old);
    std::optional<ChildProcess> sleeper;
    sleeper.emplace("/bin/sleep", std::vector<std::string>{"30"}, dir.path(), std::map<std::string, std::string>{},
                    dir / "out");
    sleeper->signal(SIGINT);
    const sched_param normal{0};
    sched_setscheduler(0, SCHED_OTHER, &normal);
    sched_setaffinity(0, sizeof cpus, &cpus);
    sigaction(SIGINT, &old, nullptr);
    EXPECT_EQ(sleeper->waitForExit(10s), 128 + SIGINT);
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
