// The map window under a virtual X server: it shows the very picture that renderMap draws, at its own size.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <FL/x.H>

#include "map_window.h"
#include "support/test_support.h"
#include "xvfb.h"

using namespace std::chrono_literals;

TEST(MapWindowGui, ShowsTheRenderedMap) {
    if (!window_test::XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed";
    window_test::XvfbServer x(1024, 768);
    ASSERT_TRUE(x.running()) << x.failure();

    standin::MapRecorder recorder;
    recorder.setStands({{"A01", 47.4625, 8.5550, 30}});
    standin::ObjectState user, plane;
    user.latitude = 47.4612;
    user.longitude = 8.5535;
    user.heading = 280;
    plane.id = 100;
    plane.atcId = "SWR123";
    plane.latitude = 47.4650;
    plane.longitude = 8.5600;
    plane.heading = 45;
    recorder.sample({plane}, user, standin::MapRecorder::Clock::now());
    auto window = standin::MapWindow::open(recorder, 400, 300);
    ASSERT_TRUE(window) << "no display " << x.display();

    testing_support::TempDir dir;
    const auto shot = dir / "map.ppm";
    bool same = false;
    for (auto end = std::chrono::steady_clock::now() + 15s; !same && std::chrono::steady_clock::now() < end;) {
        window->wait(0.1);
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(fl_display, window->xid(), &attributes) || attributes.map_state != IsViewable)
            continue;
        int left = 0, top = 0;
        ::Window child = 0;
        XTranslateCoordinates(fl_display, window->xid(), DefaultRootWindow(fl_display), 0, 0, &left, &top, &child);
        XSync(fl_display, False);
        if (!window_test::gf_screenshot(x.display(), shot, ui::Rect{left, top, left + 400, top + 300})) continue;
        const auto img = window_test::gf_readPpm(shot);
        same = img && img->width == 400 && img->height == 300 && img->rgb == window->picture().rgb;
    }
    EXPECT_TRUE(same) << "the window does not show the map's picture";
    EXPECT_TRUE(window->picture().rgb == standin::renderMap(recorder.scene(), 400, 300).rgb);

    // '+' and the wheel turned towards the user zoom in, '-' and the wheel turned away zoom out; the window
    // draws the new scale at once.
    auto send = [&](int type, unsigned code) {
        XEvent e{};
        e.type = type;
        e.xany.window = window->xid();
        e.xkey.root = DefaultRootWindow(fl_display);
        e.xkey.x = e.xkey.y = 100;
        e.xkey.same_screen = True;
        if (type == KeyPress) e.xkey.keycode = code;
        else e.xbutton.button = code;
        XSendEvent(fl_display, window->xid(), True, type == KeyPress ? KeyPressMask : ButtonPressMask, &e);
        XFlush(fl_display);
        const double before = recorder.widthM();
        for (int i = 0; i < 100 && recorder.widthM() == before; ++i) window->wait(0.02);
        return recorder.widthM() / before;
    };
    EXPECT_DOUBLE_EQ(send(KeyPress, XKeysymToKeycode(fl_display, XK_KP_Add)), 0.8);
    EXPECT_DOUBLE_EQ(send(KeyPress, XKeysymToKeycode(fl_display, XK_minus)), 1.25);
    EXPECT_DOUBLE_EQ(send(ButtonPress, 4), 0.8);
    EXPECT_DOUBLE_EQ(send(ButtonPress, 5), 1.25);
    EXPECT_TRUE(window->picture().rgb == standin::renderMap(recorder.scene(), 400, 300).rgb);
}
