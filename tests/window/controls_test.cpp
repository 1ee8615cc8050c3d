#include <gtest/gtest.h>

#include <fmt/format.h>

#include "window_test_env.h"

using namespace window_test;

namespace {

class ControlsTest : public WindowEnv {
protected:
    void SetUp() override {
        WindowEnv::SetUp();
        ASSERT_TRUE(gf_createMainWindow());
    }
};

TEST_F(ControlsTest, ControlsStartAsTheStartUpFindsThem) {
    // check boxes enabled and set from the settings, fields and buttons disabled until the start-up is done
    for (const auto& c : m_ui->controls()) {
        EXPECT_EQ(c.enabled, c.kind == ui::ControlKind::CheckBox) << c.id;
        if (c.kind == ui::ControlKind::EditField) {
            EXPECT_EQ(c.text, "") << c.id;
        }
    }
    gf_enableSettingsControls();
    EXPECT_TRUE(enabled(g_Unblock));
    EXPECT_TRUE(enabled(g_Re_read));
    EXPECT_TRUE(enabled(g_MATCHING_DEPTH));
    EXPECT_FALSE(enabled(g_Flush_static));
    EXPECT_FALSE(enabled(g_DESTINATION));
    EXPECT_FALSE(enabled(g_parking_percentage));
    EXPECT_FALSE(enabled(g_MAX_FIT_FL));
    EXPECT_EQ(fieldText(g_MAX_FIT_FL), "");
    // AUTO_RANGE is on by default: the automatic range owns the radius
    EXPECT_FALSE(enabled(g_LATERAL_RANGE));
    EXPECT_TRUE(enabled(g_AUTO_RANGE_ABOVE_HEIGHT));
}

TEST_F(ControlsTest, StartUpWithoutTimeShiftLeavesTheFieldsEmpty) {
    lf_initTimeShift();
    EXPECT_EQ(fieldText(g_TIME_SHIFT_DAYS), "");
    EXPECT_EQ(fieldText(g_TIME_SHIFT_HOURS), "");
    EXPECT_EQ(fieldText(g_TIME_SHIFT_MINS), "");
    EXPECT_TRUE(enabled(g_TIME_SHIFT_DAYS));
    EXPECT_TRUE(enabled(g_SIM_TIME));
    EXPECT_FALSE(g_timeShifted);
    EXPECT_EQ(fieldText(g_parking_percentage), "30");
    EXPECT_FALSE(stored("parking_percentage"));  // never stored
    EXPECT_FALSE(enabled(g_LEARN_SOFT));
    EXPECT_FALSE(enabled(g_Unblock));  // nothing blocked
}

TEST_F(ControlsTest, StartUpAppliesAStoredTimeShiftQuietly) {
    g_TIME_SHIFT_DAYS.set(1);
    g_TIME_SHIFT_HOURS.set(2);
    g_TIME_SHIFT_MINS.set(3);
    g_BLOCK_CALLSIGN.set("DLH123");
    lf_initTimeShift();
    EXPECT_EQ(fieldText(g_TIME_SHIFT_DAYS), "1");
    EXPECT_EQ(fieldText(g_TIME_SHIFT_HOURS), "2");
    EXPECT_EQ(fieldText(g_TIME_SHIFT_MINS), "3");
    EXPECT_EQ(g_timeShiftMinutes, 1563);
    EXPECT_TRUE(g_timeShifted);
    EXPECT_EQ(gf_statusMessage(), "");            // quiet
    EXPECT_TRUE(gf_takeWorkRequests().empty());   // nothing to remove at start
    EXPECT_FALSE(g_parkingRenewalRequest);
    EXPECT_TRUE(enabled(g_Unblock));
}

TEST_F(ControlsTest, TimeShiftFieldsAreDisabledWhileSimTimeIsOn) {
    // the shift follows the simulator's clock then; typing one would fight it
    g_SIM_TIME.set(true);
    m_services.simEpochTime = 777;
    lf_initTimeShift();
    EXPECT_FALSE(enabled(g_TIME_SHIFT_DAYS));
    EXPECT_FALSE(enabled(g_TIME_SHIFT_HOURS));
    EXPECT_FALSE(enabled(g_TIME_SHIFT_MINS));
    EXPECT_TRUE(enabled(g_SIM_TIME));
    EXPECT_EQ(g_simTimeReference, 0);

    // the start-up's enabling and a professional licence keep it so
    gf_enableSettingsControls();
    EXPECT_FALSE(enabled(g_TIME_SHIFT_HOURS));
    lf_enableEditControls(true);
    EXPECT_FALSE(enabled(g_TIME_SHIFT_MINS));
    EXPECT_TRUE(enabled(g_KEEP_SIM_TIME_PAR));
}

TEST_F(ControlsTest, StandardLicenceGreysTheTimeLabelsAndAProfessionalOneBringsThemBack) {
    gf_enableSettingsControls();
    lf_enableEditControls(false);
    EXPECT_FALSE(enabled(g_SIM_TIME));
    EXPECT_FALSE(enabled(g_TIME_SHIFT_DAYS));
    auto calls = paint();
    EXPECT_EQ(colourOf(calls, "Sim Time"), kGrey);
    EXPECT_EQ(colourOf(calls, "Time shift:"), kGrey);
    EXPECT_EQ(colourOf(calls, "hours"), kGrey);

    lf_enableEditControls(true);
    calls = paint();
    EXPECT_EQ(colourOf(calls, "Sim Time"), kBlack);
    EXPECT_TRUE(enabled(g_TIME_SHIFT_DAYS));
}

TEST_F(ControlsTest, ParkTrafficOnlyAtStartUpEmptiesAndGreysTheParkingControls) {
    g_RT_PARKTRAFFIC_ONLY.set(true);
    lf_initTimeShift();
    EXPECT_FALSE(enabled(g_parking_percentage));
    EXPECT_FALSE(enabled(g_MAX_FIT_FL));
    EXPECT_EQ(fieldText(g_MAX_FIT_FL), "");
    EXPECT_FALSE(enabled(g_WEEK));
    EXPECT_TRUE(enabled(g_RT_PARKTRAFFIC_ONLY));
    const auto calls = paint();
    for (const char* label : {"Fake", "Week", "Soft", "wanted: ", "%", "ILO", "Max fit:"})
        EXPECT_EQ(colourOf(calls, label), kGrey) << label;
    EXPECT_EQ(colourOf(calls, "PT only"), kBlack);

    g_RT_PARKTRAFFIC_ONLY.set(false);
    gf_updateParkingControls();
    EXPECT_TRUE(enabled(g_MAX_FIT_FL));
    EXPECT_EQ(fieldText(g_MAX_FIT_FL), "24");
}

TEST_F(ControlsTest, LabelColoursCarryState) {
    gf_enableSettingsControls();
    auto calls = paint();
    EXPECT_EQ(colourOf(calls, "generic max park:"), kGrey);
    EXPECT_EQ(colourOf(calls, "max live:"), kGrey);
    EXPECT_EQ(colourOf(calls, "Scan for liveries"), kYellow);  // on by default
    EXPECT_EQ(colourOf(calls, "Stay on top"), kBlack);
    EXPECT_EQ(colourOf(calls, "GUID changes"), kBlack);
    EXPECT_EQ(colourOf(calls, "Light aircraft"), kBlack);
    EXPECT_EQ(colourOf(calls, "ah:"), kBlack);
    EXPECT_EQ(colourOf(calls, "Airport parking"), kBlack);
    EXPECT_EQ(colourOf(calls, "Straight push backs only"), kGrey);

    g_CUSTOM_MAX_PARK.set(0);
    g_GUID_CHANGES.set(false);
    g_AUTO_RANGE.set(false);
    g_INITIAL_LOAD_ONLY.set(true);
    m_ui->setEnabled(g_LIGHT_AIRCRAFT.controlId, false);
    m_services.parkingBusy = 1;
    g_mainWindow.addonAirportCount = 1;
    calls = paint();
    EXPECT_EQ(colourOf(calls, "generic max park:"), kYellow);
    EXPECT_EQ(colourOf(calls, "GUID changes"), kYellow);
    EXPECT_EQ(colourOf(calls, "ah:"), kGrey);
    EXPECT_EQ(colourOf(calls, "ft"), kGrey);
    EXPECT_EQ(colourOf(calls, "ILO"), kYellow);
    EXPECT_EQ(colourOf(calls, "Light aircraft"), kGrey);
    EXPECT_EQ(colourOf(calls, "Airport parking active"), kYellow);
    EXPECT_EQ(colourOf(calls, "1 airport in TBLO folder"), kYellow);
    g_mainWindow.addonAirportCount = 12;
    EXPECT_FALSE(textsOf(paint(), "12 airports in TBLO folder").empty());
}

TEST_F(ControlsTest, RenewalHintOnlyBetweenOneAndNineteenMinutes) {
    m_services.standFileLoaded = true;
    auto hint = [this](int minutes) {
        g_mainWindow.minutesToRenewal = minutes;
        return !textsOf(paint(), fmt::format("(next in {} min)", minutes)).empty();
    };
    EXPECT_FALSE(hint(0));
    EXPECT_TRUE(hint(1));
    EXPECT_TRUE(hint(19));
    EXPECT_FALSE(hint(20));
    // no renewals with initial load only, unless the parking comes from the service alone
    g_INITIAL_LOAD_ONLY.set(true);
    EXPECT_FALSE(hint(5));
    g_RT_PARKTRAFFIC_ONLY.set(true);
    EXPECT_TRUE(hint(5));
    m_services.parkingBusy = 1;
    EXPECT_FALSE(hint(5));
    m_services.parkingBusy = 0;
    m_services.standFileLoaded = false;
    EXPECT_FALSE(hint(5));
}

TEST_F(ControlsTest, TimeShiftLabelsTakeThePluralOfTheirValues) {
    auto labels = [this] {
        const auto calls = paint();
        std::string out;
        for (const auto& c : calls) {
            if (c.kind == ui::DrawCall::Kind::Text && c.from.x == 788) out += c.text + " ";
        }
        return out;
    };
    EXPECT_EQ(labels(), "hours days minutes ");
    g_TIME_SHIFT_HOURS.set(1);
    g_TIME_SHIFT_DAYS.set(2);
    g_TIME_SHIFT_MINS.set(1);
    EXPECT_EQ(labels(), "hour days minute ");
}

}  // namespace
