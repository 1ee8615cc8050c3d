// Removing aircraft from the simulator and erasing their records.
#pragma once

#include <cstdint>
#include <string>

#include "injection/records.h"

// Marks the aircraft for removal and queues its simulator object.
void removeAircraftFromSim(AiAc& ac);
// Erases the live aircraft's record at once: the last record takes its place (order not kept).
void lf_eraseLiveAc(LiveAc& ac);
void gf_removeAllLiveAc();
void gf_removeAllStaticAc();
// Removes what stands at the reserved stand.
void gf_removeAcAtReservedStand();
// True when the static aircraft is the same one as the live aircraft given by its callsign (without the last
// character) and its on-ground flag.
bool gf_checkDuplicates(const std::string& callsignCut, bool onGround, const AiAc& staticAc);
// Live aircraft parked at a stand.
std::uint64_t gf_countParkedLiveAc(bool refreshAverageFit);
// May change the aircraft's identity and route, or take it out of the simulator to be created again; false
// when the record is not to be merged into the track.
bool lf_respawn(LiveAc& a, const TrafficRecord& record);
