// The simulator's scenery.cfg, as the simulator and scenery installers leave it, in any encoding: read by the
// text reader as the program reads it from disk, then parsed as the scan does. Every folder found must be one
// the file could have named: not empty, free of the stock scenery markers, and either a path of its own or
// below the simulator's folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "airports/addon_scan.h"
#include "frame/text.h"
#include "liveries/addon_packages.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = fuzz::writeInput(data, size, "scenery.cfg");
    std::vector<std::string> lines;
    gf_readExtTextFileToStringVector(path, lines);

    constexpr std::string_view install = "C:\\P3D";
    for (const std::string& folder : lf_parseSceneryCfg(lines, install)) {
        if (folder.empty()) std::abort();
        // A relative Local below the simulator's folder; what the file wrote is what follows the folder.
        const std::string prefix = std::string(install) + "\\";
        const bool relative = folder.rfind(prefix, 0) == 0;
        if (lf_isStockSceneryPath(relative ? folder.substr(prefix.size()) : folder)) std::abort();
        if (!relative && gf_joinWindowsPath(install, folder) != folder) std::abort();
    }
    return 0;
}
