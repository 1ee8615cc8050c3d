// Registration code files: the user's own text files in "my_regcodes" and the server's "AIG-regcodes.xml",
// both read whatever they hold. The same input is read as each and merged as the build merges them.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "liveries/livery_index.h"
#include "liveries/regcodes.h"
#include "support/fuzz_file.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path folder = [] {
        const fs::path f = fuzz::scratchFolder() / "my_regcodes";
        fs::create_directories(f);
        return f;
    }();
    fuzz::writeInput(data, size, "my_regcodes/mine.TXT");
    std::vector<RegcodeEntry> entries;
    gf_readRegcodeFiles(folder, entries);
    const fs::path xml = fuzz::writeInput(data, size, "AIG-regcodes.xml");
    gf_readRegcodesXmlFile(xml, entries);
    lf_mergeRegcodes(entries);
    g_regcodeReport.clear();
    g_specialRegistrations.clear();
    return 0;
}
