// The exit request, the common exception handler, the restart countdown and the exit sequence for each
// reason, run on the test's thread against a window that nobody pumps: what it posts stays queued.
#include "run_test_env.h"

#include <fmt/format.h>

#include "frame/errors.h"

namespace run_test {
namespace {

std::mutex g_shownMutex;
std::vector<std::string> g_shown;
void lf_recordMessage(std::string_view text, bool) {
    std::lock_guard lock(g_shownMutex);
    if (!text.empty()) g_shown.emplace_back(text);
}
void lf_recordError(std::string_view text) {
    std::lock_guard lock(g_shownMutex);
    g_shown.push_back("error: " + std::string(text));
}
std::vector<std::string> lf_shown() {
    std::lock_guard lock(g_shownMutex);
    return g_shown;
}

int g_starts = 0;
void lf_countStart(std::uint32_t) { ++g_starts; }

class ExitRequest : public RunEnv {
protected:
    void SetUp() override {
        RunEnv::SetUp();
        g_starts = 0;
        {
            std::lock_guard lock(g_shownMutex);
            g_shown.clear();
        }
        gf_setStatusLineHooks({lf_recordMessage, lf_recordError});
    }
};

TEST_F(ExitRequest, OnlyTheFirstRequestCounts) {
    gf_setExitSequence(lf_countStart);
    gf_requestExit(ExitReason::NewSettings, 3);
    gf_requestExit(ExitReason::UserClosedSim, 0);
    EXPECT_EQ(g_starts, 1);
    EXPECT_EQ(g_exitReason.load(), 3u);
    EXPECT_TRUE(g_quitRequested.load());
}

TEST_F(ExitRequest, ReasonTexts) {
    EXPECT_EQ(gf_exitReasonText(0), "NOT YET SET");
    EXPECT_EQ(gf_exitReasonText(4), "USER CLOSED SIM");
    EXPECT_EQ(gf_exitReasonText(7), "SYSTEM ERROR");
    try {
        gf_exitReasonText(8);
        FAIL() << "no exception for reason 8";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid unordered_map<K, T> key");
    }
}

TEST_F(ExitRequest, CommonHandlerByKindOfException) {
    gf_setExitSequence(lf_countStart);
    const auto handle = [](auto&& thrower) {
        try {
            thrower();
        } catch (...) {
            lf_logException("lf_startUpZNTV");
        }
    };
    handle([] { throw qtm::UserErrorException(41, "user must mend"); });
    handle([] { throw fmt::format_error("bad format"); });
    EXPECT_EQ(g_starts, 0);  // neither ends the run
    handle([] { throw 42; });
    EXPECT_EQ(g_starts, 0);
    handle([] { throw std::runtime_error("broken"); });
    EXPECT_EQ(g_starts, 1);
    EXPECT_EQ(g_exitReason.load(), 7u);
    EXPECT_EQ(lf_shown(), (std::vector<std::string>{"error: 41: user must mend", "error: std::format error: bad format",
                                                    "error: Unknown exception", "error: broken"}));
    // The function it failed in goes to the log only.
    EXPECT_TRUE(logHas("lf_startUpZNTV: broken"));
}

TEST_F(ExitRequest, CountdownShowsEachSecondLeft) {
    EXPECT_TRUE(lf_restartCountdown(2, {}));
    EXPECT_EQ(lf_shown(), (std::vector<std::string>{"Restarting after 2 seconds", "Restarting after 1 second"}));
    EXPECT_TRUE(logContains("Restarting after 2 seconds\n\n\n\n\n\n"));

    g_shown.clear();
    EXPECT_TRUE(lf_restartCountdown(0, {}));
    EXPECT_TRUE(lf_shown().empty());

    g_quitRequested = true;
    EXPECT_FALSE(lf_restartCountdown(3, {}));
    EXPECT_TRUE(lf_shown().empty());
}

// The exit sequence itself, with the window made but not pumped.
class ExitSequence : public RunEnv {
protected:
    void SetUp() override {
        RunEnv::SetUp();
        gf_installRunHooks();
        ASSERT_TRUE(gf_createMainWindow());
        m_ui->pumpPending();  // nothing is queued before the sequence runs
        g_SCAN_LIVERIES.set(true);
        g_SCAN_AIRPORTS.set(true);
        g_DESTINATION.set("EHAM");
        g_BLOCK_CALLSIGN.set("KLM1");
    }

    void runExit(std::uint32_t reason, std::uint32_t delay = 0) {
        g_quitRequested = true;
        g_exitReason = reason;
        FinalExit({}, delay);
    }
    std::vector<ui::PostedMessage> posted() const { return m_ui->pendingMessages(); }
};

TEST_F(ExitSequence, SettingsRestartKeepsTheScansAndComesBack) {
    g_seconds = 77;
    g_readerError = true;
    runExit(3, 1);
    EXPECT_EQ(posted(), (std::vector<ui::PostedMessage>{{WM_APP_START, 0}}));
    EXPECT_TRUE(logHas("Exiting: NEW SETTINGS"));
    EXPECT_TRUE(logHas("Prepare for a restart ..."));
    EXPECT_TRUE(g_restartPending.load());
    EXPECT_FALSE(g_quitRequested.load());
    EXPECT_TRUE(g_SCAN_LIVERIES.value());
    EXPECT_TRUE(g_SCAN_AIRPORTS.value());
    EXPECT_EQ(g_DESTINATION.value(), "EHAM");  // kept for the next run
    EXPECT_EQ(g_seconds.load(), 0);
    EXPECT_FALSE(g_readerError.load());
    EXPECT_EQ(g_exitReason.load(), 0u);
}

TEST_F(ExitSequence, FailureRestartsSwitchTheScansOff) {
    std::vector<ui::PostedMessage> expected;
    for (std::uint32_t reason : {5u, 6u}) {
        g_SCAN_LIVERIES.set(true);
        g_SCAN_AIRPORTS.set(true);
        runExit(reason, 0);
        expected.push_back({WM_APP_START, 0});
        EXPECT_EQ(posted(), expected) << reason;
        EXPECT_FALSE(g_SCAN_LIVERIES.value()) << reason;
        EXPECT_FALSE(g_SCAN_AIRPORTS.value()) << reason;
        EXPECT_EQ(stored("SCAN_LIVERIES"), "false");
        EXPECT_EQ(stored("SCAN_AIRPORTS"), "false");
    }
    EXPECT_TRUE(logHas("Exiting: SIMCONNECT ERROR"));
    EXPECT_TRUE(logHas("Exiting: READER ERROR"));
    EXPECT_FALSE(logContains("Restarting after"));  // a delay of 0 counts nothing down
}

TEST_F(ExitSequence, NewFlightShowsItsMessageAndCloses) {
    // A standing fault would hide the message: the exit withdraws it.
    gf_showStandingFault(StandingFault::StandFile, "LSZH stand file: no stands found");
    runExit(2);
    EXPECT_EQ(gf_standingFault(StandingFault::StandFile), "");
    EXPECT_EQ(posted(), (std::vector<ui::PostedMessage>{{WM_APP_END, 0}}));
    EXPECT_TRUE(logHas("New flight detected, ZNTV_P3D will close, please restart manually ..."));
    EXPECT_EQ(gf_statusMessage(), "New flight detected, ZNTV_P3D will close, please restart manually ...");
    EXPECT_FALSE(g_restartPending.load());
    EXPECT_EQ(stored("DESTINATION"), "");
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "");
    EXPECT_EQ(m_calls.count("liveryMatchingSummary"), 1);
    EXPECT_EQ(m_calls.count("logUnmatchedAircraft"), 1);
}

TEST_F(ExitSequence, UserCloseStopsEverythingAndCloses) {
    runExit(4);
    EXPECT_EQ(posted(), (std::vector<ui::PostedMessage>{{WM_APP_END, 0}}));
    EXPECT_TRUE(logHas("Exiting: USER CLOSED SIM"));
    EXPECT_TRUE(logHas("User closed ZNTV_P3D"));
    EXPECT_TRUE(g_stopRequested.load());
    // Closing, a second request must not start another sequence behind the window's back.
    EXPECT_TRUE(g_quitRequested.load());
}

TEST_F(ExitSequence, SimTimeIsKeptOnlyWithKeepSimTimePar) {
    g_SIM_TIME.set(true);
    g_KEEP_SIM_TIME_PAR.set(true);
    g_TIME_SHIFT_HOURS.set(5);
    runExit(1);
    EXPECT_TRUE(g_SIM_TIME.value());
    EXPECT_EQ(g_TIME_SHIFT_HOURS.value(), 0);
    EXPECT_EQ(stored("TIME_SHIFT_HOURS"), "0");

    g_KEEP_SIM_TIME_PAR.set(false);
    runExit(1);
    EXPECT_FALSE(g_SIM_TIME.value());
    EXPECT_EQ(stored("SIM_TIME"), "false");
}

TEST_F(ExitSequence, AircraftAreRemovedAndTheirRemovalsHandedToTheLink) {
    AiAc st;
    st.status = kAcInSim;
    st.objectId = 501;
    g_staticAc = {st};
    LiveAc live;
    live.status = kAcInSim;
    live.objectId = 502;
    g_liveAc = {live};
    g_removals = {500};
    g_parkAirportCode = "EHAM";
    runExit(7);
    EXPECT_TRUE(g_removals.empty());
    EXPECT_EQ(g_removeQueue, (std::vector<std::uint32_t>{500, 502, 501}));
    EXPECT_EQ(m_calls.count("clearStaticParking"), 1);
    EXPECT_EQ(m_calls.count("removeFlightPlanFolder"), 1);
}

TEST_F(ExitSequence, LoggedInSequenceStopsTheReadersAndLogsOut) {
    g_weatherClient.setLoginGuid("guid-1");
    runExit(1);
    EXPECT_TRUE(g_weatherClient.stop.load());
    EXPECT_TRUE(g_trafficClient.stop.load());
    EXPECT_EQ(m_calls.count("deauthenticate"), 1);

    g_weatherClient.setLoginGuid("");
    runExit(1);
    EXPECT_EQ(m_calls.count("deauthenticate"), 1);
}

TEST_F(ExitSequence, RestartForgetsTheLogin) {
    g_weatherClient.setLoginGuid("guid-2");
    g_trafficClient.setLoginGuid("guid-2");
    g_qnh = 998;
    const TransferResult silent{TransferOutcome::Failed, CURLE_COULDNT_CONNECT};
    gf_noteServicePoll(ServicePoll::Traffic, silent);
    runExit(6);
    EXPECT_FALSE(g_weatherClient.loggedIn());
    EXPECT_FALSE(g_trafficClient.loggedIn());
    EXPECT_FALSE(g_weatherClient.stop.load());
    EXPECT_EQ(g_qnh.load(), 1013);
    // and the outage before it: the next run's readers start one of their own, logged as it begins
    gf_noteServicePoll(ServicePoll::Traffic, silent);
    EXPECT_EQ(std::ranges::count_if(logLines(), [](const std::string& l) { return l.find(" silent ") != l.npos; }),
              2);
}

TEST_F(ExitSequence, AFailingSequenceStillClosesTheProgram) {
    runExit(99);  // no such reason
    EXPECT_EQ(posted(), (std::vector<ui::PostedMessage>{{WM_APP_END, 0}}));
    EXPECT_TRUE(logHas("FinalExit: invalid unordered_map<K, T> key"));
}

TEST_F(ExitSequence, AnExitDuringTheCountdownClosesInsteadOfRestarting) {
    gf_requestExit(ExitReason::NewSettings, 100);  // a second is 10 ms here
    ASSERT_TRUE(waitFor([] { return gf_statusMessage().starts_with("Restarting after"); }));
    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(waitFor([this] { return !posted().empty(); }));
    gf_joinExitThread();
    EXPECT_EQ(posted(), (std::vector<ui::PostedMessage>{{WM_APP_END, 0}}));
    EXPECT_TRUE(logHas("Exiting: NEW SETTINGS"));
    EXPECT_TRUE(logHas("Exiting: USER CLOSED SIM"));
    EXPECT_FALSE(g_restartPending.load());
}

}  // namespace
}  // namespace run_test
