// What the injection asks of the stands of the active park airport: a stand's name and place, its
// occupied-by-live mark, the parking list entries for it, and the reserved stand. The airports fill these
// in when their stands are there; unset, there are no stands (no name, no place, nothing to mark).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/timeutil.h"

#include "injection/records.h"

struct StandHooks {
    std::function<std::string(std::uint32_t index)> name;
    std::function<std::optional<StandPlace>(std::uint32_t index)> place;
    // The stand's radius in nm.
    std::function<std::optional<double>(std::uint32_t index)> radius;
    // Records the live aircraft that parks or drives to the stand (its hex id); 0 frees the stand.
    std::function<void(std::uint32_t index, std::uint32_t hexId)> markLive;
    // The entries of the static parking list for the stand go: a live aircraft parks there now.
    std::function<void(std::uint32_t index)> dropParkingEntries;
    // Index of the reserved stand; 0 when there is none.
    std::function<std::uint32_t()> reservedIndex;
    // Hex id of the live aircraft that holds the stand; 0 when it is free.
    std::function<std::uint32_t(std::uint32_t index)> occupiedByLive;
    // The stand's cargo flag, and turning it into a cargo stand (a cargo aircraft parked there).
    std::function<bool(std::uint32_t index)> isCargo;
    std::function<void(std::uint32_t index, const LiveAc& ac)> learnCargo;
    // Looks for a stand for a live aircraft that stopped on the ground and sends it there (drive2Stand);
    // `wide` widens the search (an aircraft that landed and whose data ran out).
    std::function<void(LiveAc& ac, bool wide)> try2Park;
    // Records that the aircraft stands at its stand in this week slot; true when recorded.
    std::function<bool(LiveAc& ac, bool learnKey, WeekSlot slot, bool forget)> addRealParkPosOption;
    // The soft stand learning from a live aircraft about to leave the ground or the range.
    std::function<void(LiveAc& ac, bool force)> learnStandOfNearbyLiveAc;
    // The limit of parked aircraft at the park airport, checked after a live aircraft parked: `extra` is 1
    // for one spawned parked at its stand (not yet in the simulator), 0 for one that arrived there.
    std::function<void(std::int32_t extra)> checkMaxPark;
    // Whether the active park airport has stands at all.
    std::function<bool()> hasStands;
    // Whether a stand of the active park airport, free or not, lies within `maxNm` of the position.
    std::function<bool(double lat, double lon, double maxNm)> standNear;
    // Index of the nearest free stand within `maxNm` of the position that fits the aircraft; 0 when none.
    std::function<std::uint32_t(double lat, double lon, const LiveAc& ac, double maxNm, bool wide)> nearestFreeStand;
    // Whether the stand is the reserved stand or the one the user's aircraft stands on: never given away.
    std::function<bool(std::uint32_t index)> keptFree;
    // The indices of the stands that overlap this one.
    std::function<std::vector<std::uint32_t>(std::uint32_t index)> excluded;
    // Clears the static aircraft on the stand and on its overlapping stands that would touch the aircraft.
    std::function<void(std::uint32_t index, const LiveAc& ac)> clearStaticAround;
};
extern StandHooks g_standHooks;

// The stand's name; "sid==0?" for index 0 and "unknown" for an index no stand has (empty without stands).
std::string gf_standName(std::uint32_t index);
std::optional<StandPlace> gf_standPlace(std::uint32_t index);
// The stand's radius (nm), nothing when it is not known.
std::optional<double> gf_standRadius(std::uint32_t index);
// Records the live aircraft (hex id) that holds the stand, 0 to free it; nothing for index 0.
void gf_markStandLive(std::uint32_t index, std::uint32_t hexId);
// Frees the stand when this aircraft holds it; a stand another aircraft holds keeps its holder.
void gf_freeStandOf(std::uint32_t index, std::uint32_t hexId);
void gf_dropParkingEntriesOfStand(std::uint32_t index);
std::uint32_t gf_reservedStandIndex();
// Hex id of the live aircraft holding the stand; 0 when free (or no stand).
std::uint32_t gf_standOccupiedByLive(std::uint32_t index);
bool gf_standIsCargo(std::uint32_t index);
void gf_learnCargoStand(std::uint32_t index, const LiveAc& ac);
void gf_try2Park(LiveAc& ac, bool wide);
bool gf_addRealParkPosOption(LiveAc& ac, bool learnKey, WeekSlot slot, bool forget);
void gf_learnStandOfNearbyLiveAc(LiveAc& ac, bool force);
void gf_checkMaxPark(std::int32_t extra);
bool gf_parkAirportHasStands();
// A stand, free or not, within `maxNm` of the position (none without stands).
bool gf_standNear(double lat, double lon, double maxNm);
// Index of the nearest free fitting stand within `maxNm`; 0 when none (or no stands).
std::uint32_t gf_nearestFreeStand(double lat, double lon, const LiveAc& ac, double maxNm, bool wide);
bool gf_standKeptFree(std::uint32_t index);
std::vector<std::uint32_t> gf_standExcluded(std::uint32_t index);
void gf_clearStaticAroundStand(std::uint32_t index, const LiveAc& ac);

// Live aircraft whose stand observation was recorded, with the week slot: one entry per hex id.
extern std::vector<std::pair<std::uint32_t, WeekSlot>> g_standReservations;
// Stores or updates the hex id's entry.
void gf_reserveStand(std::uint32_t hexId, WeekSlot slot);
