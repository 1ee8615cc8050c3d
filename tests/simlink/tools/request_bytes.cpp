// Prints, one hex line each, the requests our client sends for the fixed list of calls that the
// node-simconnect comparison uses (node/calls.js), as an in-process stand-in receives them.
#include <chrono>
#include <cstdio>
#include <thread>

#include "simlink/protocol/simconnect.h"
#include "standin.h"

int main() {
    standin::Options o = standin::defaultOptions();
    o.listenPipe = false;
    o.listenIPv6 = false;
    o.frameRate = 0;
    standin::SimulatorStandIn sim(o);
    if (!sim.start()) return 1;
    ConnectionSettings s;
    s.protocol = SimProtocol::IPv4;
    s.address = "127.0.0.1";
    s.port = std::to_string(sim.portIPv4());
    SimConnectHandle h;
    if (SimConnect_OpenWith(&h, "ZNTV_P3D", s) != kSimOk) return 1;

    int failures = 0;
    auto check = [&](SimResult r) { failures += r != kSimOk; };
    check(SimConnect_MapClientEventToSimEvent(h, 220, "GEAR_SET"));
    check(SimConnect_TransmitClientEvent(h, 0, 220, 1, 301, 0));
    check(SimConnect_AddClientEventToNotificationGroup(h, 301, 220, true));
    check(SimConnect_SetNotificationGroupPriority(h, 301, 1));
    check(SimConnect_AddToDataDefinition(h, 402, "Plane Latitude", "degree", kDatumFloat64, 0.0f, kSimUnused));
    check(SimConnect_AddToDataDefinition(h, 404, "ATC ID", nullptr, kDatumString32, 0.0f, kSimUnused));
    check(SimConnect_RequestDataOnSimObject(h, 109, 403, 0, kPeriodOnce, 0, 0, 0, 0));
    check(SimConnect_RequestDataOnSimObjectType(h, 101, 404, 20000, 2));
    double lat = 47.25;
    check(SimConnect_SetDataOnSimObject(h, 402, 1, 0, 0, 8, &lat));
    check(SimConnect_SubscribeToSystemEvent(h, 201, "Sim"));
    InitPosition pos{47.5, 8.5, 1400, -1.5, 0.25, 271, 1, 0};
    check(SimConnect_AICreateNonATCAircraft(h, "Boeing 737-800 Zentavo", "ZN123", pos, 104));
    check(SimConnect_AIReleaseControl(h, 100, 103));
    check(SimConnect_AIRemoveObject(h, 100, 105));
    check(SimConnect_AISetAircraftFlightPlan(h, 100, "C:\\plans\\ZN123.pln", 110));
    if (failures) {
        std::fprintf(stderr, "%d request(s) failed\n", failures);
        return 1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sim.requests().size() < 15 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    SimConnect_Close(h);
    for (const auto& r : sim.requests()) {
        for (std::uint8_t b : r) std::printf("%02x", b);
        std::printf("\n");
    }
    return sim.requests().size() == 15 ? 0 : 1;
}
