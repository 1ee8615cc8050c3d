// The live-traffic stand-in over real HTTP: what each endpoint answers, from a frozen synthetic scenario and a
// fixed wall clock, so that every value is known.
#include "service/service_standin.h"
#include "standin_http.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;
using namespace standin_test;

namespace {

constexpr double kNow = 1733580000.0;  // Sat 7 Dec 2024 14:00:00 UTC, half-hour slot 28
const std::string kZurichBox = "top=47.60&bottom=47.30&left=8.40&right=8.70";

std::vector<std::string> keysOf(const json& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.push_back(key);
    return keys;
}

class StandinLiveTraffic : public ::testing::Test {
protected:
    void SetUp() override {
        live().setScenario(standin::gf_loadScenario(fs::path(ZNTV_SOURCE_DIR) / "testbed/fixtures/synthetic_scenario.json"));
        live().setTimeScale(0);
        live().setScenarioTime(60);
        live().setWallClock(kNow);
        m_service.start();
    }

    standin::LiveTrafficServer& live() { return m_service.live(); }
    std::string url(const std::string& endpoint) const { return m_service.serviceRoot() + endpoint; }

    std::string login() {
        const json reply = postJson(url("auth"), "license=LIC-1&software=ZNTV_P3D_10.10.4");
        return reply.at("GUID").get<std::string>();
    }

    json traffic(const std::string& box = kZurichBox, const std::string& more = "&toffset=0") {
        if (m_guid.empty()) m_guid = login();
        return postJson(url("traffic"), "GUID=" + m_guid + "&" + box + "&querytype=locationtraffic" + more);
    }

    json parked(const std::string& box = kZurichBox) {
        if (m_guid.empty()) m_guid = login();
        return postJson(url("traffic"), "GUID=" + m_guid + "&" + box + "&querytype=parkedtraffic&toffset=0");
    }

    json weather(const std::string& position, const std::string& airports) {
        if (m_guid.empty()) m_guid = login();
        return postJson(url("weather"),
                        "GUID=" + m_guid + "&querytype=locwx&toffset=0&" + position + "&alt=1400&airports=" + airports);
    }

    standin::ServiceStandin m_service;
    std::string m_guid;
};

}  // namespace

TEST_F(StandinLiveTraffic, TheLoginGivesAGuidThePaceAndTheLicence) {
    json reply = postJson(url("auth"), "license=LIC-1&software=ZNTV_P3D_10.10.4");
    EXPECT_EQ(reply.at("status"), 200);
    EXPECT_EQ(reply.at("GUID").get<std::string>().size(), 36u);
    EXPECT_EQ(reply.at("type"), 1);
    EXPECT_EQ(reply.at("expiry"), static_cast<std::int64_t>(kNow) + 120 * 86400);
    EXPECT_EQ(reply.at("rrl"), 2000);
    EXPECT_EQ(reply.at("wrrl"), 2000);
    EXPECT_TRUE(reply.at("server").is_string());

    live().setLicenseType(2);
    live().setExpiry(1733700000);
    live().setPace(150, 250);
    reply = postJson(url("auth"), "license=LIC-1&software=ZNTV_P3D_10.10.4");
    EXPECT_EQ(reply.at("type"), 2);
    EXPECT_EQ(reply.at("expiry"), 1733700000);
    EXPECT_EQ(reply.at("rrl"), 150);
    EXPECT_EQ(reply.at("wrrl"), 250);
    EXPECT_EQ(live().activeSessions().size(), 2u);

    live().setAcceptedLicenses({"LIC-2"});
    EXPECT_EQ(postJson(url("auth"), "license=LIC-1&software=ZNTV_P3D_10.10.4").at("status"), 404);
    EXPECT_EQ(postJson(url("auth"), "license=LIC-2&software=ZNTV_P3D_10.10.4").at("status"), 200);
    EXPECT_EQ(postJson(url("auth"), "software=ZNTV_P3D_10.10.4").at("status"), 400);
    EXPECT_EQ(postJson(url("auth"), "license=LIC-2").at("status"), 400);
}

TEST_F(StandinLiveTraffic, RequestsNeedALoginAndTheLogoutEndsIt) {
    const std::string guid = login();
    const std::string metar = "&toffset=0&lat=47.4500&lon=8.5500";
    EXPECT_EQ(postJson(url("nearestmetar"), "GUID=" + guid + metar).at("status"), 200);
    EXPECT_EQ(postJson(url("nearestmetar"), metar.substr(1)).at("status"), 400);
    EXPECT_EQ(postJson(url("nearestmetar"), "GUID=empty GUID?" + metar).at("status"), 401);

    const json bye = postJson(url("deauth"), "GUID=" + guid);
    EXPECT_EQ(bye.at("status"), 200);
    EXPECT_EQ(bye.at("message"), "Deauthenticated");
    EXPECT_TRUE(bye.at("server").is_string());
    EXPECT_TRUE(live().activeSessions().empty());
    EXPECT_EQ(postJson(url("nearestmetar"), "GUID=" + guid + metar).at("status"), 401);
    EXPECT_EQ(postJson(url("deauth"), "GUID=" + guid).at("status"), 401);

    live().setRequireLogin(false);
    EXPECT_EQ(postJson(url("nearestmetar"), "GUID=" + guid + metar).at("status"), 200);
}

TEST_F(StandinLiveTraffic, NearestMetarListsTheClosestStationsFirst) {
    const std::string guid = login();
    json reply = postJson(url("nearestmetar"), "GUID=" + guid + "&toffset=0&lat=47.4500&lon=8.5500");
    EXPECT_EQ(reply.at("status"), 200);
    std::vector<std::string> order;
    for (const auto& st : reply.at("data")) order.push_back(st.at("ICAO"));
    EXPECT_THAT(order, ElementsAre("LSZH", "LSZB", "EDDM"));
    EXPECT_THAT(reply["data"][0].at("metar").get<std::string>(), HasSubstr("Q1018"));

    reply = postJson(url("nearestmetar"), "GUID=" + guid + "&toffset=0&lat=48.3000&lon=11.7000");
    EXPECT_EQ(reply["data"][0]["ICAO"], "EDDM");

    live().setNearestMetar("");
    reply = postJson(url("nearestmetar"), "GUID=" + guid + "&toffset=0&lat=47.4500&lon=8.5500");
    EXPECT_EQ(reply.at("status"), 200);
    EXPECT_EQ(reply.at("data"), json::array());
    live().setNearestMetar("KJFK");
    reply = postJson(url("nearestmetar"), "GUID=" + guid + "&toffset=0&lat=47.4500&lon=8.5500");
    ASSERT_EQ(reply.at("data").size(), 1u);
    EXPECT_EQ(reply["data"][0]["ICAO"], "KJFK");

    EXPECT_EQ(postJson(url("nearestmetar"), "GUID=" + guid + "&toffset=0&lat=47.45").at("status"), 400);
    EXPECT_EQ(postJson(url("nearestmetar"), "GUID=" + guid + "&toffset=0&lat=north&lon=8.55").at("status"), 400);
}

TEST_F(StandinLiveTraffic, WeatherGivesTheQnhOfTheAskedOrNearestStationOrTheOneSet) {
    json reply = weather("lat=47.4500&lon=8.5500", "LSZB");
    EXPECT_EQ(reply.at("status"), 200);
    EXPECT_EQ(reply.at("wrrl"), 2000);
    EXPECT_EQ(reply["data"]["ICAO"], "LSZB");
    EXPECT_EQ(reply["data"]["QNH"], 1017);
    EXPECT_THAT(reply["data"]["METAR"].get<std::string>(), HasSubstr("LSZB"));
    EXPECT_EQ(weather("lat=48.3000&lon=11.7000", "")["data"]["QNH"], 1009);      // nearest: Munich
    EXPECT_EQ(weather("lat=47.4500&lon=8.5500", "XXXX")["data"]["QNH"], 1018);   // unknown: nearest
    EXPECT_EQ(weather("lat=47.4500&lon=8.5500", "XXXX,LSZB")["data"]["ICAO"], "LSZB");

    // Set QNH values reach the client exactly as given, whatever their JSON kind.
    for (const std::string value : {"2992", "3100", "\"1009.8\"", "925", "3200", "1013.6", "null", "true"}) {
        live().setQnhJson(value);
        EXPECT_EQ(weather("lat=47.4500&lon=8.5500", "LSZH")["data"]["QNH"], json::parse(value)) << value;
    }
    live().setQnhJson(std::nullopt);
    EXPECT_EQ(weather("lat=47.4500&lon=8.5500", "LSZH")["data"]["QNH"], 1018);
    EXPECT_THROW(live().setQnhJson("1009.8 hPa"), std::invalid_argument);

    EXPECT_EQ(postJson(url("weather"), "GUID=" + m_guid + "&querytype=metar&toffset=0&lat=47.45&lon=8.55&alt=0&airports=")
                  .at("status"),
              400);
}

TEST_F(StandinLiveTraffic, LiveTrafficHoldsTheAircraftInsideTheBoxOnly) {
    json reply = traffic();
    EXPECT_EQ(reply.at("status"), 200);
    EXPECT_EQ(reply.at("rrl"), 2000);
    EXPECT_EQ(reply.at("full_count"), 4);  // all that fly at this moment, inside the box or not
    EXPECT_THAT(keysOf(reply.at("data")), UnorderedElementsAre("a0b1c2", "a0b1c3", "a0b1c5"));

    EXPECT_THAT(keysOf(traffic("top=48.50&bottom=48.20&left=10.50&right=12.00").at("data")), ElementsAre("a0b1c4"));
    // Edges count as inside: the arrival is at 47.44 N 8.60 E.
    EXPECT_THAT(keysOf(traffic("top=47.44&bottom=47.43&left=8.59&right=8.60").at("data")), ElementsAre("a0b1c2"));
    EXPECT_TRUE(traffic("top=47.43&bottom=47.42&left=8.59&right=8.60").at("data").empty());

    EXPECT_EQ(traffic("top=47.60&bottom=47.30&left=8.40").at("status"), 400);
    EXPECT_EQ(traffic(kZurichBox, "&toffset=-5").at("status"), 400);
    EXPECT_EQ(postJson(url("traffic"), "GUID=" + m_guid + "&" + kZurichBox + "&querytype=alltraffic").at("status"), 400);
}

TEST_F(StandinLiveTraffic, LiveRecordsHoldTheFieldsWhereTheProgramReadsThem) {
    const json data = traffic().at("data");
    const json& air = data.at("a0b1c2");  // exactly on its track point at 60 s
    ASSERT_EQ(air.size(), 48u);
    EXPECT_EQ(air[0], "a0b1c2");
    EXPECT_TRUE(air[1].is_number_float());
    EXPECT_TRUE(air[2].is_number_float());
    EXPECT_DOUBLE_EQ(air[1].get<double>(), 47.44);
    EXPECT_DOUBLE_EQ(air[2].get<double>(), 8.6);
    EXPECT_EQ(air[3].get<double>(), 0.0);
    EXPECT_EQ(air[4], 2000);
    EXPECT_EQ(air[5].get<double>(), 150.0);
    EXPECT_EQ(air[8], "A320");
    EXPECT_EQ(air[9], "HB-TST");
    ASSERT_TRUE(air[10].is_number_float());
    EXPECT_DOUBLE_EQ(air[10].get<double>(), kNow);
    EXPECT_EQ(air[11], "LHR");
    EXPECT_EQ(air[12], "ZRH");
    EXPECT_EQ(air[13], "TST101");
    EXPECT_EQ(air[14], 0);
    EXPECT_EQ(air[15], -700);
    EXPECT_EQ(air[17], "adsb_icao");
    EXPECT_EQ(air[18], 2150);  // QNH 1018 at LSZH: 5 hPa x 30 ft above the pressure altitude
    EXPECT_EQ(air[20], 150);
    EXPECT_GT(air[19].get<double>(), 100);
    EXPECT_LT(air[19].get<double>(), 150);  // indicated is less than true in thinner air
    EXPECT_EQ(air[23].get<double>(), 0.0);  // flying straight: no bank
    EXPECT_EQ(air[25].get<double>(), 0.0);
    EXPECT_EQ(air[28], "A3");

    const json& ground = data.at("a0b1c3");  // a quarter of the way from the push-back end to the taxiway
    ASSERT_EQ(ground.size(), 48u);
    EXPECT_NEAR(ground[2].get<double>(), 8.555, 1e-9);
    EXPECT_TRUE(ground[4].is_null());  // the nearer report had no altitude
    EXPECT_NEAR(ground[5].get<double>(), 5.0, 1e-9);
    EXPECT_EQ(ground[14], 1);
    EXPECT_EQ(ground[20], -1);
    EXPECT_EQ(ground[25].get<double>(), 90.0);

    EXPECT_EQ(data.at("a0b1c5").size(), 49u);  // this aircraft's records are one field too long
    EXPECT_EQ(data.at("a0b1c5")[11], "null");  // no origin: the word null, as the service writes it
}

TEST_F(StandinLiveTraffic, PositionsFollowTheScenarioClockLessTheTimeOffset) {
    live().setScenarioTime(30);
    json now = traffic().at("data");
    EXPECT_DOUBLE_EQ(now.at("a0b1c2")[1].get<double>(), 47.42);
    EXPECT_EQ(now.at("a0b1c2")[4], 3000);
    EXPECT_EQ(now.at("a0b1c2")[10].get<double>(), kNow);

    live().setScenarioTime(80);
    json shifted = traffic(kZurichBox, "&toffset=1").at("data");
    EXPECT_NEAR(shifted.at("a0b1c2")[1].get<double>(), 47.413333, 1e-6);  // a minute ago: 20 s into the scenario
    EXPECT_EQ(shifted.at("a0b1c2")[4], 3333);
    EXPECT_EQ(shifted.at("a0b1c2")[10].get<double>(), kNow - 60);
    EXPECT_FALSE(shifted.contains("a0b1c3"));                          // not there yet a minute ago
    EXPECT_TRUE(traffic().at("data").contains("a0b1c3"));

    live().setScenarioTime(500);  // the arrival stopped at 240 s and left the scenario
    EXPECT_FALSE(traffic().at("data").contains("a0b1c2"));
}

TEST_F(StandinLiveTraffic, TheBufferedReplyHoldsSnapshotsSpacedByTheBufferTime) {
    live().setScenarioTime(40);
    const json reply = traffic(kZurichBox, "&toffset=0&buffercount=5&buffertime=6");
    EXPECT_EQ(reply.at("status"), 200);
    EXPECT_EQ(reply.at("rrl"), 2000);
    const json& data = reply.at("data");
    EXPECT_THAT(keysOf(data), UnorderedElementsAre("buffer_0", "buffer_1", "buffer_2", "buffer_3", "buffer_4"));
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(k);
        const json& snapshot = data.at("buffer_" + std::to_string(k));
        const json& arrival = snapshot.at("a0b1c2");
        const double t = 40.0 - 6 * k;
        EXPECT_NEAR(arrival[1].get<double>(), 47.40 + 0.04 * t / 60, 1e-6);
        EXPECT_DOUBLE_EQ(arrival[10].get<double>(), kNow - 6 * k);
        // The departure's first report is at 30 s: it is in the snapshots from then on only.
        EXPECT_EQ(snapshot.contains("a0b1c3"), t >= 30);
        EXPECT_FALSE(snapshot.contains("a0b1c4"));  // Munich is outside the box
    }

    live().setOmittedBuffers({2});
    EXPECT_THAT(keysOf(traffic(kZurichBox, "&toffset=0&buffercount=5&buffertime=6").at("data")),
                UnorderedElementsAre("buffer_0", "buffer_1", "buffer_3", "buffer_4"));

    for (const std::string bad : {"&buffercount=0&buffertime=6", "&buffercount=11&buffertime=6",
                                  "&buffercount=five&buffertime=6", "&buffercount=5", "&buffercount=5&buffertime=0"})
        EXPECT_EQ(traffic(kZurichBox, "&toffset=0" + bad).at("status"), 400) << bad;
}

TEST_F(StandinLiveTraffic, ParkedTrafficGivesSevenFieldsSeenInTheirHalfHours) {
    const json reply = parked();
    EXPECT_EQ(reply.at("status"), 200);
    const json& data = reply.at("data");
    EXPECT_THAT(keysOf(data), UnorderedElementsAre("a0b2d1", "a0b2d2", "a0b2d3", "a0b2d4", "a0b2d5"));
    EXPECT_EQ(data.at("a0b2d1"), json::parse(R"([47.452, 8.561, "A12", "A320", "HB-JLS", 1733580000, "SWR12"])"));
    // Seen 3 and 5 half hours ago (slots 25 and 23, in their middles), in slot 20, and one half hour ago.
    EXPECT_EQ(data.at("a0b2d2")[5], 1733575500);  // 12:45
    EXPECT_EQ(data.at("a0b2d3")[5], 1733571900);  // 11:45
    EXPECT_EQ(data.at("a0b2d4")[5], 1733566500);  // 10:15
    EXPECT_EQ(data.at("a0b2d5")[5], 1733579100);  // 13:45
    EXPECT_EQ(data.at("a0b2d5")[2], "");
    EXPECT_EQ(data.at("a0b2d5")[4], "null");
    EXPECT_EQ(data.at("a0b2d5")[6], "null");

    // Shortly after midnight the slots of the day before come back.
    live().setWallClock(1733529600.0 + 40 * 60);  // 00:40, slot 1
    const json night = parked().at("data");
    EXPECT_EQ(night.at("a0b2d1")[5], 1733529600 + 40 * 60);  // slot 1's middle, 00:45, is still ahead: now
    EXPECT_EQ(night.at("a0b2d2")[5], 1733529600 - 86400 + 46 * 1800 + 900);  // slot 46 of the day before
    EXPECT_EQ(night.at("a0b2d4")[5], 1733529600 - 86400 + 20 * 1800 + 900);

    EXPECT_THAT(keysOf(parked("top=48.40&bottom=48.30&left=11.70&right=11.80").at("data")), ElementsAre("a0b2d6"));
}

TEST_F(StandinLiveTraffic, ExtraRecordsJoinEveryTrafficReply) {
    live().setExtraTraffic(R"({"ffff01": ["ffff01", 47.45, 8.55], "ffff02": []})");
    live().setExtraParked(R"({"ffff03": [47.45, 8.55, "Z9", "A320", "HB-XXX", "yesterday", "XXX1"]})");
    EXPECT_EQ(traffic().at("data").at("ffff01").size(), 3u);
    const json buffered = traffic(kZurichBox, "&toffset=0&buffercount=5&buffertime=6").at("data");
    for (const auto& [key, snapshot] : buffered.items()) EXPECT_TRUE(snapshot.contains("ffff02")) << key;
    EXPECT_EQ(parked().at("data").at("ffff03")[5], "yesterday");

    EXPECT_THROW(live().setExtraTraffic("[1, 2]"), std::invalid_argument);
    EXPECT_THROW(live().setExtraTraffic("{broken"), std::invalid_argument);
    live().setExtraTraffic("");
    EXPECT_FALSE(traffic().at("data").contains("ffff01"));
}
