// The parked traffic query runs on the work thread: a refusal is an airport without parked traffic, and a
// service that does not answer is given up (the transport played by the test).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "service_test_env.h"
#include "trafficservice/transport.h"

using namespace service_test;

namespace {

class ParkedQuery : public ServiceEnv {
protected:
    void SetUp() override {
        ServiceEnv::SetUp();
        g_trafficClient.setLoginGuid("G-1");
        g_parkAirportPos = GeoPosition{47.4647, 8.5492};
    }
    void TearDown() override {
        gf_setServiceTransport({});
        ServiceEnv::TearDown();
    }
};

}  // namespace

TEST_F(ParkedQuery, ARefusalMeansNoParkedTraffic) {
    for (const auto& [status, line] : {std::pair{400, "===> RT parkedtraffic: RT API parameter fault"},
                                       std::pair{403, "===> RT parkedtraffic: No data for this license type"}}) {
        SCOPED_TRACE(status);
        const std::string reply = R"({"status":)" + std::to_string(status) + "}";
        gf_setServiceTransport([reply](std::string_view, const std::string&, std::string& target, const StopCondition&) {
            target = reply;
            return TransferResult{};
        });
        bool got = true;
        EXPECT_NO_THROW(got = gf_getParkedTraffic());
        EXPECT_FALSE(got);
        EXPECT_TRUE(logHas(line));
    }
}

// The transport waits for its stop as a hung connection would; its own bound only keeps a broken build from
// hanging the suite.
TEST_F(ParkedQuery, AServiceThatDoesNotAnswerIsGivenUp) {
    ServiceTiming timing = gf_serviceTiming();
    timing.transferTimeout = std::chrono::milliseconds(50);
    gf_setServiceTiming(timing);
    bool stopped = false;
    gf_setServiceTransport([&](std::string_view, const std::string&, std::string&, const StopCondition& stop) {
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!stop.stopRequested() && std::chrono::steady_clock::now() < bound) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stopped = stop.stopRequested();
        return TransferResult{TransferOutcome::Stopped, CURLE_ABORTED_BY_CALLBACK};
    });
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(logHas("===> parkedtraffic: no reply within 50 ms"));
}
