// The test that tells, when the last scan left no list, whether a file of the scan's folders is one a scan
// wrote: any bytes under any of the names are judged without a crash, and a file that says it is hand-made or
// learned, or holds stand options or a manual stand, is never taken for the scan's (it would be removed).
// Input: a flag byte (bit 0: my_ORBX, bit 1: a pointer file), then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "airports/addon_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool orbx = (data[0] & 1) != 0;
    const std::filesystem::path name = (data[0] & 2) != 0 ? "EHAM.txt" : "EHAM.xml";
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (!lf_carriesEveryMarkOfAGeneratedFile(text, name, orbx)) return 0;
    if (name.extension() == ".txt") {
        // One line: the reference and its line end.
        const bool oneLine = text.find('\n') == text.size() - 1;
        if (!oneLine || !(text.ends_with("/EHAM.xml\n") || text.ends_with("/EHAM.xml\r\n"))) std::abort();
        return 0;
    }
    // Marks that no attribute value can hold: its quotes and angle brackets are written as entities.
    const std::size_t body = text.find("</meta>");
    for (const char* mark : {"name=\"handmade\"", "name=\"LATERAL_RANGE\"", "name=\"Qf_real\"", "<opt",
                             " manual=\"", " radius_change=\""})
        if (text.find(mark, body) != std::string_view::npos) std::abort();
    return 0;
}
