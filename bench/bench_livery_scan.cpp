// The livery scan of a large AI installation (20,000 liveries, 20 to a configuration file, each with its own
// texture folder, files in three encodings) against reading the same configuration files raw, as a ratio in
// one run: the scan should take at most twice the time of the bare reading (ratio >= 0.5).
//
// Raw reading is what any scanner must do at least: walk the folder for the configuration files and read
// their bytes, on one thread, nothing parsed or checked. Reading the files from a list made beforehand is
// measured too (BM_ReadListedFilesRaw, ratio_listed): it leaves out the walk through some 21,000 folders,
// which alone costs twenty times the reading.
#include <benchmark/benchmark.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "fixtures/simtree.h"
#include "frame/files.h"
#include "liveries/database.h"
#include "liveries/livery_records.h"
#include "liveries/livery_scan.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kLiveries = 20000;

struct World {
    testing_support::TempDir dir;
    simtree::Tree tree;
    std::optional<testing_support::ScopedEnv> dos, update;
    std::optional<testing_support::ScopedCwd> cwd;

    World() {
        const fs::path wine = dir.path() / "wine";
        tree = simtree::generate({.sim = dir.path() / "sim" / "Prepar3D v5", .appData = dir.path() / "config", .wine = wine},
                                 {.features = false, .bulkLiveries = kLiveries});
        dos.emplace("ZNTV_DOSDEVICES", wine.string());
        // Nothing answers there: the registration archive of each scan fails at once.
        update.emplace("ZNTV_UPDATE_URL", "http://127.0.0.1:9/downloads/");
        fs::create_directories(dir.path() / "program" / "output" / "info");
        fs::create_directories(dir.path() / "program" / "output" / "errors");
        cwd.emplace(dir.path() / "program");
        g_knownModels.insert(tree.types.begin(), tree.types.end());
        g_icaoAirlines.insert(tree.airlines.begin(), tree.airlines.end());
        g_scanLimit = std::max(1u, std::thread::hardware_concurrency());
    }
};

World& lf_world() {
    static World world;
    return world;
}

std::size_t lf_readFile(const fs::path& file, std::string& buffer) {
    std::size_t bytes = 0;
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return 0;
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) bytes += n;
    std::fclose(f);
    return bytes;
}

std::size_t lf_readListedRaw(const simtree::Tree& tree) {
    std::string buffer(1 << 16, '\0');
    std::size_t bytes = 0;
    for (const fs::path& file : tree.cfgFiles) bytes += lf_readFile(file, buffer);
    return bytes;
}

// The scanned folder walked for "aircraft.cfg" and "sim.cfg" in any letter case, each read.
std::size_t lf_walkAndReadRaw(const World& world) {
    std::string buffer(1 << 16, '\0');
    std::size_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(world.dir.path() / "wine" / "drive_c" / "AI Liveries")) {
        if (!entry.is_regular_file()) continue;
        std::string name = entry.path().filename().string();
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "aircraft.cfg" || name == "sim.cfg") bytes += lf_readFile(entry.path(), buffer);
    }
    return bytes;
}

void lf_scan(benchmark::State& state, const simtree::Tree& tree) {
    if (lf_scanAllLiveryFolders(tree.manualFolders) != ScanOutcome::Found) state.SkipWithError("the scan found nothing");
}

void BM_ReadListedFilesRaw(benchmark::State& state) {
    const World& world = lf_world();
    for (auto _ : state) benchmark::DoNotOptimize(lf_readListedRaw(world.tree));
    state.counters["files"] = static_cast<double>(world.tree.cfgFiles.size());
}
BENCHMARK(BM_ReadListedFilesRaw)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_WalkAndReadFilesRaw(benchmark::State& state) {
    const World& world = lf_world();
    for (auto _ : state) benchmark::DoNotOptimize(lf_walkAndReadRaw(world));
}
BENCHMARK(BM_WalkAndReadFilesRaw)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ScanLiveries(benchmark::State& state) {
    const World& world = lf_world();
    for (auto _ : state) lf_scan(state, world.tree);
    state.counters["liveries"] = static_cast<double>(world.tree.liveries.size());
}
BENCHMARK(BM_ScanLiveries)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// All three in one iteration, the ratios of their times: the scan's share of the raw reading speed.
void BM_ScanAgainstRawRead(benchmark::State& state) {
    const World& world = lf_world();
    double raw = 0, listed = 0, scan = 0;
    const auto ms = [](auto from, auto to) { return std::chrono::duration<double, std::milli>(to - from).count(); };
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(lf_walkAndReadRaw(world));
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(lf_readListedRaw(world.tree));
        const auto t2 = std::chrono::steady_clock::now();
        lf_scan(state, world.tree);
        const auto t3 = std::chrono::steady_clock::now();
        raw += ms(t0, t1);
        listed += ms(t1, t2);
        scan += ms(t2, t3);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["raw_ms"] = raw / n;
    state.counters["listed_ms"] = listed / n;
    state.counters["scan_ms"] = scan / n;
    state.counters["ratio"] = raw / scan;
    state.counters["ratio_listed"] = listed / scan;
}
BENCHMARK(BM_ScanAgainstRawRead)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
