// The user's park airport list "airports/my_park_airports.txt": any file is read without a crash, and once the
// program has recorded its first entry in it, reading it again gives the same airports, the same verdict and
// the recorded stand, and every other line of the user's is still there in its order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "airports/airport_list.h"
#include "airports/park_airports.h"
#include "frame/paths.h"
#include "frame/text.h"
#include "support/fuzz_file.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> lf_listedCodes() {
    std::set<std::string> codes;
    for (const ParkAirport& p : g_parkAirports) codes.insert(p.code);
    return codes;
}

std::vector<std::string> lf_lines() {
    std::vector<std::string> lines;
    lf_readListLines(lines, nullptr);
    return lines;
}

// The first line that names the code the way the read takes it (one or two fields).
std::size_t lf_lineOf(const std::vector<std::string>& lines, const std::string& code) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> fields = gf_split(lines[i], ',');
        if (!fields.empty() && fields.size() <= 2 && fields[0] == code) return i;
    }
    return lines.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The program folder is the working folder; the scratch folder stands in for it.
    static const bool ready = [] {
        fs::create_directories(fuzz::scratchFolder() / "airports");
        if (::chdir(fuzz::scratchFolder().c_str()) != 0) std::abort();
        g_airports = {{"EDDF", "FRA", 50.0333, 8.5706, 364}, {"LSGG", "", 46.2381, 6.1089, 1411},
                      {"LSZH", "ZRH", 47.4647, 8.5492, 1416}};
        return true;
    }();
    (void)ready;
    fuzz::writeInput(data, size, g_myParkAirportsFile.string());

    const bool first = lf_readMyParkAirports();
    const std::set<std::string> codes = lf_listedCodes();
    if (!g_parkAirports.empty()) {
        const std::string code = g_parkAirports.front().code;
        std::vector<std::string> before = lf_lines();
        g_parkAirports.front().reservedStand = "V155";
        gf_updateMyParkAirportsFile();
        std::vector<std::string> after = lf_lines();
        const bool second = lf_readMyParkAirports();
        if (second != first || lf_listedCodes() != codes) std::abort();
        // Unless the file could not be read whole (and stays untouched), the stand went to the line the read
        // takes, and apart from that line nothing changed.
        if (after != before) {
            if (g_parkAirports.front().code != code || g_parkAirports.front().reservedStand != "V155") std::abort();
            const std::size_t updated = lf_lineOf(after, code);
            if (updated == after.size() || after[updated] != code + ",V155") std::abort();
            after.erase(after.begin() + static_cast<std::ptrdiff_t>(updated));
            const std::size_t old = lf_lineOf(before, code);
            if (old < before.size()) before.erase(before.begin() + static_cast<std::ptrdiff_t>(old));
            if (after != before) std::abort();
        }
    }
    g_parkAirports.clear();
    return 0;
}
