// The work loop's tick and its timer cascade, driven one simulator second at a time: which work runs at
// which value of the seconds counter, the two-pass parking renewal, the day's reset, the housekeeping while
// no flight runs, and the per-second checks.
#include <limits>

#include "run_test_env.h"

namespace run_test {
namespace {

std::vector<std::uint32_t> g_exitRequests;
void lf_recordExit(std::uint32_t) { g_exitRequests.push_back(g_exitReason.load()); }

class Timers : public RunEnv {
protected:
    void SetUp() override {
        RunEnv::SetUp();
        g_exitRequests.clear();
        gf_setExitSequence(lf_recordExit);
        g_flightRunning = true;
    }

    // One tick on which the simulator's second arrives, with the counter reaching n.
    bool secondAt(std::int32_t n) {
        g_seconds = n - 1;
        g_secondTick = true;
        return lf_workZNTV();
    }
};

TEST_F(Timers, FiveFifteenAndThirtySecondWorkFollowTheCounter) {
    g_AUTO_RANGE.set(true);
    secondAt(5);  // a multiple of 5 but not of 15: the work named for 5 seconds waits for 15
    EXPECT_EQ(m_calls.count("setTrafficBox"), 0);
    EXPECT_EQ(m_calls.count("refreshConnectionIndicators"), 1);  // every second

    secondAt(15);
    EXPECT_EQ(m_calls.count("setTrafficBox"), 1);
    EXPECT_EQ(m_calls.count("autoTrafficRange"), 0);

    secondAt(30);
    EXPECT_EQ(m_calls.count("setTrafficBox"), 2);
    EXPECT_EQ(m_calls.count("autoTrafficRange"), 1);
    EXPECT_EQ(g_nextRenewalMinutes.load(), 0);

    secondAt(45);
    EXPECT_EQ(m_calls.count("setTrafficBox"), 3);
    EXPECT_EQ(m_calls.count("autoTrafficRange"), 1);

    secondAt(60);
    EXPECT_EQ(m_calls.count("setTrafficBox"), 4);
    EXPECT_EQ(m_calls.count("autoTrafficRange"), 2);
    EXPECT_EQ(g_nextRenewalMinutes.load(), 19);  // m = 1
    EXPECT_EQ(m_calls.count("parkCheck"), 0);
}

TEST_F(Timers, ParkAirportCheckEverySixteenSecondsOrEverySecondWhileItWaits) {
    secondAt(16);
    secondAt(32);
    EXPECT_EQ(m_calls.count("parkCheck"), 2);
    secondAt(240);  // a multiple of 15 and 16: the 15-second work has it
    EXPECT_EQ(m_calls.count("parkCheck"), 2);
    EXPECT_EQ(m_calls.count("setTrafficBox"), 1);

    // While the check waits for a stand file it looks again every second.
    g_parkCheckWaiting = true;
    secondAt(33);
    EXPECT_EQ(m_calls.count("parkCheck"), 3);
    g_parkCheckWaiting = false;
    secondAt(34);
    EXPECT_EQ(m_calls.count("parkCheck"), 3);

    // Between the two passes of a renewal the park airports are left alone.
    g_renewalCollecting = true;
    secondAt(48);
    EXPECT_EQ(m_calls.count("parkCheck"), 3);
}

TEST_F(Timers, SixtyOneSecondSweepRemovesAStaticTwinOfAParkedLiveAircraft) {
    LiveAc live;
    live.callsign = "KLM1234";
    live.registration = "PH-BXA";
    live.status = kAcInSim;
    live.onGround = true;
    g_liveAc.push_back(live);
    AiAc queued;  // the twin's callsign but not in the simulator: passed over
    queued.callsign = "KLM1234*";
    queued.status = kAcCreationQueued;
    queued.objectId = 300;
    AiAc twin;  // a static aircraft carries the flight's callsign with a '*'
    twin.callsign = "KLM1234*";
    twin.status = kAcInSim;
    twin.objectId = 301;
    AiAc byRegistration;
    byRegistration.callsign = "XX";
    byRegistration.registration = "PH-BXA";
    byRegistration.status = kAcInSim;
    byRegistration.objectId = 302;
    g_staticAc = {queued, twin, byRegistration};

    secondAt(60);
    EXPECT_TRUE(g_removals.empty());
    secondAt(61);
    ASSERT_EQ(g_removals.size(), 1u);  // the first match per live aircraft, no more
    EXPECT_EQ(g_removals.front(), 301u);
    EXPECT_EQ(g_staticAc[0].status, kAcCreationQueued);
    EXPECT_EQ(g_staticAc[1].status, kAcRemovalRequested);

    secondAt(122);
    ASSERT_EQ(g_removals.size(), 2u);
    EXPECT_EQ(g_removals.back(), 302u);
}

TEST_F(Timers, TwentyMinuteRenewalRunsInTwoPasses) {
    g_standFileLoaded = true;
    g_parkAirportCode = "EHAM";
    g_parkPositions = {ParkPos{"A1", {}, 52.3, 4.76, 0.0, 0.0, false, false, false}};
    g_parkingModeChanged = 1;

    secondAt(1200);
    EXPECT_TRUE(g_parkingRenewalRequest.load());
    EXPECT_EQ(m_calls.count("logUnmatchedAircraft"), 1);
    EXPECT_EQ(g_nextRenewalMinutes.load(), 20);

    secondAt(1215);  // pass 1: collect what the traffic reader sees
    EXPECT_TRUE(g_renewalCollecting.load());
    EXPECT_TRUE(g_collectSeenTraffic.load());
    EXPECT_EQ(m_calls.count("disableParkingControls"), 1);
    EXPECT_EQ(m_calls.count("adjustParking(mode)"), 0);

    secondAt(1230);  // pass 2: adjust, with the parking mode the window left
    EXPECT_FALSE(g_renewalCollecting.load());
    EXPECT_FALSE(g_parkingRenewalRequest.load());
    EXPECT_EQ(m_calls.count("adjustParking(mode)"), 1);
    EXPECT_EQ(g_parkingModeChanged.load(), kParkingModeUnchanged);

    secondAt(1245);
    EXPECT_EQ(m_calls.count("disableParkingControls"), 1);
}

TEST_F(Timers, RenewalIsRequestedOnlyWhenParkingMayChange) {
    secondAt(1200);  // no stand file loaded
    EXPECT_FALSE(g_parkingRenewalRequest.load());

    g_standFileLoaded = true;
    g_INITIAL_LOAD_ONLY.set(true);
    secondAt(2400);
    EXPECT_FALSE(g_parkingRenewalRequest.load());

    g_RT_PARKTRAFFIC_ONLY.set(true);
    secondAt(3600);
    EXPECT_TRUE(g_parkingRenewalRequest.load());
}

TEST_F(Timers, RenewalWithNothingToAdjustGivesTheParkingControlsBack) {
    g_parkingRenewalRequest = true;  // e.g. a new time shift, with no park airport active
    secondAt(15);
    EXPECT_EQ(g_parkingBusy.load(), 1);
    secondAt(30);
    EXPECT_EQ(m_calls.count("adjustParking"), 0);
    EXPECT_EQ(m_calls.count("enableParkingControls"), 1);
    EXPECT_EQ(g_parkingBusy.load(), 0);
    EXPECT_FALSE(g_parkingRenewalRequest.load());

    // ...so that a "Re-read" is taken again.
    g_reReadRequest = true;
    secondAt(45);
    EXPECT_FALSE(g_reReadRequest.load());
    EXPECT_EQ(m_calls.count("checkReservedStand"), 1);
}

TEST_F(Timers, CounterStartsOverAfterADay) {
    g_liveryByHexid[0x4840d6] = "KLM livery";
    secondAt(86400);
    EXPECT_EQ(g_seconds.load(), 0);
    EXPECT_EQ(m_calls.count("liveryMatchingSummary"), 1);
    EXPECT_TRUE(g_liveryByHexid.empty());
    g_secondTick = true;
    lf_workZNTV();
    EXPECT_EQ(g_seconds.load(), 1);
}

// The time shift follows the simulator's time only between calendar times: an absurd time or reference
// changes nothing and is logged once, where its difference used to overflow.
TEST_F(Timers, ASimulatorTimeOutsideTheCalendarLeavesTheTimeShiftAlone) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const std::int64_t now = gf_now();
    struct Times {
        std::int64_t simulator, reference;
    };
    const Times absurd[] = {
        {kMin, 0}, {kMax, 0}, {now, kMin}, {now, kMax}, {kMax, kMin}, {-(1LL << 62), 1LL << 62},
    };
    g_rtProfessional = true;
    g_SIM_TIME.set(true);
    std::int32_t n = 1;
    for (const Times& t : absurd) {
        g_simEpochTime = t.simulator;
        g_simTimeReference = t.reference;
        secondAt(n++);
        EXPECT_EQ(g_simTimeReference.load(), t.reference) << t.simulator;
        EXPECT_EQ(g_timeShiftMinutes.load(), 0) << t.simulator;
        EXPECT_FALSE(g_timeShifted.load()) << t.simulator;
    }
    const auto lines = logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("time out of range") != std::string::npos; }),
              1);

    // A calendar time is followed again: two hours behind the clock.
    g_simEpochTime = now - 7200;
    g_simTimeReference = 0;
    secondAt(n);
    EXPECT_EQ(g_timeShiftMinutes.load(), 120);
    EXPECT_EQ(g_simTimeReference.load(), now - 7200);
}

TEST_F(Timers, StopRequestEndsTheLoopAlsoWhileNoFlightRuns) {
    g_flightRunning = false;
    EXPECT_TRUE(lf_workZNTV());
    g_quitRequested = true;
    EXPECT_FALSE(lf_workZNTV());
    g_quitRequested = false;
    g_stopRequested = true;
    EXPECT_FALSE(lf_workZNTV());
}

TEST_F(Timers, WithoutAFlightTheTickOnlyKeepsHouseOncePerHundredTicks) {
    g_flightRunning = false;
    gf_setAiRunning(true);
    for (int i = 0; i < 250; ++i) lf_workZNTV();
    EXPECT_EQ(m_calls.count("setTrafficBox"), 2);
    EXPECT_FALSE(g_aiRunning.load());
    const auto paused = [this] {
        int n = 0;
        for (const auto& l : logLines()) n += l.ends_with(" Flight not running");
        return n;
    };
    EXPECT_EQ(paused(), 1);

    g_flightRunning = true;
    g_secondTick = true;
    lf_workZNTV();
    EXPECT_TRUE(g_aiRunning.load());
    EXPECT_FALSE(g_flightPaused.load());
    EXPECT_TRUE(logLines().back().ends_with(" Flight resumed"));

    g_flightRunning = false;
    lf_workZNTV();
    EXPECT_EQ(paused(), 2);
}

TEST_F(Timers, CollisionWithTheUserWaitsForTheUsersWingSpan) {
    g_COLLISION_USER_GND.set(true);
    g_userOnGround = true;
    g_userPos.latitude = 52.3;
    g_userPos.longitude = 4.76;
    LiveAc close;
    close.onGround = true;
    close.status = kAcInSim;
    close.objectId = 120;
    close.halfSpan = 0.01;
    close.latitude = 52.3;
    close.longitude = 4.7601;  // about 0.004 nm away
    g_liveAc.push_back(close);

    ASSERT_FALSE(gf_userHalfWingSpanKnown());
    secondAt(1);
    EXPECT_EQ(g_liveAc[0].status, kAcInSim);

    g_userHalfWingSpan = 0.01;
    secondAt(2);
    EXPECT_EQ(g_liveAc[0].status, kAcRemovalRequested);
    ASSERT_EQ(g_removals.size(), 1u);
    EXPECT_EQ(g_removals.front(), 120u);
}

TEST_F(Timers, AirborneUserOffersLiveAircraftToTheConflictCheck) {
    // The airborne check does not wait for the user's wing span, which it does not use.
    ASSERT_FALSE(gf_userHalfWingSpanKnown());
    g_userOnGround = false;
    g_liveAc.resize(3);
    secondAt(1);
    EXPECT_EQ(m_calls.count("removeLiveConflictingWithUser"), 3);
    g_COLLISION_USER_AIR.set(false);
    secondAt(2);
    EXPECT_EQ(m_calls.count("removeLiveConflictingWithUser"), 3);
}

TEST_F(Timers, BlockRequestRemovesTheBlockedCallsignOnly) {
    LiveAc a;
    a.callsign = "KLM1";
    a.status = kAcInSim;
    a.objectId = 200;
    g_liveAc = {a};
    g_blockRequest = true;
    secondAt(1);  // BLOCK_CALLSIGN empty: nothing to remove
    EXPECT_FALSE(g_blockRequest.load());
    EXPECT_TRUE(g_removals.empty());

    g_BLOCK_CALLSIGN.set("KLM1");
    g_blockRequest = true;
    secondAt(2);
    EXPECT_FALSE(g_blockRequest.load());
    EXPECT_EQ(g_liveAc[0].status, kAcRemovalRequested);
}

TEST_F(Timers, ReaderErrorEndsTheRunWithSystemError) {
    g_readerError = true;
    secondAt(15);
    EXPECT_TRUE(g_exitRequests.empty());
    secondAt(30);
    EXPECT_TRUE(logHas("Error 1001: RT error"));
    EXPECT_EQ(g_exitRequests, std::vector<std::uint32_t>{7});
    EXPECT_FALSE(secondAt(31));  // the loop ends
}

TEST_F(Timers, ATimerFailureIsLoggedByEachTimerOnItsWayOut) {
    Subsystems s = fakes();
    s.setTrafficBox = [] { throw std::runtime_error("box failed"); };
    gf_setSubsystems(s);
    EXPECT_THROW(secondAt(15), std::runtime_error);
    EXPECT_TRUE(logHas("lf_every5Seconds: box failed"));
    EXPECT_TRUE(logHas("lf_workZNTV: box failed"));
}

TEST_F(Timers, WindowRequestsAreCarriedOutBeforeTheTimers) {
    AiAc st;
    st.status = kAcInSim;
    st.objectId = 150;
    g_staticAc = {st};
    gf_postWorkRequest({.kind = WorkRequestKind::NavLights, .on = false});
    gf_postWorkRequest({.kind = WorkRequestKind::EnforceMaxLive, .on = true, .value = 12});
    gf_postWorkRequest({.kind = WorkRequestKind::RemoveAllAircraft});
    secondAt(1);
    EXPECT_EQ(g_maxLiveInForce.load(), 12);
    EXPECT_EQ(m_calls.count("enforceMaxLive"), 1);
    ASSERT_EQ(g_staticAc.size(), 1u);  // stays until the simulator confirms the removal
    EXPECT_EQ(g_staticAc[0].status, kAcRemovalRequested);
    ASSERT_EQ(g_clientEventQueue.size(), 1u);
    EXPECT_EQ(g_clientEventQueue[0].eventID, kEventNavLightsSet);
    EXPECT_EQ(g_clientEventQueue[0].objectID, 150u);
    EXPECT_EQ(g_removals, std::deque<std::uint32_t>{150});
    EXPECT_TRUE(gf_takeWorkRequests().empty());
}

}  // namespace
}  // namespace run_test
