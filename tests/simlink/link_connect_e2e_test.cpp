// The link thread and the simulator stand-in: connecting (also to a simulator that starts later), the
// registration on every connection byte for byte, the simulator's name check, the one-second tick, new
// flights and jumps, and the end of the link when the simulator goes away.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "client_fixture.h"
#include "link_e2e_env.h"

namespace {

namespace fs = std::filesystem;
using link_test::eventually;

// The registration as the simulator must receive it, written out from the protocol's tables rather than
// taken from the program's own, with the send ids that follow the open (1).
std::vector<ByteVec> expectedRegistration() {
    std::vector<ByteVec> out;
    std::uint32_t sendId = 2;
    const auto subscribe = [&](std::uint32_t id, const char* name) {
        out.push_back(ExpectedPacket(276, 0x17, sendId++).u32(16, id).text(20, name).b);
    };
    const auto define = [&](std::uint32_t def, const char* name, const char* units, std::uint32_t type) {
        out.push_back(ExpectedPacket(544, 0x0C, sendId++)
                          .u32(16, def)
                          .text(20, name)
                          .text(276, units)
                          .u32(532, type)
                          .f32(536, 0.0f)
                          .u32(540, 0xFFFFFFFFu)
                          .b);
    };
    const auto map = [&](std::uint32_t id, const char* name) {
        out.push_back(ExpectedPacket(276, 0x04, sendId++).u32(16, id).text(20, name).b);
    };
    subscribe(201, "Sim");
    subscribe(202, "ObjectAdded");
    subscribe(203, "ObjectRemoved");
    subscribe(205, "PositionChanged");
    subscribe(206, "FlightLoaded");
    subscribe(204, "Frame");
    const std::uint32_t F64 = 4, I64 = 2, S32 = 6, SV = 11;
    define(407, "TITLE", "", SV);
    define(408, "ATC MODEL", "", S32);
    define(409, "SIM ON GROUND", "Bool", I64);
    const char* const position[][2] = {{"Plane Latitude", "degree"},          {"Plane Longitude", "degree"},
                                       {"Plane Pitch degrees", "radians"},    {"Plane Bank degrees", "radians"},
                                       {"Plane Heading degrees true", "radians"}, {"Plane Altitude", "feet"}};
    for (const auto& d : position) define(402, d[0], d[1], F64);
    define(402, "Vertical Speed", "feet per second", F64);
    define(402, "Airspeed True", "knots", F64);
    for (const auto& d : position) define(403, d[0], d[1], F64);
    define(403, "Plane Alt Above Ground", "feet", F64);
    define(403, "Ground Velocity", "knots", F64);
    define(403, "ZULU TIME", "Seconds", I64);
    define(403, "ZULU DAY OF YEAR", "Number", I64);
    define(403, "ZULU YEAR", "Number", I64);
    define(403, "LIGHT STATES", "Mask", I64);
    define(405, "Static CG to Ground", "feet", F64);
    define(405, "Static Pitch", "radians", F64);
    define(406, "Light On States", "Mask", I64);
    define(404, "Plane Alt Above Ground", "feet", F64);
    define(404, "Ground Altitude", "feet", F64);
    define(404, "SIM ON GROUND", "Bool", I64);
    define(404, "ATC ID", "", S32);
    define(401, "SPOILERS HANDLE POSITION", "percent", F64);
    define(401, "GENERAL ENG THROTTLE LEVER POSITION:1", "percent", F64);
    define(401, "GENERAL ENG THROTTLE LEVER POSITION:2", "percent", F64);
    map(220, "GEAR_SET");
    map(221, "ENGINE_AUTO_START");
    map(222, "ENGINE_AUTO_SHUTDOWN");
    map(223, "THROTTLE_SET");
    map(218, "FLAPS_SET");
    map(219, "SPOILERS_SET");
    map(208, "NAV_LIGHTS_SET");
    map(207, "BEACON_LIGHTS_SET");
    map(211, "LANDING_LIGHTS_SET");
    map(209, "TAXI_LIGHTS_SET");
    map(210, "STROBES_SET");
    map(213, "LOGO_LIGHTS_SET");
    map(212, "CABIN_LIGHTS_SET");
    map(214, "ALL_LIGHTS_TOGGLE");
    map(215, "FREEZE_LATITUDE_LONGITUDE_SET");
    map(216, "FREEZE_ALTITUDE_SET");
    map(217, "FREEZE_ATTITUDE_SET");
    for (std::uint32_t e : {208, 207, 211, 209, 210, 213, 212, 214, 218, 219, 220, 222, 223, 215, 216, 217})
        out.push_back(ExpectedPacket(28, 0x07, sendId++).u32(16, 301).u32(20, e).u32(24, 1).b);
    out.push_back(ExpectedPacket(24, 0x09, sendId++).u32(16, 301).u32(20, 1).b);
    return out;
}

ByteVec expectedOpen() {
    return ExpectedPacket(296, 0x01, 1)
        .text(16, "ZNTV_P3D")
        .u32(276, 0x50334400u)
        .u32(280, 5)
        .u32(284, 3)
        .b;
}

using LinkConnect = link_test::LinkE2E;

TEST_F(LinkConnect, ConnectsToASimulatorThatStartsLaterAndRegistersOnEveryConnection) {
    startLink();
    // The link waits and tries again; the waiting message names the pipe it tries, and says why, once.
    const std::string waiting =
        "Waiting for Prepar3Dv5 ... at \\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect: no such pipe "
        "(no SimConnect.cfg found: the simulator on this machine assumed)";
    ASSERT_TRUE(eventually([&] { return caught().shown(waiting); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(g_simConnected.load());
    EXPECT_TRUE(g_beforeFirstConnection.load());
    startSim();
    ASSERT_TRUE(eventually(
        [] { return gf_displayText(&MainWindow::g_simName) == "Lockheed Martin Prepar3D v5 (5.4.9.28482)"; }));
    EXPECT_TRUE(g_simConnected.load());
    EXPECT_FALSE(g_beforeFirstConnection.load());
    const auto messages = caught().messagesCopy();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), waiting), 1);

    const std::vector<ByteVec> registration = expectedRegistration();
    ASSERT_EQ(registration.size(), 73u);
    ASSERT_TRUE(eventually([&] { return sim->requestCount() >= 1 + registration.size(); }));
    // A second connection of a new run registers the same way.
    gf_stopLinkThread();
    EXPECT_FALSE(g_simConnected.load());
    startLink();
    ASSERT_TRUE(eventually([&] { return sim->requestCount() >= 2 * (1 + registration.size()); }));
    const auto requests = sim->requests();
    ASSERT_EQ(requests.size(), 2 * (1 + registration.size()));
    for (std::size_t connection = 0; connection < 2; ++connection) {
        const std::size_t base = connection * (1 + registration.size());
        EXPECT_EQ(requests[base], expectedOpen()) << "open of connection " << connection;
        for (std::size_t i = 0; i < registration.size(); ++i)
            EXPECT_EQ(requests[base + 1 + i], registration[i]) << "request " << i << " of connection " << connection;
    }
}

// A SimConnect.cfg pointing at a port nothing listens on: the status line names the address, the file and
// the refusal at once, and the log has the address and the refusal once, however often the link tries.
TEST_F(LinkConnect, WhileWaitingTheStatusAndTheLogNameTheAddressAndWhy) {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof local;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &size), 0);
    ::close(probe);
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
    const fs::path cfg = docs.path() / "SimConnect.cfg";
    testing_support::writeWholeFile(cfg, "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" +
                                             std::to_string(ntohs(local.sin_port)) + "\n");

    // The local address falls back to the simulator's pipe on this machine, as SimConnect does.
    const std::string pipe = "\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect";
    startLink();
    ASSERT_TRUE(eventually(
        [&] {
            return caught().shown("Waiting for Prepar3Dv5 ... at " + address + ": refused or " + pipe +
                                  ": no such pipe (from " + cfg.string() + ")");
        },
        std::chrono::milliseconds(5000)))
        << (caught().messagesCopy().empty() ? "nothing shown" : caught().messagesCopy().back());
    // Some ten more tries at the link's shortened interval.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    gf_stopLinkThread();
    const auto lines = logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Waiting for Prepar3Dv5 ... at " + address + " or " + pipe + " (from " + cfg.string() + ")"),
              1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "===> Prepar3Dv5 not reached at " + address + ": refused"), 1);
}

TEST_F(LinkConnect, AVersionSixSimulatorIsAcceptedWhenTheSettingsSayVersionSix) {
    g_simMajorVersion = 6;
    auto o = fastOptions();
    o.simName = "Lockheed Martin\xAE Prepar3D\xAE v6";
    o.version[0] = 6;
    o.version[1] = 1;
    connect(o);
    ASSERT_TRUE(eventually(
        [] { return gf_displayText(&MainWindow::g_simName) == "Lockheed Martin Prepar3D v6 (6.1.9.28482)"; }));
    // Accepted: the waiting message is cleared, no error shown, and the link stays.
    ASSERT_TRUE(eventually([&] { return caught().shown(""); }));
    EXPECT_TRUE(caught().errorsCopy().empty());
    EXPECT_TRUE(g_simConnected.load());
}

TEST_F(LinkConnect, AnotherSimulatorIsRefusedWithError78AndTheLinkEnds) {
    for (const char* name : {"KittyHawk", "Lockheed Martin Prepar3D v4"}) {
        caught().clear();
        auto o = fastOptions();
        o.simName = name;
        startSim(o);
        startLink();
        ASSERT_TRUE(eventually([&] { return !caught().errorsCopy().empty(); }));
        EXPECT_EQ(caught().errorsCopy()[0].substr(0, 4), "78: ") << name;
        ASSERT_TRUE(eventually([] { return simConnectClientCount() == 0; }));
        EXPECT_FALSE(g_simConnected.load());
        EXPECT_EQ(caught().exitRequests.load(), 0);  // the user must mend it; the program waits
        gf_stopLinkThread();
        sim.reset();
    }
    EXPECT_EQ(caught().errorsCopy()[0], "78: wrong P3D version \"Lockheed Martin Prepar3D v4 (5.4.9.28482)\" connects ... ?");
}

TEST_F(LinkConnect, TheUserAircraftsDataEverySecondIsTheWorkLoopsTick) {
    connect();
    ASSERT_EQ(request([](SimConnectHandle h) { return gf_requestUserOnGround(h); }), kSimOk);
    ASSERT_TRUE(eventually([] { return g_secondTick.load(); }));
    g_secondTick = false;  // the work loop takes it
    ASSERT_TRUE(eventually([] { return g_secondTick.load(); }));
    placeUser();
    ASSERT_TRUE(eventually([] { return g_userOnGroundKnown.load(); }));
    EXPECT_TRUE(g_userOnGround.load());
    EXPECT_TRUE(g_flightRunning.load());
}

TEST_F(LinkConnect, ANewFlightEndsTheRunWithReasonTwo) {
    connect();
    const std::function<void()> newFlights[] = {
        [&] { sim->sendSystemEvent("FlightLoaded"); },
        [&] { sim->sendFileNameEvent("FlightLoaded", "C:\\Users\\me\\Documents\\Prepar3D v5 Files\\LSZH.fxml"); },
        [&] { sim->sendSystemEvent("PositionChanged"); },
    };
    for (const auto& newFlight : newFlights) {
        gf_resetExitFlags();
        caught().clear();
        newFlight();
        ASSERT_TRUE(eventually([&] { return caught().exitRequests.load() > 0; }));
        EXPECT_EQ(g_exitReason.load(), 2u);
        EXPECT_EQ(caught().exitDelay.load(), 30u);
    }
    EXPECT_TRUE(logHas("Simconnect: flight loaded event"));
    EXPECT_TRUE(logHas("SimConnect: New file event"));
    EXPECT_TRUE(logHas("===> User ac position changed"));
}

TEST_F(LinkConnect, AJumpOfTheUserAircraftEndsTheRunWithReasonTwo) {
    connect();
    placeUser();
    standin::ObjectState user = sim->user();
    user.latitude += 0.5;  // 30 nm north
    sim->setUser(user);
    ASSERT_TRUE(eventually([&] {
        gf_getUserPosition();
        return caught().exitRequests.load() > 0;
    }));
    EXPECT_EQ(g_exitReason.load(), 2u);
    EXPECT_EQ(caught().exitDelay.load(), 30u);
    EXPECT_TRUE(logHas("Teleport"));
}

TEST_F(LinkConnect, ADroppedOrQuittingSimulatorEndsTheLinkAndTheRunWithReasonOne) {
    for (int quit = 0; quit < 2; ++quit) {
        gf_resetExitFlags();
        caught().clear();
        connect();
        ASSERT_TRUE(eventually([] { return g_flightRunning.load(); }));
        if (quit)
            sim->sendQuit();
        else
            sim->dropConnections();
        ASSERT_TRUE(eventually([&] { return caught().exitRequests.load() > 0; }));
        EXPECT_EQ(g_exitReason.load(), 1u);
        EXPECT_EQ(caught().exitDelay.load(), 0u);
        ASSERT_TRUE(eventually([] { return simConnectClientCount() == 0; }));
        EXPECT_FALSE(g_simConnected.load());
        EXPECT_FALSE(g_flightRunning.load());
        EXPECT_EQ(g_simConnect.load(), SimConnectHandle::None);
        // Nothing reaches the closed client any more, and nothing counts as failed.
        bool called = false;
        EXPECT_EQ(request([&](SimConnectHandle) {
                      called = true;
                      return kSimOk;
                  }),
                  kSimFail);
        EXPECT_FALSE(called);
        gf_getUserPosition();
        EXPECT_EQ(g_requestErrorCount.load(), 0u);
        gf_stopLinkThread();
        sim.reset();
    }
    EXPECT_TRUE(logHas("SimConnect closed ok"));
}

}  // namespace
