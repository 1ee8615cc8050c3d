// scripts/demo as a user starts it, in a checkout of its own whose build is made already: a temporary folder
// with the script, this build's programs and data and the fixtures, where installing and building have
// nothing to do. The demo lays out build/demo there and runs the stand-ins and the program, headless.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

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
    // A demo that still runs closes as on a TERM, with its stand-ins; a kill would leave them running.
    ~Demo() override {
        for (auto& demo : m_demos) {
            if (!demo->running()) continue;
            demo->signal(SIGTERM);
            demo->waitForExit(60s);
        }
    }

    ChildProcess& start(const std::string& name) {
        return *m_demos.emplace_back(std::make_unique<ChildProcess>(
            m_root / "scripts" / "demo", std::vector<std::string>{}, m_root,
            std::map<std::string, std::string>{{"ZNTV_HEADLESS", "1"}}, m_root / (name + ".out")));
    }
    std::string output(const std::string& name) const { return readWholeFile(m_root / (name + ".out")); }
    fs::path demoFolder() const { return m_root / "build" / "demo"; }

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

// The demo's status is the program's: here it finds another instance in the demo's folder and ends with 255.
TEST_F(Demo, EndsWithTheProgramsStatus) {
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", (demoFolder() / "run").string());
    const platform::SingleInstance other(kInstanceMutexName);
    ASSERT_FALSE(other.alreadyExists());
    EXPECT_EQ(start("demo").waitForExit(60s), 255) << output("demo");
}

}  // namespace
}  // namespace run_test
