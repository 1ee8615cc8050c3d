// Static parked aircraft placement: the entries of the parking list become static AI aircraft, one per creation
// slot, when nothing stands on their stand or an overlapping one. Also the limit of parked aircraft at the park
// airport. Work thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "airports/stands.h"
#include "injection/records.h"

extern std::uint32_t g_staticCounter;  // running number of static placements, 0..9999

// One placement step: the last entry of the parking list.
void lf_parkStatic();
// The static aircraft's callsign for the entry (ends in '*'); empty when the entry has none.
std::string lf_detcs(const ParkingEntry& entry);
// Without trailing '_' and with one '*' at the end.
std::string lf_starCallsign(const std::string& text);
// Keeps the parked aircraft within the wanted number; `extra` counts one arriving.
void lf_checkMaxPark(std::int32_t extra);
// (hex id, seconds parked) of every parked live aircraft in the simulator, longest parked first.
void lf_listParkedLiveAc(std::vector<std::pair<std::uint32_t, std::uint64_t>>& list);
void lf_removeLongestParkedLiveAc(std::size_t count);
std::vector<LiveAc>::iterator lf_removeExceededMaxPark(std::uint32_t hexId);
