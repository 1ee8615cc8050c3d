// The per-frame flush of the simulator link: one frame's worth of AI position updates (500 aircraft) sent
// to the simulator stand-in, as the link thread does on every Frame event.
#include <benchmark/benchmark.h>

#include <vector>

#include "simlink/dispatch.h"
#include "simlink/link.h"
#include "standin.h"

namespace {

void BM_FlushPositions(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    standin::Options o = standin::defaultOptions();
    o.listenIPv6 = o.listenPipe = false;
    o.frameRate = 0;  // the benchmark is the only one to flush
    o.keepRequests = false;
    standin::SimulatorStandIn sim(o);
    if (!sim.start()) {
        state.SkipWithError("the stand-in did not start");
        return;
    }
    // Real objects, so that the simulator applies the positions instead of answering with exceptions.
    std::vector<AircraftUpdate> frame(count);
    for (std::size_t i = 0; i < count; ++i) {
        frame[i].objectID = sim.addForeignAircraft("AI", "B" + std::to_string(i), 47.4, 8.5, 1500, false);
        frame[i].latitude = 47.4 + 0.001 * static_cast<double>(i);
        frame[i].longitude = 8.5;
        frame[i].altitude = 3000;
        frame[i].airspeed = 180;
    }
    ConnectionSettings settings;
    settings.protocol = SimProtocol::IPv4;
    settings.address = "127.0.0.1";
    settings.port = std::to_string(sim.portIPv4());
    SimConnectHandle handle;
    if (SimConnect_OpenWith(&handle, "ZNTV_P3D", settings) != kSimOk) {
        state.SkipWithError("no connection to the stand-in");
        return;
    }
    lf_defineSimConnectData(handle);
    g_simConnect = handle;
    g_userObjectId = 1;
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::lock_guard lock(g_simQueueMutex);
            g_aircraftUpdates.read() = frame;
        }
        state.ResumeTiming();
        lf_flushSimConnectQueues();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    g_simConnect = SimConnectHandle::None;
    SimConnect_Close(handle);
}

}  // namespace

BENCHMARK(BM_FlushPositions)->Arg(500)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
