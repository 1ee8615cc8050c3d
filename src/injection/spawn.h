// Spawning: the per-tick decision for a live aircraft not yet in the simulator (create it now, hold it back,
// or drop it), and its first placement, livery and hand-over to the creation queue of the tick.
//
// Work thread only, like the aircraft lists. To drop the front point means to remove the first point of the
// track and end the aircraft's work for this tick; to erase means to set `eraseRequested` (the record goes at
// the end of the movement pass).
#pragma once

#include <cstdint>
#include <deque>

#include "injection/records.h"

// The per-tick decision for an aircraft with status 0: lead time, the holds around the user aircraft, the
// creation queue, MAX_LIVE, the blocked callsign, the identity from the registration list, the aircraft that
// found no livery, ghosts; then spawnLiveAc.
void updateBufferAc(LiveAc& a);

// First placement: livery, movement state, position and attitude from the first point, heading; the hex id
// goes to the creation ids and the duplicate checks, and the status becomes 1. An aircraft without a livery
// is erased and its identity never tried again in this run. A standard exception is logged and passed on.
void spawnLiveAc(LiveAc& a);

// True when the aircraft has a livery title afterwards: its own, the one kept for its hex id (unless the
// simulator refused it), or a new choice, which is kept for the hex id.
bool lf_chooseLiveryForLiveAc(LiveAc& a);

// Removes the live aircraft in the simulator farthest from the user when it is more than 0.1 nm farther
// than `distanceNm`; true when there is none (nothing removed).
bool lf_removeFarthestLiveAc(double distanceNm);

// Brings the live aircraft in the simulator or on their way there down to MAX_LIVE, farthest from the user
// first.
void gf_enforceMaxLive();

// Pitch (radians, negative = nose up) of a new aircraft at its first point.
double gf_spawnPitch(bool airborne, double verticalSpeedFpm);
