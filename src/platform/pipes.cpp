#include "platform/pipes.h"

#include "platform/folders.h"
#include "platform/names.h"

#include <fmt/format.h>

#include <climits>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

// sun_path holds 108 bytes including the terminating zero.
constexpr std::size_t kMaxSocketPath = 107;

bool lf_isLocalHost(std::string_view host) {
    if (host == "." || equalsNoCase(host, "localhost")) return true;
    char buf[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return false;
    std::string_view mine(buf);
    if (mine.empty()) return false;
    // Windows names a machine by its short name; accept that as well as the full one.
    return equalsNoCase(host, mine) || equalsNoCase(host, mine.substr(0, mine.find('.')));
}

}  // namespace

fs::path pipeFolder() { return runtimeFolder() / "zntv-pipes"; }

std::optional<fs::path> pipeSocketPath(std::string_view pipeName) {
    // "\\HOST\pipe\NAME": two backslashes, a host, the literal "pipe", then the name (which may itself hold
    // backslashes, as the simulator's default "Lockheed Martin Prepar3D v5\SimConnect" does).
    if (pipeName.size() < 2 || pipeName[0] != '\\' || pipeName[1] != '\\') return std::nullopt;
    std::string_view rest = pipeName.substr(2);
    const auto hostEnd = rest.find('\\');
    if (hostEnd == std::string_view::npos || hostEnd == 0) return std::nullopt;
    const std::string_view host = rest.substr(0, hostEnd);
    rest = rest.substr(hostEnd + 1);
    if (rest.size() < 5 || !equalsNoCase(rest.substr(0, 4), "pipe") || rest[4] != '\\') return std::nullopt;
    const std::string_view name = rest.substr(5);
    // "." and ".." would survive the character mapping and name the folder itself or its parent.
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    if (!lf_isLocalHost(host)) return std::nullopt;

    const fs::path folder = pipeFolder();
    const std::string safe = safeFileName(name);
    fs::path full = folder / safe;
    if (full.native().size() > kMaxSocketPath) {
        // Too long for a Unix socket address: use a short name derived from a hash of the mapped name, so
        // that the server and every client still agree on it. If even that does not fit, the folder itself
        // is too deep and the socket call reports it.
        full = folder / fmt::format("pipe-{:016x}", fnv1a64(safe));
    }
    return full;
}

}  // namespace platform
