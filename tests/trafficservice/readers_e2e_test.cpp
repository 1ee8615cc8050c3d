// The two reader threads against the stand-in, as the run-time runs them: what they show, how the failure of
// one stops the other and reaches the program, and a regular stop that reports nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "standin_service_env.h"

using namespace service_test;
using standin::ServiceFault;
using standin::ServiceFaultKind;

namespace {

class Readers : public StandinServiceEnv {
protected:
    std::size_t warnings() const { return logLinesWith("===> ").size(); }
    static ServiceFault status(int s) { return {ServiceFaultKind::Status, s}; }
};

}  // namespace

TEST_F(Readers, BothDeliverUntilTheyAreStopped) {
    login();
    const std::size_t warningsBefore = warnings();
    startReaders();
    ASSERT_TRUE(waitFor([] { return g_qnh.load() == 1018 && g_trafficClient.lastBatchSize.load() > 0; }));
    EXPECT_TRUE(logHas("          Weather Reader connected"));
    EXPECT_TRUE(logHas("          Traffic Reader connected"));
    EXPECT_EQ(g_mainWindow.g_weatherIndicator.load(), kReaderDataArriving);
    EXPECT_EQ(g_mainWindow.g_trafficIndicator.load(), kReaderDataArriving);

    stopThreads();  // the stop tokens alone, as the run-time's join does
    EXPECT_EQ(g_mainWindow.g_weatherIndicator.load(), kReaderStopped);
    EXPECT_EQ(g_mainWindow.g_trafficIndicator.load(), kReaderStopped);
    EXPECT_EQ(warnings(), warningsBefore);
    EXPECT_FALSE(g_readerError.load());
    EXPECT_FALSE(g_quitRequested.load());
}

TEST_F(Readers, ALostLoginRestartsTheProgramAfterFifteenSeconds) {
    login();
    live().addFault("live", status(401));
    startReaders();
    ASSERT_TRUE(bothEnded());
    EXPECT_TRUE(logHas("===> re-authentication to RT API is needed, restart ZNTV_P3D"));
    EXPECT_TRUE(logHas("The TrafficReader has stopped with an error"));
    EXPECT_EQ(g_exitReason.load(), static_cast<std::uint32_t>(ExitReason::ReaderError));
    EXPECT_EQ(g_exitDelay.load(), 15);
    // The weather reader was stopped by the traffic reader and ended without a word.
    EXPECT_FALSE(logContains("Weather RT API"));
    EXPECT_FALSE(logContains("WeatherReader"));
    EXPECT_FALSE(g_readerError.load());
    EXPECT_EQ(g_mainWindow.g_weatherIndicator.load(), kReaderStopped);
    EXPECT_EQ(g_mainWindow.g_trafficIndicator.load(), kReaderStopped);
}

TEST_F(Readers, OtherFailuresLeaveTheExitToTheWorkLoop) {
    login();
    live().addFault("live", status(403));
    startReaders();
    ASSERT_TRUE(bothEnded());
    EXPECT_TRUE(logHas("===> Traffic RT API: No data for this license type"));
    EXPECT_TRUE(g_readerError.load());
    EXPECT_FALSE(g_quitRequested.load());
    EXPECT_FALSE(logContains("Weather RT API"));
}

TEST_F(Readers, AWeatherFailureStopsTheTrafficReader) {
    login();
    live().addFault("weather", status(400));
    startReaders();
    ASSERT_TRUE(bothEnded());
    EXPECT_TRUE(logHas("===> Weather RT API: parameter fault"));
    EXPECT_TRUE(logHas("The WeatherReader has stopped with an error"));
    EXPECT_FALSE(logContains("Traffic RT API"));
    EXPECT_TRUE(g_readerError.load());
    // What the error line that ends the run will say after its own text.
    EXPECT_EQ(gf_serviceFailure(), "Weather Reader at " + gf_serviceBaseUrl() + " stopped, status: 400");
}

TEST_F(Readers, WithoutALoginBothEndAtOnce) {
    startReaders();
    ASSERT_TRUE(bothEnded());
    EXPECT_TRUE(logHas("===> Weather RT API error: 0"));
    EXPECT_TRUE(logHas("===> Traffic RT API error: 0"));
    EXPECT_FALSE(logContains("Reader connected"));
    EXPECT_TRUE(g_readerError.load());
    EXPECT_EQ(m_service.requests().all().size(), 0u);
}

TEST_F(Readers, TheTrafficIndicatorShowsAnEmptyRegion) {
    login();
    placeUser(-33.9, 18.6);  // nothing flies there in this scenario
    gf_setTrafficBox();
    startReaders(false, true);
    ASSERT_TRUE(waitFor([&] { return countOf("traffic") >= 3; }));  // buffered, then live ones
    gf_refreshConnectionIndicators();
    EXPECT_EQ(g_mainWindow.g_trafficIndicator.load(), kReaderNoData);

    placeUser(kLszhLat, kLszhLon);
    gf_setTrafficBox();
    ASSERT_TRUE(waitFor([] { return g_trafficClient.lastBatchSize.load() > 0; }));
    gf_refreshConnectionIndicators();
    EXPECT_EQ(g_mainWindow.g_trafficIndicator.load(), kReaderDataArriving);
}
