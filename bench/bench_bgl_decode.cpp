// Decoding a folder of add-on airport scenery files (read into words, every airport record decoded into its
// stands) against only reading the same files' bytes, in one run: the ratio of the two says what the decoding
// adds to the scan's file reading. Each file: 3 airports (both layouts) with 150 parking spots and 2 helipads,
// and other sections around them. Two folders (the benchmark's argument):
//   0 dense: 400 small other subrecords per airport, about 130 bytes of file per stand, the worst case;
//   1 typical: also 100 apron-sized subrecords of 4 KB per airport (aprons, taxiway paths and lights make up
//     most of a real airport file), about 3 KB of file per stand.
// Then one file of 40 MB decoded whole (the argument): 0 realistic, typical airports one after the other;
// 1 corrupt, airports whose parking lists of 65,535 spots come in pairs of equal ids, about 36 bytes of file
// per stand. The ratio of the two says what a file full of equal ids costs against a real one of its size.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "airports/bgl_decoder.h"
#include "fixtures/bgl_writer.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 64;
constexpr int kAirportsPerFile = 3;
constexpr int kSpots = 150;
constexpr int kOtherSubrecords = 400;

bglgen::Airport lf_airport(int file, int index, bool typical) {
    bglgen::Airport a;
    a.ident = std::string("K") + static_cast<char>('A' + file % 26) + static_cast<char>('A' + file / 26) +
              static_cast<char>('A' + index);
    a.name = "Generated Field " + a.ident;
    a.lat = 30.0 + file * 0.1;
    a.lon = -90.0 + index * 0.1;
    a.altitudeMetres = 200;
    a.layout = index % 2 == 0 ? bglgen::Layout::Later : bglgen::Layout::Classic;
    a.helipads = {{a.lat + 0.01, a.lon, 20.0f, 0.0f}, {a.lat + 0.011, a.lon, 20.0f, 90.0f}};
    for (int i = 0; i < kOtherSubrecords; ++i) {
        a.before.push_back(bglgen::Raw{static_cast<std::uint16_t>(i % 3 == 0 ? 0x00CE : 0x001A),
                                       std::vector<std::uint8_t>(i % 3 == 0 ? 46 : 18, 0x5A)});
    }
    for (int i = 0; typical && i < 100; ++i) {
        a.before.push_back(bglgen::Raw{0x00AC, std::vector<std::uint8_t>(4090, 0x33)});
    }
    for (int i = 0; i < kSpots; ++i) {
        bglgen::ParkingSpot s;
        s.nameCode = static_cast<std::uint32_t>(10 + i % 5);
        s.number = static_cast<std::uint32_t>(1 + i / 5 + (i % 7 == 0 ? 0 : 100));
        s.type = static_cast<std::uint32_t>(1 + i % 10);
        s.radius = 10.0f + static_cast<float>(i % 30);
        s.heading = static_cast<float>((i * 37) % 360);
        s.lat = a.lat + (i / 10) * 0.0004;
        s.lon = a.lon + (i % 10) * 0.0006;
        if (i % 3 == 0) s.airlineCodes = {"AAL", "UAL", "DAL"};
        a.parking.push_back(s);
    }
    return a;
}

struct Folder {
    testing_support::TempDir dir;
    std::vector<fs::path> files;
    std::size_t bytes = 0;
    explicit Folder(bool typical) {
        for (int f = 0; f < kFiles; ++f) {
            bglgen::File file;
            file.sections.push_back({0x25, false, {{bglgen::Raw{0x22, std::vector<std::uint8_t>(2002, 1)}}}});
            std::vector<bglgen::Record> airports;
            for (int i = 0; i < kAirportsPerFile; ++i) airports.push_back(lf_airport(f, i, typical));
            file.sections.push_back({3, false, {std::move(airports)}});
            file.sections.push_back({0x27, false, {{bglgen::Raw{0x30, std::vector<std::uint8_t>(3002, 2)}}}});
            files.push_back(dir / ("AF" + std::to_string(f) + ".bgl"));
            bglgen::writeFile(files.back(), file);
            bytes += fs::file_size(files.back());
        }
    }
};

const Folder& lf_folder(std::int64_t kind) {
    static const Folder dense(false), typical(true);
    return kind == 0 ? dense : typical;
}

void BM_ReadRaw(benchmark::State& state) {
    const Folder& folder = lf_folder(state.range(0));
    for (auto _ : state) {
        for (const fs::path& path : folder.files) {
            std::ifstream in(path, std::ios::binary | std::ios::ate);
            std::vector<char> bytes(static_cast<std::size_t>(in.tellg()));
            in.seekg(0);
            in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * folder.bytes));
}

void BM_Decode(benchmark::State& state) {
    const Folder& folder = lf_folder(state.range(0));
    std::size_t stands = 0;
    for (auto _ : state) {
        stands = 0;
        for (const fs::path& path : folder.files) {
            const auto words = gf_readBglWords(path);
            for (const BglAirport& a : gf_decodeBglAirports(*words, path.string())) stands += a.airport.stands.size();
        }
        benchmark::DoNotOptimize(stands);
    }
    state.counters["stands"] = static_cast<double>(stands);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * folder.bytes));
}

bglgen::Airport lf_equalIdsAirport(int index) {
    bglgen::Airport a;
    a.ident = std::string("KD") + static_cast<char>('A' + index / 26) + static_cast<char>('A' + index % 26);
    a.lat = 30.0 + index * 0.1;
    a.lon = -90.0;
    a.layout = bglgen::Layout::Later;
    for (std::uint32_t i = 0; i < 65535; ++i) {
        bglgen::ParkingSpot s;
        s.nameCode = 10 + i / 8192;
        s.number = (i / 2) % 4096;
        s.radius = 10.0f + static_cast<float>(i % 2);
        s.lat = a.lat + (i / 256) * 0.0002;
        s.lon = a.lon + (i % 256) * 0.0002;
        a.parking.push_back(s);
    }
    return a;
}

struct LargeFile {
    testing_support::TempDir dir;
    fs::path path;
    std::size_t bytes = 0;
    explicit LargeFile(bool equalIds) {
        std::vector<bglgen::Record> airports;
        const int count = equalIds ? 16 : 97;  // 2.6 MB and 0.43 MB an airport: about 40 MB either way
        for (int n = 0; n < count; ++n)
            airports.push_back(equalIds ? lf_equalIdsAirport(n) : lf_airport(n / 3, n % 3, true));
        bglgen::File file;
        file.sections.push_back({3, false, {std::move(airports)}});
        path = dir / "large.bgl";
        bglgen::writeFile(path, file);
        bytes = fs::file_size(path);
    }
};

void BM_DecodeLargeFile(benchmark::State& state) {
    static const LargeFile realistic(false), equalIds(true);
    const LargeFile& file = state.range(0) == 0 ? realistic : equalIds;
    std::size_t stands = 0;
    for (auto _ : state) {
        stands = 0;
        const auto words = gf_readBglWords(file.path);
        gf_forEachBglAirport(*words, file.path.string(), [&](BglAirport& a) { stands += a.airport.stands.size(); });
        benchmark::DoNotOptimize(stands);
    }
    state.counters["stands"] = static_cast<double>(stands);
    state.counters["MB"] = static_cast<double>(file.bytes) / (1 << 20);
    state.SetLabel(state.range(0) == 0 ? "realistic" : "equal ids");
}

}  // namespace

BENCHMARK(BM_DecodeLargeFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadRaw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_Decode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
