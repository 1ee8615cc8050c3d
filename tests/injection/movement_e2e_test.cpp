// A landing and a take-off from end to end: the program (build/bin/ZNTV_P3D) as a process, the live-traffic
// service stand-in as a process playing a scenario written here in real time, and the simulator stand-in in
// this process writing every position the program sends to its trace. The checks read the trace.
//
// The program plays the reports about half a minute behind the service and creates an aircraft only while
// everything it knows of it is either airborne or on the ground; ground reports it takes only once the user's
// airport (Amsterdam) is its park airport: once the user's position is known, the check fetches the stand
// file and looks again every second until it has it. The scenario therefore starts 13 s before the landing, so that the program's first request sees
// the arrival still on its approach, and the departure rolls slowly for most of a minute after that before it
// accelerates: the program knows it on the ground only when it creates it.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.h"

namespace injection_test {
namespace {

using testing_support::readWholeFile;
using testing_support::writeWholeFile;


// The user stands on the field (elevation 0 ft) south of both runways, which run east.
constexpr double kLandingRunwayLat = 52.3186, kDepartureRunwayLat = 52.3286;
constexpr double kTouchdownLon = 4.7400, kTakeOffStartLon = 4.7400;
// Scenario seconds of the touchdown and the lift-off; the service starts this many seconds earlier.
constexpr double kTouchdownT = 60, kLiftOffT = 110, kLeadS = 13;

// The stand-in's ground contact: static CG height 6.5 ft above the field plus its margin.
constexpr double kOnGroundMaxFt = 7.0;
constexpr double kMetresPerNm = 1852.0;

// Client events (the program's own ids).
constexpr std::uint32_t kFlapsSet = 218, kGearSet = 220, kThrottleSet = 223;

double lf_lonPerNm(double lat) { return 1.0 / 60.0 / std::cos(lat * std::numbers::pi / 180.0); }

double lf_distanceM(double lat1, double lon1, double lat2, double lon2) {
    const double north = (lat2 - lat1) * 60.0 * kMetresPerNm;
    const double east = (lon2 - lon1) / lf_lonPerNm((lat1 + lat2) / 2) * kMetresPerNm;
    return std::hypot(north, east);
}

nlohmann::json lf_point(double t, double lat, double lon, double alt, double gs, double trk, double vs, bool gnd) {
    return {{"t", t}, {"lat", lat}, {"lon", lon}, {"alt", alt}, {"gs", gs},
            {"trk", trk}, {"vs", vs}, {"gnd", gnd}};
}

nlohmann::json lf_klm(const std::string& hex, int number, nlohmann::json track) {
    return {{"hex", hex},
            {"callsign", "KLM" + std::to_string(number)},
            {"registration", "PH-Z" + std::to_string(number)},
            {"type", "B738"},
            {"airline", "KLM"},
            {"origin", "AMS"},
            {"destination", "LHR"},
            {"flight", "KL" + std::to_string(number)},
            {"category", "A3"},
            {"track", std::move(track)}};
}

// Where the arrival stops after its taxi off the runway.
constexpr double kStopLat = kLandingRunwayLat + 0.0008;
double lf_stopLon() {
    // The runway exit starts where the roll ends: 0.2847 + 0.1056 nm past the touchdown point.
    return kTouchdownLon + 0.3903 * lf_lonPerNm(kLandingRunwayLat) + 0.0006;
}

// KLM201: a 3-degree approach at 140 kt from 740 ft, touchdown at 130 kt, braking to 20 kt (at most 0.36 g,
// within what an aircraft may brake), a turn off the runway to the north at taxi speed, and a stop.
nlohmann::json lf_arrival() {
    const double lonNm = lf_lonPerNm(kLandingRunwayLat);
    const double fpm = 140.0 * 6076.12 / 60.0 * std::tan(3.0 * std::numbers::pi / 180.0);
    nlohmann::json track = nlohmann::json::array();
    for (const double t : {0.0, 20.0, 40.0, 52.0, 58.0}) {
        const double before = kTouchdownT - t;
        track.push_back(lf_point(t, kLandingRunwayLat, kTouchdownLon - before * 140.0 / 3600.0 * lonNm,
                                 before * fpm / 60.0, 140, 90, -fpm, false));
    }
    const double T = kTouchdownT;
    track.push_back(lf_point(T, kLandingRunwayLat, kTouchdownLon, 0, 130, 90, 0, true));
    track.push_back(lf_point(T + 10, kLandingRunwayLat, kTouchdownLon + 0.2847 * lonNm, 0, 75, 90, 0, true));
    const double rollEnd = kTouchdownLon + 0.3903 * lonNm;
    track.push_back(lf_point(T + 18, kLandingRunwayLat, rollEnd, 0, 20, 90, 0, true));
    track.push_back(lf_point(T + 23, kLandingRunwayLat + 0.0003, rollEnd + 0.0006, 0, 15, 30, 0, true));
    track.push_back(lf_point(T + 30, kStopLat, lf_stopLon(), 0, 10, 0, 0, true));
    track.push_back(lf_point(T + 32, kStopLat, lf_stopLon(), 0, 0, 0, 0, true));
    track.push_back(lf_point(T + 100, kStopLat, lf_stopLon(), 0, 0, 0, 0, true));
    return lf_klm("48c201", 201, std::move(track));
}

// KLM301: lined up and rolling slowly until 30 s before the lift-off, then accelerating to 155 kt, lifting off
// and climbing at 2000 ft/min.
nlohmann::json lf_departure() {
    const double lonNm = lf_lonPerNm(kDepartureRunwayLat);
    const double L = kLiftOffT;
    nlohmann::json track = nlohmann::json::array();
    const double rollStart = kTakeOffStartLon + (L - 30) * 10.0 / 3600.0 * lonNm;
    track.push_back(lf_point(0, kDepartureRunwayLat, kTakeOffStartLon, 0, 10, 90, 0, true));
    track.push_back(lf_point(L - 30, kDepartureRunwayLat, rollStart, 0, 10, 90, 0, true));
    track.push_back(lf_point(L - 15, kDepartureRunwayLat, rollStart + 0.1875 * lonNm, 0, 80, 90, 0, true));
    const double liftOff = rollStart + (0.1875 + 0.4896) * lonNm;
    track.push_back(lf_point(L, kDepartureRunwayLat, liftOff, 0, 155, 90, 0, true));
    track.push_back(lf_point(L + 4, kDepartureRunwayLat, liftOff + 0.175 * lonNm, 100, 160, 90, 1800, false));
    track.push_back(lf_point(L + 20, kDepartureRunwayLat, liftOff + 0.9 * lonNm, 650, 170, 90, 2000, false));
    track.push_back(lf_point(L + 80, kDepartureRunwayLat, liftOff + 4.0 * lonNm, 2650, 200, 90, 2000, false));
    return lf_klm("48c301", 301, std::move(track));
}

// KLM401 at Amsterdam's stand S1 (nose north): parked, pushed back 50 m to the south and turned to face east,
// a taxi east and south to the threshold of a runway running east 220 m south of the stand, the take-off roll
// and the climb. Times in scenario seconds from the start of the service.
constexpr double kStandLat = 52.3020, kStandLon = 4.7600, kPushedLat = 52.30155, kRunwayLat = 52.3000;
constexpr double kPushStartT = 20, kRollT = 110;

nlohmann::json lf_withHeading(nlohmann::json point, double heading) {
    point["hdg"] = heading;
    return point;
}

nlohmann::json lf_pushBackDeparture() {
    const double lonNm = lf_lonPerNm(kRunwayLat);
    const double P = kPushStartT, R = kRollT;
    const double turnLon = kStandLon + 0.12 * lonNm;  // where the taxi turns south to the runway
    nlohmann::json track = nlohmann::json::array();
    track.push_back(lf_withHeading(lf_point(0, kStandLat, kStandLon, 0, 0, 0, 0, true), 0));
    track.push_back(lf_withHeading(lf_point(P, kStandLat, kStandLon, 0, 0, 0, 0, true), 0));
    track.push_back(lf_withHeading(lf_point(P + 10, (kStandLat + kPushedLat) / 2, kStandLon, 0, 4, 180, 0, true), 0));
    track.push_back(lf_withHeading(lf_point(P + 22, kPushedLat, kStandLon, 0, 3, 180, 0, true), 60));
    track.push_back(lf_withHeading(lf_point(P + 25, kPushedLat, kStandLon, 0, 0, 90, 0, true), 90));
    track.push_back(lf_point(P + 45, kPushedLat, kStandLon, 0, 0, 90, 0, true));
    track.push_back(lf_point(P + 50, kPushedLat, kStandLon + 0.01 * lonNm, 0, 10, 90, 0, true));
    track.push_back(lf_point(P + 75, kPushedLat, turnLon, 0, 15, 90, 0, true));
    track.push_back(lf_point(P + 85, kPushedLat - 0.0005, turnLon + 0.01 * lonNm, 0, 12, 160, 0, true));
    track.push_back(lf_point(R - 5, kRunwayLat, turnLon + 0.02 * lonNm, 0, 8, 90, 0, true));
    track.push_back(lf_point(R, kRunwayLat, turnLon + 0.03 * lonNm, 0, 10, 90, 0, true));
    const double liftOff = turnLon + (0.03 + 0.1875 + 0.4896) * lonNm;
    track.push_back(lf_point(R + 15, kRunwayLat, turnLon + (0.03 + 0.1875) * lonNm, 0, 80, 90, 0, true));
    track.push_back(lf_point(R + 30, kRunwayLat, liftOff, 0, 155, 90, 0, true));
    track.push_back(lf_point(R + 34, kRunwayLat, liftOff + 0.175 * lonNm, 100, 160, 90, 1800, false));
    track.push_back(lf_point(R + 50, kRunwayLat, liftOff + 0.9 * lonNm, 650, 170, 90, 2000, false));
    track.push_back(lf_point(R + 110, kRunwayLat, liftOff + 4.0 * lonNm, 2650, 200, 90, 2000, false));
    nlohmann::json klm = lf_klm("48c401", 401, std::move(track));
    return klm;
}

// One traced position of an aircraft.
struct Sample {
    double t = 0, lat = 0, lon = 0, alt = 0, pitch = 0;
    bool onGround = false;
    std::string event;
    double heading = 0;  // degrees
};

class LiveMovement : public ProgramRun {
protected:
    // The service plays the scenario in real time from `startAt`.
    // The user stands at Amsterdam, whose stand file the program finds locally: Amsterdam becomes the park
    // airport, around which the traffic reader takes ground reports. Its stands lie well south of the runways.
    void start(const std::vector<nlohmann::json>& aircraft, double startAt) {
        fs::create_directories(m_root / "program/airports/my_thirdparty");
        writeWholeFile(m_root / "program/airports/my_thirdparty/EHAM.xml",
                       "<?xml version=\"1.0\"?>\n<meta><info name=\"author\" value=\"ZNTV\"/><info name=\"version\" "
                       "value=\"10.10.4\"/><info name=\"date\" value=\"Dec 07, 2026\"/></meta>\n<parameters>"
                       "<parameter name=\"airport_name\" value=\"Schiphol\"/><parameter name=\"publisher\" "
                       "value=\"e2e\"/><parameter name=\"altitude\" value=\"0\"/></parameters>\n<parkpositions>"
                       "<parkpos id=\"S1\" latitude=\"52.3020\" longitude=\"4.7600\" heading=\"0.0\" radius=\"30.0\"/>"
                       "<parkpos id=\"S2\" latitude=\"52.3020\" longitude=\"4.7610\" heading=\"0.0\" radius=\"30.0\"/>"
                       "</parkpositions>\n");
        Run run;
        run.aircraft = aircraft;
        run.parameters = "<parameter name=\"AUTO_RANGE\" value=\"false\"/>\n"
                         "<parameter name=\"LATERAL_RANGE\" value=\"10\"/>\n";
        run.startAt = startAt;
        run.timeScale = 1;
        run.programTimeScale = 1;  // the service plays in real time: so does the program
        ProgramRun::start(run);
    }

    // The traced creation and updates of one aircraft, in order.
    std::vector<Sample> traced(const std::string& atcId) const {
        std::vector<Sample> samples;
        std::istringstream trace(readWholeFile(m_root / "trace.jsonl"));
        for (std::string line; std::getline(trace, line);) {
            const auto j = nlohmann::json::parse(line, nullptr, false);
            if (j.is_discarded() || j.value("atcId", "") != atcId) continue;
            samples.push_back({j.value("t", 0.0), j.value("lat", 0.0), j.value("lon", 0.0), j.value("alt", 0.0),
                               j.value("pitch", 0.0), j.value("onGround", false), j.value("event", ""),
                               j.value("heading", 0.0)});
        }
        return samples;
    }

    std::optional<std::uint32_t> objectIdOf(const std::string& atcId) const {
        std::istringstream trace(readWholeFile(m_root / "trace.jsonl"));
        for (std::string line; std::getline(trace, line);) {
            const auto j = nlohmann::json::parse(line, nullptr, false);
            if (!j.is_discarded() && j.value("atcId", "") == atcId) return j.at("id").get<std::uint32_t>();
        }
        return std::nullopt;
    }

    std::vector<standin::ClientEvent> eventsOf(std::uint32_t objectId) const {
        std::vector<standin::ClientEvent> events;
        for (const standin::SessionView& s : m_sim->sessions())
            for (const standin::ClientEvent& e : s.clientEvents)
                if (e.objectId == objectId) events.push_back(e);
        return events;
    }

};

// Ground speed in knots over the samples from `from` to at least one second later.
double lf_speedKt(const std::vector<Sample>& s, std::size_t from) {
    std::size_t to = from;
    while (to + 1 < s.size() && s[to].t < s[from].t + 1.0) ++to;
    const double dt = s[to].t - s[from].t;
    if (dt <= 0) return 0;
    return lf_distanceM(s[from].lat, s[from].lon, s[to].lat, s[to].lon) / dt * 3600.0 / kMetresPerNm;
}

std::string lf_describe(const Sample& s) {
    std::ostringstream o;
    o << s.event << " t=" << s.t << " lat=" << s.lat << " lon=" << s.lon << " alt=" << s.alt << " pitch=" << s.pitch
      << " onGround=" << s.onGround;
    return o.str();
}

// The first sample off the ground and above the stand-in's ground contact.
std::vector<Sample>::const_iterator lf_liftOff(const std::vector<Sample>& s) {
    return std::find_if(s.begin(), s.end(), [](const Sample& x) { return !x.onGround && x.alt > kOnGroundMaxFt; });
}

// The fastest speed (kt, over a second) of the samples before `end`.
double lf_fastestBefore(const std::vector<Sample>& s, std::vector<Sample>::const_iterator end) {
    double fastest = 0;
    for (auto it = s.begin(); it != end; ++it)
        fastest = std::max(fastest, lf_speedKt(s, static_cast<std::size_t>(it - s.begin())));
    return fastest;
}

void lf_expectNoTouchAfter(const std::vector<Sample>& s, std::vector<Sample>::const_iterator liftOff) {
    const auto touchedAgain = std::find_if(liftOff, s.end(), [](const Sample& x) { return x.onGround; });
    EXPECT_EQ(touchedAgain, s.end()) << "touched again: " << lf_describe(*touchedAgain);
}

TEST_F(LiveMovement, ADepartureRollsAlongTheRunwayRotatesAndClimbs) {
    ASSERT_NO_FATAL_FAILURE(start({lf_departure()}, kTouchdownT - kLeadS));

    // ---- The departure ----
    // Up and climbing through 400 ft: about 100 s after the start.
    ASSERT_TRUE(waitWhileRunning(140s, [&] {
        const auto s = traced("KLM301");
        return std::any_of(s.begin(), s.end(), [](const Sample& x) { return x.alt > 400; });
    })) << log();
    const std::vector<Sample> dep = traced("KLM301");
    ASSERT_FALSE(dep.empty());
    EXPECT_EQ(dep.front().event, "create");
    EXPECT_TRUE(dep.front().onGround) << lf_describe(dep.front());
    EXPECT_LE(dep.front().alt, kOnGroundMaxFt) << lf_describe(dep.front());
    const auto liftOff = lf_liftOff(dep);
    ASSERT_NE(liftOff, dep.end());
    // It rolled along the runway to flying speed first: at least a third of a mile on the ground.
    EXPECT_GT(lf_fastestBefore(dep, liftOff), 110.0);
    const auto offRunway = std::find_if(dep.begin(), liftOff, [](const Sample& x) {
        return std::abs(x.lat - kDepartureRunwayLat) > 0.0002;
    });
    EXPECT_EQ(offRunway, liftOff) << "off the runway: " << lf_describe(*offRunway);
    EXPECT_GT(lf_distanceM(dep.front().lat, dep.front().lon, liftOff->lat, liftOff->lon), kMetresPerNm / 3)
        << "rolled from " << lf_describe(dep.front()) << " to " << lf_describe(*liftOff);
    // Rotated: the nose up (pitch negative) before the wheels left the ground, and climbing ever after.
    EXPECT_GT(dep.front().pitch, -1.5) << "not level on the runway: " << lf_describe(dep.front());
    const auto rotated =
        std::find_if(dep.begin(), liftOff + 1, [](const Sample& x) { return x.pitch < -3.0; });
    EXPECT_NE(rotated, liftOff + 1) << "no rotation before the lift-off: " << lf_describe(*liftOff);
    EXPECT_NO_FATAL_FAILURE(lf_expectNoTouchAfter(dep, liftOff));
    EXPECT_GT(dep.back().alt, liftOff->alt + 300.0);
    // Throttle set to full, flaps for the take-off, gear up after the lift-off.
    const auto events = eventsOf(*objectIdOf("KLM301"));
    const auto has = [&](std::uint32_t id, std::uint32_t data) {
        return std::any_of(events.begin(), events.end(),
                           [&](const standin::ClientEvent& e) { return e.eventId == id && e.data == data; });
    };
    EXPECT_TRUE(has(kThrottleSet, 16383)) << "no full throttle";
    EXPECT_TRUE(has(kFlapsSet, 3072)) << "no take-off flaps";
    EXPECT_TRUE(lf_waitFor(10s, [&] {
        const auto e = eventsOf(*objectIdOf("KLM301"));
        return std::any_of(e.begin(), e.end(),
                           [&](const standin::ClientEvent& x) { return x.eventId == kGearSet && x.data == 0; });
    })) << "no gear up";

}

TEST_F(LiveMovement, AnArrivalFlaresTouchesDownSlowsOnTheRunwayAndTaxisToAStop) {
    const auto started = Clock::now();
    ASSERT_NO_FATAL_FAILURE(start({lf_arrival()}, kTouchdownT - kLeadS));
    const double stopLon = lf_stopLon();
    const auto stoppedAtTheEnd = [&](const std::vector<Sample>& s) {
        if (s.size() < 2) return false;
        const Sample& last = s.back();
        if (lf_distanceM(last.lat, last.lon, kStopLat, stopLon) > 30.0) return false;
        // No move over the last two seconds.
        for (auto it = s.rbegin(); it != s.rend() && it->t >= last.t - 2.0; ++it)
            if (lf_distanceM(it->lat, it->lon, last.lat, last.lon) > 1.0) return false;
        return s.front().t <= last.t - 2.0;
    };
    // Stopped about 85 s after the start: its roll-out brakes at 0.4 g at most and lags its reports, which slow
    // faster after a touchdown 136 m long.
    const auto stopBound = std::chrono::duration_cast<std::chrono::milliseconds>(started + 110s - Clock::now());
    EXPECT_TRUE(waitWhileRunning(stopBound, [&] { return stoppedAtTheEnd(traced("KLM201")); }))
        << (traced("KLM201").empty() ? std::string("not created") : lf_describe(traced("KLM201").back()));
    const std::vector<Sample> arr = traced("KLM201");
    ASSERT_FALSE(arr.empty());
    EXPECT_EQ(arr.front().event, "create");
    EXPECT_FALSE(arr.front().onGround) << lf_describe(arr.front());
    EXPECT_GT(arr.front().alt, 100.0) << lf_describe(arr.front());
    const auto touchdown = std::find_if(arr.begin(), arr.end(), [](const Sample& x) { return x.onGround; });
    ASSERT_NE(touchdown, arr.end()) << "never on the ground: " << lf_describe(arr.back());
    // On the runway, and not far from where the reports put the touchdown.
    EXPECT_NEAR(touchdown->lat, kLandingRunwayLat, 0.0002) << lf_describe(*touchdown);
    EXPECT_LT(lf_distanceM(touchdown->lat, touchdown->lon, kLandingRunwayLat, kTouchdownLon), 0.5 * kMetresPerNm)
        << lf_describe(*touchdown);
    const auto bounced = std::find_if(touchdown, arr.end(), [](const Sample& x) { return !x.onGround; });
    EXPECT_EQ(bounced, arr.end()) << "airborne again: " << lf_describe(*bounced);
    // The flare: below 40 ft the nose comes up (pitch more negative) from the approach attitude.
    std::optional<double> approachPitch;
    double flarePitch = 90;
    for (auto it = arr.begin(); it != touchdown; ++it) {
        if (it->alt >= 150 && it->alt <= 300) approachPitch = it->pitch;
        if (it->alt < 40) flarePitch = std::min(flarePitch, it->pitch);
    }
    ASSERT_TRUE(approachPitch) << "no approach seen between 150 and 300 ft";
    EXPECT_LT(flarePitch, *approachPitch - 1.0) << "approach pitch " << *approachPitch << ", flare " << flarePitch;
    // Slows on the runway from landing speed to taxi speed, then turns off it.
    const auto at = static_cast<std::size_t>(touchdown - arr.begin());
    EXPECT_GT(lf_speedKt(arr, at), 90.0) << lf_describe(*touchdown);
    std::optional<std::size_t> taxiing;
    for (std::size_t i = at; i < arr.size() && arr[i].t + 1.0 <= arr.back().t; ++i)
        if (lf_speedKt(arr, i) < 30.0) {
            taxiing = i;
            break;
        }
    ASSERT_TRUE(taxiing) << "never slowed to taxi speed";
    EXPECT_NEAR(arr[*taxiing].lat, kLandingRunwayLat, 0.0003) << "slowed off the runway: " << lf_describe(arr[*taxiing]);
    EXPECT_GT(arr.back().lat, kLandingRunwayLat + 0.0006) << "still on the runway: " << lf_describe(arr.back());
}

TEST_F(LiveMovement, ADepartureParkedAtItsStandIsPushedBackTaxiesAndTakesOff) {
    ASSERT_NO_FATAL_FAILURE(start({lf_pushBackDeparture()}, 0));
    ASSERT_TRUE(waitWhileRunning(260s, [&] {
        const auto s = traced("KLM401");
        return std::any_of(s.begin(), s.end(), [](const Sample& x) { return x.alt > 300; });
    })) << log();
    const std::vector<Sample> dep = traced("KLM401");
    ASSERT_FALSE(dep.empty());
    // Created standing at its stand.
    EXPECT_EQ(dep.front().event, "create");
    EXPECT_TRUE(dep.front().onGround) << lf_describe(dep.front());
    EXPECT_LT(lf_distanceM(dep.front().lat, dep.front().lon, kStandLat, kStandLon), 5.0) << lf_describe(dep.front());
    // Pushed back: it went south of its stand while its nose still pointed north.
    const auto pushed = std::find_if(dep.begin(), dep.end(), [](const Sample& x) {
        return x.lat < kStandLat - 0.0002 && (x.heading < 30.0 || x.heading > 330.0);
    });
    EXPECT_NE(pushed, dep.end()) << "never pushed back";
    // Taxied east at taxi speed, then rolled along the runway to flying speed and lifted off.
    const auto taxiing = std::find_if(dep.begin(), dep.end(), [&](const Sample& x) {
        return x.lon > kStandLon + 0.05 * lf_lonPerNm(kRunwayLat) && x.onGround && x.lat > kRunwayLat + 0.0003;
    });
    EXPECT_NE(taxiing, dep.end()) << "never taxied east";
    const auto liftOff = lf_liftOff(dep);
    ASSERT_NE(liftOff, dep.end());
    EXPECT_NEAR(liftOff->lat, kRunwayLat, 0.0002) << lf_describe(*liftOff);
    EXPECT_GT(lf_fastestBefore(dep, liftOff), 110.0);
    EXPECT_NO_FATAL_FAILURE(lf_expectNoTouchAfter(dep, liftOff));
}

}  // namespace
}  // namespace injection_test
