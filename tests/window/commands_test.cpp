#include <gtest/gtest.h>

#include <thread>

#include "window_test_env.h"

using namespace window_test;

namespace {

class CommandsTest : public WindowEnv {
protected:
    void SetUp() override {
        WindowEnv::SetUp();
        openWindow();
    }
};

// What each check box tells the user; "" means the status line is cleared.
struct BoxMessages {
    CheckBoxParameter* box;
    const char* whenOn;
    const char* whenOff;
};

TEST_F(CommandsTest, EveryCheckBoxFlipsSavesAndExplainsItself) {
    // started before the first connection would restart; these run as after it
    m_services.beforeFirstConnection = false;
    const std::vector<BoxMessages> table = {
        {&g_SCAN_LIVERIES,
         "Your liveries will be scanned at the next start of ZNTV_P3D, recommended after you have add/removed AI "
         "aircraft models/liveries",
         ""},
        {&g_SCAN_AIRPORTS,
         "Your airports will be scanned at the next start of ZNTV_P3D, recommended after you have add/removed "
         "airports",
         ""},
        {&g_LIG_AUTOMATIC, "", "The liveries defined by your lfolder parameters will be scanned"},
        {&g_LIG_PRIORITIZE, "Liveries in lower lfolders that are already available will be skipped", ""},
        {&g_AFG_AUTOMATIC, "", "The airports defined by your afolder parameters will be scanned"},
        {&g_INITIAL_LOAD_ONLY, "Initial Load Only: static parked aircraft are generated once, no renewal every 20 minutes",
         ""},
        {&g_COLLISION_LIVE_PARKED_GND, "", "Be aware, no collision avoidance with live aircraft vs parked static on the ground"},
        {&g_COLLISION_USER_GND, "", "Be aware, no collision avoidance with user aircraft on the ground"},
        {&g_COLLISION_USER_AIR, "", "Be aware, no collision avoidance with user aircraft in the air"},
        {&g_SUPPRESS_STUB, "Exclude FSLTL-liveries titles ending with _STUB from scan", ""},
        {&g_ALWAYS_ON_TOP, "ZNTV_P3D's window will remain visible", ""},
        {&g_GUID_CHANGES, "", "Be aware, no more livery updates: you miss correct data for Learn, LittleNavMap, etc.."},
    };
    for (const auto& row : table) {
        for (int round = 0; round < 2; ++round) {
            gf_showMessage("stale", false);
            const bool before = row.box->value();
            ASSERT_TRUE(click(*row.box)) << row.box->key;
            const bool now = row.box->value();
            EXPECT_NE(now, before) << row.box->key;
            EXPECT_EQ(m_ui->isChecked(row.box->controlId), now) << row.box->key;
            EXPECT_EQ(stored(row.box->key), now ? "true" : "false") << row.box->key;
            EXPECT_EQ(gf_statusMessage(), now ? row.whenOn : row.whenOff) << row.box->key << " now " << now;
        }
    }
    // the rest flip and save too, and say nothing
    for (CheckBoxParameter* box : {&g_LOG, &g_LIGHT_AIRCRAFT, &g_HELICOPTERS, &g_HIGH_PERF_AIRCRAFT,
                                   &g_STRAIGHT_PBS_ONLY, &g_KEEP_SIM_TIME_PAR, &g_LEARN_SOFT}) {
        gf_showMessage("stale", false);
        const bool before = box->value();
        ASSERT_TRUE(click(*box)) << box->key;
        EXPECT_NE(box->value(), before) << box->key;
        EXPECT_EQ(stored(box->key), box->value() ? "true" : "false") << box->key;
        EXPECT_EQ(gf_statusMessage(), "stale") << box->key;
    }
    EXPECT_TRUE(m_services.exits.empty());
}

TEST_F(CommandsTest, ScanSwitchedOnBeforeTheFirstConnectionRestartsAtOnce) {
    g_SCAN_LIVERIES.set(false);
    m_ui->setChecked(g_SCAN_LIVERIES.controlId, false);
    ASSERT_TRUE(click(g_SCAN_LIVERIES));
    EXPECT_EQ(gf_statusMessage(), "Your liveries will be scanned");
    EXPECT_TRUE(logHas("Your liveries will be scanned"));
    EXPECT_EQ(m_services.exits, (std::vector<ExitCall>{{3, 2}}));
    // the work thread empties the livery database for the new scan
    EXPECT_EQ(gf_takeWorkRequests(), (std::vector<WorkRequest>{{.kind = WorkRequestKind::ClearLiveryDatabase}}));
    EXPECT_EQ(stored("SCAN_LIVERIES"), "true");  // the restart finds it set

    g_SCAN_AIRPORTS.set(false);
    m_ui->setChecked(g_SCAN_AIRPORTS.controlId, false);
    ASSERT_TRUE(click(g_SCAN_AIRPORTS));
    EXPECT_EQ(gf_statusMessage(), "Your airports will be scanned");
    EXPECT_EQ(m_services.exits.back(), (ExitCall{3, 2}));
    EXPECT_TRUE(gf_takeWorkRequests().empty());
}

TEST_F(CommandsTest, AutoRangeOffRestoresTheRadiusSetBeforeIt) {
    g_AUTO_RANGE.set(false);
    m_ui->setChecked(g_AUTO_RANGE.controlId, false);
    g_LATERAL_RANGE.set(55);
    ASSERT_TRUE(click(g_AUTO_RANGE));  // on
    EXPECT_FALSE(enabled(g_LATERAL_RANGE));
    EXPECT_TRUE(enabled(g_AUTO_RANGE_ABOVE_HEIGHT));
    EXPECT_EQ(g_autoRangeManualValue, 55);
    EXPECT_TRUE(g_parkingParametersChanged);
    EXPECT_EQ(gf_takeWorkRequests(), (std::vector<WorkRequest>{{.kind = WorkRequestKind::AutoTrafficRange}}));

    // the automatic range works meanwhile
    g_LATERAL_RANGE.set(10);
    g_autoRangeAtMinimum = true;
    gf_showMessage("range", false);
    ASSERT_TRUE(click(g_AUTO_RANGE));  // off
    EXPECT_EQ(g_LATERAL_RANGE.value(), 55);
    EXPECT_FALSE(g_autoRangeAtMinimum);
    EXPECT_EQ(g_trafficRangeNm.load(), 55.0);
    EXPECT_EQ(g_trafficRangeMeters.load(), 55 * 1852 + 10000);
    EXPECT_EQ(fieldText(g_LATERAL_RANGE), "55");
    EXPECT_TRUE(enabled(g_LATERAL_RANGE));
    EXPECT_FALSE(enabled(g_AUTO_RANGE_ABOVE_HEIGHT));
    EXPECT_EQ(gf_statusMessage(), "");
    EXPECT_TRUE(gf_takeWorkRequests().empty());
}

TEST_F(CommandsTest, NavLightsAreLeftToTheWorkThread) {
    ASSERT_TRUE(click(g_NAV_LIGHTS_WHILE_PARKED));  // default on: now off
    ASSERT_TRUE(click(g_NAV_LIGHTS_WHILE_PARKED));
    EXPECT_EQ(gf_takeWorkRequests(), (std::vector<WorkRequest>{{.kind = WorkRequestKind::NavLights, .on = false},
                                                               {.kind = WorkRequestKind::NavLights, .on = true}}));
}

TEST_F(CommandsTest, ParkTrafficOnlySwitchesTheParkingControlsAndTellsTheParking) {
    m_services.standFileLoaded = true;
    m_services.seconds = 20;
    ASSERT_TRUE(click(g_RT_PARKTRAFFIC_ONLY));
    EXPECT_FALSE(enabled(g_parking_percentage));
    EXPECT_FALSE(enabled(g_PARK_FAKE));
    EXPECT_EQ(fieldText(g_MAX_FIT_FL), "");
    EXPECT_EQ(g_parkingModeChanged, 1);
    EXPECT_TRUE(g_parkingParametersChanged);
    EXPECT_TRUE(g_parkingRenewalRequest);
    EXPECT_EQ(gf_statusMessage(), "ZNTV_P3D will respond in 10 seconds ...");
    const auto invalidated = m_ui->invalidatedRects();
    EXPECT_NE(std::find(invalidated.begin(), invalidated.end(), kParkingBand), invalidated.end());

    g_parkingModeChanged = kParkingModeUnchanged;  // taken by the parking
    ASSERT_TRUE(click(g_RT_PARKTRAFFIC_ONLY));
    EXPECT_EQ(g_parkingModeChanged, 0);  // switched off is a change too
    EXPECT_TRUE(enabled(g_parking_percentage));
}

TEST_F(CommandsTest, ParkingRefreshNeedsAStandFileAndRespectsInitialLoadOnly) {
    ASSERT_TRUE(click(g_PARK_SOFT));
    EXPECT_FALSE(g_parkingParametersChanged);
    EXPECT_FALSE(g_parkingRenewalRequest);

    m_services.standFileLoaded = true;
    m_services.seconds = 15;
    ASSERT_TRUE(click(g_WEEK));
    EXPECT_EQ(gf_statusMessage(), "ZNTV_P3D will respond in 15 seconds ...");
    EXPECT_TRUE(g_parkingRenewalRequest);

    g_parkingRenewalRequest = false;
    m_services.seconds = 29;
    ASSERT_TRUE(click(g_PARK_FAKE));
    EXPECT_EQ(gf_statusMessage(), "ZNTV_P3D will respond in 1 second ...");

    g_parkingRenewalRequest = false;
    g_INITIAL_LOAD_ONLY.set(true);
    gf_showMessage("stale", false);
    ASSERT_TRUE(click(g_PARK_FAKE));
    EXPECT_EQ(gf_statusMessage(), "");
    EXPECT_FALSE(g_parkingRenewalRequest);
    EXPECT_TRUE(g_parkingParametersChanged);
}

TEST_F(CommandsTest, SimTimeSwitchesTheTimeShiftFields) {
    g_TIME_SHIFT_HOURS.set(3);
    m_services.simEpochTime = 1'700'000'000;
    ASSERT_TRUE(click(g_SIM_TIME));  // on
    EXPECT_FALSE(enabled(g_TIME_SHIFT_DAYS));
    EXPECT_EQ(g_simTimeReference, 0);

    ASSERT_TRUE(click(g_SIM_TIME));  // off: the shift starts again from 0
    EXPECT_TRUE(enabled(g_TIME_SHIFT_DAYS));
    EXPECT_EQ(g_TIME_SHIFT_HOURS.value(), 0);
    EXPECT_EQ(stored("TIME_SHIFT_HOURS"), "0");
    EXPECT_EQ(fieldText(g_TIME_SHIFT_HOURS), "");
    EXPECT_EQ(gf_statusMessage(), "Time shift = 0");
    EXPECT_EQ(g_simTimeReference, 1'700'000'000);
    EXPECT_EQ(gf_takeWorkRequests(), (std::vector<WorkRequest>{{.kind = WorkRequestKind::RemoveAllAircraft}}));
}

TEST_F(CommandsTest, StayOnTopPlacesTheWindow) {
    ASSERT_TRUE(click(g_ALWAYS_ON_TOP));
    EXPECT_TRUE(m_ui->windowState()->topmost);
    ASSERT_TRUE(click(g_ALWAYS_ON_TOP));
    EXPECT_FALSE(m_ui->windowState()->topmost);
}

TEST_F(CommandsTest, ParkingChangesAreFlaggedOnlyWithAStandFile) {
    ASSERT_TRUE(click(g_LEARN_SOFT));
    ASSERT_TRUE(click(g_INITIAL_LOAD_ONLY));
    EXPECT_FALSE(g_parkingParametersChanged);
    m_services.standFileLoaded = true;
    ASSERT_TRUE(click(g_LEARN_SOFT));
    EXPECT_TRUE(g_parkingParametersChanged);
}

TEST_F(CommandsTest, Buttons) {
    ASSERT_TRUE(click(g_Unblock));
    EXPECT_EQ(gf_statusMessage(), "Nothing to block or unblock...");
    EXPECT_FALSE(g_blockRequest);

    g_BLOCK_CALLSIGN.set("DLH123");
    ASSERT_TRUE(click(g_Unblock));
    EXPECT_EQ(g_BLOCK_CALLSIGN.value(), "");
    EXPECT_EQ(gf_statusMessage(), "no more blocking of live aircraft \"DLH123\"");
    EXPECT_TRUE(logHas("no more blocking of live aircraft \"DLH123\""));
    EXPECT_TRUE(g_blockRequest);
    EXPECT_FALSE(enabled(g_Unblock));

    m_ui->setEnabled(g_DESTINATION.controlId, true);
    ASSERT_TRUE(click(g_Re_read));
    EXPECT_TRUE(g_reReadRequest);
    EXPECT_FALSE(enabled(g_Re_read));
    EXPECT_FALSE(enabled(g_DESTINATION));

    m_ui->setEnabled(g_Flush_static.controlId, true);
    ASSERT_TRUE(click(g_Flush_static));
    EXPECT_EQ(gf_statusMessage(), "All static parked aircraft will be removed ...");
    EXPECT_TRUE(g_removeAllStaticRequest);
    EXPECT_FALSE(enabled(g_Flush_static));
}

TEST_F(CommandsTest, UnknownIdChangesNothingButRepaintsTheSettingsBand) {
    gf_showMessage("kept", false);
    m_ui->clearInvalidated();
    EXPECT_TRUE(lf_HandleWMCOMMAND(12345));
    EXPECT_EQ(m_ui->invalidatedRects(), (std::vector<ui::Rect>{kMiddleBand}));
    EXPECT_EQ(gf_statusMessage(), "kept");
    EXPECT_FALSE(lf_HandleWMCOMMAND(g_LOG.controlId));
}

TEST_F(CommandsTest, RequestsArriveWholeAndInOrderFromManyThreads) {
    std::vector<std::jthread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([t] {
            for (int i = 0; i < 100; ++i)
                gf_postWorkRequest({.kind = WorkRequestKind::EnforceMaxLive, .on = true, .value = t * 1000 + i});
        });
    }
    std::vector<WorkRequest> taken;
    while (taken.size() < 400) {
        for (auto& r : gf_takeWorkRequests()) taken.push_back(std::move(r));
        std::this_thread::yield();
    }
    posters.clear();
    EXPECT_TRUE(gf_takeWorkRequests().empty());
    std::vector<int> next(4, 0);
    for (const auto& r : taken) {
        const int t = r.value / 1000;
        EXPECT_EQ(r.value % 1000, next[t]++);
    }
}

}  // namespace
