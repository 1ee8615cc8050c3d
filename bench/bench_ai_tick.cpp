// The AI update of one 10 ms tick with 300 and with 1,000 live aircraft in the simulator, each moving along a
// received track, while a batch of the same aircraft is being taken in two records a tick; the same with half
// of the 1,000 on the ground, taxiing through corners on ground curves; the hand-over of such a batch on the
// traffic reader; and MAX_LIVE lowered from 1,000 aircraft in the simulator to 300.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "frame/settings.h"
#include "injection/geodesy.h"
#include "injection/services.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"

namespace {

constexpr int kAircraft = 1000;
// The aircraft of the tick benchmark: its argument.
int g_aircraft = kAircraft;
constexpr double kCentreLat = 47.46, kCentreLon = 8.55;
// Points every 5 s; the aircraft are laid out again long before they run out of track, and before the
// batches (one point each, every n/2 ticks) have grown a track near the 200 points that end an aircraft.
constexpr int kPoints = 40;
constexpr int kPointTicks = 500;

// Takes everything and keeps nothing: the cost measured is the injection's, not the link's.
class NullSink final : public SimSink {
public:
    void position(const AircraftUpdate&) override { ++count; }
    void clientEvents(std::span<const ClientEventRequest> events) override { count += events.size(); }
    SimResult clientEventNow(const ClientEventRequest&) override { return kSimOk; }
    SimResult flightPlan(std::uint32_t, const std::string&) override { return kSimOk; }
    SimResult staticData(std::uint32_t) override { return kSimOk; }
    SimResult aircraftInRange(std::uint32_t) override { return kSimOk; }
    SimResult engineControls(std::uint32_t, double, double, double) override { return kSimOk; }
    void create(const CreateAircraftRequest&) override { ++count; }
    void remove(std::uint32_t) override { ++count; }
    std::size_t count = 0;
};

TrafficRecord lf_record(int i, double seconds) {
    TrafficRecord r;
    r.hexId = 0x400000u + static_cast<std::uint32_t>(i);
    r.callsign = "BEN" + std::to_string(1000 + i);
    r.type = "A320";
    r.airline = "SWR";
    r.registration = "HB-B" + std::to_string(i);
    // Spread over a circle of about 40 nm, all flying east at 300 kt (0.0833 nm a second).
    const double angle = i * 0.00628318530718 * 1.0;
    r.lat = kCentreLat + 0.6 * std::sin(angle);
    r.lon = kCentreLon + 0.9 * std::cos(angle) + seconds * 0.0833 / 60.0 / std::cos(kCentreLat * 0.0174533);
    r.alt = 10000.0 + 20.0 * (i % 100);
    r.speed = 300.0;
    r.tas = 300.0;
    r.track = 90.0;
    r.airborne = true;
    r.time = 1.8e9 + seconds;
    return r;
}

// Taxiing aircraft: 20 kt, a point every 5 s (51 m), the way turning at each point by these degrees in turn:
// corners too tight for a ground curve the nose could follow, so the aircraft steer round them.
constexpr double kTaxiKt = 20.0;
constexpr double kTaxiTurnsDeg[4] = {30.0, -60.0, 90.0, -60.0};
constexpr double kFeetPerNm = 6076.11549;

// A taxiing aircraft's track instead of its airborne one, from where it stands, on a bearing of its own.
void lf_taxiTrack(LiveAc& ac, int i, int points) {
    double lat = ac.latitude, lon = ac.longitude;
    double heading = std::fmod(i * 37.0, 360.0);
    ac.track.clear();
    for (int p = 0; p < points; ++p) {
        heading = std::fmod(heading + kTaxiTurnsDeg[p % 4] + 360.0, 360.0);
        // It stands pointing along its first leg.
        if (p == 0) ac.heading = heading * std::numbers::pi / 180.0;
        const GeoPosition to =
            gf_destinationPoint(lat, lon, heading * std::numbers::pi / 180.0, kTaxiKt * kPointTicks / 360000.0 * kFeetPerNm);
        lat = to.latitude;
        lon = to.longitude;
        TrackPoint q = ac.track.empty() ? TrackPoint{} : ac.track.back();
        q.lat = lat;
        q.lon = lon;
        q.alt = q.vs = 0.0;
        q.airborne = q.stopped = false;
        q.speed = q.tas = kTaxiKt;
        q.track = heading;
        q.time = 1.8e9 + p * kPointTicks / 100.0;
        q.playTick = p * kPointTicks + 1;
        q.hexId = ac.hexId;
        ac.track.push_back(q);
    }
    ac.altitude = 0.0;
    ac.onGround = true;
    ac.state = kMoveFollowing;
    ac.heightAboveGround = 0.0;
    gf_applyLiveTables(ac);  // its ground turn rate
}

// The aircraft of the tick benchmark on the ground: every second one (none by default).
bool g_halfTaxiing = false;

// 1,000 aircraft created in the simulator, each with a track of `points` points ahead.
void lf_fillLiveAircraft(int points = kPoints) {
    lf_clearAiLists();
    gf_setAiTick(0);
    for (int i = 0; i < g_aircraft; ++i) {
        const TrafficRecord first = lf_record(i, 0.0);
        AiAc model;
        model.hexId = first.hexId;
        model.callsign = first.callsign;
        model.type = first.type;
        model.airline = first.airline;
        LiveAc& ac = g_liveAc.emplace_back(static_cast<const TrackPoint&>(first), model, first.time);
        ac.track.clear();
        for (int p = 0; p < points; ++p) {
            TrafficRecord r = lf_record(i, p * kPointTicks / 100.0);
            r.playTick = p * kPointTicks + 1;
            ac.track.push_back(r);
        }
        ac.latitude = first.lat;
        ac.longitude = first.lon;
        ac.altitude = first.alt;
        ac.heading = std::numbers::pi / 2;
        ac.state = kMoveAirborne;
        ac.status = kAcInSim;
        ac.objectId = 100u + static_cast<std::uint32_t>(i);
        ac.lastRecordTime = first.time;
        if (g_halfTaxiing && i % 2 == 1) lf_taxiTrack(ac, i, points);
    }
    g_userPos.latitude = kCentreLat;
    g_userPos.longitude = kCentreLon;
}

// A live batch of the same 1,000 aircraft (the airborne ones), a little later than their last taken report.
void lf_handOverBatch(TrafficClient& client, double seconds) {
    client.liveRecords.clear();
    for (int i = 0; i < g_aircraft; ++i) {
        if (!(g_halfTaxiing && i % 2 == 1)) client.liveRecords.push_back(lf_record(i, seconds));
    }
    gf_processTrafficBatch(client, 30);
}

void BM_AiTickLiveWithIntake(benchmark::State& state) {
    g_aircraft = static_cast<int>(state.range(0));
    NullSink sink;
    gf_setSimSink(&sink);
    g_LOG.set(false);
    gf_setAiRunning(true);
    lf_fillLiveAircraft();
    TrafficClient client;
    double seconds = 10.0;
    lf_handOverBatch(client, seconds);
    for (auto _ : state) {
        gf_updateAI();
        bool empty = false;
        {
            std::lock_guard lock(g_intakeMutex);
            empty = g_receivedTraffic.empty();
        }
        if (empty) {
            // A batch is applied in 500 ticks; the next one follows at once.
            state.PauseTiming();
            seconds += 10.0;
            lf_handOverBatch(client, seconds);
            state.ResumeTiming();
        }
        if (g_aiTick.load() >= (kPoints - 10) * kPointTicks) {
            state.PauseTiming();
            lf_fillLiveAircraft();
            state.ResumeTiming();
        }
    }
    state.counters["live"] = static_cast<double>(
        std::count_if(g_liveAc.begin(), g_liveAc.end(), [](const LiveAc& ac) { return ac.status == kAcInSim; }));
    state.counters["sent"] = benchmark::Counter(static_cast<double>(sink.count), benchmark::Counter::kAvgIterations);
    state.counters["on ground"] = static_cast<double>(std::count_if(g_liveAc.begin(), g_liveAc.end(), [](const LiveAc& ac) {
        return ac.status == kAcInSim && ac.onGround;
    }));
    state.counters["on a curve"] = static_cast<double>(std::count_if(g_liveAc.begin(), g_liveAc.end(), [](const LiveAc& ac) {
        return ac.status == kAcInSim && !std::isnan(ac.groundCurve.controlEast);
    }));
    gf_setAiRunning(false);
    lf_clearAiLists();
    gf_setSimSink(nullptr);
    g_aircraft = kAircraft;
}
BENCHMARK(BM_AiTickLiveWithIntake)->Arg(300)->Arg(1000)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// 1,000 live aircraft, every second one taxiing through corners on ground curves; the batches carry the
// airborne half. The median of the repetitions is the figure.
void BM_AiTickHalfTaxiing(benchmark::State& state) {
    g_halfTaxiing = true;
    BM_AiTickLiveWithIntake(state);
    g_halfTaxiing = false;
}
BENCHMARK(BM_AiTickHalfTaxiing)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// The traffic reader's share: play ticks for 1,000 records and the hand-over.
void BM_HandOverBatchOf1000(benchmark::State& state) {
    gf_setAiRunning(true);
    TrafficClient client;
    double seconds = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::lock_guard lock(g_intakeMutex);
            g_receivedTraffic.clear();
        }
        client.liveRecords.clear();
        seconds += 10.0;
        for (int i = 0; i < kAircraft; ++i) client.liveRecords.push_back(lf_record(i, seconds));
        state.ResumeTiming();
        gf_processTrafficBatch(client, 30);
    }
    gf_setAiRunning(false);
    lf_clearAiLists();
}
BENCHMARK(BM_HandOverBatchOf1000)->Unit(benchmark::kMicrosecond);

// MAX_LIVE lowered to 300 with 1,000 aircraft in the simulator: the 700 farthest are asked to leave.
void BM_EnforceMaxLive1000To300(benchmark::State& state) {
    NullSink sink;
    gf_setSimSink(&sink);
    g_LOG.set(false);
    g_MAX_LIVE.set(300);
    for (auto _ : state) {
        state.PauseTiming();
        lf_fillLiveAircraft(2);
        state.ResumeTiming();
        gf_enforceMaxLive();
    }
    g_MAX_LIVE.set(-1);
    lf_clearAiLists();
    gf_setSimSink(nullptr);
}
BENCHMARK(BM_EnforceMaxLive1000To300)->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
