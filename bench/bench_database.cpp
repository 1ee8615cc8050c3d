// Reading the aircraft database at start-up: a "temp2.xml" of 100,000 registrations (scrambled as the server
// stores them) beside a few hundred types, airlines and spans, read into the containers. Each run writes the
// file anew first (not timed), since the reader removes it.
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <filesystem>
#include <random>
#include <string>

#include "liveries/database.h"
#include "liveries/scramble.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRegistrations = 100'000;

std::string lf_list(std::mt19937& gen, int count, int length, bool airline) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        std::string code;
        for (int k = 0; k < length; ++k) code += static_cast<char>('A' + gen() % 26);
        out += (out.empty() ? "" : ",") + (airline ? gf_scrambleAirline(code) : gf_scrambleType(code));
    }
    return out;
}

std::string lf_database() {
    std::mt19937 gen(20261211);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const char* typeSections[][2] = {
        {"aircrafts", "aircraft"}, {"high_performance", "hpf"},  {"heavy", "hvy"}, {"large", "lar"}, {"buzjet", "bzj"},
        {"rotorcraft", "rot"},     {"cargo_types", "cargo_type"}};
    std::vector<std::string> types;
    for (int i = 0; i < 300; ++i) types.push_back(fmt::format("{}{:03}", static_cast<char>('A' + i % 26), i));
    std::string allTypes;
    for (const auto& t : types) allTypes += (allTypes.empty() ? "" : ",") + gf_scrambleType(t);
    for (const auto& [section, element] : typeSections) {
        xml += fmt::format("<{0}><{1} types=\"{2}\"/></{0}>\n", section, element,
                           std::string(section) == "aircrafts" ? allTypes : lf_list(gen, 40, 4, false));
    }
    xml += "<similar_types>\n";
    for (int i = 0; i < 50; ++i) xml += fmt::format(" <similar types=\"{}\"/>\n", lf_list(gen, 5, 4, false));
    xml += "</similar_types>\n";
    xml += fmt::format("<ICAO_airlines><ICAO codes=\"{}\"/></ICAO_airlines>\n", lf_list(gen, 300, 3, true));
    xml += fmt::format("<cargo_operators><ICAO codes=\"{}\"/></cargo_operators>\n", lf_list(gen, 30, 3, true));
    xml += "<publishers><pub names=\"FlyTampa,Fly Tampa\"/><pub names=\"Aerosoft,AES\"/></publishers>\n<wingspans>\n";
    for (const auto& t : types)
        xml += fmt::format(" <wingspan type=\"{}\" meters=\"{}\"/>\n", gf_scrambleType(t), 10 + gen() % 60);
    xml += "</wingspans>\n<simaddonsP3D><simaddonP3D arpts=\"YMML,YSSY\"/></simaddonsP3D>\n<dbase>\n";
    for (int i = 0; i < kRegistrations; ++i) {
        const std::string reg =
            fmt::format("{}{}-{}{}{}", static_cast<char>('A' + gen() % 26), static_cast<char>('A' + gen() % 26),
                        static_cast<char>('A' + gen() % 26), static_cast<char>('A' + gen() % 26), i);
        xml += fmt::format(" <db reg=\"{}\" airl=\"{}\" type=\"{}\" opr=\"{}\" cargo=\"{}\"/>\n",
                           gf_scrambleRegistration(reg), lf_list(gen, 1, 3, true),
                           gf_scrambleType(types[gen() % types.size()]), gen() % 4 == 0 ? lf_list(gen, 1, 3, true) : "",
                           gen() % 10 == 0 ? "1" : "0");
    }
    return xml + "</dbase>\n";
}

void BM_ReadDatabase(benchmark::State& state) {
    static const std::string xml = lf_database();
    testing_support::TempDir dir;
    const fs::path file = dir.path() / "temp2.xml";
    for (auto _ : state) {
        state.PauseTiming();
        testing_support::writeWholeFile(file, xml);
        state.ResumeTiming();
        gf_readDataBaseFile(file);
    }
    state.counters["registrations"] = static_cast<double>(g_regcodeDb.size());
    state.counters["MB"] = static_cast<double>(xml.size()) / 1e6;
    gf_clearDataBase();
}

}  // namespace

BENCHMARK(BM_ReadDatabase)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
