// The large park airport of the stand benchmarks: 500 stands on a grid 50 m apart, radii 20 to 34 m (so that
// some neighbours overlap, each with its overlap list), 50 options each spread over the week's days and
// half-hours, three in four of them real. The caller chooses each option's airline and type.
#pragma once

#include <fmt/format.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

#include "airports/stands.h"
#include "injection/geodesy.h"

namespace bench_airport {

constexpr int kStands = 500;
constexpr int kOptionsPerStand = 50;
constexpr int kColumns = 25;
constexpr double kFieldLat = 47.4582, kFieldLon = 8.5481;
constexpr double kSpacingM = 50.0;
constexpr double kMetresPerDegLat = 1852.0 * 60.0;

inline double latOf(int row) { return kFieldLat + row * kSpacingM / kMetresPerDegLat; }
inline double lonOf(int column) {
    return kFieldLon + column * kSpacingM / (kMetresPerDegLat * std::cos(kFieldLat * std::numbers::pi / 180.0));
}

// Sets airline and type of option `k` of a stand, drawing from the generator as it needs.
using OptionIdentity = std::function<void(ParkPosOption& option, int k, std::mt19937& gen)>;

inline std::vector<ParkPos> build(const OptionIdentity& identity) {
    std::mt19937 gen(20261207);
    std::vector<ParkPos> stands;
    stands.reserve(kStands);
    for (int i = 0; i < kStands; ++i) {
        std::vector<ParkPosOption> options;
        options.reserve(kOptionsPerStand);
        for (int k = 0; k < kOptionsPerStand; ++k) {
            ParkPosOption o;
            identity(o, k, gen);
            o.registration = fmt::format("HB-{}-{}", i, k);
            o.callsign1 = fmt::format("X{}{}", i, k);
            o.id = static_cast<std::uint32_t>(k + 1);
            o.day = 1 + gen() % 7;
            o.real = gen() % 4 == 0 ? 0 : 1;
            const std::uint32_t first = gen() % 48;
            const std::uint32_t length = 1 + gen() % 16;
            for (std::uint32_t h = first; h < std::min<std::uint32_t>(48, first + length); ++h) o.halfHours.set(h);
            options.push_back(std::move(o));
        }
        const int row = i / kColumns, column = i % kColumns;
        stands.emplace_back(fmt::format("S{}", i + 1), std::move(options), latOf(row), lonOf(column),
                            (i % 4) * std::numbers::pi / 2.0, 20.0 + (gen() % 15), false, false, false);
        stands.back().index = static_cast<std::uint32_t>(i + 1);
    }
    for (ParkPos& a : stands) {
        for (const ParkPos& b : stands) {
            if (&a == &b) continue;
            const double d = gf_distanceNM(a.latitude, a.longitude, b.latitude, b.longitude);
            if (a.radius + b.radius > 1.1 * d) a.excluded.push_back(b.index);
        }
    }
    return stands;
}

}  // namespace bench_airport
