// The map of the stand-in's world in an FLTK window: the picture renderMap draws, shown as it is, redrawn at
// the window's size whenever the map is refreshed, zoomed or resized. Mouse wheel, + and - zoom.
// Every call on the thread that opened it (the map's loop).
#pragma once

#include <memory>
#include <optional>

#include "map.h"

namespace standin {

// A rectangle on the screen, in pixels.
struct ScreenRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const ScreenRect&) const = default;
};

// Where the map window goes on the screen's work area: beside the given window (the program's, whose legend
// and band would otherwise hide each other), on the side with room for the whole map, else on the roomier side
// narrowed to what is left there; at the right edge of the screen when no window is given or neither side has
// a useful width left.
ScreenRect gf_placeMapWindow(const ScreenRect& screen, int width, int height, const std::optional<ScreenRect>& beside);

class MapWindow {
public:
    // Opens the display named by $DISPLAY and shows the window (beside the given one, see gf_placeMapWindow);
    // nullptr when there is no display.
    static std::unique_ptr<MapWindow> open(MapRecorder& recorder, int width, int height,
                                           const std::optional<ScreenRect>& beside = std::nullopt);
    ~MapWindow();
    MapWindow(const MapWindow&) = delete;
    MapWindow& operator=(const MapWindow&) = delete;

    // Draws the recorder's scene anew.
    void refresh();
    // Handles the window's events for up to the given time; false once the window is closed.
    bool wait(double seconds);
    bool shown() const;
    const RgbImage& picture() const;
    // The window on the screen (X11 window id), for screenshots; 0 when it is not shown.
    unsigned long xid() const;

private:
    MapWindow() = default;
    struct View;
    View* m_view = nullptr;  // owned by FLTK's window list until deleted here
};

}  // namespace standin
