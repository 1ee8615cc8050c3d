// One static parking calculation at a large park airport (500 stands with 50 options each, 30 % wanted):
// without parked traffic (the statistics fill everything), and with 120 parked aircraft reported by the
// service that take their stands first. Each run starts from the same stands: the calculation withdraws
// options and marks stands, so the airport is copied back while the clock is paused.
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "airports/services.h"
#include "airports/static_parking.h"
#include "airports/stands.h"
#include "frame/settings.h"
#include "frame/timeutil.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "liveries/database.h"
#include "trafficservice/clients.h"

namespace {

constexpr int kStands = 500;
constexpr int kOptionsPerStand = 50;
constexpr int kColumns = 25;
constexpr int kParkedAircraft = 120;
constexpr double kFieldLat = 47.4582, kFieldLon = 8.5481;
constexpr double kSpacingM = 50.0;
constexpr double kMetresPerDegLat = 1852.0 * 60.0;
constexpr std::time_t kNow = 1733580000;  // Saturday, half-hour 28

double lf_latOf(int row) { return kFieldLat + row * kSpacingM / kMetresPerDegLat; }
double lf_lonOf(int column) {
    return kFieldLon + column * kSpacingM / (kMetresPerDegLat * std::cos(kFieldLat * std::numbers::pi / 180.0));
}

// A grid of stands 50 m apart, radii 20 to 34 m (some neighbours overlap); options spread over the week's days
// and half-hours, three in four of them real.
std::vector<ParkPos> lf_buildAirport() {
    std::mt19937 gen(20261207);
    std::vector<ParkPos> stands;
    stands.reserve(kStands);
    for (int i = 0; i < kStands; ++i) {
        std::vector<ParkPosOption> options;
        options.reserve(kOptionsPerStand);
        for (int k = 0; k < kOptionsPerStand; ++k) {
            ParkPosOption o;
            o.airline = fmt::format("A{:02}", gen() % 60);
            o.type = k % 2 == 0 ? "A320" : "B738";
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
        stands.emplace_back(fmt::format("S{}", i + 1), std::move(options), lf_latOf(row), lf_lonOf(column),
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

// Parked aircraft on every fourth stand, seen up to 9 half-hours ago.
std::vector<ParkedTrafficRecord> lf_parkedRecords(const std::vector<ParkPos>& stands) {
    std::vector<ParkedTrafficRecord> records;
    for (int i = 0; i < kParkedAircraft; ++i) {
        const ParkPos& s = stands[static_cast<std::size_t>(i) * 4];
        ParkedTrafficRecord r;
        r.hexid = 0x4b0000 + static_cast<std::uint32_t>(i);
        r.callsign = fmt::format("PT{}", i);
        r.airline = "SWR";
        r.type = "A320";
        r.latitude = s.latitude;
        r.longitude = s.longitude;
        r.slot = static_cast<std::uint32_t>(i % 10);
        records.push_back(std::move(r));
    }
    return records;
}

struct World {
    World() {
        SlotClock clock;
        clock.now = [] { return kNow; };
        gf_setSlotClock(clock);
        g_weekSlotNow = gf_weekSlot();
        g_knownModels = {"A320", "B738"};
        g_largeModels = {"A320", "B738"};
        g_wingspans = {{"A320", 0.0097}, {"B738", 0.0097}};
        g_parking_percentage.set(30);
        g_WEEK.set(false);
        gf_seedWorkRandom(1);
        pristine = lf_buildAirport();
    }
    ~World() {
        gf_setParkedTrafficSource({});
        gf_setSlotClock({});
        g_parkPositions.clear();
        g_parkingList.clear();
        g_trafficClient.parkedRecords.clear();
    }
    std::vector<ParkPos> pristine;
};

void BM_CalculateStaticParking(benchmark::State& state) {
    World world;
    const bool withTraffic = state.range(0) != 0;
    g_trafficClient.parkedRecords = withTraffic ? lf_parkedRecords(world.pristine) : std::vector<ParkedTrafficRecord>{};
    gf_setParkedTrafficSource([withTraffic] { return withTraffic; });
    std::size_t entries = 0;
    for (auto _ : state) {
        state.PauseTiming();
        g_parkPositions = world.pristine;
        g_parkingBusy = 0;
        state.ResumeTiming();
        lf_calculateStaticParking();
        entries = g_parkingList.size();
        benchmark::DoNotOptimize(g_parkingList.data());
    }
    if (entries == 0) state.SkipWithError("nothing parked");
    state.counters["entries"] = static_cast<double>(entries);
    state.SetLabel(withTraffic ? "120 parked aircraft" : "statistics only");
}
BENCHMARK(BM_CalculateStaticParking)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
