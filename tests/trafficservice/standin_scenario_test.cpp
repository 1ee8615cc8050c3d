// The scenario that the live-traffic stand-in plays: reading, writing, interpolation, and the Zurich scenario
// that the build makes from the recorded ADS-B reports.
#include "service/scenario.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::HasSubstr;
using namespace standin;

namespace {

fs::path syntheticFile() { return fs::path(ZNTV_SOURCE_DIR) / "testbed/fixtures/synthetic_scenario.json"; }
fs::path zurichFile() { return fs::path(ZNTV_BINARY_DIR) / "scenarios/zurich.json"; }

json onePoint(double t, double lat, double lon) {
    return {{"t", t}, {"lat", lat}, {"lon", lon}, {"alt", 1000}, {"gs", 100}, {"trk", 90}, {"vs", 0}, {"gnd", false}};
}

json oneAircraft(json track) { return {{"hex", "abc123"}, {"track", std::move(track)}}; }

ScenarioAircraft aircraftOf(json track) {
    return gf_scenarioFromJson({{"aircraft", json::array({oneAircraft(std::move(track))})}}).aircraft.at(0);
}

const ScenarioAircraft& byHex(const Scenario& s, const std::string& hex) {
    for (const auto& a : s.aircraft)
        if (a.hex == hex) return a;
    throw std::runtime_error("no aircraft " + hex);
}

}  // namespace

TEST(StandinScenario, TheSyntheticScenarioLoadsWithItsDefaultsAndOverrides) {
    const Scenario s = gf_loadScenario(syntheticFile());
    ASSERT_EQ(s.aircraft.size(), 4u);
    EXPECT_EQ(s.parked.size(), 6u);
    ASSERT_EQ(s.metar.size(), 3u);
    EXPECT_EQ(s.metar[0].icao, "LSZH");
    EXPECT_EQ(s.metar[0].qnh, json(1018));

    const auto& arrival = byHex(s, "a0b1c2");
    EXPECT_EQ(arrival.callsign, "TST101");
    EXPECT_EQ(arrival.registration, "HB-TST");
    EXPECT_EQ(arrival.origin, "LHR");
    EXPECT_EQ(arrival.squawk, "1000");       // not in the file: the default
    EXPECT_EQ(arrival.source, "adsb_icao");  // likewise
    EXPECT_EQ(arrival.fieldCount, 48);
    EXPECT_EQ(byHex(s, "a0b1c5").fieldCount, 49);
    // A point without altitude keeps that: null is "not reported", not zero.
    EXPECT_FALSE(byHex(s, "a0b1c3").track.front().alt.has_value());
    EXPECT_EQ(s.parked[3].slot, 20);
    EXPECT_EQ(s.parked[0].age, 0);
}

TEST(StandinScenario, MalformedScenariosAreRefusedNamingTheFault) {
    struct Case {
        json doc;
        std::string says;
    };
    const std::vector<Case> cases = {
        {json::array(), "JSON object"},
        {{{"aircraft", json::array({{{"track", json::array({onePoint(0, 47, 8)})}}})}}, "no \"hex\""},
        {{{"aircraft", json::array({oneAircraft(json::array())})}}, "list of points"},
        {{{"aircraft", json::array({oneAircraft({{{"t", 0}, {"lon", 8}}})})}}, "\"lat\" must be a number"},
        {{{"aircraft", json::array({oneAircraft(json::array({onePoint(0, 91, 8)}))})}}, "out of range"},
        {{{"aircraft", json::array({oneAircraft(json::array({onePoint(0, 47, 8)}))})},
          {"duration", 0}},
         "\"duration\""},
        {{{"parked", json::array({{{"hex", "4b1801"}, {"lat", 47.0}, {"lon", 8.0}, {"slot", 48}}})}}, "0..47"},
        {{{"metar", json::array({{{"lat", 47.0}, {"lon", 8.0}}})}}, "no \"icao\""},
    };
    for (const auto& c : cases) {
        try {
            gf_scenarioFromJson(c.doc);
            ADD_FAILURE() << "accepted " << c.doc.dump();
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.says)) << c.doc.dump();
        }
    }

    json badField = oneAircraft(json::array({onePoint(0, 47, 8)}));
    badField["fields"] = {{"x7", "F"}};
    EXPECT_THROW(gf_scenarioFromJson({{"aircraft", json::array({badField})}}), std::runtime_error);
    EXPECT_THROW(gf_loadScenario(fs::path(ZNTV_BINARY_DIR) / "no-such-scenario.json"), std::runtime_error);
}

TEST(StandinScenario, PositionsSpeedsAndTracksAreInterpolatedBetweenPoints) {
    json a = onePoint(10, 47.0, 8.0);
    json b = onePoint(20, 47.2, 8.4);
    a["alt"] = 1000;
    b["alt"] = 3000;
    a["gs"] = 100;
    b["gs"] = 200;
    a["trk"] = 350;
    b["trk"] = 10;  // the short way round is through north, not back through south
    a["vs"] = 500;
    b["vs"] = 1500;
    const ScenarioAircraft ac = aircraftOf({b, a});  // listed out of order on purpose

    auto st = gf_aircraftAt(ac, 12.5);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->aircraft, &ac);
    EXPECT_DOUBLE_EQ(st->point.t, 12.5);
    EXPECT_NEAR(st->point.lat, 47.05, 1e-9);
    EXPECT_NEAR(st->point.lon, 8.1, 1e-9);
    EXPECT_NEAR(*st->point.alt, 1500, 1e-9);
    EXPECT_NEAR(st->point.gs, 125, 1e-9);
    EXPECT_NEAR(st->point.vs, 750, 1e-9);
    EXPECT_NEAR(st->point.track, 355, 1e-9);
    EXPECT_NEAR(st->trackRate, 2.0, 1e-9);  // 20 degrees in 10 s

    st = gf_aircraftAt(ac, 17.5);
    EXPECT_NEAR(st->point.track, 5, 1e-9);
    st = gf_aircraftAt(ac, 15);
    EXPECT_NEAR(st->point.track, 0, 1e-9);
}

TEST(StandinScenario, GroundStateMissingAltitudesAndHeadingsComeFromTheRightPoint) {
    json a = onePoint(0, 47.0, 8.0);
    json b = onePoint(10, 47.0, 8.001);
    json c = onePoint(20, 47.0, 8.002);
    a["gnd"] = true;
    a["alt"] = nullptr;  // the ground report carried no altitude
    a["hdg"] = 0;
    b["hdg"] = 30;
    b["trk"] = 180;      // pushed back: moving south with the nose north-east
    const ScenarioAircraft ac = aircraftOf({a, b, c});

    auto early = gf_aircraftAt(ac, 4);
    EXPECT_TRUE(early->point.onGround);
    EXPECT_FALSE(early->point.alt.has_value());
    ASSERT_TRUE(early->point.heading.has_value());
    EXPECT_NEAR(*early->point.heading, 12, 1e-9);

    auto late = gf_aircraftAt(ac, 6);
    EXPECT_FALSE(late->point.onGround);
    EXPECT_NEAR(*late->point.alt, 1000, 1e-9);

    // The next leg has a heading at one end only: it follows the track.
    EXPECT_FALSE(gf_aircraftAt(ac, 15)->point.heading.has_value());
}

TEST(StandinScenario, AnAircraftIsThereOnlyBetweenItsFirstAndLastPointUnlessTheScenarioLoops) {
    Scenario s = gf_scenarioFromJson(
        {{"aircraft", json::array({oneAircraft({onePoint(100, 47.0, 8.0), onePoint(200, 47.1, 8.0)})})}});
    EXPECT_TRUE(gf_scenarioSnapshot(s, 99.9).empty());
    EXPECT_EQ(gf_scenarioSnapshot(s, 100).size(), 1u);
    EXPECT_EQ(gf_scenarioSnapshot(s, 200).size(), 1u);
    EXPECT_NEAR(gf_scenarioSnapshot(s, 200).at(0).point.lat, 47.1, 1e-12);
    EXPECT_TRUE(gf_scenarioSnapshot(s, 200.1).empty());
    EXPECT_DOUBLE_EQ(gf_scenarioDuration(s), 260);

    s.loop = true;
    s.duration = 300;
    const auto again = gf_scenarioSnapshot(s, 450);  // 150 s into the second round
    ASSERT_EQ(again.size(), 1u);
    EXPECT_NEAR(again[0].point.lat, 47.05, 1e-9);
    EXPECT_EQ(gf_scenarioSnapshot(s, -150).size(), 1u);  // before the start: the previous round
}

TEST(StandinScenario, WritingAndReadingBackKeepsTheScenario) {
    const Scenario original = gf_loadScenario(syntheticFile());
    const Scenario back = gf_scenarioFromJson(json::parse(gf_scenarioToJson(original).dump()));
    ASSERT_EQ(back.aircraft.size(), original.aircraft.size());
    for (std::size_t i = 0; i < back.aircraft.size(); ++i) {
        const auto& a = original.aircraft[i];
        const auto& b = back.aircraft[i];
        EXPECT_EQ(b.hex, a.hex);
        EXPECT_EQ(b.callsign, a.callsign);
        EXPECT_EQ(b.registration, a.registration);
        EXPECT_EQ(b.type, a.type);
        EXPECT_EQ(b.destination, a.destination);
        EXPECT_EQ(b.category, a.category);
        EXPECT_EQ(b.fieldCount, a.fieldCount);
        ASSERT_EQ(b.track.size(), a.track.size());
        for (std::size_t k = 0; k < a.track.size(); ++k) {
            EXPECT_DOUBLE_EQ(b.track[k].lat, a.track[k].lat);
            EXPECT_EQ(b.track[k].alt, a.track[k].alt);
            EXPECT_EQ(b.track[k].onGround, a.track[k].onGround);
            EXPECT_EQ(b.track[k].heading, a.track[k].heading);
        }
    }
    ASSERT_EQ(back.parked.size(), original.parked.size());
    for (std::size_t i = 0; i < back.parked.size(); ++i) {
        EXPECT_EQ(back.parked[i].stand, original.parked[i].stand);
        EXPECT_EQ(back.parked[i].slot, original.parked[i].slot);
        EXPECT_EQ(back.parked[i].age, original.parked[i].age);
    }
    ASSERT_EQ(back.metar.size(), original.metar.size());
    EXPECT_EQ(back.metar[1].qnh, original.metar[1].qnh);
}

// The scenario made from the recording must play as what it shows: ten aircraft at Zurich that land, taxi and
// take off, with their identities, on one QNH, without the recording's teleports.
TEST(StandinScenario, TheZurichScenarioHasTenAircraftOnTheGroundAndInTheAir) {
    const Scenario s = gf_loadScenario(zurichFile());
    ASSERT_EQ(s.aircraft.size(), 10u);

    int landings = 0;
    int takeOffs = 0;
    int withBoth = 0;
    for (const auto& ac : s.aircraft) {
        SCOPED_TRACE(ac.callsign);
        EXPECT_EQ(ac.hex.size(), 6u);
        EXPECT_FALSE(ac.callsign.empty());
        EXPECT_FALSE(ac.registration.empty());
        EXPECT_FALSE(ac.type.empty());
        ASSERT_GE(ac.track.size(), 2u);
        bool ground = false;
        bool air = false;
        for (std::size_t i = 0; i < ac.track.size(); ++i) {
            const auto& p = ac.track[i];
            ground = ground || p.onGround;
            air = air || !p.onGround;
            ASSERT_TRUE(p.alt.has_value());
            // On the ground every aircraft stands at Zurich's elevation under QNH 1018 (1416 ft - 5 x 30).
            if (p.onGround) {
                EXPECT_DOUBLE_EQ(*p.alt, 1266);
                EXPECT_LT(gf_distanceNm(p.lat, p.lon, 47.4581, 8.5481), 5.0);
            }
            if (i == 0) continue;
            const auto& q = ac.track[i - 1];
            EXPECT_GT(p.t, q.t);
            const double kt = gf_distanceNm(q.lat, q.lon, p.lat, p.lon) / (p.t - q.t) * 3600;
            EXPECT_LT(kt, q.onGround && p.onGround ? 250 : 750) << "a jump at t=" << p.t;
            if (!q.onGround && p.onGround) ++landings;
            if (q.onGround && !p.onGround) ++takeOffs;
        }
        if (ground && air) ++withBoth;
    }
    EXPECT_GE(landings, 4);
    EXPECT_GE(takeOffs, 5);
    EXPECT_GE(withBoth, 8);
    EXPECT_FALSE(s.parked.empty());
    ASSERT_FALSE(s.metar.empty());
    EXPECT_EQ(s.metar[0].icao, "LSZH");
}
