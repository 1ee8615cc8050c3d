// The per-tick movement of a live aircraft along its track, the merging of a received point into it, and the
// predicted points that carry an aircraft over a gap in its data.
//
// The front point of the track is the point the aircraft moves to and reaches at its play tick; when that
// tick comes, the leg to the second point is planned as per-tick rates and the front point is dropped.
// Writing now + 1 into the front point's play tick makes the movement plan again on the next tick. When the
// received points run out, points are predicted: a take-off roll accelerates, a landing roll brakes, an
// airborne aircraft flies on along its heading, a taxiing aircraft holds in place and a parked one stays a
// week. Work thread only.
#pragma once

#include <cstdint>

#include "injection/records.h"

// A reported place this near (nm, 4 m) another is the aircraft still standing there: the jitter of a standing
// aircraft's positions, less than a creep covers between two reports.
inline constexpr double kStillThereNm = 0.00216;

// ---- Per tick and per received point ----

// The work of one tick for one live aircraft: the spawn decision while it is not in the simulator; in the
// simulator the leg planning when the front point's tick has come, one tick of movement and its position
// sent to the simulator. True when its record asks to be erased.
bool updateLiveAc(LiveAc& a);

// Merges one received point into the aircraft's track by its movement state: appended, rewritten as a stop,
// used as a signal only (leaving the stand, the side of a push-back turn) or dropped. A standard exception is
// logged and passed on.
void decodeExisting(LiveAc& a, const TrackPoint& point);

// Whether the received point `p` is kept (true) or dropped, against the back point of the track; sets p's
// stopped flag, and a point that lies all but exactly on the back point becomes a stopped copy of it.
bool lf_isSamePosition(const LiveAc& a, TrackPoint& p);
// A real point while predicted points are in use: true to take it (the prediction ends and the movement
// plans again at once).
bool checkExtendingSituations(LiveAc& a, const TrackPoint& p);
// A point while the aircraft approaches or brakes on the runway: points behind it are dropped or cut away.
bool checkNewPosDuringLanding(LiveAc& a, TrackPoint& p);
// The first ground point `p` of a landing whose roll was not reported (the back point is still airborne and p
// lies well past where its descent meets the park airport's field): the roll is filled in before p along the
// approach's line from that touchdown, braking evenly from the back point's speed to p's, and ends where a
// turn of 45 degrees or less leads to p.
void lf_fillLandingRoll(LiveAc& a, const TrackPoint& p);
// A moving point after a stop at the end of the track: a short stop, or one the aircraft hardly left, goes.
void removeSmallStop(LiveAc& a, const TrackPoint& p);
// The `count` - 1 stopped points at the back after the moving point at size - count go unless the stop
// lasted 15 s or more and `p` lies more than 22 m from that moving point.
void checkStops(LiveAc& a, std::size_t count, const TrackPoint& p);
// A point of an aircraft parked at or driving to its stand: true to append it (the aircraft leaves the
// stand, or is not going there after all); may remove an aircraft that jumped far away.
bool lf_checkPosAtStand(LiveAc& a, TrackPoint& p);
// A parked aircraft starts to leave its stand: the prediction ends, the stand is learned and freed.
void lf_releaseStand(LiveAc& a);

// ---- The movement step ----

// The timing windows of a point (how much earlier or later than its play tick it may be reached): back to
// 3000 ticks each (5000 late during a take-off roll), or 100 narrower down to 1000.
void gf_resetWindows(LiveAc& a);
void gf_shrinkWindows(LiveAc& a);

// Plans the next leg; with fewer than 2 points left the track is extended or held first, and when nothing
// more may be added the aircraft is removed. Logs a standard exception.
void nextPosMain(LiveAc& a);
// Plans the leg to the second point and drops the front point (at least 2 points). Throws
// std::runtime_error after removing the aircraft when that leaves the track empty.
void nextPos(LiveAc& a);
// Appends one hold point or one predicted point; false when nothing more may be added.
bool lf_extendOrHold(LiveAc& a);
// Appends one predicted point built from the front point and sets extendSteps := steps.
void lf_extendTrack(LiveAc& a, std::int32_t steps);
// An aircraft driving to its stand ran out of points: it parks when it is there.
void lf_arriveAtStand(LiveAc& a);
// A cargo aircraft parked at a stand that is not a cargo stand makes it one.
void lf_learnCargoStand(LiveAc& a);

// ---- Small operations of the leg planning ----

// Speed (kt) of the leg from the front to the second point: the mean of their speeds; when both are 0, the
// speed that covers the distance in the time between them (at least 1 kt).
double lf_legSpeed(const LiveAc& a);
// The leg's per-tick steps (latitude, longitude, distance) from where the aircraft is to `to` in `ticks`.
void lf_aimAt(LiveAc& a, const TrackPoint& to, double ticks);
// Signed difference (-pi..pi) from the heading to the bearing of the leg after the next (second to third
// point); 0 with fewer than 3 points.
double lf_turnAhead(const LiveAc& a);
// Every point after the front one is airborne.
bool lf_allAheadAirborne(const LiveAc& a);
