#include "movement_bench.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <random>
#include <set>
#include <stdexcept>

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "fixtures/gunzip.h"
#include "service/scenario.h"
#include "airports/parking.h"
#include "airports/services.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/geodesy.h"
#include "injection/ground_movement.h"
#include "injection/intake.h"
#include "injection/services.h"
#include "injection/stand_hooks.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"

namespace movement_bench {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180.0;
constexpr double kTicksPerHour = 360000.0;
constexpr double kMetresPerNm = 1852.0;
constexpr double kFeetPerNm = 6076.11549;
// The tick the first record is due at.
constexpr std::int32_t kStartTick = 100000;

// ---- Limits by category (0 Light, 1 Buzjets, 2 Large, 3 Heavy, 4 HighPerf, 5 Rotorcraft) ----
constexpr double kMaxBankDeg[6] = {40, 35, 30, 20, 90, 75};
constexpr double kMaxBankRateDeg[6] = {0.035, 0.0275, 0.02, 0.015, 0.1, 0.06};  // per tick
constexpr double kMaxAirPitchRateDeg[6] = {0.01, 0.0085, 0.0075, 0.005, 0.03, 0.03};
constexpr double kRotationSpeedKt[6] = {90, 110, 140, 150, 220, 0};
constexpr double kClimbPitchDeg[6] = {-15.0, -18.0, -16.5, -12.5, -20.0, -30.0};  // nose up is negative
constexpr double kGroundTurnDeg[6] = {0.15, 0.10, 0.07, 0.05, 0.10, 0.20};
// A sharp corner may turn at up to three times the base rate (90 degrees over 30).
constexpr double kGroundTurnScale = 3.0 + 1e-6;
// A standard-rate turn is 0.03 degrees a tick; the air limit leaves room for a steep one.
constexpr double kAirTurnDeg[6] = {0.06, 0.05, 0.05, 0.04, 0.1, 0.2};
// Rotation and de-rotation on the ground: the quickest is a Light's 9 degrees in 100 ticks.
constexpr double kGroundPitchRateDeg = 0.1;
constexpr double kMaxNoseDownDeg = 6.0;
constexpr double kFlareStageFt[5] = {0, 30, 20, 10, 3};
constexpr double kFlareMarginFt = 3.0;
constexpr double kGearUpTicks = 300;
constexpr double kGearUpMarginTicks = 5;
constexpr double kTouchdownSinkFpm = 200.0;
constexpr double kLowDescentFpm = 1500.0;
constexpr double kMaxVerticalFpm = 6000.0;
constexpr double kStandArrivalM = 2.0;
constexpr double kStandHeadingDeg = 3.0;
constexpr double kParkedSpacing = 1.1;
// Arrivals: a track whose last record is airborne below this height over the field, descending at least
// this fast or at runway height; removed, it must be on the ground at this speed or slower.
constexpr double kArrivalBelowFt = 1000.0;
constexpr double kArrivalDescentFpm = -250.0;
constexpr double kRunwayHeightFt = 100.0;
constexpr double kRolledOutKt = 30.0;
// An aeroplane in the air below the runway height lands within this many seconds (the flare takes about 10).
constexpr double kLowFlightMaxS = 20.0;
// An approach whose reports descend may level off, not climb (ft/min, a tick's rounding).
constexpr double kApproachClimbFpm = 1.0;
// Any aircraft in the air whose reports descend, from its creation on: over every 2 s it climbs no faster
// than this (ft/min).
constexpr std::int32_t kClimbWindowTicks = 200;
constexpr double kDescentClimbFpm = 300.0;
// Ground motion is judged over each second: a heading more than 45 degrees off the way the aircraft moves, or
// more than 10 kt of it backwards outside a push-back; below a metre a second it stands (jitter).
constexpr std::int32_t kGroundSampleTicks = 100;
constexpr double kMinMotionM = 1.0;
constexpr double kMaxSlipDeg = 45.0;
constexpr double kMaxBackwardsKt = 10.0;
// A parked aircraft stays within this of where it arrived.
constexpr double kMaxParkedDriftM = 1.0;
// Turning on the ground over every window of this many ticks, an aircraft turns no faster than this share of its
// records' fastest turn over the same span (where they carry no track, their positions' path), nor than this rate
// (degrees a second) where they hardly turn.
constexpr std::int32_t kTurnWindowTicks = 300;
constexpr double kTurnAsReportedShare = 1.1;
constexpr double kTurnAsReportedFloorDegS = 3.0;
// A record without a track turns as the path of the positions does: the bearing from the latest record before it
// that lies this far (m) and this long (ticks) back at least, and no longer back than this (ticks), stands for the
// track halfway between the two; over 10 m a few metres of scatter hardly turn it.
constexpr double kPathChordMinM = 10.0;
constexpr std::int32_t kPathChordMinTicks = 50;
constexpr std::int32_t kPathChordMaxTicks = 1000;
// An aircraft that arrived at its stand stays there at least this long (s).
constexpr double kMinStandStayS = 60.0;
// Standing in the open among scatter, it stays within this of where it was when its records stopped showing
// motion (scatter of any width is none), until they show some again.
constexpr double kMaxStandingDriftM = 30.0;
constexpr double kMovingReportKt = 5.0;
constexpr std::size_t kMotionPlaces = 5;
constexpr double kMotionStepM = 2.0;
constexpr double kMotionStraightShare = 0.8;
constexpr std::int32_t kMotionBeforeTicks = 5000, kMotionAfterTicks = 2500;
// From this speed on the ground the aircraft rolls for a take-off: every second of it lies on a runway,
// along it.
constexpr double kRollKt = 30.0;
constexpr double kRunwayAlignDeg = 20.0;
// Ground speed: one g in kt a second; the fastest change over 2 s, a predicted roll-out's braking, the fastest
// taxi, a take-off roll's largest loss and the margin of a lift-off over the rotation speed.
constexpr double kKtPerSecondPerG = 19.0626;
constexpr double kMaxSpeedChangeG = 0.5;
constexpr double kMaxRollOutG = 0.3;
// Braking: 0.4 g, and the hair by which a second's chord through a turn falls short of the way rolled.
constexpr double kMaxBrakingG = 0.405;
constexpr double kMaxTaxiKt = 60.0;
constexpr double kMaxRollLossKt = 5.0;
// An arrival's roll-out, from its touchdown down to taxi speed (or off the runway): no second of it loses more than
// this share of its mean loss a second.
constexpr double kEvenRollOutShare = 1.5;
constexpr double kLiftOffMarginKt = 20.0;
// Where a track asks, it lifts off no more than this many seconds before its first record in the air, but at its
// lift-off speed (this above the rotation speed).
constexpr double kLiftOffEarlyS = 3.0;
constexpr double kLiftOffAtKt = 15.0;
// A take-off roll gains this much (kt) in every window of this many ticks from 30 kt to the lift-off, at least this
// much in every second, and no more than this much less than in the second before.
constexpr double kRollGainKt = 5.0;
constexpr std::int32_t kRollGainTicks = 500;
constexpr double kRollGainEachSecondKt = 1.0;
constexpr double kRollEasingKt = 1.0;
// Created where its first record stands: this near (m) and this soon (s) after its play time. First seen at a
// roll's speed: created on the ground only where its records are no faster than this (kt).
constexpr double kCreatedNearM = 30.0;
constexpr double kCreatedSoonS = 5.0;
constexpr double kCreatedRollingKt = 35.0;
// As fast as its records show: within this share of the fastest of them within this span, and this fast at least.
constexpr double kAsReportedShare = 1.5;
constexpr std::int32_t kAsReportedTicks = 1000;
constexpr double kAsReportedFloorKt = 10.0;
// The play ticks of the records lie this long after their hand-over.
constexpr std::int32_t kPlayDelayTicks = 3000;
// The buffered request's snapshots lie 6 s apart; on a late clock a tick comes late once in 500 on average.
constexpr std::int32_t kBufferSpacingTicks = 600;
constexpr std::int32_t kLateTickOnceIn = 500;

std::size_t lf_cat(std::uint32_t category) { return category < 6 ? category : 2; }

double lf_norm(double a) {
    a = std::fmod(a, 2.0 * kPi);
    return a < 0.0 ? a + 2.0 * kPi : a;
}

double lf_metres(double lat1, double lon1, double lat2, double lon2) {
    return gf_distanceNM(lat1, lon1, lat2, lon2) * kMetresPerNm;
}

// How far (m) a place lies off every runway: 0 on one, along its axis either way; a heading across them all
// counts as a kilometre more.
double lf_offRunwayM(const std::vector<Runway>& runways, double lat, double lon, double heading) {
    double best = std::numeric_limits<double>::infinity();
    for (const Runway& r : runways) {
        const double east = std::cos(r.lat1 * kDeg) * 111132.95;
        const double rn = (r.lat2 - r.lat1) * 111132.95, re = (r.lon2 - r.lon1) * east;
        const double pn = (lat - r.lat1) * 111132.95, pe = (lon - r.lon1) * east;
        const double length = std::hypot(rn, re);
        if (length <= 0.0) continue;
        const double along = (pn * rn + pe * re) / length;
        const double across = std::abs(pn * re - pe * rn) / length;
        double off = std::max(0.0, across - r.halfWidthM) + std::max(0.0, -along) + std::max(0.0, along - length);
        const double axis = std::atan2(re, rn);
        const double skew = std::abs(std::remainder(heading - axis, kPi)) / kDeg;
        if (skew > kRunwayAlignDeg) off += 1000.0;
        best = std::min(best, off);
    }
    return best;
}

const LiveAc* lf_liveByObject(std::uint32_t objectId) {
    for (const LiveAc& a : g_liveAc)
        if (a.objectId == objectId) return &a;
    return nullptr;
}

// The five rules of ../shared/tools/trace_rules.py on a track's path, as the script judges a trace: resampled
// at 1 s, each rule one check whose value is the number of its faults.
void lf_judgeTraceRules(TrackResult& r, std::int32_t tick) {
    if (r.path.empty()) return;
    std::vector<const PathSample*> s;
    for (const PathSample& p : r.path)
        if (s.empty() || p.tick - s.back()->tick >= 100) s.push_back(&p);
    const auto t = [](const PathSample* p) { return p->tick / 100.0; };
    const auto metres = [](const PathSample* a, const PathSample* b) {
        return lf_metres(a->lat, a->lon, b->lat, b->lon);
    };
    const auto offDeg = [](double a, double b) { return std::abs(std::remainder(a - b, 2.0 * kPi)) / kDeg; };
    int tookOffAgain = 0, backwards = 0, onTheSpot = 0, raced = 0, speedChange = 0;
    std::vector<double> airTimes;
    for (const PathSample* p : s)
        if (!p->onGround) airTimes.push_back(t(p));
    std::optional<double> landedAt, groundSince;
    bool wasAir = false;
    for (const PathSample* p : s) {
        if (!p->onGround) {
            if (landedAt) {
                ++tookOffAgain;
                break;
            }
            wasAir = true;
            groundSince.reset();
        } else {
            if (!groundSince) groundSince = t(p);
            if (wasAir && !landedAt && t(p) - *groundSince >= 5.0) landedAt = t(p);
        }
    }
    const double created = t(s.front());
    std::vector<std::optional<std::pair<double, double>>> speeds;
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        const PathSample* a = s[i];
        const PathSample* b = s[i + 1];
        const double dt = t(b) - t(a);
        if (dt <= 0.0 || dt > 3.0 || !(a->onGround && b->onGround)) {
            speeds.emplace_back();
            continue;
        }
        const double d = metres(a, b);
        const double kt = d / dt * 3600.0 / kMetresPerNm;
        if (d > 1.0 && offDeg(gf_initialBearing(a->lat, a->lon, b->lat, b->lon), b->heading) > 120.0 && kt > 10.0)
            ++backwards;
        speeds.emplace_back(std::make_pair(t(b), kt));
        const bool nearAir = t(b) - created < 60.0 || std::any_of(airTimes.begin(), airTimes.end(), [&](double x) {
                                 return std::abs(x - t(b)) < 60.0;
                             });
        if (kt > 60.0 && !nearAir) ++raced;
    }
    for (std::size_t i = 0; i + 2 < speeds.size(); ++i) {
        const auto& x = speeds[i];
        const auto& y = speeds[i + 2];
        if (!x || !y || y->first - x->first > 6.0) continue;
        const double g = (y->second - x->second) / (y->first - x->first) / kKtPerSecondPerG;
        if (std::abs(g) > kMaxSpeedChangeG) ++speedChange;
    }
    for (std::size_t k = 0; k < s.size(); ++k) {
        double moved = 0.0;
        std::size_t j = k;
        while (j + 1 < s.size() && t(s[j + 1]) - t(s[k]) <= 30.0 && s[j + 1]->onGround && s[k]->onGround) {
            moved += metres(s[j], s[j + 1]);
            ++j;
            if (moved >= 2.0) break;
            if (offDeg(s[j]->heading, s[k]->heading) >= 45.0) {
                ++onTheSpot;
                break;
            }
        }
    }
    const std::pair<const char*, int> rules[] = {
        {"trace: took off again after landing", tookOffAgain},
        {"trace: moved backwards faster than 10 kt", backwards},
        {"trace: turned on the spot", onTheSpot},
        {"trace: raced on the ground above 60 kt", raced},
        {"trace: changed speed on the ground faster than 0.5 g", speedChange},
    };
    for (const auto& [name, n] : rules) r.counters[name].add(n, 0.0, n, tick);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------

void Counter::add(double value, double limit, double excess, std::int32_t tick) {
    if (excess > 0.0) ++fail;
    else ++pass;
    const double relative = excess / std::max(std::abs(limit), 1e-9);
    if (relative > worstExcess) {
        worstExcess = relative;
        worstValue = value;
        worstLimit = limit;
        worstTick = tick;
    }
}

// ---------------------------------------------------------------------------------------------------------

SimStandIn::SimStandIn(const BenchOptions& options) : m_options(options) { gf_setSimSink(this); }
SimStandIn::~SimStandIn() { gf_setSimSink(nullptr); }

bool SimStandIn::onGround(double altitudeFt) const {
    return altitudeFt <= m_options.fieldElevationFt + m_options.staticCgFt + 1.0;
}

void SimStandIn::postAnswers() {
    for (const SimMessage& m : m_pending) gf_postSimMessage(m);
    m_pending.clear();
}

void SimStandIn::position(const AircraftUpdate& update) {
    tickPositions.push_back(update);
    const auto it = objects.find(update.objectID);
    if (it == objects.end()) return;
    it->second.lat = update.latitude;
    it->second.lon = update.longitude;
    it->second.alt = update.altitude;
    it->second.onGround = onGround(update.altitude);
}

void SimStandIn::clientEvents(std::span<const ClientEventRequest> list) {
    for (const ClientEventRequest& e : list) {
        events[e.objectID].push_back({g_aiTick.load(), e.eventID, e.data});
        lines.push_back(fmt::format("{} event {} {} {}", g_aiTick.load(), e.objectID, e.eventID, e.data));
    }
}

SimResult SimStandIn::clientEventNow(const ClientEventRequest& e) {
    clientEvents({&e, 1});
    return kSimOk;
}

SimResult SimStandIn::flightPlan(std::uint32_t objectId, const std::string& path) {
    lines.push_back(fmt::format("{} plan {} {}", g_aiTick.load(), objectId, path));
    return kSimOk;
}

SimResult SimStandIn::staticData(std::uint32_t objectId) {
    // The model's "Static CG to Ground" and "Static Pitch" come with the next frame.
    SimMessage m;
    m.type = kSimMsgStaticData;
    m.objectId = objectId;
    m.a = m_options.staticCgFt;
    m.b = m_options.staticPitchRad;
    m_pending.push_back(m);
    return kSimOk;
}

SimResult SimStandIn::aircraftInRange(std::uint32_t) {
    for (const auto& [id, o] : objects) {
        SimMessage m;
        m.type = kSimMsgAircraftReport;
        m.objectId = id;
        m.id = o.onGround && g_aiTick.load() >= o.createdTick + m_options.groundContactAfterTicks ? 1u : 0u;
        m.a = m_options.fieldElevationFt;
        m.b = std::max(0.0, o.alt - m_options.fieldElevationFt);
        gf_postSimMessage(m);
    }
    return kSimOk;
}

SimResult SimStandIn::engineControls(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) {
    lines.push_back(fmt::format("{} engine {} {} {} {}", g_aiTick.load(), objectId, spoilers, throttle1, throttle2));
    return kSimOk;
}

void SimStandIn::create(const CreateAircraftRequest& request) {
    Object o;
    o.objectId = m_nextObjectId++;
    o.hexId = request.hexid;
    o.callsign = request.callsign;
    o.lat = request.position.latitude;
    o.lon = request.position.longitude;
    // A ground creation is put on the ground by the simulator.
    o.alt = request.position.onGround != 0
                ? m_options.fieldElevationFt + m_options.staticCgFt
                : std::max(request.position.altitude, m_options.fieldElevationFt + m_options.staticCgFt);
    o.onGround = onGround(o.alt);
    o.createdTick = g_aiTick.load();
    objects[o.objectId] = o;
    ++created[o.hexId];
    firstCreation.try_emplace(o.hexId, Creation{o.createdTick, o.lat, o.lon, o.onGround});
    lines.push_back(fmt::format("{} create {} {:x} -> {}", g_aiTick.load(), o.callsign, o.hexId, o.objectId));
    SimMessage m;
    m.type = kSimMsgLiveCreated;
    m.objectId = o.objectId;
    m.id = o.hexId;
    m.b = o.alt - m_options.fieldElevationFt;
    m_pending.push_back(m);
}

void SimStandIn::remove(std::uint32_t objectId) {
    lines.push_back(fmt::format("{} remove {}", g_aiTick.load(), objectId));
    const auto it = objects.find(objectId);
    if (it == objects.end()) return;
    ++removed[it->second.hexId];
    objects.erase(it);
    SimMessage m;
    m.type = kSimMsgObjectRemoved;
    m.objectId = objectId;
    m_pending.push_back(m);
}

// ---------------------------------------------------------------------------------------------------------

// What the checks remember of one simulator object between ticks.
struct MovementBench::ObjectWatch {
    std::uint32_t hexId = 0;
    std::optional<AircraftUpdate> last;
    std::int32_t lastTick = 0;
    std::deque<std::pair<std::int32_t, double>> altitudes;  // the last ticks' altitudes
    std::deque<std::pair<std::int32_t, double>> airAltitudes;  // in the air, the last 2 s without a gap
    bool terrainAirborne = false;
    std::uint32_t state = kMoveNew;
    std::uint32_t flareStage = 0;
    // The rotation ended at this tick; the gear is to come up 300 ticks later.
    std::optional<std::int32_t> rotationEnd;
    // Push-back: heading at its start.
    std::optional<double> pushbackStartHeading;
    // In the air below the runway height since this tick.
    std::optional<std::int32_t> lowSince;
    // On the ground: the sample of the last whole second, and those of the roll since it was last slow.
    struct GroundSample {
        std::int32_t tick;
        double lat, lon, heading;
        double kt = 0.0;  // over the second before it
    };
    std::optional<GroundSample> groundRef;
    std::vector<GroundSample> roll;
    // The speeds (kt) of the last seconds on the ground, and the fastest of the take-off roll so far.
    struct SpeedSample {
        std::int32_t tick;
        double kt;
        bool predictedRollOut;  // braking on points its reports no longer give
    };
    std::deque<SpeedSample> speeds;
    std::optional<double> rollFastestKt;
    // An arrival's speeds each second from its touchdown, until its roll-out was judged.
    std::vector<SpeedSample> rollOut;
    bool rollOutJudged = false;
    // Where it arrived at its stand: parked, it stays there.
    std::optional<GroundSample> parkedAt;
    // The tick it arrived at its stand by taxiing there.
    std::optional<std::int32_t> arrivedTick;
    // Where it was when its records stopped showing motion, standing in the open among scatter.
    std::optional<GroundSample> stoodAt;
    // The sample of the last whole second, on the ground or in the air (the speed as its records show it).
    std::optional<GroundSample> secondRef;
    // On the ground: the heading (rad) at each whole second of the last turn window.
    std::deque<std::pair<std::int32_t, double>> groundHeadings;
};

MovementBench::MovementBench(BenchOptions options) : m_options(options) {}
MovementBench::~MovementBench() = default;

void MovementBench::add(BenchTrack track) { m_tracks.push_back(std::move(track)); }

TrackResult& MovementBench::resultOf(std::uint32_t hexId) {
    const auto it = m_resultIndex.find(hexId);
    if (it != m_resultIndex.end()) return m_results[it->second];
    m_resultIndex[hexId] = m_results.size();
    m_results.emplace_back();
    m_results.back().hexId = hexId;
    return m_results.back();
}

const TrackResult* MovementBench::result(const std::string& name) const {
    for (const TrackResult& r : m_results)
        if (r.name == name) return &r;
    return nullptr;
}

Counter MovementBench::total(const std::string& check) const {
    Counter sum;
    for (const TrackResult& r : m_results) {
        const auto it = r.counters.find(check);
        if (it == r.counters.end()) continue;
        const Counter& c = it->second;
        sum.pass += c.pass;
        sum.fail += c.fail;
        if (c.worstExcess > sum.worstExcess) {
            sum.worstExcess = c.worstExcess;
            sum.worstValue = c.worstValue;
            sum.worstLimit = c.worstLimit;
            sum.worstTick = c.worstTick;
        }
    }
    return sum;
}

bool MovementBench::sourceDescends(std::uint32_t hexId, std::int32_t tick) const {
    const auto it = m_source.find(hexId);
    if (it == m_source.end()) return false;
    const std::vector<SourcePoint>& points = it->second;
    auto p = std::lower_bound(points.begin(), points.end(), tick - 2500,
                              [](const SourcePoint& q, std::int32_t t) { return q.tick < t; });
    bool any = false;
    for (; p != points.end() && p->tick <= tick + 2500; ++p) {
        if (!p->airborne) continue;
        if (p->vs >= 0.0) return false;
        any = true;
    }
    return any;
}

bool MovementBench::sourceMoves(std::uint32_t hexId, std::int32_t tick) const {
    const auto it = m_source.find(hexId);
    if (it == m_source.end()) return false;
    const std::vector<SourcePoint>& points = it->second;
    auto p = std::lower_bound(points.begin(), points.end(), tick - kMotionBeforeTicks,
                              [](const SourcePoint& q, std::int32_t t) { return q.tick < t; });
    std::vector<const SourcePoint*> places;
    for (; p != points.end() && p->tick <= tick + kMotionAfterTicks; ++p) {
        if (p->reportedKt > kMovingReportKt) return true;
        if (!places.empty() && lf_metres(places.back()->lat, places.back()->lon, p->lat, p->lon) < kMotionStepM)
            continue;
        places.push_back(&*p);
    }
    for (std::size_t i = 0; i + kMotionPlaces <= places.size(); ++i) {
        const SourcePoint& first = *places[i];
        double lastM = 0.0, pathM = 0.0;
        bool away = true;
        for (std::size_t j = i + 1; away && j < i + kMotionPlaces; ++j) {
            const double m = lf_metres(first.lat, first.lon, places[j]->lat, places[j]->lon);
            away = m >= lastM + kMotionStepM;
            lastM = m;
            pathM += lf_metres(places[j - 1]->lat, places[j - 1]->lon, places[j]->lat, places[j]->lon);
        }
        if (away && lastM >= kMotionStraightShare * pathM) return true;
    }
    return false;
}

// An arrival's object leaves the simulator: it must be on the ground and rolled out by then.
void MovementBench::checkArrivalRemoved(const ObjectWatch& w, std::int32_t tick) {
    if (!m_arrivals.contains(w.hexId) || !w.last) return;
    const double kt = w.last->airspeed;
    resultOf(w.hexId).counters["arrival lands before removal"].add(
        kt, kRolledOutKt, w.terrainAirborne ? 1.0e3 : kt - kRolledOutKt, tick);
}

double MovementBench::sourceSpeed(std::uint32_t hexId, std::int32_t tick) const {
    const auto it = m_source.find(hexId);
    if (it == m_source.end()) return 0.0;
    // The records of 25 s either side: the aircraft may be that far ahead of or behind its data.
    const std::vector<SourcePoint>& points = it->second;
    auto p = std::lower_bound(points.begin(), points.end(), tick - 2500,
                              [](const SourcePoint& q, std::int32_t t) { return q.tick < t; });
    double best = 0.0;
    for (; p != points.end() && p->tick <= tick + 2500; ++p) best = std::max(best, p->speed);
    return best;
}

double MovementBench::sourceTurnRate(std::uint32_t hexId) const {
    const auto it = m_source.find(hexId);
    if (it == m_source.end()) return 0.0;
    const std::vector<SourcePoint>& points = it->second;
    // The tracks in time order: reported ones, and the bearings of the chords to records without one.
    std::vector<std::pair<double, double>> tracks;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const SourcePoint& p = points[i];
        if (p.trackDeg) {
            tracks.emplace_back(p.tick, *p.trackDeg);
            continue;
        }
        for (std::size_t j = i; j-- > 0 && p.tick - points[j].tick <= kPathChordMaxTicks;) {
            const SourcePoint& before = points[j];
            if (p.tick - before.tick < kPathChordMinTicks ||
                lf_metres(before.lat, before.lon, p.lat, p.lon) < kPathChordMinM)
                continue;
            tracks.emplace_back((p.tick + before.tick) / 2.0,
                                gf_initialBearing(before.lat, before.lon, p.lat, p.lon) / kDeg);
            break;
        }
    }
    std::stable_sort(tracks.begin(), tracks.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    double fastest = 0.0;
    for (auto p = tracks.begin(); p != tracks.end(); ++p) {
        auto q = std::find_if(p, tracks.end(), [&](const auto& x) { return x.first - p->first >= kTurnWindowTicks; });
        if (q == tracks.end()) continue;
        const double turned = std::abs(std::remainder(q->second - p->second, 360.0));
        fastest = std::max(fastest, turned / ((q->first - p->first) / 100.0));
    }
    return fastest;
}

std::optional<double> MovementBench::sourceFastestKt(std::uint32_t hexId, std::int32_t tick,
                                                    std::int32_t spanTicks) const {
    const auto it = m_source.find(hexId);
    if (it == m_source.end()) return std::nullopt;
    const std::vector<SourcePoint>& points = it->second;
    auto p = std::lower_bound(points.begin(), points.end(), tick - spanTicks,
                              [](const SourcePoint& q, std::int32_t t) { return q.tick < t; });
    std::optional<double> best;
    for (; p != points.end() && p->tick <= tick + spanTicks; ++p)
        best = std::max({best.value_or(0.0), p->reportedKt, p->positionKt});
    return best;
}

void MovementBench::checkCreations(std::int32_t tick) {
    for (const BenchTrack& t : m_tracks) {
        if (t.records.empty() || !(t.createdWhereFirstReported || t.firstReportedRolling)) continue;
        const TrafficRecord& first = t.records.front();
        auto& c = resultOf(first.hexId).counters;
        const auto created = m_sim->firstCreation.find(first.hexId);
        if (created == m_sim->firstCreation.end()) {
            if (t.createdWhereFirstReported) c["created where first reported"].add(1e9, kCreatedNearM, 1e9, tick);
            continue;
        }
        const SimStandIn::Creation& at = created->second;
        if (t.createdWhereFirstReported) {
            const double m = lf_metres(first.lat, first.lon, at.lat, at.lon);
            c["created where first reported"].add(m, kCreatedNearM, at.onGround ? m - kCreatedNearM : 1e3, at.tick);
            const auto& points = m_source.at(first.hexId);
            const auto firstPlay = std::min_element(points.begin(), points.end(), [](const auto& x, const auto& y) {
                return x.tick < y.tick;
            });
            const double s = std::abs(at.tick - firstPlay->tick) / 100.0;
            c["created when first reported"].add(s, kCreatedSoonS, s - kCreatedSoonS, at.tick);
        }
        if (t.firstReportedRolling) {
            // On the ground only where its records (within 2 s of the creation) are no faster than a taxi.
            const double kt = at.onGround ? sourceFastestKt(first.hexId, at.tick, 200).value_or(0.0) : 0.0;
            c["not created standing on a roll"].add(kt, kCreatedRollingKt, kt - kCreatedRollingKt, at.tick);
        }
    }
}

void MovementBench::run() {
    std::map<std::uint32_t, ObjectWatch> watches;
    m_watches = &watches;
    SimStandIn sim(m_options);
    m_sim = &sim;

    // The program's world: the field is the active park airport, its stands come from the stand hooks.
    const StandHooks savedHooks = g_standHooks;
    const std::string savedCode = g_parkAirportCode;
    const GeoPosition savedPos = g_parkAirportPos;
    const double savedElevation = g_parkAirportElevation;
    g_parkAirportCode = "ZZBN";
    g_parkAirportPos = {m_options.fieldLat, m_options.fieldLon};
    g_parkAirportElevation = m_options.fieldElevationFt;
    g_standFileLoaded = true;
    const double field = m_options.fieldElevationFt;
    const std::int32_t elevationKnownTick = kStartTick + m_options.parkElevationAfterTicks;
    g_parkAirportElevationFt = [field, elevationKnownTick]() -> std::optional<double> {
        if (g_aiTick.load() < elevationKnownTick) return std::nullopt;
        return field;
    };
    // The traffic reader reads a reported height against the ground reference in force when the report
    // arrives: the park airport's field once the stand file gave its elevation, far below any field before.
    double t0 = std::numeric_limits<double>::infinity();
    for (const BenchTrack& t : m_tracks)
        for (const TrafficRecord& r : t.records) t0 = std::min(t0, r.time);
    for (BenchTrack& t : m_tracks) {
        std::int32_t arrival = std::numeric_limits<std::int32_t>::min();
        for (TrafficRecord& r : t.records) {
            arrival = std::max(arrival, static_cast<std::int32_t>(std::llround((r.time - t0) * 100.0)) + kStartTick);
            if (!(r.reportedAlt > 0.0)) continue;  // made with its reading
            const std::int32_t handOver = (arrival + m_options.deliveryTicks - 1) / m_options.deliveryTicks *
                                          m_options.deliveryTicks;
            const double reference = handOver >= elevationKnownTick ? field : -1000.0;
            r.alt = gf_groundReport(r.reportedAlt, reference, r.speed) ? 0.0 : r.reportedAlt;
            r.airborne = r.alt > 0.0;
        }
    }
    const GeoPosition fieldPos{m_options.fieldLat, m_options.fieldLon};
    g_activeParkAirportPosition = [fieldPos]() -> std::optional<GeoPosition> { return fieldPos; };

    // The stands: those the tracks name, and one where each track ends standing on the ground (its heading
    // the last one it moved on). Index 0 is no stand.
    std::vector<StandPlace> stands(1);
    std::vector<double> radii(1);
    for (const BenchTrack& t : m_options.realStands ? std::vector<BenchTrack>{} : m_tracks) {
        if (t.records.empty()) continue;
        const double radius = 1.2 * gf_wingspanOfModel(t.records.front().type);
        for (const StandPlace& s : t.stands) {
            stands.push_back(s);
            radii.push_back(radius);
        }
        const TrafficRecord& last = t.records.back();
        if (!m_options.standsWhereTracksEnd || last.airborne || last.speed > 1.0) continue;
        // Surface reports often carry neither speed nor track: then the way its positions last moved.
        std::optional<double> heading;
        for (auto it = t.records.rbegin(); it != t.records.rend(); ++it) {
            if (it->speed > 3.0) {
                heading = it->track * kDeg;
                break;
            }
        }
        for (auto it = t.records.rbegin(); !heading && it != t.records.rend(); ++it) {
            if (it->lat != last.lat || it->lon != last.lon)
                heading = gf_initialBearing(it->lat, it->lon, last.lat, last.lon);
        }
        stands.push_back({last.lat, last.lon, lf_norm(heading.value_or(last.track * kDeg))});
        radii.push_back(radius);
    }
    std::set<std::uint32_t> occupied;
    std::map<std::uint32_t, std::uint32_t> assigned;  // stand -> hex id driving to it or parked there
    if (m_options.realStands) {
        gf_installStandHooks();
    } else {
        g_standHooks.place = [&](std::uint32_t i) -> std::optional<StandPlace> {
            if (i == 0 || i >= stands.size()) return std::nullopt;
            return stands[i];
        };
        g_standHooks.radius = [&](std::uint32_t i) -> std::optional<double> {
            if (i == 0 || i >= radii.size()) return std::nullopt;
            return radii[i];
        };
        g_standHooks.name = [](std::uint32_t i) { return i == 0 ? std::string() : fmt::format("S{}", i); };
        g_standHooks.markLive = [&](std::uint32_t i, bool on) {
            if (on) occupied.insert(i);
            else occupied.erase(i);
            if (!on) assigned.erase(i);
        };
        g_standHooks.occupiedByLive = [&](std::uint32_t i) { return occupied.contains(i); };
        // The nearest free stand to where the aircraft stops (150 m; 400 m for the wide search), and the taxi there.
        g_standHooks.try2Park = [&](LiveAc& a, bool wide) {
            if (a.track.empty() || a.state != kMoveFollowing) return;
            const TrackPoint& last = a.track.back();
            std::uint32_t best = 0;
            double bestM = wide ? 400.0 : 150.0;
            for (std::uint32_t i = 1; i < stands.size(); ++i) {
                if (occupied.contains(i)) continue;
                if (const auto it = assigned.find(i); it != assigned.end() && it->second != a.hexId) continue;
                const double m = lf_metres(last.lat, last.lon, stands[i].lat, stands[i].lon);
                if (m < bestM) {
                    bestM = m;
                    best = i;
                }
            }
            if (best == 0) return;
            const StandPlace& s = stands[best];
            assigned[best] = a.hexId;
            a.standIndex = best;
            a.standLat = s.lat;
            a.standLon = s.lon;
            a.standHeading = s.heading;
            a.previousState = a.state;
            a.state = kMoveToStand;
            drive2Stand(a, s.lat, s.lon, s.heading);
        };
    }

    // Which record is handed over when: record time t plays at t's tick; a batch goes every deliveryTicks.
    struct Due {
        std::int32_t tick;
        const TrafficRecord* record;
    };
    std::vector<Due> due;
    const std::int32_t startTick = kStartTick;
    // The traffic's play ticks lie 30 s (3000 ticks) after the hand-over.
    for (const BenchTrack& t : m_tracks) {
        if (t.records.empty()) continue;
        TrackResult& res = resultOf(t.records.front().hexId);
        res.name = t.name;
        res.callsign = t.records.front().callsign;
        res.records = t.records.size();
        m_pushbackSide[res.hexId] = t.pushbackTurnSign;
        if (t.standsInScatter) m_standsInScatter.insert(res.hexId);
        if (t.speedAsReported) m_speedAsReported.insert(res.hexId);
        if (t.turnsAsReported) m_turnsAsReported.insert(res.hexId);
        if (t.liftsOffWithItsData) m_liftsOffWithItsData.insert(res.hexId);
        {
            const TrafficRecord& last = t.records.back();
            const double height = last.alt - m_options.fieldElevationFt;
            if (last.airborne && height < kArrivalBelowFt && (last.vs <= kArrivalDescentFpm || height < kRunwayHeightFt))
                m_arrivals.insert(res.hexId);
        }
        m_runways.insert(m_runways.end(), t.runways.begin(), t.runways.end());
        // Records arrive in the order of the track: one older than the one before it comes late, with it.
        const TrafficRecord* previous = nullptr;
        std::int32_t arrival = std::numeric_limits<std::int32_t>::min();
        for (const TrafficRecord& r : t.records) {
            const auto tick = static_cast<std::int32_t>(std::llround((r.time - t0) * 100.0)) + startTick;
            arrival = std::max(arrival, tick);
            due.push_back({arrival, &r});
            // A record without a speed (many surface reports) moves as fast as its positions say.
            double speed = r.speed;
            if (speed == 0.0 && previous && r.time > previous->time + 0.5)
                speed = std::min(600.0, gf_distanceNM(previous->lat, previous->lon, r.lat, r.lon) /
                                            (r.time - previous->time) * 3600.0);
            // A tenfold speed is a misreading that must not widen the allowance.
            if (previous && previous->speed > 5.0 && speed > 3.0 * previous->speed) speed = previous->speed;
            const double reportedKt = r.speedGiven ? r.speed : 0.0;
            const double positionKt =
                previous && r.time > previous->time + 0.5
                    ? gf_distanceNM(previous->lat, previous->lon, r.lat, r.lon) / (r.time - previous->time) * 3600.0
                    : 0.0;
            m_source[r.hexId].push_back({tick + kPlayDelayTicks, speed, r.vs, r.airborne, r.lat, r.lon, reportedKt,
                                         positionKt, r.trackGiven ? std::optional(r.track) : std::nullopt});
            previous = &r;
        }
    }
    std::stable_sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.tick < b.tick; });
    for (auto& [hex, points] : m_source)
        std::sort(points.begin(), points.end(), [](const SourcePoint& a, const SourcePoint& b) { return a.tick < b.tick; });

    gf_setAiTick(startTick - m_options.deliveryTicks);
    gf_setAiRunning(true);
    g_trafficClient.clearParkAirportElevation();
    std::size_t next = 0;
    const std::int32_t lastDue = due.empty() ? startTick : due.back().tick;
    const std::int32_t endTick = lastDue + m_options.deliveryTicks + 3000 + m_options.tailTicks;
    std::int32_t tick = g_aiTick.load();
    // The service is polled on the grid of deliveryTicks; each reply holds what was due at its poll and is handed
    // over when it comes, by the wall clock, which runs ahead of the program's tick while a tick is late.
    std::mt19937 lateness(m_options.lateSeed);
    const auto upTo = [&](std::int32_t most) {
        if (m_options.lateSeed == 0 || most <= 0) return 0;
        return std::uniform_int_distribution<std::int32_t>(0, most)(lateness);
    };
    const std::int32_t d = m_options.deliveryTicks;
    bool buffered = m_options.bufferedPollTicks > 0;
    std::int32_t poll = buffered ? startTick + m_options.bufferedPollTicks : (tick + d - 1) / d * d;
    std::int32_t reply = poll + upTo(m_options.lateReplyTicks);
    std::int32_t behind = 0;  // the wall clock less the program's tick
    const auto nextPoll = [&] {
        poll += d;
        reply = std::max(reply, poll + upTo(m_options.lateReplyTicks));
    };
    while (tick < endTick) {
        if (tick >= elevationKnownTick) g_trafficClient.setParkAirportElevation(field);
        if (buffered && tick + behind >= reply) {
            buffered = false;
            for (std::int32_t k = 4; k >= 0; --k) {
                // Each aircraft where it was at the snapshot's time.
                const std::int32_t at = poll - k * kBufferSpacingTicks;
                std::map<std::uint32_t, const TrafficRecord*> snapshot;
                for (const Due& u : due)
                    if (u.tick <= at && u.tick > at - d) snapshot[u.record->hexId] = u.record;
                g_trafficClient.liveRecords.clear();
                for (const auto& [hex, r] : snapshot) g_trafficClient.liveRecords.push_back(*r);
                gf_processTrafficBatch(g_trafficClient, (4 - k) * kBufferSpacingTicks / 100);
            }
            while (next < due.size() && due[next].tick <= poll + m_options.bufferedLiveGapTicks) ++next;
            nextPoll();
        }
        while (next < due.size() && tick + behind >= reply) {
            g_trafficClient.liveRecords.clear();
            while (next < due.size() && due[next].tick <= poll) g_trafficClient.liveRecords.push_back(*due[next++].record);
            gf_processTrafficBatch(g_trafficClient, 30);
            nextPoll();
        }
        if (behind > 0) {
            --behind;  // a tick run at once after the one before, to catch up
        } else if (m_options.lateSeed != 0 && upTo(kLateTickOnceIn) == 0) {
            behind = upTo(m_options.lateTickTicks);
        }
        sim.postAnswers();
        sim.tickPositions.clear();
        gf_updateAI();
        checkTick(tick);
        // A tick that ended in an exception does not count; the bench's clock goes on all the same, so that
        // a fault that repeats cannot hold the run.
        if (g_aiTick.load() == tick) {
            ++m_lostTicks;
            gf_setAiTick(tick + 1);
        }
        tick = g_aiTick.load();
        ++m_ticksPlayed;
        // Nothing left to play and nothing in the simulator: the run is over.
        if (next >= due.size() && g_liveAc.empty() && sim.objects.empty() && tick > lastDue + 3000) break;
    }
    for (auto& [id, w] : watches) finishWatch(w, tick);
    for (auto& [hex, n] : sim.created) {
        resultOf(hex).creations = n;
        // Created again while its data went on: the movement gave up on it somewhere.
        resultOf(hex).counters["re-creations"].add(n - 1, 0.0, n - 1.0, tick);
    }
    for (auto& [hex, n] : sim.removed) resultOf(hex).removals = n;
    checkCreations(tick);
    if (m_options.keepPaths) {
        for (TrackResult& r : m_results) lf_judgeTraceRules(r, tick);
    }

    gf_setAiRunning(false);
    lf_clearAiLists();
    gf_resetSimCommands();
    g_standHooks = savedHooks;
    g_parkAirportCode = savedCode;
    g_parkAirportPos = savedPos;
    g_parkAirportElevation = savedElevation;
    g_standFileLoaded = false;
    g_trafficClient.clearParkAirportElevation();
    g_parkAirportElevationFt = nullptr;
    g_activeParkAirportPosition = nullptr;
    g_trafficClient.liveRecords.clear();
    m_sim = nullptr;
    m_watches = nullptr;
    if (m_trace) std::fclose(m_trace);
    m_trace = nullptr;
}

void MovementBench::checkTick(std::int32_t tick) {
    for (const AircraftUpdate& u : m_sim->tickPositions) checkObject(u, tick);
    // Objects gone from the simulator: their open checks end now.
    for (auto it = m_watches->begin(); it != m_watches->end();) {
        if (!m_sim->objects.contains(it->first)) {
            checkArrivalRemoved(it->second, tick);
            finishWatch(it->second, tick);
            it = m_watches->erase(it);
        } else {
            ++it;
        }
    }
    if (tick % 100 == 0) checkParkedSpacing(tick);
}

void MovementBench::finishWatch(ObjectWatch& w, std::int32_t tick) {
    if (!w.rotationEnd) return;
    // Gone or played out before the gear could come up: a failure only when it stayed long enough.
    if (tick >= *w.rotationEnd + kGearUpTicks + kGearUpMarginTicks) {
        resultOf(w.hexId).counters["gear up after rotation"].add(-1, kGearUpTicks, 1e9, tick);
    }
    w.rotationEnd.reset();
}

void MovementBench::checkObject(const AircraftUpdate& u, std::int32_t tick) {
    ObjectWatch& w = (*m_watches)[u.objectID];
    const LiveAc* a = lf_liveByObject(u.objectID);
    if (!a) return;
    w.hexId = a->hexId;
    if (a->hexId == m_options.traceHexId && !m_options.traceFile.empty()) {
        if (!m_trace) m_trace = std::fopen(m_options.traceFile.string().c_str(), "w");
    }
    if (m_trace && a->hexId == m_options.traceHexId) {
        std::fprintf(m_trace,
                     "%d st%u gnd%d fl%u %.6f %.6f h%.2f hdg%.2f p%.3f b%.3f v%.1f sz%zu next%d stop%d cv%d tu%d br%d to%d so%d gs%.1f ex%d\n", tick,
                     a->state, a->onGround ? 1 : 0, a->flareStage, u.latitude, u.longitude,
                     u.altitude - m_options.fieldElevationFt - m_options.staticCgFt, lf_norm(u.heading) / kDeg,
                     u.pitch / kDeg, u.bank / kDeg, u.airspeed, a->track.size(),
                     a->track.empty() ? 0 : a->track.front().playTick,
                     a->track.empty() ? 0 : (a->track.front().stopped ? 1 : 0),
                     std::isnan(a->groundCurve.controlEast) ? 0 : 1, a->turning ? 1 : 0, a->braking ? 1 : 0,
                     a->takeOffRoll ? 1 : 0, a->steeringOntoLeg ? 1 : 0, a->groundSpeedKt, a->extendSteps);
        if (std::getenv("ZNTV_BENCH_TRACK") && tick % 100 == 0)
            for (const TrackPoint& q : a->track)
                std::fprintf(m_trace, "    pt %.6f %.6f t%.1f play%d kt%.1f%s%s\n", q.lat, q.lon, q.time, q.playTick, q.speed,
                             q.stopped ? " stop" : "", q.airborne ? " air" : "");
    }
    TrackResult& res = resultOf(a->hexId);
    ++res.positions;
    if (m_options.keepPaths) res.path.push_back({tick, u.latitude, u.longitude, u.altitude, u.heading, a->onGround});
    auto& c = res.counters;
    const std::size_t cat = lf_cat(a->category);
    const double field = m_options.fieldElevationFt;
    const double cg = m_options.staticCgFt;
    const double heightFt = u.altitude - field - cg;  // wheels above the field
    const bool terrainGround = m_sim->onGround(u.altitude);
    const auto check = [&](const char* name, double value, double limit, bool upper = true) {
        c[name].add(value, limit, upper ? value - limit : limit - value, tick);
    };

    // Ground penetration: never below the field with the wheels on it.
    check("ground penetration", u.altitude, field + cg - 1.0, false);
    // Bank and pitch within the category's range.
    check("bank", std::abs(u.bank) / kDeg, kMaxBankDeg[cat] + 1e-9);
    const double pitchDeg = u.pitch / kDeg;
    const double noseUpLimit = kClimbPitchDeg[cat] - 1.0;
    c["pitch"].add(pitchDeg, pitchDeg < 0 ? noseUpLimit : kMaxNoseDownDeg,
                   std::max(noseUpLimit - pitchDeg, pitchDeg - kMaxNoseDownDeg), tick);

    // A reported bank (the leg's point carries one) stays within the category's bank and pitch.
    if (!a->track.empty() && a->track.front().bankGiven) {
        const double excess = std::max({std::abs(u.bank) / kDeg - kMaxBankDeg[cat], noseUpLimit - pitchDeg,
                                         pitchDeg - kMaxNoseDownDeg});
        c["attitude limits applied to reported values"].add(std::abs(u.bank) / kDeg, kMaxBankDeg[cat], excess, tick);
    }

    if (!terrainGround && heightFt < kRunwayHeightFt && a->category != kCatRotorcraft) {
        if (!w.lowSince) w.lowSince = tick;
        check("level above the runway", (tick - *w.lowSince) / 100.0, kLowFlightMaxS);
    } else {
        w.lowSince.reset();
    }

    const bool consecutive = w.last && w.lastTick == tick - 1;
    if (consecutive && a->approach && !terrainGround && a->flareStage == 0 && sourceDescends(a->hexId, tick)) {
        const double fpm = (u.altitude - w.last->altitude) * 6000.0;
        check("arrivals follow the reported descent", fpm, kApproachClimbFpm);
    }
    if (!consecutive || terrainGround) w.airAltitudes.clear();
    if (!terrainGround) {
        w.airAltitudes.emplace_back(tick, u.altitude);
        if (w.airAltitudes.size() > kClimbWindowTicks + 1) w.airAltitudes.pop_front();
        const auto& [t0, alt0] = w.airAltitudes.front();
        if (tick - t0 == kClimbWindowTicks && a->flareStage == 0 && sourceDescends(a->hexId, tick))
            check("no climb while the reports descend", (u.altitude - alt0) * 6000.0 / kClimbWindowTicks,
                  kDescentClimbFpm);
    }
    if (consecutive) {
        const AircraftUpdate& p = *w.last;
        // Position: no farther in a tick than the speed allows, with a margin for catching up.
        const double nm = gf_distanceNM(p.latitude, p.longitude, u.latitude, u.longitude);
        const double kt = nm * kTicksPerHour;
        const double allowed =
            std::max({p.airspeed, u.airspeed, sourceSpeed(a->hexId, tick)}) * 1.3 + 20.0;
        check("position jump", kt, allowed);
        // Turn, bank and pitch rates.
        const double turnDeg = std::abs(gf_angleDiff(lf_norm(p.heading), lf_norm(u.heading))) / kDeg;
        check("heading rate", turnDeg, a->onGround ? kGroundTurnScale * kGroundTurnDeg[cat] : kAirTurnDeg[cat]);
        check("bank rate", std::abs(u.bank - p.bank) / kDeg, kMaxBankRateDeg[cat] + 1e-9);
        const bool groundPhase = a->onGround || a->state == kMoveTakeOff || a->derotating;
        check("pitch rate", std::abs(u.pitch - p.pitch) / kDeg,
              groundPhase ? kGroundPitchRateDeg : kMaxAirPitchRateDeg[cat] + 1e-9);
        // Vertical speed in the air; the descent near the ground.
        const double fpm = (u.altitude - p.altitude) * 6000.0;
        if (!terrainGround) {
            check("vertical speed", std::abs(fpm), kMaxVerticalFpm);
            if (heightFt < 1000.0) check("descent below 1000 ft", -fpm, kLowDescentFpm);
        }
        // Push-back: the aircraft moves tail first.
        if (a->state == kMoveAfterPushback && nm * kMetresPerNm > 0.001) {
            const double course = gf_initialBearing(p.latitude, p.longitude, u.latitude, u.longitude);
            const double off = std::abs(gf_angleDiff(lf_norm(u.heading), course)) / kDeg;
            check("push-back backwards", off, 90.0, false);
        }
    }

    // Touchdown: the wheels meet the field at a gentle sink, after the flare.
    w.altitudes.emplace_back(tick, u.altitude);
    while (w.altitudes.size() > 51) w.altitudes.pop_front();
    if (w.terrainAirborne && terrainGround && w.last) {
        const auto& [t0, alt0] = w.altitudes.front();
        const double sink = tick > t0 ? (alt0 - u.altitude) / (tick - t0) * 6000.0 : 0.0;
        check("touchdown sink", sink, kTouchdownSinkFpm);
        c["flare before touchdown"].add(a->flareStage, 4, a->flareStage >= 4 ? 0.0 : 4.0 - a->flareStage, tick);
    }
    w.terrainAirborne = !terrainGround;

    // Flare stages at their heights over the field.
    if (a->flareStage != w.flareStage && a->flareStage >= 1 && a->flareStage <= 4) {
        const double expected = kFlareStageFt[a->flareStage];
        c["flare heights"].add(heightFt, expected, std::abs(heightFt - expected) - kFlareMarginFt, tick);
    }
    w.flareStage = a->flareStage;

    // Rotation: not below the rotation speed; the gear comes up 300 ticks after it ended.
    if (a->state == kMoveTakeOff && w.state != kMoveTakeOff) {
        const double speed = std::max(a->speedKt, u.airspeed);
        check("rotation speed", speed, kRotationSpeedKt[cat] - 5.0, false);
        if (consecutive && a->category != kCatRotorcraft) {
            // As fast as its last tick shows.
            const double kt =
                gf_distanceNM(w.last->latitude, w.last->longitude, u.latitude, u.longitude) * kTicksPerHour;
            const double vr = kRotationSpeedKt[cat];
            c["lift-off speed"].add(kt, vr, std::max(vr - kt, kt - vr - kLiftOffMarginKt), tick);
            if (m_liftsOffWithItsData.contains(a->hexId)) {
                const std::vector<SourcePoint>& points = m_source.at(a->hexId);
                const auto air = std::find_if(points.begin(), points.end(), [](const auto& p) { return p.airborne; });
                const double early = air == points.end() ? 0.0 : (air->tick - tick) / 100.0;
                const bool atItsLiftOffKt = kt >= vr + kLiftOffAtKt - 1.0;
                c["lift-off with its data"].add(early, kLiftOffEarlyS, atItsLiftOffKt ? 0.0 : early - kLiftOffEarlyS,
                                                 tick);
            }
        }
        // From 30 kt on (the seconds of the roll so far, the last ones included), every 5 s gains 5 kt and every
        // second 1 kt, and no second gains more than 1 kt less than the one before.
        for (const auto& [window, least] :
             {std::pair{kRollGainTicks, kRollGainKt}, std::pair{kGroundSampleTicks, kRollGainEachSecondKt}}) {
            double gainBefore = std::numeric_limits<double>::quiet_NaN();
            for (auto from = w.roll.begin(); from != w.roll.end(); ++from) {
                const auto to = std::find_if(from, w.roll.end(), [&, window = window](const auto& s) {
                    return s.tick - from->tick >= window;
                });
                if (to == w.roll.end()) break;
                if (to->tick - from->tick > window + kGroundSampleTicks) {
                    gainBefore = std::numeric_limits<double>::quiet_NaN();
                    continue;
                }
                const double gain = to->kt - from->kt;
                c["take-off roll gain"].add(gain, least, least - gain, tick);
                if (window != kGroundSampleTicks) continue;
                if (!std::isnan(gainBefore)) {
                    const double less = gainBefore - gain;
                    c["take-off roll easing"].add(less, kRollEasingKt, less - kRollEasingKt, tick);
                }
                gainBefore = gain;
            }
        }
        if (!m_runways.empty()) {
            std::vector<ObjectWatch::GroundSample> roll = w.roll;
            roll.push_back({tick, u.latitude, u.longitude, u.heading});
            double worst = 0.0;
            for (const auto& s : roll) worst = std::max(worst, lf_offRunwayM(m_runways, s.lat, s.lon, s.heading));
            c["take-off from a runway"].add(worst, 0.0, worst, tick);
        }
        w.rotationEnd = tick + static_cast<std::int32_t>(a->rotationTicks);
    }
    if (w.rotationEnd) {
        const auto& ev = m_sim->events[u.objectID];
        for (const SimStandIn::Event& e : ev) {
            if (e.eventId != kEventGearSet || e.data != 0 || e.tick < *w.rotationEnd) continue;
            const double after = e.tick - *w.rotationEnd;
            c["gear up after rotation"].add(after, kGearUpTicks, std::abs(after - kGearUpTicks) - kGearUpMarginTicks,
                                             tick);
            w.rotationEnd.reset();
            break;
        }
        if (w.rotationEnd && tick > *w.rotationEnd + kGearUpTicks + kGearUpMarginTicks) finishWatch(w, tick);
    }

    // Push-back: its quarter turn goes to the side the data shows.
    if (a->state == kMoveAfterPushback && w.state != kMoveAfterPushback) w.pushbackStartHeading = u.heading;
    if (w.state == kMoveAfterPushback && a->state != kMoveAfterPushback && w.pushbackStartHeading) {
        const std::optional<int> side = m_pushbackSide[a->hexId];
        if (side) {
            const double turn = gf_angleDiff(lf_norm(*w.pushbackStartHeading), lf_norm(u.heading)) / kDeg;
            c["push-back turn side"].add(turn, 45.0 * *side, 45.0 - turn * *side, tick);
        }
        w.pushbackStartHeading.reset();
    }

    // Arrival at the stand: on its spot, with its heading.
    if (a->state == kMoveParked && w.state == kMoveToStand) {
        const double m = lf_metres(u.latitude, u.longitude, a->standLat, a->standLon);
        const double off = std::abs(gf_angleDiff(lf_norm(u.heading), lf_norm(a->standHeading))) / kDeg;
        check("stand arrival", m, kStandArrivalM);
        check("stand arrival heading", off, kStandHeadingDeg);
        res.standsReached.push_back(a->standIndex);
        w.arrivedTick = tick;
    }
    // An aircraft that has just arrived does not leave its stand again at once.
    if (w.state == kMoveParked && a->state != kMoveParked && w.arrivedTick) {
        check("stand kept after arrival", (tick - *w.arrivedTick) / 100.0, kMinStandStayS, false);
        w.arrivedTick.reset();
    }
    if (m_speedAsReported.contains(a->hexId)) {
        const ObjectWatch::GroundSample now{tick, u.latitude, u.longitude, u.heading};
        if (!consecutive || !w.secondRef) {
            w.secondRef = now;
        } else if (tick - w.secondRef->tick >= kGroundSampleTicks) {
            const double kt = gf_distanceNM(w.secondRef->lat, w.secondRef->lon, now.lat, now.lon) * kTicksPerHour /
                              (tick - w.secondRef->tick);
            // Where its records have ended (a prediction) or not begun there is nothing to go by.
            if (const auto fastest = sourceFastestKt(a->hexId, tick, kAsReportedTicks))
                check("speed as reported", kt, std::max(kAsReportedFloorKt, kAsReportedShare * *fastest));
            w.secondRef = now;
        }
    }
    if (m_turnsAsReported.contains(a->hexId)) {
        if (!a->onGround) {
            w.groundHeadings.clear();
        } else if (tick % kGroundSampleTicks == 0) {
            w.groundHeadings.emplace_back(tick, u.heading);
            while (tick - w.groundHeadings.front().first > kTurnWindowTicks) w.groundHeadings.pop_front();
            if (tick - w.groundHeadings.front().first == kTurnWindowTicks) {
                const double turned = std::abs(std::remainder(u.heading - w.groundHeadings.front().second, 2.0 * kPi));
                const double degS = turned / kDeg / (kTurnWindowTicks / 100.0);
                const double reported = std::max(kTurnAsReportedFloorDegS, sourceTurnRate(a->hexId));
                check("turn rate as reported", degS, kTurnAsReportedShare * reported);
            }
        }
    }
    checkGroundMotion(w, u, *a, tick);
    if (a->state != kMoveParked) {
        w.parkedAt.reset();
    } else if (!w.parkedAt) {
        w.parkedAt = ObjectWatch::GroundSample{tick, u.latitude, u.longitude, u.heading};
    } else if (tick % kGroundSampleTicks == 0) {
        const double m = lf_metres(w.parkedAt->lat, w.parkedAt->lon, u.latitude, u.longitude);
        check("parked still", m, kMaxParkedDriftM);
    }
    w.state = a->state;
    w.last = u;
    w.lastTick = tick;
}

void MovementBench::checkGroundMotion(ObjectWatch& w, const AircraftUpdate& u, const LiveAc& a, std::int32_t tick) {
    // A push-back moves tail first: the second after it is judged from its end.
    if (!a.onGround || a.state == kMoveTakeOff || a.state == kMoveAfterPushback) {
        w.groundRef.reset();
        w.roll.clear();
        w.speeds.clear();
        w.rollFastestKt.reset();
        w.rollOut.clear();
        w.rollOutJudged = false;
        return;
    }
    const ObjectWatch::GroundSample now{tick, u.latitude, u.longitude, u.heading};
    if (!w.groundRef) w.groundRef = now;
    if (tick - w.groundRef->tick < kGroundSampleTicks) return;
    const ObjectWatch::GroundSample from = *w.groundRef;
    w.groundRef = now;
    const double metres = lf_metres(from.lat, from.lon, now.lat, now.lon);
    const double kt = metres / kMetresPerNm * kTicksPerHour / (tick - from.tick);
    if (kt < kRollKt) {
        w.roll.clear();
    } else {
        w.roll.push_back(now);
        w.roll.back().kt = kt;
    }
    checkGroundSpeed(w, a, kt, tick);
    if (!m_standsInScatter.contains(a.hexId) || a.state != kMoveFollowing || a.takeOffRoll || a.braking ||
        sourceMoves(a.hexId, tick)) {
        w.stoodAt.reset();
    } else if (w.stoodAt) {
        const double m = lf_metres(w.stoodAt->lat, w.stoodAt->lon, now.lat, now.lon);
        resultOf(a.hexId).counters["standing still in scatter"].add(m, kMaxStandingDriftM, m - kMaxStandingDriftM,
                                                                    tick);
    } else {
        w.stoodAt = now;
    }
    if (metres < kMinMotionM) return;
    auto& c = resultOf(a.hexId).counters;
    const double course = gf_initialBearing(from.lat, from.lon, now.lat, now.lon);
    const double off = std::abs(gf_angleDiff(lf_norm(now.heading), course)) / kDeg;
    c["heading against motion"].add(off, kMaxSlipDeg, off - kMaxSlipDeg, tick);
    const double backwards = std::max(0.0, -std::cos(off * kDeg)) * kt;
    c["backwards speed"].add(backwards, kMaxBackwardsKt, backwards - kMaxBackwardsKt, tick);
}

void MovementBench::checkGroundSpeed(ObjectWatch& w, const LiveAc& a, double kt, std::int32_t tick) {
    auto& c = resultOf(a.hexId).counters;
    const bool runwayRoll = a.takeOffRoll || a.braking;
    c["ground speed off a runway roll"].add(kt, kMaxTaxiKt, (runwayRoll ? 0.0 : kt) - kMaxTaxiKt, tick);
    const bool predicted = a.braking && a.extendSteps > 0;
    w.speeds.push_back({tick, kt, predicted});
    if (w.speeds.size() > 3) w.speeds.pop_front();
    if (w.speeds.size() >= 2 && tick - w.speeds.end()[-2].tick <= 2 * kGroundSampleTicks) {
        const ObjectWatch::SpeedSample& before = w.speeds.end()[-2];
        const double g = (before.kt - kt) / ((tick - before.tick) / 100.0) / kKtPerSecondPerG;
        c["ground braking"].add(g, kMaxBrakingG, g - kMaxBrakingG, tick);
    }
    if (w.speeds.size() == 3 && tick - w.speeds.front().tick <= 3 * kGroundSampleTicks) {
        const double seconds = (tick - w.speeds.front().tick) / 100.0;
        const double g = (kt - w.speeds.front().kt) / seconds / kKtPerSecondPerG;
        c["ground speed change"].add(g, kMaxSpeedChangeG, std::abs(g) - kMaxSpeedChangeG, tick);
        // A roll-out its reports no longer show (predicted all along the 2 s) brakes gently.
        if (predicted && w.speeds.front().predictedRollOut)
            c["roll-out deceleration"].add(-g, kMaxRollOutG, -g - kMaxRollOutG, tick);
    }
    // A landing's roll-out, judged once it is over.
    if (!w.rollOutJudged) {
        if (a.braking) w.rollOut.push_back({tick, kt, false});
        const std::vector<ObjectWatch::SpeedSample>& r = w.rollOut;
        if (!r.empty() && (kt <= kRolledOutKt || !a.braking)) {
            w.rollOutJudged = true;
            const double meanKtS = (r.front().kt - r.back().kt) / ((r.back().tick - r.front().tick) / 100.0);
            for (std::size_t i = 1; i < r.size() && meanKtS > 0.0; ++i) {
                const double lossKtS = (r[i - 1].kt - r[i].kt) / ((r[i].tick - r[i - 1].tick) / 100.0);
                c["roll-out braking evenness"].add(lossKtS, kEvenRollOutShare * meanKtS,
                                                   lossKtS - kEvenRollOutShare * meanKtS, r[i].tick);
            }
        }
    }
    if (!a.takeOffRoll) {
        w.rollFastestKt.reset();
        return;
    }
    w.rollFastestKt = std::max(w.rollFastestKt.value_or(kt), kt);
    c["take-off roll speed"].add(*w.rollFastestKt - kt, kMaxRollLossKt, *w.rollFastestKt - kt - kMaxRollLossKt, tick);
}

void MovementBench::checkParkedSpacing(std::int32_t tick) {
    std::vector<const LiveAc*> parked;
    for (const LiveAc& a : g_liveAc)
        if (a.status == kAcInSim && a.state == kMoveParked) parked.push_back(&a);
    for (std::size_t i = 0; i < parked.size(); ++i) {
        for (std::size_t j = i + 1; j < parked.size(); ++j) {
            const LiveAc& a = *parked[i];
            const LiveAc& b = *parked[j];
            const double need = kParkedSpacing * (a.halfSpan + b.halfSpan);
            const double have = gf_distanceNM(a.latitude, a.longitude, b.latitude, b.longitude);
            const double ratio = need > 0 ? have / (a.halfSpan + b.halfSpan) : 99.0;
            for (const LiveAc* x : {&a, &b})
                resultOf(x->hexId).counters["parked spacing"].add(ratio, kParkedSpacing, kParkedSpacing - ratio, tick);
        }
    }
}

std::string MovementBench::report(const std::string& title) const {
    std::string out = fmt::format("== {} ({} ticks played, {} ended by an exception)\n", title, m_ticksPlayed,
                                  m_lostTicks);
    out += "   limits: jump kt <= 1.3 x the fastest of its speeds and records within 25 s + 20; heading deg/tick\n"
           "   on the ground <= 3 x the category's turn rate, in the air <= 0.04 (Heavy) .. 0.2 (Rotorcraft); bank\n"
           "   and bank rate, air pitch rate and rotation speed by category, 0.1 deg/tick pitch on the ground;\n"
           "   pitch within climb pitch - 1 deg .. 6 deg nose down; 6000 fpm in the air, 1500 fpm down below\n"
           "   1000 ft, 200 fpm at touchdown (last 0.5 s); wheels not below the field - 1 ft; gear up 300 +- 5\n"
           "   ticks after the rotation; flare stages at 30/20/10/3 +- 3 ft; stand within 2 m and 3 deg; parked\n"
           "   aircraft 1.1 x their half spans apart; on the ground, each second: heading within 45 deg of the\n"
           "   way it moves, at most 10 kt backwards outside a push-back; every second of a take-off roll from\n"
           "   30 kt on a runway, along it; created once; parked within 1 m of its arrival; ground speed each\n"
           "   second: changing 0.5 g at most over 2 s (0.3 g braking on a predicted roll-out), braking 0.4 g at\n"
           "   most from one second to the next, above 60 kt only on a runway roll, a take-off roll losing 5 kt at\n"
           "   most, lifting off at the rotation speed + 0..20 kt and gaining 5 kt in every 5 s and 1 kt in every\n"
           "   second from 30 kt to its lift-off, each second no more than 1 kt less than the one before; where a\n"
           "   track asks: created standing within 30 m of its first record and 5 s of its play time, not created\n"
           "   standing where its records roll faster than 35 kt, each second no faster than 1.5 x its records and\n"
           "   their positions within 10 s (10 kt at least), lifting off no more than 3 s before its first record in\n"
           "   the air but at its lift-off speed, turning on the ground over 3 s no faster than 1.1 x its records'\n"
           "   fastest (their positions' path where they carry no track; 3 deg/s at least); an arrival stays on its\n"
           "   stand a minute at least; with the paths kept, the five rules of trace_rules.py\n";
    const auto line = [&](const std::string& name, const Counter& c) {
        if (c.total() == 0) return fmt::format("  {:<24} n/a\n", name);
        return fmt::format("  {:<24} {:>8} pass {:>6} fail   worst {:.3f} (limit {:.3f}) at tick {}\n", name, c.pass,
                           c.fail, c.worstValue, c.worstLimit, c.worstTick);
    };
    for (const TrackResult& r : m_results) {
        out += fmt::format("-- {} {:06x} {} : {} records, {} created, {} removed, {} positions\n", r.name, r.hexId,
                           r.callsign, r.records, r.creations, r.removals, r.positions);
        for (const std::string& name : kCheckNames) {
            const auto it = r.counters.find(name);
            out += line(name, it == r.counters.end() ? Counter{} : it->second);
        }
    }
    out += "-- all tracks\n";
    for (const std::string& name : kCheckNames) out += line(name, total(name));
    return out;
}

// ---------------------------------------------------------------------------------------------------------

TrackBuilder::TrackBuilder(std::uint32_t hexId, std::string callsign, std::string type, double lat, double lon,
                           double trackDeg, double startTime)
    : m_hexId(hexId), m_callsign(std::move(callsign)), m_type(std::move(type)), m_lat(lat), m_lon(lon),
      m_track(trackDeg), m_time(startTime) {}

void TrackBuilder::emit(bool airborne) {
    TrafficRecord r;
    r.hexId = m_hexId;
    r.callsign = m_callsign;
    r.type = m_type;
    r.time = m_time;
    r.lat = m_lat;
    r.lon = m_lon;
    r.airborne = airborne;
    r.alt = airborne ? m_alt : 0.0;
    r.speed = m_speed;
    r.tas = m_speed;
    r.track = m_track;
    r.vs = airborne ? m_vs : 0.0;
    if (m_heading) {
        r.heading = *m_heading == 0.0 ? 2.0 * kPi : *m_heading * kDeg;
        r.headingGiven = r.attitudeGiven = true;
    }
    if (m_bank && airborne) {
        r.bank = -*m_bank * kDeg;
        r.bankGiven = true;
    }
    m_records.push_back(r);
    m_lastEmit = m_time;
}

TrackBuilder& TrackBuilder::leg(double seconds, double speedKt, double turnDeg, double vsFpm, bool airborne) {
    const double v0 = m_speed;
    const int steps = std::max(1, static_cast<int>(std::lround(seconds)));
    const double dt = seconds / steps;
    for (int i = 1; i <= steps; ++i) {
        const double f = static_cast<double>(i) / steps;
        const double v = v0 + (speedKt - v0) * f;
        m_track = std::fmod(m_track + turnDeg / steps + 360.0, 360.0);
        const GeoPosition p = gf_destinationPoint(m_lat, m_lon, m_track * kDeg, (m_speed + v) / 2.0 * dt / 3600.0 * kFeetPerNm);
        m_lat = p.latitude;
        m_lon = p.longitude;
        m_speed = v;
        m_vs = vsFpm;
        if (airborne) m_alt += vsFpm * dt / 60.0;
        m_time += dt;
        if (m_time - m_lastEmit >= m_every - 1e-9 || i == steps) emit(airborne);
    }
    return *this;
}

TrackBuilder& TrackBuilder::gap(double seconds, double speedKt, double vsFpm) {
    const double saved = m_every;
    m_every = 1.0e9;
    m_lastEmit = m_time;
    const std::size_t before = m_records.size();
    leg(seconds, speedKt, 0.0, vsFpm, true);
    m_records.resize(before);  // flown unseen
    m_lastEmit = -1.0e18;
    m_every = saved;
    return *this;
}

StandPlace TrackBuilder::standHere() const { return {m_lat, m_lon, lf_norm(m_track * kDeg)}; }

BenchTrack TrackBuilder::track(std::string name, std::string description) const {
    BenchTrack t;
    t.name = std::move(name);
    t.description = std::move(description);
    t.records = m_records;
    return t;
}

// ---------------------------------------------------------------------------------------------------------

std::vector<BenchTrack> gf_readAdsbRecording(const std::filesystem::path& file, double fieldElevationFt,
                                             double staggerS) {
    const nlohmann::json reports = nlohmann::json::parse(fixtures::gunzipFile(file));
    struct Report {
        double t, lat, lon;
        std::optional<double> alt, gs, track, vs;
        bool onGround;
    };
    std::map<std::string, std::vector<Report>> byHex;
    std::map<std::string, std::string> callsigns;
    std::vector<std::string> order;
    const auto number = [](const nlohmann::json& o, const char* key) -> std::optional<double> {
        const auto it = o.find(key);
        if (it == o.end() || !it->is_number()) return std::nullopt;
        return it->get<double>();
    };
    for (const nlohmann::json& r : reports) {
        const auto lat = number(r, "latitude");
        const auto lon = number(r, "longitude");
        const auto ms = number(r, "timestamp");
        if (!r.contains("icao24") || !r["icao24"].is_string() || !lat || !lon || !ms) continue;
        const std::string hex = r["icao24"].get<std::string>();
        if (!byHex.contains(hex)) order.push_back(hex);
        byHex[hex].push_back({*ms / 1000.0, *lat, *lon, number(r, "altitude"), number(r, "groundspeed"),
                              number(r, "track"), number(r, "vertical_rate"),
                              r.contains("onground") && r["onground"].is_boolean() && r["onground"].get<bool>()});
        if (r.contains("callsign") && r["callsign"].is_string()) {
            std::string cs = r["callsign"].get<std::string>();
            cs.erase(cs.find_last_not_of(' ') + 1);
            if (!cs.empty()) callsigns[hex] = cs;
        }
    }
    // The recording has no types: these fit the callsigns (made up, as the service's scenario does it).
    const std::map<std::string, std::string> types = {
        {"0083c3", "B738"}, {"4d20cd", "CL35"}, {"4891b6", "B738"}, {"c01074", "B789"}, {"4b17e5", "A333"},
        {"4b1614", "BCS3"}, {"4b17fd", "A321"},
    };
    std::vector<BenchTrack> tracks;
    double offset = 0.0;
    const double base = 1.0e9;
    for (const std::string& hex : order) {
        std::vector<Report>& rs = byHex[hex];
        if (rs.size() < 2) continue;
        std::sort(rs.begin(), rs.end(), [](const Report& a, const Report& b) { return a.t < b.t; });
        const auto id = gf_parseHexId(hex);
        if (!id || *id <= kMaxStaticHexId) continue;
        BenchTrack t;
        t.name = "zurich";
        t.description = "recorded";
        const auto type = types.find(hex);
        const double t0 = rs.front().t;
        double lastAlt = 0.0;
        for (const Report& x : rs) {
            TrafficRecord r;
            r.hexId = *id;
            r.callsign = callsigns[hex];
            r.type = type == types.end() ? "A320" : type->second;
            r.time = base + offset + (x.t - t0);
            r.lat = x.lat;
            r.lon = x.lon;
            r.speed = x.gs.value_or(0.0);
            r.track = x.track.value_or(0.0);
            r.speedGiven = x.gs.has_value();
            r.trackGiven = x.track.has_value();
            // As the traffic reader makes it from the reported height (the on-ground flag is not read): a
            // report without one is on the ground when flagged so, else at the last height; heights in the
            // band over the field at low speed are ground reports (altitude 0).
            const double alt = x.alt ? *x.alt : x.onGround ? 0.0 : lastAlt;
            if (x.alt) lastAlt = *x.alt;
            r.reportedAlt = alt;
            r.alt = gf_groundReport(alt, fieldElevationFt, r.speed) ? 0.0 : alt;
            r.airborne = r.alt > 0.0;
            r.vs = r.airborne ? x.vs.value_or(0.0) : 0.0;
            r.tas = r.speed;
            t.records.push_back(r);
        }
        tracks.push_back(std::move(t));
        offset += staggerS;
    }
    return tracks;
}

std::vector<BenchTrack> gf_readScenarioAsServed(const std::filesystem::path& file, double qnh, double everyS,
                                                double phaseS, double untilS) {
    const standin::Scenario scenario = standin::gf_loadScenario(file);
    std::vector<BenchTrack> tracks;
    const double base = 1.0e9;
    for (const standin::ScenarioAircraft& ac : scenario.aircraft) {
        const auto id = gf_parseHexId(ac.hex);
        if (!id || *id <= kMaxStaticHexId || ac.track.empty()) continue;
        BenchTrack t;
        t.name = "scenario";
        t.description = "served";
        const double last = std::min(ac.track.back().t, untilS);
        for (double at = ac.track.front().t + phaseS; at <= last; at += everyS) {
            const auto state = standin::gf_aircraftAt(ac, at);
            if (!state) continue;
            const standin::ScenarioPoint& p = state->point;
            TrafficRecord r;
            r.hexId = *id;
            r.callsign = ac.callsign;
            r.type = ac.type;
            r.registration = ac.registration;
            r.time = base + at;
            r.lat = p.lat;
            r.lon = p.lon;
            r.speed = r.tas = p.gs;
            r.speedGiven = true;
            r.track = p.track;
            r.trackGiven = true;
            const double heading = p.heading.value_or(p.track);
            r.heading = (heading == 0.0 ? 360.0 : heading) * std::numbers::pi / 180.0;
            r.headingGiven = r.attitudeGiven = heading >= 0.0 && heading <= 360.0;
            const double altitude = p.alt ? std::max(0.0, *p.alt + (qnh - 1013.0) * 30.0) : 0.0;
            r.reportedAlt = altitude;
            r.alt = gf_groundReport(altitude, -1000.0, r.speed) ? 0.0 : altitude;
            r.airborne = r.alt > 0.0;
            r.vs = p.vs;
            t.records.push_back(r);
        }
        if (t.records.size() >= 2) tracks.push_back(std::move(t));
    }
    return tracks;
}

std::vector<std::pair<std::string, std::string>> gf_airlinesAndTypes(const std::vector<BenchTrack>& tracks) {
    std::set<std::pair<std::string, std::string>> pairs;
    for (const BenchTrack& t : tracks) {
        if (t.records.empty()) continue;
        const TrafficRecord& r = t.records.front();
        pairs.insert({gf_airlineCodeOfCallsign(r.callsign).value_or("PVT"), r.type});
    }
    return {pairs.begin(), pairs.end()};
}

}  // namespace movement_bench
