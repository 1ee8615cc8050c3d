// Parked aircraft as the service reports them, through processParkedTrafficLine, and the filter of the
// parked traffic query that keeps one aircraft per stand and callsign, youngest first.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "service_test_env.h"

using nlohmann::json;
using namespace service_test;

namespace {

constexpr std::int64_t kMidnight = 1733529600;  // Sat 7 Dec 2024 00:00:00 UTC
constexpr std::int64_t at(int h, int m, int s) { return kMidnight + h * 3600 + m * 60 + s; }

json lf_parked(json stand = "A12", json type = "A320", json reg = "HB-JLS", json time = at(10, 0, 0),
               json callsign = "SWR12") {
    return json::array({47.452, 8.561, std::move(stand), std::move(type), std::move(reg), std::move(time),
                        std::move(callsign)});
}

json lf_with(json record, std::size_t index, json value) {
    record[index] = std::move(value);
    return record;
}

class ParkedRecords : public ServiceEnv {
protected:
    void SetUp() override {
        ServiceEnv::SetUp();
        g_knownModels = {"A320", "A388", "B744", "B763", "B752", "C172", "EC35", "F16", "E190"};
        g_largeModels = {"A320", "B752", "E190"};
        g_heavyModels = {"A388", "B744", "B763"};
        g_rotorcraftModels = {"EC35"};
        g_highPerfModels = {"F16"};
    }

    std::optional<ParkedTrafficRecord> read(const json& line, const std::string& key = "4b0f01") {
        g_trafficClient.parkedRecords.clear();
        g_trafficClient.processParkedTrafficLine(key, line);
        if (g_trafficClient.parkedRecords.empty()) return std::nullopt;
        return g_trafficClient.parkedRecords.back();
    }
    bool kept(const json& line) { return read(line).has_value(); }

    static ParkedTrafficRecord aircraft(std::string stand, std::string callsign, std::uint32_t slot) {
        ParkedTrafficRecord r;
        r.stand = std::move(stand);
        r.callsign = std::move(callsign);
        r.slot = slot;
        return r;
    }
    static std::vector<std::string> standsOf(const std::vector<ParkedTrafficRecord>& records) {
        std::vector<std::string> out;
        for (const auto& r : records) out.push_back(r.stand + "/" + r.callsign + "/" + std::to_string(r.slot));
        return out;
    }
};

}  // namespace

TEST_F(ParkedRecords, AParkedAircraftIsReadFieldByField) {
    const auto r = read(lf_parked());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->hexid, 0x4b0f01u);
    EXPECT_DOUBLE_EQ(r->latitude, 47.452);
    EXPECT_DOUBLE_EQ(r->longitude, 8.561);
    EXPECT_EQ(r->stand, "A12");
    EXPECT_EQ(r->type, "A320");
    EXPECT_EQ(r->registration, "HB-JLS");
    EXPECT_EQ(r->callsign, "SWR12");
    EXPECT_EQ(r->slot, 20u);
    EXPECT_TRUE(r->airline.empty());
    EXPECT_EQ(r->identityWord, 0u);
}

TEST_F(ParkedRecords, TheKeyIsTheHexIdAboveTheStaticIds) {
    EXPECT_FALSE(read(lf_parked(), "2710"));
    EXPECT_EQ(read(lf_parked(), "2711")->hexid, 10001u);
    EXPECT_FALSE(read(lf_parked(), "none"));
}

TEST_F(ParkedRecords, TheHalfHourTurnsThirtySecondsEarly) {
    EXPECT_EQ(read(lf_with(lf_parked(), 5, at(10, 29, 29)))->slot, 20u);
    EXPECT_EQ(read(lf_with(lf_parked(), 5, at(10, 29, 30)))->slot, 21u);
    EXPECT_EQ(read(lf_with(lf_parked(), 5, at(23, 59, 59)))->slot, 47u);
    EXPECT_EQ(read(lf_with(lf_parked(), 5, at(0, 0, 0)))->slot, 0u);
    EXPECT_EQ(read(lf_with(lf_parked(), 5, static_cast<double>(at(10, 29, 29)) + 0.9))->slot, 20u);  // toward zero
}

TEST_F(ParkedRecords, ATimeThatIsNoNumberIsLoggedAndATimeNoCalendarHoldsIsDropped) {
    EXPECT_FALSE(kept(lf_with(lf_parked(), 5, "1733565600")));
    const auto lines = logLinesWith("processParkedTrafficLine");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], ::testing::StartsWith("===> processParkedTrafficLine: [json.exception.type_error"));

    EXPECT_FALSE(kept(lf_with(lf_parked(), 5, 1e300)));
    EXPECT_FALSE(kept(lf_with(lf_parked(), 5, -1)));
    EXPECT_FALSE(kept(lf_with(lf_parked(), 5, std::numeric_limits<std::int64_t>::max())));
    EXPECT_EQ(logLinesWith("processParkedTrafficLine").size(), 1u);
}

TEST_F(ParkedRecords, OldTypeNamesBecomeTheirCommonVariantUnlessTheDatabaseKnowsBetter) {
    EXPECT_EQ(read(lf_parked("B1", "B747", "D-ABVM"))->type, "B744");
    EXPECT_EQ(read(lf_parked("B1", "A380", "A6-EDA"))->type, "A388");
    EXPECT_EQ(read(lf_parked("B1", "B767", "N123"))->type, "B763");
    EXPECT_EQ(read(lf_parked("B1", "B757", "N124"))->type, "B752");
    EXPECT_FALSE(kept(lf_parked("B1", "ZZZZ", "N125")));
    EXPECT_FALSE(kept(lf_parked("B1", "0", "N125")));
    EXPECT_FALSE(kept(lf_parked("B1", "B737", "N126")));  // no type the database knows

    // The database holds the registration undashed; the received one is found at its second spelling.
    g_regcodeDb["D-ABVM"] = RegcodeData{"DLH", "B748", "", false};
    g_knownModels.insert("B748");
    auto r = read(lf_parked("B1", "B747", "DABVM", at(10, 0, 0), "null"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type, "B748");
    EXPECT_EQ(r->airline, "DLH");
    EXPECT_EQ(r->callsign, "DABVM");  // no callsign: the registration stands in

    // The operator flies it.
    g_regcodeDb["HB-JLS"] = RegcodeData{"SWR", "A320", "EDW", false};
    r = read(lf_parked());
    EXPECT_EQ(r->airline, "EDW");
    EXPECT_EQ(r->callsign, "SWR12");
}

TEST_F(ParkedRecords, ACallsignThatIsARegistrationBecomesTheRegistration) {
    g_regcodeDb["HB-JVN"] = RegcodeData{"SWR", "E190", "", false};
    const auto r = read(lf_parked("C3", "ZZZZ", "null", at(10, 0, 0), "HB-JVN"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->registration, "HB-JVN");
    EXPECT_EQ(r->type, "E190");
    EXPECT_EQ(r->airline, "SWR");
}

TEST_F(ParkedRecords, CallsignsAreCleanedUp) {
    EXPECT_EQ(read(lf_with(lf_parked(), 6, ".SWR12"))->callsign, "SWR12");
    EXPECT_EQ(read(lf_with(lf_parked(), 6, "SWR00000"))->callsign, "");
    EXPECT_EQ(read(lf_with(lf_parked(), 6, "SWR123456"))->callsign, "");
    EXPECT_EQ(read(lf_with(lf_parked(), 6, "a@b"))->callsign, "");
    EXPECT_EQ(read(lf_with(lf_parked(), 6, "null"))->callsign, "");
    EXPECT_EQ(read(lf_with(lf_parked(), 6, "SWR12345"))->callsign, "SWR12345");
    EXPECT_EQ(read(lf_with(lf_parked(), 4, "ABCDEFGHIJKLM"))->registration, "");
    EXPECT_EQ(read(lf_with(lf_parked(), 4, "null"))->registration, "");
}

TEST_F(ParkedRecords, CategoriesTheUserSwitchedOffStayAway) {
    EXPECT_TRUE(kept(lf_parked("G1", "C172", "HB-CQA")));
    EXPECT_TRUE(kept(lf_parked("H1", "EC35", "HB-ZQA")));
    EXPECT_TRUE(kept(lf_parked("M1", "F16", "J-001")));
    g_LIGHT_AIRCRAFT.set(false);
    g_HELICOPTERS.set(false);
    g_HIGH_PERF_AIRCRAFT.set(false);
    EXPECT_FALSE(kept(lf_parked("G1", "C172", "HB-CQA")));
    EXPECT_FALSE(kept(lf_parked("H1", "EC35", "HB-ZQA")));
    EXPECT_FALSE(kept(lf_parked("M1", "F16", "J-001")));
    EXPECT_TRUE(kept(lf_parked("B1", "B744", "D-ABVN")));
}

TEST_F(ParkedRecords, StandsAndPositionsMustBeUsable) {
    EXPECT_FALSE(kept(lf_with(lf_parked(), 2, 12)));  // a stand given as a number
    EXPECT_FALSE(kept(lf_with(lf_with(lf_parked(), 0, 47), 1, 8)));  // integers read 0 ...
    EXPECT_FALSE(kept(lf_with(lf_with(lf_parked(), 0, 0.0001), 1, 0.01)));  // ... into the zero box
    EXPECT_FALSE(logContains("processParkedTrafficLine"));

    // The reserved stand is the user's; so is the one the user aircraft stands at. With neither, a record
    // without a stand matches the empty reserved stand.
    EXPECT_FALSE(kept(lf_with(lf_parked(), 2, "")));
    g_reservedStand = "A12";
    EXPECT_FALSE(kept(lf_parked()));
    EXPECT_TRUE(kept(lf_parked("A14")));
}

TEST_F(ParkedRecords, AgesCountBackOverMidnight) {
    std::vector<ParkedTrafficRecord> records{aircraft("A1", "", 47), aircraft("A2", "", 5), aircraft("A3", "", 1)};
    lf_filterParkedRecords(records, 1);
    EXPECT_THAT(standsOf(records), ::testing::ElementsAre("A3//0", "A1//2", "A2//44"));

    records = {aircraft("A2", "", 5)};
    lf_filterParkedRecords(records, 5);
    EXPECT_THAT(standsOf(records), ::testing::ElementsAre("A2//0"));
}

TEST_F(ParkedRecords, OldObservationsGoUnlessOnlyTheServiceCounts) {
    const std::vector<ParkedTrafficRecord> seen{aircraft("A1", "", 20), aircraft("A2", "", 16), aircraft("A3", "", 15)};
    g_MAX_FIT.set(4);
    auto records = seen;
    lf_filterParkedRecords(records, 20);
    EXPECT_THAT(standsOf(records), ::testing::ElementsAre("A1//0", "A2//4"));

    g_RT_PARKTRAFFIC_ONLY.set(true);
    records = seen;
    lf_filterParkedRecords(records, 20);
    EXPECT_THAT(standsOf(records), ::testing::ElementsAre("A1//0", "A2//4", "A3//5"));
}

TEST_F(ParkedRecords, OneAircraftPerStandAndPerCallsignTheYoungestFirst) {
    std::vector<ParkedTrafficRecord> records{aircraft("A12", "SWR1", 10), aircraft("A12", "EZY2", 12),
                                             aircraft("B3", "SWR1", 11),  aircraft("", "DLH4", 9),
                                             aircraft("", "AFR5", 8),    aircraft("C4", "", 7),
                                             aircraft("C5", "", 7)};
    lf_filterParkedRecords(records, 12);
    // Ages: A12/SWR1 2, A12/EZY2 0, B3/SWR1 1, ""/DLH4 3, ""/AFR5 4, C4 5, C5 5.
    EXPECT_THAT(standsOf(records), ::testing::ElementsAre("A12/EZY2/0", "B3/SWR1/1", "/DLH4/3", "C4//5", "C5//5"));
}
