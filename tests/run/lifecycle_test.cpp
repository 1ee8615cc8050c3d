// The whole program in the test's process: the application body on a UI thread of its own with the headless
// window, a stand-in simulator that runs a flight and ticks its second every few milliseconds, and the
// start-up, the work loop, the exit sequence and the restarts for real. Waits are scaled a hundredfold.
#include "run_test_env.h"

#include <dirent.h>

#include <fmt/format.h>

#include "frame/errors.h"
#include "frame/version.h"
#include "frame/zip_builder.h"
#include "service/service_standin.h"

namespace run_test {
namespace {

// Threads of this process right now.
std::size_t lf_threadCount() {
    std::size_t n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

class Lifecycle : public RunEnv {
protected:
    // The log line of each exit, in order.
    std::vector<std::string> exits() const {
        std::vector<std::string> found;
        for (const auto& l : logLines()) {
            if (l.starts_with("Exiting: ")) found.push_back(l.substr(9));
        }
        return found;
    }
};

TEST_F(Lifecycle, StartExitRestartExitLeavesNoThreadRunning) {
    std::thread([] {}).join();  // a sanitizer's own helper thread starts with the first thread: before counting
    const std::size_t before = lf_threadCount();
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    EXPECT_EQ(m_calls.count("weatherReader"), 1);
    EXPECT_EQ(m_calls.count("trafficReader"), 1);

    gf_requestExit(ExitReason::NewSettings, 1);
    ASSERT_TRUE(waitFor([this] { return m_simulator.linkStarts == 2 && g_seconds.load() >= 2; }));
    EXPECT_TRUE(g_restartPending.load());
    EXPECT_EQ(m_simulator.linkStops.load(), 1);  // the first link ended before the second started
    EXPECT_EQ(m_calls.count("weatherReader"), 2);

    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
    EXPECT_EQ(m_exitCode.load(), 0);
    EXPECT_EQ(exits(), (std::vector<std::string>{"NEW SETTINGS", "USER CLOSED SIM"}));
    EXPECT_TRUE(logHas("Restarting after 1 seconds"));
    EXPECT_EQ(m_simulator.linkStops.load(), 2);
    EXPECT_TRUE(gf_runThreadsIdle());
    // A joined thread can stay listed for a moment until the kernel has reaped it: wait for the count.
    EXPECT_TRUE(waitFor([&] { return lf_threadCount() == before; })) << lf_threadCount() << " != " << before;
    // The window stored its position and closed the log with a time stamp.
    EXPECT_FALSE(gf_logIsOpen());
    EXPECT_EQ(stored("MAIN_WINDOW_X"), "400");
}

class RestartReasons : public Lifecycle, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(RestartReasons, ComeBackAfterTheCountdown) {
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    gf_requestExit(GetParam(), 2);
    ASSERT_TRUE(waitFor([this] { return m_simulator.linkStarts == 2 && g_seconds.load() >= 1; }));
    EXPECT_TRUE(logHas("Restarting after 2 seconds"));
    EXPECT_TRUE(logHas("Prepare for a restart ..."));
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
    EXPECT_EQ(exits(), (std::vector<std::string>{gf_exitReasonText(GetParam()), "USER CLOSED SIM"}));
}

INSTANTIATE_TEST_SUITE_P(SettingsAndFailures, RestartReasons, ::testing::Values(3u, 5u, 6u));

class ClosingReasons : public Lifecycle, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(ClosingReasons, EndTheProgram) {
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    gf_requestExit(GetParam(), 30);  // a delay does not make these restart
    ASSERT_TRUE(programEnded());
    EXPECT_EQ(m_simulator.linkStarts.load(), 1);
    EXPECT_EQ(exits(), std::vector<std::string>{gf_exitReasonText(GetParam())});
    EXPECT_TRUE(gf_runThreadsIdle());
}

INSTANTIATE_TEST_SUITE_P(SimNewFlightUserSystem, ClosingReasons, ::testing::Values(1u, 2u, 4u, 7u));

TEST_F(Lifecycle, OnlyTheFirstOfTwoRequestsIsActedOn) {
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    gf_requestExit(ExitReason::UserClosedSim, 0);
    gf_requestExit(ExitReason::NewSettings, 1);
    ASSERT_TRUE(programEnded());
    EXPECT_EQ(exits(), std::vector<std::string>{"USER CLOSED SIM"});
    EXPECT_EQ(m_simulator.linkStarts.load(), 1);
}

TEST_F(Lifecycle, TheWindowsCloseBoxGoesThroughTheExitSequence) {
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    ASSERT_TRUE(m_ui->closeWindow());
    ASSERT_TRUE(programEnded());
    EXPECT_EQ(exits(), std::vector<std::string>{"USER CLOSED SIM"});
    EXPECT_TRUE(logHas("User closed ZNTV_P3D"));
}

TEST_F(Lifecycle, WithoutDocsOnlyUserError41IsShown) {
    fs::remove_all(m_program / "docs");
    startProgram();
    const std::string error41 = "Error 41: ZNTV_P3D must be run from the ZNTV_P3D folder!";
    ASSERT_TRUE(waitFor([&] { return logHas(error41); }));
    EXPECT_EQ(gf_statusError(), "41: ZNTV_P3D must be run from the ZNTV_P3D folder!");
    // Nothing else ran: no settings read, no folder made, no subsystem asked, no exit.
    EXPECT_FALSE(logContains("parameters"));
    EXPECT_FALSE(fs::exists(m_program / "output"));
    EXPECT_TRUE(m_calls.all().empty());
    EXPECT_EQ(m_simulator.linkStarts.load(), 0);
    EXPECT_TRUE(exits().empty());
    // The program stays open with the error until the user closes it.
    ASSERT_TRUE(m_ui->closeWindow());
    ASSERT_TRUE(programEnded());
}

TEST_F(Lifecycle, ALoginUserErrorLeavesTheProgramIdleWithTheErrorShown) {
    Subsystems s = fakes();
    s.authenticateOrThrow = [] { throw qtm::UserErrorException(402, "Your RT license is expired"); };
    gf_setSubsystems(s);
    startProgram();
    ASSERT_TRUE(waitFor([] { return gf_statusError() == "402: Your RT license is expired"; }));
    EXPECT_TRUE(exits().empty());
    EXPECT_FALSE(g_quitRequested.load());
    EXPECT_EQ(m_calls.count("weatherReader"), 0);
    ASSERT_TRUE(m_ui->closeWindow());
    ASSERT_TRUE(programEnded());
    EXPECT_EQ(exits(), std::vector<std::string>{"USER CLOSED SIM"});
}

TEST_F(Lifecycle, AnyOtherLoginFailureEndsTheRunAsASystemError) {
    Subsystems s = fakes();
    s.authenticateOrThrow = [] { throw std::runtime_error("No RT database connection"); };
    gf_setSubsystems(s);
    startProgram();
    ASSERT_TRUE(programEnded());
    EXPECT_TRUE(logHas("No RT database connection"));
    EXPECT_EQ(exits(), std::vector<std::string>{"SYSTEM ERROR"});
}

TEST_F(Lifecycle, AMissingLiveriesFileTurnsTheLiveryScanOn) {
    writeSettings(fmt::format("<parameter name=\"SIM_INSTALL_PATH\" value=\"{}\"/>\n"
                              "<parameter name=\"SCAN_LIVERIES\" value=\"false\"/>\n",
                              m_sim.string()));
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    EXPECT_TRUE(logHas("File output/LiveriesScanned.xml is gone, rescan liveries"));
    EXPECT_EQ(stored("SCAN_LIVERIES"), "true");
    EXPECT_EQ(m_calls.count("liveriesScan"), 1);
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
}

TEST_F(Lifecycle, AServiceVisitStampFromTheFutureHoldsTwoSecondsOnly) {
    writeSettings(fmt::format("<parameter name=\"SIM_INSTALL_PATH\" value=\"{}\"/>\n"
                              "<parameter name=\"LAST_EPOCH_TIME\" value=\"2147483647\"/>\n",
                              m_sim.string()));
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    EXPECT_TRUE(logHas("Holding for 2 seconds... (RT API cannnot be revisited within 2 seconds)"));
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
}

TEST_F(Lifecycle, WaitsAreForAFlightAndEndOnExit) {
    m_simulator.ticking = false;
    Subsystems s = fakes();
    s.simClient = [](std::stop_token stop) {
        while (!stop.stop_requested()) std::this_thread::sleep_for(2ms);  // connected, no flight
    };
    gf_setSubsystems(s);
    startProgram();
    ASSERT_TRUE(waitFor([] { return gf_linkThreadRunning(); }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(m_calls.count("authenticateOrThrow"), 0);
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
    EXPECT_TRUE(gf_runThreadsIdle());
}

// ---- the update check ----

class UpdateCheck : public Lifecycle {
protected:
    void SetUp() override {
        Lifecycle::SetUp();
        m_service.update().setRoot(m_serverRoot.path());
        m_service.update().setStallLimit(10s);
        m_service.start();
        m_url.emplace("ZNTV_UPDATE_URL", m_service.downloadsRoot());
    }
    void TearDown() override {
        Lifecycle::TearDown();
        m_service.stop();
    }
    void serve(const std::string& path, const std::string& content) {
        fs::create_directories((m_serverRoot.path() / path).parent_path());
        writeWholeFile(m_serverRoot.path() / path, content);
    }
    std::size_t versionRequests() { return m_service.requests().count("/downloads/release/version_P3D.json"); }

    testing_support::TempDir m_serverRoot;
    standin::ServiceStandin m_service;
    std::optional<testing_support::ScopedEnv> m_url;
};

TEST_F(UpdateCheck, ANewerVersionDownloadsTheInstallerAndStopsWithUserError99) {
    serve("release/version_P3D.json", "{\"major\": 10, \"minor\": 10, \"patch\": 5}\n");
    fs::create_directories(m_serverRoot.path() / "release");
    testing_support::writeZip(m_serverRoot.path() / "release/setup_ZNTV_P3D_d_v10.10.5.zip",
                              {{"setup.exe", "MZ new installer"}});
    startProgram();
    const std::string expected =
        fmt::format("New version 10.10.5 available. Exit here, and run as administrator:   \"{}\"",
                    (m_program / "install_new_version.exe").string());
    ASSERT_TRUE(waitFor([&] { return gf_statusError() == expected; }));
    EXPECT_TRUE(logHas("Error " + expected));
    EXPECT_EQ(readWholeFile(m_program / "install_new_version.exe"), "MZ new installer");
    EXPECT_FALSE(fs::exists(m_program / "setup_ZNTV_P3D_d_v10.10.5.zip"));
    // The start-up went no further.
    EXPECT_EQ(m_calls.count("readDataBase"), 0);
    EXPECT_EQ(m_simulator.linkStarts.load(), 0);
    EXPECT_TRUE(exits().empty());
    ASSERT_TRUE(m_ui->closeWindow());
    ASSERT_TRUE(programEnded());
}

TEST_F(UpdateCheck, TheSameVersionDoesNothingAndARestartDoesNotAskAgain) {
    serve("release/version_P3D.json", "10.10.4\n");
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    EXPECT_EQ(versionRequests(), 1u);
    EXPECT_EQ(m_service.requests().all().size(), 1u);
    EXPECT_FALSE(fs::exists(m_program / "install_new_version.exe"));

    gf_requestExit(ExitReason::NewSettings, 0);
    ASSERT_TRUE(waitFor([this] { return m_simulator.linkStarts == 2 && g_seconds.load() >= 1; }));
    EXPECT_EQ(versionRequests(), 1u);
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
}

TEST_F(UpdateCheck, NoVersionFileLetsTheStartUpGoOn) {
    startProgram();  // the server answers 404
    ASSERT_TRUE(workLoopRuns());
    EXPECT_TRUE(logHas("Program Version file not found?"));
    EXPECT_EQ(versionRequests(), 1u);
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
}

TEST_F(UpdateCheck, AStalledServerTimesOutAndTheStartUpGoesOn) {
    serve("release/version_P3D.json", "10.10.5\n");
    m_service.update().setFault("release/version_P3D.json", standin::Fault::Stall);
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    EXPECT_TRUE(logHas("Program Version file not found?"));
    EXPECT_FALSE(fs::exists(m_program / "install_new_version.exe"));
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
}

TEST_F(UpdateCheck, AnExitEndsAStalledCheckAtOnce) {
    serve("release/version_P3D.json", "10.10.5\n");
    m_service.update().setFault("release/version_P3D.json", standin::Fault::Stall);
    DownloadTimeouts slow;
    slow.lowSpeedTime = 60s;  // only the exit can end it
    gf_setDownloadTimeouts(slow);
    startProgram();
    ASSERT_TRUE(waitFor([this] { return versionRequests() == 1; }));
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
    EXPECT_EQ(exits(), std::vector<std::string>{"USER CLOSED SIM"});
}

}  // namespace
}  // namespace run_test
