// The link's dispatch of received messages, fed message by message: the simulator's name check, flight and
// new-flight events, the user aircraft's data and the one-second tick, refused creations, AI objects
// announced and matched by callsign, what goes to the work thread, and the pending lists that must not grow.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "airports/services.h"
#include "frame/errors.h"
#include "frame/settings.h"
#include "injection/services.h"
#include "link_test_env.h"
#include "sim_messages.h"
#include "trafficservice/runtime_services.h"

namespace {

using namespace sim_msg;

class Dispatch : public link_test::LinkEnv {
protected:
    void SetUp() override {
        LinkEnv::SetUp();
        posted();
        lf_resetWorld();
    }
    void TearDown() override {
        posted();
        lf_resetWorld();
        LinkEnv::TearDown();
    }
    static void lf_resetWorld() {
        g_parkPositions.clear();
        g_parkAirports.clear();
        g_parkAirportCode.clear();
        g_userPos = UserAcData{};
        g_rtProfessional = false;
    }
    std::uint32_t exitReason() { return caught().exitRequests > 0 ? g_exitReason.load() : 0u; }

    void expectUserError(const ByteVec& m, const std::string& what) {
        try {
            dispatch(m);
            ADD_FAILURE() << "no user error for: " << what;
        } catch (const qtm::UserErrorException& e) {
            EXPECT_EQ(std::string(e.what()), what);
        }
    }
};

// ---- The simulator's name ----

TEST_F(Dispatch, AVersionFiveOrSixSimulatorIsAcceptedAsTheSettingsExpectIt) {
    g_simMajorVersion = 5;
    dispatch(open("Lockheed Martin\xAE Prepar3D\xAE v5"));
    EXPECT_TRUE(g_simConnected.load());
    EXPECT_EQ(gf_displayText(&MainWindow::g_simName), "Lockheed Martin Prepar3D v5 (5.4.9.28482)");
    EXPECT_TRUE(logHas("Lockheed Martin Prepar3D v5 (5.4.9.28482) connected"));
    EXPECT_TRUE(caught().shown(""));  // the waiting message is cleared

    // A v6 simulator with the major version set to 6, and a v5 simulator found by its install path.
    g_simMajorVersion = 6;
    EXPECT_NO_THROW(dispatch(open("Lockheed Martin Prepar3D v6", 6, 0, 20, 0)));
    g_SIM_INSTALL_PATH.set("D:\\Prepar3D V5");
    EXPECT_NO_THROW(dispatch(open("Lockheed Martin Prepar3D v5")));
}

TEST_F(Dispatch, AnotherVersionOrAnotherSimulatorIsRefusedWithError78) {
    ASSERT_TRUE(m_ui->createWindow("ZNTV_P3D", 0, 0, 880, 560, {}));
    ASSERT_TRUE(m_ui->createControl(ui::ControlKind::EditField, g_ALL_INSTALL_PATH.controlId, 0, 0, 10, 10, ""));
    m_ui->setEnabled(g_ALL_INSTALL_PATH.controlId, false);
    g_simMajorVersion = 6;
    g_SIM_INSTALL_PATH.set("C:\\Program Files\\Lockheed Martin\\Prepar3D v6");
    expectUserError(open("Lockheed Martin\xAE Prepar3D\xAE v5"),
                    "78: wrong P3D version \"Lockheed Martin Prepar3D v5 (5.4.9.28482)\" connects ... ?");
    // The user may type another install path now.
    EXPECT_TRUE(m_ui->isEnabled(g_ALL_INSTALL_PATH.controlId));

    g_simMajorVersion = 5;
    g_SIM_INSTALL_PATH.set("");
    expectUserError(open("Lockheed Martin Prepar3D v4"),
                    "78: wrong P3D version \"Lockheed Martin Prepar3D v4 (5.4.9.28482)\" connects ... ?");
    expectUserError(open("Kitty\xAEHawk", 11), "78: KittyHawk, (MSFS) not being P3D connects ... ?");
    expectUserError(open("SunRise"), "78: SunRise, (MSFS) not being P3D connects ... ?");
}

TEST_F(Dispatch, AnEmptySimulatorNameIsOnlyLogged) {
    dispatch(open(""));
    EXPECT_FALSE(g_simConnected.load());
    EXPECT_TRUE(logHas("! Simulator name empty?"));
}

// ---- The user aircraft ----

TEST_F(Dispatch, TheOnGroundReportIsTheSecondTickAndCountsOnlyOnceTheUserIsPlaced) {
    dispatch(userOnGround(true));
    EXPECT_TRUE(g_secondTick.exchange(false));
    EXPECT_FALSE(g_userOnGroundKnown.load());  // still at 0/0: the simulator has not placed the aircraft

    dispatch(userPosition(47.45, 8.55));
    dispatch(userOnGround(true));
    EXPECT_TRUE(g_secondTick.exchange(false));
    EXPECT_TRUE(g_userOnGroundKnown.load());
    EXPECT_TRUE(g_userOnGround.load());
    dispatch(userOnGround(false));
    EXPECT_FALSE(g_userOnGround.load());
}

TEST_F(Dispatch, TheUserPositionIsKeptWithItsObjectIdAndNeverBelowZeroFeet) {
    dispatch(userPosition(47.45, 8.55, 7, -40.0, 12.0));
    const UserAcData u = gf_getUserPosition();
    EXPECT_DOUBLE_EQ(u.latitude, 47.45);
    EXPECT_DOUBLE_EQ(u.altitude, 0.0);
    EXPECT_DOUBLE_EQ(u.groundSpeed, 12.0);
    EXPECT_EQ(g_userObjectId.load(), 7u);
}

TEST_F(Dispatch, AJumpOfMoreThanTenMilesIsANewFlight) {
    dispatch(userPosition(47.0, 8.0));  // from the origin: the first real position, no jump
    EXPECT_EQ(caught().exitRequests.load(), 0);
    dispatch(userPosition(47.16, 8.0));  // 9.6 nm
    EXPECT_EQ(caught().exitRequests.load(), 0);
    dispatch(userPosition(47.34, 8.0));  // 10.8 nm
    EXPECT_EQ(exitReason(), 2u);
    EXPECT_EQ(caught().exitDelay.load(), 30u);
    EXPECT_TRUE(logHas("Teleport"));
}

TEST_F(Dispatch, TheSimulatorsZuluTimeIsKeptForProfessionalLicencesOnly) {
    const auto at = [](std::int64_t seconds, std::int64_t day, std::int64_t year) {
        return objectData(kRequestUserPosition, 1, kDefineUserPosition, userAcBlock(47, 8, 0, 0, seconds, day, year));
    };
    dispatch(at(0, 61, 2024));
    EXPECT_EQ(g_simEpochTime.load(), 0);
    g_rtProfessional = true;
    dispatch(at(0, 61, 2024));
    EXPECT_EQ(g_simEpochTime.load(), 1709251200);  // 1 March 2024, 00:00 UTC
    dispatch(at(0, 1, 2025));
    EXPECT_EQ(g_simEpochTime.load(), 1735689600);  // 1 January 2025
    dispatch(at(45296, 366, 2024));
    EXPECT_EQ(g_simEpochTime.load(), 1735648496);  // 31 December 2024, 12:34:56
    dispatch(at(86399, 365, 2025));
    EXPECT_EQ(g_simEpochTime.load(), 1767225599);  // 31 December 2025, 23:59:59
}

// The data block is read as it comes: values outside a calendar leave the simulator time as it was, are
// logged once, and never reach the date arithmetic (where they overflowed).
TEST_F(Dispatch, AZuluTimeOutsideTheCalendarIsRefusedAndLoggedOnce) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    struct Zulu {
        std::int64_t seconds, day, year;
    };
    const Zulu absurd[] = {
        {0, kMax, 2024}, {0, kMin, 2024}, {0, 0, 2024},     {0, 367, 2024},   {0, 366, 2025},
        {kMax, 1, 2024}, {kMin, 1, 2024}, {-1, 1, 2024},    {86400, 1, 2024}, {0, 1, kMax},
        {0, 1, kMin},    {0, 1, 32768},   {0, 1, -32768},   {0, 1, 1LL << 32}, {kMax, kMax, kMax},
    };
    g_rtProfessional = true;
    dispatch(objectData(kRequestUserPosition, 1, kDefineUserPosition, userAcBlock(47, 8, 0, 0, 0, 61, 2024)));
    ASSERT_EQ(g_simEpochTime.load(), 1709251200);
    for (const Zulu& z : absurd) {
        dispatch(objectData(kRequestUserPosition, 1, kDefineUserPosition,
                            userAcBlock(47, 8, 0, 0, z.seconds, z.day, z.year)));
        EXPECT_EQ(g_simEpochTime.load(), 1709251200) << z.seconds << " s, day " << z.day << ", year " << z.year;
    }
    const auto lines = logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("zulu time out of range") != std::string::npos; }),
              1);
    EXPECT_TRUE(logHas("! Simulator zulu time out of range: year 2024, day 9223372036854775807, second 0"));
}

// ---- Stands: looked up by the work thread ----

TEST_F(Dispatch, TheStandUnderTheUserIsLookedUpByTheWorkThreadNotTheLink) {
    g_parkPositions = {{"A12", {}, 47.45, 8.55, 0.0, 0.0, false, false, false},
                       {"B3", {}, 47.46, 8.56, 0.0, 0.0, false, false, false}};
    dispatch(userPosition(47.4501, 8.5501));
    dispatch(userOnGround(true));  // a user aircraft in the air stands on no stand
    EXPECT_EQ(gf_displayText(&MainWindow::g_userStandShown), "");
    gf_handleLinkRequests();
    EXPECT_EQ(gf_displayText(&MainWindow::g_userStandShown), "A12");
    dispatch(userPosition(47.40, 8.50));  // on no stand
    gf_handleLinkRequests();
    EXPECT_EQ(gf_displayText(&MainWindow::g_userStandShown), "");
}

TEST_F(Dispatch, ANewFlightRecordsTheUserStandAtTheActiveParkAirportOnTheWorkThread) {
    g_parkPositions = {{"A12", {}, 47.45, 8.55, 0.0, 0.0, false, false, false}};
    g_parkAirports = {{"LSZH", "", 47.46, 8.55, 0.5}};
    g_parkAirportCode = "LSZH";
    dispatch(userPosition(47.45, 8.55));
    dispatch(userOnGround(true));
    dispatch(event(kEventFlightLoaded));
    EXPECT_EQ(g_parkAirports[0].reservedStand, "");
    gf_handleLinkRequests();
    EXPECT_EQ(g_parkAirports[0].reservedStand, "A12");
}

TEST_F(Dispatch, TheUserStandIsNotRecordedWhileTheUserMovesOrAwayFromTheActiveAirport) {
    g_parkPositions = {{"A12", {}, 47.45, 8.55, 0.0, 0.0, false, false, false}};
    g_parkAirports = {{"LSZH", "", 47.46, 8.55, 0.5}};
    g_parkAirportCode = "LSZH";
    dispatch(userPosition(47.45, 8.55));
    dispatch(userOnGround(true));
    g_userPos.groundSpeed = 2.5;
    lf_checkUserStand();
    EXPECT_EQ(g_parkAirports[0].reservedStand, "");
    g_userPos.groundSpeed = 2.0;
    g_parkAirportCode = "LSGG";
    lf_checkUserStand();
    EXPECT_EQ(g_parkAirports[0].reservedStand, "");
    g_parkAirportCode = "LSZH";
    lf_checkUserStand();
    EXPECT_EQ(g_parkAirports[0].reservedStand, "A12");
}

// ---- Exceptions ----

TEST_F(Dispatch, ARefusedCreationFindsItsPendingEntryAndGoesToTheWorkThread) {
    g_pendingCreations = {{40, 0x4B1234, "SWR12"}, {41, 17, "STATIC17*"}, {42, 0, "STATIC0*"}};
    dispatch(exception(22, 41));
    dispatch(exception(22, 99));  // nothing of ours
    // The static aircraft with id 0 is one of ours like any other.
    dispatch(exception(22, 42));
    const auto m = posted();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].type, kSimMsgCreationFailed);
    EXPECT_EQ(m[0].objectId, 0u);
    EXPECT_EQ(m[0].id, 17u);
    EXPECT_EQ(m[1].type, kSimMsgCreationFailed);
    EXPECT_EQ(m[1].id, 0u);
    ASSERT_EQ(g_pendingCreations.size(), 1u);
    EXPECT_EQ(g_pendingCreations[0].callsign, "SWR12");
}

TEST_F(Dispatch, OtherExceptionsAreShownLoggedOrEndTheLink) {
    expectUserError(exception(5, 7, 3), "95: Simconnect Version Mismatch, dwindex: 3 ");
    dispatch(exception(11, 7));
    EXPECT_TRUE(caught().shown("SimConnect: too many objects (max 1000)"));
    dispatch(exception(19, 7));
    dispatch(exception(23, 7));
    dispatch(exception(31, 7));
    EXPECT_TRUE(logHas("SIMCON EXCEP 19"));
    EXPECT_TRUE(logHas("===> Simconnect exception: load flight plan failed"));
    EXPECT_TRUE(logHas("===> SIMCON EXCEP 31"));
    // An unknown id is harmless while the user aircraft is not placed yet.
    dispatch(exception(3, 7));
    EXPECT_FALSE(logHas("===> SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID"));
    dispatch(userPosition(47.45, 8.55));
    dispatch(exception(3, 7));
    EXPECT_TRUE(logHas("===> SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID"));
}

// ---- AI objects ----

TEST_F(Dispatch, AnAnnouncedObjectIsMatchedByCallsignTakenOverAndReportedAsCreated) {
    dispatch(userPosition(47.45, 8.55, 1));
    g_pendingCreations = {{10, 0x4B1234, "SWR12"}, {11, 77, "STATIC77*"}};
    dispatch(added(150));
    dispatch(added(151));
    dispatch(added(1));                    // the user's own object is not ours to match
    dispatch(added(152, 10));              // nor anything that is not an aircraft
    ASSERT_EQ(g_newlyAddedObjects.size(), 2u);

    dispatch(inRange(150, "SWR12", 1200.0, 1416.0, false));
    dispatch(inRange(151, "STATIC77*", 0.0, 1416.0, true));
    const auto m = posted();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].type, kSimMsgLiveCreated);
    EXPECT_EQ(m[0].objectId, 150u);
    EXPECT_EQ(m[0].id, 0x4B1234u);
    EXPECT_DOUBLE_EQ(m[0].b, 1200.0);
    EXPECT_EQ(m[1].type, kSimMsgStaticCreated);
    EXPECT_EQ(m[1].objectId, 151u);
    EXPECT_EQ(m[1].id, 77u);
    EXPECT_DOUBLE_EQ(m[1].b, 0.0);
    EXPECT_TRUE(g_pendingCreations.empty());
    EXPECT_TRUE(g_newlyAddedObjects.empty());
    // Frozen in place for the work thread to move.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> frozen;
    for (const auto& e : g_clientEventQueue) {
        EXPECT_EQ(e.data, 1u);
        frozen.emplace_back(e.objectID, e.eventID);
    }
    EXPECT_EQ(frozen, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                          {150, kEventFreezeLatLonSet}, {150, kEventFreezeAltitudeSet}, {150, kEventFreezeAttitudeSet},
                          {151, kEventFreezeLatLonSet}, {151, kEventFreezeAltitudeSet}, {151, kEventFreezeAttitudeSet}}));
}

TEST_F(Dispatch, AnObjectSomebodyElseCreatedIsLoggedAndLeftAlone) {
    dispatch(userPosition(47.45, 8.55, 1));
    g_pendingCreations = {{10, 0x4B1234, "SWR12"}};
    dispatch(added(160));
    dispatch(inRange(160, "N123AB", 0.4, 1416.0, true));
    EXPECT_TRUE(logHas("just spawned, but not by ZNTV_P3D, oid: 160, callsign \"N123AB\", altaboveGnd:0 ft, "
                       "onground:1, gnd_alt:1416 ft "));
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(g_pendingCreations.size(), 1u);
    EXPECT_TRUE(g_clientEventQueue.empty());
}

TEST_F(Dispatch, AircraftInRangeAreReportedWhenLowAndWithACallsignOfTheirOwn) {
    dispatch(userPosition(47.45, 8.55, 1));
    dispatch(inRange(200, "DLH4", 2500.0, 1416.0, false));
    dispatch(inRange(201, "DLH5", 2500.5, 1416.0, false));  // too high to matter
    dispatch(inRange(202, "", 10.0, 1416.0, true));         // no callsign
    dispatch(inRange(203, "STATIC9*", 0.0, 1416.0, true));  // a static aircraft of ours
    dispatch(inRange(1, "D-ZNTV", 0.0, 1416.0, true));      // the user
    const auto m = posted();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].type, kSimMsgAircraftReport);
    EXPECT_EQ(m[0].objectId, 200u);
    EXPECT_EQ(m[0].id, 0u);
    EXPECT_DOUBLE_EQ(m[0].a, 1416.0);
    EXPECT_DOUBLE_EQ(m[0].b, 2500.0);
}

TEST_F(Dispatch, RemovedObjectsGoToTheWorkThreadAndLeaveTheAnnouncedList) {
    dispatch(userPosition(47.45, 8.55, 1));
    dispatch(added(170));
    dispatch(removed(170));
    dispatch(removed(171));
    EXPECT_TRUE(g_newlyAddedObjects.empty());
    const auto m = posted();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].type, kSimMsgObjectRemoved);
    EXPECT_EQ(m[0].objectId, 170u);
    EXPECT_EQ(m[1].objectId, 171u);
}

TEST_F(Dispatch, WhatNeverShowsUpInRangeIsGivenUpAfterThirtyReportsAndTheWorkThreadIsTold) {
    dispatch(userPosition(47.45, 8.55, 1));
    dispatch(added(180));
    g_pendingCreations = {{10, 0x4B0001, "EZY1"}, {11, 0x4B0002, "EZY2"}};
    // A report of one entry (the user) is a whole round.
    const auto rounds = [](std::uint32_t n) {
        for (std::uint32_t round = 0; round < n; ++round) {
            dispatch(inRange(1, "D-ZNTV", 0.0, 1416.0, true, 1, 1));
            dispatch(inRange(1, "D-ZNTV", 0.0, 1416.0, true, 1, 2));  // the middle of a round counts nothing
        }
    };
    rounds(kMaxUnmatchedRounds - 1);
    EXPECT_EQ(g_newlyAddedObjects.size(), 1u);
    EXPECT_TRUE(posted().empty());
    rounds(1);
    EXPECT_TRUE(g_newlyAddedObjects.empty());
    // The work thread hears of each creation given up, or its aircraft would wait for it for good.
    const auto m = posted();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].type, kSimMsgCreationUnanswered);
    EXPECT_EQ(m[0].id, 0x4B0001u);
    // The aircraft's new creation is matched first; the first one, created after all, goes; neither it nor a
    // late refusal reaches the work thread.
    g_pendingCreations.push_back({13, 0x4B0001, "EZY1"});
    dispatch(added(181));
    dispatch(added(182));
    dispatch(inRange(181, "EZY1", 0.0, 1416.0, true));
    dispatch(inRange(182, "EZY1", 0.0, 1416.0, true));
    dispatch(exception(22, 11));
    const auto late = posted();
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].type, kSimMsgLiveCreated);
    EXPECT_EQ(late[0].objectId, 181u);
    EXPECT_EQ(g_removeQueue, std::vector<std::uint32_t>{182});
    EXPECT_TRUE(logHas("===> oid: 182, callsign \"EZY1\" created after it was given up, removed"));
    EXPECT_TRUE(g_pendingCreations.empty());
    g_pendingCreations = {{12, 0x4B0003, "EZY3"}};
    rounds(2 * kMaxUnmatchedRounds);
    EXPECT_TRUE(g_pendingCreations.empty());  // nothing stays for good
}

}  // namespace
