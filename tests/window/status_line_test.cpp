#include <gtest/gtest.h>

#include <thread>

#include <fmt/format.h>

#include "window_test_env.h"

using namespace window_test;

namespace {

class StatusLineTest : public WindowEnv {
protected:
    void SetUp() override {
        WindowEnv::SetUp();
        openWindow();
    }
    void tick(int seconds) {
        for (int i = 0; i < seconds; ++i) gf_tickDisplaySeconds();
    }
    ui::Rgb statusFill() {
        ui::Rgb last{1, 2, 3};
        for (const auto& c : paint()) {
            if (c.kind == ui::DrawCall::Kind::FillRect && c.rect == kStatusLine) last = c.colour;
        }
        return last;
    }
};

TEST_F(StatusLineTest, MessageIsYellowOnGreenAndLoggedOnlyWhenAsked) {
    gf_showMessage("quiet one", false);
    EXPECT_FALSE(logHas("quiet one"));
    EXPECT_EQ(m_ui->invalidatedRects().back(), kStatusLine);
    gf_showMessage("loud one", true);
    EXPECT_TRUE(logHas("loud one"));

    const auto calls = paint();
    const auto text = textsOf(calls, "loud one");
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0].from, (ui::Point{3, 455}));
    EXPECT_EQ(text[0].colour, kYellow);
    EXPECT_EQ(statusFill(), kGreen);
}

TEST_F(StatusLineTest, ErrorHoldsTheLineUntilCleared) {
    gf_showMessage("before", false);
    gf_showError("it broke");
    EXPECT_EQ(gf_statusMessage(), "");  // the message goes at once
    EXPECT_TRUE(logHas("Error it broke"));
    EXPECT_EQ(statusFill(), kRed);
    EXPECT_EQ(colourOf(paint(), "it broke"), kYellow);

    // a message meanwhile is neither shown nor logged
    gf_showMessage("while broken", true);
    EXPECT_EQ(gf_statusMessage(), "");
    EXPECT_FALSE(logHas("while broken"));
    gf_clearMessage();
    EXPECT_EQ(gf_statusError(), "it broke");

    gf_clearError();
    EXPECT_EQ(gf_statusError(), "");
    EXPECT_EQ(statusFill(), kGreen);
    gf_showMessage("after", false);
    EXPECT_EQ(gf_statusMessage(), "after");
}

// What an error is shown with: the faults that stand stay in view beneath it, a row each, as many as the line
// holds; a red line alone stands where a message does.
TEST_F(StatusLineTest, AnErrorKeepsTheStandingFaultsInViewBeneathIt) {
    struct Row {
        const char* name;
        std::string error;
        std::vector<std::pair<StandingFault, std::string>> faults;
        std::vector<std::pair<int, std::string>> shown;  // y, text
    };
    const std::string noLiveries = "43: Automatic scan has not found any liveries";
    const std::string noFolder = "This install path does not exist: D:\\P3D";
    const std::string settingsKept = "parameters.xml could not be read: kept as \"parameters0.xml\", defaults taken";
    const Row rows[] = {
        {"ErrorAlone", noLiveries, {}, {{455, noLiveries}}},
        {"FaultAlone", "", {{StandingFault::InstallFolder, noFolder}}, {{455, noFolder}}},
        {"ErrorOverItsCause", noLiveries, {{StandingFault::InstallFolder, noFolder}},
         {{448, noLiveries}, {461, noFolder}}},
        {"TwoFaults", "", {{StandingFault::InstallFolder, noFolder}, {StandingFault::Settings, settingsKept}},
         {{448, noFolder}, {461, settingsKept}}},
        {"ErrorAndTwoFaults", noLiveries,
         {{StandingFault::Settings, settingsKept}, {StandingFault::InstallFolder, noFolder}},
         {{448, noLiveries}, {461, noFolder}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        gf_clearError();
        gf_clearStandingFaults();
        for (const auto& [which, text] : row.faults) gf_showStandingFault(which, text);
        if (!row.error.empty()) gf_showError(row.error);
        std::vector<std::pair<int, std::string>> shown;
        for (const auto& c : paint()) {
            if (c.kind != ui::DrawCall::Kind::Text || c.from.y < kStatusLine.top) continue;
            shown.emplace_back(c.from.y, c.text);
            EXPECT_EQ(c.colour, kYellow) << c.text;
        }
        EXPECT_EQ(shown, row.shown);
        EXPECT_EQ(statusFill(), kRed);
    }
}

TEST_F(StatusLineTest, MessageExpiresAfterTwentyFiveCountedSeconds) {
    // set at second 0, it is stamped 1 and still expires
    gf_showMessage("first", false);
    EXPECT_EQ(g_mainWindow.messageSecond, 1);
    tick(25);
    EXPECT_EQ(gf_statusMessage(), "first");
    tick(1);
    EXPECT_EQ(gf_statusMessage(), "");
    EXPECT_EQ(g_mainWindow.messageSecond, 0);

    // a newer message gets its own 25 seconds
    gf_showMessage("second", false);
    tick(10);
    gf_showMessage("third", false);
    tick(24);
    EXPECT_EQ(gf_statusMessage(), "third");
    tick(1);
    EXPECT_EQ(gf_statusMessage(), "");
}

TEST_F(StatusLineTest, ClearingWritesNothingToTheLog) {
    const auto before = logLines().size();
    gf_showMessage("something", false);
    gf_clearMessage();
    EXPECT_EQ(gf_statusMessage(), "");
    EXPECT_EQ(logLines().size(), before);
}

TEST_F(StatusLineTest, CountsRepaintOnlyTheBandsThatChanged) {
    gf_refreshAirborneCount(3, 0, 0);
    EXPECT_EQ(m_ui->invalidatedRects(), (std::vector<ui::Rect>{kUpperBand}));
    m_ui->clearInvalidated();
    gf_refreshAirborneCount(3, 2, 0);
    EXPECT_EQ(m_ui->invalidatedRects(), (std::vector<ui::Rect>{kParkingBand}));
    m_ui->clearInvalidated();
    gf_refreshAirborneCount(3, 2, 0);
    EXPECT_TRUE(m_ui->invalidatedRects().empty());
    EXPECT_EQ(g_mainWindow.parkedLiveCount, 2u);
}

TEST_F(StatusLineTest, ThreadsWriteWhileTheWindowPaints) {
    // every thread of the program writes to the line; the paint reads it under the same lock
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                if (i % 50 == 49) {
                    gf_showError(fmt::format("error {} {}", t, i));
                    gf_clearError();
                } else {
                    gf_showMessage(fmt::format("message {} {}", t, i), false);
                }
            }
        });
    }
    // and the display fields that the link, the readers and the parking write
    writers.emplace_back([] {
        for (int i = 0; i < 200; ++i) {
            gf_setDisplayText(&MainWindow::userTitle, fmt::format("aircraft {}", i), kUpperBand);
            gf_setDisplayText(&MainWindow::parkAirportCode, i % 2 ? "EDDF" : "", kParkingBand);
            g_mainWindow.g_simConnected = i % 3 != 0;
            g_mainWindow.standCount = static_cast<std::uint64_t>(i);
        }
    });
    for (int i = 0; i < 50; ++i) paint();
    writers.clear();
    EXPECT_EQ(gf_displayText(&MainWindow::userTitle), "aircraft 199");
    // every writer ended by clearing its error
    EXPECT_EQ(gf_statusError(), "");
    EXPECT_EQ(gf_statusMessage(), "");
}

TEST_F(StatusLineTest, AppNameFillsBothFields) {
    EXPECT_EQ(lf_formatWithAppName("{} must be run from the {} folder!"),
              "ZNTV_P3D must be run from the ZNTV_P3D folder!");
}

}  // namespace
