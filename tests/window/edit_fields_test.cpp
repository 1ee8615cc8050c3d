#include <gtest/gtest.h>

#include <fmt/format.h>

#include "window_test_env.h"

using namespace window_test;

namespace {

class EditFieldsTest : public WindowEnv {
protected:
    void SetUp() override {
        WindowEnv::SetUp();
        openWindow();
        for (ParameterControl* c : gf_windowControls()) m_ui->setEnabled(c->controlId, true);
    }
};

TEST_F(EditFieldsTest, NumbersAreClampedIntoTheirRangeAndSaved) {
    ASSERT_TRUE(enter(g_AIRPORT_RANGE, "500"));
    EXPECT_EQ(g_AIRPORT_RANGE.value(), 30);
    EXPECT_EQ(stored("AIRPORT_RANGE"), "30");
    EXPECT_EQ(fieldText(g_AIRPORT_RANGE), "30");
    EXPECT_EQ(gf_statusMessage(), "The new AIRPORT_RANGE is 30");
    EXPECT_FALSE(logHas("The new AIRPORT_RANGE is 30"));

    ASSERT_TRUE(enter(g_AIRPORT_HEIGHT, "  2500ft"));  // leading blanks skipped, the rest ignored
    EXPECT_EQ(g_AIRPORT_HEIGHT.value(), 2500);
    ASSERT_TRUE(enter(g_AIRPORT_HEIGHT, "-7"));
    EXPECT_EQ(g_AIRPORT_HEIGHT.value(), 2000);
}

TEST_F(EditFieldsTest, BadOrRepeatedInputChangesNothing) {
    ASSERT_TRUE(enter(g_AIRPORT_RANGE, "12"));
    const std::string before = readWholeFile(settingsFile());

    ASSERT_TRUE(enter(g_AIRPORT_RANGE, "12"));
    EXPECT_EQ(gf_statusMessage(), "Same AIRPORT_RANGE value 12, no changes made");
    EXPECT_TRUE(logHas("Same AIRPORT_RANGE value 12, no changes made"));

    ASSERT_TRUE(enter(g_AIRPORT_RANGE, "abc"));
    EXPECT_EQ(gf_statusMessage(), "invalid input: abc");
    EXPECT_TRUE(logHas("invalid input: abc"));
    EXPECT_EQ(fieldText(g_AIRPORT_RANGE), "12");  // the stored value again

    ASSERT_TRUE(enter(g_AIRPORT_RANGE, "99999999999"));
    EXPECT_TRUE(logHas("lf_processTbInt: stoi, h=99999999999 "));
    EXPECT_EQ(g_AIRPORT_RANGE.value(), 12);
    EXPECT_EQ(fieldText(g_AIRPORT_RANGE), "12");
    EXPECT_EQ(readWholeFile(settingsFile()), before);
}

TEST_F(EditFieldsTest, EmptyFieldRestoresTheDefault) {
    g_LATERAL_RANGE.set(70);
    ASSERT_TRUE(enter(g_LATERAL_RANGE, ""));
    EXPECT_EQ(g_LATERAL_RANGE.value(), 40);
    EXPECT_EQ(stored("LATERAL_RANGE"), "40");
    EXPECT_EQ(fieldText(g_LATERAL_RANGE), "40");
    EXPECT_EQ(gf_statusMessage(), "The new LATERAL_RANGE is 40");
    EXPECT_EQ(g_trafficRangeMeters.load(), 40 * 1852 + 10000);
    EXPECT_TRUE(g_parkingParametersChanged);

    ASSERT_TRUE(enter(g_LATERAL_RANGE, "25"));
    EXPECT_EQ(g_trafficRangeNm.load(), 25.0);
    EXPECT_EQ(g_trafficRangeMeters.load(), 25 * 1852 + 10000);
}

TEST_F(EditFieldsTest, WantedPercentageIsNeverStored) {
    m_services.standFileLoaded = true;
    ASSERT_TRUE(enter(g_parking_percentage, "45"));
    EXPECT_EQ(g_parking_percentage.value(), 45);
    EXPECT_TRUE(g_parkingRenewalRequest);
    ASSERT_TRUE(enter(g_parking_percentage, ""));
    EXPECT_EQ(g_parking_percentage.value(), 0);
    EXPECT_EQ(gf_statusMessage(), "ZNTV_P3D will respond in 15 seconds ...");
    EXPECT_FALSE(stored("parking_percentage"));
}

TEST_F(EditFieldsTest, MaxLiveAndMatchingDepthHandTheirWorkOn) {
    ASSERT_TRUE(enter(g_MAX_LIVE, "120"));
    EXPECT_FALSE(g_parkingParametersChanged);
    m_services.standFileLoaded = true;
    ASSERT_TRUE(enter(g_MAX_LIVE, "80"));
    EXPECT_TRUE(g_parkingParametersChanged);
    EXPECT_EQ(gf_takeWorkRequests(),
              (std::vector<WorkRequest>{{.kind = WorkRequestKind::EnforceMaxLive, .on = true, .value = 120},
                                        {.kind = WorkRequestKind::EnforceMaxLive, .on = false, .value = 80}}));

    ASSERT_TRUE(enter(g_MATCHING_DEPTH, "2"));  // from 4: shallower finds nothing new
    EXPECT_FALSE(g_clearUnmatchedRequest);
    ASSERT_TRUE(enter(g_MATCHING_DEPTH, "3"));
    EXPECT_TRUE(g_clearUnmatchedRequest);
}

TEST_F(EditFieldsTest, MaxFitIsKeptInHalfHours) {
    auto apply = [this](const std::string& text) {
        m_ui->setText(g_MAX_FIT_FL.controlId, text);
        return lf_processTbFloat(g_MAX_FIT_FL);
    };
    EXPECT_TRUE(apply("1.3"));  // 2.6 half hours round to 3
    EXPECT_EQ(g_MAX_FIT.value(), 2);
    EXPECT_EQ(stored("MAX_FIT"), "2");
    EXPECT_FLOAT_EQ(g_MAX_FIT_FL.value(), 1.5f);
    EXPECT_EQ(fieldText(g_MAX_FIT_FL), "1.5");
    EXPECT_EQ(gf_statusMessage(), "The new MAX_FIT_FL is 1.5");

    EXPECT_TRUE(apply("1.25"));  // 2.5 rounds away from zero
    EXPECT_EQ(g_MAX_FIT.value(), 2);
    EXPECT_TRUE(apply("100"));
    EXPECT_EQ(g_MAX_FIT.value(), 47);
    EXPECT_EQ(fieldText(g_MAX_FIT_FL), "24");
    EXPECT_TRUE(apply("0"));
    EXPECT_EQ(g_MAX_FIT.value(), 0);
    EXPECT_EQ(fieldText(g_MAX_FIT_FL), "0.5");

    EXPECT_FALSE(apply("0.5"));
    EXPECT_EQ(gf_statusMessage(), "Same MAX_FIT_FL value 0.5, no changes made");

    EXPECT_TRUE(apply(""));
    EXPECT_EQ(g_MAX_FIT.value(), 47);
    EXPECT_EQ(stored("MAX_FIT"), "47");
    EXPECT_EQ(gf_statusMessage(), "The new MAX_FIT_FL is 24.0");

    // Enter applies it while a stand file is loaded, and has the parking renewed
    m_services.standFileLoaded = true;
    ASSERT_TRUE(enter(g_MAX_FIT_FL, "6"));
    EXPECT_EQ(g_MAX_FIT.value(), 11);
    EXPECT_TRUE(g_parkingRenewalRequest);
    EXPECT_EQ(gf_statusMessage(), "ZNTV_P3D will respond in 15 seconds ...");
}

TEST_F(EditFieldsTest, MaxFitRefusesWhatIsNoNumber) {
    m_services.standFileLoaded = true;
    ASSERT_TRUE(enter(g_MAX_FIT_FL, "3"));
    ASSERT_TRUE(enter(g_MAX_FIT_FL, "nan"));
    EXPECT_EQ(g_MAX_FIT.value(), 5);
    EXPECT_EQ(fieldText(g_MAX_FIT_FL), "3");
    ASSERT_TRUE(enter(g_MAX_FIT_FL, "hours"));
    EXPECT_TRUE(logHas("lf_processTbFloat: stof, h=hours "));
    EXPECT_EQ(g_MAX_FIT.value(), 5);
}

TEST_F(EditFieldsTest, MaxFitWaitsForAStandFile) {
    gf_showMessage("old", false);
    ASSERT_TRUE(enter(g_MAX_FIT_FL, "1.3"));
    EXPECT_EQ(g_MAX_FIT.value(), 47);
    EXPECT_FLOAT_EQ(g_MAX_FIT_FL.value(), 24.0f);
    EXPECT_EQ(gf_statusMessage(), "");
}

TEST_F(EditFieldsTest, TimeShiftIsLimitedToFourWeeks) {
    ASSERT_TRUE(enter(g_TIME_SHIFT_DAYS, "30"));
    EXPECT_EQ(g_TIME_SHIFT_DAYS.value(), 28);
    EXPECT_EQ(stored("TIME_SHIFT_DAYS"), "28");
    EXPECT_EQ(g_timeShiftMinutes, 40320);
    EXPECT_EQ(gf_statusMessage(), "Time shifted 40320 minutes");
    EXPECT_TRUE(logHas("Time shifted 40320 minutes"));
    EXPECT_EQ(gf_takeWorkRequests(), (std::vector<WorkRequest>{{.kind = WorkRequestKind::RemoveAllAircraft}}));
    EXPECT_TRUE(g_parkingRenewalRequest);

    // 28 days and any more is cut back to 28 days, 0 hours, 0 minutes
    ASSERT_TRUE(enter(g_TIME_SHIFT_HOURS, "5"));
    EXPECT_TRUE(logHas("Time shifting is limited to 4 weeks"));
    EXPECT_EQ(g_TIME_SHIFT_DAYS.value(), 28);
    EXPECT_EQ(g_TIME_SHIFT_HOURS.value(), 0);
    EXPECT_EQ(g_TIME_SHIFT_MINS.value(), 0);
    EXPECT_EQ(stored("TIME_SHIFT_HOURS"), "0");
    EXPECT_EQ(fieldText(g_TIME_SHIFT_HOURS), "0");
    EXPECT_EQ(g_timeShiftMinutes, 40320);
    EXPECT_TRUE(g_timeShifted);
}

TEST_F(EditFieldsTest, TimeShiftReportsItsMinutesAndZeroEmptiesTheFields) {
    ASSERT_TRUE(enter(g_TIME_SHIFT_MINS, "1"));
    EXPECT_EQ(gf_statusMessage(), "Time shifted 1 minute");
    ASSERT_TRUE(enter(g_TIME_SHIFT_HOURS, "2"));
    EXPECT_EQ(gf_statusMessage(), "Time shifted 121 minutes");
    EXPECT_EQ(stored("TIME_SHIFT_MINS"), "1");
    EXPECT_EQ(stored("TIME_SHIFT_HOURS"), "2");

    ASSERT_TRUE(enter(g_TIME_SHIFT_HOURS, "0"));
    ASSERT_TRUE(enter(g_TIME_SHIFT_MINS, ""));
    EXPECT_EQ(gf_statusMessage(), "Time shift = 0");
    EXPECT_FALSE(g_timeShifted);
    EXPECT_EQ(fieldText(g_TIME_SHIFT_DAYS), "");
    EXPECT_EQ(fieldText(g_TIME_SHIFT_HOURS), "");
    EXPECT_EQ(fieldText(g_TIME_SHIFT_MINS), "");
    EXPECT_EQ(gf_takeWorkRequests().size(), 4u);  // each change rebuilds the traffic
}

TEST_F(EditFieldsTest, CallsignsOfFourToEightCharactersAreBlockedInUpperCase) {
    for (const char* bad : {"ABC", "ABCDEFGHI"}) {
        ASSERT_TRUE(enter(g_BLOCK_CALLSIGN, bad));
        EXPECT_EQ(gf_statusMessage(), fmt::format("callsign \"{}\" is not valid", bad));
        EXPECT_EQ(fieldText(g_BLOCK_CALLSIGN), "");
        EXPECT_FALSE(g_blockRequest);
    }

    ASSERT_TRUE(enter(g_BLOCK_CALLSIGN, "dlh4ab"));
    EXPECT_EQ(g_BLOCK_CALLSIGN.value(), "DLH4AB");
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "DLH4AB");
    EXPECT_EQ(fieldText(g_BLOCK_CALLSIGN), "DLH4AB");
    EXPECT_TRUE(enabled(g_Unblock));
    EXPECT_EQ(gf_statusMessage(), "live aircraft with callsign \"DLH4AB\" will be blocked");
    EXPECT_TRUE(logHas("live aircraft with callsign \"DLH4AB\" will be blocked"));
    EXPECT_TRUE(g_blockRequest);

    g_blockRequest = false;
    ASSERT_TRUE(enter(g_BLOCK_CALLSIGN, "Dlh4Ab"));
    EXPECT_EQ(gf_statusMessage(), "callsign \"DLH4AB\" was already set ...");
    EXPECT_FALSE(g_blockRequest);

    ASSERT_TRUE(enter(g_BLOCK_CALLSIGN, ""));
    EXPECT_EQ(g_BLOCK_CALLSIGN.value(), "");
    EXPECT_EQ(gf_statusMessage(), "no more blocking of live aircraft \"DLH4AB\"");
    EXPECT_FALSE(enabled(g_Unblock));
    EXPECT_TRUE(g_blockRequest);
}

TEST_F(EditFieldsTest, CallsignUpperCaseTouchesOnlyAsciiLetters) {
    // bytes above 127 are letters of other scripts: they are measured as characters and kept as they are
    ASSERT_TRUE(enter(g_BLOCK_CALLSIGN, "\xc3\xa4" "bc1"));
    EXPECT_EQ(g_BLOCK_CALLSIGN.value(), "\xc3\xa4" "BC1");
    EXPECT_EQ(gf_upperAscii("a\xe1\xff" "z9"), "A\xe1\xff" "Z9");
}

TEST_F(EditFieldsTest, DestinationMustBeAKnownAirport) {
    m_services.airports = {"EDDF"};
    ASSERT_TRUE(enter(g_DESTINATION, "ED"));
    EXPECT_EQ(gf_statusMessage(), "destination \"ED\" is not valid");
    ASSERT_TRUE(enter(g_DESTINATION, "eddm"));
    EXPECT_EQ(gf_statusMessage(), "destination \"EDDM\" is unknown ...");
    EXPECT_EQ(fieldText(g_DESTINATION), "");
    EXPECT_TRUE(gf_takeWorkRequests().empty());

    ASSERT_TRUE(enter(g_DESTINATION, "eddf"));  // looked up upper-cased
    EXPECT_EQ(g_DESTINATION.value(), "EDDF");
    EXPECT_EQ(stored("DESTINATION"), "EDDF");
    EXPECT_EQ(fieldText(g_DESTINATION), "EDDF");
    EXPECT_EQ(gf_statusMessage(), "New destination: EDDF");
    EXPECT_TRUE(logHas("New destination: EDDF"));
    EXPECT_FALSE(enabled(g_Re_read));
    EXPECT_EQ(gf_takeWorkRequests(),
              (std::vector<WorkRequest>{{.kind = WorkRequestKind::SetParkAirport, .airport = "EDDF"}}));

    ASSERT_TRUE(enter(g_DESTINATION, "EDDF"));
    EXPECT_EQ(gf_statusMessage(), "destination \"EDDF\" was already set ...");

    ASSERT_TRUE(enter(g_DESTINATION, ""));
    EXPECT_EQ(g_DESTINATION.value(), "");
    EXPECT_EQ(stored("DESTINATION"), "");  // a restart must not bring it back
    EXPECT_TRUE(enabled(g_Re_read));
    EXPECT_EQ(gf_statusMessage(), "destination set to empty");
}

TEST_F(EditFieldsTest, InstallPathThatExistsRestartsTheProgram) {
    gf_showError("151: no simulator");
    const fs::path sim = m_root.path() / "Prepar3D v5";
    fs::create_directories(sim);
    ASSERT_TRUE(enter(g_ALL_INSTALL_PATH, sim.string()));
    EXPECT_EQ(gf_statusError(), "");
    EXPECT_EQ(g_SIM_INSTALL_PATH.value(), sim.string());
    EXPECT_EQ(stored("SIM_INSTALL_PATH"), sim.string());
    EXPECT_EQ(gf_statusMessage(), "Install path exists, ZNTV_P3D will restart");
    EXPECT_EQ(m_services.exits, (std::vector<ExitCall>{{3, 3}}));

    ASSERT_TRUE(enter(g_ALL_INSTALL_PATH, ""));
    EXPECT_EQ(g_SIM_INSTALL_PATH.value(), "");
    EXPECT_EQ(stored("SIM_INSTALL_PATH"), "");
    EXPECT_EQ(gf_statusMessage(), "");
}

TEST_F(EditFieldsTest, InstallPathThatCannotBeCheckedCountsAsMissing) {
    const std::string missing = (m_root.path() / "nowhere").string();
    ASSERT_TRUE(enter(g_ALL_INSTALL_PATH, missing));
    EXPECT_EQ(gf_statusMessage(), "This install path does not exist: " + missing);
    EXPECT_TRUE(logHas("This install path does not exist: " + missing));

    // a name longer than the file system takes makes the check itself fail (ENAMETOOLONG)
    const std::string tooLong = (m_root.path() / std::string(300, 'x')).string();
    ASSERT_TRUE(enter(g_ALL_INSTALL_PATH, tooLong));
    EXPECT_EQ(gf_statusMessage(), "This install path does not exist: " + tooLong);
    EXPECT_TRUE(m_services.exits.empty());
    EXPECT_EQ(g_SIM_INSTALL_PATH.value(), "");

    // While the stored path is known to be missing, its red line stands over the message and names the path
    // just typed: the one the user now has to put right.
    gf_showInstallPathFault("D:\\P3D", InstallPathKind::Nothing);
    ASSERT_TRUE(enter(g_ALL_INSTALL_PATH, missing));
    EXPECT_EQ(gf_standingFault(StandingFault::InstallFolder).find("This install path does not exist: " + missing + ";"),
              0u);
}

TEST_F(EditFieldsTest, OverlongFieldTextIsCutToWholeCharacters) {
    std::string text(1022, 'a');
    text += "\xf0\x9f\x98\x80";  // one character of two UTF-16 units, across the limit
    m_ui->setText(g_ALL_INSTALL_PATH.controlId, text);
    EXPECT_EQ(lf_getTextFromId(g_ALL_INSTALL_PATH.controlId), std::string(1022, 'a'));
    m_ui->setText(g_ALL_INSTALL_PATH.controlId, "bad \xff");
    EXPECT_EQ(lf_getTextFromId(g_ALL_INSTALL_PATH.controlId), "");
}

}  // namespace
