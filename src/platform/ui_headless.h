// The headless window backend: keeps the window's and the controls' state, records what the paint handler
// draws, and runs posted messages on whichever thread calls run() (or pumpPending()). Unit tests drive the
// window through it; the program uses it when ZNTV_HEADLESS=1 so that end-to-end runs need no display.
// Given a screen file, it keeps the texts that the window shows and rewrites that file after every paint: one
// line per text, top to bottom and left to right, each followed by a tab and its colours (the text's, and that
// of the filled rectangle it stands on), so that a run without a display can be read (and checked).
//
// Tests install one with
//     auto owned = std::make_unique<ui::HeadlessBackend>();
//     ui::HeadlessBackend& hb = *owned;
//     ui::setBackend(std::move(owned));
// and then use the inspection and simulation calls below. Every call is safe from any thread; handlers run
// on the calling thread without the backend's lock held, so they may call back into the backend.
#pragma once

#include "platform/ui.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ui {

struct Point {
    int x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct ControlState {
    ControlKind kind = ControlKind::PushButton;
    ControlId id = 0;
    Rect rect;            // client coordinates, as created
    std::string caption;  // as created
    bool enabled = true;
    bool checked = false;
    std::string text;     // the current window text; starts as the caption
};

struct WindowState {
    std::string title;
    int x = 0, y = 0, width = 0, height = 0;
    bool topmost = false;
};

struct DrawCall {
    enum class Kind { FillRect, Line, Text };
    Kind kind = Kind::FillRect;
    Rect rect;         // FillRect
    Point from, to;    // Line: the two end points; Text: `from` is the top-left point
    std::string text;  // Text
    Rgb colour;
};

struct PostedMessage {
    unsigned message = 0;
    std::intptr_t param = 0;
    friend bool operator==(const PostedMessage&, const PostedMessage&) = default;
};

class HeadlessBackend : public Backend {
public:
    HeadlessBackend() = default;
    // Keeps the shown texts in `screenFile` (see above); an empty path keeps none.
    explicit HeadlessBackend(std::filesystem::path screenFile) : m_screenFile(std::move(screenFile)) {}
    ~HeadlessBackend() override = default;

    bool createWindow(const std::string& title, int x, int y, int width, int height,
                      WindowHandlers handlers) override;
    bool hasWindow() const override;
    void destroyWindow() override;
    bool windowPosition(int& x, int& y) const override;
    void setTopmost(bool on) override;

    bool createControl(ControlKind kind, ControlId id, int x, int y, int width, int height,
                       const std::string& caption) override;
    bool hasControl(ControlId id) const override;
    void setEnabled(ControlId id, bool enabled) override;
    bool isEnabled(ControlId id) const override;
    void setChecked(ControlId id, bool checked) override;
    bool isChecked(ControlId id) const override;
    void setText(ControlId id, const std::string& utf8) override;
    std::string text(ControlId id) const override;

    void invalidate(const Rect& r) override;
    void post(unsigned message, std::intptr_t param) override;

    // Handles posted messages in order, and paints after invalidations, until quit(). Messages posted before
    // the quit are still handled first, as on the original platform. Exceptions from handlers pass through.
    int run() override;
    void quit(int code) override;

    // ---- inspection ----
    std::optional<ControlState> controlState(ControlId id) const;
    std::vector<ControlState> controls() const;  // ordered by id
    std::optional<WindowState> windowState() const;
    // Every rectangle passed to invalidate() since the window was created or the last clearInvalidated().
    std::vector<Rect> invalidatedRects() const;
    void clearInvalidated();
    // Posted messages that no loop has handled yet, oldest first.
    std::vector<PostedMessage> pendingMessages() const;
    // What the paint handler drew the last time run() painted; empty before that.
    std::vector<DrawCall> lastPaint() const;

    // ---- simulation of the user and the loop ----
    // A click on an enabled check box or push button: calls the command handler with Notify::Clicked.
    // The check state is left alone; the program's handler flips it. False when nothing was delivered
    // (no such control, disabled, an edit field, or no window).
    bool simulateClick(ControlId id);
    // Enter in an enabled edit field: sets its text, then calls the command handler with
    // Notify::EnterPressed. False when nothing was delivered.
    bool simulateEnter(ControlId id, const std::string& text);
    // Calls the paint handler with a recording canvas and returns what it drew. Call it from the thread
    // that plays the UI thread (not while run() is running on another one).
    std::vector<DrawCall> paintNow(const Rect& dirty);
    // Handles the messages queued at the time of the call on the calling thread, oldest first, and
    // returns how many were taken (messages they post in turn wait for the next call).
    std::size_t pumpPending();
    // The user closes the window: calls the closeRequested handler; false when there is no window.
    bool closeWindow();
    // The user drags the window to a new position.
    void simulateMove(int x, int y);

private:
    void dispatch(const std::shared_ptr<const WindowHandlers>& handlers, const PostedMessage& msg);
    std::vector<DrawCall> paintWith(const std::shared_ptr<const WindowHandlers>& handlers, const Rect& dirty);
    void lf_updateScreen(const Rect& dirty, const std::vector<DrawCall>& calls);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<WindowState> m_window;
    std::shared_ptr<const WindowHandlers> m_handlers;  // copied out so that handlers run unlocked
    std::map<ControlId, ControlState> m_controls;
    std::vector<Rect> m_invalidated;
    std::optional<Rect> m_dirty;  // union of what run() still has to paint
    std::vector<DrawCall> m_lastPaint;
    std::deque<PostedMessage> m_queue;
    std::filesystem::path m_screenFile;
    // (y, x) of a shown text -> the line that shows it: the text, a tab, its colour and the colour of what it
    // is drawn on ("#ffff00 on #ff0000"); run() only.
    std::map<std::pair<int, int>, std::string> m_screen;
    bool m_quitRequested = false;
    int m_quitCode = 0;
};

}  // namespace ui
