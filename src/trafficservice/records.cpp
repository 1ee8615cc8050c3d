#include "trafficservice/records.h"

#include <stdexcept>

#include <fmt/format.h>

#include "injection/services.h"

std::string gf_laloText(double latitude, double longitude) { return fmt::format("{:.6f},{:.6f}", latitude, longitude); }

void gf_checkPosition(double latitude, double longitude) {
    // Written so that a NaN fails as well: it compares false with every bound.
    const bool onGlobe = latitude >= -90.0 && latitude <= 90.0 && longitude >= -180.0 && longitude <= 180.0;
    if (!onGlobe || !gf_isRealPosition(latitude, longitude)) {
        throw std::runtime_error(fmt::format("lalo:{}", gf_laloText(latitude, longitude)));
    }
}

std::optional<std::uint32_t> gf_parseHexId(std::string_view text) {
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (const char c : text) {
        int d = 0;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        value = value * 16 + static_cast<std::uint64_t>(d);
        if (value > UINT32_MAX) return std::nullopt;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

bool gf_groundReport(double altitude, double reference, double gs) {
    if (!(altitude > 0.0)) return true;
    if (altitude < 14000.0) {
        const double h = altitude - reference;
        if (h <= 0 || (h <= 45 && gs <= 120) || (h <= 90 && gs <= 80) || (h <= 120 && gs <= 43)) return true;
    }
    return gs <= 35;
}
