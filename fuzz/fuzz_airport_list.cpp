// "input/airports_p3d.xml", the airport list: read once at every start, from a file the installer or the user
// put there. Any file is read without a crash; a list that is read is sorted and answers its lookups.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "airports/airport_list.h"
#include "frame/errors.h"
#include "support/fuzz_file.h"

namespace {

// The scratch folder is the program folder; nothing listens on port 9, so the stand-file look of the closest
// airport fails at once and never leaves the machine.
bool lf_enterProgramFolder() {
    std::filesystem::create_directories(fuzz::scratchFolder() / "input");
    if (::chdir(fuzz::scratchFolder().c_str()) != 0) std::abort();
    ::setenv("ZNTV_UPDATE_URL", "http://127.0.0.1:9/downloads/", 1);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = lf_enterProgramFolder();
    (void)ready;
    fuzz::writeInput(data, size, "input/airports_p3d.xml");
    lf_resetAirportListForTests();
    bool read = false;
    try {
        read = gf_readAirports();
    } catch (const qtm::UserErrorException&) {
        if (!g_airports.empty()) std::abort();  // a failed read publishes nothing
        return 0;
    }
    if (read == g_airports.empty()) std::abort();
    for (std::size_t i = 1; i < g_airports.size(); ++i)
        if (g_airports[i].code < g_airports[i - 1].code) std::abort();
    if (read) {
        const AirportData& first = g_airports.front();
        const auto found = gf_findAirport(first.code);
        if (!found || found->code != first.code) std::abort();
        (void)gf_airportLabel(first);
        (void)gf_closestAirport(first.latitude, first.longitude);
    }
    return 0;
}
