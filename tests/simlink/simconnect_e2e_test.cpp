// The client against the simulator stand-in: connecting by the configuration files and the fallback
// chain, the program's registration, the user aircraft, AI objects, and faults on the stream.
#include <gtest/gtest.h>

#include <fstream>

#include "raw_peer.h"
#include "simlink/simids.h"
#include "standin.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScopedCwd;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeWholeFile;

// Every received message, kept for the test to look through.
struct Inbox {
    std::vector<ByteVec> all;
    SimResult last = kSimOk;

    static void onMessage(const std::uint8_t* m, std::uint32_t size, void* ctx) {
        static_cast<Inbox*>(ctx)->all.emplace_back(m, m + size);
    }
    SimResult pump(SimConnectHandle h) { return last = SimConnect_CallDispatch(h, onMessage, this); }
    std::vector<ByteVec> withId(std::uint32_t id) const {
        std::vector<ByteVec> out;
        for (const auto& m : all)
            if (simMessageId(m) == id) out.push_back(m);
        return out;
    }
    // Pumps until a message of the id satisfies the predicate.
    template <typename Pred>
    std::optional<ByteVec> waitFor(SimConnectHandle h, std::uint32_t id, Pred pred) {
        std::optional<ByteVec> found;
        std::size_t seen = 0;
        waitUntil([&] {
            pump(h);
            for (; seen < all.size(); ++seen)
                if (simMessageId(all[seen]) == id && pred(all[seen])) {
                    found = all[seen];
                    return true;
                }
            return last != kSimOk;
        });
        return found;
    }
    std::optional<ByteVec> waitFor(SimConnectHandle h, std::uint32_t id) {
        return waitFor(h, id, [](const ByteVec&) { return true; });
    }
};

// A private world for one test: shell folders, working folder, registry and pipe folder in temp.
struct World {
    TempDir pub, docs, cwd, reg, runtime;
    ScopedEnv e1{"XDG_PUBLICSHARE_DIR", pub.path().string()};
    ScopedEnv e2{"XDG_DOCUMENTS_DIR", docs.path().string()};
    ScopedEnv e3{"ZNTV_REGISTRY_DIR", reg.path().string()};
    ScopedEnv e4{"XDG_RUNTIME_DIR", runtime.path().string()};
    ScopedCwd c{cwd.path()};

    void registryPorts(const std::string& v4, const std::string& v6) {
        writeWholeFile(reg / "user.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\n"
                                         "\"SimConnect_Port_IPv4\"=\"" + v4 + "\"\n\"SimConnect_Port_IPv6\"=\"" + v6 + "\"\n");
    }
};

standin::Options fastOptions() {
    standin::Options o = standin::defaultOptions();
    o.frameRate = 50;
    o.secondInterval = std::chrono::milliseconds(40);
    return o;
}

std::uint16_t deadPort() {
    RawPeer p;  // bound and closed again: nothing listens there afterwards
    return p.port();
}

TEST(StandInConnect, OpensOverTcpFromTheWorkingFolderCfg) {
    World w;
    auto o = fastOptions();
    o.listenPipe = false;
    standin::SimulatorStandIn sim(o);
    ASSERT_TRUE(sim.start());
    writeWholeFile(w.cwd / "SimConnect.cfg",
                   "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(sim.portIPv4()) + "\n");
    SimConnectHandle h;
    ASSERT_EQ(SimConnect_Open(&h, "ZNTV_P3D", nullptr, 0, nullptr, 0), kSimOk);
    Inbox in;
    auto open = in.waitFor(h, kRecvOpen);
    ASSERT_TRUE(open.has_value());
    EXPECT_EQ(open->size(), kRecvSizeOpen);
    auto m = parseRecvOpen(*open);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->applicationName, "Lockheed Martin\xAE Prepar3D\xAE v5");
    EXPECT_EQ(m->versionMajor, 5u);
    EXPECT_EQ(m->buildMinor, 28482u);
    EXPECT_EQ(sim.lastSession()->clientName, "ZNTV_P3D");
    EXPECT_EQ(SimConnect_Close(h), kSimOk);
}

TEST(StandInConnect, OpensOverTheDefaultPipeWithoutAnyCfg) {
    World w;
    auto o = fastOptions();
    o.listenIPv4 = o.listenIPv6 = false;
    standin::SimulatorStandIn sim(o);
    ASSERT_TRUE(sim.start());
    ASSERT_FALSE(sim.pipePath().empty());
    SimConnectHandle h;
    ASSERT_EQ(SimConnect_Open(&h, "ZNTV_P3D", nullptr, 0, nullptr, 0), kSimOk);
    Inbox in;
    EXPECT_TRUE(in.waitFor(h, kRecvOpen).has_value());
    SimConnect_Close(h);
}

TEST(StandInConnect, FallsBackOverIPv6AndIPv4ToTheRegistryPorts) {
    World w;
    auto o = fastOptions();
    o.listenPipe = false;
    standin::SimulatorStandIn sim(o);
    ASSERT_TRUE(sim.start());
    ASSERT_NE(sim.portIPv6(), 0);

    // No pipe: IPv6 on the registry's port answers.
    w.registryPorts(std::to_string(deadPort()), std::to_string(sim.portIPv6()));
    SimConnectHandle h;
    ASSERT_EQ(SimConnect_Open(&h, "ZNTV_P3D", nullptr, 0, nullptr, 0), kSimOk);
    Inbox in;
    EXPECT_TRUE(in.waitFor(h, kRecvOpen).has_value());
    SimConnect_Close(h);

    // Dead IPv6 port: IPv4 answers.
    w.registryPorts(std::to_string(sim.portIPv4()), std::to_string(deadPort()));
    ASSERT_EQ(SimConnect_Open(&h, "ZNTV_P3D", nullptr, 0, nullptr, 0), kSimOk);
    Inbox in2;
    EXPECT_TRUE(in2.waitFor(h, kRecvOpen).has_value());
    SimConnect_Close(h);
    EXPECT_EQ(sim.sessions().size(), 2u);

    // Nothing answers anywhere: the open fails.
    w.registryPorts(std::to_string(deadPort()), "");
    EXPECT_EQ(SimConnect_Open(&h, "ZNTV_P3D", nullptr, 0, nullptr, 0), kSimFail);
    EXPECT_EQ(SimConnect_Open(&h, "ZNTV_P3D", nullptr, 0, nullptr, 3), kSimInvalidArg);  // no such section
}

TEST(StandInConnect, DocumentsCfgOverridesPublicDocuments) {
    World w;
    auto o = fastOptions();
    o.listenPipe = false;
    standin::SimulatorStandIn sim(o);
    ASSERT_TRUE(sim.start());
    writeWholeFile(w.pub / "SimConnect.cfg", "[SimConnect]\nProtocol=IPv6\nAddress=::1\nPort=" +
                                                 std::to_string(deadPort()) + "\nDisableNagle=1\n");
    writeWholeFile(w.docs / "SimConnect.cfg", "[SimConnect]\nPort=" + std::to_string(sim.portIPv6()) + "\n");
    SimConnectHandle h;
    ASSERT_EQ(SimConnect_Open(&h, "ZNTV_P3D", nullptr, 0, nullptr, 0), kSimOk);
    Inbox in;
    EXPECT_TRUE(in.waitFor(h, kRecvOpen).has_value());
    SimConnect_Close(h);
}

class StandInSession : public ::testing::Test {
protected:
    void SetUp() override {
        opts = fastOptions();
        opts.listenPipe = false;
        opts.tracePath = trace / "trace.jsonl";
        opts.refusedTitles = {"Refused Livery"};
        sim = std::make_unique<standin::SimulatorStandIn>(opts);
        ASSERT_TRUE(sim->start());
        open();
    }
    void TearDown() override {
        if (handle != SimConnectHandle::None) SimConnect_Close(handle);
    }
    void open() {
        ConnectionSettings s;
        s.protocol = SimProtocol::IPv4;
        s.address = "127.0.0.1";
        s.port = std::to_string(sim->portIPv4());
        s.disableNagle = true;
        ASSERT_EQ(SimConnect_OpenWith(&handle, "ZNTV_P3D", s), kSimOk);
        ASSERT_TRUE(in.waitFor(handle, kRecvOpen).has_value());
    }
    std::uint32_t lastSendId() {
        std::uint32_t id = 0;
        SimConnect_GetLastSentPacketID(handle, &id);
        return id;
    }

    TempDir trace;
    standin::Options opts;
    std::unique_ptr<standin::SimulatorStandIn> sim;
    SimConnectHandle handle = SimConnectHandle::None;
    Inbox in;
};

bool registrationComplete(const standin::SessionView& v) {
    return v.groupPriorities.count(kAiEventGroup) == 1;
}

TEST_F(StandInSession, EveryConnectionRepeatsTheWholeRegistration) {
    for (int round = 0; round < 2; ++round) {
        lf_defineSimConnectData(handle);
        ASSERT_TRUE(waitUntil([&] { return registrationComplete(*sim->lastSession()); }));
        auto v = *sim->lastSession();
        EXPECT_EQ(v.subscriptions.size(), 6u);
        EXPECT_EQ(v.subscriptions["objectadded"], kEventObjectAdded);
        EXPECT_EQ(v.definitions[kDefineUserPosition].size(), 12u);
        EXPECT_EQ(v.definitions[kDefineAiPosition].size(), 8u);
        EXPECT_EQ(v.definitions[kDefineAircraftInRange][3].name, "ATC ID");
        EXPECT_EQ(v.definitions[kDefineEngineControls].size(), 3u);
        EXPECT_EQ(v.definitions.size(), 9u);
        EXPECT_EQ(v.mappedEvents.size(), 17u);
        EXPECT_EQ(v.mappedEvents[kEventEngineAutoStart], "ENGINE_AUTO_START");
        EXPECT_EQ(v.groups[kAiEventGroup].size(), 16u);
        EXPECT_EQ(v.groupPriorities[kAiEventGroup], 1u);
        SimConnect_Close(handle);
        handle = SimConnectHandle::None;
        in = Inbox{};
        open();
    }
    EXPECT_EQ(sim->sessions().size(), 3u);
}

TEST_F(StandInSession, UserAircraftFramesAndTheSimEvent) {
    lf_defineSimConnectData(handle);
    auto sim1 = in.waitFor(handle, kRecvEvent, [](const ByteVec& m) { return parseRecvEvent(m)->eventId == kEventSim; });
    ASSERT_TRUE(sim1.has_value());
    EXPECT_EQ(parseRecvEvent(*sim1)->data, 1u);

    ASSERT_EQ(gf_requestUserPosition(handle), kSimOk);
    auto pos = in.waitFor(handle, kRecvObjectData,
                          [](const ByteVec& m) { return parseRecvObjectData(m)->requestId == kRequestUserPosition; });
    ASSERT_TRUE(pos.has_value());
    auto data = parseRecvObjectData(*pos);
    EXPECT_EQ(data->objectId, standin::kUserObjectId);
    auto user = gf_decodeUserAcData(data->data);
    ASSERT_TRUE(user.has_value());
    EXPECT_DOUBLE_EQ(user->latitude, opts.user.latitude);
    EXPECT_NEAR(user->heading, opts.user.heading * 3.14159265358979 / 180, 1e-9);  // radians as defined
    EXPECT_GT(user->zuluYear, 2000);

    EXPECT_EQ(gf_requestUserTitleAndModel(handle), 0);
    auto title = in.waitFor(handle, kRecvObjectData,
                            [](const ByteVec& m) { return parseRecvObjectData(m)->requestId == kRequestUserModel; });
    ASSERT_TRUE(title.has_value());
    EXPECT_EQ(gf_decodeUserModel(parseRecvObjectData(*title)->data), "B738");

    // The on-ground flag comes every (shortened) second; frames carry their rate.
    ASSERT_EQ(gf_requestUserOnGround(handle), kSimOk);
    int seconds = 0;
    in.waitFor(handle, kRecvObjectData, [&](const ByteVec& m) {
        auto d = parseRecvObjectData(m);
        if (d->requestId == kRequestUserOnGround && gf_decodeUserOnGround(d->data) == 1) ++seconds;
        return seconds >= 3;
    });
    EXPECT_GE(seconds, 3);
    auto frame = in.waitFor(handle, kRecvFrame);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->size(), kRecvSizeFrame);
    EXPECT_FLOAT_EQ(parseRecvFrame(*frame)->frameRate, 50.0f);

    sim->setFlightRunning(false);
    auto stopped = in.waitFor(handle, kRecvEvent, [](const ByteVec& m) {
        auto e = parseRecvEvent(m);
        return e->eventId == kEventSim && e->data == 0;
    });
    EXPECT_TRUE(stopped.has_value());
}

TEST_F(StandInSession, AiAircraftLifecycle) {
    lf_defineSimConnectData(handle);
    CreateAircraftRequest req;
    req.position = {opts.user.latitude + 0.01, opts.user.longitude, 1416, 0, 0, 90, 1, 0};
    req.callsign = "SWR123";
    std::string title = "Airbus A320 Swiss";
    req.containerTitle = title;
    ASSERT_EQ(gf_createAiAircraft(handle, req), kSimOk);
    auto added = in.waitFor(handle, kRecvObjectAddRemove);
    ASSERT_TRUE(added.has_value());
    auto a = parseRecvObjectAddRemove(*added);
    EXPECT_EQ(a->eventId, kEventObjectAdded);
    EXPECT_GT(a->objectId, standin::kUserObjectId);
    EXPECT_EQ(a->objectType, kSimObjectTypeAircraft);
    std::uint32_t id = a->objectId;

    ASSERT_EQ(gf_requestAircraftInRange(handle, 20000), kSimOk);
    auto inRange = in.waitFor(handle, kRecvObjectDataByType,
                              [&](const ByteVec& m) { return parseRecvObjectData(m)->objectId == id; });
    ASSERT_TRUE(inRange.has_value());
    auto d = gf_decodeAircraftInRange(parseRecvObjectData(*inRange)->data);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->atcId, "SWR123");
    EXPECT_EQ(d->onGround, 1);

    AircraftUpdate u;
    u.objectID = id;
    u.latitude = 47.5;
    u.longitude = 8.6;
    u.altitude = 2500;
    u.heading = 3.14159265358979 / 2;
    ASSERT_EQ(gf_sendAircraftUpdate(handle, u), kSimOk);
    ASSERT_EQ(gf_transmitClientEvent(handle, {id, kEventNavLightsSet, 1}), kSimOk);
    ASSERT_EQ(gf_releaseAiControl(handle, id), kSimOk);
    ASSERT_EQ(gf_setAiFlightPlan(handle, id, "C:\\plans\\SWR123.pln"), kSimOk);
    ASSERT_TRUE(waitUntil([&] { return !sim->lastSession()->flightPlans.empty(); }));
    auto objects = sim->aiObjects();
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_DOUBLE_EQ(objects[0].latitude, 47.5);
    EXPECT_NEAR(objects[0].heading, 90.0, 1e-9);
    auto v = *sim->lastSession();
    ASSERT_EQ(v.clientEvents.size(), 1u);
    EXPECT_EQ(v.clientEvents[0].groupId, kAiEventGroup);
    EXPECT_EQ(v.releases[0].requestId, kRequestReleaseControl);
    EXPECT_EQ(v.flightPlans[0].path, "C:\\plans\\SWR123.pln");

    ASSERT_EQ(gf_removeAiObject(handle, id), kSimOk);
    auto removed = in.waitFor(handle, kRecvObjectAddRemove,
                              [](const ByteVec& m) { return parseRecvObjectAddRemove(m)->eventId == kEventObjectRemoved; });
    ASSERT_TRUE(removed.has_value());
    EXPECT_EQ(parseRecvObjectAddRemove(*removed)->objectId, id);

    // Removing it again names the failed request.
    ASSERT_EQ(gf_removeAiObject(handle, id), kSimOk);
    std::uint32_t sendId = lastSendId();
    auto ex = in.waitFor(handle, kRecvException);
    ASSERT_TRUE(ex.has_value());
    EXPECT_EQ(parseRecvException(*ex)->exception, standin::kExceptionUnrecognizedId);
    EXPECT_EQ(parseRecvException(*ex)->sendId, sendId);

    // The trace tells the story in JSON lines.
    std::ifstream t(trace / "trace.jsonl");
    std::string line, all;
    int lines = 0;
    while (std::getline(t, line)) {
        ++lines;
        all += line;
    }
    EXPECT_EQ(lines, 3);
    EXPECT_NE(all.find("\"event\":\"create\""), std::string::npos);
    EXPECT_NE(all.find("\"lat\":47.5"), std::string::npos);
    EXPECT_NE(all.find("\"event\":\"remove\""), std::string::npos);
}

// A client that closes takes its aircraft with it, also those whose ids it never saw; the others' stay.
TEST_F(StandInSession, AClosingClientsAircraftGoWithIt) {
    lf_defineSimConnectData(handle);
    CreateAircraftRequest req;
    req.position = {opts.user.latitude + 0.01, opts.user.longitude, 1416, 0, 0, 90, 1, 0};
    req.callsign = "SWR1";
    req.containerTitle = "Airbus A320 Swiss";
    ASSERT_EQ(gf_createAiAircraft(handle, req), kSimOk);
    ASSERT_TRUE(in.waitFor(handle, kRecvObjectAddRemove).has_value());

    ConnectionSettings s;
    s.protocol = SimProtocol::IPv4;
    s.address = "127.0.0.1";
    s.port = std::to_string(sim->portIPv4());
    SimConnectHandle other;
    ASSERT_EQ(SimConnect_OpenWith(&other, "other", s), kSimOk);
    req.callsign = "SWR2";
    ASSERT_EQ(gf_createAiAircraft(other, req), kSimOk);
    req.callsign = "SWR3";
    ASSERT_EQ(gf_createAiAircraft(other, req), kSimOk);
    ASSERT_TRUE(waitUntil([&] { return sim->aiObjects().size() == 3; }));
    SimConnect_Close(other);

    auto removed = in.waitFor(handle, kRecvObjectAddRemove, [](const ByteVec& m) {
        return parseRecvObjectAddRemove(m)->eventId == kEventObjectRemoved;
    });
    ASSERT_TRUE(removed.has_value());
    ASSERT_TRUE(waitUntil([&] { return sim->aiObjects().size() == 1; }));
    EXPECT_EQ(sim->aiObjects()[0].atcId, "SWR1");
    const auto sessions = sim->sessions();
    EXPECT_EQ(sessions.back().removedAtClose.size(), 2u);
    EXPECT_TRUE(sessions.front().removedAtClose.empty());

    std::ifstream t(trace / "trace.jsonl");
    std::string line;
    std::vector<std::string> gone;
    while (std::getline(t, line))
        if (line.find("\"event\":\"remove\"") != std::string::npos) gone.push_back(line);
    ASSERT_EQ(gone.size(), 2u);
    EXPECT_NE(gone[0].find("\"atcId\":\"SWR2\""), std::string::npos) << gone[0];
    EXPECT_NE(gone[1].find("\"atcId\":\"SWR3\""), std::string::npos) << gone[1];
}

TEST_F(StandInSession, RefusedCreationNamesItsSendIdAndForeignAircraftAreAnnounced) {
    lf_defineSimConnectData(handle);
    CreateAircraftRequest req;
    req.callsign = "BAD1";
    req.containerTitle = "Refused Livery";
    ASSERT_EQ(gf_createAiAircraft(handle, req), kSimOk);
    std::uint32_t sendId = lastSendId();
    auto ex = in.waitFor(handle, kRecvException);
    ASSERT_TRUE(ex.has_value());
    EXPECT_EQ(parseRecvException(*ex)->exception, 22u);
    EXPECT_EQ(parseRecvException(*ex)->sendId, sendId);
    EXPECT_TRUE(sim->aiObjects().empty());

    std::uint32_t foreign = sim->addForeignAircraft("Other Traffic", "N12345", opts.user.latitude, opts.user.longitude,
                                                    500, false);
    auto added = in.waitFor(handle, kRecvObjectAddRemove);
    ASSERT_TRUE(added.has_value());
    EXPECT_EQ(parseRecvObjectAddRemove(*added)->objectId, foreign);
}

TEST_F(StandInSession, StreamFaultsLeaveEveryMessageIntact) {
    lf_defineSimConnectData(handle);
    sim->setSplitMessages(true);
    sim->setZeroPadding(8);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(gf_requestUserPosition(handle), kSimOk);
    int good = 0;
    in.waitFor(handle, kRecvObjectData, [&](const ByteVec& m) {
        auto u = gf_decodeUserAcData(parseRecvObjectData(m)->data);
        if (parseRecvObjectData(m)->requestId == kRequestUserPosition && u && u->latitude == opts.user.latitude) ++good;
        return good == 5;
    });
    EXPECT_EQ(good, 5);

    sim->setSplitMessages(false);
    sim->setCoalesceMessages(true);
    ASSERT_EQ(gf_requestAircraftInRange(handle, 1000), kSimOk);
    EXPECT_TRUE(in.waitFor(handle, kRecvObjectDataByType).has_value());
    sim->sendQuit();
    EXPECT_TRUE(in.waitFor(handle, kRecvQuit).has_value());
    EXPECT_EQ(in.last, kSimOk);

    sim->announceLength(2u << 20);
    waitUntil([&] { return in.pump(handle) != kSimOk; });
    EXPECT_EQ(in.last, kSimAbort);
    EXPECT_EQ(simConnectDisconnectReason(handle), kDisconnectTooLong);
}

TEST_F(StandInSession, DroppedLinkFailsTheDispatch) {
    sim->dropConnections();
    waitUntil([&] { return in.pump(handle) != kSimOk; });
    EXPECT_TRUE(in.last == kSimRemoteDisconnect || in.last == kSimConnectionReset) << in.last;
    EXPECT_EQ(SimConnect_AIRemoveObject(handle, 100, 105), in.last);  // the stored failure
}

TEST(StandInAccept, LateAndRefusedConnections) {
    auto o = fastOptions();
    o.listenPipe = false;
    o.acceptDelay = std::chrono::milliseconds(200);
    standin::SimulatorStandIn sim(o);
    ASSERT_TRUE(sim.start());
    ConnectionSettings s;
    s.protocol = SimProtocol::IPv4;
    s.address = "127.0.0.1";
    s.port = std::to_string(sim.portIPv4());
    SimConnectHandle h;
    ASSERT_EQ(SimConnect_OpenWith(&h, "ZNTV_P3D", s), kSimOk);
    Inbox in;
    EXPECT_TRUE(in.waitFor(h, kRecvOpen).has_value());  // answered once the delay has passed
    SimConnect_Close(h);

    sim.setRefuseConnections(true);
    // The refusal may beat our open request to the socket, and then the open itself fails.
    if (SimConnect_OpenWith(&h, "ZNTV_P3D", s) != kSimOk) return;
    Inbox refused;
    waitUntil([&] { return refused.pump(h) != kSimOk; });
    // Closed with our open request still unread, the peer's end may reset rather than close.
    EXPECT_TRUE(refused.last == kSimRemoteDisconnect || refused.last == kSimConnectionReset) << refused.last;
    EXPECT_TRUE(refused.withId(kRecvOpen).empty());
    SimConnect_Close(h);
}

}  // namespace
