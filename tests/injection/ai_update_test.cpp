#include "injection/ai_update.h"

#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/log.h"
#include "injection/aircraft_lists.h"
#include "injection/services.h"
#include "simlink/link.h"
#include "support/test_support.h"
#include "trafficservice/clients.h"

namespace {

CreateAircraftRequest request(const char* callsign) {
    CreateAircraftRequest r;
    r.callsign = callsign;
    return r;
}

LiveAc liveAc(std::uint32_t hexId, const char* callsign) {
    LiveAc ac;
    ac.hexId = hexId;
    ac.callsign = callsign;
    ac.status = kAcCreationQueued;  // spawned: the spawn decision leaves it alone
    return ac;
}

class AiTick : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        gf_resetLinkState();
        gf_setAiTick(0);
        g_parkStaticStep = nullptr;
        gf_openLog(m_dir / "Log.txt");
    }
    void TearDown() override {
        gf_closeLog();
        g_parkStaticStep = nullptr;
        gf_setAiRunning(false);
        lf_clearAiLists();
        gf_resetLinkState();
    }

    std::vector<std::string> createdCallsigns() {
        std::lock_guard lock(g_simQueueMutex);
        std::vector<std::string> out;
        for (const CreateAircraftRequest& r : g_createQueue) out.push_back(r.callsign);
        return out;
    }
    std::string log() {
        std::ifstream in(m_dir / "Log.txt");
        return {std::istreambuf_iterator<char>(in), {}};
    }

    testing_support::TempDir m_dir;
};

TEST_F(AiTick, RemovalsCreationsAndParkingStepsKeepTheirSlots) {
    struct Case {
        const char* name;
        std::vector<const char*> live, statics;
        std::vector<std::uint32_t> removals;
        std::int32_t ticks;  // run from tick 0
        std::vector<std::string> created;
        std::vector<std::uint32_t> removed;
        int parkSteps;
    };
    const Case cases[] = {
        // The live creation takes the slot at 0; the static one and the parking wait for 50.
        {"live before static", {"L1"}, {"S1"}, {}, 101, {"L1", "S1"}, {}, 2},
        {"two live, then static", {"L1", "L2"}, {"S1"}, {}, 101, {"L1", "L2", "S1"}, {}, 1},
        {"not before the slot", {"L1", "L2"}, {}, {}, 50, {"L1"}, {}, 0},
        {"one removal per 10 ticks", {}, {}, {7, 8, 9}, 20, {}, {7, 8}, 1},
        {"removals beside a creation", {"L1"}, {}, {7, 8, 9}, 21, {"L1"}, {7, 8, 9}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const char* cs : c.live) g_liveCreations.push_back(request(cs));
        for (const char* cs : c.statics) g_staticCreations.push_back(request(cs));
        g_removals.assign(c.removals.begin(), c.removals.end());
        int parkSteps = 0;
        g_parkStaticStep = [&] { ++parkSteps; };
        gf_runAiTicks(c.ticks);
        EXPECT_EQ(gf_aiTick(), c.ticks);
        EXPECT_EQ(createdCallsigns(), c.created);
        {
            std::lock_guard lock(g_simQueueMutex);
            EXPECT_EQ(g_removeQueue, c.removed);
        }
        EXPECT_EQ(parkSteps, c.parkSteps);
        // Without a connection the range request is not made, so it cannot count as a failed one.
        EXPECT_EQ(g_requestErrorCount.load(), 0u);
        TearDown();
    }
}

TEST_F(AiTick, CreationRequestsAreBuiltNewestFirstAndOnlyForAircraftThatAreStillThere) {
    LiveAc first = liveAc(0x100001, "DLH4AB");
    first.latitude = 47.5;
    first.longitude = 8.5;
    first.altitude = 1400.0;
    first.heading = std::numbers::pi / 2;
    first.pitch = -std::numbers::pi / 36;
    first.title = "Airbus A320 Lufthansa";
    TrackPoint aloft;
    aloft.airborne = true;
    first.track.push_back(aloft);
    g_liveAc.push_back(first);
    g_liveAc.push_back(liveAc(0x100002, "SWR12"));  // no track point: on the ground
    g_liveAc.push_back(liveAc(0x100003, ""));
    gf_setAiTick(1);  // clear of the creation slots: the requests stay queued here

    g_creationIds = {0x100001, 0x100002, 0x999999};
    gf_runAiTicks(1);  // an aircraft that has gone since: nothing built, nothing said
    EXPECT_TRUE(g_liveCreations.empty());
    gf_runAiTicks(2);
    ASSERT_EQ(g_liveCreations.size(), 2u);
    EXPECT_EQ(g_liveCreations[0].callsign, "SWR12");
    EXPECT_EQ(g_liveCreations[0].position.onGround, 1u);
    const CreateAircraftRequest& r = g_liveCreations[1];
    EXPECT_EQ(r.hexid, 0x100001u);
    EXPECT_EQ(r.containerTitle, "Airbus A320 Lufthansa");
    EXPECT_DOUBLE_EQ(r.position.heading, 90.0);
    EXPECT_DOUBLE_EQ(r.position.pitch, -5.0);
    EXPECT_DOUBLE_EQ(r.position.altitude, 1400.0);
    EXPECT_EQ(r.position.onGround, 0u);
    EXPECT_EQ(r.position.airspeed, 0u);
    EXPECT_EQ(log().find("objectid = 0?"), std::string::npos);

    g_creationIds = {0x100003};  // no callsign: warned about, not built
    gf_runAiTicks(1);
    EXPECT_EQ(g_liveCreations.size(), 2u);
    EXPECT_NE(log().find("===> operator () "), std::string::npos);
}

TEST_F(AiTick, AnExceptionEndsTheTickWithoutCountingIt) {
    g_liveAc.push_back(liveAc(0x100001, "DLH4AB"));
    g_creationIds = {0x100001};
    gf_setAiTick(50);
    g_parkStaticStep = [] { throw std::runtime_error("no stands"); };
    gf_runAiTicks(1);
    EXPECT_EQ(gf_aiTick(), 50);
    EXPECT_TRUE(g_liveCreations.empty());  // the rest of the tick was skipped
    EXPECT_NE(log().find("gf_updateAI: no stands"), std::string::npos);

    g_parkStaticStep = nullptr;
    gf_runAiTicks(1);  // the next tick starts afresh
    EXPECT_EQ(gf_aiTick(), 51);
    EXPECT_EQ(g_liveCreations.size(), 1u);
}

TEST_F(AiTick, TheWorkThreadTakesTheBufferedBatchesAndPlayTicksFollowTheBatchMedian) {
    g_liveAc.push_back(liveAc(0x100001, "DLH4AB"));
    gf_setAiRunning(true);
    gf_setAiTick(500);
    const auto batch = [](std::vector<double> times) {
        g_trafficClient.liveRecords.clear();
        for (double t : times) {
            TrafficRecord r;
            r.time = t;
            g_trafficClient.liveRecords.push_back(r);
        }
    };
    // Median 100.5 s: each record plays at the delay past now, shifted by its tenths of a second.
    batch({103.0, 100.0, 100.5});
    gf_processTrafficBatch(g_trafficClient, 30);
    {
        std::lock_guard lock(g_intakeMutex);
        ASSERT_EQ(g_receivedTraffic.size(), 3u);
        EXPECT_EQ(g_receivedTraffic[0].playTick, 3750);
        EXPECT_EQ(g_receivedTraffic[1].playTick, 3450);
        EXPECT_EQ(g_receivedTraffic[2].playTick, 3500);
    }

    batch({200.0, 200.2});
    gf_processTrafficBatch(g_trafficClient, 6);
    {
        std::lock_guard lock(g_intakeMutex);
        ASSERT_EQ(g_bufferedTraffic.size(), 2u);
        EXPECT_EQ(g_bufferedTraffic[0].playTick, 1080);
    }
    EXPECT_EQ(g_liveAc.size(), 1u);  // the reader left the live aircraft alone
    gf_runAiTicks(1);
    std::lock_guard lock(g_intakeMutex);
    EXPECT_TRUE(g_bufferedTraffic.empty());  // taken over by the tick
}

TEST(TrafficRange, ChosenFromTheUserSituation) {
    struct Case {
        bool onGround;
        double altitude, parkAirportNm;
        std::int32_t nm;
    };
    const Case cases[] = {
        {true, 30000.0, 3.0, 10},   {false, 49001.0, 3.0, 100}, {false, 49000.0, 3.0, 40},
        {false, 18001.0, 3.0, 40},  {false, 18000.0, 6.0, 10},  {false, 5000.0, 7.0, 10},
        {false, 5000.0, 7.2, 10},   {false, 5000.0, 20.4, 23},  {false, 5000.0, 36.9, 40},
        {false, 5000.0, 37.0, 40},  {false, 5000.0, 10000.0, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.onGround << " " << c.altitude << " " << c.parkAirportNm);
        EXPECT_EQ(gf_chooseTrafficRange(c.onGround, c.altitude, 49000.0, 18000.0, c.parkAirportNm), c.nm);
    }
}

}  // namespace
