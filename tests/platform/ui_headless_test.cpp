#include "platform/ui_headless.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace ui;

namespace {

constexpr unsigned kStart = kAppMessageBase + 1;
constexpr unsigned kEnd = kAppMessageBase + 2;

// What the handlers saw, written from whichever thread they run on.
struct Seen {
    std::mutex mutex;
    std::vector<std::pair<ControlId, Notify>> commands;
    std::vector<std::pair<unsigned, std::intptr_t>> messages;
    std::vector<std::thread::id> messageThreads;
    int closes = 0;
};

class HeadlessTest : public ::testing::Test {
protected:
    WindowHandlers handlers() {
        WindowHandlers h;
        h.command = [this](ControlId id, Notify n) {
            std::lock_guard lock(seen.mutex);
            seen.commands.emplace_back(id, n);
        };
        h.appMessage = [this](unsigned m, std::intptr_t p) {
            {
                std::lock_guard lock(seen.mutex);
                seen.messages.emplace_back(m, p);
                seen.messageThreads.push_back(std::this_thread::get_id());
            }
            if (m == kEnd) ui.quit(static_cast<int>(p));
        };
        h.closeRequested = [this] {
            std::lock_guard lock(seen.mutex);
            ++seen.closes;
        };
        h.paint = [](Canvas& c, const Rect& dirty) {
            c.fillRect(dirty, {153, 204, 255});
            c.line(0, 140, 880, 140, {0, 0, 0});
            c.text(5, 6, "ZNTV_P3D \xE2\x9C\x88", {255, 255, 0});
        };
        return h;
    }

    void makeWindow() {
        ASSERT_TRUE(ui.createWindow("ZNTV_P3D", 400, 20, 880, 516, handlers()));
        ASSERT_TRUE(ui.createControl(ControlKind::CheckBox, 1001, 10, 120, 200, 20, "Log"));
        ASSERT_TRUE(ui.createControl(ControlKind::PushButton, 1002, 220, 120, 80, 24, "Scan"));
        ASSERT_TRUE(ui.createControl(ControlKind::EditField, 1003, 310, 120, 300, 20, "C:\\P3D"));
    }

    HeadlessBackend ui;
    Seen seen;
};

}  // namespace

TEST_F(HeadlessTest, KeepsTheStateOfTheWindowAndItsControls) {
    EXPECT_FALSE(ui.createControl(ControlKind::CheckBox, 1, 0, 0, 1, 1, "x"));  // no parent window yet
    makeWindow();
    EXPECT_FALSE(ui.createWindow("again", 0, 0, 1, 1, handlers()));
    EXPECT_FALSE(ui.createControl(ControlKind::PushButton, 1002, 0, 0, 1, 1, "dup"));

    ui.simulateMove(123, 45);
    int x = 0, y = 0;
    ASSERT_TRUE(ui.windowPosition(x, y));
    EXPECT_EQ(std::pair(x, y), std::pair(123, 45));

    const auto edit = ui.controlState(1003);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->rect, (Rect{310, 120, 610, 140}));
    EXPECT_EQ(edit->text, "C:\\P3D");  // the text starts as the caption
    ui.setText(1003, "D:\\Sim");
    ui.setText(999, "nobody");  // unknown ids are ignored
    EXPECT_EQ(ui.text(1003), "D:\\Sim");
    EXPECT_EQ(ui.controlState(1003)->caption, "C:\\P3D");
    EXPECT_EQ(ui.text(999), "");

    ui.destroyWindow();
    EXPECT_FALSE(ui.hasControl(1001));
    EXPECT_FALSE(ui.windowPosition(x, y));
}

TEST_F(HeadlessTest, SimulatedUserInputReachesTheCommandHandler) {
    makeWindow();
    EXPECT_TRUE(ui.simulateClick(1001));
    EXPECT_FALSE(ui.isChecked(1001));  // the program's handler flips the check, not the control
    EXPECT_TRUE(ui.simulateClick(1002));
    EXPECT_FALSE(ui.simulateClick(1003));  // clicking into an edit field is no command
    EXPECT_FALSE(ui.simulateEnter(1002, "x"));
    ui.setEnabled(1002, false);
    EXPECT_FALSE(ui.simulateClick(1002));

    // The handler reads the new text back through the backend: it is set before the call, and the call is
    // made without the backend's lock held.
    HeadlessBackend other;
    std::string textInHandler;
    WindowHandlers h;
    h.command = [&](ControlId id, Notify n) {
        if (n == Notify::EnterPressed) textInHandler = other.text(id);
    };
    ASSERT_TRUE(other.createWindow("w", 0, 0, 10, 10, h));
    ASSERT_TRUE(other.createControl(ControlKind::EditField, 7, 0, 0, 5, 5, ""));
    EXPECT_TRUE(other.simulateEnter(7, "C:\\New Path"));
    EXPECT_EQ(textInHandler, "C:\\New Path");

    EXPECT_TRUE(ui.closeWindow());
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.commands, (std::vector<std::pair<ControlId, Notify>>{{1001, Notify::Clicked},
                                                                          {1002, Notify::Clicked}}));
    EXPECT_EQ(seen.closes, 1);
}

TEST_F(HeadlessTest, RunHandlesMessagesFromOtherThreadsInOrderUntilQuit) {
    makeWindow();
    std::thread poster([this] {
        for (int i = 0; i < 100; ++i) ui.post(kStart, i);
        ui.post(kEnd, 7);  // its handler quits with 7
    });
    EXPECT_EQ(ui.run(), 7);
    poster.join();

    std::lock_guard lock(seen.mutex);
    ASSERT_EQ(seen.messages.size(), 101u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen.messages[i], std::pair(kStart, std::intptr_t{i}));
    for (auto id : seen.messageThreads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(HeadlessTest, QuitFromAnotherThreadWakesTheWaitingLoop) {
    makeWindow();
    std::atomic<bool> ranFirst{false};
    auto h = handlers();
    h.appMessage = [&](unsigned, std::intptr_t) { ranFirst = true; };
    HeadlessBackend loop;
    ASSERT_TRUE(loop.createWindow("w", 0, 0, 10, 10, h));
    int code = -1;
    std::thread uiThread([&] { code = loop.run(); });
    loop.post(kStart, 0);
    loop.quit(3);
    uiThread.join();
    EXPECT_EQ(code, 3);
    EXPECT_TRUE(ranFirst);  // posted before the quit, so handled before the loop ends
    EXPECT_TRUE(loop.pendingMessages().empty());

    // A second run starts afresh and waits for its own quit.
    std::thread again([&] { code = loop.run(); });
    loop.quit(0);
    again.join();
    EXPECT_EQ(code, 0);
}

TEST_F(HeadlessTest, PumpRunsOnlyWhatWasQueuedBefore) {
    auto h = handlers();
    int handled = 0;
    h.appMessage = [&](unsigned m, std::intptr_t) {
        ++handled;
        if (m == kStart) ui.post(kEnd, 0);  // waits for the next pump
    };
    ASSERT_TRUE(ui.createWindow("w", 0, 0, 10, 10, h));
    ui.post(kStart, 0);
    ui.post(kStart, 1);
    EXPECT_EQ(ui.pendingMessages(), (std::vector<PostedMessage>{{kStart, 0}, {kStart, 1}}));
    EXPECT_EQ(ui.pumpPending(), 2u);
    EXPECT_EQ(handled, 2);
    EXPECT_EQ(ui.pendingMessages(), (std::vector<PostedMessage>{{kEnd, 0}, {kEnd, 0}}));
    EXPECT_EQ(ui.pumpPending(), 2u);
    EXPECT_EQ(ui.pumpPending(), 0u);
}

TEST_F(HeadlessTest, PaintingIsRecorded) {
    makeWindow();
    const auto calls = ui.paintNow({0, 448, 880, 476});
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, DrawCall::Kind::FillRect);
    EXPECT_EQ(calls[0].rect, (Rect{0, 448, 880, 476}));
    EXPECT_EQ(calls[0].colour, (Rgb{153, 204, 255}));
    EXPECT_EQ(calls[1].kind, DrawCall::Kind::Line);
    EXPECT_EQ(calls[1].from, (Point{0, 140}));
    EXPECT_EQ(calls[1].to, (Point{880, 140}));
    EXPECT_EQ(calls[2].kind, DrawCall::Kind::Text);
    EXPECT_EQ(calls[2].from, (Point{5, 6}));
    EXPECT_EQ(calls[2].text, "ZNTV_P3D \xE2\x9C\x88");

    // Invalidations are logged for tests, and the loop repaints their union before it ends.
    std::thread other([this] {
        ui.invalidate({0, 0, 880, 28});
        ui.invalidate({397, 30, 425, 112});
        ui.post(kEnd, 0);
    });
    other.join();
    EXPECT_EQ(ui.invalidatedRects(), (std::vector<Rect>{{0, 0, 880, 28}, {397, 30, 425, 112}}));
    EXPECT_EQ(ui.run(), 0);
    const auto last = ui.lastPaint();
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last[0].rect, (Rect{0, 0, 880, 516}));  // the new window's own first paint covers both
    ui.clearInvalidated();
    EXPECT_TRUE(ui.invalidatedRects().empty());
}

TEST(UiBackend, TheProcessBackendIsHeadlessUntilReplaced) {
    EXPECT_NE(dynamic_cast<HeadlessBackend*>(&backend()), nullptr);
    auto owned = std::make_unique<HeadlessBackend>();
    HeadlessBackend* mine = owned.get();
    setBackend(std::move(owned));
    EXPECT_EQ(&backend(), mine);
    setBackend(nullptr);
    EXPECT_NE(&backend(), mine);
    EXPECT_NE(dynamic_cast<HeadlessBackend*>(&backend()), nullptr);
}
