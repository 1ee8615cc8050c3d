// Scenery files in the BGL layout: any bytes decode without an exception, a read outside the words or a walk
// that does not end, and every stand that comes out is one a stand file can hold (an id, a position on the
// globe, a radius and heading that are numbers). The quick header test reads the same bytes as a file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "airports/bgl_decoder.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::uint32_t> words = gf_bglWords(std::span<const std::uint8_t>(data, size));
    for (const BglAirport& record : gf_decodeBglAirports(words, "fuzz.bgl")) {
        const ApfAirport& a = record.airport;
        if (a.ident.size() != 4 || a.name.size() > 44) std::abort();
        if (a.altitude < -20 || a.altitude > 10000) std::abort();
        for (const ParkPos& s : a.stands) {
            if (s.id.empty() || std::abs(s.latitude) > 90.0 || std::abs(s.longitude) > 180.0) std::abort();
            if (!std::isfinite(s.radius) || s.radius < 0.0 || !std::isfinite(s.heading)) std::abort();
        }
    }
    lf_bglHasAirportSection(fuzz::writeInput(data, size, "input.bgl"));
    return 0;
}
