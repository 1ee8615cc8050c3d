// The real window: the window layer on FLTK 1.3 under X11.
//
// All FLTK calls happen on the UI thread, the thread that created the window and runs the loop. The
// backend keeps its own copy of every control's state (enabled, checked, text) under a mutex, so that any
// thread may read it and change it without waiting for the UI thread: a change from another thread is
// stored, marked, and carried to the widget by the UI thread after a wake-up byte on a pipe that the loop
// watches. Posted messages take the same way.
//
// Behaviour the program relies on:
// - a click on a check box does not flip it; the program's command handler does the flip;
// - an edit field reports Enter (and only Enter, never a loss of focus) to the command handler, with the
//   text the user typed already readable through text();
// - text is placed by its top-left point, in one fixed font at one size;
// - the window has a fixed client size and cannot be resized; its close box calls closeRequested and
//   leaves the window open, Escape does nothing.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/ui.h"

namespace ui {

class FltkBackend final : public Backend {
public:
    // Opens the display named by $DISPLAY; nullptr when there is none or it cannot be opened.
    static std::unique_ptr<FltkBackend> open();
    ~FltkBackend() override;
    FltkBackend(const FltkBackend&) = delete;
    FltkBackend& operator=(const FltkBackend&) = delete;

    bool createWindow(const std::string& title, int x, int y, int width, int height,
                      WindowHandlers handlers) override;
    bool hasWindow() const override;
    void destroyWindow() override;
    bool windowPosition(int& x, int& y) const override;
    void setTopmost(bool on) override;

    // UI thread only (the thread that created the window).
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

    int run() override;
    void quit(int code) override;

    // ---- for the window's own tests and the screenshot tool; UI thread only ----
    // Handles what is pending (events, carried changes, posted messages, repaints) without waiting, then
    // makes sure the X server has drawn it all.
    void pump(int rounds = 20);
    // The widget's geometry as it stands in the window, or nothing when there is no such control.
    std::optional<Rect> widgetRect(ControlId id) const;
    // The width of a text in the window's font, in pixels.
    int textWidth(std::string_view utf8) const;
    // How often the paint handler has run.
    int paintCount() const;
    // The X window id of the main window, 0 while it is not shown.
    unsigned long nativeWindow() const;

    struct Impl;  // the FLTK side, kept out of this header

private:
    FltkBackend();
    std::unique_ptr<Impl> m;
};

// The real window as a plain Backend; nullptr when no display can be opened.
std::unique_ptr<Backend> makeFltkBackend();

}  // namespace ui
