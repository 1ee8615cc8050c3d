// A virtual X server for the window's picture tests and the screenshot tool, and the screenshots themselves
// (taken with ImageMagick's "import", read back as PPM).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/ui.h"

namespace window_test {

class XvfbServer {
public:
    // Starts Xvfb on a display number it picks itself and points DISPLAY at it for the object's lifetime.
    XvfbServer(int width = 1280, int height = 1024);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return m_pid > 0 && !m_display.empty(); }
    const std::string& display() const { return m_display; }  // ":N"
    const std::string& failure() const { return m_failure; }  // why it is not running

    // Whether the Xvfb program can be found at all.
    static bool installed();

private:
    pid_t m_pid = -1;
    std::string m_display;
    std::string m_failure;
    std::optional<std::string> m_oldDisplay;
};

// Whether a program is on the PATH.
bool gf_programOnPath(const std::string& name);

// Writes the screen of the display (or the crop of it) to the file, in the format its extension names.
// Runs "import"; false when it failed.
bool gf_screenshot(const std::string& display, const std::filesystem::path& file,
                   std::optional<ui::Rect> crop = std::nullopt);

struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, rows top to bottom
    ui::Rgb at(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

// A binary PPM (P6) with 8 or 16 bits a sample; nothing when the file is no such picture.
std::optional<Image> gf_readPpm(const std::filesystem::path& file);

}  // namespace window_test
