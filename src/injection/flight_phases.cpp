#include "injection/flight_phases.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "injection/ground_movement.h"
#include "injection/intake.h"
#include "injection/movement.h"
#include "injection/sim_sink.h"
#include "injection/stand_hooks.h"
#include "simlink/simids.h"
#include "trafficservice/clients.h"

const CategoryTable<double> g_rotationSpeedKt{{0, 90.0}, {1, 110.0}, {2, 140.0}, {3, 150.0}, {4, 220.0}, {5, 0.0}};
const CategoryTable<double> g_maxAirbornePitchRateDeg{{0, 0.01},  {1, 0.0085}, {2, 0.0075},
                                                      {3, 0.005}, {4, 0.03},   {5, 0.03}};
const CategoryTable<double> g_maxBankDeg{{0, 40.0}, {1, 35.0}, {2, 30.0}, {3, 20.0}, {4, 90.0}, {5, 75.0}};
const CategoryTable<double> g_maxBankRateDeg{{0, 0.035}, {1, 0.0275}, {2, 0.02}, {3, 0.015}, {4, 0.1}, {5, 0.06}};
const CategoryTable<double> g_maxAirTurnRateDeg{{0, 0.06}, {1, 0.05}, {2, 0.045}, {3, 0.03}, {4, 0.1}, {5, 0.2}};

std::function<std::optional<GeoPosition>()> g_activeParkAirportPosition;

namespace {

constexpr double kRadPerDeg = 0.017453292519943295;
constexpr std::int64_t kMinLegTicks = 25;
constexpr double kTicksPerHour = 360000.0;
constexpr double kTicksPerMinute = 6000.0;

constexpr std::uint32_t kSpoilersRetracted = 0;
constexpr std::uint32_t kSpoilersDeployed = 16383;
constexpr std::uint32_t kThrottleIdle = 0;
constexpr std::uint32_t kThrottleFull = 4;
// Below this height of the front point the low configuration and lights apply.
constexpr double kHighAltitudeFt = 10000.0;
// ft/min of a descent to a ground point when nothing better is known.
constexpr double kDefaultDescentFpm = -601.0;
// The standard pressure, hPa: from one more on the approach is steepened, and the descent to a ground point
// no longer aims at the field elevation.
constexpr std::int32_t kStandardQnh = 1013;
// The flare ends at this pitch, nose up.
constexpr double kFlarePitch = -4.0 * kRadPerDeg;
// The runway is vacated when the heading is this far off its axis.
constexpr double kRunwayVacatedDeg = 15.0;
// The climb ramps up over this many ticks after the rotation; the gear comes up at its end.
constexpr std::int32_t kClimbRampTicks = 300;
// A descent in the air is at most the steeper reported vertical speed of its points times the margin, but
// never limited below the floor (points without a vertical speed still come down) nor allowed beyond the
// maximum. A point that needs more has a bad altitude.
constexpr double kDescentMargin = 1.5;
constexpr double kMinDescentLimitFpm = 1500.0;
constexpr double kMaxDescentFpm = 5000.0;

TrackPoint& lf_at(LiveAc& a, std::size_t i) {
    if (i >= a.track.size()) throw std::out_of_range("invalid deque<T> subscript");
    return a.track[i];
}

std::int64_t lf_now() { return gf_aiTick(); }

// Ticks of the leg to the second point: until its play tick, at least 25.
std::int64_t lf_legTicks(LiveAc& a) { return std::max(kMinLegTicks, std::int64_t{lf_at(a, 1).playTick} - lf_now()); }

bool lf_rotorcraft(const AiAc& a) { return a.category == kCatRotorcraft; }

// A rotorcraft keeps its rotor at full throttle whatever stage the others use.
void lf_throttleStage(AiAc& a, std::uint32_t index) { lf_setThrottle(a, lf_rotorcraft(a) ? kThrottleFull : index); }

void lf_spoilers(const AiAc& a, std::uint32_t data) {
    if (!lf_rotorcraft(a)) gf_sendClientEvent(a.objectId, kEventSpoilersSet, data);
}

void lf_gear(const AiAc& a, bool down) {
    if (!lf_rotorcraft(a)) gf_sendClientEvent(a.objectId, kEventGearSet, down ? 1 : 0);
}

void lf_cabinLights(const AiAc& a, bool on) { gf_sendClientEvent(a.objectId, kEventCabinLightsSet, on ? 1 : 0); }

// Spoilers handle and both throttle levers (percent) of a Light aircraft are never set.
void lf_engineControls(const AiAc& a, double spoilers, double throttle) {
    if (a.category != kCatLight) gf_simSink().engineControls(a.objectId, spoilers, throttle, throttle);
}

constexpr LightPattern kLowLights{true, true, true, true, true, true, true};
constexpr LightPattern kHighLights{true, true, false, false, false, false, true};
constexpr LightPattern kRunwayVacatedLights{true, true, false, true, false, true, true};

void lf_sendLights(const AiAc& a, const LightPattern& p) { gf_sendLights(a.objectId, p); }

std::optional<double> lf_parkAirportElevation() {
    if (!g_parkAirportElevationFt) return std::nullopt;
    return g_parkAirportElevationFt();
}

bool lf_within10nmOfParkAirport(const LiveAc& a) {
    if (!g_activeParkAirportPosition) return false;
    const auto airport = g_activeParkAirportPosition();
    return airport && gf_distanceNM(a.latitude, a.longitude, airport->latitude, airport->longitude) <= 10.0;
}

// The descent written into the second point and taken as this leg's rates.
void lf_useVerticalSpeed(LiveAc& a, double fpm) {
    lf_at(a, 1).vs = fpm;
    a.verticalSpeed = fpm;
    a.altitudeStep = fpm / kTicksPerMinute;
}

// The leg's position rates aim at the (new) second point.
void lf_aimAtSecond(LiveAc& a) { lf_aimAt(a, lf_at(a, 1), static_cast<double>(lf_legTicks(a))); }

std::int64_t lf_ticksForDistance(double nm, double speedKt) {
    if (!(speedKt > 0.0)) return kMinLegTicks;
    return std::llround(nm * kTicksPerHour / speedKt);
}

void lf_clearStand(LiveAc& a) {
    a.standLat = a.standLon = a.standHeading = 0.0;
    a.standIndex = 0;
    a.standCargo = false;
}

}  // namespace

double gf_descentLimitFpm(double reportedFpm) {
    return std::min(kMaxDescentFpm, std::max(kMinDescentLimitFpm, -reportedFpm * kDescentMargin));
}

double gf_groundBelowFt(const LiveAc& a) {
    if (lf_within10nmOfParkAirport(a)) {
        if (const std::optional<double> field = lf_parkAirportElevation()) return *field;
    }
    return a.altitude - a.heightAboveGround;
}

bool gf_landingAhead(const LiveAc& a) {
    return a.approach && !a.onGround && !lf_rotorcraft(a) && a.heightAboveGround <= kArrivalHeightFt;
}

// ---- Throttle, flaps, flare count ----

void lf_setThrottle(AiAc& a, std::uint32_t index) {
    if (a.throttleState == index) return;
    gf_sendClientEvent(a.objectId, kEventThrottleSet, kThrottleValues.at(index));
    a.throttleState = index;
}

void lf_setFlaps(AiAc& a, std::uint32_t index) {
    if (a.flapsState == index || lf_rotorcraft(a)) return;
    gf_sendClientEvent(a.objectId, kEventFlapsSet, kFlapsValues.at(index));
    a.flapsState = index;
}

void gf_flareCountIn(LiveAc& a) {
    if (a.flareCounted) return;
    a.flareCounted = true;
    ++g_flareActive;
}

void gf_flareCountOut(LiveAc& a) {
    if (!a.flareCounted) return;
    a.flareCounted = false;
    if (g_flareActive > 0) --g_flareActive;
}

void gf_flareCountOutOfListed(AiAc& ac) {
    if (g_liveAc.empty()) return;
    const std::less<const void*> before;
    const void* p = &ac;
    if (before(p, &g_liveAc.front()) || !before(p, &g_liveAc.back() + 1)) return;
    gf_flareCountOut(static_cast<LiveAc&>(ac));
}

// ---- Timing ----

void lf_retimeNext(LiveAc& a, std::int64_t ticks) {
    lf_at(a, 1).playTick = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        lf_retimedTick(a, ticks), std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int64_t lf_retimedTick(const LiveAc& a, std::int64_t ticks) {
    const TrackPoint& p = a.track.at(1);
    const std::int64_t now = lf_now();
    std::int64_t t = now + std::max(kMinLegTicks, ticks);
    if (a.extendSteps < 1) {
        const std::int64_t received = p.playTick;
        if (t > received + a.maxDelayTicks)
            t = received + a.maxDelayTicks;
        else
            t = std::max(t, received - a.maxAdvanceTicks);
        t = std::max(t, now);
    }
    return t;
}

void nextPosAir(LiveAc& a) {
    const TrackPoint& front = lf_at(a, 0);
    const TrackPoint& second = lf_at(a, 1);
    if (second.stopped) {
        if (lf_rotorcraft(a)) adjustTimeGround(a);
        return;
    }
    double speed = 0.0;
    if (a.approach && !second.airborne)
        speed = front.speed > 0.0 ? front.speed : 100.0;
    else
        speed = lf_legSpeed(a);
    const double nm = gf_distanceNM(front.lat, front.lon, second.lat, second.lon);
    lf_retimeNext(a, lf_ticksForDistance(nm, speed));
}

bool lf_retimePoint(LiveAc& a, std::size_t k) {
    if (k < 2 || a.track.size() < k || !a.track[k - 1].airborne) return false;
    a.track.erase(a.track.begin() + 1, a.track.begin() + static_cast<std::ptrdiff_t>(k - 1));
    const TrackPoint& front = a.track[0];
    const TrackPoint& second = a.track[1];
    const double nm = gf_distanceNM(front.lat, front.lon, second.lat, second.lon);
    lf_retimeNext(a, lf_ticksForDistance(nm, lf_legSpeed(a)));
    // The leg's position rates were set for the point that went.
    lf_aimAtSecond(a);
    lf_altitudeRateToPoint(a);
    return true;
}

void lf_insertMidpoint(LiveAc& a) {
    const TrackPoint& front = lf_at(a, 0);
    const TrackPoint& second = lf_at(a, 1);
    TrackPoint mid = front;
    mid.lat = (front.lat + second.lat) / 2.0;
    mid.lon = gf_midLongitude(front.lon, second.lon);
    mid.speed = (front.speed + second.speed) / 2.0;
    mid.playTick = static_cast<std::int32_t>((std::int64_t{front.playTick} + second.playTick) / 2);
    mid.alt = (front.alt + second.alt) / 2.0;
    mid.airborne = mid.alt > 0.0;
    if (!mid.airborne) mid.alt = 0.0;
    mid.stopped = false;
    a.track.insert(a.track.begin() + 1, mid);
}

// ---- Vertical profile ----

double lf_approachVs(const LiveAc& a) {
    if (a.heightAboveGround <= 100.0) return -600.0;
    if (a.track.size() < 2) throw std::out_of_range("invalid deque<T> subscript");
    const double mean = (a.track[0].vs + a.track[1].vs) / 2.0;
    return std::min(kDefaultDescentFpm, mean - (g_qnh.load() - kStandardQnh) * 6.0);
}

void lf_altitudeRateToPoint(LiveAc& a) {
    const TrackPoint& second = lf_at(a, 1);
    if (second.alt <= a.altitude) {
        a.altitudeStep = 0.0;
        return;
    }
    a.altitudeStep = std::min((second.alt - a.altitude) / static_cast<double>(lf_legTicks(a)), a.climbAltitudeStep);
}

void lf_airAltitudeRate(LiveAc& a) {
    const TrackPoint& front = lf_at(a, 0);
    const TrackPoint& second = lf_at(a, 1);
    const double r = (second.alt - a.altitude) / static_cast<double>(lf_legTicks(a));
    // The descent keeps near what the points report; a point far below them is not dived to, the aircraft
    // comes down over the legs that follow. Climbs keep within the category's step, on the approach too.
    const double steepest = -gf_descentLimitFpm(std::min({0.0, front.vs, second.vs})) / kTicksPerMinute;
    // Nothing climbs against its reported descent: below its points (still catching up with a climb they
    // showed before) an aircraft holds its height, and an approach comes down at half the reported rate, until
    // it meets them again. Only a point that does not report a descent is climbed to.
    double highest = a.climbAltitudeStep;
    if (second.vs < 0.0) highest = a.approach ? second.vs / 2.0 / kTicksPerMinute : 0.0;
    if (!a.approach) {
        // Low over the ground a climb keeps at least 0.2 ft a tick; an aircraft whose data does not climb
        // follows its points (a floor there would lift it off its track and drop it back at once).
        const bool climbing = second.vs > 0.0;
        if (a.heightAboveGround > 1000.0 || !climbing)
            a.altitudeStep = std::max(std::min(r, highest), steepest);
        else
            a.altitudeStep = std::min(a.climbAltitudeStep, std::max(r, 0.2));
        return;
    }
    if (front.alt == second.alt && a.heightAboveGround <= 1000.0 && front.vs + second.vs <= 100.0)
        lf_useVerticalSpeed(a, lf_approachVs(a));
    else
        a.altitudeStep = std::clamp(r, steepest, std::max(steepest, highest));
}

void lf_groundPointsAloft(LiveAc& a) {
    double vsSum = 0.0;
    for (const TrackPoint& p : a.track) vsSum += p.vs;
    if (a.approach || vsSum <= 100.0) {
        lf_useVerticalSpeed(a, lf_approachVs(a));
    } else {
        // Still climbing away from points reported on the ground: aim at the first airborne point ahead.
        bool retimed = false;
        for (std::size_t k = 3; !retimed && k <= std::min<std::size_t>(10, a.track.size() - 1); ++k)
            retimed = lf_retimePoint(a, k);
        if (!retimed) lf_useVerticalSpeed(a, std::max(lf_at(a, 1).vs, 601.0));
    }
    lf_gear(a, true);
}

void lf_setBankRate(LiveAc& a, double targetBank, std::int64_t ticks) {
    const double maxBank = g_maxBankDeg.at(static_cast<int>(a.category)) * kRadPerDeg;
    const double maxRate = g_maxBankRateDeg.at(static_cast<int>(a.category)) * kRadPerDeg;
    const double b = std::clamp(targetBank, -maxBank, maxBank);
    const double n = static_cast<double>(std::max<std::int64_t>(1, ticks));
    a.bankStep = std::clamp((-b - a.bank) / n, -maxRate, maxRate);
}

void lf_airVerticalProfile(LiveAc& a) {
    if (a.state != kMoveTakeOff && a.state != kMoveAirborne) {
        a.previousState = a.state;
        a.state = kMoveAirborne;
    }
    TrackPoint& front = lf_at(a, 0);
    TrackPoint& second = lf_at(a, 1);
    a.verticalSpeed = second.vs;
    a.speedKt = second.tas;
    const std::int64_t ticks = lf_legTicks(a);
    const double t = static_cast<double>(ticks);

    if (a.flareStage == 0) {
        if (!front.airborne && !second.airborne) {
            lf_groundPointsAloft(a);
        } else if (!front.airborne) {
            lf_altitudeRateToPoint(a);
        } else if (!second.airborne) {
            // Coming down to a point on the ground. While a park airport is active: to the ground below (its
            // field near it, else the terrain), no steeper than the reported descent allows.
            const bool parkActive = lf_parkAirportElevation().has_value();
            const bool highQnh = g_qnh.load() > kStandardQnh;
            if (highQnh || !parkActive)
                lf_useVerticalSpeed(a, highQnh ? lf_approachVs(a) : kDefaultDescentFpm);
            else
                a.altitudeStep = std::max((gf_groundBelowFt(a) - a.altitude) / t,
                                          -gf_descentLimitFpm(std::min(front.vs, 0.0)) / kTicksPerMinute);
            lf_gear(a, true);
        } else {
            lf_airAltitudeRate(a);
        }
        if (a.state != kMoveTakeOff) {
            // The pitch of the vertical speed: level flight 3 degrees nose up, climbs at most 2400 ft/min
            // worth, descents half of at most 3000 ft/min.
            double v = lf_at(a, 1).vs;
            v = v >= 0.0 ? std::min(v, 2400.0) : std::max(v, -3000.0) / 2.0;
            const double target = (-3.0 - v / 600.0 * 2.2) * kRadPerDeg;
            const double maxRate = g_maxAirbornePitchRateDeg.at(static_cast<int>(a.category)) * kRadPerDeg;
            a.pitchStep = std::clamp((target - a.pitch) / t, -maxRate, maxRate);
        }
    }

    // The points may have changed above.
    const TrackPoint& next = lf_at(a, 1);
    const double attitudeBelowFt = a.approach ? 2000.0 : 1000.0;
    double turn = 0.0;
    if (next.attitudeGiven && next.bankGiven && next.headingGiven && a.heightAboveGround < attitudeBelowFt)
        turn = gf_angleDiff(a.heading, next.heading);
    else
        turn = lf_turnAhead(a);
    const double legTicks = static_cast<double>(lf_legTicks(a));
    // A turn the leg is too short for is flown at the category's fastest rate; the next leg turns on.
    const double maxTurn = g_maxAirTurnRateDeg.at(static_cast<int>(a.category)) * kRadPerDeg;
    a.headingStep = std::clamp(turn / legTicks, -maxTurn, maxTurn);
    // A reported bank is flown as far as the category banks, at its bank rate (the bank is held with the
    // opposite sign of the turn that would give it).
    lf_setBankRate(a, next.bankGiven ? -next.bank : turn, lf_legTicks(a));

    // The rotation and the climb ramp after it configure the aircraft themselves (the gear comes up at the
    // ramp's end); a leg planned meanwhile leaves that alone.
    if (a.state == kMoveTakeOff && a.rateTicks > -kClimbRampTicks) return;
    if (lf_at(a, 0).alt < kHighAltitudeFt) {
        if (!a.lowLightsSet) {
            a.lowLightsSet = true;
            a.highLightsSet = false;
            lf_sendLights(a, kLowLights);
        }
        const bool jet = a.category == kCatBuzjets || a.category == kCatLarge || a.category == kCatHeavy;
        if (a.heightAboveGround > (jet ? 2050.0 : 625.0))
            lf_configHigh(a);
        else
            lf_configLow(a);
    } else {
        lf_configAbove10000(a);
    }
}

// ---- Configuration by height ----

void lf_configAbove10000(LiveAc& a) {
    if (a.highLightsSet) return;
    a.highLightsSet = true;
    // Coming down through 10,000 ft again turns the landing lights back on.
    a.lowLightsSet = false;
    lf_sendLights(a, kHighLights);
    lf_throttleStage(a, 3);
    lf_gear(a, false);
    lf_setFlaps(a, 0);
}

void lf_configHigh(LiveAc& a) {
    gf_shrinkWindows(a);
    lf_cabinLights(a, true);
    a.takeOffRoll = false;
    a.approach = false;
    const double vs = lf_at(a, 0).vs;
    if (vs <= -250.0 && a.throttleState == 3) lf_throttleStage(a, 2);
    if (vs > 400.0 && a.throttleState == 4) lf_throttleStage(a, 3);
    if (a.heightAboveGround >= 2400.0) {
        lf_gear(a, false);
        lf_setFlaps(a, 0);
    } else if (vs <= 100.0) {
        if (a.flapsState == 0)
            lf_setFlaps(a, 1);
        else if (a.flapsState == 1 && a.heightAboveGround < 2000.0)
            lf_setFlaps(a, 2);
    }
}

void lf_configLow(LiveAc& a) {
    lf_cabinLights(a, false);
    const double vs = lf_at(a, 0).vs;
    if (vs > -250.0) {
        // Away from the park airport an approach ends once it is no longer low over the ground.
        const bool climbing = vs > 600.0 || (a.approach && !lf_within10nmOfParkAirport(a) &&
                                             a.heightAboveGround > kArrivalHeightFt);
        if (climbing && !a.climbConfigured) {
            a.climbConfigured = true;
            gf_shrinkWindows(a);
            lf_throttleStage(a, 4);
            lf_gear(a, false);
            a.approach = false;
            lf_setFlaps(a, 0);
            a.flareStage = 0;
            gf_flareCountOut(a);
        }
    } else if (!a.approach && (lf_within10nmOfParkAirport(a) ||
                               (a.heightAboveGround <= kArrivalHeightFt && !lf_rotorcraft(a)))) {
        // On approach to the park airport, or descending low over the ground to any other.
        lf_throttleStage(a, 1);
        lf_setFlaps(a, 3);
        lf_gear(a, true);
        g_spawnedHexIds.push_back(a.hexId);
        a.approach = true;
        a.climbConfigured = false;
        lf_clearStand(a);
        a.maxDelayTicks = a.takeOffRoll ? 5000 : 3000;
        a.maxAdvanceTicks = 3000;
        a.rateTicks = 1;
    }
}

// ---- Take-off ----

void lf_startTakeOffRoll(LiveAc& a) {
    if (a.towed && g_LOG.value()) gf_logLine("towed aircraft takes-off?");
    a.takeOffRoll = true;
    a.takeOffRollFrom = 0.0;
    a.rollAccel = 0.0;
    lf_throttleStage(a, kThrottleIdle);
    lf_spoilers(a, kSpoilersRetracted);
    lf_setFlaps(a, 1);
    a.approach = a.landed = a.climbConfigured = false;
    lf_sendLights(a, kDepartureLights);
    a.maxDelayTicks = 5000;
    a.maxAdvanceTicks = 3000;
    if (!a.airline.empty()) gf_learnStandOfNearbyLiveAc(a, true);
}

void lf_rotate(LiveAc& a) {
    const std::int32_t ticks = static_cast<std::int32_t>(std::max<std::uint32_t>(1, a.rotationTicks));
    a.rateTicks = ticks;
    a.bank = a.bankStep = 0.0;
    a.pitchStep = (a.rotationPitch - a.pitch) / static_cast<double>(ticks);
    if (!a.takeOffRoll) lf_startTakeOffRoll(a);
    if (a.state != kMoveTakeOff) {
        a.previousState = a.state;
        a.state = kMoveTakeOff;
    }
    a.headingStep = 0.0;
    gf_clearGroundCurve(a);
    // It lifts off at the speed it rolled.
    if (!lf_rotorcraft(a)) a.speedKt = std::max(a.speedKt, a.groundSpeedKt);
    if (a.braking) {
        // Going around from the landing roll.
        a.braking = a.approach = a.landed = false;
        lf_throttleStage(a, kThrottleFull);
        lf_spoilers(a, kSpoilersDeployed);
        lf_setFlaps(a, 1);
    }
}

void gf_aimFromRoll(LiveAc& a, std::size_t index) {
    if (lf_rotorcraft(a) || !(a.groundSpeedKt > 0.0) || index >= a.track.size()) return;
    TrackPoint& to = a.track[index];
    const double ticks = std::max(static_cast<double>(kMinLegTicks),
                                  std::round(gf_distanceNM(a.latitude, a.longitude, to.lat, to.lon) * kTicksPerHour /
                                             a.groundSpeedKt));
    to.playTick = static_cast<std::int32_t>(lf_now() + static_cast<std::int64_t>(ticks));
    lf_aimAt(a, to, ticks);
}

void lf_climb(LiveAc& a) {
    const std::int32_t k = --a.rateTicks;
    if (k >= 1) {
        // Rotating on the runway.
        a.onGround = false;
        if (a.pitch > a.rotationPitch) a.pitch = std::max(a.rotationPitch, a.pitch + a.pitchStep);
        return;
    }
    a.bank += a.bankStep;
    if (a.pitch > a.climbPitch) {
        const double ticks = static_cast<double>(std::max<std::uint32_t>(1, a.climbTicks));
        a.pitch = std::max(a.climbPitch, a.pitch + (a.climbPitch - a.rotationPitch) / ticks);
    }
    // The climb ramps up over the 300 ticks after the rotation: 10, 20, 50 % of the rate, then all of it.
    if (k == 0) return;
    if (k >= -99) {
        a.altitude += a.altitudeStep / 10.0;
    } else if (k >= -199) {
        a.altitude += a.altitudeStep / 5.0;
    } else if (k > -kClimbRampTicks) {
        a.altitude += a.altitudeStep * 0.5;
    } else if (k == -kClimbRampTicks) {
        lf_gear(a, false);
        a.altitude += a.altitudeStep;
    } else {
        a.altitude += a.altitudeStep;
        if (a.pitch <= a.climbPitch) {
            a.pitchStep = 0.0;
            if (a.heightAboveGround >= 800.0) {
                lf_throttleStage(a, 3);
                a.previousState = a.state;
                a.state = kMoveAirborne;
                a.rateTicks = 1;
            }
        }
    }
}

void lf_takeOff(LiveAc& a) {
    bool throttleByPhase = true;
    if (a.state == kMoveParked || a.state == kMoveAirborne) {
        a.previousState = a.state;
        a.state = kMoveFollowing;
        throttleByPhase = false;
    }
    const TrackPoint& front = lf_at(a, 0);
    const TrackPoint& second = lf_at(a, 1);
    if (throttleByPhase) {
        if (a.takeOffRoll && !lf_rotorcraft(a)) {
            std::uint32_t index = 4;
            if (front.speed < 25.0 && second.speed < 30.0) {
                if (front.speed >= 20.0 || second.speed >= 25.0)
                    index = 2;
                else if (front.speed >= 15.0 || second.speed >= 20.0)
                    index = 1;
                else
                    index = 0;
            }
            lf_setThrottle(a, index);
        } else if (!a.takeOffRoll && !a.braking) {
            lf_throttleStage(a, kThrottleIdle);
        } else if (a.braking) {
            lf_landingRoll(a);
        }
    }
    if (!a.braking && !a.takeOffRoll) gf_shrinkWindows(a);
    if (a.flareStage == 0 && a.state != kMoveTakeOff) {
        a.pitch = a.staticPitch;
        a.bank = a.pitchStep = a.bankStep = 0.0;
    }
    const std::int64_t ticks = lf_legTicks(a);
    const double t = static_cast<double>(ticks);
    if (!std::isnan(a.groundCurve.controlEast) && !std::isnan(a.groundCurve.controlNorth))
        a.curveParamStep = 1.0 / t;
    a.speedKt = a.state == kMoveAfterPushback ? -second.speed : second.speed;

    // A roll whose reports carry no speed is as fast as its leg.
    const double rollKt = front.speedGiven ? front.speed : lf_legSpeed(a);
    if (!a.takeOffRoll || a.state == kMoveTakeOff || rollKt < 43.0) return;
    const auto ahead = std::next(a.track.begin());
    const bool allClimbing =
        std::all_of(ahead, a.track.end(), [](const TrackPoint& p) { return p.vs > kRotationClimbFpm; });
    // It lifts off no slower than its rotation speed, however early its data does.
    const double rotationSpeed = g_rotationSpeedKt.at(static_cast<int>(a.category));
    if (a.groundSpeedKt < rotationSpeed + kLiftOffAboveKt) return;
    if (allClimbing) {
        a.altitudeStep = lf_allAheadAirborne(a) ? std::max(second.alt - a.altitude, 0.1) / t : a.climbAltitudeStep;
        lf_rotate(a);
        gf_aimFromRoll(a, 1);
        return;
    }
    const bool ready = std::all_of(ahead, a.track.end(),
                                   [&](const TrackPoint& p) { return p.airborne && p.speed >= rotationSpeed; });
    if (ready) {
        a.altitudeStep = a.climbAltitudeStep;
        lf_rotate(a);
        gf_aimFromRoll(a, 1);
    }
}

// ---- Landing ----

void lf_flare(LiveAc& a) {
    // The park airport's field is the one flared to only near it; elsewhere the height over the ground.
    if (a.flareStage == 0 && !a.fieldElevation && lf_within10nmOfParkAirport(a))
        a.fieldElevation = lf_parkAirportElevation();
    a.flareHeight = a.fieldElevation ? a.altitude - *a.fieldElevation : a.heightAboveGround;
    const double height = std::min(a.heightAboveGround, a.flareHeight);
    const auto frontVs = [&a](double fpm) {
        if (!a.track.empty()) a.track.front().vs = fpm;
    };
    switch (a.flareStage) {
    case 0:
        if (a.staticCgHeight + 30.0 < height) return;
        a.pitchStep = (kFlarePitch - a.pitch) / static_cast<double>(std::max<std::uint32_t>(1, a.flareTicks));
        a.altitudeStep = -0.1;
        frontVs(-601.0);
        gf_flareCountIn(a);
        a.flareStage = 1;
        return;
    case 1:
        if (a.staticCgHeight + 20.0 < height) return;
        a.altitudeStep = -0.075;
        frontVs(-450.0);
        a.fieldElevation.reset();
        a.flareStage = 2;
        return;
    case 2:
        if (a.staticCgHeight + 10.0 < height) return;
        lf_throttleStage(a, kThrottleIdle);
        a.altitudeStep = -0.05;
        frontVs(-300.0);
        a.fieldElevation.reset();
        a.flareStage = 3;
        return;
    case 3:
        if (a.staticCgHeight + 3.0 < height) return;
        a.altitudeStep = -0.025;
        frontVs(-150.0);
        a.fieldElevation.reset();
        a.flareStage = 4;
        return;
    default:  // waits for the touchdown
        return;
    }
}

void lf_onAircraftReport(LiveAc& a) {
    // A removal under way or a take-off (the wheels may still touch in the first ticks of the climb) is not a
    // touchdown, and must not stop the climb.
    if (a.status == kAcRemovalRequested || a.state == kMoveTakeOff) return;
    if (a.flareStage != 0 || a.approach) {
        a.derotating = a.braking = true;
        a.rollOutDecel = 0.0;
        gf_flareCountOut(a);
        a.runwayHeading = a.heading;
        a.approach = false;
        a.landed = true;
        lf_spoilers(a, kSpoilersDeployed);
        lf_engineControls(a, 100.0, a.fsltlTitle ? -100.0 : 100.0);
        const std::uint32_t n = a.derotationTicks;
        if (n == 0) {
            gf_logLine(fmt::format("{} ! onGround slots {:.1F}", gf_acText(a), static_cast<double>(n)));
            a.bankStep = -a.bank;
            a.pitchStep = a.staticPitch;
        } else {
            a.bankStep = -a.bank / static_cast<double>(n);
            a.pitchStep = (a.staticPitch - a.pitch) / static_cast<double>(n);
        }
        g_spawnedHexIds.push_back(a.hexId);
    }
    a.onGround = true;
    a.altitudeStep = 0.0;
    a.rateTicks = 1;
    // Down before the end of the leg it flew (its data may reach the field's height only there), it rolls the rest
    // of the leg on its wheels, braking from the touchdown, rather than at the approach's pace to the leg's end.
    if (a.braking && a.state == kMoveAirborne && !lf_rotorcraft(a)) {
        a.previousState = a.state;
        a.state = kMoveFollowing;
    }
}

void lf_landingRoll(LiveAc& a) {
    if (std::abs(gf_angleDiff(a.heading, a.runwayHeading)) >= kRunwayVacatedDeg * kRadPerDeg) {
        lf_setFlaps(a, 0);
        a.braking = false;
        a.runwayHeading = 0.0;
        lf_throttleStage(a, kThrottleIdle);
        lf_spoilers(a, kSpoilersRetracted);
        lf_engineControls(a, 0.0, 0.0);
        lf_sendLights(a, kRunwayVacatedLights);
        return;
    }
    if (lf_at(a, 0).speed > 90.0) return;
    lf_spoilers(a, kSpoilersRetracted);
    lf_engineControls(a, 0.0, 0.0);
    lf_setFlaps(a, 1);
}
