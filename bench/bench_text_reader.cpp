// Reading aircraft.cfg files in the encodings found in AI add-ons, as the livery scan does for every
// livery folder: mostly plain or UTF-8 text, some with a UTF-8 mark, some UTF-16 little endian.
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <random>
#include <string>
#include <vector>

#include "frame/text.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 3000;

std::string lf_aircraftCfg(std::mt19937& gen, std::size_t targetSize, const char* eol) {
    static const char* airlines[] = {"Lufthansa", "British Airways", "Air France", "KLM", "Iberia",
                                     "SAS Scandinavian", "Aer Lingus", "Swiss", "Austrian", "Brussels"};
    static const char* types[] = {"A320", "A321", "B738", "B77W", "A359", "E190", "CRJ9", "A20N"};
    std::string text = fmt::format("[General]{0}atc_type=AIRBUS{0}atc_model={1}{0}editable=1{0}performance=\"Cruise "
                                   "speed 450 kts\"{0}{0}",
                                   eol, types[gen() % 8]);
    for (int n = 0; text.size() < targetSize; ++n) {
        const char* airline = airlines[gen() % 10];
        text += fmt::format(
            "[fltsim.{1}]{0}title=AIG {2} {3} {4}-{5:04X}{0}sim=AIG_{3}{0}model={0}panel={0}sound={0}texture={2}_{5:04X}"
            "{0}atc_airline={2}{0}atc_id=D-A{5:03X}{0}atc_parking_codes=DLH,EWG{0}atc_parking_types=GATE,RAMP{0}"
            "ui_manufacturer=\"Airbus\"{0}ui_type=\"{3}\"{0}ui_variation=\"{2} (M\xC3\xBCnchen {6})\"{0}"
            "description=\"Repaint by AIG, {2} fleet, delivered {7}\"{0}{0}",
            eol, n, airline, types[gen() % 8], airline[0], gen() % 0xFFFF, gen() % 100, 2000 + gen() % 25);
    }
    return text;
}

std::string lf_utf16Le(std::string_view utf8) {
    std::string out = "\xFF\xFE";
    for (char16_t u : utf8ToUtf16(utf8)) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

struct Corpus {
    testing_support::TempDir dir;
    std::vector<fs::path> files;
    std::size_t bytes = 0;
    int utf16 = 0, utf8Bom = 0, plain = 0;

    Corpus() {
        std::mt19937 gen(20261206);
        for (int i = 0; i < kFiles; ++i) {
            const std::size_t size = 4096 + gen() % 4096;
            const unsigned kind = gen() % 100;
            std::string bytesOnDisk;
            if (kind < 15) {  // UTF-16 LE, as some repaint tools save
                bytesOnDisk = lf_utf16Le(lf_aircraftCfg(gen, size / 2, "\r\n"));
                ++utf16;
            } else if (kind < 35) {
                bytesOnDisk = "\xEF\xBB\xBF" + lf_aircraftCfg(gen, size, "\r\n");
                ++utf8Bom;
            } else {
                bytesOnDisk = lf_aircraftCfg(gen, size, kind < 90 ? "\r\n" : "\n");
                ++plain;
            }
            const fs::path folder = dir.path() / fmt::format("AIG_{:04}", i);
            fs::create_directory(folder);
            files.push_back(folder / "aircraft.cfg");
            testing_support::writeWholeFile(files.back(), bytesOnDisk);
            bytes += bytesOnDisk.size();
        }
    }
};

Corpus& lf_corpus() {
    static Corpus corpus;
    return corpus;
}

void BM_ReadExtTextFiles(benchmark::State& state) {
    Corpus& corpus = lf_corpus();
    std::size_t lines = 0;
    for (auto _ : state) {
        for (const fs::path& p : corpus.files) {
            std::vector<std::string> out;
            gf_readExtTextFileToStringVector(p, out);
            lines += out.size();
            benchmark::DoNotOptimize(out.data());
        }
    }
    const auto iterations = static_cast<std::int64_t>(state.iterations());
    state.SetItemsProcessed(iterations * static_cast<std::int64_t>(corpus.files.size()));
    state.SetBytesProcessed(iterations * static_cast<std::int64_t>(corpus.bytes));
    state.counters["files/s"] =
        benchmark::Counter(static_cast<double>(iterations) * static_cast<double>(corpus.files.size()),
                           benchmark::Counter::kIsRate);
    state.counters["files"] = static_cast<double>(corpus.files.size());
    state.counters["avg_KB"] = static_cast<double>(corpus.bytes) / corpus.files.size() / 1024.0;
    state.counters["utf16_files"] = corpus.utf16;
    state.counters["utf8bom_files"] = corpus.utf8Bom;
    state.counters["plain_files"] = corpus.plain;
    state.counters["lines/file"] =
        static_cast<double>(lines) / (static_cast<double>(iterations) * static_cast<double>(corpus.files.size()));
}
BENCHMARK(BM_ReadExtTextFiles)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
