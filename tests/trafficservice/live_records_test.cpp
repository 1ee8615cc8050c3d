// One live record of the service, shaped as the service sends them, through processLine: what is read from
// which field, what is corrected, and every rule that drops a record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "service_test_env.h"

using nlohmann::json;
using namespace service_test;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kLszhLat = 47.4647, kLszhLon = 8.5492;

// A descending A320 4 NM north of Zurich, every field as the service fills it.
json lf_record() {
    return json::array({"4b1814", 47.5310, 8.5600, 175.0, 6000, 210.0, "3012", "A", "A320", "HB-JLT",
                        1733580000.5, "LHR", "ZRH", "SWR319", 0, -800, "LX319", "adsb_icao", 6150, 230, 230, 0.38,
                        0.9, 12.0, 178.0, 178.0, -800, "none", "A3", 1018.0, -1, -1, -1, "", 0.4, -18.5, -1, -1,
                        -12.0, -1, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
}

json lf_with(json record, std::size_t index, json value) {
    record[index] = std::move(value);
    return record;
}

class LiveRecords : public ServiceEnv {
protected:
    void SetUp() override {
        ServiceEnv::SetUp();
        placeUser(kLszhLat, kLszhLon);
    }

    // The record read, or nothing when it was dropped.
    std::optional<TrafficRecord> read(const json& line) {
        g_trafficClient.liveRecords.clear();
        g_trafficClient.processLine(line);
        if (g_trafficClient.liveRecords.empty()) return std::nullopt;
        return g_trafficClient.liveRecords.back();
    }
    bool kept(const json& line) { return read(line).has_value(); }
};

}  // namespace

TEST_F(LiveRecords, AnAirborneRecordIsReadFieldByField) {
    const auto r = read(lf_record());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->hexId, 0x4b1814u);
    EXPECT_DOUBLE_EQ(r->lat, 47.5310);
    EXPECT_DOUBLE_EQ(r->lon, 8.5600);
    EXPECT_DOUBLE_EQ(r->track, 175.0);
    EXPECT_DOUBLE_EQ(r->alt, 6000.0);  // QNH 1013: no correction
    EXPECT_TRUE(r->airborne);
    EXPECT_DOUBLE_EQ(r->speed, 210.0);
    EXPECT_DOUBLE_EQ(r->vs, -800.0);
    EXPECT_DOUBLE_EQ(r->tas, 230.0);
    EXPECT_DOUBLE_EQ(r->time, 1733580000.5);
    EXPECT_DOUBLE_EQ(g_trafficClient.latestRecordTime.load(), 1733580000.5);
    EXPECT_TRUE(r->headingGiven && r->attitudeGiven);
    EXPECT_DOUBLE_EQ(r->heading, 178.0 * kPi / 180.0);
    ASSERT_TRUE(r->bankGiven);
    EXPECT_DOUBLE_EQ(r->bank, -12.0 * kPi / 180.0);
    EXPECT_EQ(r->type, "A320");
    EXPECT_EQ(r->registration, "HB-JLT");
    EXPECT_EQ(r->callsign, "SWR319");
    EXPECT_EQ(r->origin, "LHR");
    EXPECT_EQ(r->destination, "ZRH");
    EXPECT_TRUE(r->airline.empty());
    EXPECT_EQ(r->playTick, 0);
    EXPECT_FALSE(r->stopped);
}

TEST_F(LiveRecords, MissingAndMistypedFieldsReadAsTheirDefaults) {
    // Cut after the registration: the rest reads null, the time 0, no category: dropped, time stored.
    json shortRecord = lf_record();
    shortRecord.erase(shortRecord.begin() + 10, shortRecord.end());
    g_trafficClient.latestRecordTime = 5.0;
    EXPECT_FALSE(kept(shortRecord));
    EXPECT_EQ(g_trafficClient.latestRecordTime.load(), 0.0);

    // Without field 9 nothing is kept; a time given as an integer reads 0.
    json noRegistration = lf_record();
    noRegistration.erase(noRegistration.begin() + 9, noRegistration.end());
    EXPECT_FALSE(kept(noRegistration));
    EXPECT_EQ(read(lf_with(lf_record(), 10, 1733580000))->time, 0.0);

    // Texts that are no strings are empty; "null" origin and destination too.
    auto r = read(lf_with(lf_with(lf_with(lf_record(), 11, 7), 12, "null"), 13, 42));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->origin, "");
    EXPECT_EQ(r->destination, "");
    EXPECT_EQ(r->callsign, "");

    // No track: the true heading in degrees; no vertical speed: 0.
    r = read(lf_with(lf_with(lf_record(), 3, "x"), 15, nullptr));
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->track, 178.0, 1e-9);
    EXPECT_EQ(r->vs, 0.0);
}

TEST_F(LiveRecords, RegistrationsMustBeThereAndAtMostTwelveBytes) {
    EXPECT_FALSE(kept(lf_with(lf_record(), 9, "null")));
    EXPECT_FALSE(kept(lf_with(lf_record(), 9, "")));
    EXPECT_FALSE(kept(lf_with(lf_record(), 9, "ABCDEFGHIJKLM")));
    EXPECT_TRUE(kept(lf_with(lf_record(), 9, "ABCDEFGHIJKL")));
}

TEST_F(LiveRecords, OnlyPoweredAircraftOfAKnownTypePass) {
    for (const char* type : {"ZZZZ", "0", "A3201", "GLID", "GRND", "BALL", ""}) {
        EXPECT_FALSE(kept(lf_with(lf_record(), 8, type))) << type;
    }
    for (const char* category : {"B2", "B1", "C1", "C2", "B4", ""}) {
        EXPECT_FALSE(kept(lf_with(lf_record(), 28, category))) << category;
    }
    EXPECT_FALSE(kept(lf_with(lf_record(), 28, nullptr)));
    EXPECT_TRUE(kept(lf_with(lf_record(), 8, "C25")));
    EXPECT_TRUE(kept(lf_with(lf_record(), 28, "A7")));
}

TEST_F(LiveRecords, PositionsOffTheGlobeOrAtZeroAreDroppedSilently) {
    EXPECT_FALSE(kept(lf_with(lf_with(lf_record(), 1, 47), 2, 8)));  // integers read 0: the zero box
    EXPECT_FALSE(kept(lf_with(lf_with(lf_record(), 1, 0.0005), 2, 0.04)));
    EXPECT_FALSE(kept(lf_with(lf_record(), 1, 91.0)));
    EXPECT_FALSE(kept(lf_with(lf_record(), 2, -180.5)));
    EXPECT_FALSE(logContains("processLine"));
}

TEST_F(LiveRecords, TheRangeFilterMeasuresFromTheQueryCentre) {
    gf_setDerivedTrafficRange(10);
    // 47.4647 + 10 NM north is 47.6314; just inside and just outside.
    EXPECT_TRUE(kept(lf_with(lf_with(lf_record(), 1, 47.6300), 2, kLszhLon)));
    EXPECT_FALSE(kept(lf_with(lf_with(lf_record(), 1, 47.6330), 2, kLszhLon)));
    g_trafficClient.queryLatitude = 47.7;
    EXPECT_TRUE(kept(lf_with(lf_with(lf_record(), 1, 47.6330), 2, kLszhLon)));
}

TEST_F(LiveRecords, HexIdsUpToTenThousandBelongToStaticAircraft) {
    EXPECT_FALSE(kept(lf_with(lf_record(), 0, "2710")));
    EXPECT_EQ(read(lf_with(lf_record(), 0, "2711"))->hexId, 10001u);
    EXPECT_EQ(read(lf_with(lf_record(), 0, "4B1814xyz"))->hexId, 0x4b1814u);
    EXPECT_FALSE(kept(lf_with(lf_record(), 0, "xyz")));
    EXPECT_FALSE(kept(lf_with(lf_record(), 0, "1ffffffff")));  // beyond 32 bits
    EXPECT_FALSE(kept(lf_with(lf_record(), 0, 0x4b1814)));     // a number is no text
}

TEST_F(LiveRecords, TheTrueHeadingCountsOnlyFromAdsbAndWithinACircle) {
    // 0 is north: 2 pi, and a track of 0 follows it as 360.
    auto r = read(lf_with(lf_with(lf_record(), 25, 0.0), 3, 0.0));
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(r->heading, 2 * kPi);
    EXPECT_NEAR(r->track, 360.0, 1e-9);

    r = read(lf_with(lf_with(lf_record(), 17, "mlat"), 3, 0.0));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->headingGiven);
    EXPECT_EQ(r->track, 0.0);

    r = read(lf_with(lf_record(), 25, -1));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->headingGiven);

    EXPECT_FALSE(kept(lf_with(lf_record(), 25, 360.5)));
    EXPECT_FALSE(logContains("processLine"));
}

TEST_F(LiveRecords, AltitudesFollowTheQnhAndTheGroundRules) {
    TrafficRecord r;
    const auto altitudeOf = [&](json alt4, json alt18, double gs) {
        r.speed = gs;
        g_trafficClient.correctAltitude(r, lf_with(lf_with(lf_record(), 4, std::move(alt4)), 18, std::move(alt18)));
        return r.alt;
    };
    EXPECT_EQ(altitudeOf(5000, 9999, 200), 5000);
    EXPECT_EQ(altitudeOf(nullptr, 5150, 200), 5150);  // the second choice
    EXPECT_EQ(altitudeOf("x", "y", 200), 0);
    EXPECT_EQ(altitudeOf(-50, 5000, 200), 0);

    g_trafficClient.qnh = 1023;
    EXPECT_EQ(altitudeOf(5000, nullptr, 200), 5300);
    g_trafficClient.qnh = 1013;

    // No park airport: the ground reference lies 1000 ft below sea level.
    EXPECT_EQ(altitudeOf(12000, nullptr, 250), 12000);
    EXPECT_EQ(altitudeOf(8000, nullptr, 30), 0);     // too slow to fly
    EXPECT_EQ(altitudeOf(8000, nullptr, 36), 8000);

    // At a park airport of 1416 ft: h is the height above it.
    g_trafficClient.setParkAirportElevation(1416);
    EXPECT_EQ(altitudeOf(1416 + 45, nullptr, 120), 0);
    EXPECT_EQ(altitudeOf(1416 + 46, nullptr, 120), 1462);
    EXPECT_EQ(altitudeOf(1416 + 90, nullptr, 80), 0);
    EXPECT_EQ(altitudeOf(1416 + 90, nullptr, 81), 1506);
    EXPECT_EQ(altitudeOf(1416 + 120, nullptr, 43), 0);
    EXPECT_EQ(altitudeOf(1416 + 120, nullptr, 44), 1536);
    EXPECT_EQ(altitudeOf(1400, nullptr, 150), 0);  // below the field
    g_trafficClient.clearParkAirportElevation();
    EXPECT_EQ(altitudeOf(1400, nullptr, 150), 1400);
}

TEST_F(LiveRecords, APositionOnTheGroundIsKeptOnlyNearTheActiveParkAirport) {
    const json taxiing = lf_with(lf_with(lf_with(lf_with(lf_record(), 4, 1266), 5, 12.0), 18, 1416), 20, -1);
    EXPECT_FALSE(kept(taxiing));
    activateParkAirport("LSZH", kLszhLat, kLszhLon, 1416);
    auto r = read(taxiing);  // 4 NM from the field
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->airborne);
    EXPECT_EQ(r->alt, 0);
    EXPECT_FALSE(r->bankGiven);  // no bank on the ground
    EXPECT_DOUBLE_EQ(r->tas, 180);
    activateParkAirport("LSZB", 46.9141, 7.4971, 1674);
    EXPECT_FALSE(kept(taxiing));
}

TEST_F(LiveRecords, HighTrafficIsLeftOutWhileTheRangeSitsAtItsMinimumAtAnAirportWithStands) {
    const json high = lf_with(lf_record(), 4, 1416 + 3001);
    const json low = lf_with(lf_record(), 4, 1416 + 3000);
    activateParkAirport("LSZH", kLszhLat, kLszhLon, 1416);
    g_autoRangeAtMinimum = true;
    EXPECT_TRUE(kept(high));  // no stand file loaded
    g_standFileLoaded = true;
    EXPECT_FALSE(kept(high));
    EXPECT_TRUE(kept(low));
    g_autoRangeAtMinimum = false;
    EXPECT_TRUE(kept(high));
}

TEST_F(LiveRecords, AirspeedsDefaultByAltitude) {
    const auto airspeedAt = [&](double alt) { return read(lf_with(lf_with(lf_record(), 20, -1), 4, alt))->tas; };
    EXPECT_EQ(airspeedAt(2000), 180);
    EXPECT_EQ(airspeedAt(3000), 220);
    EXPECT_EQ(airspeedAt(10000), 250);
    EXPECT_EQ(airspeedAt(20000), 350);
    EXPECT_EQ(airspeedAt(20001), 430);
    EXPECT_EQ(read(lf_with(lf_record(), 20, "fast"))->tas, 250);  // 6000 ft
}

TEST_F(LiveRecords, CallsignsThatAreNoneOrNoAircraft) {
    EXPECT_EQ(read(lf_with(lf_record(), 13, "null"))->callsign, "");
    EXPECT_EQ(read(lf_with(lf_record(), 13, "a@b"))->callsign, "");
    EXPECT_FALSE(kept(lf_with(lf_record(), 13, "ERARMTR0")));
    EXPECT_FALSE(kept(lf_with(lf_record(), 13, "AIRPORT1")));
}

TEST_F(LiveRecords, ABlockedCallsignIsAnnouncedOnceAndDroppedEveryTime) {
    g_BLOCK_CALLSIGN.set("SWR319");
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(kept(lf_record()));
    EXPECT_EQ(logLinesWith("Reader: Live aircraft SWR319 blocked").size(), 1u);
    const auto messages = gf_takeSimMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].objectId, 0u);
    EXPECT_EQ(messages[0].id, 0x4b1814u);
    EXPECT_EQ(messages[0].type, static_cast<std::uint32_t>(kSimMsgBlocked));
    EXPECT_TRUE(kept(lf_with(lf_record(), 13, "SWR320")));

    // The user blocks another one: the old one is given free once the new one is seen, then announced.
    g_BLOCK_CALLSIGN.set("EZY11");
    EXPECT_TRUE(kept(lf_record()));
    EXPECT_FALSE(kept(lf_with(lf_record(), 13, "EZY11")));
    EXPECT_TRUE(logContains("Reader: Live aircraft SWR319 no longer blocked"));
    EXPECT_FALSE(kept(lf_with(lf_record(), 13, "EZY11")));
    EXPECT_TRUE(logContains("Reader: Live aircraft EZY11 blocked"));
    EXPECT_EQ(gf_takeSimMessages().size(), 1u);
    g_BLOCK_CALLSIGN.set("");
}

TEST_F(LiveRecords, WhatIsSeenWhileCollectingGoesToTheParkingCode) {
    EXPECT_TRUE(kept(lf_record()));
    g_collectSeenTraffic = true;
    EXPECT_TRUE(kept(lf_record()));
    EXPECT_TRUE(kept(lf_with(lf_with(lf_record(), 13, "null"), 0, "4b1815")));
    EXPECT_FALSE(kept(lf_with(lf_with(lf_record(), 4, 0), 0, "4b1816")));  // on the ground, away from any field:
                                                                          // seen all the same
    gf_takeOverSeenTraffic();
    EXPECT_FALSE(g_collectSeenTraffic.load());
    EXPECT_THAT(g_seenCallsigns, ::testing::ElementsAre("SWR319"));
    EXPECT_THAT(g_seenHexIds, ::testing::ElementsAre(0x4b1814u, 0x4b1815u, 0x4b1816u));

    // Taken over means gone from the client: the next take-over starts from nothing.
    EXPECT_TRUE(kept(lf_record()));
    gf_takeOverSeenTraffic();
    EXPECT_TRUE(g_seenCallsigns.empty());
    EXPECT_TRUE(g_seenHexIds.empty());
}

TEST_F(LiveRecords, AReplyMemberThatIsNoListIsLoggedAndSkipped) {
    g_trafficClient.processLine(json{{"hex", "4b1814"}});
    g_trafficClient.processLine(json("4b1814"));
    EXPECT_TRUE(g_trafficClient.liveRecords.empty());
    EXPECT_EQ(logLinesWith("processLine: ").size(), 2u);
}

TEST_F(LiveRecords, TimesNoCalendarHoldsReadAsNone) {
    EXPECT_EQ(read(lf_with(lf_record(), 10, 1e300))->time, 0.0);
    EXPECT_EQ(read(lf_with(lf_record(), 10, -5.5))->time, 0.0);
    EXPECT_EQ(g_trafficClient.latestRecordTime.load(), 0.0);
}
