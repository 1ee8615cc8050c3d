// SimConnect hot paths: cutting the received stream into messages, and sending a frame's worth of AI
// position updates to the simulator stand-in.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "simlink/protocol/framing.h"
#include "simlink/simids.h"
#include "standin.h"

namespace {

// A received stream as the simulator sends it: events, frames and object data of mixed sizes.
std::vector<std::uint8_t> lf_stream(std::size_t bytes) {
    const std::uint32_t sizes[] = {24, 28, 32, 136, 96, 308, 600, 56};
    std::vector<std::uint8_t> s;
    for (std::size_t i = 0; s.size() < bytes; ++i) {
        std::uint32_t size = sizes[i % 8];
        std::size_t at = s.size();
        s.resize(at + size, static_cast<std::uint8_t>(i));
        std::memcpy(&s[at], &size, 4);
    }
    return s;
}

void BM_Framing(benchmark::State& state) {
    auto stream = lf_stream(1 << 20);
    const std::size_t readSize = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> message;
    std::size_t messages = 0;
    for (auto _ : state) {
        MessageFramer framer(kSimDefaultMaxReceiveSize);
        std::size_t off = 0;
        while (off < stream.size()) {
            auto room = framer.writable();
            std::size_t n = std::min({room.size(), readSize, stream.size() - off});
            std::memcpy(room.data(), stream.data() + off, n);
            framer.commit(n);
            off += n;
            while (framer.extract(message) == MessageFramer::Result::Message) ++messages;
        }
    }
    benchmark::DoNotOptimize(messages);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_Framing)->Arg(2048)->Arg(65536);

// 500 SetData requests of define 402, as one frame's flush sends them, until the stand-in has read all.
void BM_SendPositionUpdates(benchmark::State& state) {
    standin::Options o = standin::defaultOptions();
    o.listenPipe = false;
    o.listenIPv6 = false;
    o.frameRate = 0;
    o.keepRequests = false;
    standin::SimulatorStandIn sim(o);
    if (!sim.start()) {
        state.SkipWithError("stand-in did not start");
        return;
    }
    ConnectionSettings s;
    s.protocol = SimProtocol::IPv4;
    s.address = "127.0.0.1";
    s.port = std::to_string(sim.portIPv4());
    s.disableNagle = state.range(0) != 0;
    SimConnectHandle h;
    if (SimConnect_OpenWith(&h, "ZNTV_P3D", s) != kSimOk) {
        state.SkipWithError("open failed");
        return;
    }
    lf_defineSimConnectData(h);
    CreateAircraftRequest create;
    create.callsign = "BENCH1";
    create.containerTitle = "Bench Aircraft";
    gf_createAiAircraft(h, create);
    auto waitFor = [&](std::size_t n) {
        while (sim.requestCount() < n) std::this_thread::yield();
    };
    std::uint32_t sent = 0;
    SimConnect_GetLastSentPacketID(h, &sent);  // every request so far, the open included
    std::size_t expected = sent;
    waitFor(expected);
    std::uint32_t objectId = o.firstAiObjectId;

    AircraftUpdate u;
    u.objectID = objectId;
    for (auto _ : state) {
        for (int i = 0; i < 500; ++i) {
            u.latitude = 47.0 + i * 1e-5;
            if (gf_sendAircraftUpdate(h, u) != kSimOk) state.SkipWithError("send failed");
        }
        expected += 500;
        waitFor(expected);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 500));
    SimConnect_Close(h);
}
BENCHMARK(BM_SendPositionUpdates)->Arg(0)->Arg(1)->ArgName("DisableNagle")->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
