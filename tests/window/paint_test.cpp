#include <gtest/gtest.h>

#include "window_test_env.h"

using namespace window_test;

namespace {

class PaintTest : public WindowEnv {
protected:
    void SetUp() override {
        WindowEnv::SetUp();
        openWindow();
    }

    static std::vector<ui::DrawCall> fills(const std::vector<ui::DrawCall>& calls) {
        std::vector<ui::DrawCall> out;
        for (const auto& c : calls) {
            if (c.kind == ui::DrawCall::Kind::FillRect) out.push_back(c);
        }
        return out;
    }
    static std::vector<ui::DrawCall> textsIn(const std::vector<ui::DrawCall>& calls, const ui::Rect& band) {
        std::vector<ui::DrawCall> out;
        for (const auto& c : calls) {
            if (c.kind == ui::DrawCall::Kind::Text && c.from.y >= band.top && c.from.y < band.bottom)
                out.push_back(c);
        }
        return out;
    }
    void showParkAirport() {
        std::lock_guard lock(g_mainWindow.statusLock);
        g_mainWindow.parkAirportCode = "EDDF";
        g_mainWindow.parkAirportLabel = "EDDF/FRA";
        g_mainWindow.parkAirportName = "Frankfurt";
        g_mainWindow.standFileInfo = "learned";
        g_mainWindow.qualityFactorText = "0.8";
    }
};

TEST_F(PaintTest, BandsSeparatorsAndTitleAreDrawnInOrder) {
    const auto calls = paint();
    const auto f = fills(calls);
    ASSERT_GE(f.size(), 5u);
    EXPECT_EQ(f[0].rect, kTitleBand);
    EXPECT_EQ(f[0].colour, kBlack);
    EXPECT_EQ(f[1].rect, kUpperBand);
    EXPECT_EQ(f[1].colour, kBlack);
    EXPECT_EQ(f[2].rect, kMiddleBand);
    EXPECT_EQ(f[2].colour, kLightBlue);
    EXPECT_EQ(f[3].rect, kParkingBand);
    EXPECT_EQ(f[3].colour, kBlack);
    EXPECT_EQ(f[4].rect, kStatusLine);
    EXPECT_EQ(f[4].colour, kGreen);

    int black = 0, white = 0;
    for (const auto& c : calls) {
        if (c.kind != ui::DrawCall::Kind::Line) continue;
        if (c.colour == kWhite) ++white;
        if (c.colour == kBlack && c.from.y >= 140 && c.to.y <= 308) ++black;
    }
    EXPECT_EQ(white, 4);
    EXPECT_EQ(black, 8);  // seven separators and the vertical one at 642

    const auto title = textsOf(calls, "ZNTV_P3D");
    ASSERT_EQ(title.size(), 1u);
    EXPECT_EQ(title[0].from, (ui::Point{390, 7}));
    EXPECT_EQ(title[0].colour, kGreen);
    const auto version = textsOf(calls, "Version 10.10.4");
    ASSERT_EQ(version.size(), 1u);
    EXPECT_EQ(version[0].from, (ui::Point{3, 7}));
}

TEST_F(PaintTest, SimulatorBoxFollowsConnectionAndUserAircraft) {
    auto simBoxColour = [](const std::vector<ui::DrawCall>& calls) {
        for (const auto& c : calls) {
            if (c.kind == ui::DrawCall::Kind::FillRect && c.rect == kSimBox) return c.colour;
        }
        return kWhite;
    };
    EXPECT_EQ(simBoxColour(paint()), kRed);

    // connected, but no user aircraft title yet: yellow, texts too
    g_mainWindow.g_simConnected = true;
    g_mainWindow.g_simRunningShown = true;
    gf_setDisplayText(&MainWindow::g_simName, "Prepar3D v5.4", kUpperBand);
    auto calls = paint();
    EXPECT_EQ(simBoxColour(calls), kYellow);
    EXPECT_EQ(colourOf(calls, "Prepar3D v5.4"), kYellow);

    gf_setDisplayText(&MainWindow::userTitle, "Boeing 737-800", kUpperBand);
    gf_setDisplayText(&MainWindow::g_userStandShown, "GATE A12", kUpperBand);
    calls = paint();
    EXPECT_EQ(simBoxColour(calls), kGreen);
    EXPECT_EQ(colourOf(calls, "Prepar3D v5.4, user stand GATE A12"), kGreen);
    EXPECT_EQ(colourOf(calls, "Boeing 737-800"), kGreen);

    // a user model the program does not know is shown yellow
    g_mainWindow.userModelKnown = false;
    EXPECT_EQ(colourOf(paint(), "Boeing 737-800"), kYellow);
}

TEST_F(PaintTest, CountsWithoutValuesAreDrawnAsDots) {
    auto calls = paint();
    EXPECT_EQ(colourOf(calls, "# liveries: ..."), kRed);
    EXPECT_EQ(colourOf(calls, "# simaddon: ..."), kYellow);
    EXPECT_EQ(colourOf(calls, "# thirdp: ..."), kYellow);

    g_mainWindow.liveryCount = 1234;
    g_mainWindow.simaddonCount = 7;
    g_mainWindow.simaddonOk = false;
    g_mainWindow.thirdpCount = 2;
    calls = paint();
    EXPECT_EQ(colourOf(calls, "# liveries: 1234"), kGreen);
    EXPECT_EQ(colourOf(calls, "# simaddon: 7"), kYellow);
    EXPECT_EQ(colourOf(calls, "# thirdp: 2"), kGreen);
}

TEST_F(PaintTest, ServiceTextsOnlyWhileConnected) {
    g_mainWindow.g_trafficIndicator = kReaderNoData;
    g_mainWindow.g_weatherIndicator = kReaderDataArriving;
    gf_setDisplayText(&MainWindow::serviceStatusText, "RT standard", kUpperBand);
    g_mainWindow.liveAirborneCount = 7;
    auto calls = paint();
    EXPECT_TRUE(textsOf(calls, "Traffic").empty());
    EXPECT_TRUE(textsOf(calls, "live:   7").empty());

    g_mainWindow.g_rtConnected = true;
    g_mainWindow.serviceBoxBlack = false;
    calls = paint();
    EXPECT_EQ(colourOf(calls, "RT standard"), kGreen);
    EXPECT_EQ(colourOf(calls, "Weather"), kGreen);
    EXPECT_EQ(colourOf(calls, "Traffic"), kYellow);
    EXPECT_EQ(colourOf(calls, "live:   7"), kGreen);
}

TEST_F(PaintTest, ParkingBandStaysEmptyWithoutAParkAirport) {
    g_mainWindow.standCount = 12;
    const auto calls = paint();
    EXPECT_TRUE(textsIn(calls, kParkingBand).empty());
}

TEST_F(PaintTest, ParkingBandShowsTheActiveParkAirport) {
    showParkAirport();
    g_mainWindow.standFileOk = true;
    g_mainWindow.standFileHandMade = true;
    g_mainWindow.standFileWeekCount = 3;
    g_mainWindow.standCount = 85;
    g_mainWindow.parkedLiveCount = 4;
    g_mainWindow.parkedStaticCount = 40;
    g_mainWindow.g_wantedStatics = 50;
    g_mainWindow.maxParkPercent = 60;
    g_mainWindow.g_averageFitShown[0] = 2.5f;
    g_mainWindow.g_averageFitShown[1] = 3.0f;
    {
        std::lock_guard lock(g_mainWindow.statusLock);
        g_mainWindow.reservedStand = "V12";
    }
    auto calls = paint();
    EXPECT_EQ(colourOf(calls, "EDDF/FRA"), kGreen);
    EXPECT_EQ(textsOf(calls, " Frankfurt, learned (h), wk=3")[0].from, (ui::Point{85, 399}));
    EXPECT_EQ(colourOf(calls, "qf: 0.8"), kGreen);
    EXPECT_EQ(colourOf(calls, "reserved stand: V12"), kRed);
    EXPECT_EQ(textsOf(calls, "# stands:  85")[0].from, (ui::Point{5, 427}));
    EXPECT_FALSE(textsOf(calls, "parked live:   4").empty());
    EXPECT_EQ(textsOf(calls, "average fit: 3")[0].from, (ui::Point{249, 427}));
    EXPECT_EQ(textsOf(calls, "average fit: 2.5")[0].from, (ui::Point{571, 427}));
    EXPECT_FALSE(textsOf(calls, "parked static:  40").empty());
    EXPECT_FALSE(textsOf(calls, "max park:  50 (=60 %)").empty());

    // park traffic only: no quality factor, no max park
    g_RT_PARKTRAFFIC_ONLY.set(true);
    calls = paint();
    EXPECT_TRUE(textsOf(calls, "qf: 0.8").empty());
    EXPECT_TRUE(textsOf(calls, "max park:  50 (=60 %)").empty());

    // a stand file that is not right is only named, in yellow
    g_RT_PARKTRAFFIC_ONLY.set(false);
    g_mainWindow.standFileOk = false;
    g_mainWindow.g_wantedStatics = 0;
    calls = paint();
    EXPECT_EQ(colourOf(calls, "EDDF/FRA"), kYellow);
    EXPECT_TRUE(textsOf(calls, " Frankfurt, learned (h), wk=3").empty());
    EXPECT_FALSE(textsOf(calls, "no max park live").empty());
}

TEST_F(PaintTest, TextThatIsNoUtf8IsLoggedNotDrawn) {
    gf_showMessage("bad \xff byte", false);
    const auto calls = paint();
    EXPECT_TRUE(textsOf(calls, "bad \xff byte").empty());
    bool logged = false;
    for (const auto& line : logLines()) {
        if (line.find("conversion exception") != std::string::npos && line.find("error code: 1113") != std::string::npos)
            logged = true;
    }
    EXPECT_TRUE(logged);
}

}  // namespace
