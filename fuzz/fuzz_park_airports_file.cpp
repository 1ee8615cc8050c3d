// The user's park airport list "airports/my_park_airports.txt": any file is read without a crash, and once the
// program has recorded its first entry in it, reading it again gives the same airports and the same verdict.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

#include "airports/airport_list.h"
#include "airports/park_airports.h"
#include "frame/paths.h"
#include "support/fuzz_file.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> lf_listedCodes() {
    std::set<std::string> codes;
    for (const ParkAirport& p : g_parkAirports) codes.insert(p.code);
    return codes;
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
        g_parkAirports.front().reservedStand = "V155";
        gf_updateMyParkAirportsFile();
        const bool second = lf_readMyParkAirports();
        if (second != first || lf_listedCodes() != codes) std::abort();
    }
    g_parkAirports.clear();
    return 0;
}
