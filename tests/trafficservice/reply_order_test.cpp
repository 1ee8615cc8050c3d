// The traffic replies read in the order of their text, not in the order of their keys: the aircraft of live,
// buffered and parked replies through the readers (the transport played by the test), and the reading that
// keeps the order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "service_test_env.h"
#include "trafficservice/json_fields.h"
#include "trafficservice/transport.h"

using nlohmann::json;
using namespace service_test;
using ::testing::ElementsAre;

namespace {

constexpr double kLszhLat = 47.4647, kLszhLon = 8.5492;
constexpr std::int64_t kNow = 1733580000;  // Sat 7 Dec 2024 14:00:00 UTC

// An airliner a few miles east of Zurich; the callsign tells two records of one key apart.
std::string lf_live(const std::string& hex, const std::string& callsign) {
    json r = json::array({hex, 47.47, 8.65, 90.0, 5000, 200.0, "1000", "A", "A320", "HB-XYZ", kNow + 0.5, "GVA", "ZRH",
                          callsign, 0, 0, "XY1", "adsb_icao", 5150, 220, 220, 0.3, 0.0, 0.0, 90.0, 90.0, 0, "none",
                          "A3"});
    while (r.size() < 48) r.push_back(nullptr);
    return fmt::format("\"{}\":{}", hex, r.dump());
}

// An A320 parked on stand A12, seen now.
std::string lf_parked(const std::string& hex, const std::string& callsign) {
    return fmt::format("\"{}\":{}", hex, json::array({47.452, 8.561, "A12", "A320", "", kNow, callsign}).dump());
}

class ReplyOrder : public ServiceEnv {
protected:
    void SetUp() override {
        ServiceEnv::SetUp();
        g_trafficClient.setLoginGuid("G-1");
        placeUser(kLszhLat, kLszhLon);
        gf_setTrafficBatchHandOver([this](TrafficClient& client, std::int32_t) {
            std::vector<std::string> callsigns;
            for (const TrafficRecord& r : client.liveRecords) callsigns.push_back(r.callsign);
            m_batches.push_back(std::move(callsigns));
        });
    }
    void TearDown() override {
        gf_setServiceTransport({});
        ServiceEnv::TearDown();
    }

    // The replies in turn, one per request; the request after the last stops the traffic client.
    void play(std::vector<std::string> replies) {
        gf_setServiceTransport([this, replies = std::move(replies)](std::string_view, const std::string&,
                                                                    std::string& target, const StopCondition&) {
            if (m_served == replies.size()) {
                g_trafficClient.stop = true;
                return TransferResult{TransferOutcome::Stopped, CURLE_ABORTED_BY_CALLBACK};
            }
            target = replies[m_served++];
            return TransferResult{};
        });
    }

    std::size_t m_served = 0;
    std::vector<std::vector<std::string>> m_batches;
};

}  // namespace

// The keys out of their sorted order and one twice: every record in the reply's order, so that the later of
// two records of one aircraft is the later in the batch.
TEST_F(ReplyOrder, LiveAndBufferedAircraftComeInTheOrderOfTheReply) {
    play({fmt::format(R"({{"data":{{"buffer_0":{{{},{}}},"buffer_4":{{{},{}}}}},"rrl":1,"status":200}})",
                      lf_live("b00002", "B2"), lf_live("a00001", "A1"), lf_live("c00003", "C3"),
                      lf_live("a00001", "A1")),
          fmt::format(R"({{"data":{{{},{},{},{}}},"status":200,"rrl":1}})", lf_live("c00003", "C3"),
                      lf_live("a00001", "A1"), lf_live("b00002", "B2a"), lf_live("b00002", "B2b"))});
    std::int32_t status = 0;
    g_trafficClient.receive(status);
    EXPECT_EQ(status, 9999);
    ASSERT_EQ(m_batches.size(), 6u);
    EXPECT_THAT(m_batches[0], ElementsAre("C3", "A1"));  // buffer_4, the oldest snapshot
    EXPECT_THAT(m_batches[4], ElementsAre("B2", "A1"));  // buffer_0
    EXPECT_THAT(m_batches[5], ElementsAre("C3", "A1", "B2a", "B2b"));
}

// Two aircraft of one age on one stand: the first in the reply keeps the stand.
TEST_F(ReplyOrder, ParkedAircraftComeInTheOrderOfTheReply) {
    SlotClock clock;
    clock.now = [] { return static_cast<std::time_t>(kNow); };
    gf_setSlotClock(clock);
    g_knownModels = {"A320"};
    g_largeModels = {"A320"};
    play({fmt::format(R"({{"status":200,"data":{{{},{}}}}})", lf_parked("b00002", "SWR2"),
                      lf_parked("a00001", "SWR1"))});
    EXPECT_TRUE(gf_getParkedTraffic());
    gf_setSlotClock({});
    ASSERT_EQ(g_trafficClient.parkedRecords.size(), 1u);
    EXPECT_EQ(g_trafficClient.parkedRecords[0].callsign, "SWR2");
}

// The reading in order answers the look-ups of a reply as the JSON library does, and fails as it does.
TEST(OrderedReply, NamesDepthsAndFailuresAsTheJsonLibraryHasThem) {
    const auto reply = svcjson::parseInOrder(R"({"s":1,"d":{"z":{"y":1,"x":2},"a":[3]},"s":2})", 2);
    EXPECT_EQ(reply.member("s").plain(), 2);  // the later of two
    EXPECT_TRUE(reply.member("missing").plain().is_null());
    const auto& d = reply.member("d");
    ASSERT_TRUE(d.isObject());
    ASSERT_EQ(d.members().size(), 2u);
    EXPECT_EQ(d.members()[0].first, "z");
    EXPECT_EQ(d.members()[0].second.plain(), json::parse(R"({"x":2,"y":1})"));  // below the kept depth
    EXPECT_TRUE(d.member("z").member("y").plain().is_null());
    EXPECT_EQ(d.members()[1].second.plain(), json::array({3}));

    for (const char* text : {"", "{\"status\":200", "{\"a\":1} x", "[1e999]", "{\"a\":tru}", "\"\\ud800\""}) {
        std::string ours, library;
        try {
            (void)svcjson::parseInOrder(text, 2);
        } catch (const json::exception& e) {
            ours = e.what();
        }
        try {
            [[maybe_unused]] const json parsed = json::parse(text);
        } catch (const json::exception& e) {
            library = e.what();
        }
        EXPECT_FALSE(ours.empty()) << text;
        EXPECT_EQ(ours, library) << text;
    }
}
