// Faults of the live-traffic stand-in, its request record and its control from outside the process.
#include "service/service_standin.h"
#include "standin_http.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace standin_test;
using standin::ServiceFault;
using standin::ServiceFaultKind;

namespace {

const std::string kBox = "top=47.60&bottom=47.30&left=8.40&right=8.70";

class StandinFaults : public ::testing::Test {
protected:
    void SetUp() override {
        server().setScenario(standin::gf_loadScenario(fs::path(ZNTV_SOURCE_DIR) / "testbed/fixtures/synthetic_scenario.json"));
        server().setTimeScale(0);
        server().setScenarioTime(60);
        m_service.start();
        m_guid = postJson(url("auth"), "license=LIC-1&software=ZNTV_P3D_10.10.4").at("GUID").get<std::string>();
    }

    standin::LiveTrafficServer& server() { return m_service.live(); }
    std::string url(const std::string& endpoint) const { return m_service.serviceRoot() + endpoint; }
    std::string control(const std::string& route) const { return m_service.baseUrl() + "control/" + route; }

    HttpReply live(const std::string& more = "") {
        return post(url("traffic"), "GUID=" + m_guid + "&" + kBox + "&querytype=locationtraffic&toffset=0" + more);
    }
    HttpReply buffered() { return live("&buffercount=5&buffertime=6"); }
    HttpReply parked() {
        return post(url("traffic"), "GUID=" + m_guid + "&" + kBox + "&querytype=parkedtraffic&toffset=0");
    }
    HttpReply weather() {
        return post(url("weather"), "GUID=" + m_guid + "&querytype=locwx&toffset=0&lat=47.4500&lon=8.5500&alt=0&airports=LSZH");
    }

    static json statusOf(const HttpReply& reply) {
        if (reply.code != CURLE_OK) return "transfer failed";
        const json doc = json::parse(reply.body);
        return doc.contains("status") ? doc["status"] : json("no status");
    }

    standin::ServiceStandin m_service;
    std::string m_guid;
};

}  // namespace

TEST(StandinFaultSpecs, FaultTextsAreReadAndWrittenTheSameWay) {
    struct Case {
        std::string text;
        std::string target;
        ServiceFaultKind kind;
        int status;
        int delayMs;
        int times;
    };
    const std::vector<Case> good = {
        {"traffic=403", "traffic", ServiceFaultKind::Status, 403, 0, -1},
        {"auth=402/1", "auth", ServiceFaultKind::Status, 402, 0, 1},
        {"live=slow:1500/2", "live", ServiceFaultKind::Slow, 0, 1500, 2},
        {"weather=slow", "weather", ServiceFaultKind::Slow, 0, 0, -1},
        {"buffered=nostatus", "buffered", ServiceFaultKind::NoStatus, 0, 0, -1},
        {"parkedtraffic=brokenjson/3", "parkedtraffic", ServiceFaultKind::BrokenJson, 0, 0, 3},
        {"all=drop", "all", ServiceFaultKind::Drop, 0, 0, -1},
        {"nearestmetar=empty", "nearestmetar", ServiceFaultKind::Empty, 0, 0, -1},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.text);
        const auto spec = standin::gf_parseServiceFaultSpec(c.text);
        ASSERT_TRUE(spec);
        EXPECT_EQ(spec->target, c.target);
        EXPECT_EQ(spec->fault.kind, c.kind);
        EXPECT_EQ(spec->fault.status, c.status);
        EXPECT_EQ(spec->fault.delay.count(), c.delayMs);
        EXPECT_EQ(spec->times, c.times);
        const auto again = standin::gf_parseServiceFault(standin::gf_serviceFaultName(spec->fault));
        ASSERT_TRUE(again);
        EXPECT_EQ(again->kind, spec->fault.kind);
        EXPECT_EQ(again->status, spec->fault.status);
        EXPECT_EQ(again->delay, spec->fault.delay);
    }
    for (const std::string bad : {"traffic", "nowhere=403", "traffic=99", "traffic=1000", "traffic=403/0",
                                  "traffic=403/x", "live=slow:soon", "auth=teapot", "=403", "traffic="})
        EXPECT_FALSE(standin::gf_parseServiceFaultSpec(bad)) << bad;
}

TEST_F(StandinFaults, EachStatusFaultAnswersThatStatusWithAMessage) {
    for (int status : {400, 401, 402, 403, 404, 405, 406, 500}) {
        server().setFault("weather", ServiceFault{ServiceFaultKind::Status, status});
        const HttpReply reply = weather();
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);  // the outcome is in the body, as the service does it
        const json doc = json::parse(reply.body);
        EXPECT_EQ(doc.at("status"), status);
        EXPECT_FALSE(doc.at("message").get<std::string>().empty());
        EXPECT_FALSE(doc.contains("data"));
    }
    server().setFault("weather", ServiceFault{ServiceFaultKind::Status, 0});  // clears
    EXPECT_EQ(statusOf(weather()), 200);
}

TEST_F(StandinFaults, CountedFaultsRunOutInTheOrderTheyWereQueued) {
    server().addFault("weather", ServiceFault{ServiceFaultKind::Status, 406}, 2);
    server().addFault("weather", ServiceFault{ServiceFaultKind::Status, 500}, 1);
    std::vector<json> seen;
    for (int i = 0; i < 4; ++i) seen.push_back(statusOf(weather()));
    EXPECT_THAT(seen, ElementsAre(406, 406, 500, 200));

    server().addFault("auth", ServiceFault{ServiceFaultKind::Status, 405});  // until cleared
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(statusOf(post(url("auth"), "license=LIC-1&software=ZNTV_P3D_10.10.4")), 405);
    server().clearFaults();
    EXPECT_EQ(statusOf(post(url("auth"), "license=LIC-1&software=ZNTV_P3D_10.10.4")), 200);

    EXPECT_THROW(server().addFault("nowhere", ServiceFault{}), std::invalid_argument);
    EXPECT_THROW(server().addFault("auth", ServiceFault{}, 0), std::invalid_argument);
}

TEST_F(StandinFaults, AFaultForOneKindOfTrafficRequestWinsOverTheEndpointFault) {
    server().setFault("traffic", ServiceFault{ServiceFaultKind::Status, 403});
    server().setFault("live", ServiceFault{ServiceFaultKind::Status, 406});
    EXPECT_EQ(statusOf(live()), 406);
    EXPECT_EQ(statusOf(buffered()), 403);
    EXPECT_EQ(statusOf(parked()), 403);
    EXPECT_EQ(statusOf(weather()), 200);

    server().clearFaults();
    server().setFault("buffered", ServiceFault{ServiceFaultKind::Status, 403}, 1);
    EXPECT_EQ(statusOf(live()), 200);  // a live request leaves the buffered fault waiting
    EXPECT_EQ(statusOf(buffered()), 403);
    EXPECT_EQ(statusOf(buffered()), 200);

    server().setFault("all", ServiceFault{ServiceFaultKind::Status, 500});
    server().setFault("weather", ServiceFault{ServiceFaultKind::Status, 406});
    EXPECT_EQ(statusOf(weather()), 406);
    EXPECT_EQ(statusOf(parked()), 500);
    EXPECT_EQ(statusOf(post(url("deauth"), "GUID=" + m_guid)), 500);
}

TEST_F(StandinFaults, RepliesWithoutStatusBrokenOrEmpty) {
    server().setFault("live", ServiceFault{ServiceFaultKind::NoStatus}, 1);
    const json noStatus = json::parse(live().body);
    EXPECT_FALSE(noStatus.contains("status"));
    EXPECT_TRUE(noStatus.at("data").contains("a0b1c2"));  // otherwise the whole reply
    EXPECT_EQ(noStatus.at("rrl"), 2000);

    server().setFault("live", ServiceFault{ServiceFaultKind::BrokenJson}, 1);
    const HttpReply broken = live();
    ASSERT_EQ(broken.code, CURLE_OK);
    EXPECT_FALSE(broken.body.empty());
    EXPECT_FALSE(json::accept(broken.body));

    server().setFault("live", ServiceFault{ServiceFaultKind::Empty}, 1);
    const HttpReply empty = live();
    EXPECT_EQ(empty.code, CURLE_OK);
    EXPECT_EQ(empty.body, "");

    EXPECT_EQ(statusOf(live()), 200);
}

TEST_F(StandinFaults, ADroppedConnectionFailsTheTransferAndIsStillRecorded) {
    server().setFault("parkedtraffic", ServiceFault{ServiceFaultKind::Drop}, 1);
    m_service.requests().clear();
    const HttpReply dropped = parked();
    EXPECT_NE(dropped.code, CURLE_OK);
    EXPECT_EQ(m_service.requests().count("/v4/traffic"), 1u);
    EXPECT_EQ(statusOf(parked()), 200);  // the server goes on serving
}

TEST_F(StandinFaults, ASlowReplyComesWholeAndAStopCutsALongOneShort) {
    server().setSlowDelay(std::chrono::milliseconds(20));
    server().setFault("nearestmetar", ServiceFault{ServiceFaultKind::Slow}, 1);
    const json reply =
        postJson(url("nearestmetar"), "GUID=" + m_guid + "&toffset=0&lat=47.4500&lon=8.5500");
    EXPECT_EQ(reply.at("status"), 200);
    EXPECT_EQ(reply["data"][0]["ICAO"], "LSZH");

    // A reply held back for ten minutes: stopping the stand-in must not wait for it (the suite would hang).
    server().setSlowLimit(std::chrono::minutes(10));
    server().setFault("weather", ServiceFault{ServiceFaultKind::Slow, 0, std::chrono::minutes(10)});
    m_service.requests().clear();
    std::thread client([this] { weather(); });
    while (m_service.requests().count("/v4/weather") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    m_service.stop();
    client.join();
}

TEST_F(StandinFaults, EveryRequestIsRecordedWithItsFormFieldsAndItsBodyAsSent) {
    m_service.requests().clear();
    // The client sends the licence without URL encoding; the record keeps the bytes it sent.
    post(url("auth"), "license=AB+CD/EF==&software=ZNTV_P3D_10.10.4");
    live();
    post(url("deauth"), "GUID=" + m_guid);
    post(url("nosuchthing"), "GUID=" + m_guid);

    const auto all = m_service.requests().all();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].method, "POST");
    EXPECT_EQ(all[0].path, "/v4/auth");
    EXPECT_EQ(all[0].body, "license=AB+CD/EF==&software=ZNTV_P3D_10.10.4");
    EXPECT_EQ(all[0].form.at("software"), "ZNTV_P3D_10.10.4");
    EXPECT_EQ(all[1].path, "/v4/traffic");
    EXPECT_EQ(all[1].form.at("querytype"), "locationtraffic");
    EXPECT_EQ(all[1].form.at("top"), "47.60");
    EXPECT_EQ(all[1].form.at("toffset"), "0");
    EXPECT_EQ(all[1].form.at("GUID"), m_guid);
    EXPECT_EQ(all[2].path, "/v4/deauth");
    EXPECT_EQ(all[3].path, "/v4/nosuchthing");  // unknown endpoints are recorded too, and refused
    EXPECT_EQ(post(url("nosuchthing"), "").status, 404);
}

TEST_F(StandinFaults, ResetPutsEverySettingBackAndForgetsTheLogins) {
    server().setFault("all", ServiceFault{ServiceFaultKind::Status, 500});
    server().setQnhJson("2992");
    server().setPace(100, 100);
    server().reset();
    EXPECT_TRUE(server().activeSessions().empty());
    EXPECT_EQ(statusOf(weather()), 401);  // the login is gone
    const json login = postJson(url("auth"), "license=LIC-1&software=ZNTV_P3D_10.10.4");
    EXPECT_EQ(login.at("rrl"), 2000);
    m_guid = login.at("GUID").get<std::string>();
    EXPECT_EQ(json::parse(weather().body)["data"]["QNH"], 1018);
}

TEST_F(StandinFaults, TheControlRoutesDriveTheStandInFromOutside) {
    EXPECT_EQ(post(control("live/fault"), "target=live&fault=403&times=1").body, "ok");
    EXPECT_EQ(statusOf(live()), 403);
    EXPECT_EQ(statusOf(live()), 200);
    EXPECT_EQ(post(control("live/fault"), "target=weather&fault=slow:10").body, "ok");
    EXPECT_EQ(post(control("live/fault"), "target=weather&fault=none").body, "ok");
    EXPECT_EQ(statusOf(weather()), 200);

    EXPECT_EQ(post(control("live/qnh"), "value=\"1009.8\"").body, "ok");
    EXPECT_EQ(json::parse(weather().body)["data"]["QNH"], "1009.8");
    EXPECT_EQ(post(control("live/qnh"), "value=").body, "ok");
    EXPECT_EQ(json::parse(weather().body)["data"]["QNH"], 1018);

    EXPECT_EQ(post(control("live/time"), "at=30&wall=1733580000").body, "ok");
    const json data = json::parse(live().body).at("data");
    EXPECT_DOUBLE_EQ(data.at("a0b1c2")[1].get<double>(), 47.42);
    EXPECT_DOUBLE_EQ(data.at("a0b1c2")[10].get<double>(), 1733580000.0);

    EXPECT_EQ(post(control("live/pace"), "rrl=5000").body, "ok");
    EXPECT_EQ(json::parse(live().body).at("rrl"), 5000);
    EXPECT_EQ(post(control("live/metar"), "icao=").body, "ok");
    EXPECT_EQ(json::parse(post(url("nearestmetar"), "GUID=" + m_guid + "&toffset=0&lat=47.45&lon=8.55").body)["data"],
              json::array());
    EXPECT_EQ(post(control("live/extra"), "omit=0,4").body, "ok");
    EXPECT_FALSE(json::parse(buffered().body)["data"].contains("buffer_4"));

    const std::string tiny =
        R"({"name":"tiny","aircraft":[{"hex":"c0ffee","registration":"HB-ABC","type":"C172",)"
        R"("track":[{"t":0,"lat":47.45,"lon":8.55},{"t":1000,"lat":47.46,"lon":8.56}]}]})";
    EXPECT_EQ(post(control("live/scenario"), tiny).body, "ok");  // the scenario as the body
    EXPECT_TRUE(json::parse(live().body)["data"].contains("c0ffee"));
    const json state = json::parse(get(control("live/state")).body);
    EXPECT_EQ(state.at("scenario"), "tiny");
    EXPECT_EQ(state.at("aircraft"), 1);
    EXPECT_EQ(state.at("sessions").size(), 1u);

    const json requests = json::parse(get(control("requests")).body);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().at("path"), "/v4/auth");
    EXPECT_EQ(requests.front().at("body"), "license=LIC-1&software=ZNTV_P3D_10.10.4");

    // Input that does not fit is refused with the reason, and changes nothing.
    HttpReply refused = post(control("live/fault"), "target=nowhere&fault=403");
    EXPECT_EQ(refused.status, 400);
    refused = post(control("live/fault"), "target=live&fault=teapot");
    EXPECT_EQ(refused.status, 400);
    EXPECT_THAT(refused.body, HasSubstr("fault="));
    EXPECT_EQ(post(control("live/time"), "scale=-1").status, 400);
    EXPECT_EQ(post(control("live/scenario"), "json={\"aircraft\":[{}]}").status, 400);
    EXPECT_EQ(post(control("live/qnh"), "value=hPa").status, 400);
    EXPECT_EQ(statusOf(live()), 200);
}
