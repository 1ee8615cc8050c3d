// Registration code files: the user's own text files in "my_regcodes" and the server's "AIG-regcodes.xml",
// both read whatever they hold. The same input is read as each and merged as the build merges them; each of
// its lines reads the same with a blank after it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
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
    // Fields are trimmed, so blanks after a line never change what it says ("Title;" is "Title; ").
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line(text.substr(start, end - start));
        start = end + 1;
        std::vector<RegcodeEntry> asWritten, withBlank;
        RegcodeReadContext a{.path = "f", .entries = &asWritten, .error = false, .joined = {}};
        RegcodeReadContext b{.path = "f", .entries = &withBlank, .error = false, .joined = {}};
        lf_parseRegcodeLine(a, line);
        lf_parseRegcodeLine(b, line + " ");
        if (!line.empty() && (asWritten != withBlank || a.error != b.error)) std::abort();
    }
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
