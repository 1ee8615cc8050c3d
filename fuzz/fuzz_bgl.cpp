// Scenery files in the BGL layout: any bytes decode without an exception, a read outside the words or a walk
// that does not end, and every stand that comes out is one a stand file can hold (an id, a position on the
// globe near its airport, a radius below the largest a stand may have, a heading in (0, 2 pi]). The work and
// the stands stay within a fixed multiple of the file's words, however its records overlap or its ids repeat.
// The quick header test reads the same bytes as a file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <span>

#include "airports/bgl_decoder.h"
#include "injection/geodesy.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::uint32_t> words = gf_bglWords(std::span<const std::uint8_t>(data, size));
    std::uint64_t steps = 0, stands = 0;
    for (const BglAirport& record : gf_decodeBglAirports(words, "fuzz.bgl")) {
        const ApfAirport& a = record.airport;
        if (a.ident.size() != 4 || a.name.size() > 44) std::abort();
        if (a.altitude < -20 || a.altitude > 10000) std::abort();
        for (const ParkPos& s : a.stands) {
            if (s.id.empty() || std::abs(s.latitude) > 90.0 || std::abs(s.longitude) > 180.0) std::abort();
            if (!(gf_distanceNM(record.latitude, record.longitude, s.latitude, s.longitude) <= kMaxStandDistanceNm))
                std::abort();
            if (!(s.radius >= 0.0 && s.radius * 1852.0 < kMaxStandRadiusMetres)) std::abort();
            if (!(s.heading > 0.0 && s.heading <= 2 * std::numbers::pi)) std::abort();
        }
        steps += record.steps;
        stands += a.stands.size();
    }
    if (steps > 2 * words.size() || stands * 9 > words.size()) std::abort();
    lf_bglHasAirportSection(fuzz::writeInput(data, size, "input.bgl"));
    return 0;
}
