#include "injection/movement.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <numbers>
#include <stdexcept>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/text.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "injection/ground_movement.h"
#include "injection/removal.h"
#include "injection/sim_sink.h"
#include "injection/spawn.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDeg = 0.017453292519943295;

// A track longer than this means the aircraft no longer keeps up with its data.
constexpr std::size_t kMaxTrackPoints = 200;
// No leg is planned shorter than this.
constexpr std::int64_t kMinLegTicks = 25;
// A knot over one tick, in nautical miles: kt x ticks / 360000.
constexpr double kTicksPerHour = 360000.0;
constexpr double kTicksPerMinute = 6000.0;
// A received point this close to the back point in both latitude and longitude is the same place.
constexpr double kSamePlaceDeg = 0.00015;
// Repeating the back point's place, a point is dropped while a take-off roll is this fast already; a point
// close by but not on it, from the higher speed.
constexpr double kRollSameSpotKt = 30.0;
constexpr double kRollNearSpotKt = 50.0;
// A heading within this of the one steered to counts as reached.
constexpr double kHeadingReached = 0.5 * kRadPerDeg;
// The timing windows of a point never shrink below this.
constexpr std::int32_t kMinWindowTicks = 1000;
constexpr std::int32_t kWindowShrinkTicks = 100;
// ft/min of an aircraft coming down to a ground point that reported no descent.
constexpr double kDefaultDescentFpm = -601.0;

TrackPoint& lf_at(LiveAc& a, std::size_t i) {
    if (i >= a.track.size()) throw std::out_of_range("invalid deque<T> subscript");
    return a.track[i];
}
const TrackPoint& lf_at(const LiveAc& a, std::size_t i) {
    if (i >= a.track.size()) throw std::out_of_range("invalid deque<T> subscript");
    return a.track[i];
}

bool lf_samePlace(const TrackPoint& p, const TrackPoint& q) { return p.lat == q.lat && p.lon == q.lon; }

// In the simulator and off the ground.
bool lf_airborneInSim(const LiveAc& a) { return a.status == kAcInSim && !a.onGround; }

double lf_normalise(double angle) {
    angle = std::fmod(angle, 2.0 * kPi);
    return angle < 0.0 ? angle + 2.0 * kPi : angle;
}

void lf_shrinkWindows(LiveAc& a) {
    if (a.maxAdvanceTicks > kMinWindowTicks)
        a.maxAdvanceTicks = std::max(kMinWindowTicks, a.maxAdvanceTicks - kWindowShrinkTicks);
    if (a.maxDelayTicks > kMinWindowTicks)
        a.maxDelayTicks = std::max(kMinWindowTicks, a.maxDelayTicks - kWindowShrinkTicks);
}

// The rates that bring the aircraft from where it is to the second point `to` in `ticks`.
void lf_planStraightLeg(LiveAc& a, const TrackPoint& to, std::int64_t ticks) {
    const double t = static_cast<double>(ticks);
    a.latStep = (to.lat - a.latitude) / t;
    a.lonStep = (to.lon - a.longitude) / t;
    a.verticalSpeed = to.vs;
    a.speedKt = lf_legSpeed(a);
    if (to.airborne) {
        a.altitudeStep = (to.alt - a.altitude) / t;
    } else if (!a.onGround) {
        // Coming down to a ground point: its altitude 0 means "on the ground", not sea level, so the aircraft
        // sinks at the point's vertical speed (or 601 ft/min) until the simulator puts it on the ground.
        a.altitudeStep = (to.vs < 0.0 ? to.vs : kDefaultDescentFpm) / kTicksPerMinute;
    } else {
        a.altitudeStep = 0.0;
    }
    // Over the leg the heading comes round to the leg's bearing (lf_followCurve).
    const double turn = gf_angleDiff(lf_normalise(a.heading), a.targetHeading);
    a.headingStep = turn / t;
    a.turning = std::abs(turn) > kHeadingReached;
    // Pitch and bank ease to the attitude of the second point over the leg. (rateTicks stays as it is: above
    // 1 it marks a rotation on the ground, and the simulator's reports then hold the aircraft on the ground.)
    a.pitchStep = (gf_spawnPitch(to.airborne, to.vs) - a.pitch) / t;
    a.bankStep = ((to.bankGiven ? to.bank : 0.0) - a.bank) / t;
}

void lf_stopLeg(LiveAc& a) {
    a.latStep = a.lonStep = a.altitudeStep = a.headingStep = a.pitchStep = a.bankStep = 0.0;
    a.turning = false;
}

std::string lf_latLonText(double latitude, double longitude) {
    return fmt::format("{:.6f},{:.6f}", latitude, longitude);
}

// The rest of the tick of an aircraft in the simulator whose track is not empty.
void lf_moveInSim(LiveAc& a) {
    if (gf_aiTick() >= lf_at(a, 0).playTick) nextPosMain(a);
    if (a.status != kAcInSim || a.track.empty()) return;
    a.verticalSpeedFps = a.verticalSpeed / 60.0;
    const bool standing = a.track.front().stopped;
    a.trueAirspeed = standing ? 0.0 : a.speedKt;
    if (!standing) lf_followCurve(a);
    if (a.objectId == 0) {
        gf_logLine(fmt::format("{} objectid=0? hexid: {},cs:{}, reg:{}, aimo:{} sz:{}", "updateLiveAc", a.hexId,
                               a.callsign, a.registration, gf_aimo(a), a.track.size()));
        removeAircraftFromSim(a);
        return;
    }
    gf_simSink().position(AircraftUpdate{a.latitude, a.longitude, a.pitch, a.bank, a.heading, a.altitude,
                                         a.verticalSpeedFps, a.trueAirspeed, a.objectId});
}

}  // namespace

bool updateLiveAc(LiveAc& a) {
    try {
        switch (a.status) {
        case kAcNotInSim:
            if (!a.eraseRequested) updateBufferAc(a);
            break;
        case kAcInSim:
            if (a.track.empty()) {
                constexpr const char* kText =
                    "{} stream empty ? {}, hexid:{}, objectid:{}, alt:{:.0f} ft, lalo:{}, TAS:{:.0f}";
                gf_logLine(fmt::format(kText, "updateLiveAc", gf_acText(a), a.hexId, a.objectId, a.altitude,
                                       lf_latLonText(a.latitude, a.longitude), a.trueAirspeed));
                removeAircraftFromSim(a);
            } else {
                lf_moveInSim(a);
            }
            break;
        default:  // creation queued, respawn or removal requested: the simulator's answer comes first
            break;
        }
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {} {}, sz:{}", "updateLiveAc", e.what(), gf_acText(a), a.track.size()));
    }
    return a.eraseRequested;
}

void nextPosMain(LiveAc& a) {
    try {
        if (a.track.size() >= 2) {
            // In the air a stopped point is no place to go to: it is passed over (a hovering rotorcraft stays).
            if (!a.onGround && a.track[1].stopped && a.category != kCatRotorcraft) {
                a.track.erase(a.track.begin() + 1);
                nextPosMain(a);
                return;
            }
            nextPos(a);
            return;
        }
        // The data ran out. Predicted points and the hold in place come with the full movement model; until
        // then the aircraft leaves.
        removeAircraftFromSim(a);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {} {}, sz:{}", "nextPosMain", e.what(), gf_acText(a), a.track.size()));
    }
}

void nextPos(LiveAc& a) {
    const TrackPoint& front = lf_at(a, 0);
    TrackPoint& second = lf_at(a, 1);
    if (!second.stopped && lf_samePlace(second, front)) second.stopped = true;
    if (!second.stopped) a.targetHeading = gf_initialBearing(front.lat, front.lon, second.lat, second.lon);
    // The ground and air specifics (turn timing, take-off, vertical profile) that may re-time the second
    // point come with the full movement model.
    if (second.stopped) {
        lf_stopLeg(a);
        if (!a.braking && !a.takeOffRoll) lf_shrinkWindows(a);
    } else {
        const std::int64_t ticks = std::max(kMinLegTicks, std::int64_t{second.playTick} - gf_aiTick());
        lf_planStraightLeg(a, second, ticks);
    }
    a.track.pop_front();
    if (a.track.empty()) {
        removeAircraftFromSim(a);
        throw std::runtime_error(fmt::format("{} {} stream at the end is empty?", "nextPos", gf_acText(a)));
    }
}

void decodeExisting(LiveAc& a, const TrackPoint& point) {
    try {
        TrackPoint p = point;
        if (a.track.size() > kMaxTrackPoints) removeAircraftFromSim(a);  // the point is still merged
        // The ground hold, the stand, push-back and engine-start states, the landing roll and approach, and
        // the take-off start come with the ground and landing movement.
        switch (a.state) {
        case kMoveNew:
            if (a.track.empty() || !lf_isSamePosition(a, p)) return;
            p.playTick = std::max(p.playTick, a.track.back().playTick + 1);
            a.track.push_back(p);
            return;
        case kMoveFollowing:
        case kMoveTakeOff:
        case kMoveAirborne:
            if (!a.approach && !a.braking && !lf_isSamePosition(a, p)) return;
            break;
        default:
            break;
        }
        if (!p.airborne && !a.track.empty() && a.track.back().stopped && p.stopped && a.track.size() >= 2 &&
            std::all_of(a.track.begin(), a.track.end(), [](const TrackPoint& q) { return q.stopped; })) {
            // Standing still: the older stops say nothing more.
            a.track.resize(1);
        }
        if (!a.track.empty()) p.playTick = std::max(p.playTick, a.track.back().playTick + 1);
        a.track.push_back(p);
        if (a.track.size() == 2 && a.track[0].stopped && a.track[1].stopped) {
            a.track[0].playTick = static_cast<std::int32_t>(gf_aiTick() + 1);
            a.track[0].speed = a.track[1].speed;
        }
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{} exception {}", "decodeExisting", e.what()));
        throw;
    }
}

bool lf_isSamePosition(const LiveAc& a, TrackPoint& p) {
    if (a.track.empty()) {
        p.stopped = false;
        return true;  // nothing to compare with
    }
    const TrackPoint& b = a.track.back();
    p.stopped = lf_samePlace(p, b);
    if (a.category == kCatRotorcraft) return true;
    // Repeating a place is no news in the air, nor during a take-off roll already under way.
    const auto dropRepeat = [&](double rollSpeedKt) {
        return p.airborne || lf_airborneInSim(a) || (a.takeOffRoll && p.speed > 0.0 && b.speed >= rollSpeedKt);
    };
    if (p.stopped) {
        if (dropRepeat(kRollSameSpotKt)) return false;
        p.speed = 0.0;
        return true;
    }
    if (std::abs(p.lat - b.lat) <= kSamePlaceDeg && std::abs(p.lon - b.lon) <= kSamePlaceDeg) {
        if (dropRepeat(kRollNearSpotKt)) return false;
        // Jitter of a standing aircraft: it stays where it was.
        p.lat = b.lat;
        p.lon = b.lon;
        p.alt = b.alt;
        p.track = b.track;
        p.vs = b.vs;
        p.playTick = b.playTick;
        p.bankGiven = b.bankGiven;
        p.headingGiven = b.headingGiven;
        p.airborne = b.airborne;
        p.attitudeGiven = b.attitudeGiven;
        p.speed = 0.0;
        p.stopped = true;
        return true;
    }
    if (p.speed != 0.0) return true;
    return !((a.takeOffRoll || p.airborne) && b.speed >= kRollNearSpotKt);
}

double lf_legSpeed(const LiveAc& a) {
    const TrackPoint& front = lf_at(a, 0);
    const TrackPoint& second = lf_at(a, 1);
    if (front.speed == 0.0 && second.speed == 0.0) {
        const double ticks = static_cast<double>(
            std::max<std::int64_t>(kMinLegTicks, std::int64_t{second.playTick} - front.playTick));
        const double nm = gf_distanceNM(front.lat, front.lon, second.lat, second.lon);
        return std::max(1.0, nm * kTicksPerHour / ticks);
    }
    return (front.speed + second.speed) / 2.0;
}

double lf_turnAhead(const LiveAc& a) {
    if (a.track.size() < 3) return 0.0;
    const TrackPoint& second = a.track[1];
    const TrackPoint& third = a.track[2];
    return gf_angleDiff(lf_normalise(a.heading), gf_initialBearing(second.lat, second.lon, third.lat, third.lon));
}

bool lf_allAheadAirborne(const LiveAc& a) {
    return std::all_of(std::next(a.track.begin(), a.track.empty() ? 0 : 1), a.track.end(),
                       [](const TrackPoint& q) { return q.airborne; });
}
