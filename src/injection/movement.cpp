#include "injection/movement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <exception>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "frame/timeutil.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/geodesy.h"
#include "injection/ground_movement.h"
#include "injection/intake.h"
#include "injection/removal.h"
#include "injection/sim_messages.h"
#include "injection/sim_sink.h"
#include "injection/spawn.h"
#include "injection/stand_hooks.h"
#include "simlink/simids.h"
#include "window/requests.h"

namespace {

constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kMetresPerNm = 1852.0;
constexpr double kFeetPerNm = 6076.11549;

// A track longer than this means the aircraft no longer keeps up with its data.
constexpr std::size_t kMaxTrackPoints = 200;
// No leg is planned shorter than this.
constexpr std::int64_t kMinLegTicks = 25;
// A knot over one tick, in nautical miles: kt x ticks / 360000.
constexpr double kTicksPerHour = 360000.0;
constexpr double kTicksPerSecond = 100.0;
constexpr std::int64_t kTicksPerMinute = 6000;
// A received point this close to the back point in both latitude and longitude is the same place.
constexpr double kSamePlaceDeg = 0.00015;
// Repeating the back point's place, a point is dropped while a take-off roll is this fast already; a point
// close by but not on it, from the higher speed.
constexpr double kRollSameSpotKt = 30.0;
constexpr double kRollNearSpotKt = 50.0;
// Ground speed from which two points in a row start the take-off roll, when the positions of the last
// reports show it too, along a straight line: a runway after the line-up, not a taxiway.
constexpr double kTakeOffRollKt = 43.0;
constexpr std::size_t kRollReports = 3;
constexpr double kRollSpanMaxS = 30.0;
constexpr double kRollStraightDeg = 15.0;
constexpr double kRollStepMinNm = 0.0054;  // 10 m
constexpr double kRollSlowingKt = 5.0;
// Every place reported during the roll lies on it: ahead of the one before (but for this much jitter, m), this
// near the line of the roll (m), and no faster than an aircraft gains speed from the one before
// (gf_rollSpeedReachable). Scatter that happens to line up three taken reports jumps about between.
constexpr double kRollBackJitterM = 10.0;
// A place this near (nm, 1 m) the place before was renewed late.
constexpr double kRollRepeatNm = 0.00054;
constexpr double kRollWidthM = 30.0;
constexpr double kLineUpKt = 30.0;
constexpr double kLineUpSpanS = 10.0;
constexpr double kPlacesSpeedSpanS = 5.0;
// The speed of a landing roll's report is read from its places over this long (s): a place renewed late, then a
// jump, would read as a burst of speed over a shorter span.
constexpr double kRollPlacesSpeedSpanS = 10.0;
// Leaving a place it stood at: three reports in a row, 2 m a step at least, within 45 degrees of each other
// seen from the place, no faster than a fast taxi (with 15 m of jitter).
constexpr std::size_t kAwayPlaces = 3;
constexpr double kAwayMinStepNm = 0.0010799136069114472;  // 2 m
constexpr double kAwaySideDeg = 45.0;
constexpr double kAwayMaxKt = 60.0;
constexpr double kAwayJitterNm = 0.0081;  // 15 m
// Sustained motion: six reported places in a row, each at least 2 m from the one before (a repeated or stale
// place is no step), none more than 10 m nearer the first than one before it, their way 80 % of their path at
// least, no step more than half of it, the third place a fifth of the way along at least. Scatter hundreds of
// metres wide seldom lines up six; jitter in place followed by a jump or two, or a slow run ending in a jump,
// is no motion either.
constexpr std::size_t kSustainedPlaces = 6;
constexpr double kSustainedStraightShare = 0.8;
constexpr double kSustainedStepShare = 0.5;
constexpr double kSustainedStartShare = 0.2;
constexpr double kSustainedBackNm = 0.0054;  // 10 m
// A reported speed above this moves the aircraft, wherever the report lies; so does a report this soon (s) after
// a point it moved to.
constexpr double kMovingReportKt = 5.0;
// A place this far (m) along the way on from where the aircraft stands, or less, is still there: beyond the
// scatter of a standing aircraft's places about it.
constexpr double kLeftAlongM = 6.0;
constexpr double kLeftNearM = 10.0;
// Places of the way on from there lie this near (m) its line.
constexpr double kLeftWidthM = 30.0;
constexpr double kMovingOnS = 5.0;
// Places renewed seldom lead away when this many do in a row.
constexpr int kLeadingPlaces = 3;
// A holding aircraft whose reports lie far away this long (s) has left.
constexpr double kFarPlacesS = 20.0;
// A standing aircraft's reports scatter this far (nm, 150 m); a taxiing one's that lie this far behind it
// (degrees off its way) and this near (nm, 60 m) are scatter too.
constexpr double kStandingNoiseNm = 0.081;
constexpr double kBehindDeg = 120.0;
constexpr double kMovingNoiseNm = 0.0324;
// The timing windows of a point: how much earlier or later than its play tick it may be reached.
constexpr std::int32_t kMinWindowTicks = 1000;
constexpr std::int32_t kWindowShrinkTicks = 100;
constexpr std::int32_t kWindowTicks = 3000;
constexpr std::int32_t kRollDelayTicks = 5000;

// A landing roll is filled in when the first ground point lies more than this many seconds of the approach
// speed past the last airborne one; its points lie this many seconds apart, and it ends at least this fast.
constexpr double kFillRollMinSeconds = 4.0;
constexpr double kFillRollStepSeconds = 2.0;
constexpr double kFillRollEndMinKt = 10.0;
// The descent assumed down to the touchdown when the back point reports a shallower one (ft/min).
constexpr double kFillRollMinDescentFpm = 600.0;
// A touchdown nearer than this to the back point (ft) is that point itself: the roll starts from it. The roll's
// points keep this far from the ground point it leads to (nm, 60 m): a shorter leg would read as a hop of scatter.
constexpr double kFillRollMinStepFt = 3.0;
constexpr double kFillRollLastLegNm = 0.0324;

// Stops: one that lasted this long and was left by more than this stays in the track.
constexpr double kKeptStopSeconds = 15.0;
constexpr double kKeptStopLeftNm = 0.011879049676025918;  // 22 m
constexpr std::size_t kStopLookBackFirst = 3, kStopLookBackLast = 7;

// Stands.
constexpr double kAtStandNm = 0.0458963282937365;       // 85 m
constexpr double kStandJumpNm = 0.10799136069114472;    // 200 m: beyond it a parked aircraft is gone
constexpr double kStandDriftNm = 0.0016198704103671706; // 3 m
constexpr double kArrivedNm = 0.0010799136069114472;    // 2 m
constexpr std::uint32_t kDriftsToLeave = 3;
// An aircraft still rolling onto its stand when its stop there comes is waited for this long at a time.
constexpr std::int32_t kStandWaitTicks = 100;

// Predicted points: their spacing in seconds, and how many.
constexpr std::int32_t kGroundStepSeconds = 3;
constexpr std::int32_t kAirStepSeconds = 8;
constexpr std::int32_t kParkedStepSeconds = 604800;  // a week
constexpr std::int32_t kGroundSteps = 10, kAirSteps = 8, kParkedSteps = 1;
constexpr std::int32_t kHoldTicks = 300;
// A predicted approach comes down this many feet a second (about 600 ft/min).
constexpr double kApproachStepDescentFt = 10.005;
constexpr double kHoldNeighbourFactor = 1.2;
// The week of the parked prediction, in ticks.
constexpr std::int64_t kParkedWeekTicks = 60'480'000;

// Heights over the field within this are on the runway as reports go.
constexpr double kGroundBandFt = 100.0;
// A landing predicted from its last report rolls out to this speed before its prediction may end, braking at
// 0.2 g (kt a second); a roll its reports showed brakes on as it braked, but no more gently than 0.05 g.
constexpr double kRolledOutKt = 20.0;
constexpr double kRollOutKtPerS = 3.8;
constexpr double kRollOutLeastKtPerS = 0.95;

// Departure from the stand with the engines running: the aircraft holds until its points are clearly away.
constexpr double kDepartHalfSpans = 2.75, kDepartHoldHalfSpans = 6.0;

// A parked aircraft towed to its stand rather than taxied, when it stood for less than this (ticks).
std::int64_t lf_towedBelowTicks(ModelCategory category) {
    switch (category) {
    case kCatHeavy: return 360'000;
    case kCatLarge: return 150'000;
    case kCatBuzjets: return 90'000;
    default: return 0;
    }
}

TrackPoint& lf_at(LiveAc& a, std::size_t i) {
    if (i >= a.track.size()) throw std::out_of_range("invalid deque<T> subscript");
    return a.track[i];
}
const TrackPoint& lf_at(const LiveAc& a, std::size_t i) {
    if (i >= a.track.size()) throw std::out_of_range("invalid deque<T> subscript");
    return a.track[i];
}

std::int32_t lf_now() { return static_cast<std::int32_t>(gf_aiTick()); }

bool lf_samePlace(const TrackPoint& p, const TrackPoint& q) { return p.lat == q.lat && p.lon == q.lon; }

double lf_distanceNm(const TrackPoint& p, const TrackPoint& q) { return gf_distanceNM(p.lat, p.lon, q.lat, q.lon); }

// Absolute difference in degrees between the aircraft's heading and the bearing from `from` to `to`.
double lf_offHeadingDeg(const LiveAc& a, const TrackPoint& from, const TrackPoint& to) {
    const double bearing = gf_initialBearing(from.lat, from.lon, to.lat, to.lon);
    return std::abs(gf_angleDiff(gf_headingOf(a.heading), bearing)) / kRadPerDeg;
}

// In the simulator and off the ground.
bool lf_airborneInSim(const LiveAc& a) { return a.status == kAcInSim && !a.onGround; }

void lf_setState(LiveAc& a, std::uint32_t state) {
    a.previousState = a.state;
    a.state = state;
}

// Real points arrived: the predicted ones are given up and the movement plans again on the next tick.
void lf_endPrediction(LiveAc& a) {
    lf_at(a, 0).playTick = lf_now() + 1;
    a.extendSteps = 0;
    gf_resetWindows(a);
}

void lf_logEmpty(const char* function) { gf_logLine(fmt::format("{} empty sz?", function)); }

std::string lf_latLonText(double latitude, double longitude) {
    return fmt::format("{:.6f},{:.6f}", latitude, longitude);
}

// The last three reported places (the newest is the point being merged) lead away from `lat`, `lon`: each no
// nearer than the one before and the newest farther, on one side, at a pace an aircraft on the ground can
// have. Position noise of a standing aircraft scatters instead. With fewer places there is nothing to go by:
// the point is taken as a move.
bool lf_movesAwayFrom(const LiveAc& a, double lat, double lon) {
    const auto& places = a.reportedPlaces;
    if (places.size() < kAwayPlaces) return true;  // nothing to tell scatter by
    double lastNm = -1.0;
    std::optional<double> side;
    for (std::size_t i = places.size() - kAwayPlaces; i < places.size(); ++i) {
        const LiveAc::ReportedPlace& q = places[i];
        const double nm = gf_distanceNM(lat, lon, q.lat, q.lon);
        if (nm < lastNm || (i + 1 == places.size() && nm <= lastNm + kAwayMinStepNm)) return false;
        if (i > places.size() - kAwayPlaces) {
            const LiveAc::ReportedPlace& before = places[i - 1];
            const double stepNm = gf_distanceNM(before.lat, before.lon, q.lat, q.lon);
            if (stepNm > std::max(0.0, q.time - before.time) * kAwayMaxKt / 3600.0 + kAwayJitterNm) return false;
        }
        if (nm >= kAwayMinStepNm) {
            const double bearing = gf_initialBearing(lat, lon, q.lat, q.lon);
            if (side && std::abs(gf_angleDiff(*side, bearing)) > kAwaySideDeg * kRadPerDeg) return false;
            if (!side) side = bearing;
        }
        lastNm = nm;
    }
    return true;
}

// The last reported places show sustained motion (see kSustainedPlaces).
bool lf_sustainedMotion(const LiveAc& a) {
    std::array<const LiveAc::ReportedPlace*, kSustainedPlaces> steps{};
    std::size_t n = 0;
    for (auto it = a.reportedPlaces.rbegin(); it != a.reportedPlaces.rend() && n < kSustainedPlaces; ++it) {
        // A place reported again belongs to the time it was first reported.
        if (n > 0 && gf_distanceNM(steps[n - 1]->lat, steps[n - 1]->lon, it->lat, it->lon) < kAwayMinStepNm)
            steps[n - 1] = &*it;
        else
            steps[n++] = &*it;
    }
    if (n < kSustainedPlaces) return false;
    const LiveAc::ReportedPlace& first = *steps[kSustainedPlaces - 1];
    double farthestNm = 0.0, pathNm = 0.0, longestNm = 0.0;
    for (std::size_t i = kSustainedPlaces - 1; i-- > 0;) {
        const LiveAc::ReportedPlace& q = *steps[i];
        const LiveAc::ReportedPlace& before = *steps[i + 1];
        const double nm = gf_distanceNM(first.lat, first.lon, q.lat, q.lon);
        if (nm < farthestNm - kSustainedBackNm) return false;
        farthestNm = std::max(farthestNm, nm);
        const double stepNm = gf_distanceNM(before.lat, before.lon, q.lat, q.lon);
        pathNm += stepNm;
        longestNm = std::max(longestNm, stepNm);
    }
    const LiveAc::ReportedPlace& newest = *steps[0];
    const double wayNm = gf_distanceNM(first.lat, first.lon, newest.lat, newest.lon);
    const LiveAc::ReportedPlace& middle = *steps[kSustainedPlaces / 2];
    const double firstHalfNm = gf_distanceNM(first.lat, first.lon, middle.lat, middle.lon);
    return wayNm >= kSustainedStraightShare * pathNm && longestNm <= kSustainedStepShare * pathNm &&
           firstHalfNm >= kSustainedStartShare * wayNm;
}

// Every place reported in the last 20 s lies farther from `b` than the one first reported before it, on one
// side: positions renewed seldom but leading away (three at least besides its own).
bool lf_leadsAwayFrom(const LiveAc& a, const TrackPoint& b) {
    const auto& places = a.reportedPlaces;
    if (places.empty()) return false;
    const double lat = b.lat, lon = b.lon;
    const double since = places.back().time - kFarPlacesS;
    double lastNm = kAwayMinStepNm;
    std::optional<double> side;
    int distinct = 0;
    for (const LiveAc::ReportedPlace& q : places) {
        if (q.time < since) continue;
        const double nm = gf_distanceNM(lat, lon, q.lat, q.lon);
        if (nm < kAwayMinStepNm && distinct == 0) continue;  // still where it stood
        if (distinct > 0 && std::abs(nm - lastNm) < kAwayMinStepNm) continue;  // the same place again
        if (nm < lastNm) return false;
        const double bearing = gf_initialBearing(lat, lon, q.lat, q.lon);
        if (side && std::abs(gf_angleDiff(*side, bearing)) > kAwaySideDeg * kRadPerDeg) return false;
        if (!side) side = bearing;
        lastNm = nm;
        ++distinct;
    }
    return distinct >= kLeadingPlaces;
}

// The reports of an aircraft at `front` lie farther than `farNm` from it, together, from the newest back for
// `forS` (or all the kept ones do); with fewer than three kept there is nothing to tell a misreading by.
bool lf_liesFarAway(const LiveAc& a, const TrackPoint& front, double farNm, double forS) {
    const auto& places = a.reportedPlaces;
    if (places.size() < kAwayPlaces) return true;
    const LiveAc::ReportedPlace& newest = places.back();
    for (auto it = places.rbegin(); it != places.rend(); ++it) {
        const bool far = gf_distanceNM(front.lat, front.lon, it->lat, it->lon) > farNm &&
                         gf_distanceNM(newest.lat, newest.lon, it->lat, it->lon) <= kStandingNoiseNm;
        if (!far) return it != places.rbegin() && newest.time - std::prev(it)->time >= forS;
    }
    return true;
}

// A ground report that only scatters: around the place the aircraft stands at (until its reports lead away
// from it), a little behind the way it taxis, or beyond the scatter of a standing aircraft from the last point
// without a speed that moves it (a standing aircraft's scatter reaches hundreds of metres) until its reports
// show sustained motion or have lain together over there for a while.
bool lf_groundScatter(const LiveAc& a, const TrackPoint& b, const TrackPoint& p) {
    if (p.airborne || b.airborne || lf_rollReported(a) || a.braking) return false;
    const double nm = lf_distanceNm(b, p);
    // Moving a few seconds ago (a roll whose positions come stale and in jumps), it goes on.
    const bool movingOn = !b.stopped && p.time - b.time <= kMovingOnS;
    if (nm > kStandingNoiseNm && !(p.speedGiven && p.speed > kMovingReportKt) && !movingOn) {
        return !lf_sustainedMotion(a) && !lf_leadsAwayFrom(a, b) &&
               !lf_liesFarAway(a, b, kStandingNoiseNm, kFarPlacesS);
    }
    if (b.stopped) {
        // With fewer than three places kept there is nothing to tell scatter by: the point is a move.
        return a.reportedPlaces.size() >= kAwayPlaces && !lf_sustainedMotion(a) && !lf_leadsAwayFrom(a, b);
    }
    if (nm > kMovingNoiseNm) return false;
    double way = gf_headingOf(a.heading);
    for (auto it = std::next(a.track.rbegin()); it != a.track.rend(); ++it) {
        if (lf_samePlace(*it, b)) continue;
        way = gf_initialBearing(it->lat, it->lon, b.lat, b.lon);
        break;
    }
    return std::abs(gf_angleDiff(way, gf_initialBearing(b.lat, b.lon, p.lat, p.lon))) > kBehindDeg * kRadPerDeg;
}

// The speed (kt) its last reported places show: over the last `spanS` (5 s) or more, 0 when they do not tell.
double lf_placesSpeedKt(const LiveAc& a, double spanS = kPlacesSpeedSpanS) {
    const auto& places = a.reportedPlaces;
    if (places.size() < 2) return 0.0;
    const LiveAc::ReportedPlace& to = places.back();
    for (auto it = std::next(places.rbegin()); it != places.rend(); ++it) {
        const double span = to.time - it->time;
        if (span < spanS && std::next(it) != places.rend()) continue;
        return span > 0.0 ? gf_distanceNM(it->lat, it->lon, to.lat, to.lon) / span * 3600.0 : 0.0;
    }
    return 0.0;
}

// The places reported before `time` show the aircraft slow on the ground over a few seconds (lined up, or
// taxiing onto the runway): what a landing roll, fast from its first ground report, never shows.
bool lf_linedUpBefore(const LiveAc& a, double time) {
    const auto& places = a.reportedPlaces;
    for (std::size_t i = 0; i < places.size(); ++i) {
        if (places[i].airborne || places[i].time >= time) continue;
        for (std::size_t j = i + 1; j < places.size() && places[j].time < time && !places[j].airborne; ++j) {
            const double span = places[j].time - places[i].time;
            if (span < kLineUpSpanS) continue;
            const double nm = gf_distanceNM(places[i].lat, places[i].lon, places[j].lat, places[j].lon);
            if (nm / span * 3600.0 < kLineUpKt) return true;
            break;
        }
    }
    return false;
}

// Every place reported from `first` to `last` advances along the line between them and keeps near it.
bool lf_placesAlongRoll(const LiveAc& a, const TrackPoint& first, const TrackPoint& last) {
    const LocalOffset end = gf_offsetMetres(first.lat, first.lon, last.lat, last.lon);
    const double length = std::hypot(end.north, end.east);
    if (!(length > 0.0)) return false;
    double reached = 0.0;
    const LiveAc::ReportedPlace* before = nullptr;
    std::optional<double> lastKt;
    for (const LiveAc::ReportedPlace& q : a.reportedPlaces) {
        if (q.time < first.time || q.time > last.time) continue;
        const LocalOffset o = gf_offsetMetres(first.lat, first.lon, q.lat, q.lon);
        const double along = (o.north * end.north + o.east * end.east) / length;
        const double across = std::abs(o.north * end.east - o.east * end.north) / length;
        if (across > kRollWidthM) return false;
        if (along < reached - kRollBackJitterM) return false;
        // A place repeated says nothing of the speed: the roll goes on from the places before it.
        if (before && gf_distanceNM(before->lat, before->lon, q.lat, q.lon) < kRollRepeatNm) continue;
        reached = std::max(reached, along);
        if (before && q.time > before->time) {
            const double span = q.time - before->time;
            const double kt = gf_distanceNM(before->lat, before->lon, q.lat, q.lon) / span * 3600.0;
            if (lastKt && kt > gf_rollSpeedReachable(*lastKt, span)) return false;
            lastKt = kt;
        }
        before = &q;
    }
    return true;
}

// The take-off roll as the positions show it: the new point and the received ground points before it, at
// least three reports of the last 30 s, each at take-off roll speed, covered at that speed and along one line.
// Returns the time of the first of them, where the roll is under way.
std::optional<double> lf_rollShown(const LiveAc& a, const TrackPoint& p) {
    std::vector<const TrackPoint*> points{&p};
    for (auto it = a.track.rbegin(); it != a.track.rend() && points.size() < kRollReports; ++it) {
        if (it->stopped || it->airborne || !(it->time < points.back()->time)) continue;
        if (p.time - it->time > kRollSpanMaxS) break;
        points.push_back(&*it);
    }
    if (points.size() < kRollReports) return std::nullopt;
    const TrackPoint& first = *points.back();
    // It speeds up (a landing roll slows down), by its speeds and its positions, from a line-up: slow
    // before, or standing in the simulator now.
    const TrackPoint& middle = *points[1];
    const auto kt = [](const TrackPoint& from, const TrackPoint& to) {
        return lf_distanceNm(from, to) / std::max(to.time - from.time, 0.1) * 3600.0;
    };
    if (p.speed + kRollSlowingKt < first.speed || kt(middle, p) + kRollSlowingKt < kt(first, middle)) return std::nullopt;
    if (!lf_linedUpBefore(a, first.time)) return std::nullopt;
    const double nm = lf_distanceNm(first, p);
    if (nm / (p.time - first.time) * 3600.0 < kTakeOffRollKt) return std::nullopt;
    const double chord = gf_initialBearing(first.lat, first.lon, p.lat, p.lon);
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const TrackPoint& to = *points[i];
        const TrackPoint& from = *points[i + 1];
        if (!to.airborne && to.speedGiven && to.speed < kTakeOffRollKt) return std::nullopt;
        if (lf_distanceNm(from, to) < kRollStepMinNm) continue;
        const double bearing = gf_initialBearing(from.lat, from.lon, to.lat, to.lon);
        if (std::abs(gf_angleDiff(chord, bearing)) > kRollStraightDeg * kRadPerDeg) return std::nullopt;
    }
    if (!lf_placesAlongRoll(a, first, p)) return std::nullopt;
    return first.time;
}

// The data's take-off roll, under way at the point of time `at`, began with the first of the received points
// before it that are neither stopped nor slower than a line-up by their reported speed. The aircraft, shown
// behind its reports, taxis until it rolls on the leg that leads there.
void lf_rollFrom(LiveAc& a, double at) {
    double from = at;
    for (auto it = a.track.rbegin(); it != a.track.rend(); ++it) {
        if (it->time >= at) continue;
        if (it->stopped || it->airborne || (it->speedGiven && it->speed < kLineUpKt)) break;
        from = it->time;
    }
    a.takeOffRollFrom = from;
}

// Both the back point and the new one are airborne during the landing roll: the aircraft goes around.
void lf_goAround(LiveAc& a) {
    lf_setState(a, kMoveFollowing);
    a.takeOffRoll = true;
    lf_setThrottle(a, 3);
    if (a.category != kCatRotorcraft) gf_sendClientEvent(a.objectId, kEventSpoilersSet, 16383);
    lf_setFlaps(a, 1);
    a.approach = a.landed = a.climbConfigured = false;
    gf_sendLights(a.objectId, kDepartureLights);
    gf_resetWindows(a);
}

// The stand observation of a live aircraft at its stand, kept for the stand reservations.
void lf_recordStandObservation(LiveAc& a, bool learnKey, WeekSlot slot, bool forget) {
    if (a.airline.empty() || a.standCargo != a.cargo) return;
    if (gf_addRealParkPosOption(a, learnKey, slot, forget)) gf_reserveStand(a.hexId, slot);
}

// The rest of the tick of an aircraft in the simulator whose track is not empty.
void lf_moveInSim(LiveAc& a) {
    if (gf_aiTick() >= lf_at(a, 0).playTick) nextPosMain(a);
    if (a.status != kAcInSim || a.track.empty()) return;
    a.verticalSpeedFps = a.verticalSpeed / 60.0;
    // A stop the aircraft has not yet rolled to is still rolled to.
    const bool standing = a.track.front().stopped && !gf_stillRolling(a);
    if (!standing) {
        lf_followCurve(a);
    } else {
        a.groundSpeedKt = 0.0;
    }
    a.trueAirspeed = standing ? 0.0 : gf_rollsOnGround(a) ? a.groundSpeedKt : a.speedKt;
    if (a.objectId == 0) {
        gf_logLine(fmt::format("{} objectid=0? hexid: {},cs:{}, reg:{}, aimo:{} sz:{}", "updateLiveAc", a.hexId,
                               a.callsign, a.registration, gf_aimo(a), a.track.size()));
        removeAircraftFromSim(a);
        return;
    }
    gf_simSink().position(AircraftUpdate{a.latitude, a.longitude, a.pitch, a.bank, a.heading, a.altitude,
                                         a.verticalSpeedFps, a.trueAirspeed, a.objectId});
}


// Another live aircraft taxiing in the simulator so close that holding in place would block it.
bool lf_taxiingNeighbour(const LiveAc& a) {
    for (const LiveAc& o : g_liveAc) {
        if (&o == &a || !o.onGround || o.state != kMoveFollowing || o.status != kAcInSim) continue;
        if (o.objectId == a.objectId) continue;
        const double limit = (a.halfSpan + o.halfSpan) * kHoldNeighbourFactor;
        if (gf_distanceNM(a.latitude, a.longitude, o.latitude, o.longitude) <= limit) return true;
    }
    return false;
}

// Speed of the next predicted point of a take-off roll.
void lf_rollOn(TrackPoint& c) {
    const double v = c.speed;
    if (v <= 30.0) {
        c.speed = 40.0;
    } else if (v <= 60.0) {
        c.speed = 80.0;
    } else if (v <= 100.0) {
        c.speed = 110.0;
    } else if (v <= 140.0) {
        c.speed = 150.0;
        c.vs = 600.0;
    } else if (v <= 160.0) {
        c.speed = 170.0;
        c.vs = 1200.0;
    } else {
        c.speed = 180.0;
        c.vs = 2400.0;
    }
}

// Speed of the next predicted point of a landing roll: it brakes evenly for a step, down to where it has rolled
// out; a roll under way at the rate it brakes (a harder prediction would have it brake harder where its data end).
void lf_brakeOn(const LiveAc& a, TrackPoint& c) {
    const double ktPerS = a.rollOutDecel > 0.0
                             ? std::clamp(a.rollOutDecel * kTicksPerSecond, kRollOutLeastKtPerS, kRollOutKtPerS)
                             : kRollOutKtPerS;
    if (c.speed > kRolledOutKt) c.speed = std::max(c.speed - ktPerS * kGroundStepSeconds, kRolledOutKt);
    c.vs = 0.0;
}

// A ground point after an airborne back point that the aircraft in the air could not come down to in the
// time between the two reports, at the steepest descent its reports allow: its on-ground flag is wrong.
bool lf_groundOutOfReach(const LiveAc& a, const TrackPoint& p) {
    if (p.airborne || a.track.empty() || a.status != kAcInSim || a.onGround) return false;
    const TrackPoint& b = a.track.back();
    if (!b.airborne) return false;
    const double height = b.alt - gf_groundBelowFt(a) - kGroundBandFt;
    const double seconds = std::max(0.0, p.time - b.time);
    return height > gf_descentLimitFpm(std::min(b.vs, 0.0)) * seconds / 60.0;
}

void lf_makeStop(TrackPoint& c) {
    c.stopped = true;
    c.speed = 0.0;
}

// The play tick of the reports' time `time`: as far before `p`'s as that time lies before `p`'s.
std::int64_t lf_playTickOf(const TrackPoint& p, double time) {
    return std::int64_t{p.playTick} - std::llround((p.time - time) * 100.0);
}

// Appends a stop where the track ends, at the reports' time `time` and play tick `tick`, when that tick lies between
// the track's last point and the moving point `p` that follows.
void lf_stopBefore(LiveAc& a, const TrackPoint& p, double time, std::int64_t tick) {
    const TrackPoint& b = a.track.back();
    if (tick <= b.playTick || tick >= p.playTick) return;
    TrackPoint stop = b;
    stop.time = time;
    stop.playTick = static_cast<std::int32_t>(tick);
    lf_makeStop(stop);
    a.track.push_back(stop);
}

// A moving ground point `p` after stops at one place that its reports left before the last of them: reports of a
// roll that carry no speed are taken for the scatter of the standing aircraft until their positions lead away
// for good, and each one taken so became a stop there. The stops end where the reports last stood there, along
// the way to `p` (a standing aircraft's places scatter a few metres either side), so that the aircraft sets off
// with its reports rather than after the last of them taken for scatter.
void lf_leaveWhereReportsLeft(LiveAc& a, const TrackPoint& p) {
    const TrackPoint& b = a.track.back();
    std::size_t first = a.track.size() - 1;
    while (first > 0 && a.track[first - 1].stopped && lf_samePlace(a.track[first - 1], b)) --first;
    const LocalOffset way = gf_offsetMetres(b.lat, b.lon, p.lat, p.lon);
    const double wayM = std::hypot(way.north, way.east);
    if (!(wayM > kLeftAlongM)) return;
    // Back from `p`, the places ahead on the way to it (the scatter of a standing aircraft lies all round) down to
    // the last one still where it stands.
    std::optional<double> left;
    for (auto it = a.reportedPlaces.rbegin(); it != a.reportedPlaces.rend(); ++it) {
        if (it->time >= p.time || it->airborne) continue;
        if (first > 0 && it->time <= a.track[first - 1].time) break;
        const LocalOffset o = gf_offsetMetres(b.lat, b.lon, it->lat, it->lon);
        const double along = (o.north * way.north + o.east * way.east) / wayM;
        const double across = std::abs(o.north * way.east - o.east * way.north) / wayM;
        if (along <= kLeftAlongM && std::hypot(o.north, o.east) <= kLeftNearM) {
            left = it->time;
            break;
        }
        if (across > kLeftWidthM) return;
    }
    if (!left || *left >= b.time) return;
    std::size_t keep = first;
    while (keep + 1 < a.track.size() && a.track[keep + 1].time <= *left) ++keep;
    a.track.erase(a.track.begin() + static_cast<std::ptrdiff_t>(keep) + 1, a.track.end());
    const std::int64_t tick = std::max<std::int64_t>(lf_playTickOf(p, *left), lf_now() + 1);
    TrackPoint& s = a.track.back();
    if (s.time < *left)
        lf_stopBefore(a, p, *left, tick);
    else if (tick < s.playTick)
        s.playTick = static_cast<std::int32_t>(tick);
}

// A moving ground point `p` after a stop (or after the first point of a new aircraft, standing): the stop lasts as
// long as the reports still show the aircraft there. Those are too alike to be taken (a standing aircraft's are
// taken once per 15 s) and are kept as places only; without them the aircraft would move off at the last one
// taken, long before its reports do. (A roll's repeated place is no stop.)
void lf_standWhileReported(LiveAc& a, const TrackPoint& p) {
    if (a.track.empty() || p.airborne || p.stopped || lf_rollReported(a) || a.braking) return;
    const TrackPoint& b = a.track.back();
    const bool firstStanding = a.state == kMoveNew && a.track.size() == 1 && b.speed <= kMovingReportKt;
    if (b.airborne || !(b.stopped || firstStanding)) return;
    std::optional<double> still;
    for (auto it = a.reportedPlaces.rbegin(); it != a.reportedPlaces.rend() && it->time > b.time; ++it) {
        if (it->time >= p.time || it->airborne) continue;
        if (gf_distanceNM(b.lat, b.lon, it->lat, it->lon) > kStillThereNm) continue;
        still = it->time;
        break;
    }
    if (!still) {
        if (b.stopped && !p.speedGiven) lf_leaveWhereReportsLeft(a, p);
        return;
    }
    lf_stopBefore(a, p, *still, lf_playTickOf(p, *still));
}

}  // namespace

void gf_resetWindows(LiveAc& a) {
    a.maxAdvanceTicks = kWindowTicks;
    a.maxDelayTicks = a.takeOffRoll ? kRollDelayTicks : kWindowTicks;
}

void gf_shrinkWindows(LiveAc& a) {
    if (a.maxAdvanceTicks > kMinWindowTicks)
        a.maxAdvanceTicks = std::max(kMinWindowTicks, a.maxAdvanceTicks - kWindowShrinkTicks);
    if (a.maxDelayTicks > kMinWindowTicks)
        a.maxDelayTicks = std::max(kMinWindowTicks, a.maxDelayTicks - kWindowShrinkTicks);
}

// ---- Per tick ----

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

// ---- Merging a received point ----

void decodeExisting(LiveAc& a, const TrackPoint& point) {
    try {
        TrackPoint p = point;
        // The aircraft no longer keeps up with its data; the point is still merged. (A second removal of the
        // same aircraft queues nothing more.)
        if (a.track.size() > kMaxTrackPoints) removeAircraftFromSim(a);
        // Far from where it holds in place, a point its reports lead to (a roll whose first report taken lies far
        // down the runway: a standing aircraft's are taken once per 15 s) is where it went.
        if (a.holding && !a.track.empty() &&
            lf_distanceNm(a.track.front(), p) * kMetresPerNm > g_HOLDING_THRESHOLD_METERS.value() &&
            !lf_leadsAwayFrom(a, a.track.front())) {
            // Its data jumped far away while it held in place: it left only when its reports have lain there
            // for a while. Far reports among near ones, far ones scattered all over, or a few seconds of them
            // somewhere else are misreadings, and dropped.
            const double thresholdNm = g_HOLDING_THRESHOLD_METERS.value() / kMetresPerNm;
            if (!lf_liesFarAway(a, a.track.front(), thresholdNm, kFarPlacesS)) return;
            a.holding = false;
            a.holdStartTick = 0;
            removeAircraftFromSim(a);
            return;
        }
        switch (a.state) {
        case kMoveNew:
            if (a.track.empty() || !lf_isSamePosition(a, p)) return;
            lf_standWhileReported(a, p);
            p.playTick = std::max(p.playTick, a.track.back().playTick + 1);
            a.track.push_back(p);
            return;
        case kMoveToStand:
        case kMoveParked:
            if (a.status == kAcNotInSim || a.status == kAcCreationQueued) return;
            if (!lf_checkPosAtStand(a, p)) return;
            break;
        case kMoveAfterPushback: {
            // The data shows to which side the push-back turns; the point itself is not used.
            if (g_STRAIGHT_PBS_ONLY.value() || a.standExitTicks != 2) return;
            double newHeading = p.heading;
            if (!p.headingGiven) {
                if (p.track == 0.0) return;
                newHeading = p.track * kRadPerDeg;
            }
            a.pushbackToAlt = gf_angleDiff(gf_headingOf(a.heading), gf_headingOf(newHeading)) > 0.0;
            a.pushbackSideKnown = true;
            return;
        }
        case kMoveEnginesStarted: {
            const double d = gf_distanceNM(a.latitude, a.longitude, p.lat, p.lon);
            const bool clearlyAway = d > kDepartHalfSpans * a.halfSpan && d > a.departureDistanceRef;
            if (!clearlyAway && d <= kDepartHoldHalfSpans * a.halfSpan) {
                if (!a.holding) {
                    a.holding = true;
                    a.holdStartTick = static_cast<std::uint32_t>(lf_now());
                }
                a.departureDistanceRef = d;
                return;
            }
            // It departs.
            p.stopped = false;
            if (a.extendSteps >= 1) lf_endPrediction(a);
            a.pushbackSideKnown = false;
            a.standExitTicks = 0;
            lf_setState(a, kMoveFollowing);
            a.standLat = a.standLon = a.standHeading = 0.0;
            a.standIndex = 0;
            a.standCargo = false;
            a.holding = false;
            a.holdStartTick = 0;
            break;
        }
        case kMoveFollowing:
        case kMoveTakeOff:
        case kMoveAirborne:
            // One report flagged on the ground high in the air does not start a landing.
            if (lf_groundOutOfReach(a, p)) return;
            if (!a.approach && !a.braking) {
                if (!lf_isSamePosition(a, p)) return;
                if (a.extendSteps > 0 && !checkExtendingSituations(a, p)) return;
            } else if (!checkNewPosDuringLanding(a, p)) {
                return;
            }
            break;
        default:
            break;
        }
        lf_fillLandingRoll(a, p);
        lf_standWhileReported(a, p);
        // Stops at the end of the track.
        if (!p.airborne && !a.track.empty() && a.track.back().stopped) {
            if (!p.stopped) {
                removeSmallStop(a, p);
            } else if (a.track.size() >= 2 && std::all_of(a.track.begin(), a.track.end(),
                                                          [](const TrackPoint& q) { return q.stopped; })) {
                // Standing still: the older stops say nothing more.
                a.track.resize(1);
            }
        }
        if (!a.track.empty()) p.playTick = std::max(p.playTick, a.track.back().playTick + 1);
        if (a.onGround && a.status == kAcInSim && !lf_rollReported(a) && !a.track.empty()) {
            const TrackPoint& back = a.track.back();
            if (a.braking) {
                if (back.airborne && p.airborne) lf_goAround(a);
            } else if (a.state == kMoveFollowing) {
                // A landed aircraft rolls again only as its positions show; the others also on the first
                // airborne report after ground ones (which may carry no speed). Airborne reports after
                // airborne ones are still the approach of an aircraft that touched down early.
                const bool rolls = (p.speed >= kTakeOffRollKt || !p.speedGiven) &&
                                   (back.speed >= kTakeOffRollKt || !back.speedGiven);
                const bool liftOff = p.airborne && !back.airborne;
                if (liftOff && !a.landed) {
                    lf_rollFrom(a, p.time);
                } else if (rolls || liftOff) {
                    if (const auto from = lf_rollShown(a, p)) lf_rollFrom(a, *from);
                }
            }
        }
        a.track.push_back(p);
        if (a.track.size() == 2 && a.track[0].stopped && a.track[1].stopped) {
            a.track[0].playTick = lf_now() + 1;
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
    // Repeating a place is no news in the air, nor during a take-off roll already under way, nor from an
    // aircraft that reports a roll's speed on the ground: its position was not renewed, it did not stop.
    const auto dropRepeat = [&](double rollSpeedKt) {
        const bool rolling = p.speed > 0.0 && b.speed >= rollSpeedKt;
        return p.airborne || lf_airborneInSim(a) || (rolling && (lf_rollReported(a) || p.speed >= rollSpeedKt));
    };
    if (p.stopped) {
        if (dropRepeat(kRollSameSpotKt)) return false;
        p.speed = 0.0;
        return true;
    }
    const bool onTheSpot =
        std::abs(p.lat - b.lat) <= kSamePlaceDeg && std::abs(gf_longitudeDiff(b.lon, p.lon)) <= kSamePlaceDeg;
    if (onTheSpot || lf_groundScatter(a, b, p)) {
        if (dropRepeat(kRollNearSpotKt)) return false;
        // Jitter of a standing aircraft: it stays where it was.
        p.lat = b.lat;
        p.lon = b.lon;
        p.alt = b.alt;
        p.track = b.track;
        p.vs = b.vs;
        // Around a place it stands at, or farther off, the report keeps its own time: a standing aircraft whose
        // reports keep coming has data, it does not hold for want of it.
        p.playTick = onTheSpot && !b.stopped ? b.playTick : std::max(p.playTick, b.playTick);
        p.bankGiven = b.bankGiven;
        p.headingGiven = b.headingGiven;
        p.airborne = b.airborne;
        p.attitudeGiven = b.attitudeGiven;
        p.speed = 0.0;
        p.stopped = true;
        return true;
    }
    if (p.speed != 0.0) return true;
    return !((lf_rollReported(a) || p.airborne) && b.speed >= kRollNearSpotKt);
}

bool checkExtendingSituations(LiveAc& a, const TrackPoint& p) {
    if (a.track.empty()) {
        lf_logEmpty("checkExtendingSituations");
        return false;
    }
    // In the air a point behind the predicted flight is an old one.
    if (!a.onGround && lf_offHeadingDeg(a, a.track.back(), p) >= 100.0) return false;
    lf_endPrediction(a);
    a.holding = false;
    a.holdStartTick = 0;
    return true;
}

bool checkNewPosDuringLanding(LiveAc& a, TrackPoint& p) {
    if (a.track.empty()) {
        lf_logEmpty("checkNewPosDuringLanding");
        return false;
    }
    if (lf_samePlace(p, a.track.back())) return false;
    if (a.track.size() >= 2) {
        // Points the aircraft has already passed are cut away.
        if (lf_offHeadingDeg(a, a.track.back(), p) >= 90.0) {
            a.track.pop_back();
            if (a.track.size() >= 2 && lf_offHeadingDeg(a, a.track.back(), p) >= 90.0) a.track.pop_back();
        }
    } else if (a.approach) {
        if (lf_offHeadingDeg(a, a.track.front(), p) >= 90.0) return false;
    } else if (lf_offHeadingDeg(a, a.track.front(), p) >= 150.0) {
        // Landing roll: the point lies behind the aircraft. The track starts again where the aircraft is.
        if (a.extendSteps > 0) return false;
        TrackPoint here = a.track.front();
        here.lat = a.latitude;
        here.lon = a.longitude;
        here.playTick = lf_now() + 1;
        a.track.assign(1, here);
    }
    if (a.extendSteps > 0) {
        a.extendSteps = 0;
        gf_resetWindows(a);
    }
    const TrackPoint& back = a.track.back();
    p.stopped = lf_samePlace(p, back);
    // A report of the roll goes no faster than its places show (one without a speed at theirs): the reports may
    // keep the touchdown's speed while their positions slow down, and the roll brakes to the speeds of its points.
    if (!p.stopped && !p.airborne) {
        const double placesKt = lf_placesSpeedKt(a, kRollPlacesSpeedSpanS);
        if (placesKt > 0.0 && (!p.speedGiven || placesKt < p.speed)) {
            p.speed = placesKt;
            p.speedGiven = true;
        }
    }
    if (!p.stopped && p.speed > back.speed && p.speed > 40.0) p.speed = back.speed;
    return true;
}

void lf_fillLandingRoll(LiveAc& a, const TrackPoint& p) {
    if (a.track.empty() || p.airborne || lf_rollReported(a) || a.category == kCatRotorcraft) return;
    const TrackPoint b = a.track.back();
    if (!b.airborne || !g_parkAirportElevationFt) return;
    const std::optional<double> elevation = g_parkAirportElevationFt();
    if (!elevation) return;
    // The approach's line: the way the last two airborne points lie, else the aircraft's heading.
    double line = gf_headingOf(a.heading);
    if (a.track.size() >= 2) {
        const TrackPoint& q = a.track[a.track.size() - 2];
        if (q.airborne && !lf_samePlace(q, b)) line = gf_initialBearing(q.lat, q.lon, b.lat, b.lon);
    }
    const double off = gf_angleDiff(line, gf_initialBearing(b.lat, b.lon, p.lat, p.lon));
    if (std::abs(off) >= std::numbers::pi / 2.0) return;
    const double from = b.speed;
    const double to = std::max(p.speed, kFillRollEndMinKt);
    // The touchdown: where the back point's descent meets the field.
    const double airSeconds =
        std::max(0.0, b.alt - *elevation) / std::max(-b.vs, kFillRollMinDescentFpm) * 60.0;
    const double touchdownNm = from * airSeconds / 3600.0;
    // The roll runs along the line up to where a turn of 45 degrees (or a gentler one) leads to p.
    const double nm = lf_distanceNm(b, p);
    const double rollNm = nm * (std::cos(off) - std::abs(std::sin(off))) - touchdownNm;
    if (from <= to || rollNm <= from * kFillRollMinSeconds / 3600.0) return;
    const double seconds = 2.0 * rollNm / (from + to) * 3600.0;
    TrackPoint r = b;
    r.alt = r.vs = 0.0;
    r.airborne = r.stopped = false;
    r.headingGiven = r.bankGiven = r.attitudeGiven = false;
    r.bank = 0.0;
    r.track = line / kRadPerDeg;
    for (double t = 0.0;; t += kFillRollStepSeconds) {
        const bool last = t >= seconds - kFillRollStepSeconds / 2.0;
        if (last) t = seconds;
        const double v = from - (from - to) * t / seconds;
        const double feet = (touchdownNm + (from + v) / 2.0 * t / 3600.0) * kFeetPerNm;
        const GeoPosition at = gf_destinationPoint(b.lat, b.lon, line, feet);
        // Legs of (next to) no length on the roll are left out: an airborne back point at the field's height
        // touches down where it is, and a roll straight at p ends where p is. The movement takes a point at the
        // place before it for a stop, and one a few metres on, off the nose, for scatter to stop at: the aircraft
        // would stop dead on its roll, or swing off the runway towards it.
        const bool apart = gf_distanceNM(at.latitude, at.longitude, p.lat, p.lon) >= kFillRollLastLegNm;
        if (feet >= kFillRollMinStepFt && apart) {
            r.lat = at.latitude;
            r.lon = at.longitude;
            r.speed = r.tas = v;
            r.time = b.time + airSeconds + t;
            r.playTick = b.playTick + static_cast<std::int32_t>(std::lround((airSeconds + t) * 100.0));
            a.track.push_back(r);
        }
        if (last) break;
    }
}

void removeSmallStop(LiveAc& a, const TrackPoint& p) {
    try {
        const std::size_t size = a.track.size();
        if (size < 3) return;
        // The look-back ends at the front point.
        const std::size_t last = std::min(kStopLookBackLast, size + 1);
        for (std::size_t k = kStopLookBackFirst; k <= last; ++k) {
            if (!lf_at(a, size - k + 1).stopped) {
                checkStops(a, k - 1, p);
                return;
            }
        }
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "removeSmallStop", e.what()));
    }
}

void checkStops(LiveAc& a, std::size_t count, const TrackPoint& p) {
    try {
        if (count == 0 || count > a.track.size()) throw std::out_of_range("invalid deque<T> subscript");
        const TrackPoint& s = lf_at(a, a.track.size() - count);  // the last moving point
        const double seconds = (a.track.back().playTick - s.playTick) / 100.0;
        if (seconds >= kKeptStopSeconds && lf_distanceNm(s, p) > kKeptStopLeftNm) return;
        a.track.resize(a.track.size() - (count - 1));
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: num:{} {}", "checkStops", count, e.what()));
    }
}

bool lf_checkPosAtStand(LiveAc& a, TrackPoint& p) {
    a.standConfirmed = true;
    const double d = gf_distanceNM(a.standLat, a.standLon, p.lat, p.lon);
    const double limit = a.previousState == kMoveToStand ? 2.0 * kAtStandNm : kAtStandNm;
    bool leave = false;
    if (d <= limit) {
        a.parkedSince = gf_steadyNow100ns();
        if (a.standDistanceLast == 0.0) {
            a.standDistanceFirst = a.standDistanceLast = d;
            a.standDriftCount = 0;
            a.leaveStand = false;
            return false;
        }
        if (d - a.standDistanceLast >= kStandDriftNm) {
            // It moves away from the stand, when its last reports lead away rather than scatter.
            ++a.standDriftCount;
            a.standDistanceLast = d;
            const double moved = d - a.standDistanceFirst;
            // A hop of its positions, smoothed by the service into a few steps of steady motion that then lie
            // still, is no departure: it leaves on sustained motion only.
            leave = (moved > a.halfSpan || (a.standDriftCount >= kDriftsToLeave && moved >= a.halfSpan / 2.0)) &&
                    lf_movesAwayFrom(a, a.standLat, a.standLon) && lf_sustainedMotion(a);
        } else if (a.standDistanceLast - d >= kStandDriftNm) {
            a.standDriftCount = 0;
        }
        if (!leave) {
            a.leaveStand = false;
            return false;
        }
    } else if (a.status == kAcInSim && !lf_movesAwayFrom(a, a.standLat, a.standLon)) {
        // One far report of an aircraft at its stand is scatter: it stays.
        a.leaveStand = false;
        return false;
    } else if (a.state == kMoveToStand) {
        // Not going to the stand after all.
        lf_setState(a, kMoveFollowing);
        p.stopped = false;
        return true;
    } else if (d > kStandJumpNm) {
        if (a.status != kAcInSim) return true;
        removeAircraftFromSim(a);
        return false;
    }
    p.stopped = false;
    a.leaveStand = true;
    if (a.previousState != kMoveParked) {
        lf_releaseStand(a);
        lf_setState(a, kMoveParked);
    }
    return true;
}

void lf_releaseStand(LiveAc& a) {
    if (a.extendSteps >= 1) {
        if (a.state == kMoveParked && a.landed) {
            // The week-long prediction tells how long it stood: briefly, and it was only towed here.
            const std::int64_t parkedTicks = gf_aiTick() - lf_at(a, 0).playTick + kParkedWeekTicks;
            a.towed = parkedTicks < lf_towedBelowTicks(a.category);
            a.landed = false;
        }
        lf_endPrediction(a);
    }
    lf_recordStandObservation(a, true, g_weekSlotNow.load(), true);
    gf_freeStandOf(a.standIndex, a.hexId);
}

// ---- The movement step ----

void nextPosMain(LiveAc& a) {
    try {
        if (a.track.size() >= 2) {
            // In the air a stopped point is no place to go to: it is passed over (a hovering rotorcraft stays); so
            // is, just off the runway, a point of its data's roll beyond its lift-off.
            const bool rollAhead = a.state == kMoveTakeOff && !a.track[1].airborne;
            if (!a.onGround && (a.track[1].stopped || rollAhead) && a.category != kCatRotorcraft) {
                a.track.erase(a.track.begin() + 1);
                nextPosMain(a);
                return;
            }
            nextPos(a);
            return;
        }
        if (lf_extendOrHold(a)) {
            nextPosMain(a);
            return;
        }
        // Nothing more to go on: the aircraft leaves, and what it showed of its stand is learned first.
        if (a.state != kMoveParked) gf_learnStandOfNearbyLiveAc(a, a.state != kMoveAirborne);
        removeAircraftFromSim(a);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {} {}, sz:{}", "nextPosMain", e.what(), gf_acText(a), a.track.size()));
    }
}

void nextPos(LiveAc& a) {
    gf_clearGroundCurve(a);
    a.steeringOntoLeg = false;
    // In the air by now, the aircraft took off some other way.
    if (!a.onGround) a.takeOffRollFrom = 0.0;
    {
        const TrackPoint& front = lf_at(a, 0);
        TrackPoint& second = lf_at(a, 1);
        if (!second.stopped && lf_samePlace(second, front)) second.stopped = true;
        if (!second.stopped) a.targetHeading = gf_initialBearing(front.lat, front.lon, second.lat, second.lon);
    }
    // These may re-time the second point.
    if (a.onGround) {
        nextPosGround(a);
    } else {
        nextPosAir(a);
    }
    const TrackPoint& second = lf_at(a, 1);
    if (second.stopped) {
        a.latStep = a.lonStep = 0.0;
        gf_rollOnToStop(a);
        if (!a.braking && !a.takeOffRoll) gf_shrinkWindows(a);
    } else {
        lf_aimAt(a, second, static_cast<double>(std::max(kMinLegTicks, std::int64_t{second.playTick} - gf_aiTick())));
        if (a.onGround) {
            lf_takeOff(a);
        } else {
            lf_airVerticalProfile(a);
        }
    }
    a.track.pop_front();
    if (a.track.empty()) {
        removeAircraftFromSim(a);
        throw std::runtime_error(fmt::format("{} {} stream at the end is empty?", "nextPos", gf_acText(a)));
    }
}

bool lf_extendOrHold(LiveAc& a) {
    if (a.state == kMoveToStand) {
        // Still rolling onto the stand (behind its times): the stop waits for it.
        if (a.groundSpeedKt > 0.0 && gf_distanceNM(a.latitude, a.longitude, a.standLat, a.standLon) > kArrivedNm) {
            TrackPoint stop = lf_at(a, 0);
            stop.lat = a.standLat;
            stop.lon = a.standLon;
            stop.playTick = std::max(stop.playTick, lf_now()) + kStandWaitTicks;
            lf_makeStop(stop);
            a.track.push_back(stop);
            return true;
        }
        lf_arriveAtStand(a);
    } else if (a.state == kMoveEnginesStarted ||
               (a.state == kMoveFollowing && !a.takeOffRoll && !a.braking)) {
        // A ground aircraft whose data ran out holds in place, unless it would block another one taxiing. One
        // whose reports still come, too alike to be taken (standing), holds whatever passes it.
        const bool stillReported = !a.reportedPlaces.empty() && a.reportedPlaces.back().time > a.lastRecordTime;
        if (!stillReported && lf_taxiingNeighbour(a)) {
            a.holding = false;
            a.holdStartTick = 0;
            return false;
        }
        const std::int64_t now = gf_aiTick();
        if (a.holding && (now - std::int64_t{a.holdStartTick}) / kTicksPerMinute > g_MAX_HOLDING_MINUTES.value())
            return false;
        if (!a.holding) a.holdStartTick = static_cast<std::uint32_t>(now);
        a.holding = true;
        TrackPoint hold = lf_at(a, 0);
        hold.playTick += kHoldTicks;
        lf_makeStop(hold);
        a.track.push_back(hold);
        a.extendSteps = 1;
        return true;
    }
    if (a.extendSteps < 0) return false;
    if (a.extendSteps > 1) {
        lf_extendTrack(a, a.extendSteps - 1);
        return true;
    }
    if (a.extendSteps == 1) {
        // A predicted landing rolls out before it ends.
        if (a.onGround && a.braking && lf_at(a, 0).speed > kRolledOutKt) {
            lf_extendTrack(a, 1);
            return true;
        }
        a.extendSteps = -1;
        return false;
    }
    // The first prediction.
    if (!gf_categorySwitchedOn(a.category)) return false;
    std::int32_t steps = 0;
    if (a.onGround) {
        steps = a.state == kMoveParked ? kParkedSteps : kGroundSteps;
    } else if (gf_landingAhead(a)) {
        // An arrival whose reports end on short final (or on the runway, where the ground reports of airports
        // other than the park airport are not taken) lands and rolls out, whoever watches from where.
        steps = std::max(kAirSteps, static_cast<std::int32_t>(std::ceil(
                                        a.heightAboveGround / (kAirStepSeconds * kApproachStepDescentFt))) + 2);
    } else if (!g_autoRangeAtMinimum.load()) {
        const bool userKnown = gf_isRealPosition(g_userPos.latitude, g_userPos.longitude);
        const double range = g_LATERAL_RANGE.value() - 0.5;
        if (!userKnown || gf_distanceNM(a.latitude, a.longitude, g_userPos.latitude, g_userPos.longitude) < range)
            steps = kAirSteps;
    }
    if (steps == 0) return false;
    lf_extendTrack(a, steps);
    return true;
}

void lf_extendTrack(LiveAc& a, std::int32_t steps) {
    a.extendSteps = steps;
    TrackPoint c = lf_at(a, 0);
    const bool parked = a.state == kMoveParked;
    if (c.stopped || parked) {
        lf_makeStop(c);
    } else if (a.onGround) {
        // A roll whose reports carried no speed goes on from the speed of its last reported places.
        if ((a.takeOffRoll || a.braking) && !c.speedGiven) {
            c.speed = lf_placesSpeedKt(a);
            c.speedGiven = true;
        }
        if (a.takeOffRoll) {
            lf_rollOn(c);
        } else if (a.braking) {
            lf_brakeOn(a, c);
        } else {
            lf_makeStop(c);  // a taxiing aircraft is not predicted
        }
    } else if (!(a.approach && steps < 4)) {
        c.speed = std::max(1.0, c.speed * (a.approach ? 0.90 : 0.95));
    }
    // Reports without a speed carry no airspeed either: the predicted point flies at the speed it moves.
    if (c.tas <= 0.0 && !c.stopped) c.tas = c.speed;
    const std::int32_t stepSeconds = a.onGround ? kGroundStepSeconds : kAirStepSeconds;
    const bool needsSpeed = !a.onGround || a.braking;
    if (!c.stopped && !(needsSpeed && c.speed <= 0.0)) {
        const double feet = stepSeconds * 100.0 * c.speed * kFeetPerNm / kTicksPerHour;
        const GeoPosition to = gf_destinationPoint(c.lat, c.lon, a.heading, feet);
        if (to.latitude == c.lat && to.longitude == c.lon) {
            c.stopped = true;
        } else {
            c.lat = to.latitude;
            c.lon = to.longitude;
        }
        if (a.approach && a.flareStage == 0) {
            c.vs = -667.0;
            c.alt -= stepSeconds * kApproachStepDescentFt;
            c.airborne = c.alt > 0.0;
            if (!c.airborne) c.alt = 0.0;
        } else if (a.state == kMoveTakeOff) {
            c.vs = 1500.0;
            c.alt += stepSeconds * 25.0;
        }
    }
    c.playTick += 100 * (parked ? kParkedStepSeconds : a.onGround ? kGroundStepSeconds : kAirStepSeconds);
    if (parked) {
        a.standConfirmed = false;
        gf_freeStandOf(a.standIndex, a.hexId);
    }
    a.track.push_back(c);
}

void lf_arriveAtStand(LiveAc& a) {
    if (const std::uint32_t holder = gf_standOccupiedByLive(a.standIndex); holder != 0 && holder != a.hexId) {
        // Another live aircraft holds the stand. It stays theirs: this aircraft gives it up before it leaves,
        // so that its removal does not clear their mark.
        a.extendSteps = 1;
        const std::uint32_t stand = a.standIndex;
        removeAircraftFromSim(a);
        gf_markStandLive(stand, holder);
        a.standIndex = 0;
        return;
    }
    if (gf_distanceNM(a.latitude, a.longitude, a.standLat, a.standLon) > kArrivedNm) {
        if (a.state != kMoveFollowing) lf_setState(a, kMoveFollowing);
        return;
    }
    lf_setState(a, kMoveParked);
    a.placedSlot = g_weekSlotNow.load();
    if (a.towed && g_LOG.value()) gf_logLine(fmt::format("          towed aircraft {} parks", gf_acText(a)));
    lf_at(a, 0).stopped = true;
    a.parkedSince = gf_steadyNow100ns();
    a.standDistanceLast = 0.0;
    a.standDriftCount = 0;
    lf_learnCargoStand(a);
    lf_setParkedStateInSim(a);
    if (g_LOG.value()) gf_logLine(fmt::format("{:8}: {:8} arrived at stand", gf_standName(a.standIndex), a.callsign));
    g_spawnedHexIds.push_back(a.hexId);
    lf_recordStandObservation(a, false, a.placedSlot, false);
    gf_checkMaxPark(0);
}

void lf_learnCargoStand(LiveAc& a) {
    if (!a.cargo || gf_standIsCargo(a.standIndex)) return;
    // The stands own the cargo attribute, its log line and the window's count.
    gf_learnCargoStand(a.standIndex, a);
}

// ---- Small operations of the leg planning ----

void lf_aimAt(LiveAc& a, const TrackPoint& to, double ticks) {
    a.latStep = (to.lat - a.latitude) / ticks;
    a.lonStep = gf_longitudeDiff(a.longitude, to.lon) / ticks;
}

double lf_legSpeed(const LiveAc& a) {
    const TrackPoint& front = lf_at(a, 0);
    const TrackPoint& second = lf_at(a, 1);
    if (front.speed == 0.0 && second.speed == 0.0) {
        // The time between the two reports, not only between their play ticks: a front point re-timed later
        // (a stop held, a window) would otherwise squeeze the leg into its 25 ticks and race along it.
        const std::int64_t reported = front.time > 0.0 && second.time > front.time
                                          ? std::llround((second.time - front.time) * 100.0)
                                          : 0;
        const double ticks = static_cast<double>(
            std::max({kMinLegTicks, std::int64_t{second.playTick} - front.playTick, reported}));
        return std::max(1.0, lf_distanceNm(front, second) * kTicksPerHour / ticks);
    }
    return (front.speed + second.speed) / 2.0;
}

double lf_turnAhead(const LiveAc& a) {
    if (a.track.size() < 3) return 0.0;
    const TrackPoint& second = a.track[1];
    const TrackPoint& third = a.track[2];
    return gf_angleDiff(gf_headingOf(a.heading), gf_initialBearing(second.lat, second.lon, third.lat, third.lon));
}

bool lf_allAheadAirborne(const LiveAc& a) {
    return std::all_of(std::next(a.track.begin(), a.track.empty() ? 0 : 1), a.track.end(),
                       [](const TrackPoint& q) { return q.airborne; });
}
