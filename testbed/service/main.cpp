// zntv-service: the service stand-in as a process, for the demo and for end-to-end runs of the program.
//
//   zntv-service [--help] [--port N] [--root FOLDER] [--dbase FILE] [--fault PATH=none|notfound|stall|breakoff|redirect|empty]...
//                [--stall-ms N] [--scenario FILE] [--time-scale X] [--start-at SECONDS] [--loop]
//                [--service-fault TARGET=FAULT[/N]]... [--slow-ms N] [--rrl MS] [--wrrl MS] [--qnh JSON]
//                [--no-login-check]
//
// Prints "port N" on the first line of standard output once it listens (N is the chosen free port when
// --port is 0 or missing), then serves until SIGINT or SIGTERM. Point the program at it with
// ZNTV_UPDATE_URL=http://127.0.0.1:N/downloads/ and ZNTV_SERVICE_URL=http://127.0.0.1:N/v4/ . Faults, files,
// the scenario and the request record can also be changed while it runs through the /control/ routes
// (see README.md).
#include "service/service_standin.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// The usage text; to standard output when asked for with --help, else to the error stream of a usage error.
void lf_printUsage(std::ostream& out, const char* program) {
    out << "usage: " << program
        << " [--help] [--port N] [--root FOLDER] [--dbase FILE]\n"
           "       [--fault PATH=none|notfound|stall|breakoff|redirect|empty]... [--stall-ms N]\n"
           "       [--scenario FILE] [--time-scale X] [--start-at SECONDS] [--loop]\n"
           "       [--service-fault TARGET=FAULT[/N]]... [--slow-ms N] [--rrl MS] [--wrrl MS] [--qnh JSON]\n"
           "       [--no-login-check]\n"
           "  TARGET: auth deauth nearestmetar weather traffic buffered live parkedtraffic all\n"
           "  FAULT:  a status number, nostatus, brokenjson, empty, drop, slow or slow:MS\n";
}

int lf_usage(const char* program) {
    lf_printUsage(std::cerr, program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Block the stop signals before any thread starts, so that only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    standin::ServiceStandin service;
    int port = 0;
    std::optional<double> startAt;
    bool loop = false;
    int rrl = 2000;
    int wrrl = 2000;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string_view arg = argv[i];
            const bool hasValue = i + 1 < argc;
            if (arg == "--help" || arg == "-h") {
                lf_printUsage(std::cout, argv[0]);
                return 0;
            } else if (arg == "--port" && hasValue) {
                port = std::stoi(argv[++i]);
            } else if (arg == "--root" && hasValue) {
                service.update().setRoot(argv[++i]);
            } else if (arg == "--dbase" && hasValue) {
                // The aircraft database the program reads at start-up, served as "dbase.zip" whatever the root holds.
                std::ifstream in(argv[++i], std::ios::binary);
                if (!in) throw std::runtime_error(std::string("cannot read ") + argv[i]);
                service.update().putFile("dbase.zip", std::string(std::istreambuf_iterator<char>(in), {}));
            } else if (arg == "--stall-ms" && hasValue) {
                service.update().setStallLimit(std::chrono::milliseconds(std::stoll(argv[++i])));
            } else if (arg == "--fault" && hasValue) {
                const std::string spec = argv[++i];
                const auto eq = spec.rfind('=');
                const auto fault =
                    eq == std::string::npos ? std::nullopt : standin::gf_parseFault(spec.substr(eq + 1));
                if (!fault) return lf_usage(argv[0]);
                service.update().setFault(spec.substr(0, eq), *fault);
            } else if (arg == "--scenario" && hasValue) {
                service.live().setScenario(standin::gf_loadScenario(argv[++i]));
            } else if (arg == "--time-scale" && hasValue) {
                service.live().setTimeScale(std::stod(argv[++i]));
            } else if (arg == "--start-at" && hasValue) {
                startAt = std::stod(argv[++i]);
            } else if (arg == "--loop") {
                loop = true;
            } else if (arg == "--service-fault" && hasValue) {
                const auto spec = standin::gf_parseServiceFaultSpec(argv[++i]);
                if (!spec) return lf_usage(argv[0]);
                service.live().addFault(spec->target, spec->fault, spec->times);
            } else if (arg == "--slow-ms" && hasValue) {
                service.live().setSlowDelay(std::chrono::milliseconds(std::stoll(argv[++i])));
            } else if (arg == "--rrl" && hasValue) {
                rrl = std::stoi(argv[++i]);
            } else if (arg == "--wrrl" && hasValue) {
                wrrl = std::stoi(argv[++i]);
            } else if (arg == "--no-login-check") {
                // Any login id is taken, as a service does whose sessions outlast a break in the connection:
                // a stand-in started again on the same port then goes on with the program's login.
                service.live().setRequireLogin(false);
            } else if (arg == "--qnh" && hasValue) {
                service.live().setQnhJson(std::string(argv[++i]));
            } else {
                return lf_usage(argv[0]);
            }
        }
        service.live().setPace(rrl, wrrl);
        if (loop) {
            auto scenario = service.live().scenario();
            scenario.loop = true;
            service.live().setScenario(std::move(scenario));
        }
        // After the scenario, which restarts the clock at 0.
        if (startAt) service.live().setScenarioTime(*startAt);
        port = service.start(port);
    } catch (const std::exception& e) {
        std::cerr << "zntv-service: " << e.what() << "\n";
        return 1;
    }

    std::cout << "port " << port << std::endl;
    std::cerr << "zntv-service: downloads root " << service.downloadsRoot() << "\n";
    std::cerr << "zntv-service: live-traffic service " << service.serviceRoot() << "\n";

    int received = 0;
    sigwait(&stopSignals, &received);
    service.stop();
    return 0;
}
