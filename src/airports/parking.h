// A live aircraft that stopped at the active park airport gets a stand: the nearest free one around its last
// received position, never the reserved stand nor the one the user's aircraft stands on. Whatever would
// collide with it there is cleared first (a live aircraft parked on the stand, live and static aircraft on
// overlapping stands when the wing spans could touch, static aircraft on the stand), then it taxies there.
//
// Work thread only.
#pragma once

#include <cstdint>

#include "airports/stands.h"
#include "injection/records.h"

// Distances in nm within which a stand is looked for.
inline constexpr double kParkSearchNm = 0.010799136069114472;      // 20 m
inline constexpr double kParkWideSearchNm = 0.029697624190064796;  // 55 m
// Two parked aircraft may touch when their half spans times this reach the distance between their stands.
inline constexpr double kParkSpanFactor = 1.1;

// Looks for a stand for the aircraft's last track point (once per point) and sends it there; `wide` widens
// the search (a landed aircraft whose data ran out).
void try2Park(LiveAc& a, bool wide);

// Clears the static aircraft on the stand and those on its overlapping stands that would touch the aircraft.
void checkStandOrExcludedIsOccupiedByStaticAndRemove(const LiveAc& a, const ParkPos& stand);

struct StandClearing {
    const ParkPos& stand;
    const LiveAc& live;
};
struct NeighbourClearing {
    std::uint32_t neighbourIndex = 0;
    const ParkPos& stand;
    const LiveAc& live;
};

// A static aircraft on the stand itself makes way; false when it does not stand there.
bool lf_clearStaticOnStand(const StandClearing& context, AiAc& t);
// True when the static aircraft stood at the neighbour close enough to touch and was removed.
bool lf_clearStaticAtNeighbour(const NeighbourClearing& context, AiAc& t);
// Removes the live aircraft when it stands at the neighbour close enough to touch.
void lf_clearLiveAtNeighbour(const NeighbourClearing& context, LiveAc& o);

// Connects the injection's stand hooks (names, places, occupancy, the stand search) to g_parkPositions.
void gf_installStandHooks();
