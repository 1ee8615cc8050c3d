// The per-frame flush of the simulator link: one frame's worth of AI position updates (500 aircraft) sent
// to the simulator stand-in, as the link thread does on every Frame event, 60 frames a second.
//
// What a flush costs is spread over threads: the calling thread builds the requests, the transport's I/O
// thread writes them. The time Google Benchmark reports is the calling thread's alone, so the figure that
// counts is "process_cpu_pct": the CPU time of every thread of this process over the run, in percent of one
// core, with the frames paced at 60 a second as the simulator paces them. The stand-in runs in a child
// process of its own, so that the simulator's side of the socket does not count as ours.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "simlink/dispatch.h"
#include "simlink/link.h"
#include "standin.h"

namespace {

constexpr int kFramesPerSecond = 60;

// The stand-in in a forked child: it reports its port and the ids of the aircraft it placed, then serves
// until the parent closes the pipe. Forked before this process starts any thread of its own.
struct StandInProcess {
    pid_t pid = -1;
    int toChild = -1, fromChild = -1;
    std::uint16_t port = 0;
    std::string pipe = "zntv-bench-flush-" + std::to_string(::getpid());  // a name no other run uses
    std::vector<std::uint32_t> objectIds;

    bool start(std::size_t aircraft) {
        int up[2], down[2];
        if (::pipe(up) != 0 || ::pipe(down) != 0) return false;
        pid = ::fork();
        if (pid < 0) return false;
        if (pid == 0) {
            ::close(up[0]);
            ::close(down[1]);
            serve(up[1], down[0], aircraft, pipe);
            ::_exit(0);
        }
        ::close(up[1]);
        ::close(down[0]);
        toChild = down[1];
        fromChild = up[0];
        bool ok = readAll(fromChild, &port, sizeof port);
        objectIds.resize(aircraft);
        return ok && port != 0 && readAll(fromChild, objectIds.data(), aircraft * sizeof(std::uint32_t));
    }

    // Returns how many requests the stand-in received over the whole run.
    std::uint64_t stop() {
        if (pid <= 0) return 0;
        ::close(toChild);
        std::uint64_t received = 0;
        if (!readAll(fromChild, &received, sizeof received)) received = 0;
        ::close(fromChild);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return received;
    }

    static bool readAll(int fd, void* out, std::size_t n) {
        auto* p = static_cast<char*>(out);
        while (n > 0) {
            ssize_t r = ::read(fd, p, n);
            if (r <= 0) return false;
            p += r;
            n -= static_cast<std::size_t>(r);
        }
        return true;
    }

    static void serve(int up, int down, std::size_t aircraft, const std::string& pipe) {
        standin::Options o = standin::defaultOptions();
        o.listenIPv6 = false;
        o.pipeName = "\\\\.\\pipe\\" + pipe;
        o.frameRate = 0;  // the benchmark is the only one to flush
        o.keepRequests = false;
        standin::SimulatorStandIn sim(o);
        std::uint16_t port = sim.start() ? sim.portIPv4() : 0;
        // Real objects, so that the simulator applies the positions instead of answering with exceptions.
        std::vector<std::uint32_t> ids(aircraft);
        for (std::size_t i = 0; i < aircraft && port != 0; ++i)
            ids[i] = sim.addForeignAircraft("AI", "B" + std::to_string(i), 47.4, 8.5, 1500, false);
        if (::write(up, &port, sizeof port) != sizeof port) return;
        if (port == 0) return;
        if (::write(up, ids.data(), ids.size() * sizeof(std::uint32_t)) < 0) return;
        char c;
        while (::read(down, &c, 1) > 0) {
        }
        const std::uint64_t received = sim.requestCount();
        sim.stop();
        if (::write(up, &received, sizeof received) < 0) return;
    }
};

std::optional<StandInProcess> g_standIn;

double lf_processCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Arguments: updates a frame, and the connection: 0 TCP on 127.0.0.1 (as the demo's SimConnect.cfg has it),
// 1 the named pipe (a local socket here; the program's default without a SimConnect.cfg).
void BM_FlushPositions(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const bool pipe = state.range(1) == 1;
    if (!g_standIn || g_standIn->objectIds.size() != count) {
        state.SkipWithError("the stand-in did not start");
        return;
    }
    std::vector<AircraftUpdate> frame(count);
    for (std::size_t i = 0; i < count; ++i) {
        frame[i].objectID = g_standIn->objectIds[i];
        frame[i].latitude = 47.4 + 0.001 * static_cast<double>(i);
        frame[i].longitude = 8.5;
        frame[i].altitude = 3000;
        frame[i].airspeed = 180;
    }
    ConnectionSettings settings;
    if (pipe) {
        settings.protocol = SimProtocol::Pipe;
        settings.port = g_standIn->pipe;
    } else {
        settings.protocol = SimProtocol::IPv4;
        settings.address = "127.0.0.1";
        settings.port = std::to_string(g_standIn->port);
    }
    SimConnectHandle handle;
    if (SimConnect_OpenWith(&handle, "ZNTV_P3D", settings) != kSimOk) {
        state.SkipWithError("no connection to the stand-in");
        return;
    }
    lf_defineSimConnectData(handle);
    g_simConnect = handle;
    g_userObjectId = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the registration is written and read

    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kFramesPerSecond));
    const double cpuStart = lf_processCpuSeconds();
    const auto wallStart = Clock::now();
    auto nextFrame = wallStart;
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::lock_guard lock(g_simQueueMutex);
            g_aircraftUpdates.read() = frame;
        }
        state.ResumeTiming();
        lf_flushSimConnectQueues();
        state.PauseTiming();
        nextFrame += period;
        std::this_thread::sleep_until(nextFrame);
        state.ResumeTiming();
    }
    // A dropped connection sends nothing and would pass for a cheap flush.
    const bool broken =
        SimConnect_CallDispatch(handle, [](const std::uint8_t*, std::uint32_t, void*) {}, nullptr) != kSimOk;
    g_simConnect = SimConnectHandle::None;
    SimConnect_Close(handle);  // waits for the last writes: they belong to the run
    const double cpu = lf_processCpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    const auto frames = static_cast<double>(state.iterations());
    state.counters["process_cpu_pct"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
    state.counters["process_cpu_us_per_frame"] = frames > 0 ? 1e6 * cpu / frames : 0.0;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    if (broken) state.SkipWithError("the connection to the stand-in broke");
}

}  // namespace

// Four seconds of frames per repetition: the iteration count is fixed because every frame waits for its turn.
BENCHMARK(BM_FlushPositions)
    ->ArgNames({"updates", "pipe"})
    ->Args({500, 0})
    ->Args({500, 1})
    ->Iterations(4 * kFramesPerSecond)
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    g_standIn.emplace();
    if (!g_standIn->start(500)) std::fprintf(stderr, "the stand-in process did not start\n");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fprintf(stderr, "the stand-in received %llu requests\n",
                 static_cast<unsigned long long>(g_standIn->stop()));
    return 0;
}
