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

#include "synthetic_airport.h"

namespace {

constexpr int kParkedAircraft = 120;
constexpr std::time_t kNow = 1733580000;  // Saturday, half-hour 28

// Airline and type: one of sixty airlines, A320 and B738 in turn.
std::vector<ParkPos> lf_buildAirport() {
    return bench_airport::build([](ParkPosOption& o, int k, std::mt19937& gen) {
        o.airline = fmt::format("A{:02}", gen() % 60);
        o.type = k % 2 == 0 ? "A320" : "B738";
    });
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
