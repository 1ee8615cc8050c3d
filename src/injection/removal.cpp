#include "injection/removal.h"

#include <algorithm>

#include "injection/aircraft_lists.h"

void removeAircraftFromSim(AiAc& ac) {
    ac.status = kAcRemovalRequested;
    if (ac.objectId != 0) g_removals.push_back(ac.objectId);
}

void lf_eraseLiveAc(LiveAc& ac) {
    LiveAc& last = g_liveAc.back();
    if (&ac != &last) ac = std::move(last);
    g_liveAc.pop_back();
}

void gf_removeAllLiveAc() {
    for (LiveAc& ac : g_liveAc) {
        if (ac.status == kAcInSim) removeAircraftFromSim(ac);
    }
    g_liveAc.clear();
}

void gf_removeAllStaticAc() {
    for (AiAc& ac : g_staticAc) {
        if (ac.status == kAcInSim) removeAircraftFromSim(ac);
    }
    g_staticAc.clear();
}

void gf_removeAcAtReservedStand() {}

bool gf_checkDuplicates(const std::string&, bool, const AiAc&) { return false; }

std::uint64_t gf_countParkedLiveAc(bool) {
    return static_cast<std::uint64_t>(
        std::count_if(g_liveAc.begin(), g_liveAc.end(), [](const LiveAc& ac) { return ac.state == kMoveParked; }));
}

// Least behaviour until the respawn comes: every record is used and the identity stays.
bool lf_respawn(LiveAc&, const TrafficRecord&) { return true; }
