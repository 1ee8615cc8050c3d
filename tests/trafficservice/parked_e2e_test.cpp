// The parked traffic query against the stand-in: the box around the park airport, the ages from the
// half-hours, one aircraft per stand and callsign, and what a failed query reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "standin_service_env.h"

using namespace service_test;
using standin::ServiceFault;
using standin::ServiceFaultKind;
using ::testing::ElementsAre;

namespace {

class Parked : public StandinServiceEnv {
protected:
    void SetUp() override {
        StandinServiceEnv::SetUp();
        login();
        // The half-hour of "now" is the stand-in's: 14:00 UTC, slot 28.
        SlotClock clock;
        clock.now = [] { return static_cast<std::time_t>(kNow); };
        gf_setSlotClock(clock);
        g_knownModels = {"A320", "A321", "E190", "B77W", "CRJ9", "A359"};
        g_largeModels = {"A320", "A321", "E190", "CRJ9"};
        g_heavyModels = {"B77W", "A359"};
        activateParkAirport("LSZH", kLszhLat, kLszhLon, 1416);
    }

    // "stand/callsign/age" of the parked records.
    static std::vector<std::string> parked() {
        std::vector<std::string> out;
        for (const auto& r : g_trafficClient.parkedRecords) {
            out.push_back(r.stand + "/" + r.callsign + "/" + std::to_string(r.slot));
        }
        return out;
    }
    void fault(ServiceFault f) { live().addFault("parkedtraffic", f, 1); }
};

}  // namespace

TEST_F(Parked, OneAircraftPerStandAndCallsignTheYoungestFirst) {
    ASSERT_TRUE(gf_getParkedTraffic());
    // A12/SWR12 (age 0) wins its stand over SWR34 (3) and its callsign over B33 (5); E24 was seen at 10:00.
    // The aircraft without a stand and the one at Munich never come in.
    EXPECT_THAT(parked(), ElementsAre("A12/SWR12/0", "E24/SWR38/8"));
    EXPECT_EQ(g_trafficClient.parkedRecords[0].hexid, 0xa0b2d1u);
    EXPECT_EQ(g_trafficClient.parkedRecords[0].registration, "HB-JLS");

    const auto traffic = requestsTo("traffic");
    ASSERT_EQ(traffic.size(), 1u);
    EXPECT_EQ(traffic[0].body, "GUID=" + g_trafficClient.loginGuid() +
                                   "&top=47.51&bottom=47.41&left=8.48&right=8.62&querytype=parkedtraffic&toffset=0");
}

TEST_F(Parked, OldObservationsGoUnlessOnlyTheServiceCounts) {
    g_MAX_FIT.set(4);
    ASSERT_TRUE(gf_getParkedTraffic());
    EXPECT_THAT(parked(), ElementsAre("A12/SWR12/0"));

    g_RT_PARKTRAFFIC_ONLY.set(true);
    g_MAX_FIT.set(0);
    ASSERT_TRUE(gf_getParkedTraffic());
    EXPECT_THAT(parked(), ElementsAre("A12/SWR12/0", "E24/SWR38/8"));
}

TEST_F(Parked, AnAirportWithoutParkedAircraftGivesAnEmptyList) {
    activateParkAirport("LSZB", 46.9141, 7.4971, 1674);
    ASSERT_TRUE(gf_getParkedTraffic());
    EXPECT_TRUE(g_trafficClient.parkedRecords.empty());
}

TEST_F(Parked, AFailedQueryIsAFailureNotAnEmptyAirport) {
    ASSERT_TRUE(gf_getParkedTraffic());
    ASSERT_FALSE(g_trafficClient.parkedRecords.empty());

    fault({ServiceFaultKind::Drop});
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(g_trafficClient.parkedRecords.empty());
    EXPECT_TRUE(logContains(" curl parkedtraffic code_pt: "));
    EXPECT_TRUE(logHas("===> RT parkedtraffic error status: 0"));

    fault({ServiceFaultKind::BrokenJson});
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(logContains("===> parkedtraffic: [json.exception.parse_error"));

    fault({ServiceFaultKind::Empty});
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(g_trafficClient.parkedRecords.empty());
}

TEST_F(Parked, StatusesOfTheQuery) {
    // A refusal is no parked traffic for now, never the end of the run.
    fault({ServiceFaultKind::Status, 400});
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(logHas("===> RT parkedtraffic: RT API parameter fault"));
    fault({ServiceFaultKind::Status, 403});
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(logHas("===> RT parkedtraffic: No data for this license type"));

    fault({ServiceFaultKind::Status, 401});
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(logHas("===> RT Parked traffic: re-authentication to RT API is needed ZNTV_P3D"));

    fault({ServiceFaultKind::Status, 406});
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(logHas("===> RT parkedtraffic error status: 406"));

    fault({ServiceFaultKind::NoStatus});
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(logHas("===> RT parkedtraffic error status: 100"));

    g_trafficClient.setLoginGuid("");
    EXPECT_FALSE(gf_getParkedTraffic());
    EXPECT_TRUE(logHas("===> RT parkedtraffic error status: 0"));
}
