#include "platform/folders.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

// A variable that is unset, empty or relative counts as absent: the XDG rules say a relative value must be
// ignored, and an empty one would silently turn into the working folder.
std::optional<fs::path> lf_absoluteFromEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    fs::path p(value);
    if (!p.is_absolute()) return std::nullopt;
    return p;
}

std::optional<fs::path> lf_xdgOrHome(const char* variable, const char* belowHome) {
    if (auto p = lf_absoluteFromEnv(variable)) return p;
    if (auto home = lf_absoluteFromEnv("HOME")) return *home / belowHome;
    return std::nullopt;
}

}  // namespace

std::optional<fs::path> roamingAppDataFolder() { return lf_xdgOrHome("XDG_CONFIG_HOME", ".config"); }
std::optional<fs::path> documentsFolder() { return lf_xdgOrHome("XDG_DOCUMENTS_DIR", "Documents"); }
std::optional<fs::path> publicDocumentsFolder() { return lf_xdgOrHome("XDG_PUBLICSHARE_DIR", "Public"); }

fs::path runtimeFolder() {
    if (auto p = lf_absoluteFromEnv("XDG_RUNTIME_DIR")) return *p;
    std::error_code ec;
    fs::path tmp = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : tmp;
}

}  // namespace platform
