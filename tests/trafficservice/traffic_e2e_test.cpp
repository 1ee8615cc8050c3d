// The traffic loop against the stand-in: the buffered start and the live cycles with the delays they are
// handed over with, what a hand-over does with the batches, the statuses, a stop in the middle of a
// request, and the record rules over a recorded day at Zurich.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "standin_http.h"
#include "standin_service_env.h"

using nlohmann::json;
using namespace service_test;
using standin::ServiceFault;
using standin::ServiceFaultKind;
using ::testing::ElementsAre;

namespace {

// A record of an airliner a few miles east of Zurich, as the service sends it.
json lf_extraRecord(const std::string& hex, std::size_t fields) {
    json r = json::array({hex, 47.47, 8.65, 90.0, 5000, 200.0, "1000", "A", "A320", "HB-XYZ", kNow, "GVA", "ZRH",
                          "XYZ1", 0, 0, "XY1", "adsb_icao", 5150, 220, 220, 0.3, 0.0, 0.0, 90.0, 90.0, 0, "none",
                          "A3"});
    while (r.size() < fields) r.push_back(nullptr);
    while (r.size() > fields) r.erase(r.size() - 1);
    return r;
}

class Traffic : public ClientLoopEnv<TrafficClient, g_trafficClient, &TrafficClient::receive> {
protected:
    static std::vector<std::int32_t> delaysOf(const std::vector<Batch>& batches) {
        std::vector<std::int32_t> delays;
        for (const Batch& b : batches) delays.push_back(b.delay);
        return delays;
    }
};

constexpr std::uint32_t kArrival = 0xa0b1c2, kDeparture = 0xa0b1c3;

}  // namespace

TEST_F(Traffic, FiveBufferedSnapshotsThenLiveBatches) {
    recordBatches();
    activateParkAirport("LSZH", kLszhLat, kLszhLon, 1416);
    live().setExtraTraffic(
        json{{"ffff01", lf_extraRecord("ffff01", 47)}, {"ffff02", lf_extraRecord("ffff02", 48)}}.dump());
    startLoop();
    ASSERT_TRUE(waitFor([&] { return batchCount() >= 7; }));
    stopLoop();
    EXPECT_EQ(m_status, 9999);

    const auto got = batches();
    auto delays = delaysOf(got);
    delays.resize(7);
    EXPECT_THAT(delays, ElementsAre(0, 6, 12, 18, 24, 30, 30));
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_TRUE(got[i].hexIds.contains(kArrival)) << i;
        EXPECT_TRUE(got[i].hexIds.contains(0xffff02)) << i;
        EXPECT_FALSE(got[i].hexIds.contains(0xffff01)) << i;  // 47 fields
        EXPECT_FALSE(got[i].hexIds.contains(0xa0b1c5)) << i;  // 49 fields
    }
    EXPECT_THAT(got[5].hexIds, ElementsAre(kArrival, kDeparture, 0xffff02u));
    EXPECT_TRUE(g_collectSeenTraffic.load());  // the parking code now learns what is live

    const std::string guid = g_trafficClient.loginGuid();
    const std::string box = "top=48.13&bottom=46.80&left=7.56&right=9.54";
    const auto traffic = requestsTo("traffic");
    ASSERT_GE(traffic.size(), 3u);
    EXPECT_EQ(traffic[0].body,
              "GUID=" + guid + "&" + box + "&querytype=locationtraffic&toffset=0&buffercount=5&buffertime=6");
    EXPECT_EQ(traffic[1].body, "GUID=" + guid + "&" + box + "&querytype=locationtraffic&toffset=0");
}

TEST_F(Traffic, AMissingSnapshotIsStillABatch) {
    recordBatches();
    live().setOmittedBuffers({2});
    startLoop();
    ASSERT_TRUE(waitFor([&] { return batchCount() >= 6; }));
    stopLoop();
    const auto got = batches();
    auto delays = delaysOf(got);
    delays.resize(6);
    EXPECT_THAT(delays, ElementsAre(0, 6, 12, 18, 24, 30));
    EXPECT_TRUE(got[2].hexIds.empty());
    EXPECT_FALSE(got[1].hexIds.empty());
    EXPECT_FALSE(got[3].hexIds.empty());
}

TEST_F(Traffic, TheBufferedBatchesWaitForTheWorkThreadAndTheLiveOnesForTheIntake) {
    g_liveAc.push_back(LiveAc{});
    gf_setAiRunning(true);
    startLoop();
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(g_intakeMutex);
        return !g_receivedTraffic.empty();
    }));
    stopLoop();
    std::lock_guard lock(g_intakeMutex);
    // Played in their order, six seconds apart; the live batch 30 s behind its time.
    std::set<std::int32_t> ticks;
    for (const TrafficRecord& r : g_bufferedTraffic) ticks.insert(r.playTick);
    EXPECT_THAT(ticks, ElementsAre(0, 600, 1200, 1800, 2400));
    EXPECT_EQ(g_receivedTraffic.front().playTick, 3000);
    EXPECT_EQ(g_receivedTraffic.front().hexId, kArrival);
    // The reader never touched the live aircraft of the work thread.
    EXPECT_EQ(g_liveAc.size(), 1u);
    EXPECT_TRUE(g_trafficClient.liveRecords.empty());
    EXPECT_EQ(g_trafficClient.latestRecordTime.load(), kNow);
}

TEST_F(Traffic, AnEmptyRegionIsHandedOverAsAnEmptyBatch) {
    recordBatches();
    placeUser(-33.9, 18.6);  // Cape Town: nothing there in this scenario
    gf_setTrafficBox();
    startLoop();
    ASSERT_TRUE(waitFor([&] { return batchCount() >= 7; }));
    stopLoop();
    for (const Batch& b : batches()) EXPECT_TRUE(b.hexIds.empty());
    EXPECT_EQ(g_trafficClient.lastBatchSize.load(), 0);
    EXPECT_FALSE(logContains("buffer failed"));  // a reply with snapshots, if empty ones
}

TEST_F(Traffic, StatusesThatEndTheLoopAndThoseThatCostACycle) {
    recordBatches();
    live().addFault("buffered", {ServiceFaultKind::Status, 406}, 1);
    live().addFault("live", {ServiceFaultKind::Status, 406}, 1);
    live().addFault("live", {ServiceFaultKind::Drop}, 1);
    live().addFault("live", {ServiceFaultKind::Empty}, 1);
    live().addFault("live", {ServiceFaultKind::BrokenJson}, 1);
    live().addFault("live", {ServiceFaultKind::NoStatus}, 1);
    startLoop();
    ASSERT_TRUE(loopEnded());
    EXPECT_EQ(m_status, 100);
    EXPECT_TRUE(logContains("===>  buffer traffic msg "));
    EXPECT_TRUE(logHas("===> buffer failed 406"));
    EXPECT_TRUE(logContains("===> curl traffic msg "));
    EXPECT_TRUE(logContains(" curl traffic code_t: "));
    EXPECT_TRUE(logHas("===> traffic receive: empty content"));
    EXPECT_TRUE(logContains("===> receive: [json.exception.parse_error"));
    EXPECT_EQ(batchCount(), 0u);  // every live reply failed
    EXPECT_EQ(countOf("traffic"), 6u);

    // A refused buffered request does not keep the live loop from starting; its first 403 ends it.
    m_loop.join();
    live().addFault("buffered", {ServiceFaultKind::Status, 403}, 1);
    live().addFault("live", {ServiceFaultKind::Status, 403}, 1);
    startLoop();
    ASSERT_TRUE(loopEnded());
    EXPECT_EQ(m_status, 403);
    EXPECT_TRUE(logHas("===> buffer failed 403"));
}

TEST_F(Traffic, AStopEndsEvenARequestUnderWay) {
    live().setSlowLimit(std::chrono::seconds(30));
    live().addFault("live", {ServiceFaultKind::Slow, 0, std::chrono::seconds(25)}, 1);
    startLoop();
    ASSERT_TRUE(waitFor([&] { return countOf("traffic") >= 2; }));  // the slow live request is under way
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    g_trafficClient.stop = true;
    ASSERT_TRUE(loopEnded());
    EXPECT_EQ(m_status, 9999);
    // Ended by the stop, not by the transfer time-out, and an own stop is no failure to report.
    EXPECT_FALSE(logContains("code_t"));
}

TEST_F(Traffic, AnExitEndsTheRequestsButTheLoopWaitsForItsStop) {
    live().setSlowLimit(std::chrono::seconds(30));
    live().addFault("live", {ServiceFaultKind::Slow, 0, std::chrono::seconds(25)}, 1);
    startLoop();
    ASSERT_TRUE(waitFor([&] { return countOf("traffic") >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::size_t before = countOf("traffic");
    g_quitRequested = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(m_done.load());
    EXPECT_EQ(countOf("traffic"), before);  // nothing new is asked while the program closes
    g_trafficClient.stop = true;
    ASSERT_TRUE(loopEnded());
    EXPECT_EQ(m_status, 9999);
    EXPECT_FALSE(logContains("code_t"));
}

// A day of recorded traffic at Zurich, ten aircraft landing, taxiing, pushing back and taking off: every
// record the service sends is read, and what is kept follows the rules against the recording's own facts.
TEST_F(Traffic, TheRecordRulesHoldOverARecordedDayAtZurich) {
    live().setScenario(standin::gf_loadScenario(std::filesystem::path(ZNTV_BINARY_DIR) / "scenarios/zurich.json"));
    activateParkAirport("LSZH", kLszhLat, kLszhLon, 1416);
    g_trafficClient.setParkAirportElevation(1416);
    g_trafficClient.qnh = 1018;  // the recording's QNH
    const std::string guid = g_trafficClient.loginGuid();
    const std::string url = m_service.serviceRoot() + "traffic";

    std::size_t ground = 0, airborne = 0;
    for (int t = 0; t <= 3200; t += 20) {
        live().setScenarioTime(t);
        const json reply = standin_test::postJson(
            url, "GUID=" + guid + "&top=48.13&bottom=46.80&left=7.56&right=9.54&querytype=locationtraffic&toffset=0");
        for (const auto& [hex, raw] : reply.at("data").items()) {
            ASSERT_EQ(raw.size(), 48u);
            g_trafficClient.liveRecords.clear();
            g_trafficClient.processLine(raw);
            ASSERT_LE(g_trafficClient.liveRecords.size(), 1u);
            const bool onGround = raw.at(14) == 1;
            const double baro = raw.at(4).is_number() ? raw.at(4).get<double>() : 0.0;
            const double aboveField = baro + 5 * 30 - 1416;
            const double fromField = gf_distanceNM(kLszhLat, kLszhLon, raw.at(1).get<double>(), raw.at(2).get<double>());
            const bool clearlyFlying = !onGround && aboveField > 300 && raw.at(5).get<double>() > 43 && fromField < 39.5;
            if (g_trafficClient.liveRecords.empty()) {
                EXPECT_FALSE(clearlyFlying) << hex << " at " << t;
                continue;
            }
            const TrafficRecord& r = g_trafficClient.liveRecords.front();
            EXPECT_GT(r.hexId, 10000u);
            EXPECT_LE(r.type.size(), 4u);
            EXPECT_LE(gf_distanceNM(kLszhLat, kLszhLon, r.lat, r.lon), 40.0);
            if (onGround) {
                EXPECT_FALSE(r.airborne) << hex << " at " << t;
                EXPECT_EQ(r.alt, 0.0);
                EXPECT_LE(gf_distanceNM(kLszhLat, kLszhLon, r.lat, r.lon), 5.0);
                ++ground;
            } else if (clearlyFlying) {
                EXPECT_TRUE(r.airborne) << hex << " at " << t;
                EXPECT_DOUBLE_EQ(r.alt, baro + 150);
                ++airborne;
            }
        }
    }
    EXPECT_GT(ground, 50u);
    EXPECT_GT(airborne, 30u);
}
