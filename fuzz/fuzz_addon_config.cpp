// The simulator's add-on configuration, as installers and users leave it: add-ons.cfg, a package's
// add-on.xml and simobjects.cfg, in any encoding. The input is the text of all three, one after the other,
// separated by a line "\f" (form feed alone); a missing part is an empty file. Each goes through the text
// reader as the program reads it from disk, then through its parser; every folder found must be one the
// parser could have taken from the text:
// trimmed package folders, component paths below their package or absolute.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "frame/text.h"
#include "liveries/addon_packages.h"
#include "support/fuzz_file.h"

namespace {

std::vector<std::string> lf_linesOf(std::string_view part, const char* name) {
    const auto path = fuzz::writeInput(reinterpret_cast<const uint8_t*>(part.data()), part.size(), name);
    std::vector<std::string> lines;
    gf_readExtTextFileToStringVector(path, lines);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view parts[3];
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = i < 2 ? input.find("\n\f\n", start) : std::string_view::npos;
        parts[i] = input.substr(std::min(start, input.size()), end == std::string_view::npos ? std::string_view::npos : end - start);
        if (end == std::string_view::npos) break;
        start = end + 3;
    }

    // Package folders come out trimmed and never empty.
    for (const std::string& folder : lf_parseAddOnsCfg(lf_linesOf(parts[0], "add-ons.cfg"))) {
        if (folder.empty() || std::string_view(" \t\r\n").find(folder.front()) != std::string_view::npos ||
            std::string_view(" \t\r\n").find(folder.back()) != std::string_view::npos) {
            std::abort();
        }
    }
    // A component's path is the package's own folder below it, or a path of its own.
    constexpr std::string_view package = "C:\\Add-ons\\Pkg";
    for (const std::string& folder : lf_parseAddOnXml(lf_linesOf(parts[1], "add-on.xml"), package)) {
        if (folder.empty()) std::abort();
        if (folder.rfind(std::string(package) + "\\", 0) == 0) continue;
        if (gf_joinWindowsPath(package, folder) != folder) std::abort();
    }
    for (const std::string& folder : lf_parseSimObjectsCfg(lf_linesOf(parts[2], "simobjects.cfg"), "C:\\P3D")) {
        if (folder.empty()) std::abort();
    }
    return 0;
}
