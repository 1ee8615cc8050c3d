// zntv-window-shot FILE: draws the main window as a running program shows it, on a virtual X server of its
// own, and saves a picture of the window's client area to FILE (any format ImageMagick writes, by extension).
// Settings, registry and log go to a temporary folder; the user's own are never touched.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "platform/ui_fltk.h"
#include "support/test_support.h"
#include "window/main_window.h"
#include "window_scene.h"
#include "xvfb.h"

namespace fs = std::filesystem;
using namespace window_test;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const fs::path output = fs::absolute(argv[1]);

    testing_support::TempDir root;
    fs::create_directories(root.path() / "config");
    fs::create_directories(root.path() / "registry");
    testing_support::ScopedEnv xdg("XDG_CONFIG_HOME", (root.path() / "config").string());
    testing_support::ScopedEnv registry("ZNTV_REGISTRY_DIR", (root.path() / "registry").string());
    testing_support::ScopedCwd cwd(root.path());

    XvfbServer x(1600, 900);
    if (!x.running()) {
        std::fprintf(stderr, "no X server: %s\n", x.failure().c_str());
        return 1;
    }
    auto fltk = ui::FltkBackend::open();
    if (!fltk) {
        std::fprintf(stderr, "cannot open display %s\n", x.display().c_str());
        return 1;
    }
    ui::FltkBackend& window = *fltk;
    ui::setBackend(std::move(fltk));

    gf_initGlobalPaths();
    gf_openLog(root.path() / "Log.txt");
    if (!gf_createMainWindow()) {
        std::fprintf(stderr, "the window could not be created\n");
        return 1;
    }
    gf_showRunningScene();
    for (int i = 0; i < 500 && (window.paintCount() == 0 || window.nativeWindow() == 0); ++i) window.pump(5);
    window.pump(40);

    int left = 0, top = 0;
    window.windowPosition(left, top);
    const bool saved =
        gf_screenshot(x.display(), output, ui::Rect{left, top, left + kMainClientWidth, top + kMainClientHeight});
    window.destroyWindow();
    gf_closeLog();
    if (!saved) {
        std::fprintf(stderr, "the screenshot failed\n");
        return 1;
    }
    std::printf("%s\n", output.c_str());
    return 0;
}
