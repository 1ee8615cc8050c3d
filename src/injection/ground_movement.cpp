#include "injection/ground_movement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/geodesy.h"
#include "injection/movement.h"
#include "injection/sim_sink.h"
#include "injection/stand_hooks.h"
#include "simlink/simids.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kDegPerRad = 57.29577951308232;
constexpr double kMetresPerDegLat = 111132.95;
constexpr double kMetresPerNm = 1852.0;
constexpr double kFeetPerNm = 6076.11549;
// A knot over one tick, in nautical miles: kt x ticks / 360000.
constexpr double kTicksPerHour = 360000.0;
constexpr std::int64_t kMinLegTicks = 25;

// A heading within this of the one steered to counts as reached.
constexpr double kHeadingReached = 0.5 * kRadPerDeg;
// The curve parameter stops just short of the end point, which the next leg starts from.
constexpr double kMaxCurveParam = 0.999999;
// During a flare the nose never rises above 4 degrees.
constexpr double kFlarePitchLimit = -0.06981317007977318;
// Height above ground (ft) below which an aircraft on approach flares.
constexpr double kFlareCheckHeight = 400.0;

// A turn of more than this (degrees) is worth a curve; a corner sharper than the upper bound gets none.
constexpr double kMinCurveTurnDeg = 3.0;
constexpr double kMaxCurveTurnDeg = 160.0;
// A slow, long leg before a turn of more than 45 degrees gets a midpoint so that the turn starts late.
constexpr double kMidpointTurnDeg = 45.0;
constexpr double kMidpointLegNm = 0.02699784017278618;  // 50 m
constexpr double kMidpointMaxSpeedKt = 43.0;
constexpr std::int64_t kMidpointMinTicks = 600;
// A leg shorter than this (nm, 20 m) that would turn the nose by more than this is a hop of scatter; so is
// one to a point behind the aircraft (more than 120 degrees off its nose) nearer than 60 m.
constexpr double kHopNm = 0.0108;
constexpr double kSharpHopDeg = 45.0;
constexpr double kBackHopNm = 0.0324;
constexpr double kBackHopDeg = 120.0;
// A leg whose speed changes by more than this over 100 m or more gets a midpoint.
constexpr double kSpeedChangeKt = 5.0;
constexpr double kSpeedChangeMinMetres = 100.0;

// An aircraft this slow and this close to its last point has stopped and looks for a stand.
constexpr double kStoppedSpeedKt = 5.0;
constexpr double kStoppedNearNm = 0.018898488120950324;  // 35 m

// Leaving a stand: a last point within this many degrees of the stand heading lies ahead (pull-out).
constexpr double kPullOutMaxDeg = 90.0;
constexpr double kPullOutSpans = 2.0;     // half spans ahead of the stand
constexpr double kPushBackRadii = 2.5;    // stand radii behind it
constexpr std::uint32_t kPushBackPhases = 2;
constexpr double kDepartureDistanceRef = 900.0;

// The taxi to a stand takes at least this long; the stop follows half a second later.
constexpr std::int64_t kMinStandTicks = 100;
constexpr std::int32_t kStandStopTicks = 50;
// Nearer its stand than this (nm, 5 m) with the stand off its nose, an aircraft rolls straight onto the spot at no
// more than a creep (kt), rather than circle round to it.
constexpr double kOntoStandNm = 0.0027;
constexpr double kOntoStandKt = 1.5;
// The lead-in before a stand: this many half spans long, at least 20 m; only for a taxi that starts more than
// one and a half lead-ins away (closer, the nose comes round onto the stand's heading on the last metres), and
// whose way to it turns onto the stand's heading by this much at most: a lead-in beyond the stand would be a
// hairpin.
constexpr double kLeadInHalfSpans = 2.0;
constexpr double kMinLeadInNm = 0.0108;
constexpr double kLeadInWays = 1.5;
constexpr double kMaxLeadInTurnDeg = 90.0;

constexpr std::int32_t kSharpTurnWindowTicks = 2000;

// ---- turn timing ----
constexpr double kSharpTurnDeg = 45.0;
constexpr double kFullTurnDeg = 90.0;
constexpr double kTurnRateDivisorDeg = 30.0;
constexpr double kMinTurnRatio = 1.2;
constexpr double kGentleTurnFactor = 10.0;
constexpr double kGentleTurnMetres = 30.0;
constexpr double kNmPerMetre = 0.0005399568034557236;
// However short or long the leg, a ground turn is never flown faster than three times the category's rate
// (the rate a sharp corner gets).
constexpr double kMaxTurnRateScale = 3.0;
// Where its reports carry no track, the path of their positions tells how fast it turns: chords at least this long
// (nm, 10 m) and this long in time (s), over which a few metres of scatter turn the bearing no faster than the
// category's rate.
constexpr double kPathChordNm = 0.0054;
constexpr double kPathChordS = 3.0;

// Taxiing, the nose steers onto the way to the leg's end once it points more than this off it: the aircraft rolls
// where its nose points, on a turn no wider than this radius (m) and no tighter than this one: it slows down
// for a sharp turn, and the nose does not swing round on the spot.
constexpr double kSteerOffDeg = 20.0;
// A take-off roll starts with the nose this near the way to its point (degrees).
constexpr double kRollLinedUpDeg = 45.0;
// A leg this long (nm, 5 m) shows the way on.
constexpr double kLinedUpLegNm = 0.0027;
constexpr double kMaxTurnRadiusM = 20.0;
// Steering turns at least at this multiple of the category's rate.
constexpr double kSteerTurnRateScale = 2.0;
// No aircraft rolling on the ground turns tighter than this radius (m): its nose turns only as it rolls.
constexpr double kMinTurnRadiusM = 3.0;
// Ground speed. One g in knots a second; a taxiing aircraft brakes for a stop ahead at this (g), and no
// aircraft on the ground slows faster than tyres and brakes allow (a roll-out whose reports slow faster lags its
// positions for a second or two); a landing roll its reports no longer show brakes at this (g).
constexpr double kKtPerSecondPerG = 19.0626;
constexpr double kTaxiStopG = 0.15;
constexpr double kHardestBrakingG = 0.4;
constexpr double kRollOutG = 0.25;
constexpr double kTicksPerSecond = 100.0;
// A take-off roll lifts off no faster than this above its rotation speed. From a line-up's speed on it gains
// at least this much (kt a second): it waits for no data at a speed it holds.
constexpr double kLiftOffMarginKt = 15.0;
constexpr double kRollGainFromKt = 30.0;
constexpr double kMinRollGainKtPerS = 1.5;
// Where its plan asks less of it, a take-off roll's acceleration eases off by no more than this (kt a second, each
// second).
constexpr double kRollEaseKtPerS = 0.8;
// Behind its data a taxi goes no faster than this share of the speed reported where it goes, nor is held below
// this (kt).
constexpr double kCatchUpShare = 1.25;
constexpr double kCatchUpFloorKt = 10.0;
// Reports that stand together: this many at least, still there (kStillThereNm) by the newest; standing this far
// (nm, 10 m) from where its track ends, they stand somewhere else.
constexpr std::size_t kStandingReports = 3;
constexpr double kElsewhereNm = 0.0054;
// Nearer than this (nm, half a metre) to the place it stops at, a standing aircraft is there.
constexpr double kThereNm = 0.00027;
// Into a stand the aircraft aims this share of its way behind the stand, on the stand's axis.
constexpr double kStandAimShare = 0.5;
// A stop this near (2 m) beside an aircraft rolling no faster than this (kt) is reached where it stands.
constexpr double kBesideStopNm = 0.0010799136069114472;
constexpr double kCreepKt = 5.0;
// A curve is followed when the nose keeps within this of its direction all along, turning at most three times
// the category's rate; else the corner is cut, steering.
constexpr double kMaxCurveLagDeg = 30.0;
constexpr int kCurveSamples = 32;
// Near a cusp, where the curve runs less than this share of its length per unit of its parameter, the parameter
// goes on by no more than the even step over this share.
constexpr double kMinCurveRateShare = 0.25;

bool lf_curveSet(const LiveAc& a) {
    return !std::isnan(a.groundCurve.controlEast) && !std::isnan(a.groundCurve.controlNorth);
}

bool lf_predicting(const LiveAc& a) { return a.extendSteps >= 1; }

void lf_setState(LiveAc& a, std::uint32_t state) {
    if (a.state == state) return;
    a.previousState = a.state;
    a.state = state;
}

// Turns the heading by the turn rate towards `target`, the short way round, without passing it.
void lf_turnTowards(LiveAc& a, double target) {
    const double diff = gf_angleDiff(gf_headingOf(a.heading), gf_headingOf(target));
    if (std::abs(diff) <= kHeadingReached) return;
    const double step = std::min(std::abs(a.turnRate), std::abs(diff));
    a.heading = gf_headingOf(a.heading + std::copysign(step, diff));
}

// Following its track, an aircraft turns no faster than its reports do where they turn (on a leg they turn
// faster than its category's rate): it follows their path, slowing for a turn rather than swinging round.
double lf_turnRateCap(const LiveAc& a) {
    if (a.state != kMoveFollowing || a.takeOffRoll || a.takeOffRollFrom > 0.0 || a.braking ||
        !(a.reportedTurnRate > 0.0))
        return std::numeric_limits<double>::infinity();
    return std::max(a.reportedTurnRate, a.groundTurnRate);
}

// The fastest the path of its reported places turns (rad per tick) from the way into the point reached at `from`
// to `until` (s): the bearing from one place to the next stands for the track halfway between them. Places
// nearer together than a chord are passed over, so that a few metres of scatter cannot fake a fast turn.
double lf_pathTurnRate(const LiveAc& a, double from, double until) {
    const auto& places = a.reportedPlaces;
    const TrackPoint& reached = a.track.front();
    // The way in starts a chord before the point reached.
    auto start = places.begin();
    for (auto it = places.begin(); it != places.end() && it->time <= from; ++it) {
        if (from - it->time >= kPathChordS && gf_distanceNM(it->lat, it->lon, reached.lat, reached.lon) >= kPathChordNm)
            start = it;
    }
    double fastest = 0.0;
    const LiveAc::ReportedPlace* last = nullptr;
    // The chord before the one just measured, its bearing (rad) and middle (s); none at the start and after a
    // stretch in the air. Plain values with a flag: gcc's -Wmaybe-uninitialized cannot follow an optional here.
    bool chordBefore = false;
    double bearingBefore = 0.0;
    double middleBefore = 0.0;
    for (auto it = start; it != places.end() && it->time <= until; ++it) {
        // Only its path on the ground counts.
        if (it->airborne) {
            last = nullptr;
            chordBefore = false;
            continue;
        }
        if (last && (it->time - last->time < kPathChordS ||
                     gf_distanceNM(last->lat, last->lon, it->lat, it->lon) < kPathChordNm))
            continue;
        if (last) {
            const double bearing = gf_initialBearing(last->lat, last->lon, it->lat, it->lon);
            const double middle = (last->time + it->time) / 2.0;
            if (chordBefore) {
                const double turned = std::abs(gf_angleDiff(bearingBefore, bearing));
                fastest = std::max(fastest, turned / ((middle - middleBefore) * kTicksPerSecond));
            }
            chordBefore = true;
            bearingBefore = bearing;
            middleBefore = middle;
        }
        last = &*it;
    }
    return fastest;
}

// The fastest its reports turn over the next legs (rad per tick): by their reported tracks, and where they carry
// none by the path of their positions; 0 where they do not tell.
double lf_reportedTurnRate(const LiveAc& a) {
    double fastest = 0.0;
    bool trackless = false;
    const std::size_t points = std::min<std::size_t>(a.track.size(), 3);
    for (std::size_t i = 0; i + 1 < points; ++i) {
        const TrackPoint& p = a.track[i];
        const TrackPoint& q = a.track[i + 1];
        if (p.stopped || q.stopped || !(q.time > p.time)) continue;
        if (!p.trackGiven || !q.trackGiven) {
            trackless = true;
            continue;
        }
        const double turned = std::abs(std::remainder(q.track - p.track, 360.0)) * kRadPerDeg;
        fastest = std::max(fastest, turned / ((q.time - p.time) * kTicksPerSecond));
    }
    if (trackless) fastest = std::max(fastest, lf_pathTurnRate(a, a.track.front().time, a.track[points - 1].time));
    return fastest;
}

// Rolling `stepNm` this tick, the nose turns towards `target` at the turn rate but no tighter than the smallest
// radius: an aircraft on its wheels turns only as it rolls, never on the spot.
void lf_turnRolling(LiveAc& a, double target, double stepNm) {
    const double rate = a.turnRate;
    a.turnRate = std::min({std::abs(rate), lf_turnRateCap(a), stepNm / (kMinTurnRadiusM * kNmPerMetre)});
    lf_turnTowards(a, target);
    a.turnRate = rate;
}

// What is left of the turn onto the stand's heading (rad).
double lf_turnLeftOntoStand(const LiveAc& a) {
    return std::abs(gf_angleDiff(gf_headingOf(a.heading), gf_headingOf(a.standHeading)));
}

// Into its stand, rolling `stepNm` of the `leftNm` still to go, the nose turns towards `target` fast enough to be on
// the stand's heading when it is there (at no more than three times the category's rate).
void lf_turnIntoStand(LiveAc& a, double target, double stepNm, double leftNm) {
    const double rate = a.turnRate;
    const double left = lf_turnLeftOntoStand(a);
    a.turnRate = std::min(std::max(std::abs(rate), left * stepNm / std::max(leftNm, stepNm)),
                          kMaxTurnRateScale * a.groundTurnRate);
    lf_turnRolling(a, target, stepNm);
    a.turnRate = rate;
}

// Into its stand with `leftNm` to go, the speed (kt) at which the nose comes round onto the stand's heading by then
// at three times the category's rate; a creep at least.
double lf_intoStandKt(const LiveAc& a, double leftNm) {
    const double left = lf_turnLeftOntoStand(a);
    if (!(left > 0.0)) return std::numeric_limits<double>::infinity();
    return std::max(kOntoStandKt, kMaxTurnRateScale * a.groundTurnRate * leftNm / left * kTicksPerHour);
}

// How far (nm) a taxi at `kt` rolls when it brakes for a stop.
double lf_stoppingNm(double kt) { return kt * kt / (2.0 * kTaxiStopG * kKtPerSecondPerG * 3600.0); }

// Rolling, it stops at `stop` where it brakes to along its nose.
void lf_stopAlongNose(const LiveAc& a, TrackPoint& stop) {
    const GeoPosition p =
        gf_destinationPoint(a.latitude, a.longitude, a.heading, lf_stoppingNm(a.groundSpeedKt) * kFeetPerNm);
    stop.lat = p.latitude;
    stop.lon = p.longitude;
    stop.speed = 0.0;
    stop.stopped = true;
}

double lf_legNm(const TrackPoint& from, const TrackPoint& to) {
    return gf_distanceNM(from.lat, from.lon, to.lat, to.lon);
}

// Ticks to cover `nm` at `kt`; a standing speed gives the shortest leg.
std::int64_t lf_ticksFor(double nm, double kt) {
    if (!(kt > 0.0)) return kMinLegTicks;
    return std::llround(nm * kTicksPerHour / kt);
}

// North and east offsets (m) of a point from the curve origin.
void lf_offsets(const GroundCurve& c, const TrackPoint& p, double& north, double& east) {
    const LocalOffset o = gf_offsetMetres(c.originLat, c.originLon, p.lat, p.lon);
    north = o.north;
    east = o.east;
}

// A ground point `feet` from the position along `bearing`, with the rest of `model`'s data; the caller gives
// it its speed and play tick.
TrackPoint lf_groundPointFrom(const TrackPoint& model, double lat, double lon, double bearing, double feet) {
    TrackPoint p = model;
    const GeoPosition to = gf_destinationPoint(lat, lon, bearing, feet);
    p.lat = to.latitude;
    p.lon = to.longitude;
    p.stopped = false;
    p.airborne = false;
    p.headingGiven = false;
    p.bankGiven = false;
    p.attitudeGiven = false;
    p.vs = 0.0;
    return p;
}

std::int32_t lf_tickIn(std::int64_t ticks) { return static_cast<std::int32_t>(gf_aiTick() + ticks); }

void lf_startEngines(LiveAc& a) {
    gf_sendClientEvent(a.objectId, kEventEngineAutoStart, 0);
    lf_setThrottle(a, 0);
    lf_setFlaps(a, 1);
}

// The stand radius behind a push-back: the stand's own, or the aircraft's half span where none is known.
double lf_standRadiusNm(const LiveAc& a) {
    const std::optional<double> radius = gf_standRadius(a.standIndex);
    return radius && *radius > 0.0 ? *radius : a.halfSpan;
}

// The attitude of one tick.
void lf_attitude(LiveAc& a) {
    if (a.state == kMoveTakeOff) {
        lf_climb(a);
        return;
    }
    if (a.approach && !a.onGround && a.heightAboveGround <= kFlareCheckHeight) lf_flare(a);
    if (a.derotating) {
        a.pitch += a.pitchStep;
        // Passed the static pitch in the direction it moves (no step at all: nothing to wait for).
        const bool passed = a.pitchStep == 0.0 ||
                            (a.pitchStep > 0.0 ? a.pitch >= a.staticPitch : a.pitch <= a.staticPitch);
        if (passed) {
            a.pitch = a.staticPitch;
            a.pitchStep = a.bank = a.bankStep = 0.0;
            a.derotating = false;
            a.flareStage = 0;
        }
        a.bank += a.bankStep;
    } else if (a.onGround && a.flareStage == 0) {
        a.pitch = a.staticPitch;
        a.bank = 0.0;
    } else {
        a.pitch += a.pitchStep;
        if (a.flareStage != 0) a.pitch = std::max(a.pitch, kFlarePitchLimit);
        a.bank += a.bankStep;
        a.altitude += a.altitudeStep;
    }
}

// A new ground leg while following the track: a curve through the corner ahead, a midpoint where the speed
// changes much, or a turn on the way to the next point.
void lf_planGroundLeg(LiveAc& a) {
    if (a.track.size() < 2 || a.track[1].stopped) return;
    if (a.track.size() >= 3) {
        if (!a.track[2].stopped) {
            // Left and right turns alike.
            const double turnDeg = std::abs(lf_turnAhead(a)) * kDegPerRad;
            const TrackPoint& front = a.track[0];
            const TrackPoint& second = a.track[1];
            const TrackPoint& third = a.track[2];
            const bool turns = turnDeg > kMinCurveTurnDeg;
            const bool longSlowLeg = lf_legNm(front, second) > kMidpointLegNm && front.speed <= kMidpointMaxSpeedKt &&
                                     std::int64_t{second.playTick} - front.playTick >= kMidpointMinTicks;
            if (turns && turnDeg > kMidpointTurnDeg && longSlowLeg) {
                lf_insertMidpoint(a);
            } else if (turns && turnDeg <= kMaxCurveTurnDeg && (third.lat != front.lat || third.lon != front.lon) &&
                       !a.braking) {
                // (A landing roll cuts no corner: it keeps the runway's line to its last point, then turns off.)
                lf_setCurveThroughPoint(a);
                a.curveTurnDeg = turnDeg;
            } else {
                lf_smoothSpeedChange(a);
            }
        }
    } else if (!lf_predicting(a)) {
        lf_smoothSpeedChange(a);
    }
    if (lf_curveSet(a)) {
        a.turning = false;
    } else {
        const double diff = gf_angleDiff(gf_headingOf(a.heading), gf_headingOf(a.targetHeading));
        a.turnRemainingDeg = std::abs(diff) * kDegPerRad;
        a.turning = a.turnRemainingDeg > kMinCurveTurnDeg;
        // A hop of a few metres far off the nose is the scatter of a standing aircraft: nothing turns on the
        // spot for it, the aircraft stays where it is.
        TrackPoint& second = a.track[1];
        const double hopNm = gf_distanceNM(a.latitude, a.longitude, second.lat, second.lon);
        if (a.state == kMoveFollowing && ((a.turnRemainingDeg > kSharpHopDeg && hopNm < kHopNm) ||
                                          (a.turnRemainingDeg > kBackHopDeg && hopNm < kBackHopNm))) {
            lf_stopAlongNose(a, second);
            a.turning = false;
            a.targetHeading = a.heading;
        }
    }
}

// An aircraft following its track that came to a stop is handed to the stand search.
void lf_detectStop(LiveAc& a) {
    // The stand search is there only while a stand file of the park airport is loaded.
    if (a.track.empty() || !a.track.back().stopped || !g_standHooks.try2Park) return;
    const bool leftStand = a.previousState == kMoveParked || a.previousState == kMoveAfterPushback ||
                           a.previousState == kMoveEnginesStarted;
    if (!a.towed && leftStand) return;
    if (lf_predicting(a)) {
        gf_try2Park(a, a.landed);
        return;
    }
    if (a.track.size() < 2 || a.track[1].speed > kStoppedSpeedKt) return;
    const TrackPoint& last = a.track.back();
    if (gf_distanceNM(a.latitude, a.longitude, last.lat, last.lon) <= kStoppedNearNm) gf_try2Park(a, false);
}

// The stop that ends the taxi to a stand turns the aircraft, standing on it, onto the stand's heading (the way
// in was flown on the bearing to the stand) at its category's ground rate.
void lf_turnOntoStand(LiveAc& a) {
    if (a.track.size() < 2 || !a.track[1].stopped) return;
    a.targetHeading = a.standHeading;
    a.turnRate = a.groundTurnRate;
    a.turning = lf_turnLeftOntoStand(a) > kHeadingReached;
}

void lf_pushBackStep(LiveAc& a) {
    if (a.standExitTicks > 0) --a.standExitTicks;
    if (a.standExitTicks == 1) {
        // The straight part is done: the rest is straight on, or a quarter turn to the side the data showed.
        // The track is the point reached, P1 and the side point.
        if (!a.pushbackSideKnown || g_STRAIGHT_PBS_ONLY.value()) {
            if (a.track.size() >= 3) a.track.erase(a.track.begin() + 2);
        } else {
            if (a.pushbackToAlt && a.track.size() >= 3) a.track[2] = a.pushbackAltPoint;
            lf_setCurveThroughPoint(a);
            const double rounds = std::round(kFullTurnDeg / a.turnRate / 100.0);
            a.curveParamStep = std::isfinite(rounds) && rounds >= 1.0 ? 1.0 / rounds : 1.0;
            a.curveTurnDeg = kFullTurnDeg;
        }
    } else if (a.standExitTicks < 1) {
        a.targetHeading = a.heading;
        lf_startEngines(a);
        lf_setState(a, kMoveEnginesStarted);
        a.standExitTicks = 1;
        a.departureDistanceRef = kDepartureDistanceRef;
        a.extendSteps = 0;
        a.leaveStand = false;
    }
}

void lf_leaveStandStep(LiveAc& a) {
    gf_resetWindows(a);
    if (!a.leaveStand) return;
    const TrackPoint& last = a.track.back();
    const double bearing = gf_initialBearing(a.standLat, a.standLon, last.lat, last.lon);
    const double offDeg = std::round(std::abs(gf_angleDiff(gf_headingOf(a.standHeading), bearing)) * kDegPerRad);
    if (offDeg < kPullOutMaxDeg)
        lf_pullOut(a);
    else
        lf_pushBack(a);
}

// Metres the curve runs per unit of its parameter at `t`.
double lf_curveRate(const GroundCurve& c, double t) {
    const double u = 1.0 - t;
    return std::hypot(2.0 * u * c.controlEast + 2.0 * t * (c.endEast - c.controlEast),
                      2.0 * u * c.controlNorth + 2.0 * t * (c.endNorth - c.controlNorth));
}

// The curve's length (m), by Simpson's rule.
double lf_curveLength(const GroundCurve& c) {
    double sum = lf_curveRate(c, 0.0) + lf_curveRate(c, 1.0);
    for (int i = 1; i < kCurveSamples; ++i)
        sum += (i % 2 == 1 ? 4.0 : 2.0) * lf_curveRate(c, static_cast<double>(i) / kCurveSamples);
    return sum / (3.0 * kCurveSamples);
}

// The largest angle between the nose and the curve's direction while the nose turns after it at `rate`.
double lf_curveLagDeg(const LiveAc& a, double rate) {
    double heading = a.heading;
    double worst = 0.0;
    const double length = a.groundCurve.length;
    for (int i = 0; i <= kCurveSamples; ++i) {
        GeoPosition p;
        double direction = 0.0;
        const double t = static_cast<double>(i) / kCurveSamples;
        if (!gf_bezierPoint(a.groundCurve, t, p, direction) || !(length > 0.0)) return 180.0;
        // The aircraft runs along the curve at an even pace: the ticks from the sample before.
        const double ticks = i == 0 ? 1.0
                                    : lf_curveRate(a.groundCurve, t - 0.5 / kCurveSamples) / kCurveSamples /
                                          length / a.curveParamStep;
        const double diff = gf_angleDiff(gf_headingOf(heading), gf_headingOf(direction));
        heading += std::copysign(std::min(std::abs(diff), rate * ticks), diff);
        worst = std::max(worst, std::abs(gf_angleDiff(gf_headingOf(heading), gf_headingOf(direction))));
    }
    return worst * kDegPerRad;
}

// Before a taxiing aircraft enters a curve: the nose must be able to follow it, if need be turning faster (up to
// three times the category's rate). A curve that starts far off the nose, or bends faster than that, is left:
// the aircraft steers from where it is to the curve's end instead.
void lf_checkCurveAhead(LiveAc& a) {
    if (a.state != kMoveFollowing || a.curveParam != 0.0 || a.track.empty() || !(a.curveParamStep > 0.0)) return;
    if (lf_curveLagDeg(a, a.turnRate) <= kMaxCurveLagDeg) return;
    const double fastest = std::min(kMaxTurnRateScale * a.groundTurnRate, lf_turnRateCap(a));
    if (fastest > a.turnRate && lf_curveLagDeg(a, fastest) <= kMaxCurveLagDeg) {
        a.turnRate = fastest;
        return;
    }
    gf_clearGroundCurve(a);
    a.targetHeading = gf_initialBearing(a.latitude, a.longitude, a.track.front().lat, a.track.front().lon);
    a.turnRate = std::max(a.turnRate, a.groundTurnRate);
    a.turning = true;
}

// The way from the aircraft to the point it moves to, on the plane around it (a leg on the ground is short).
struct WayAhead {
    double north = 0.0, east = 0.0;  // m
    double bearing = 0.0;            // rad
    double nm = 0.0;
};
WayAhead lf_wayTo(const LiveAc& a, const TrackPoint& to) {
    WayAhead w;
    w.north = (to.lat - a.latitude) * kMetresPerDegLat;
    w.east = gf_longitudeDiff(a.longitude, to.lon) * kMetresPerDegLat * std::cos(a.latitude * kRadPerDeg);
    w.bearing = gf_headingOf(std::atan2(w.east, w.north));
    w.nm = std::hypot(w.north, w.east) * kNmPerMetre;
    return w;
}

// The hardest the aircraft brakes now (g): a landing roll its reports no longer show (predicted, or past its
// prediction) gently.
double lf_brakingG(const LiveAc& a) { return a.braking && a.extendSteps != 0 ? kRollOutG : kHardestBrakingG; }

// The speed (kt) from which braking at `g` comes down to `toKt` over `nm`.
double lf_brakingKt(double toKt, double g, double nm) {
    return std::sqrt(toKt * toKt + 2.0 * g * kKtPerSecondPerG * 3600.0 * nm);
}

// The nose points within 45 degrees of `bearing`: lined up for a take-off roll along it.
bool lf_linedUp(const LiveAc& a, double bearing) {
    return std::abs(gf_angleDiff(gf_headingOf(a.heading), bearing)) <= kRollLinedUpDeg * kRadPerDeg;
}

// The aircraft stops at the point it moves to, or at the one after (a point at the same place is a stop), or
// where its data end (but a take-off roll, which its prediction rolls on).
bool lf_stopAhead(const LiveAc& a) {
    const TrackPoint& to = a.track.front();
    if (to.stopped) return true;
    if (a.track.size() < 2) return !a.takeOffRoll;
    return a.track[1].stopped || (a.track[1].lat == to.lat && a.track[1].lon == to.lon);
}

// The first point of its data in the air or climbing, unless it is known slower than the rotation speed (as a
// roll's reports read as a climb-out can be): where its data lift off.
bool lf_dataLiftOff(const LiveAc& a, const TrackPoint& p) {
    const double rotationKt = g_rotationSpeedKt.at(static_cast<int>(a.category));
    return (p.airborne || p.vs > kRotationClimbFpm) && !(p.speed > 0.0 && p.speed < rotationKt);
}

double lf_liftOffKt(const LiveAc& a) { return g_rotationSpeedKt.at(static_cast<int>(a.category)) + kLiftOffMarginKt; }

// The tick its data lift off at, when its track tells: at their first point in the air or climbing, or where
// their reported ground speed passes its lift-off speed (no aeroplane rolls faster on the runway).
std::optional<std::int64_t> lf_dataLiftOffTick(const LiveAc& a) {
    const double liftOffKt = lf_liftOffKt(a);
    // From the aircraft at its speed now, point by point (NaN: a point without a speed).
    std::int64_t fromTick = gf_aiTick();
    double fromKt = a.groundSpeedKt;
    for (const TrackPoint& q : a.track) {
        if (lf_dataLiftOff(a, q)) return q.playTick;
        if (!q.airborne && q.speedGiven && q.speed >= liftOffKt) {
            if (!(fromKt < liftOffKt) || q.playTick <= fromTick) return std::min<std::int64_t>(fromTick, q.playTick);
            return fromTick + std::llround((liftOffKt - fromKt) / (q.speed - fromKt) * (q.playTick - fromTick));
        }
        fromTick = q.playTick;
        fromKt = q.speedGiven ? q.speed : std::numeric_limits<double>::quiet_NaN();
    }
    return std::nullopt;
}

// The take-off roll's acceleration (kt a tick): the even one that brings it from where it is now to its data's
// lift-off (their first point in the air or climbing; while its data still roll, their last point) at that point's
// time, `leftNm` to the point moved to and the legs on from there. One acceleration for the whole roll, however its
// points are timed on the way: per leg it would drop to the floor wherever it ran ahead of a point and jump to the
// most it gains wherever it fell behind. A roll whose data lift off faster than it may reaches its lift-off speed
// at their lift-off's time, no sooner: it lifts off with its data, a little short of their place. It eases off
// gently (what the plan asks less each second); from a line-up's speed on it is never below the floor, and never
// above what the category gains.
double lf_rollAccel(LiveAc& a, double leftNm) {
    double nm = leftNm;
    std::size_t k = 0;
    for (; k + 1 < a.track.size() && !lf_dataLiftOff(a, a.track[k]); ++k) nm += lf_legNm(a.track[k], a.track[k + 1]);
    const std::int64_t now = gf_aiTick();
    const double t = static_cast<double>(std::max<std::int64_t>(std::int64_t{a.track[k].playTick} - now, 1));
    const double v = a.groundSpeedKt;
    const double least = v >= kRollGainFromKt ? kMinRollGainKtPerS / kTicksPerSecond : 0.0;
    const double most = a.takeOffAccelG * kKtPerSecondPerG / kTicksPerSecond;
    double even = 2.0 * (nm * kTicksPerHour - v * t) / (t * t);
    if (const std::optional<std::int64_t> liftOff = lf_dataLiftOffTick(a))
        even = std::min(even, (lf_liftOffKt(a) - v) / static_cast<double>(std::max<std::int64_t>(*liftOff - now, 1)));
    if (a.rollAccel > 0.0) even = std::max(even, a.rollAccel - kRollEaseKtPerS / kTicksPerSecond / kTicksPerSecond);
    a.rollAccel = std::max(least, std::min(even, most));
    return a.rollAccel;
}

// A landing roll's speed of the next tick (kt): one even deceleration from where it is down to the speed of the
// point where its data roll out (their first point at taxi speed and slower than it, or stopped; while they still
// roll, their last point) at that point's place, `leftNm` to the point moved to and the legs on from there. Braked
// point by point instead, it held its speed to each point and then braked at the hardest to the speed reported
// there, and held or braked again wherever a point's time came early or late: hard seconds alternated with soft
// ones. Slower than its data there, it holds its speed. Nothing once it has rolled out (at taxi speed, no faster
// than its data ahead), or where its data end on a point without a speed.
std::optional<double> lf_rollOutKt(LiveAc& a, double leftNm) {
    const double v = a.groundSpeedKt;
    if (!a.braking || a.takeOffRoll) return std::nullopt;
    const auto rolledOut = [&a, v](const TrackPoint& q) {
        return q.stopped || (q.speedGiven && q.speed <= a.taxiSpeedKt && q.speed < v);
    };
    double nm = leftNm;
    std::size_t k = 0;
    for (; k + 1 < a.track.size() && !rolledOut(a.track[k]); ++k) nm += lf_legNm(a.track[k], a.track[k + 1]);
    const TrackPoint& end = a.track[k];
    if (!end.stopped && !end.speedGiven) return std::nullopt;
    const double endKt = end.stopped ? 0.0 : end.speed;
    if (!(endKt < v) && !(v > a.taxiSpeedKt)) return std::nullopt;
    a.rollOutDecel = 0.0;
    if (endKt < v) a.rollOutDecel = nm > 0.0 ? (v * v - endKt * endKt) / (2.0 * nm * kTicksPerHour) : v - endKt;
    return v - a.rollOutDecel;
}

// The speed (kt) that keeps to the track's times: the way to the point moved to and on through the next one
// (unless the aircraft stops there) in the time left; towards a stop, no faster than it brakes to it. A take-off
// roll wants the speed of the next tick at its acceleration to its data's lift-off; a landing roll that of its even
// braking to where its data roll out.
double lf_scheduleKt(LiveAc& a, double leftNm) {
    const TrackPoint& to = a.track.front();
    const bool stopAhead = lf_stopAhead(a);
    double nm = leftNm;
    std::int64_t ticks = std::int64_t{to.playTick} - gf_aiTick();
    if (!stopAhead && a.track.size() >= 2) {
        nm += lf_legNm(to, a.track[1]);
        ticks = std::int64_t{a.track[1].playTick} - gf_aiTick();
    }
    const double t = static_cast<double>(std::max<std::int64_t>(ticks, 1));
    double kt = to.stopped ? std::numeric_limits<double>::infinity() : nm * kTicksPerHour / t;
    // A take-off roll whose data stop ahead is no take-off: it brakes for the stop like any other roll.
    if (stopAhead) kt = std::min(kt, lf_brakingKt(0.0, kTaxiStopG, leftNm));
    if (a.takeOffRoll) return stopAhead ? kt : a.groundSpeedKt + lf_rollAccel(a, leftNm);
    // A landing roll brakes evenly (where its data end, no stop: its prediction rolls it out).
    if (const std::optional<double> rollOutKt = lf_rollOutKt(a, leftNm)) return *rollOutKt;
    // It reaches a point no faster than reported there (a landing roll brakes harder than a taxi), and a taxi
    // behind its data catches up at no more than a quarter above the speed reported there: late rather than fast.
    if (to.speedGiven && to.speed > 0.0) {
        kt = std::min(kt, lf_brakingKt(to.speed, a.braking ? lf_brakingG(a) : kTaxiStopG, leftNm));
        if (!a.braking) kt = std::min(kt, std::max(kCatchUpFloorKt, kCatchUpShare * to.speed));
    }
    return kt;
}

// The ground speed of this tick, towards `wantKt` as fast as the aircraft may change it: no faster than taxiing
// but on a runway roll, where a take-off does not slow and lifts off just above its rotation speed, and a
// landing does not speed up; `sharpTurn`: it steers round onto its leg, and a take-off roll slows for that too.
// Returns nm per tick.
double lf_governSpeed(LiveAc& a, double wantKt, bool sharpTurn = false) {
    const double v = a.groundSpeedKt;
    double cap = a.taxiSpeedKt;
    if (a.takeOffRoll)
        cap = lf_liftOffKt(a);
    else if (a.braking)
        cap = std::max(cap, v);
    double want = std::clamp(wantKt, 0.0, cap);
    if (a.takeOffRoll && !sharpTurn && !lf_stopAhead(a)) {
        const double gain = v >= kRollGainFromKt ? kMinRollGainKtPerS / kTicksPerSecond : 0.0;
        want = std::max(want, std::min(v + gain, cap));
    }
    const double upG = a.takeOffRoll ? a.takeOffAccelG : a.taxiAccelG;
    const double downG = lf_brakingG(a);
    a.groundSpeedKt = std::clamp(want, v - downG * kKtPerSecondPerG / kTicksPerSecond,
                                 v + upG * kKtPerSecondPerG / kTicksPerSecond);
    return a.groundSpeedKt / kTicksPerHour;
}

// `nm` on along `bearing`, on the plane around the aircraft (a tick's step is short).
void lf_stepAlong(LiveAc& a, double bearing, double nm) {
    const double m = nm / kNmPerMetre;
    a.latitude += m * std::cos(bearing) / kMetresPerDegLat;
    a.longitude += m * std::sin(bearing) / (kMetresPerDegLat * std::cos(a.latitude * kRadPerDeg));
}

// The point moved to is reached. Rolling, before its time: the next leg starts now rather than after a stop on
// the spot (the caller goes on past the point by the rest of its step: a leg's end costs no way, nor a dip in the
// speed its positions show); standing (waiting for its first leg), it waits there.
void lf_reached(LiveAc& a, bool rolling) {
    TrackPoint& to = a.track.front();
    a.latitude = to.lat;
    a.longitude = to.lon;
    a.steeringOntoLeg = false;
    if (to.stopped || !rolling) {
        a.groundSpeedKt = 0.0;
        // A roll that comes to a stop was no take-off: it taxis on from here.
        if (to.stopped) {
            a.takeOffRoll = false;
            if (to.time >= a.takeOffRollFrom) a.takeOffRollFrom = 0.0;
        }
        return;
    }
    to.playTick = static_cast<std::int32_t>(std::min<std::int64_t>(to.playTick, gf_aiTick() + 1));
}

// The data shows the aircraft in the air (or climbing) while its roll reaches its rotation speed, or the roll
// reaches its lift-off speed: it rotates now, flying on along its nose at its speed until the next leg. At its
// lift-off speed it waits on the runway for no data, whatever speed they report there: a roll at take-off thrust
// never holds a speed.
void lf_liftOffWhenFast(LiveAc& a) {
    if (!a.takeOffRoll || a.state != kMoveFollowing || a.track.empty()) return;
    const TrackPoint& to = a.track.front();
    const double rotationKt = g_rotationSpeedKt.at(static_cast<int>(a.category));
    // At its lift-off speed it lifts off, but not before its data do where they tell when.
    const std::optional<std::int64_t> dataLiftOff = lf_dataLiftOffTick(a);
    const bool atLiftOffKt = a.groundSpeedKt >= lf_liftOffKt(a) && !lf_stopAhead(a) &&
                             (!dataLiftOff || gf_aiTick() >= *dataLiftOff);
    if (!to.airborne && !(to.vs > kRotationClimbFpm) && !atLiftOffKt) return;
    if (a.groundSpeedKt < rotationKt + kLiftOffAboveKt) return;
    a.altitudeStep = a.climbAltitudeStep;
    lf_rotate(a);
    // Points its data put it at while it was still rolling lie behind it now.
    while (a.track.size() > 1 &&
           std::abs(gf_angleDiff(gf_headingOf(a.heading), lf_wayTo(a, a.track.front()).bearing)) >= kPi / 2.0)
        a.track.pop_front();
    gf_aimFromRoll(a, 0);
}

// Where the newest reports stand together (at least three of them, within a few metres of the newest one) since
// the time `since`; nothing when they do not.
std::optional<GeoPosition> lf_reportsStandAt(const LiveAc& a, double since) {
    const auto& places = a.reportedPlaces;
    if (places.empty() || places.back().airborne) return std::nullopt;
    const LiveAc::ReportedPlace& newest = places.back();
    // It runs on every tick of a last leg into a stop: the newest few decide.
    std::size_t together = 0;
    for (auto it = places.rbegin(); it != places.rend() && together < kStandingReports; ++it, ++together) {
        if (it->time <= since || it->airborne) return std::nullopt;
        if (gf_distanceNM(newest.lat, newest.lon, it->lat, it->lon) > kStillThereNm) return std::nullopt;
    }
    if (together < kStandingReports) return std::nullopt;
    return GeoPosition{newest.lat, newest.lon};
}

// Where its data end in a stop ahead of it, nearer than the point it drives to (they went on past that point and
// came back to stop short of it, as at a stand), the aircraft drives to where its data end: a place its data have
// passed and left again is not driven out to. So too where the track ends in stops at the point it drives to
// while its reports since then stand together nearer, ahead of it: those reports were taken for a standing
// aircraft's scatter around that point (the data came back past a stand and stopped on it) while the aircraft
// was still far behind.
void lf_passOverLeftPoints(LiveAc& a) {
    if (a.state != kMoveFollowing || a.takeOffRoll || a.braking || a.track.size() < 2) return;
    const TrackPoint& end = a.track.back();
    const TrackPoint& to = a.track.front();
    if (!end.stopped || to.stopped) return;
    const double toNm = lf_wayTo(a, to).nm;
    const WayAhead toEnd = lf_wayTo(a, end);
    if (toEnd.nm < toNm && std::abs(gf_angleDiff(gf_headingOf(a.heading), toEnd.bearing)) <= kPi / 2.0) {
        const TrackPoint stop = end;
        std::size_t k = 1;
        while (k + 1 < a.track.size() && !(a.track[k].lat == stop.lat && a.track[k].lon == stop.lon)) ++k;
        a.track.erase(a.track.begin() + 1, a.track.begin() + static_cast<std::ptrdiff_t>(k));
        a.track.front().lat = stop.lat;
        a.track.front().lon = stop.lon;
        gf_clearGroundCurve(a);
        return;
    }
    if (end.lat != to.lat || end.lon != to.lon) return;
    const std::optional<GeoPosition> standing = lf_reportsStandAt(a, to.time);
    if (!standing || gf_distanceNM(to.lat, to.lon, standing->latitude, standing->longitude) <= kElsewhereNm) return;
    TrackPoint there = to;
    there.lat = standing->latitude;
    there.lon = standing->longitude;
    const WayAhead way = lf_wayTo(a, there);
    if (way.nm >= toNm || std::abs(gf_angleDiff(gf_headingOf(a.heading), way.bearing)) > kPi / 2.0) return;
    const double lat = to.lat, lon = to.lon;
    for (TrackPoint& q : a.track) {
        if (q.lat != lat || q.lon != lon) continue;
        q.lat = there.lat;
        q.lon = there.lon;
    }
    gf_clearGroundCurve(a);
}

// One tick of a taxi or a runway roll, the ground speed decided in one place: along the curve through the
// corner, or straight to the point moved to; a nose far off the way steers onto it, where it points, turning
// no tighter than the smallest radius at that speed and slowing for a sharp turn. An aircraft that cannot keep
// to its track's times within the speed's limits falls behind and catches up within them.
void lf_roll(LiveAc& a) {
    lf_passOverLeftPoints(a);
    const bool rolling = a.groundSpeedKt > 0.0;
    GroundCurve& c = a.groundCurve;
    const TrackPoint& to = a.track.front();
    const bool intoStand = a.state == kMoveToStand && to.lat == a.standLat && to.lon == a.standLon;
    // On the leg into the data's take-off roll the roll starts, once the nose points along the way there and on
    // (lining up from a sharp turn, the aircraft taxis round first).
    if (a.takeOffRollFrom > 0.0 && to.time >= a.takeOffRollFrom && lf_linedUp(a, lf_wayTo(a, to).bearing) &&
        (a.track.size() < 2 || lf_legNm(to, a.track[1]) < kLinedUpLegNm ||
         lf_linedUp(a, gf_initialBearing(to.lat, to.lon, a.track[1].lat, a.track[1].lon))))
        lf_startTakeOffRoll(a);
    if (lf_curveSet(a)) {
        const double leftNm = (1.0 - a.curveParam) * c.length * kNmPerMetre;
        double want = lf_scheduleKt(a, leftNm);
        if (intoStand) want = std::min(want, lf_intoStandKt(a, leftNm));
        // It comes into the corner (the middle of the curve) no faster than reported there.
        if (a.curveCornerKt > 0.0 && !a.takeOffRoll) {
            const double cornerNm = std::max(0.0, 0.5 - a.curveParam) * c.length * kNmPerMetre;
            want = std::min(want, lf_brakingKt(a.curveCornerKt, a.braking ? lf_brakingG(a) : kTaxiStopG, cornerNm));
        }
        const double stepM = lf_governSpeed(a, want) / kNmPerMetre;
        // Near a cusp, where the curve runs less than a share of its length per unit of its parameter, the
        // parameter goes on as if it ran that share.
        const double rate = std::max(lf_curveRate(c, a.curveParam), kMinCurveRateShare * c.length);
        const double param = a.curveParam + (rate > 0.0 ? stepM / rate : 1.0);
        a.curveParam = std::min(param, kMaxCurveParam);
        GeoPosition p;
        double curveHeading = a.heading;
        if (gf_bezierPoint(c, a.curveParam, p, curveHeading)) {
            a.latitude = p.latitude;
            a.longitude = p.longitude;
            if (intoStand)
                lf_turnIntoStand(a, curveHeading, stepM * kNmPerMetre, leftNm);
            else
                lf_turnRolling(a, curveHeading, stepM * kNmPerMetre);
        } else {
            gf_logLine(fmt::format("{} error in curve at index: {:.2F}", a.callsign, a.curveParam));
        }
        if (a.curveParam < kMaxCurveParam) {
            lf_liftOffWhenFast(a);
        } else {
            lf_reached(a, rolling);
            if (rolling && !to.stopped) lf_stepAlong(a, curveHeading, (param - kMaxCurveParam) * rate * kNmPerMetre);
        }
        return;
    }
    const WayAhead way = lf_wayTo(a, to);
    // Into its stand the nose comes round onto the stand's heading on the way: it aims at a point behind the
    // stand on its axis, which closes on the stand as the aircraft does.
    double aim = way.bearing;
    if (intoStand) {
        const double backM = kStandAimShare * way.nm / kNmPerMetre;
        aim = gf_headingOf(std::atan2(way.east - backM * std::sin(a.standHeading),
                                      way.north - backM * std::cos(a.standHeading)));
    }
    const double off = std::abs(gf_angleDiff(gf_headingOf(a.heading), aim));
    // The last metres onto its stand, the stand off its nose (the aircraft stopped just past it, or beside it): it
    // rolls straight onto the spot at a creep, the nose coming round as it rolls, rather than circle round to it.
    if (a.state == kMoveToStand && way.nm <= kOntoStandNm && off > kSteerOffDeg * kRadPerDeg) {
        a.steeringOntoLeg = false;
        const double stepNm = lf_governSpeed(a, std::min(lf_scheduleKt(a, way.nm), kOntoStandKt));
        if (way.nm <= stepNm) {
            lf_reached(a, rolling);
            return;
        }
        lf_turnIntoStand(a, a.standHeading, stepNm, way.nm);
        lf_stepAlong(a, way.bearing, stepNm);
        return;
    }
    // A stop a metre or two off the nose of an aircraft that has all but stopped is where it stands: circling
    // round to it would turn it on the spot.
    if (lf_stopAhead(a) && way.nm <= kBesideStopNm && off > kSteerOffDeg * kRadPerDeg && a.groundSpeedKt <= kCreepKt) {
        TrackPoint& here = a.track.front();
        here.lat = a.latitude;
        here.lon = a.longitude;
        lf_reached(a, false);
        return;
    }
    if (!a.steeringOntoLeg && off > kSteerOffDeg * kRadPerDeg && way.nm > kThereNm) {
        a.steeringOntoLeg = true;
        a.turnRate = std::max(a.turnRate, kSteerTurnRateScale * a.groundTurnRate);
    }
    const bool onTheWay = off <= kSteerOffDeg * kRadPerDeg;
    // Steering, the turn is no wider than reaches the point (half the way to it), nor tighter than the smallest
    // radius unless the point is nearer still.
    const double wayM = way.nm / kNmPerMetre;
    const double tightestM = std::min(kMinTurnRadiusM, wayM / 2.0);
    const double widestM = std::clamp(wayM / 2.0, tightestM, kMaxTurnRadiusM);
    double want = lf_scheduleKt(a, way.nm);
    if (intoStand) want = std::min(want, lf_intoStandKt(a, way.nm));
    const double steerKt = std::abs(a.turnRate) * widestM * kNmPerMetre * kTicksPerHour;
    if (a.steeringOntoLeg && !onTheWay) want = std::min(want, steerKt);
    const double stepNm = lf_governSpeed(a, want, a.steeringOntoLeg && off > kSharpTurnDeg * kRadPerDeg);
    if (intoStand && !a.steeringOntoLeg) {
        lf_turnIntoStand(a, a.standHeading, stepNm, way.nm);
    } else if (!a.steeringOntoLeg && a.turning) {
        lf_turnRolling(a, a.targetHeading, stepNm);
    }
    if (way.nm <= stepNm || (to.stopped && way.nm <= kThereNm && a.groundSpeedKt <= 0.0)) {
        lf_reached(a, rolling);
        if (rolling && !to.stopped) lf_stepAlong(a, way.bearing, stepNm - way.nm);
        return;
    }
    // A landing roll too fast to turn off on the widest radius keeps the runway's line while it brakes: it lags its
    // positions rather than swing wide off the runway.
    const bool holdsLine = a.steeringOntoLeg && a.braking && a.groundSpeedKt > steerKt;
    double along = aim;
    if (a.steeringOntoLeg && !holdsLine) {
        a.targetHeading = aim;
        // On its last metres into the stand the nose steers onto the stand's heading rather than at the spot.
        if (intoStand)
            lf_turnIntoStand(a, way.nm <= 2.0 * kOntoStandNm ? a.standHeading : aim, stepNm, way.nm);
        else
            lf_turnRolling(a, aim, stepNm);
    }
    if (a.steeringOntoLeg && (!onTheWay || holdsLine)) along = a.heading;
    lf_stepAlong(a, along, stepNm);
    lf_liftOffWhenFast(a);
}

}  // namespace

void gf_rollOnToStop(LiveAc& a) {
    if (!a.onGround || a.state != kMoveAirborne || a.category == kCatRotorcraft || a.track.size() < 2 ||
        !a.track[1].stopped)
        return;
    a.previousState = a.state;
    a.state = kMoveFollowing;
    if (a.groundSpeedKt > 0.0) lf_stopAlongNose(a, a.track[1]);
}

bool gf_rollsOnGround(const LiveAc& a) {
    return a.onGround && (a.state == kMoveFollowing || a.state == kMoveToStand) && a.category != kCatRotorcraft &&
           !a.track.empty();
}

bool gf_stillRolling(const LiveAc& a) {
    if (!gf_rollsOnGround(a)) return false;
    return a.groundSpeedKt > 0.0 || lf_wayTo(a, a.track.front()).nm > kThereNm;
}

void lf_followCurve(LiveAc& a) {
    if (gf_rollsOnGround(a)) {
        GroundCurve& c = a.groundCurve;
        if (lf_curveSet(a) && !(c.length > 0.0)) {
            c.length = lf_curveLength(c);
            lf_checkCurveAhead(a);
        }
        lf_roll(a);
        lf_attitude(a);
        a.longitude = std::remainder(a.longitude, 360.0);
        return;
    }
    const double fromLat = a.latitude, fromLon = a.longitude;
    GroundCurve& c = a.groundCurve;
    if (lf_curveSet(a)) {
        if (!(c.length > 0.0)) c.length = lf_curveLength(c);
        // At an even pace along the curve: its parameter goes on by the share of its length a tick covers.
        const double rate = lf_curveRate(c, a.curveParam);
        const double step = rate > kMinCurveRateShare * c.length ? a.curveParamStep * c.length / rate
                                                                 : a.curveParamStep / kMinCurveRateShare;
        a.curveParam = std::min(a.curveParam + step, kMaxCurveParam);
        GeoPosition p;
        double curveHeading = 0.0;
        if (gf_bezierPoint(a.groundCurve, a.curveParam, p, curveHeading)) {
            a.latitude = p.latitude;
            a.longitude = p.longitude;
            if (a.state == kMoveAfterPushback) curveHeading = gf_headingOf(curveHeading + kPi);
            lf_turnTowards(a, curveHeading);
        } else {
            gf_logLine(fmt::format("{} error in curve at index: {:.2F}", a.callsign, a.curveParam));
        }
    } else {
        switch (a.state) {
        case kMoveTakeOff:
        case kMoveAirborne:
            a.heading = gf_headingOf(a.heading + a.headingStep);
            break;
        case kMoveToStand:
            lf_turnTowards(a, a.targetHeading);
            break;
        default:
            // A new or parked aircraft carries its spawn heading in the heading step, which is no rate: it
            // turns like a taxiing one.
            if (a.turning) lf_turnTowards(a, a.targetHeading);
            break;
        }
        if (a.state != kMoveEnginesStarted) {
            a.latitude += a.latStep;
            a.longitude += a.lonStep;
        }
    }
    lf_attitude(a);
    a.longitude = std::remainder(a.longitude, 360.0);
    // The speed it moves at, which a roll on the ground goes on from.
    // Every aircraft pays this every tick: a tick's step is tiny, so the longitude wraps by a comparison rather
    // than a remainder, and the length needs no guard against overflow.
    double dLon = a.longitude - fromLon;
    if (dLon > 180.0)
        dLon -= 360.0;
    else if (dLon < -180.0)
        dLon += 360.0;
    const double north = (a.latitude - fromLat) * kMetresPerDegLat;
    const double east = dLon * kMetresPerDegLat * std::cos(a.latitude * kRadPerDeg);
    a.groundSpeedKt = std::sqrt(north * north + east * east) * kNmPerMetre * kTicksPerHour;
}

void nextPosGround(LiveAc& a) {
    if (a.track.empty()) {
        gf_logLine(fmt::format("{} empty sz?", "nextPosGround"));
        return;
    }
    const std::uint32_t state = a.state;
    switch (state) {
    case kMoveAfterPushback:
        lf_pushBackStep(a);
        break;
    case kMoveParked:
        lf_leaveStandStep(a);
        break;
    case kMoveEnginesStarted:
        break;
    default:
        a.reportedTurnRate = lf_reportedTurnRate(a);
        lf_planGroundLeg(a);
        if (state == kMoveFollowing) lf_detectStop(a);
        if (state == kMoveToStand) lf_turnOntoStand(a);
        break;
    }
    adjustTimeGround(a);
}

void adjustTimeGround(LiveAc& a) {
    if (a.track.size() < 2) {
        gf_logLine(fmt::format("{} empty?", "adjustTimeGround"));
        return;
    }
    const TrackPoint& front = a.track[0];
    const TrackPoint& second = a.track[1];
    const std::int64_t now = gf_aiTick();
    if (second.stopped) {
        // A stop lasts as long as it was received.
        const std::int64_t length = std::max(kMinLegTicks, std::int64_t{second.playTick} - front.playTick);
        const std::int64_t tick = std::max(std::int64_t{front.playTick} + length, now + kMinLegTicks);
        lf_retimeNext(a, tick - now);
        return;
    }
    a.turnRate = a.groundTurnRate;
    const double legNm = lf_legNm(front, second);
    const std::int64_t legTicks = std::max(kMinLegTicks, lf_ticksFor(legNm, lf_legSpeed(a)));
    double turnDeg = 0.0;
    if (a.turning)
        turnDeg = a.turnRemainingDeg;
    else if (lf_curveSet(a))
        turnDeg = a.curveTurnDeg;
    if (turnDeg <= 0.0 || legNm <= 0.0 || !(a.turnRate > 0.0)) {
        lf_retimeNext(a, legTicks);
        return;
    }
    // The turn spreads over the time the leg will really take: the leg speed of a stop's end (0 kt) and a point
    // at a creep says minutes where the timing windows give seconds, and a turn spread over those minutes
    // would still be far from done when the aircraft is there.
    const std::int64_t turnTicks = std::max(kMinLegTicks, lf_retimedTick(a, legTicks) - now);
    const double steps = std::max(1.0, std::round(turnDeg / a.turnRate / 100.0));
    const double r = static_cast<double>(turnTicks) / steps;
    if (turnDeg <= kSharpTurnDeg) {
        // A gentle turn spreads over the leg: the rate goes down (or up on a short leg).
        double f = r;
        if (r >= kMinTurnRatio)
            f = std::min({r * kGentleTurnFactor / turnDeg, r * kGentleTurnMetres * kNmPerMetre / legNm, r});
        if (f == 0.0) {
            lf_retimeNext(a, legTicks);
            return;
        }
        a.turnRate /= std::max(f, 1.0 / kMaxTurnRateScale);
    } else {
        // A sharp turn is flown faster, up to three times the base rate at 90 degrees and more.
        a.turnRate *= std::min(r, std::min(turnDeg, kFullTurnDeg) / kTurnRateDivisorDeg);
        if (turnDeg >= kFullTurnDeg) {
            a.maxAdvanceTicks = std::max(a.maxAdvanceTicks, kSharpTurnWindowTicks);
            a.maxDelayTicks = std::max(a.maxDelayTicks, kSharpTurnWindowTicks);
        }
    }
    lf_retimeNext(a, legTicks);
}

void drive2Stand(LiveAc& a, double standLat, double standLon, double standHeading) {
    if (a.track.empty()) {
        gf_logLine(fmt::format("{} empty sz?", "drive2Stand"));
        return;
    }
    TrackPoint& b = a.track.back();
    b.speed = a.taxiInSpeed;
    // From farther away the way in ends on a straight lead-in along the stand's heading: the turn onto it is
    // driven through the corner there (a curve), not made standing on the stand.
    const double wayNm = gf_distanceNM(b.lat, b.lon, standLat, standLon);
    const double leadInNm = std::max(kLeadInHalfSpans * a.halfSpan, kMinLeadInNm);
    const GeoPosition leadIn =
        gf_destinationPoint(standLat, standLon, gf_headingOf(standHeading + kPi), leadInNm * kFeetPerNm);
    const double turnAtLeadIn =
        gf_angleDiff(gf_initialBearing(b.lat, b.lon, leadIn.latitude, leadIn.longitude), gf_headingOf(standHeading));
    const bool useLeadIn = wayNm > kLeadInWays * leadInNm && std::abs(turnAtLeadIn) <= kMaxLeadInTurnDeg * kRadPerDeg;
    std::int64_t leadInTicks = 0;
    if (useLeadIn) {
        TrackPoint lead = lf_groundPointFrom(b, b.lat, b.lon, 0.0, 0.0);
        lead.lat = leadIn.latitude;
        lead.lon = leadIn.longitude;
        lead.alt = a.altitude;
        lead.speed = lead.tas = a.taxiInSpeed;
        lead.track = standHeading * kDegPerRad;
        leadInTicks = std::max(kMinStandTicks,
                               lf_ticksFor(gf_distanceNM(b.lat, b.lon, lead.lat, lead.lon), a.taxiInSpeed));
        lead.playTick = static_cast<std::int32_t>(std::max(std::int64_t{a.track.front().playTick} + leadInTicks,
                                                           std::int64_t{b.playTick} + kMinLegTicks));
        lead.hexId = a.hexId;
        a.track.push_back(lead);
    }
    const TrackPoint& from = a.track.back();
    const std::int64_t ticks =
        leadInTicks +
        std::max(kMinStandTicks, lf_ticksFor(gf_distanceNM(from.lat, from.lon, standLat, standLon), a.taxiInSpeed));
    TrackPoint stand = from;
    stand.lat = standLat;
    stand.lon = standLon;
    stand.bank = a.bank;
    stand.bankGiven = false;
    stand.heading = 0.0;
    stand.headingGiven = false;
    stand.attitudeGiven = false;
    stand.alt = a.altitude;
    stand.speed = stand.tas = a.taxiInSpeed;
    stand.track = standHeading * kDegPerRad;
    stand.vs = 0.0;
    // Counted from the point moved to now, but never before the point the drive starts from.
    stand.playTick = static_cast<std::int32_t>(
        std::max(std::int64_t{a.track.front().playTick} + ticks, std::int64_t{from.playTick} + kMinLegTicks));
    stand.airborne = false;
    stand.stopped = from.lat == standLat && from.lon == standLon;
    stand.hexId = a.hexId;
    TrackPoint stop = stand;
    stop.speed = stop.tas = 0.0;
    stop.stopped = true;
    const double wayIn = stand.stopped ? a.heading : gf_initialBearing(from.lat, from.lon, standLat, standLon);
    stop.playTick = static_cast<std::int32_t>(stand.playTick + kStandStopTicks);
    a.track.push_back(stand);
    a.track.push_back(stop);
    // Nose first along the way in; on its last metres the nose comes round onto the stand's heading as it rolls.
    a.targetHeading = stand.stopped ? standHeading
                      : useLeadIn  ? gf_initialBearing(b.lat, b.lon, leadIn.latitude, leadIn.longitude)
                                   : wayIn;
    if (lf_predicting(a)) {
        a.extendSteps = 0;
        gf_resetWindows(a);
    }
}

void lf_pullOut(LiveAc& a) {
    a.leaveStand = false;
    a.extendSteps = 0;
    if (a.track.empty()) return;
    a.track.front().speed = a.taxiInSpeed;
    a.track.resize(1);
    TrackPoint target = lf_groundPointFrom(a.track.front(), a.standLat, a.standLon, a.standHeading,
                                           kPullOutSpans * a.halfSpan * kFeetPerNm);
    target.speed = a.taxiInSpeed;
    target.playTick =
        lf_tickIn(lf_ticksFor(gf_distanceNM(a.latitude, a.longitude, target.lat, target.lon), a.taxiInSpeed));
    a.track.push_back(target);
    lf_setState(a, kMoveFollowing);
    a.targetHeading = a.heading;
    lf_taxiOutLights(a);
    lf_startEngines(a);
    if (g_LOG.value()) gf_logLine(fmt::format("{:8}: {:8} pulling out", gf_standName(a.standIndex), a.callsign));
}

void lf_pushBack(LiveAc& a) {
    if (a.track.empty()) return;
    const double back = gf_headingOf(a.standHeading + kPi);
    const double speed = a.taxiInSpeed;
    a.track.front().speed = speed;
    a.track.resize(1);
    TrackPoint p1 = lf_groundPointFrom(a.track.front(), a.latitude, a.longitude, back,
                                       kPushBackRadii * lf_standRadiusNm(a) * kFeetPerNm);
    p1.speed = speed;
    const std::int64_t p1Ticks = lf_ticksFor(gf_distanceNM(a.latitude, a.longitude, p1.lat, p1.lon), speed);
    p1.playTick = lf_tickIn(p1Ticks);
    a.track.push_back(p1);
    lf_insertMidpoint(a);
    // The two places the push-back may turn to: the tail swung to one side or the other.
    const TrackPoint& second = a.track[1];
    std::array<TrackPoint, 2> sides;
    const double bearings[2] = {back + kPi / 2.0, back - kPi / 2.0};
    for (std::size_t i = 0; i < sides.size(); ++i) {
        sides[i] = lf_groundPointFrom(p1, p1.lat, p1.lon, gf_headingOf(bearings[i]), a.halfSpan * kFeetPerNm);
        sides[i].speed = speed;
        const double nm = gf_distanceNM(second.lat, second.lon, sides[i].lat, sides[i].lon);
        sides[i].playTick = lf_tickIn(lf_ticksFor(nm, speed) + p1Ticks / 2);
    }
    a.pushbackAltPoint = sides[0];
    a.track.push_back(sides[1]);
    a.targetHeading = a.heading;
    // Pushed straight back, the nose keeps its heading whatever way the legs behind it point.
    a.turning = false;
    lf_taxiOutLights(a);
    lf_setState(a, kMoveAfterPushback);
    a.standExitTicks = kPushBackPhases;
}

void lf_setCurveThroughPoint(LiveAc& a) {
    if (a.track.size() < 3) return;
    const TrackPoint& front = a.track[0];
    const TrackPoint& second = a.track[1];
    TrackPoint& third = a.track[2];
    if (third.speed == 0.0) third.speed = (front.speed + second.speed) / 2.0;
    a.curveCornerKt = second.speedGiven ? second.speed : 0.0;
    GroundCurve& c = a.groundCurve;
    c.originLat = a.latitude;
    c.originLon = a.longitude;
    c.sLow = 0.0;
    c.sHigh = 1.0;
    c.length = 0.0;
    lf_offsets(c, second, c.controlNorth, c.controlEast);
    lf_offsets(c, third, c.endNorth, c.endEast);
    a.curveParam = 0.0;
    a.track.erase(a.track.begin() + 1);
}

void lf_smoothSpeedChange(LiveAc& a) {
    if (a.track.size() < 2) return;
    const TrackPoint& front = a.track[0];
    const TrackPoint& second = a.track[1];
    if (front.stopped && second.stopped) return;
    if (std::abs(front.speed - second.speed) <= kSpeedChangeKt) return;
    if (lf_legNm(front, second) * kMetresPerNm < kSpeedChangeMinMetres) return;
    lf_insertMidpoint(a);
}

void gf_clearGroundCurve(LiveAc& a) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    a.groundCurve.sLow = a.groundCurve.sHigh = nan;
    a.groundCurve.controlEast = a.groundCurve.controlNorth = nan;
    a.groundCurve.length = 0.0;
    a.curveParam = 0.0;
    a.curveCornerKt = 0.0;
}

void lf_taxiOutLights(const LiveAc& a) {
    gf_sendLights(a.objectId, {.nav = true, .beacon = true, .landing = false, .taxi = true, .strobes = false,
                               .logo = true, .cabin = false});
}
