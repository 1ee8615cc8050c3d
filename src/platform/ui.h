// The window layer: one fixed-size top-level window with child controls addressed by 16-bit ids, a paint
// callback, application messages posted to the UI thread and a loop that runs until quit.
// Two backends: the real window (FLTK) and a headless one that records state and draw calls.
// Every call other threads make (invalidate, setText, setChecked, setEnabled, post) is asynchronous and
// never blocks on the UI thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ui {

using ControlId = std::uint16_t;

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Client-area rectangle: left and top inclusive, right and bottom exclusive.
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

enum class ControlKind { CheckBox, PushButton, EditField };

// What a control reports to the window's command handler.
enum class Notify { Clicked, EnterPressed };

// The application messages of the program (WM_APP + n on the original platform).
inline constexpr unsigned kAppMessageBase = 0x8000;

class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void fillRect(const Rect& r, Rgb colour) = 0;
    virtual void line(int x1, int y1, int x2, int y2, Rgb colour) = 0;  // 1 pixel wide
    virtual void text(int x, int y, std::string_view utf8, Rgb colour) = 0;  // top-left point
    // The width of a text as text() would draw it, in pixels. A canvas that draws no glyphs (the headless
    // one records texts) measures none: 0, so that whatever fits a width is recorded whole.
    virtual int textWidth(std::string_view utf8) const {
        (void)utf8;
        return 0;
    }
};

struct WindowHandlers {
    std::function<void(Canvas&, const Rect& dirty)> paint;
    std::function<void(ControlId, Notify)> command;
    std::function<void(unsigned message, std::intptr_t param)> appMessage;
    std::function<void()> closeRequested;  // the user closed the window
};

class Backend {
public:
    virtual ~Backend() = default;

    virtual bool createWindow(const std::string& title, int x, int y, int width, int height,
                              WindowHandlers handlers) = 0;
    virtual bool hasWindow() const = 0;
    virtual void destroyWindow() = 0;
    virtual bool windowPosition(int& x, int& y) const = 0;
    virtual void setTopmost(bool on) = 0;

    virtual bool createControl(ControlKind kind, ControlId id, int x, int y, int width, int height,
                               const std::string& caption) = 0;
    virtual bool hasControl(ControlId id) const = 0;
    virtual void setEnabled(ControlId id, bool enabled) = 0;
    virtual bool isEnabled(ControlId id) const = 0;
    virtual void setChecked(ControlId id, bool checked) = 0;
    virtual bool isChecked(ControlId id) const = 0;
    virtual void setText(ControlId id, const std::string& utf8) = 0;
    virtual std::string text(ControlId id) const = 0;

    virtual void invalidate(const Rect& r) = 0;
    virtual void post(unsigned message, std::intptr_t param) = 0;

    // Runs the loop on the calling thread (the UI thread) until quit(); returns the quit code.
    virtual int run() = 0;
    virtual void quit(int code) = 0;
};

// The process-wide backend. Until one is set, a headless backend is used.
Backend& backend();
void setBackend(std::unique_ptr<Backend> b);
std::unique_ptr<Backend> makeHeadlessBackend();
// The same, keeping the texts it shows in a file (see HeadlessBackend); an empty path keeps none.
std::unique_ptr<Backend> makeHeadlessBackend(const std::filesystem::path& screenFile);

}  // namespace ui
