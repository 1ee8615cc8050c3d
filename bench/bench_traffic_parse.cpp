// Reading one live traffic reply of 1,000 aircraft, as the traffic reader does on every poll: the JSON text
// parsed in the order of the reply, every 48-field record through processLine into the live records. Reported
// per reply (time) and as records per second. A second case reads only the records from an already parsed
// reply, to tell the JSON parse from our own reading.
#include <benchmark/benchmark.h>

#include <string>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "frame/settings.h"
#include "trafficservice/clients.h"
#include "trafficservice/json_fields.h"

using nlohmann::json;

namespace {

constexpr int kAircraft = 1000;
constexpr double kCentreLat = 47.4647, kCentreLon = 8.5492;

// 1,000 airborne aircraft spread over 30 NM around Zurich, every field as the service fills it.
std::string lf_reply() {
    json data = json::object();
    for (int i = 0; i < kAircraft; ++i) {
        const std::string hex = fmt::format("{:06x}", 0x400000 + i);
        const double lat = kCentreLat + ((i % 41) - 20) * 0.02;
        const double lon = kCentreLon + ((i / 41) % 25 - 12) * 0.03;
        data[hex] = json::array({hex, lat, lon, (i * 7) % 360 + 0.5, 3000 + (i % 300) * 100, 180.0 + i % 200,
                                 "1000", "A", "A320", fmt::format("HB-J{:02}", i % 100), 1733580000.25 + i * 0.01,
                                 "LHR", "ZRH", fmt::format("SWR{}", 100 + i), 0, -500, "LX100", "adsb_icao",
                                 3150 + (i % 300) * 100, 240, 250, 0.4, 0.5, 5.0, 120.0, 121.0, -500, "none", "A3",
                                 1018.0, -1, -1, -1, "", 0.4, -18.5, -1, -1, -12.0, -1, 1, 0, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr});
    }
    return json{{"status", 200}, {"rrl", 2000}, {"message", "OK"}, {"full_count", kAircraft}, {"data", data}}.dump();
}

void lf_prepare() {
    gf_setDerivedTrafficRange(100);
    g_trafficClient.queryLatitude = kCentreLat;
    g_trafficClient.queryLongitude = kCentreLon;
    g_trafficClient.liveRecords.reserve(kAircraft);
}

void lf_readRecords(const svcjson::OrderedValue& reply) { g_trafficClient.processRecords(reply.member("data")); }

void BM_LiveReplyParseAndRead(benchmark::State& state) {
    lf_prepare();
    const std::string text = lf_reply();
    for (auto _ : state) {
        const auto reply = svcjson::parseInOrder(text, svcjson::kLiveReplyDepth);
        lf_readRecords(reply);
        if (g_trafficClient.liveRecords.size() != kAircraft) state.SkipWithError("records were dropped");
        g_trafficClient.liveRecords.clear();
    }
    state.SetItemsProcessed(state.iterations() * kAircraft);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_LiveReplyParseAndRead)->Unit(benchmark::kMicrosecond);

void BM_LiveReplyReadOnly(benchmark::State& state) {
    lf_prepare();
    const auto reply = svcjson::parseInOrder(lf_reply(), svcjson::kLiveReplyDepth);
    for (auto _ : state) {
        lf_readRecords(reply);
        benchmark::DoNotOptimize(g_trafficClient.liveRecords.data());
        g_trafficClient.liveRecords.clear();
    }
    state.SetItemsProcessed(state.iterations() * kAircraft);
}
BENCHMARK(BM_LiveReplyReadOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
