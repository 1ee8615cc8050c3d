// The half-hour sets of the stand files ("hh"): any text is read without a crash, and what is written back
// reads as the same set.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "airports/stands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const HalfHourSet hours = gf_hours2bitset(text);
    const std::string written = gf_bitset2hours(hours);
    if (gf_hours2bitset(written) != hours) std::abort();
    if (gf_bitset2hours(gf_hours2bitset(written)) != written) std::abort();
    return 0;
}
