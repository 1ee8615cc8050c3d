// Loading the stand file of a large park airport (500 stands with 50 options each) from disk: the archived file
// alone, and the archived file with a learned file of the same size laid over it (half of its options already
// held, half new), including the numbering and the overlap lists. Then the numbering alone, of 1,024 and of
// 32,768 stands on a grid 50 m apart (radii 20 to 34 m, so that neighbours overlap): the ratio of the two says
// how the numbering grows with the stands.
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>

#include "airports/services.h"
#include "airports/stand_load.h"
#include "airports/stand_sources.h"
#include "frame/settings.h"
#include "support/test_support.h"

namespace {

constexpr int kStands = 500;
constexpr int kOptionsPerStand = 50;
constexpr int kColumns = 25;
constexpr double kFieldLat = 52.3, kFieldLon = 4.76;
constexpr double kStepDeg = 0.00045;  // about 50 m
const std::string kReference = "airports/my_ORBX/EHAM.xml";
const std::string kMeta = "<meta><info name=\"author\" value=\"a\"/><info name=\"date\" value=\"d\"/>"
                          "<info name=\"version\" value=\"v\"/></meta>\n";

std::string lf_param(const char* name, const std::string& value) {
    return fmt::format("<parameter name=\"{}\" value=\"{}\"/>", name, value);
}

// Option k of stand i; the learned file repeats the archived options with odd k (same half-hours) and brings
// new ones for even k (other registrations).
std::string lf_option(int i, int k, bool learned) {
    const bool fresh = learned && k % 2 == 0;
    const int first = (i * 7 + k * 5) % 40;
    return fmt::format("<opt reg=\"{}{}-{}\" airl=\"A{:02}\" type=\"T{:02}\" day=\"{}\" hh=\"{},{},{},{}\" "
                       "cs=\"X{}{}\"/>",
                       fresh ? "N" : "R", i, k, k % 60, k % 40, 1 + k % 7, first, first + 1, first + 2, first + 3, i,
                       k);
}

std::string lf_archivedFile() {
    std::string text = kMeta + "<parameters>" + lf_param("airport_name", "Schiphol") +
                       lf_param("publisher", "simaddon") + lf_param("altitude", "-11") +
                       "</parameters>\n<parkpositions>\n";
    std::mt19937 gen(20261207);
    for (int i = 0; i < kStands; ++i) {
        text += fmt::format("<parkpos id=\"S{}\" latitude=\"{:.6f}\" longitude=\"{:.6f}\" heading=\"{:.1F}\" "
                            "radius=\"{:.1F}\" cargo=\"false\" ramp=\"true\">",
                            i + 1, kFieldLat + (i / kColumns) * kStepDeg, kFieldLon + (i % kColumns) * kStepDeg * 1.6,
                            (i % 4) * 90.0, 20.0 + gen() % 15);
        for (int k = 0; k < kOptionsPerStand; ++k) text += lf_option(i, k, false);
        text += "</parkpos>\n";
    }
    return text + "</parkpositions>\n";
}

std::string lf_learnedFile() {
    std::string text = kMeta + "<parameters>" + lf_param("airport_name", "Schiphol") +
                       lf_param("LATERAL_RANGE", "40") + lf_param("AUTO_RANGE", "false") +
                       lf_param("parking_percentage", "30") + "</parameters>\n<parkpositions>\n";
    for (int i = 0; i < kStands; ++i) {
        const char* grown = i % 10 == 0 ? " radius_change=\"true\" radius=\"40.0\"" : "";
        text += fmt::format("<parkpos id=\"S{}\"{}>", i + 1, grown);
        for (int k = 0; k < kOptionsPerStand; ++k) text += lf_option(i, k, true);
        text += "</parkpos>\n";
    }
    return text + "</parkpositions>\n";
}

void BM_LoadStandFile(benchmark::State& state) {
    const testing_support::TempDir dir;
    const testing_support::ScopedCwd cwd(dir.path());
    const bool withLearned = state.range(0) != 0;
    std::filesystem::create_directories("airports/my_ORBX");
    testing_support::writeWholeFile(kReference, lf_archivedFile());
    const std::filesystem::path learned = lf_resolveApfPath(kReference, "simaddon");
    if (withLearned) {
        if (learned.empty()) {
            state.SkipWithError("no learned path for the reference");
            return;
        }
        std::filesystem::create_directories(learned.parent_path());
        testing_support::writeWholeFile(learned, lf_learnedFile());
    }
    g_parkAirportCode = "EHAM";
    ApfInfo info;
    QualityWord quality = 0;
    std::string message;
    std::size_t options = 0;
    for (auto _ : state) {
        message = gf_readApfFile(kReference, kReference, info, quality);
        benchmark::DoNotOptimize(g_parkPositions.data());
    }
    for (const ParkPos& p : g_parkPositions) options += p.options.size();
    if (!message.empty()) state.SkipWithError(message.c_str());
    state.counters["stands"] = static_cast<double>(g_parkPositions.size());
    state.counters["options"] = static_cast<double>(options);
    state.SetLabel(withLearned ? "archived + learned" : "archived");
    g_parkPositions.clear();
    g_parkAirportCode.clear();
}
BENCHMARK(BM_LoadStandFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_NumberStands(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const auto columns = static_cast<std::size_t>(std::sqrt(static_cast<double>(count)));
    std::mt19937 gen(20261207);
    std::vector<ParkPos> stands;
    for (std::size_t i = 0; i < count; ++i) {
        stands.emplace_back("S", std::vector<ParkPosOption>{}, kFieldLat + static_cast<double>(i / columns) * kStepDeg,
                            kFieldLon + static_cast<double>(i % columns) * kStepDeg * 1.6, 0.0, 20.0 + gen() % 15,
                            false, false, false);
    }
    std::uint64_t measured = 0;
    for (auto _ : state) {
        measured = gf_numberStands(stands);
        benchmark::DoNotOptimize(stands.data());
    }
    std::size_t overlaps = 0;
    for (const ParkPos& s : stands) overlaps += s.excluded.size();
    state.counters["measured"] = static_cast<double>(measured);
    state.counters["overlaps"] = static_cast<double>(overlaps);
}
BENCHMARK(BM_NumberStands)->Arg(1024)->Arg(32768)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

// A scenery list that names one spot many times puts every stand on one point: the pile is to cost what a
// spread of the same count costs.
void BM_NumberStandsOnOnePoint(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<ParkPos> stands;
    for (std::size_t i = 0; i < count; ++i)
        stands.emplace_back("S", std::vector<ParkPosOption>{}, kFieldLat, kFieldLon, 0.0, 20.0 + i % 15, false,
                            false, false);
    std::uint64_t measured = 0;
    for (auto _ : state) {
        measured = gf_numberStands(stands);
        benchmark::DoNotOptimize(stands.data());
    }
    state.counters["measured"] = static_cast<double>(measured);
}
BENCHMARK(BM_NumberStandsOnOnePoint)->Arg(8192)->Arg(131072)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
