#include "map_window.h"

#include <algorithm>

#include <X11/Xlib.h>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

namespace standin {

struct MapWindow::View : Fl_Double_Window {
    View(MapRecorder& r, int w, int h) : Fl_Double_Window(w, h, "zntv-simulator map"), recorder(r) {
        resizable(this);
        size_range(200, 150);
        // The close box hides the map; the stand-in itself runs on.
        callback([](Fl_Widget* w, void*) { w->hide(); });
    }

    void refresh() {
        picture = renderMap(recorder.scene(), w(), h());
        redraw();
    }

    void draw() override {
        if (picture.width != w() || picture.height != h()) picture = renderMap(recorder.scene(), w(), h());
        fl_draw_image(picture.rgb.data(), 0, 0, picture.width, picture.height, 3);
    }

    void resize(int x, int y, int w, int h) override {
        Fl_Double_Window::resize(x, y, w, h);
        refresh();
    }

    int handle(int event) override {
        if (event == FL_MOUSEWHEEL && Fl::event_dy() != 0) {
            recorder.zoom(Fl::event_dy() > 0 ? 1.25 : 0.8);
            refresh();
            return 1;
        }
        if (event == FL_KEYDOWN || event == FL_SHORTCUT) {
            const int key = Fl::event_key();
            const char* text = Fl::event_text();
            const char c = text != nullptr ? text[0] : 0;
            if (c == '+' || c == '=' || key == FL_KP + '+') {
                recorder.zoom(0.8);
                refresh();
                return 1;
            }
            if (c == '-' || key == FL_KP + '-') {
                recorder.zoom(1.25);
                refresh();
                return 1;
            }
        }
        if (event == FL_FOCUS || event == FL_UNFOCUS) return 1;  // to get the keys
        return Fl_Double_Window::handle(event);
    }

    MapRecorder& recorder;
    RgbImage picture;
};

ScreenRect gf_placeMapWindow(const ScreenRect& screen, int width, int height, const std::optional<ScreenRect>& beside) {
    // The gap leaves room for the frames the window manager draws around both windows.
    constexpr int kGap = 16, kMinWidth = 320;
    const int right = screen.x + screen.w;
    const ScreenRect atRightEdge{std::max(screen.x, right - width), screen.y, width, height};
    if (!beside) return atRightEdge;
    const int top = std::clamp(beside->y, screen.y, std::max(screen.y, screen.y + screen.h - height));
    const int roomRight = right - (beside->x + beside->w + kGap);
    const int roomLeft = beside->x - kGap - screen.x;
    if (roomRight >= width) return {beside->x + beside->w + kGap, top, width, height};
    if (roomLeft >= width) return {beside->x - kGap - width, top, width, height};
    if (std::max(roomRight, roomLeft) < kMinWidth) return atRightEdge;
    if (roomRight >= roomLeft) return {right - roomRight, top, roomRight, height};
    return {screen.x, top, roomLeft, height};
}

std::unique_ptr<MapWindow> MapWindow::open(MapRecorder& recorder, int width, int height,
                                           const std::optional<ScreenRect>& beside) {
    if (fl_display == nullptr) {
        // FLTK ends the process when it cannot open the display itself, so the display is opened here.
        Display* display = XOpenDisplay(nullptr);
        if (display == nullptr) return nullptr;
        fl_open_display(display);
    }
    Fl::visual(FL_RGB);
    int sx = 0, sy = 0, sw = 0, sh = 0;
    Fl::screen_work_area(sx, sy, sw, sh);
    const ScreenRect place = gf_placeMapWindow({sx, sy, sw, sh}, width, height, beside);
    std::unique_ptr<MapWindow> window(new MapWindow());
    window->m_view = new View(recorder, place.w, place.h);
    window->m_view->end();
    window->m_view->position(place.x, place.y);
    window->m_view->refresh();
    window->m_view->show();
    return window;
}

MapWindow::~MapWindow() {
    if (m_view != nullptr) {
        m_view->hide();
        delete m_view;
        Fl::flush();
    }
}

void MapWindow::refresh() {
    if (m_view->shown()) m_view->refresh();
}

bool MapWindow::wait(double seconds) {
    if (!m_view->shown()) return false;
    Fl::wait(seconds);
    return m_view->shown();
}

bool MapWindow::shown() const { return m_view->shown(); }

const RgbImage& MapWindow::picture() const { return m_view->picture; }

unsigned long MapWindow::xid() const { return m_view->shown() ? fl_xid(m_view) : 0; }

}  // namespace standin
