// Keeping AI aircraft clear of the user aircraft and of the static parked aircraft: nobody is steered, the
// aircraft in the way is removed. The frame's per-second work decides which checks run and in which order.
#pragma once

#include <cstddef>

#include "injection/records.h"

// How far (ft) a position at `distanceNm` from the user, seen at `bearing` from it, lies beside a line through
// the user along `reference` (radians).
double gf_lateralOffsetFt(double reference, double bearing, double distanceNm);

// A live aircraft in the simulator in the way of the airborne user aircraft is removed: on the ground, on the
// user's line within 1 nm while the user is below 500 ft above ground; in the air, within 4 nm and 1000 ft
// with the user within 700 ft of its line of flight. True when it was removed. (`flags` is unused.)
bool lf_removeLiveConflictingWithUser(int flags, LiveAc& ac);
// Removes the first static aircraft in the simulator whose stand lies within 1.1 x the two half spans of the
// live aircraft (a copy, as the removal may change the lists); `removed` tells whether one was.
void lf_removeStaticForCollisionAvoidance(bool& removed, int flags, LiveAc& copy);
// The copy the static check works on.
void lf_copyLiveAc(LiveAc& destination, const LiveAc& source);
