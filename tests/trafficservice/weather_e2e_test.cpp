// The weather loop against the stand-in: the two requests of a cycle, the QNH in every form the service
// may send it, and the statuses that end the loop or only cost a cycle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "standin_service_env.h"

using namespace service_test;
using standin::ServiceFault;
using standin::ServiceFaultKind;

namespace {

class Weather : public ClientLoopEnv<WeatherClient, g_weatherClient, &WeatherClient::lf_weatherLoop> {
protected:
    // Waits until the loop has asked for the weather `n` more times: the reply before the last is handled.
    bool moreWeatherRequests(std::size_t n) {
        const std::size_t target = countOf("weather") + n;
        return waitFor([&] { return countOf("weather") >= target || m_done.load(); });
    }
    // The QNH the loop makes of a weather reply whose "QNH" is this JSON text; 0 when it hands nothing on.
    std::int32_t qnhFrom(const std::string& jsonText) {
        live().setQnhJson(jsonText);
        EXPECT_TRUE(moreWeatherRequests(1));
        g_qnh = 0;
        g_trafficClient.qnh = 0;
        g_mainWindow.qnhShown = 0;
        g_weatherClient.lastQnh = 0;  // so that any value counts as a change
        EXPECT_TRUE(moreWeatherRequests(2));
        EXPECT_EQ(g_trafficClient.qnh.load(), g_qnh.load());
        EXPECT_EQ(g_mainWindow.qnhShown.load(), g_qnh.load());
        return g_qnh.load();
    }
};

}  // namespace

TEST_F(Weather, ACycleAsksForTheNearestStationThenForItsWeather) {
    g_timeShiftMinutes = 90;
    placeUser(47.464712, 8.549234, -20);
    startLoop();
    ASSERT_TRUE(moreWeatherRequests(1));
    // The request has reached the service; the stop must not cut off its reply.
    ASSERT_TRUE(waitFor([] { return g_mainWindow.qnhShown.load() == 1018; }));
    stopLoop();
    EXPECT_EQ(m_status, 9999);
    const std::string guid = g_weatherClient.loginGuid();
    EXPECT_EQ(requestsTo("nearestmetar").at(0).body, "GUID=" + guid + "&toffset=90&lat=47.4647&lon=8.5492");
    EXPECT_EQ(requestsTo("weather").at(0).body,
              "GUID=" + guid + "&querytype=locwx&toffset=90&lat=47.4647&lon=8.5492&alt=0&airports=LSZH");
    EXPECT_EQ(g_weatherClient.metarStation, "LSZH");
    EXPECT_EQ(g_qnh.load(), 1018);
    EXPECT_EQ(g_mainWindow.qnhShown.load(), 1018);
    EXPECT_TRUE(g_weatherClient.weatherReceived.load());

    // Whole feet toward zero.
    placeUser(47.4647, 8.5492, 3456.9);
    g_weatherClient.stop = false;
    startLoop();
    ASSERT_TRUE(moreWeatherRequests(1));
    EXPECT_THAT(requestsTo("weather").back().body, ::testing::HasSubstr("&alt=3456&"));
}

TEST_F(Weather, TheQnhInEveryFormTheServiceSendsIt) {
    startLoop();
    EXPECT_EQ(qnhFrom("1018"), 1018);
    EXPECT_EQ(qnhFrom("2992"), 1013);  // hundredths of an inch
    EXPECT_EQ(qnhFrom("3100"), 1050);
    EXPECT_EQ(qnhFrom("\"1009.8\""), 1009);
    EXPECT_EQ(qnhFrom("\"1009\""), 1009);
    EXPECT_EQ(qnhFrom("1013.5"), 1014);
    EXPECT_EQ(qnhFrom("1012.4"), 1012);
    EXPECT_EQ(qnhFrom("\"Q1015\""), 1013);
    EXPECT_TRUE(logHas("===> QNH is no number: Q1015"));
    EXPECT_EQ(qnhFrom("true"), 1013);
    EXPECT_EQ(qnhFrom("[1015]"), 1013);
    EXPECT_FALSE(m_done.load());
}

TEST_F(Weather, AnImplausibleOrMissingQnhIsNotHandedOn) {
    startLoop();
    EXPECT_EQ(qnhFrom("925"), 0);
    EXPECT_TRUE(logContains("===> Strange QNH 925 found in {"));
    EXPECT_EQ(qnhFrom("3200"), 0);
    EXPECT_TRUE(logContains("===> Strange QNH 1084 found in {"));
    EXPECT_EQ(qnhFrom("1e300"), 0);
    EXPECT_EQ(qnhFrom("\"99999999999999999999999\""), 0);
    EXPECT_EQ(qnhFrom("null"), 0);
    EXPECT_TRUE(logContains("===> No QNH found in {"));
    EXPECT_FALSE(m_done.load());
}

TEST_F(Weather, OnlyAChangeOr1013IsHandedOnAgain) {
    startLoop();
    EXPECT_EQ(qnhFrom("1015"), 1015);
    g_mainWindow.qnhShown = 0;
    ASSERT_TRUE(moreWeatherRequests(2));
    EXPECT_EQ(g_mainWindow.qnhShown.load(), 0);  // the same 1015: nothing to show anew

    EXPECT_EQ(qnhFrom("1013"), 1013);
    g_mainWindow.qnhShown = 0;
    ASSERT_TRUE(moreWeatherRequests(2));
    EXPECT_EQ(g_mainWindow.qnhShown.load(), 1013);  // 1013 goes out every cycle
}

TEST_F(Weather, ACycleWithoutAStationMakesNoWeatherRequest) {
    live().setNearestMetar("");
    g_weatherClient.metarStation = "LSZB";
    startLoop();
    ASSERT_TRUE(waitFor([&] { return countOf("nearestmetar") >= 3; }));
    EXPECT_EQ(countOf("weather"), 0u);
    EXPECT_FALSE(m_done.load());
    stopLoop();
    EXPECT_TRUE(g_weatherClient.metarStation.empty());
}

TEST_F(Weather, StatusesThatEndTheLoopAndThoseThatCostACycle) {
    live().addFault("weather", {ServiceFaultKind::Status, 406}, 1);
    live().addFault("weather", {ServiceFaultKind::Status, 500}, 1);
    live().addFault("weather", {ServiceFaultKind::Drop}, 1);
    live().addFault("weather", {ServiceFaultKind::Empty}, 1);
    live().addFault("weather", {ServiceFaultKind::BrokenJson}, 1);
    live().addFault("weather", {ServiceFaultKind::Status, 403}, 1);
    startLoop();
    ASSERT_TRUE(waitFor([&] { return m_done.load(); }));
    EXPECT_EQ(m_status, 403);
    EXPECT_EQ(countOf("weather"), 6u);
    EXPECT_TRUE(logContains("===> 406 json weather "));
    EXPECT_TRUE(logContains("===> 500 json weather "));
    EXPECT_TRUE(logContains(" weather code_w: "));
    EXPECT_TRUE(logHas("===> Empty content?, no QNH to be found"));
    EXPECT_TRUE(logContains("===> lf_weatherLoop: [json.exception.parse_error"));

    // The nearest-station request ends it with 400 and 401, and costs a cycle with 406.
    for (const int s : {400, 401}) {
        m_loop.join();
        live().addFault("nearestmetar", {ServiceFaultKind::Status, 406}, 1);
        live().addFault("nearestmetar", {ServiceFaultKind::Status, s}, 1);
        startLoop();
        ASSERT_TRUE(waitFor([&] { return m_done.load(); }));
        EXPECT_EQ(m_status, s);
    }
    EXPECT_TRUE(logContains("===> 406 json nearestmetar "));

    // A reply without a status ends it with 100.
    m_loop.join();
    live().addFault("weather", {ServiceFaultKind::NoStatus}, 1);
    startLoop();
    ASSERT_TRUE(waitFor([&] { return m_done.load(); }));
    EXPECT_EQ(m_status, 100);
}

