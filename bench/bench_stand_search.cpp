// The stand search of one aircraft at a large park airport (500 stands with 50 options each): the nearest
// free stand around a position (normal and wide search), and the choice of the static parking for one
// half-hour over every stand.
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "airports/stand_choice.h"
#include "airports/stands.h"
#include "frame/settings.h"
#include "frame/timeutil.h"
#include "injection/geodesy.h"
#include "injection/records.h"

namespace {

constexpr int kStands = 500;
constexpr int kOptionsPerStand = 50;
constexpr int kColumns = 25;
constexpr double kFieldLat = 47.4582, kFieldLon = 8.5481;
constexpr double kSpacingM = 50.0;
constexpr double kMetresPerDegLat = 1852.0 * 60.0;
constexpr std::uint32_t kSearchedDay = 3;
constexpr std::uint32_t kSearchedHalfHour = 20;

double lf_latOf(int row) { return kFieldLat + row * kSpacingM / kMetresPerDegLat; }
double lf_lonOf(int column) {
    return kFieldLon + column * kSpacingM / (kMetresPerDegLat * std::cos(kFieldLat * std::numbers::pi / 180.0));
}

// A grid of stands 50 m apart, radii 20 to 34 m (so that some neighbours overlap); each stand's options spread
// over the week's days and half-hours, about one in seven on the searched weekday and a quarter of those in
// the searched half-hour. Every tenth option is the benchmarked aircraft's airline and type.
void lf_buildAirport() {
    std::mt19937 gen(20261207);
    g_parkPositions.clear();
    g_parkPositions.reserve(kStands);
    for (int i = 0; i < kStands; ++i) {
        std::vector<ParkPosOption> options;
        options.reserve(kOptionsPerStand);
        for (int k = 0; k < kOptionsPerStand; ++k) {
            ParkPosOption o;
            const bool known = k % 10 == 0;
            o.airline = known ? "SWR" : fmt::format("A{:02}", gen() % 60);
            o.type = known ? "A320" : fmt::format("T{:02}", gen() % 40);
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
        g_parkPositions.emplace_back(fmt::format("S{}", i + 1), std::move(options), lf_latOf(row), lf_lonOf(column),
                                     (i % 4) * std::numbers::pi / 2.0, 20.0 + (gen() % 15), false, false, false);
        g_parkPositions.back().index = static_cast<std::uint32_t>(i + 1);
    }
    for (ParkPos& a : g_parkPositions) {
        for (const ParkPos& b : g_parkPositions) {
            if (&a == &b) continue;
            const double d = gf_distanceNM(a.latitude, a.longitude, b.latitude, b.longitude);
            if (a.radius + b.radius > 1.1 * d) a.excluded.push_back(b.index);
        }
    }
}

AiAc lf_aircraft() {
    AiAc ac;
    ac.hexId = 0x4b0001;
    ac.callsign = "SWR101";
    ac.airline = "SWR";
    ac.type = "A320";
    ac.category = kCatLarge;
    ac.halfSpan = 0.0097;  // 18 m: fits every stand, so nothing is enlarged
    return ac;
}

struct AirportFixture {
    AirportFixture() { lf_buildAirport(); }
    ~AirportFixture() { g_parkPositions.clear(); }
};

// Near one stand of the middle rows (20 m search), or 60 m away from every stand's centre line where only
// the wide search's options find one.
void BM_NearestFreeStand(benchmark::State& state) {
    const AirportFixture airport;
    const AiAc ac = lf_aircraft();
    const bool wide = state.range(0) != 0;
    const double lat = lf_latOf(10) + 5.0 / kMetresPerDegLat;
    const double lon = lf_lonOf(12);
    const double maxNm = wide ? kStandWideNm : kStandNearNm;
    std::size_t found = 0;
    for (auto _ : state) {
        found = lf_nearestFreeStand(lat, lon, ac, maxNm, wide);
        benchmark::DoNotOptimize(found);
    }
    if (found >= g_parkPositions.size()) state.SkipWithError("no stand found");
    state.SetLabel(wide ? "wide" : "normal");
}
BENCHMARK(BM_NearestFreeStand)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The choice of real options for (Wednesday, 20) over the whole airport; the stands' taken and blocked marks
// of the run before are cleared (500 flag resets, a small part of the time).
void BM_SearchStands(benchmark::State& state) {
    const AirportFixture airport;
    g_WEEK.set(false);
    const WeekSlot now = gf_makeWeekSlot(kSearchedHalfHour, kSearchedDay);
    std::vector<ParkingEntry> list;
    list.reserve(kStands);
    std::size_t chosen = 0;
    for (auto _ : state) {
        for (ParkPos& p : g_parkPositions) p.takenByStatic = p.blocked = 0;
        list.clear();
        lf_searchStands(now, 1, 0, list);
        chosen = list.size();
        benchmark::DoNotOptimize(list.data());
    }
    if (chosen == 0) state.SkipWithError("nothing chosen");
    state.counters["chosen"] = static_cast<double>(chosen);
}
BENCHMARK(BM_SearchStands)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
