// The livery database of a large AI installation (20,000 liveries of 800 airlines over 150 types): building
// its indexes at start-up, and choosing the livery of one aircraft as each spawn does.
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <random>
#include <string>
#include <vector>

#include "injection/services.h"
#include "liveries/database.h"
#include "liveries/livery_index.h"
#include "liveries/livery_records.h"
#include "liveries/selection.h"
#include "support/test_support.h"

namespace {

constexpr int kLiveries = 20000;
constexpr int kAirlines = 800;
constexpr int kTypes = 150;

std::string lf_type(int i) { return fmt::format("T{:03}", i); }
std::string lf_airline(int i) { return fmt::format("{}{}{}", char('A' + i / 260 % 26), char('A' + i / 10 % 26), i % 10); }

// Types 0..99 large (in similar groups of four), 100..129 heavy, 130..139 business jets, 140..144 light,
// 145..147 rotorcraft, 148..149 high performance.
void lf_fillDatabase() {
    for (int i = 0; i < kTypes; ++i) {
        const std::string type = lf_type(i);
        g_knownModels.insert(type);
        if (i < 100) g_largeModels.insert(type);
        else if (i < 130) g_heavyModels.insert(type);
        else if (i < 140) g_buzjetModels.insert(type);
        else if (i >= 145 && i < 148) g_rotorcraftModels.insert(type);
        else if (i >= 148) g_highPerfModels.insert(type);
    }
    for (int g = 0; g < 100; g += 4) {
        g_similarModelGroups.push_back({lf_type(g), lf_type(g + 1), lf_type(g + 2), lf_type(g + 3)});
    }
}

// A scan as the scanner leaves it: sorted by airline, type and title. Each airline flies a handful of types,
// a tenth of the liveries are cargo, and the generic airline has one livery of each small type.
std::vector<LiveryData> lf_scan() {
    std::mt19937 gen(20261207);
    std::vector<LiveryData> scan;
    scan.reserve(kLiveries);
    while (static_cast<int>(scan.size()) < kLiveries - kTypes) {
        const int airline = static_cast<int>(gen() % kAirlines);
        const int type = static_cast<int>(gen() % kTypes);
        const bool cargo = gen() % 10 == 0;
        scan.push_back({.airl = lf_airline(airline),
                        .type = lf_type(type),
                        .title = fmt::format("AIG {} {} {} #{}", lf_airline(airline), lf_type(type),
                                             cargo ? "Freighter" : "Passenger", scan.size()),
                        .atcid = fmt::format("D-A{:04}", scan.size()),
                        .priority = 1,
                        .cargo = cargo});
    }
    for (int type = 0; type < kTypes; ++type) {
        scan.push_back({.airl = "ZZZ", .type = lf_type(type), .title = "Generic " + lf_type(type), .atcid = {},
                        .priority = 1, .cargo = false});
    }
    std::sort(scan.begin(), scan.end(), gf_liveryOrder);
    return scan;
}

void lf_build(const std::vector<LiveryData>& scan) {
    gf_clearLiveryDatabase();
    g_scannedLiveries.assign(scan.begin(), scan.end());
    lf_buildAirlineLiveries();
    lf_buildLiveryIndex();
    // The registration-code files name a tenth of the liveries by registration.
    for (std::size_t i = 0; i < scan.size(); i += 10) g_regcodeLiveries[scan[i].atcid] = gf_findOwnedTitle(scan[i].title);
    lf_buildTypeIndex();
    gf_buildSimilarModels();
    lf_reportGenericLiveries();
    for (ModelCategory c = 0; c <= 5; ++c) lf_countLiveriesPerCategory(c);
    g_scannedLiveries.clear();
}

struct World {
    std::vector<LiveryData> scan;
    World() {
        lf_fillDatabase();
        scan = lf_scan();
    }
};

World& lf_world() {
    static World world;
    return world;
}

void BM_BuildLiveryIndexes(benchmark::State& state) {
    const World& world = lf_world();
    for (auto _ : state) {
        lf_build(world.scan);
        benchmark::DoNotOptimize(g_typeLiveryIndex[0].size());
    }
    state.counters["liveries"] = static_cast<double>(world.scan.size());
    state.counters["airlines"] = static_cast<double>(g_airlineLiveries.size());
}
BENCHMARK(BM_BuildLiveryIndexes)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

// Reading the stored file and building: the whole livery step of a start-up that does not scan.
void BM_ReadFileAndBuild(benchmark::State& state) {
    const World& world = lf_world();
    testing_support::TempDir dir;
    const std::filesystem::path file = dir / "LiveriesScanned.xml";
    g_scannedLiveries.assign(world.scan.begin(), world.scan.end());
    lf_writeLiveriesScanned(file);
    for (auto _ : state) {
        g_liveriesProcessed = false;
        gf_processScannedLiveries(file);
    }
}
BENCHMARK(BM_ReadFileAndBuild)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

// Aircraft as the traffic brings them: most of an installed airline and type, some known by registration,
// some of an installed airline with a similar type only, some of airlines without any livery.
std::vector<AiAc> lf_traffic(const std::vector<LiveryData>& scan) {
    std::mt19937 gen(7);
    std::vector<AiAc> traffic;
    for (int i = 0; i < 1000; ++i) {
        const LiveryData& l = scan[gen() % scan.size()];
        AiAc ac;
        const unsigned kind = gen() % 100;
        ac.airline = kind < 85 ? l.airl : "QQQ";
        ac.type = kind < 70 ? l.type : lf_type(static_cast<int>(gen() % kTypes));
        if (kind < 5 && l.atcid.size() > 2) ac.registration = l.atcid.substr(0, 1) + l.atcid.substr(2);  // undashed
        ac.category = gf_categoryOfModel(ac.type);
        ac.callsign = fmt::format("{}{}", ac.airline, 100 + i);
        ac.cargo = l.cargo && kind < 70;
        traffic.push_back(std::move(ac));
    }
    return traffic;
}

void BM_SelectLiveryForLiveAircraft(benchmark::State& state) {
    lf_build(lf_world().scan);
    std::vector<AiAc> traffic = lf_traffic(lf_world().scan);
    if (state.range(0) == 1) {
        // The longest road: a heavy type of an airline without liveries goes down every step and finds none.
        for (AiAc& ac : traffic) {
            ac.airline = "QQQ";
            ac.type = "T120";
            ac.registration = "QQQQQ";
            ac.category = 3;
        }
        gf_clearLiveryDatabase();
        std::vector<LiveryData> scan = lf_world().scan;
        std::erase_if(scan, [](const LiveryData& l) { return l.airl == "ZZZ"; });
        lf_build(scan);
    }
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        AiAc& ac = traffic[i++ % traffic.size()];
        gf_selectLiveryForLiveAircraft(ac);
        found += !ac.title.empty();
    }
    state.counters["found"] = benchmark::Counter(static_cast<double>(found) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_SelectLiveryForLiveAircraft)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("longest_road")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
