#include "injection/movement.h"

#include "injection/spawn.h"

// Least behaviour until the track merge comes: the received point is appended to the track as it is.
void decodeExisting(LiveAc& a, const TrackPoint& point) { a.track.push_back(point); }

// An aircraft not yet in the simulator goes through the spawn decision. Least behaviour until the movement
// model comes: nothing in the simulator moves. True when the aircraft asked to be erased.
bool updateLiveAc(LiveAc& a) {
    if (a.status == kAcNotInSim && !a.eraseRequested) updateBufferAc(a);
    return a.eraseRequested;
}

