#include <gtest/gtest.h>

#include <map>

#include "expected_layout.h"
#include "frame/entry.h"
#include "window_test_env.h"

using namespace window_test;

namespace {

class MainWindowTest : public WindowEnv {};

TEST_F(MainWindowTest, OpensOneFixedWindowWithEveryControlInItsPlace) {
    openWindow();
    const auto window = m_ui->windowState();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->title, "ZNTV_P3D");
    EXPECT_EQ(window->width, 880);
    EXPECT_EQ(window->height, 476);
    EXPECT_EQ(window->x, 400);
    EXPECT_EQ(window->y, 20);

    const auto controls = m_ui->controls();
    ASSERT_EQ(controls.size(), 44u);
    std::map<ui::ControlKind, int> kinds;
    for (const auto& c : controls) ++kinds[c.kind];
    EXPECT_EQ(kinds[ui::ControlKind::CheckBox], 26);
    EXPECT_EQ(kinds[ui::ControlKind::EditField], 15);
    EXPECT_EQ(kinds[ui::ControlKind::PushButton], 3);
    for (const auto& expected : expectedControls()) {
        const auto c = m_ui->controlState(expected.id);
        ASSERT_TRUE(c) << expected.id;
        EXPECT_EQ(c->kind, expected.kind) << expected.id;
        EXPECT_EQ(c->rect, expected.rect) << expected.id;
    }
    // check boxes show their settings, the buttons their captions
    EXPECT_TRUE(m_ui->isChecked(g_SCAN_LIVERIES.controlId));
    EXPECT_FALSE(m_ui->isChecked(g_ALWAYS_ON_TOP.controlId));
    EXPECT_EQ(m_ui->controlState(g_Re_read.controlId)->caption, "Re-read");
    EXPECT_EQ(m_ui->controlState(g_Flush_static.controlId)->caption, "Flush static");

    // the window writes its status line from now on
    gf_showMessage("hello", false);
    EXPECT_EQ(gf_statusMessage(), "hello");
}

TEST_F(MainWindowTest, WindowPositionAtALimitOfItsRangeIsResetToTheDefault) {
    // a window minimised at the last exit left -30000; it would open out of sight
    writeSettings("<parameter name=\"MAIN_WINDOW_X\" value=\"-30000\"/>\n"
                  "<parameter name=\"MAIN_WINDOW_Y\" value=\"30000\"/>\n");
    ASSERT_TRUE(gf_createMainWindow());
    EXPECT_EQ(m_ui->windowState()->x, 400);
    EXPECT_EQ(m_ui->windowState()->y, 20);
    EXPECT_EQ(stored("MAIN_WINDOW_X"), "400");
    EXPECT_EQ(stored("MAIN_WINDOW_Y"), "20");
}

TEST_F(MainWindowTest, StoredWindowPositionIsUsedWhenInRange) {
    writeSettings("<parameter name=\"MAIN_WINDOW_X\" value=\"-25\"/>\n"
                  "<parameter name=\"MAIN_WINDOW_Y\" value=\"310\"/>\n");
    ASSERT_TRUE(gf_createMainWindow());
    EXPECT_EQ(m_ui->windowState()->x, -25);
    EXPECT_EQ(m_ui->windowState()->y, 310);
    EXPECT_EQ(stored("MAIN_WINDOW_X"), "-25");
}

TEST_F(MainWindowTest, EndMessageStoresThePositionClosesTheLogAndQuits) {
    openWindow();
    m_ui->simulateMove(123, 456);
    m_ui->post(WM_APP_END, 0);
    EXPECT_EQ(m_ui->run(), 0);  // the end message quits the loop
    EXPECT_EQ(m_services.workStops, 1);
    EXPECT_EQ(stored("MAIN_WINDOW_X"), "123");
    EXPECT_EQ(stored("MAIN_WINDOW_Y"), "456");
    EXPECT_FALSE(gf_logIsOpen());
    // the last line is the time of the end, "Www Mmm dd hh:mm:ss yyyy"
    const auto lines = logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().size(), 24u);
}

TEST_F(MainWindowTest, ClosingWhileMinimisedKeepsThePreviousPosition) {
    writeSettings("<parameter name=\"MAIN_WINDOW_X\" value=\"250\"/>\n"
                  "<parameter name=\"MAIN_WINDOW_Y\" value=\"60\"/>\n");
    openWindow();
    m_ui->simulateMove(-32000, 70);  // minimised: far off the screen
    m_ui->post(WM_APP_END, 0);
    m_ui->pumpPending();
    EXPECT_EQ(stored("MAIN_WINDOW_X"), "250");
    EXPECT_EQ(stored("MAIN_WINDOW_Y"), "70");
    EXPECT_EQ(g_MAIN_WINDOW_X.value(), 250);
}

TEST_F(MainWindowTest, StartMessageStartsTheWorkThread) {
    openWindow();
    m_ui->post(WM_APP_START, 0);
    m_ui->post(WM_APP_START, 0);  // a restart
    m_ui->pumpPending();
    EXPECT_EQ(m_services.workStarts, 2);
    EXPECT_EQ(m_services.workStops, 0);
}

TEST_F(MainWindowTest, CloseBoxAnnouncesAndRequestsTheExitButKeepsTheWindow) {
    openWindow();
    ASSERT_TRUE(m_ui->closeWindow());
    EXPECT_EQ(gf_statusMessage(), "Close window button clicked, closing ZNTV_P3D ...");
    EXPECT_FALSE(logHas("Close window button clicked, closing ZNTV_P3D ..."));
    EXPECT_EQ(m_services.exits, (std::vector<ExitCall>{{4, 0}}));
    EXPECT_TRUE(m_ui->hasWindow());
}

TEST_F(MainWindowTest, WithoutAnExitSequenceTheCloseBoxStillEndsTheProgram) {
    gf_setWindowServices({});
    openWindow();
    ASSERT_TRUE(m_ui->closeWindow());
    EXPECT_EQ(m_ui->pendingMessages(), (std::vector<ui::PostedMessage>{{WM_APP_END, 0}}));
}

TEST_F(MainWindowTest, QnhTurnsAWaitingWeatherIndicatorGreen) {
    openWindow();
    g_mainWindow.g_rtConnected = true;
    g_mainWindow.serviceBoxBlack = false;
    g_mainWindow.g_weatherIndicator = kReaderNoData;
    gf_setQnh(1013);
    EXPECT_EQ(g_mainWindow.g_weatherIndicator, kReaderDataArriving);
    EXPECT_EQ(m_ui->invalidatedRects().back(), kUpperBand);
    const auto calls = paint();
    EXPECT_EQ(colourOf(calls, "qnh: 1013"), kGreen);
    EXPECT_EQ(colourOf(calls, "Weather"), kGreen);

    // a stopped reader stays stopped, and its values are not shown
    g_mainWindow.g_weatherIndicator = kReaderStopped;
    gf_setQnh(1020);
    EXPECT_EQ(g_mainWindow.g_weatherIndicator, kReaderStopped);
    EXPECT_TRUE(textsOf(paint(), "qnh: 1020").empty());
}

}  // namespace
