// The pieces of the client that decide on their own: form values, the pauses taken from the replies, the
// base address, the request box, the connection indicators, the report of a stopped reader and the resets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numbers>

#include "service_test_env.h"

using nlohmann::json;
using namespace service_test;

namespace {

class Client : public ServiceEnv {};

}  // namespace

TEST_F(Client, FormValuesArePercentEncoded) {
    EXPECT_EQ(gf_formValue("LIC-1_a.b~"), "LIC-1_a.b~");
    EXPECT_EQ(gf_formValue("a+b&c=d \xC3\xA9/%"), "a%2Bb%26c%3Dd%20%C3%A9%2F%25");
    EXPECT_EQ(gf_formValue(""), "");
}

TEST_F(Client, ThePacesOfTheServiceAreKeptWithinBounds) {
    ServiceTiming timing;
    timing.pollFloor = std::chrono::milliseconds(250);
    timing.pollCeiling = std::chrono::milliseconds(60000);
    gf_setServiceTiming(timing);
    EXPECT_EQ(gf_pollPause(json(5000)), 5000);
    EXPECT_EQ(gf_pollPause(json(2500.7)), 2500);
    EXPECT_EQ(gf_pollPause(json(0)), 250);  // never a poll without pause
    EXPECT_EQ(gf_pollPause(json(-3)), 250);
    EXPECT_EQ(gf_pollPause(json(1e15)), 60000);
    EXPECT_EQ(gf_pollPause(json(std::numeric_limits<std::uint64_t>::max())), 60000);
    EXPECT_EQ(gf_pollPause(json("5000")), 2000);
    EXPECT_EQ(gf_pollPause(json()), 2000);
    EXPECT_EQ(gf_pollPause(json(true)), 2000);
}

TEST_F(Client, TheBaseAddressCanBeMovedForTests) {
    {
        testing_support::ScopedEnv none("ZNTV_SERVICE_URL", std::nullopt);
        EXPECT_EQ(gf_serviceBaseUrl(), std::string(kServiceBaseUrl));
        EXPECT_THAT(gf_serviceBaseUrl(), ::testing::EndsWith("/v4/"));
    }
    testing_support::ScopedEnv local("ZNTV_SERVICE_URL", "http://127.0.0.1:8123/v4");
    EXPECT_EQ(gf_serviceBaseUrl(), "http://127.0.0.1:8123/v4/");
}

TEST_F(Client, TheRequestBoxFollowsTheUserAndTheRange) {
    TrafficClient& c = g_trafficClient;
    const auto box = [&] {
        return std::vector<double>{c.requestBox.top.load(), c.requestBox.bottom.load(), c.requestBox.left.load(),
                                   c.requestBox.right.load()};
    };
    const std::vector<double> initial{52.44, 52.17, 4.54, 4.98};

    placeUser(0.0005, 0.03);  // no position yet
    gf_setTrafficBox();
    EXPECT_EQ(box(), initial);

    gf_setDerivedTrafficRange(10);
    placeUser(47.4647, 8.5492);
    gf_setTrafficBox();
    EXPECT_NEAR(c.requestBox.top, 47.4647 + 0.166546762589928, 1e-12);
    EXPECT_NEAR(c.requestBox.bottom, 47.4647 - 0.166546762589928, 1e-12);
    const double halfWidth = (c.requestBox.right - c.requestBox.left) / 2;
    EXPECT_NEAR(halfWidth, 10.0 / 60 / std::cos(47.4647 * std::numbers::pi / 180), 2e-4);
    const auto first = box();

    placeUser(47.4647 + 0.0001, 8.5492 - 0.0001);  // too small a move
    gf_setTrafficBox();
    EXPECT_EQ(box(), first);

    gf_setDerivedTrafficRange(20);  // the range alone
    gf_setTrafficBox();
    EXPECT_NEAR(c.requestBox.top, 47.4648 + 2 * 0.166546762589928, 1e-12);

    // A restart puts it back where it started.
    c.resetQueryState();
    EXPECT_EQ(box(), initial);
    gf_setTrafficBox();
    EXPECT_NE(box(), initial);
}

TEST_F(Client, TheIndicatorsChangeOnlyWithWhatThePollsBring) {
    MainWindow& w = g_mainWindow;
    // As the readers leave them when they start.
    w.g_weatherIndicator = kReaderDataArriving;
    w.g_trafficIndicator = kReaderDataArriving;

    gf_refreshConnectionIndicators();  // not connected: untouched
    EXPECT_EQ(w.g_trafficIndicator.load(), kReaderDataArriving);

    g_rtConnected = true;
    g_trafficClient.lastBatchSize = 0;
    g_weatherClient.weatherReceived = true;
    gf_refreshConnectionIndicators();
    EXPECT_EQ(w.g_trafficIndicator.load(), kReaderNoData);
    EXPECT_EQ(w.g_weatherIndicator.load(), kReaderDataArriving);

    g_trafficClient.lastBatchSize = 3;
    g_weatherClient.weatherReceived = false;
    gf_refreshConnectionIndicators();
    EXPECT_EQ(w.g_trafficIndicator.load(), kReaderDataArriving);
    EXPECT_EQ(w.g_weatherIndicator.load(), kReaderNoData);

    // A QNH shown turns "Weather" green; when the weather fails again right after, it turns yellow again.
    gf_setQnh(1013);
    EXPECT_EQ(w.g_weatherIndicator.load(), kReaderDataArriving);
    gf_refreshConnectionIndicators();
    EXPECT_EQ(w.g_weatherIndicator.load(), kReaderNoData);

    // A state that holds repaints nothing, and a stopped reader is not revived.
    w.g_trafficIndicator = kReaderStopped;
    gf_refreshConnectionIndicators();
    EXPECT_EQ(w.g_trafficIndicator.load(), kReaderStopped);
}

TEST_F(Client, AStoppedReaderRestartsTheProgramOnlyForALostLogin) {
    gf_readerStopped(false);
    EXPECT_TRUE(g_readerError.load());
    EXPECT_FALSE(g_quitRequested.load());
    EXPECT_TRUE(logHas("The WeatherReader has stopped with an error"));

    gf_readerStopped(true, "TrafficReader");
    EXPECT_TRUE(logHas("The TrafficReader has stopped with an error"));
    EXPECT_EQ(g_exitReason.load(), static_cast<std::uint32_t>(ExitReason::ReaderError));
    EXPECT_EQ(g_exitDelay.load(), 15);
}

TEST_F(Client, AResetForgetsTheLoginAndTheRunButNotThePace) {
    g_weatherClient.setLoginGuid("G");
    g_weatherClient.stop = true;
    g_weatherClient.wrrl = 4000;
    g_weatherClient.lastQnh = 1020;
    g_weatherClient.metarStation = "LSZH";
    g_trafficClient.setLoginGuid("G");
    g_trafficClient.blockedAnnounce = false;
    g_trafficClient.qnh = 1020;
    g_trafficClient.latestRecordTime = 5;
    g_trafficClient.setParkAirportElevation(1416.0);
    g_qnh = 1020;
    g_collectSeenTraffic = true;

    g_weatherClient.reset();
    g_trafficClient.reset();
    EXPECT_FALSE(g_weatherClient.loggedIn());
    EXPECT_FALSE(g_weatherClient.stop.load());
    EXPECT_EQ(g_weatherClient.wrrl.load(), 4000);
    // The first QNH after the restart is handed on even when it is the one before.
    EXPECT_EQ(g_weatherClient.lastQnh.load(), 1013);
    EXPECT_TRUE(g_weatherClient.metarStation.empty());
    EXPECT_FALSE(g_trafficClient.loggedIn());
    EXPECT_TRUE(g_trafficClient.blockedAnnounce);
    EXPECT_EQ(g_trafficClient.qnh.load(), 1013);
    EXPECT_EQ(g_qnh.load(), 1013);
    EXPECT_EQ(g_trafficClient.latestRecordTime.load(), 0);
    // The run after the restart has no park airport yet: its first reports are read against no field.
    EXPECT_EQ(g_trafficClient.parkAirportElevation(), std::nullopt);
    EXPECT_FALSE(g_collectSeenTraffic.load());
}
