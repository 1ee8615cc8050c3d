// The per-frame flush of the command queues, against a bare server end that records every request: the
// order of what goes out, the user aircraft left alone, a busy lock that skips the frame, the fatal link
// that only empties, failures counted, and creations remembered under their own send ids.
#include <gtest/gtest.h>

#include <map>

#include "client_fixture.h"
#include "injection/services.h"
#include "link_test_env.h"
#include "simlink/dispatch.h"

namespace {

std::uint32_t number(const ByteVec& p) { return wireGet32(&p[8]) & 0x0FFFFFFFu; }
std::uint32_t word(const ByteVec& p, std::size_t offset) { return wireGet32(&p[offset]); }
std::string field(const ByteVec& p, std::size_t offset, std::size_t width) {
    return wireReadText(p, offset, width);
}

AircraftUpdate update(std::uint32_t objectId, double latitude) {
    AircraftUpdate u;
    u.latitude = latitude;
    u.longitude = 8.5;
    u.heading = 1.2;
    u.altitude = 3000;
    u.airspeed = 160;
    u.objectID = objectId;
    return u;
}

CreateAircraftRequest creation(const std::string& callsign, std::uint32_t hexid) {
    static const std::string title = "AI Airbus A320 Swiss";
    CreateAircraftRequest c;
    c.position.latitude = 47.45;
    c.position.longitude = 8.55;
    c.position.altitude = 1416;
    c.callsign = callsign;
    c.containerTitle = title;
    c.hexid = hexid;
    return c;
}

// The work thread's hand-over of its positions: appended, then swapped under the lock.
void handOver(std::initializer_list<AircraftUpdate> updates) {
    for (const auto& u : updates) gf_updateAircraft(u);
    std::lock_guard lock(g_simQueueMutex);
    g_aircraftUpdates.swap();
    g_aircraftUpdates.write().clear();
}

class Flush : public link_test::LinkEnv {
protected:
    void SetUp() override {
        LinkEnv::SetUp();
        ASSERT_EQ(SimConnect_OpenWith(&handle, "ZNTV_P3D", tcpSettings(peer.port())), kSimOk);
        ASSERT_TRUE(peer.accept());
        ASSERT_TRUE(peer.readRequest().has_value());  // the open
        g_simConnect = handle;
    }
    void TearDown() override {
        g_simConnect = SimConnectHandle::None;
        SimConnect_Close(handle);
        LinkEnv::TearDown();
    }
    ByteVec next() {
        auto r = peer.readRequest();
        return r ? *r : ByteVec{};
    }

    RawPeer peer;
    SimConnectHandle handle = SimConnectHandle::None;
};

TEST_F(Flush, SendsPositionsEventsCreationsAndRemovalsInThatOrderButNothingForTheUser) {
    g_userObjectId = 2;
    handOver({update(150, 47.1), update(2, 47.2), update(151, 47.3)});
    gf_setNavLights(150, 1);
    gf_queueClientEvent({151, kEventFlapsSet, 10240});
    gf_queueCreateAircraft(creation("SWR1", 0x4B0001));
    gf_queueRemoveAircraft(2);
    gf_queueRemoveAircraft(160);
    lf_flushSimConnectQueues();

    ByteVec p = next();
    ASSERT_EQ(number(p), kReqSetDataOnSimObject);
    EXPECT_EQ(word(p, 16), kDefineAiPosition);
    EXPECT_EQ(word(p, 20), 150u);
    EXPECT_EQ(word(p, 28), 1u);   // count
    EXPECT_EQ(word(p, 32), 64u);  // unit size
    const AircraftUpdate sent = update(150, 47.1);
    EXPECT_EQ(ByteVec(p.begin() + 36, p.end()),
              ByteVec(reinterpret_cast<const std::uint8_t*>(&sent), reinterpret_cast<const std::uint8_t*>(&sent) + 64));
    p = next();
    ASSERT_EQ(number(p), kReqSetDataOnSimObject);
    EXPECT_EQ(word(p, 20), 151u);

    p = next();
    ASSERT_EQ(number(p), kReqTransmitClientEvent);
    EXPECT_EQ(word(p, 16), 150u);
    EXPECT_EQ(word(p, 20), kEventNavLightsSet);
    EXPECT_EQ(word(p, 24), 1u);
    EXPECT_EQ(word(p, 28), kAiEventGroup);
    // Flaps: control released before and after, so that the AI pilot does not take them back.
    p = next();
    ASSERT_EQ(number(p), kReqAIReleaseControl);
    EXPECT_EQ(word(p, 16), 151u);
    EXPECT_EQ(word(p, 20), kRequestReleaseControl);
    p = next();
    ASSERT_EQ(number(p), kReqTransmitClientEvent);
    EXPECT_EQ(word(p, 20), kEventFlapsSet);
    EXPECT_EQ(word(p, 24), 10240u);
    p = next();
    ASSERT_EQ(number(p), kReqAIReleaseControl);

    p = next();
    ASSERT_EQ(number(p), kReqAICreateNonATCAircraft);
    EXPECT_EQ(field(p, 16, 256), "AI Airbus A320 Swiss");
    EXPECT_EQ(field(p, 272, 12), "SWR1");
    EXPECT_EQ(word(p, 340), kRequestCreateAircraft);
    const std::uint32_t createSendId = word(p, 12);

    p = next();
    ASSERT_EQ(number(p), kReqAIRemoveObject);
    EXPECT_EQ(word(p, 16), 160u);
    EXPECT_EQ(word(p, 20), kRequestRemoveObject);
    EXPECT_TRUE(peer.quietFor(std::chrono::milliseconds(50)));

    EXPECT_TRUE(logHas("===> Simconnect call to remove ac with objectid 2"));
    ASSERT_EQ(g_pendingCreations.size(), 1u);
    EXPECT_EQ(g_pendingCreations[0].sendId, createSendId);
    EXPECT_EQ(g_pendingCreations[0].hexid, 0x4B0001u);
    EXPECT_EQ(g_pendingCreations[0].callsign, "SWR1");
    EXPECT_TRUE(g_aircraftUpdates.read().empty());
    EXPECT_TRUE(g_clientEventQueue.empty());
    EXPECT_TRUE(g_createQueue.empty());
    EXPECT_TRUE(g_removeQueue.empty());
}

TEST_F(Flush, ABusyQueueLockSkipsTheFrameAndTheNextFrameSendsIt) {
    gf_queueRemoveAircraft(170);
    std::atomic<bool> held{false}, release{false};
    std::thread work([&] {
        std::lock_guard lock(g_simQueueMutex);
        held = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(link_test::eventually([&] { return held.load(); }));
    lf_flushSimConnectQueues();  // returns at once, sends nothing
    release = true;
    work.join();
    EXPECT_TRUE(peer.quietFor(std::chrono::milliseconds(50)));
    EXPECT_EQ(g_removeQueue.size(), 1u);
    lf_flushSimConnectQueues();
    const ByteVec p = next();
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(number(p), kReqAIRemoveObject);
    EXPECT_EQ(word(p, 16), 170u);
}

TEST_F(Flush, AFatalLinkOnlyEmptiesTheQueues) {
    g_simFatalError = true;
    handOver({update(150, 47.1)});
    gf_setCabinLights(150, 1);
    gf_queueCreateAircraft(creation("SWR2", 0x4B0002));
    gf_queueRemoveAircraft(150);
    lf_flushSimConnectQueues();
    EXPECT_TRUE(peer.quietFor(std::chrono::milliseconds(50)));
    EXPECT_TRUE(g_aircraftUpdates.read().empty());
    EXPECT_TRUE(g_clientEventQueue.empty());
    EXPECT_TRUE(g_createQueue.empty());
    EXPECT_TRUE(g_removeQueue.empty());
    EXPECT_TRUE(g_pendingCreations.empty());
}

TEST_F(Flush, FailedRequestsAreReportedAndTheThirdMakesTheLinkFatal) {
    g_simConnect = SimConnectHandle::None;  // every request fails
    gf_queueClientEvent({151, kEventFlapsSet, 3072});
    gf_queueCreateAircraft(creation("SWR3", 0x4B0003));
    gf_queueRemoveAircraft(180);
    gf_queueRemoveAircraft(181);
    lf_flushSimConnectQueues();
    EXPECT_TRUE(caught().shown("SimConnect TransmitClientEvent: 218 fails"));
    EXPECT_TRUE(logHas("===> ! Simcon call to create ac in sim failed, hexid:4915203, liv: \"AI Airbus A320 Swiss\", "
                       "callsign: SWR3"));
    EXPECT_TRUE(g_pendingCreations.empty());
    // Never sent, never answered: the work thread is told so, or the aircraft would wait for it for good.
    const auto told = gf_takeSimMessages();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].type, kSimMsgCreationUnanswered);
    EXPECT_EQ(told[0].id, 0x4B0003u);
    EXPECT_EQ(g_requestErrorCount.load(), 3u);
    EXPECT_TRUE(g_simFatalError.load());
    EXPECT_TRUE(caught().shown("SimConnect request error 3, see Log.txt"));
    EXPECT_EQ(g_exitReason.load(), 5u);
    EXPECT_EQ(caught().exitDelay.load(), 10u);
    const auto lines = logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.find("!Simconnect call to remove AI ac from sim failed, id 18") !=
                                       std::string::npos;
                            }),
              2);
}

TEST_F(Flush, ACreationKeepsTheSendIdOfItsOwnRequestWhileOthersSend) {
    // Another thread writes engine controls outside the queue lock, as the work thread does, between the
    // creations of the flush.
    std::atomic<bool> stop{false};
    std::vector<std::thread> others;
    for (int t = 0; t < 3; ++t)
        others.emplace_back([&] {
            while (!stop) gf_sendEngineControls(handle, 150, 0, 50, 50);
        });
    constexpr int kCreations = 200;
    for (int i = 0; i < kCreations; ++i) {
        gf_queueCreateAircraft(creation("EZY" + std::to_string(i), 0x4B1000 + i));
        lf_flushSimConnectQueues();
    }
    stop = true;
    for (auto& t : others) t.join();
    std::map<std::string, std::uint32_t> stamped;
    while (stamped.size() < kCreations) {
        const ByteVec p = next();
        ASSERT_FALSE(p.empty());
        if (number(p) == kReqAICreateNonATCAircraft) stamped[field(p, 272, 12)] = word(p, 12);
    }
    ASSERT_EQ(g_pendingCreations.size(), static_cast<std::size_t>(kCreations));
    for (const PendingCreation& c : g_pendingCreations) EXPECT_EQ(c.sendId, stamped[c.callsign]) << c.callsign;
}

TEST_F(Flush, TheUserPositionIsAskedForOnlyOnALiveLink) {
    EXPECT_EQ(gf_getUserPosition().latitude, 0.0);
    ByteVec p = next();
    ASSERT_EQ(number(p), kReqRequestDataOnSimObject);
    EXPECT_EQ(word(p, 16), kRequestUserPosition);
    EXPECT_EQ(word(p, 20), kDefineUserPosition);
    EXPECT_EQ(word(p, 24), 0u);
    EXPECT_EQ(word(p, 28), kPeriodOnce);

    // Closed: nothing is asked, and nothing counts as a failed request.
    g_simConnect = SimConnectHandle::None;
    gf_getUserPosition();
    EXPECT_EQ(g_requestErrorCount.load(), 0u);
    g_simConnect = handle;
    g_simFatalError = true;
    gf_getUserPosition();
    EXPECT_TRUE(peer.quietFor(std::chrono::milliseconds(50)));
}

}  // namespace
