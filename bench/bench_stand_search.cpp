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

#include "synthetic_airport.h"

namespace {

constexpr std::uint32_t kSearchedDay = 3;
constexpr std::uint32_t kSearchedHalfHour = 20;
using bench_airport::kMetresPerDegLat;
using bench_airport::latOf;
using bench_airport::lonOf;

// About one option in seven lies on the searched weekday and a quarter of those in the searched half-hour;
// every tenth is the benchmarked aircraft's airline and type.
void lf_buildAirport() {
    g_parkPositions = bench_airport::build([](ParkPosOption& o, int k, std::mt19937& gen) {
        const bool known = k % 10 == 0;
        o.airline = known ? "SWR" : fmt::format("A{:02}", gen() % 60);
        o.type = known ? "A320" : fmt::format("T{:02}", gen() % 40);
    });
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
    const double lat = latOf(10) + 5.0 / kMetresPerDegLat;
    const double lon = lonOf(12);
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
    list.reserve(bench_airport::kStands);
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
