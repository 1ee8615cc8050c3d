// The per-tick movement of a live aircraft along its track, and the merging of a received point into it.
#pragma once

#include "injection/records.h"

// The work of one tick for one live aircraft; true when its record asks to be erased.
bool updateLiveAc(LiveAc& a);
// Merges one received point into the aircraft's track.
void decodeExisting(LiveAc& a, const TrackPoint& point);
