#include "frame/simulator.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "platform/names.h"
#include "platform/registry.h"
#include "platform/simpath.h"

namespace {

std::string lf_simulatorKey(int version) { return fmt::format("SOFTWARE\\Lockheed Martin\\Prepar3D v{}", version); }

constexpr const char* kNoPathText = "No P3D install path detected, type full Install Path above, and press Enter";

[[noreturn]] void lf_noInstallPath() {
    g_ALL_INSTALL_PATH.set("");
    lf_clearEditField(g_ALL_INSTALL_PATH.controlId);
    throw qtm::UserErrorException(151, kNoPathText);
}

bool lf_anyFolderKeySet() {
    for (const auto& p : g_lfolder)
        if (!p.value().empty()) return true;
    for (const auto& p : g_afolder)
        if (!p.value().empty()) return true;
    return false;
}

// The folder names of a path as the simulator writes it (backslashes) or as typed here (slashes).
std::vector<std::string_view> lf_pathComponents(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/') {
            if (i > start) parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

}  // namespace

bool gf_P3DInstalled(int version) {
    try {
        (void)winreg::RegKey::Open(winreg::Hive::LocalMachine, lf_simulatorKey(version));
        return true;
    } catch (...) {
        return false;
    }
}

std::string gf_P3DSetupPath(int version) {
    try {
        return winreg::RegKey::Open(winreg::Hive::LocalMachine, lf_simulatorKey(version)).GetStringValue("SetupPath");
    } catch (...) {
        return {};
    }
}

void lf_detectSimulator() {
    gf_ensureGlobalPaths();
    if (g_p3dV5Installed && g_p3dV6Installed) {
        throw qtm::UserErrorException(
            153, "More than one P3D version detected, type full Install Path to wanted version above and press Enter");
    }
    if (!g_p3dV5Installed && !g_p3dV6Installed) {
        gf_showMessage("P3D not detected?", true);
        // Folders set by hand are enough to scan liveries and airports without the simulator's own.
        if (lf_anyFolderKeySet()) return;
        lf_noInstallPath();
    }
    const int version = g_p3dV5Installed ? 5 : 6;
    gf_logLine(fmt::format("P3Dv{}detected", version));
    const std::string path = gf_P3DSetupPath(version);
    if (path.empty()) lf_noInstallPath();
    g_ALL_INSTALL_PATH.set(path);
    gf_showStringParameter(g_ALL_INSTALL_PATH);
    gf_setStringParameterAndSave(g_SIM_INSTALL_PATH, path);
}

std::string gf_simMajorVersion() {
    // The folder that holds the simulator is named after its version; a parent folder that happens to hold
    // a mark ("dev5", "v6stuff") says nothing, so the innermost folder is asked first.
    static constexpr std::array<std::pair<std::string_view, const char*>, 4> kMarks{
        {{"v5", "5"}, {"V5", "5"}, {"v6", "6"}, {"V6", "6"}}};
    const std::string path = g_SIM_INSTALL_PATH.value();
    const auto parts = lf_pathComponents(path);
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        for (const auto& [mark, major] : kMarks) {
            if (it->find(mark) != std::string_view::npos) return major;
        }
    }
    const std::int32_t configured = g_P3D_VERSION.value();
    if (configured > 4) return std::to_string(configured);
    throw qtm::UserErrorException(
        77, fmt::format("P3D install path does not contain v5 or v6? Use hidden parameter {}, set it at 5 or 6",
                        g_P3D_VERSION.key));
}

std::string gf_simProgramDataFile(std::string_view name) {
    return fmt::format("C:\\ProgramData\\Lockheed Martin\\Prepar3D v{}\\{}", gf_simMajorVersion(), name);
}

namespace {

// Profiles in C:\users that belong to nobody in particular.
bool lf_isSharedProfile(std::string_view name) {
    for (std::string_view shared : {"Public", "Default", "Default User", "All Users"})
        if (platform::equalsNoCase(name, shared)) return true;
    return false;
}

std::optional<std::string> lf_registryRoamingFolder() {
    try {
        const auto key = winreg::RegKey::Open(winreg::Hive::CurrentUser,
                                              "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
        std::string folder = key.GetStringValue("AppData");
        if (!folder.empty()) return folder;
    } catch (const winreg::RegException&) {
        // No such key or value: the users folder tells.
    }
    return std::nullopt;
}

std::optional<std::string> lf_simUserName(const std::filesystem::path& users) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(users, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (it->is_directory(ec) && !lf_isSharedProfile(name)) names.push_back(std::move(name));
    }
    if (names.size() == 1) return names.front();
    const char* user = std::getenv("USER");
    for (const std::string& name : names)
        if (user != nullptr && platform::equalsNoCase(name, user)) return name;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> gf_simRoamingFolder() {
    const std::optional<std::filesystem::path> users = platform::mapSimPath("C:\\users");
    if (!users) return std::nullopt;  // no drive C: of the simulator here
    if (std::optional<std::string> folder = lf_registryRoamingFolder()) return folder;
    if (std::optional<std::string> user = lf_simUserName(*users))
        return fmt::format("C:\\users\\{}\\AppData\\Roaming", *user);
    return std::nullopt;
}
