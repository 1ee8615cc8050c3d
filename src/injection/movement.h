// The per-tick movement of a live aircraft along its track, and the merging of a received point into it.
//
// The front point of the track is the point the aircraft moves to and reaches at its play tick; when that
// tick comes, the leg to the second point is planned as per-tick rates and the front point is dropped.
// Writing now + 1 into the front point's play tick makes the movement plan again on the next tick. Legs are
// straight for now; the ground curves, the take-off and landing profiles and the predicted points that carry
// an aircraft over a gap in its data come with the full movement model. Work thread only.
#pragma once

#include "injection/records.h"

// The work of one tick for one live aircraft: the spawn decision while it is not in the simulator; in the
// simulator the leg planning when the front point's tick has come, one tick of movement and its position
// sent to the simulator. True when its record asks to be erased.
bool updateLiveAc(LiveAc& a);

// Merges one received point into the aircraft's track: appended, rewritten as a stop, or dropped. A standard
// exception is logged and passed on.
void decodeExisting(LiveAc& a, const TrackPoint& point);

// Plans the next leg; with fewer than 2 points left the aircraft is removed. Logs a standard exception.
void nextPosMain(LiveAc& a);
// Plans the leg to the second point and drops the front point (at least 2 points). Throws
// std::runtime_error after removing the aircraft when that leaves the track empty.
void nextPos(LiveAc& a);


// Whether the received point `p` is kept (true) or dropped, against the back point of the track; sets p's
// stopped flag, and a point that lies all but exactly on the back point becomes a stopped copy of it.
bool lf_isSamePosition(const LiveAc& a, TrackPoint& p);

// Speed (kt) of the leg from the front to the second point: the mean of their speeds; when both are 0, the
// speed that covers the distance in the time between them (at least 1 kt).
double lf_legSpeed(const LiveAc& a);
// Signed difference (-pi..pi) from the heading to the bearing of the leg after the next (second to third
// point); 0 with fewer than 3 points.
double lf_turnAhead(const LiveAc& a);
// Every point after the front one is airborne.
bool lf_allAheadAirborne(const LiveAc& a);
