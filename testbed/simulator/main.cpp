// zntv-simulator: the simulator stand-in as a program. Runs until SIGINT or SIGTERM.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <time.h>

#include "map.h"
#include "map_window.h"
#include "standin.h"

namespace {

void usage() {
    std::cout <<
        "usage: zntv-simulator [options]\n"
        "  --port N             TCP port on 127.0.0.1 and ::1 (0: a free one; default 0)\n"
        "  --no-tcp | --no-ipv4 | --no-ipv6 | --no-pipe\n"
        "  --pipe NAME          pipe name (default \\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect)\n"
        "  --sim-name TEXT      simulator name sent with the open message\n"
        "  --sim-version A.B.C.D\n"
        "  --frame-rate HZ      Frame events per second (0: none)\n"
        "  --no-flight          no flight runs (\"Sim\" event 0)\n"
        "  --user-lat DEG --user-lon DEG --user-alt FT --user-heading DEG --user-speed KT\n"
        "  --user-airborne      the user aircraft flies (default: on the ground)\n"
        "  --user-title TEXT --user-model TEXT\n"
        "  --refuse-title TEXT  creations with this title fail\n"
        "  --trace FILE         JSON lines of the AI objects\n"
        "  --record FILE        hex of every received request, one a line\n"
        "  --port-file FILE     write the bound TCP port there once listening\n"
        "  --map                show a map of the AI objects in a window (when there is a display)\n"
        "  --map-png FILE       write the map as PNG every few seconds\n"
        "  --map-png-every S    seconds between the PNG pictures (default 2)\n"
        "  --map-size WxH       size of the map picture in pixels (default 1024x768)\n"
        "  --map-width M        metres across the map (default 3000)\n"
        "  --map-beside X,Y,W,H the map window opens beside this window on the screen (the program's)\n"
        "  --stands FILE        stand file whose stands the map shows\n";
}

struct MapOptions {
    bool window = false;
    std::string png;
    double pngEvery = 2;
    int width = 1024, height = 768;
    double widthM = 3000;
    std::string stands;
    std::optional<standin::ScreenRect> beside;
    bool wanted() const { return window || !png.empty(); }
};

bool lf_stopSignal(const sigset_t& set, std::chrono::milliseconds wait) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(wait.count() / 1000);
    t.tv_nsec = static_cast<long>(wait.count() % 1000) * 1000000L;
    return sigtimedwait(&set, nullptr, &t) > 0;
}

// The map's loop on the main thread: samples the stand-in four times a second, redraws the window and writes
// the picture now and then, until a stop signal. The stand-in's I/O thread only sees the short copies that
// aiObjects() and user() take under its lock.
void lf_runMap(standin::SimulatorStandIn& sim, const MapOptions& mo, const sigset_t& set) {
    using Clock = std::chrono::steady_clock;
    standin::MapRecorder recorder;
    recorder.setWidthM(mo.widthM);
    if (!mo.stands.empty()) {
        if (auto stands = standin::gf_readStands(mo.stands)) {
            std::cout << "zntv-simulator map: " << stands->size() << " stands from " << mo.stands << std::endl;
            recorder.setStands(std::move(*stands));
        } else {
            std::cerr << "zntv-simulator map: cannot read the stands of " << mo.stands << "\n";
        }
    }
    recorder.sample(sim);
    std::unique_ptr<standin::MapWindow> window;
    if (mo.window) {
        const char* headless = std::getenv("ZNTV_HEADLESS");
        if (headless != nullptr && std::string(headless) == "1")
            std::cerr << "zntv-simulator map: headless, no window\n";
        else if (!(window = standin::MapWindow::open(recorder, mo.width, mo.height, mo.beside)))
            std::cerr << "zntv-simulator map: no display, no window\n";
    }
    constexpr auto kSampleEvery = std::chrono::milliseconds(250);
    const auto pngEvery = std::chrono::milliseconds(static_cast<long long>(std::max(0.25, mo.pngEvery) * 1000));
    auto nextSample = Clock::now();
    auto nextPng = Clock::now();
    bool pngFailed = false;
    for (;;) {
        if (window && window->shown()) {
            if (lf_stopSignal(set, std::chrono::milliseconds(0))) break;
            window->wait(0.05);
        } else if (lf_stopSignal(set, std::chrono::milliseconds(50))) {
            break;
        }
        const auto now = Clock::now();
        if (now < nextSample) continue;
        nextSample = std::max(nextSample + kSampleEvery, now);
        recorder.sample(sim);
        if (window && window->shown()) window->refresh();
        if (!mo.png.empty() && now >= nextPng) {
            nextPng = now + pngEvery;
            std::string error;
            const bool ok = standin::gf_writePng(standin::renderMap(recorder.scene(), mo.width, mo.height), mo.png,
                                                 &error);
            if (!ok && !pngFailed) std::cerr << "zntv-simulator map: " << error << "\n";
            pngFailed = !ok;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    standin::Options o = standin::defaultOptions();
    o.keepRequests = false;  // nothing reads them back from the program; --record writes them out
    std::string portFile;
    MapOptions mapOptions;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "missing value for " << a << "\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--port") o.tcpPort = static_cast<std::uint16_t>(std::stoi(next()));
        else if (a == "--no-tcp") o.listenIPv4 = o.listenIPv6 = false;
        else if (a == "--no-ipv4") o.listenIPv4 = false;
        else if (a == "--no-ipv6") o.listenIPv6 = false;
        else if (a == "--no-pipe") o.listenPipe = false;
        else if (a == "--pipe") o.pipeName = next();
        else if (a == "--sim-name") o.simName = next();
        else if (a == "--sim-version") {
            std::string v = next();
            unsigned p[4] = {0, 0, 0, 0};
            std::sscanf(v.c_str(), "%u.%u.%u.%u", &p[0], &p[1], &p[2], &p[3]);
            for (int k = 0; k < 4; ++k) o.version[k] = p[k];
        }
        else if (a == "--frame-rate") o.frameRate = std::stod(next());
        else if (a == "--no-flight") o.flightRunning = false;
        else if (a == "--user-lat") o.user.latitude = std::stod(next());
        else if (a == "--user-lon") o.user.longitude = std::stod(next());
        else if (a == "--user-alt") o.user.altitude = std::stod(next());
        else if (a == "--user-heading") o.user.heading = std::stod(next());
        else if (a == "--user-speed") o.user.groundSpeed = o.user.airspeed = std::stod(next());
        else if (a == "--user-airborne") o.user.onGround = false;
        else if (a == "--user-title") o.user.title = next();
        else if (a == "--user-model") o.user.model = next();
        else if (a == "--refuse-title") o.refusedTitles.push_back(next());
        else if (a == "--trace") o.tracePath = next();
        else if (a == "--record") o.recordPath = next();
        else if (a == "--port-file") portFile = next();
        else if (a == "--map") mapOptions.window = true;
        else if (a == "--map-png") mapOptions.png = next();
        else if (a == "--map-png-every") mapOptions.pngEvery = std::stod(next());
        else if (a == "--map-size") {
            std::string v = next();
            if (std::sscanf(v.c_str(), "%dx%d", &mapOptions.width, &mapOptions.height) != 2 ||
                mapOptions.width < 64 || mapOptions.height < 64 || mapOptions.width > 8192 ||
                mapOptions.height > 8192) {
                std::cerr << "bad --map-size " << v << "\n";
                return 2;
            }
        }
        else if (a == "--map-width") mapOptions.widthM = std::stod(next());
        else if (a == "--map-beside") {
            std::string v = next();
            standin::ScreenRect r;
            if (std::sscanf(v.c_str(), "%d,%d,%d,%d", &r.x, &r.y, &r.w, &r.h) != 4 || r.w <= 0 || r.h <= 0) {
                std::cerr << "bad --map-beside " << v << "\n";
                return 2;
            }
            mapOptions.beside = r;
        }
        else if (a == "--stands") mapOptions.stands = next();
        else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else {
            std::cerr << "unknown option " << a << "\n";
            usage();
            return 2;
        }
    }
    if (o.user.onGround) o.user.groundAltitude = o.user.altitude;

    // Block the stop signals before any thread starts, then wait for one of them here.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    standin::SimulatorStandIn sim(o);
    if (!sim.start()) {
        std::cerr << "zntv-simulator: could not listen\n";
        return 1;
    }
    std::cout << "zntv-simulator listening: tcp 127.0.0.1:" << sim.portIPv4() << " [::1]:" << sim.portIPv6()
              << " pipe " << sim.pipePath().string() << std::endl;
    if (!portFile.empty()) {
        std::string tmp = portFile + ".tmp";
        {
            std::ofstream f(tmp, std::ios::trunc);
            f << sim.portIPv4() << "\n";
        }
        std::rename(tmp.c_str(), portFile.c_str());
    }
    if (mapOptions.wanted()) {
        lf_runMap(sim, mapOptions, set);
    } else {
        int sig = 0;
        sigwait(&set, &sig);
    }
    sim.stop();
    std::cout << "zntv-simulator stopped" << std::endl;
    return 0;
}
