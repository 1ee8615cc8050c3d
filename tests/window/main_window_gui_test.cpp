// The real window under a virtual X server: what it shows on the screen, where its controls stand, and
// that a click and Enter from the X server reach the program's handlers as the program expects them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <thread>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "expected_layout.h"
#include "platform/ui_fltk.h"
#include "window_scene.h"
#include "window_test_env.h"
#include "xvfb.h"

using namespace window_test;

namespace {

// One server for the whole process: FLTK keeps its display connection once it is open. It ends with the
// process. Wide enough that the window at its default position stands clear of the screen's edge.
XvfbServer& lf_server() {
    static XvfbServer server(1600, 1200);
    return server;
}

class MainWindowGuiTest : public WindowEnv {
protected:
    void SetUp() override {
        if (!XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed";
        WindowEnv::SetUp();
        m_x = &lf_server();
        // Xvfb is there, so a display that does not come up is a failure, not a reason to skip.
        ASSERT_TRUE(m_x->running()) << m_x->failure();
        auto fltk = ui::FltkBackend::open();
        ASSERT_TRUE(fltk) << "cannot open display " << m_x->display();
        m_fltk = fltk.get();
        ui::setBackend(std::move(fltk));
    }

    void TearDown() override {
        if (m_fltk != nullptr) m_fltk->destroyWindow();
        WindowEnv::TearDown();
    }

    // Runs the loop until the window has been painted and shown; bounded by rounds, not by time.
    void settle() {
        for (int i = 0; i < 500 && (m_fltk->paintCount() == 0 || m_fltk->nativeWindow() == 0); ++i) m_fltk->pump(5);
        ASSERT_GT(m_fltk->paintCount(), 0);
        m_fltk->pump(20);
    }

    Image screenshot(const std::string& name) {
        const fs::path file = m_root.path() / (name + ".ppm");
        EXPECT_TRUE(gf_screenshot(m_x->display(), file)) << "import failed";
        auto image = gf_readPpm(file);
        EXPECT_TRUE(image) << "no picture in " << file;
        return image.value_or(Image{});
    }

    // The colour at a point of the window's client area.
    ui::Rgb pixel(const Image& image, int x, int y) const {
        int wx = 0, wy = 0;
        m_fltk->windowPosition(wx, wy);
        return image.at(wx + x, wy + y);
    }

    int pixelsNotOf(const Image& image, const ui::Rect& r, ui::Rgb background) const {
        int count = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (!(pixel(image, x, y) == background)) ++count;
        return count;
    }

    // Sends a button press and release at a client point, as the X server would for a real click.
    void clickAt(int x, int y) {
        Display* d = XOpenDisplay(m_x->display().c_str());
        ASSERT_NE(d, nullptr);
        const Window w = m_fltk->nativeWindow();
        for (int type : {ButtonPress, ButtonRelease}) {
            XEvent ev{};
            ev.xbutton.type = type;
            ev.xbutton.display = d;
            ev.xbutton.window = w;
            ev.xbutton.root = DefaultRootWindow(d);
            ev.xbutton.x = x;
            ev.xbutton.y = y;
            ev.xbutton.button = Button1;
            ev.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
            ev.xbutton.same_screen = True;
            ev.xbutton.time = CurrentTime;
            XSendEvent(d, w, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &ev);
            XSync(d, False);
            m_fltk->pump(5);
        }
        XCloseDisplay(d);
        m_fltk->pump(10);
    }

    void typeKeys(const std::vector<KeySym>& keys) {
        Display* d = XOpenDisplay(m_x->display().c_str());
        ASSERT_NE(d, nullptr);
        const Window w = m_fltk->nativeWindow();
        for (KeySym sym : keys) {
            for (int type : {KeyPress, KeyRelease}) {
                XEvent ev{};
                ev.xkey.type = type;
                ev.xkey.display = d;
                ev.xkey.window = w;
                ev.xkey.root = DefaultRootWindow(d);
                ev.xkey.keycode = XKeysymToKeycode(d, sym);
                ev.xkey.same_screen = True;
                ev.xkey.time = CurrentTime;
                XSendEvent(d, w, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &ev);
                XSync(d, False);
                m_fltk->pump(5);
            }
        }
        XCloseDisplay(d);
        m_fltk->pump(10);
    }

    XvfbServer* m_x = nullptr;
    ui::FltkBackend* m_fltk = nullptr;
};

TEST_F(MainWindowGuiTest, ScreenShowsTheBandsAndTheStatusLineColours) {
    ASSERT_TRUE(gf_createMainWindow());
    gf_enableSettingsControls();
    ASSERT_NO_FATAL_FAILURE(settle());
    int wx = 0, wy = 0;
    ASSERT_TRUE(m_fltk->windowPosition(wx, wy));
    EXPECT_EQ(wx, 400);
    EXPECT_EQ(wy, 20);

    const Image shot = screenshot("window");
    ASSERT_GE(shot.width, 1600);
    EXPECT_EQ(pixel(shot, 300, 3), kBlack);       // title band
    EXPECT_EQ(pixel(shot, 200, 60), kBlack);      // connection band
    EXPECT_EQ(pixel(shot, 700, 28), kWhite);      // line under the title band
    EXPECT_EQ(pixel(shot, 700, 113), kWhite);     // line over the settings band
    EXPECT_EQ(pixel(shot, 620, 390), kLightBlue); // settings band
    EXPECT_EQ(pixel(shot, 860, 300), kLightBlue);
    EXPECT_EQ(pixel(shot, 300, 140), kBlack);     // separators of the settings band
    EXPECT_EQ(pixel(shot, 642, 250), kBlack);
    EXPECT_EQ(pixel(shot, 700, 252), kLightBlue);  // the short separators end at 642
    EXPECT_EQ(pixel(shot, 200, 420), kBlack);     // parking band, empty without a park airport
    EXPECT_EQ(pixel(shot, 870, 470), kGreen);     // status line
    EXPECT_EQ(pixel(shot, 410, 100), kRed);       // simulator box: not connected
    // the title band's texts are there: green on black
    EXPECT_GT(pixelsNotOf(shot, {3, 7, 90, 22}, kBlack), 20);     // "Version 10.10.4"
    EXPECT_GT(pixelsNotOf(shot, {390, 7, 460, 22}, kBlack), 20);  // "ZNTV_P3D"
    EXPECT_GT(pixelsNotOf(shot, {632, 7, 870, 22}, kBlack), 20);  // owner notice
    EXPECT_EQ(pixelsNotOf(shot, {470, 3, 620, 24}, kBlack), 0);   // and nothing between them

    gf_showError("something went wrong");
    m_fltk->pump(20);
    const Image broken = screenshot("error");
    EXPECT_EQ(pixel(broken, 870, 470), kRed);
    EXPECT_GT(pixelsNotOf(broken, {3, 455, 150, 470}, kRed), 20);  // the error text
}

TEST_F(MainWindowGuiTest, ControlsStandWhereTheLayoutPutsThem) {
    ASSERT_TRUE(gf_createMainWindow());
    ASSERT_NO_FATAL_FAILURE(settle());
    ASSERT_EQ(expectedControls().size(), 44u);
    for (const auto& expected : expectedControls()) {
        const auto rect = m_fltk->widgetRect(expected.id);
        ASSERT_TRUE(rect) << expected.id;
        EXPECT_EQ(*rect, expected.rect) << expected.id;
    }
    // a check box shows its state on the screen: LOG is set, ALWAYS_ON_TOP is not
    const Image shot = screenshot("boxes");
    EXPECT_GT(pixelsNotOf(shot, {654, 151, 662, 159}, kWhite), 0);
    EXPECT_EQ(pixelsNotOf(shot, {750, 151, 758, 159}, kWhite), 0);
}

TEST_F(MainWindowGuiTest, LabelsStayClearOfTheirRightNeighbours) {
    ASSERT_TRUE(gf_createMainWindow());
    ASSERT_NO_FATAL_FAILURE(settle());

    struct Item {
        int left, top;
        std::string text;  // empty for a control
    };
    struct Recorder final : ui::Canvas {
        std::vector<Item> items;
        void fillRect(const ui::Rect&, ui::Rgb) override {}
        void line(int, int, int, int, ui::Rgb) override {}
        void text(int x, int y, std::string_view t, ui::Rgb) override { items.push_back({x, y, std::string(t)}); }
    };
    // Every label drawn must end before whatever stands next to it on its row; returns how many were checked.
    auto checkLabels = [this] {
        Recorder recorder;
        lf_paintControlLabels(recorder);
        std::vector<Item> items = recorder.items;
        for (const auto& c : expectedControls()) items.push_back({c.rect.left, c.rect.top, ""});
        int checked = 0;
        for (const Item& label : items) {
            if (label.text.empty()) continue;
            int limit = kMainClientWidth;
            for (const Item& other : items) {
                // on the same row: controls sit up to 2 pixels off their labels' y
                if (other.left > label.left && std::abs(other.top - label.top) <= 2) limit = std::min(limit, other.left);
            }
            EXPECT_LE(label.left + m_fltk->textWidth(label.text), limit) << '"' << label.text << "\" at " << label.left;
            ++checked;
        }
        return checked;
    };

    // the longest texts the band can show
    g_mainWindow.addonAirportCount = 1234;
    g_mainWindow.minutesToRenewal = 19;
    m_services.standFileLoaded = true;
    EXPECT_EQ(checkLabels(), 54);
    m_services.parkingBusy = 1;  // "Airport parking active" in place of the renewal hint
    EXPECT_EQ(checkLabels(), 53);
}

// The longest texts of the status line, filled with long paths as users have them: each must fit the line, and
// only what the program fills in ("{}") may lose characters; the words around it stay whole and in order.
TEST_F(MainWindowGuiTest, TheLongestStatusTextsFitTheLineWithOnlyTheirPathsCut) {
    struct Row {
        const char* name;
        bool red;  // a fault or an error, else a message
        std::string format;
        std::vector<std::string> values;
    };
    const std::string home = "/home/captain.longname";
    const std::string program = home + "/Flight Simulation/ZNTV_P3D";
    const Row rows[] = {
        {"InstallFolder", true,
         "This install path does not exist: {}; its liveries and add-on airports not read. Type the full Install "
         "Path, press Enter",
         {"E:\\Program Files (x86)\\Lockheed Martin\\Prepar3D v5 Academic"}},
        {"SimulatorPortSilent", false,
         "Waiting for Prepar3Dv5 ... at {}: refused or {}: no such pipe (from {})",
         {"127.0.0.1:50123", "\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect",
          home + "/Documents/Prepar3D v5 Add-ons/SimConnect.cfg"}},
        {"NoSimConnectCfg", false,
         "Waiting for Prepar3Dv5 ... at {}: no such pipe (no SimConnect.cfg found: the simulator on this machine "
         "assumed)",
         {"\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect"}},
        {"ServiceSilent", true, "RT at {} silent for weather since 12:34:56 UTC ({}); a lost login restarts ZNTV_P3D",
         {"https://rtapi.zentavo.example.net/v4/", "Failure when receiving data from the peer"}},
        {"StandFile", true,
         "{} could not be loaded: Error parsing document declaration/processing instruction; no parking at EHAM "
         "until its stand file loads",
         {program + "/airports/learned/thirdparty/FlyTampa/EHAM.xml"}},
        {"LicenceRefused", true, "Reader error: RT login at {}auth refused, status: 401 (license file \"{}\")",
         {"https://rtapi.zentavo.example.net/v4/", home + "/.config/InsideSystems/RealTraffic.lic"}},
        {"LiveriesGone", false, "File {} is gone, rescan liveries", {program + "/output/LiveriesScanned.xml"}},
        {"RegcodeErrors", false,
         "There were errors in processing the regcode files in folder \"{}\", see the Log.txt",
         {program + "/my_regcodes"}},
        {"LearnedNotSaved", false,
         "12:34:56 saving \"{}\" did not succeed (No space left on device), its learning is kept for the next save",
         {program + "/airports/learned/thirdparty/FlyTampa Amsterdam/EHAM.xml"}},
        {"ManyParkAirports", false,
         "Warning: There are a lot of airports (12345) in my_park_airports.txt, that will cost ZNTV much cpu time, "
         "and may give stutters",
         {}},
    };
    ASSERT_TRUE(gf_createMainWindow());
    ASSERT_NO_FATAL_FAILURE(settle());
    struct Measuring final : ui::Canvas {
        const ui::FltkBackend* fltk = nullptr;
        std::string statusText;
        void fillRect(const ui::Rect&, ui::Rgb) override {}
        void line(int, int, int, int, ui::Rgb) override {}
        void text(int x, int y, std::string_view t, ui::Rgb) override {
            if (x == 3 && y == 455) statusText = t;
        }
        int textWidth(std::string_view t) const override { return fltk->textWidth(t); }
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> words;  // the text around the values
        std::string text;
        std::size_t at = 0;
        for (const std::string& value : row.values) {
            const std::size_t mark = row.format.find("{}", at);
            words.push_back(row.format.substr(at, mark - at));
            text += words.back() + value;
            at = mark + 2;
        }
        words.push_back(row.format.substr(at));
        text += words.back();
        gf_clearError();
        if (row.red) {
            gf_showError(text);
        } else {
            gf_showMessage(text, false);
        }
        Measuring canvas;
        canvas.fltk = m_fltk;
        lf_paintMainWindow(canvas);
        const std::string& shown = canvas.statusText;
        EXPECT_LE(m_fltk->textWidth(shown), kMainClientWidth - 2 * 3) << shown;
        EXPECT_TRUE(shown.starts_with(words.front()) && shown.ends_with(words.back())) << shown;
        std::size_t found = 0;
        for (const std::string& word : words) {
            found = shown.find(word, found);
            if (found == std::string::npos) {
                ADD_FAILURE() << '"' << word << "\" is cut in " << shown;
                break;
            }
            found += word.size();
        }
    }
}

TEST_F(MainWindowGuiTest, ClickFlipsACheckBoxOnceAndEnterAppliesAField) {
    ASSERT_TRUE(gf_createMainWindow());
    gf_enableSettingsControls();
    ASSERT_NO_FATAL_FAILURE(settle());

    ASSERT_TRUE(g_LOG.value());
    clickAt(658, 155);  // the LOG box
    EXPECT_FALSE(g_LOG.value());
    EXPECT_FALSE(ui::backend().isChecked(g_LOG.controlId));
    EXPECT_EQ(stored("LOG"), "false");
    clickAt(658, 155);
    EXPECT_TRUE(g_LOG.value());
    EXPECT_TRUE(ui::backend().isChecked(g_LOG.controlId));

    // typing alone does nothing; Enter applies
    clickAt(360, 350);  // AIRPORT_RANGE
    typeKeys({XK_2, XK_5});
    EXPECT_EQ(g_AIRPORT_RANGE.value(), 20);
    EXPECT_EQ(ui::backend().text(g_AIRPORT_RANGE.controlId), "25");
    clickAt(230, 350);  // another field takes the focus: still nothing
    EXPECT_EQ(g_AIRPORT_RANGE.value(), 20);
    clickAt(360, 350);
    typeKeys({XK_Return});
    EXPECT_EQ(g_AIRPORT_RANGE.value(), 25);
    EXPECT_EQ(gf_statusMessage(), "The new AIRPORT_RANGE is 25");
}

TEST_F(MainWindowGuiTest, OtherThreadsChangeTheWindowWithoutWaitingForIt) {
    ASSERT_TRUE(gf_createMainWindow());
    ASSERT_NO_FATAL_FAILURE(settle());
    // the UI thread does not run its loop now; a worker's calls must still return
    std::jthread worker([] {
        ui::backend().setText(g_MATCHING_DEPTH.controlId, "3");
        ui::backend().setEnabled(g_MATCHING_DEPTH.controlId, true);
        ui::backend().setChecked(g_LOG.controlId, false);
        gf_showError("from the worker");
        ui::backend().post(0x8123, 7);
    });
    worker.join();
    EXPECT_EQ(ui::backend().text(g_MATCHING_DEPTH.controlId), "3");
    EXPECT_FALSE(ui::backend().isChecked(g_LOG.controlId));

    // the loop carries the changes to the screen
    m_fltk->pump(20);
    const Image shot = screenshot("worker");
    EXPECT_EQ(pixel(shot, 870, 470), kRed);
    EXPECT_EQ(pixelsNotOf(shot, {654, 151, 662, 159}, kWhite), 0);  // LOG no longer ticked
}

}  // namespace
