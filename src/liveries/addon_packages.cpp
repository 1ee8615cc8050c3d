#include "liveries/addon_packages.h"

#include <array>
#include <cctype>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "frame/files.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/simulator.h"
#include "frame/text.h"
#include "platform/simpath.h"

namespace fs = std::filesystem;

namespace {

bool lf_containsAny(std::string_view line, std::initializer_list<std::string_view> words) {
    for (std::string_view w : words) {
        if (line.find(w) != std::string_view::npos) return true;
    }
    return false;
}

// The sections of a package list: every line that names the header word starts one, and the lines of a
// section (its header line among them) are kept unless they name a left-out word. Lines before the first
// header belong to no section. The header line is kept because a folder may be named after a package, so a
// path line can carry the header word too; a header line without '=' gives no folder anyway.
std::vector<std::vector<std::string>> lf_sections(const std::vector<std::string>& lines,
                                                  std::initializer_list<std::string_view> headerWords,
                                                  std::initializer_list<std::string_view> leftOut) {
    std::vector<std::vector<std::string>> sections;
    for (const std::string& line : lines) {
        if (lf_containsAny(line, headerWords)) sections.emplace_back();
        if (sections.empty() || lf_containsAny(line, leftOut)) continue;
        sections.back().push_back(line);
    }
    return sections;
}

bool lf_isPathLine(std::string_view line) { return lf_containsAny(line, {"Path", "PATH", "path"}); }

// The trimmed text after the first '='; nothing when the line holds none.
std::optional<std::string> lf_valueAfterEquals(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return gf_trim(line.substr(eq + 1));
}

bool lf_isAbsoluteWindowsPath(std::string_view p) {
    if (!p.empty() && (p[0] == '\\' || p[0] == '/')) return true;
    return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

// The Windows path of a simulator file below a known folder, mapped onto this file system.
std::optional<fs::path> lf_mapped(std::string_view windowsPath, const fs::path& base = {}) {
    return platform::mapSimPath(windowsPath, base);
}

}  // namespace

std::string gf_joinWindowsPath(std::string_view folder, std::string_view relative) {
    if (folder.empty() || lf_isAbsoluteWindowsPath(relative)) return std::string(relative);
    std::string joined(folder);
    if (joined.back() != '\\' && joined.back() != '/') joined.push_back('\\');
    // ".\SimObjects" is the package folder's own SimObjects.
    while (relative.size() >= 2 && relative[0] == '.' && (relative[1] == '\\' || relative[1] == '/')) {
        relative.remove_prefix(2);
    }
    joined.append(relative);
    return joined;
}

std::vector<std::string> lf_parseAddOnsCfg(const std::vector<std::string>& lines) {
    std::vector<std::string> packages;
    for (const auto& section : lf_sections(lines, {"Package", "PACKAGE"}, {"Required", "REQUIRED"})) {
        for (const std::string& line : section) {
            if (!lf_isPathLine(line)) continue;
            const auto value = lf_valueAfterEquals(line);
            if (!value || value->empty()) continue;
            gf_logLine(fmt::format("path found:{}", *value));
            packages.push_back(*value);
        }
    }
    return packages;
}

std::vector<std::string> lf_parseAddOnXml(const std::vector<std::string>& lines, std::string_view packageFolder) {
    std::vector<std::string> folders;
    bool pathFollows = false;
    for (const std::string& line : lines) {
        if (pathFollows) {
            // The component's category line said SimObjects: this line holds its path.
            pathFollows = false;
            const std::string path = gf_extractPath(line);
            if (path.empty() || lf_containsAny(path, {"Lights Reborn", "Aerosoft Geneva Professional"})) continue;
            // A package may name its folder relative to itself, as the simulator allows.
            std::string folder = gf_joinWindowsPath(packageFolder, path);
            gf_logLine(fmt::format("      Simobjects found:{}", folder));
            folders.push_back(std::move(folder));
        } else if (lf_containsAny(line, {"SimObjects", "SIMOBJECTS", "Simobjects", "simobjects"})) {
            pathFollows = true;
        }
    }
    return folders;
}

std::vector<std::string> lf_parseSimObjectsCfg(const std::vector<std::string>& lines, std::string_view installPath) {
    static constexpr std::array<std::string_view, 10> kStandardFolders = {
        "Airplanes", "Avatars", "Rotorcraft", "GroundVehicles", "Boats",
        "Animals",   "Misc",    "Submersible", "Weapons",      "Countermeasures"};
    std::vector<std::string> folders;
    for (const auto& section : lf_sections(lines, {"Entry", "ENTRY"}, {"Title", "Required"})) {
        for (const std::string& line : section) {
            if (!lf_isPathLine(line)) continue;
            const auto value = lf_valueAfterEquals(line);
            if (!value || value->empty()) continue;
            if (line.find("SimObjects") == std::string::npos) {
                folders.push_back(*value);  // a folder of its own, wherever it is
                continue;
            }
            bool standard = false;
            for (std::string_view name : kStandardFolders) standard = standard || line.find(name) != std::string::npos;
            // The simulator's own folders hold no AI traffic worth a scan; its other SimObjects folders
            // (AI packages installed into the simulator) do.
            if (!standard) folders.push_back(gf_joinWindowsPath(installPath, *value));
        }
    }
    return folders;
}

void lf_readP3DAddOnsAircraft(std::vector<std::string>& folders) {
    const std::size_t before = folders.size();
    try {
        const std::string relative = fmt::format("Lockheed Martin\\Prepar3D v{}\\add-ons.cfg", gf_simMajorVersion());
        fs::path cfg;
        // The simulator keeps add-ons.cfg in its user's roaming folder: on its own drive when that is mapped,
        // else in the roaming folder of this machine's user.
        const std::optional<std::string> simRoaming = gf_simRoamingFolder();
        if (const auto mapped = simRoaming ? lf_mapped(gf_joinWindowsPath(*simRoaming, relative)) : std::nullopt) {
            cfg = *mapped;
        } else {
            if (platform::mapSimPath("C:\\").has_value())
                gf_logWarning("no user folder found in C:\\users of the simulator's drive, add-ons.cfg is looked "
                              "for in this machine's roaming folder");
            const fs::path appData = gf_getAppDataPath();
            cfg = lf_mapped(relative, appData).value_or(appData / relative);
        }
        gf_logLine(fmt::format("\nReading {} for AI add-on packages...", cfg.string()));
        std::vector<std::string> lines;
        if (!gf_readExtTextFileToStringVector(cfg, lines)) gf_logLine(cfg.string() + " not found!");

        for (const std::string& package : lf_parseAddOnsCfg(lines)) {
            const auto folder = lf_mapped(package);
            if (!folder) continue;  // a drive this machine does not have
            const fs::path xml = lf_mapped("add-on.xml", *folder).value_or(*folder / "add-on.xml");
            if (!fs::exists(xml)) continue;
            gf_logLine(fmt::format("   exploring {}", xml.string()));
            std::vector<std::string> xmlLines;
            xmlLines.reserve(4048);
            if (!gf_readExtTextFileToStringVector(xml, xmlLines)) gf_logLine(xml.string() + " not found!");
            for (std::string& f : lf_parseAddOnXml(xmlLines, package)) folders.push_back(std::move(f));
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("sys error exception {} in {}, no AI add-on packages found", e.what(),
                                  "lf_readP3DAddOnsAircraft"));
    }
    const std::size_t found = folders.size() - before;
    gf_logLine(fmt::format("{} AI add-on package{} found", found, gf_pluralSuffix(std::uint64_t{found})));
}

void lf_readSimObjectsCfg(std::vector<std::string>& folders) {
    const auto cfg = lf_mapped(gf_simProgramDataFile("simobjects.cfg"));
    if (!cfg) return;  // no drive C: here, so no such file
    std::error_code ec;
    const bool exists = fs::exists(*cfg, ec);
    if (ec) throw FileSystemError("exists", *cfg, ec);
    if (!exists) return;

    gf_logLine(fmt::format("\nReading {} for AI add-on packages...", cfg->string()));
    std::vector<std::string> lines;
    lines.reserve(4048);
    if (!gf_readExtTextFileToStringVector(*cfg, lines)) gf_logLine(cfg->string() + " not found!");
    const std::vector<std::string> found = lf_parseSimObjectsCfg(lines, g_SIM_INSTALL_PATH.value());
    folders.insert(folders.end(), found.begin(), found.end());
    gf_logLine(fmt::format("{} AI add-on packages found", found.size()));
}
