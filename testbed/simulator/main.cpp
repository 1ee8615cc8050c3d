// zntv-simulator: the simulator stand-in as a program. Runs until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

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
        "  --port-file FILE     write the bound TCP port there once listening\n";
}

}  // namespace

int main(int argc, char** argv) {
    standin::Options o = standin::defaultOptions();
    std::string portFile;
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
    int sig = 0;
    sigwait(&set, &sig);
    sim.stop();
    std::cout << "zntv-simulator stopped" << std::endl;
    return 0;
}
