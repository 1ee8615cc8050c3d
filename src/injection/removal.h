// Removing aircraft from the simulator and erasing their records; the respawn of a live aircraft whose
// identity or route changed; ghosts (an older instance of a flight, its callsign followed by "_"); the
// duplicates among the static aircraft; who keeps a stand when two live aircraft want it; the bulk removals
// and the counts of the parked live aircraft.
//
// Work thread only, like the aircraft lists.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame/timeutil.h"
#include "injection/records.h"

// ---- Removal and erasing ----

// The one removal of an aircraft, live or static:
// - never created (status 0): a live record is erased at the end of the pass; a static one goes at once
//   (see StaticListWalk);
// - creation still queued in the program: the request is taken back and the record goes as above;
// - creation already handed to the link: status 4, removed as soon as the simulator reports it created;
// - otherwise: status 4 and its object queued for removal; the record stays until the simulator confirms.
// A stand it held loses its occupied-by-live mark at once.
void removeAircraftFromSim(AiAc& ac);
// Erases the live aircraft's record at once: the last record takes its place (order not kept).
void lf_eraseLiveAc(LiveAc& ac);

// While one of these lives, a static record whose creation was withdrawn is not erased at once but when the
// outermost walk ends: hold one while walking g_staticAc with removals in it.
class StaticListWalk {
public:
    StaticListWalk();
    ~StaticListWalk();
    StaticListWalk(const StaticListWalk&) = delete;
    StaticListWalk& operator=(const StaticListWalk&) = delete;
};

// Everything out: aircraft in the simulator are removed (their records stay until the simulator confirms,
// so the exit can hand the object ids to the link); queued creations are withdrawn and those records erased.
void gf_removeAllLiveAc();
void gf_removeAllStaticAc();
// Frees the reserved stand: the static aircraft standing there, else the live one parked there.
void gf_removeAcAtReservedStand();

// ---- Respawn ----

// Compares the received record with the aircraft; may take over its identity and route, or take the
// aircraft out of the simulator to be created again. False when the record is not to be merged into the track.
bool lf_respawn(LiveAc& a, const TrafficRecord& record);
// Takes the aircraft out of the simulator so that it is created again where it is now (status 3).
void liveryRespawn(LiveAc& a);

// The park airport's IATA code, compared with an aircraft's origin by the respawn; unset or empty: none.
extern std::function<std::string()> g_parkAirportIata;

// ---- Ghosts ----

// Removes a live aircraft whose callsign is this one followed by "_", and remembers its callsign so that it is
// never spawned again.
void lf_checkGhost(const std::string& callsign);
// For a callsign ending in "_": a live aircraft not being removed has the callsign without it.
bool lf_isGhostOfLive(const std::string& callsign);

// ---- Duplicates among the static aircraft ----

struct DuplicateContext {
    const LiveAc& live;
    std::string callsignCut;  // the live aircraft's callsign without its last character
    bool onGround = false;
};
// True when the static aircraft (in the simulator) is the same aircraft as the live one: the parked traffic
// it was placed from has the live hex id, or they share the registration or a callsign.
bool gf_checkDuplicates(const DuplicateContext& context, const AiAc& staticAc);

// ---- Stand conflicts between live aircraft ----

struct StandConflict {
    bool ok = true;               // cleared when the newcomer is to be dropped
    std::uint32_t standIndex = 0;  // the stand the newcomer wants
    std::string callsign;         // the newcomer's
};
// Settles the stand between the newcomer and a live aircraft at that stand: either one of them is removed
// (the aircraft) or the newcomer is dropped (ok cleared). True when the aircraft took part.
bool lf_resolveStandConflict(StandConflict& context, LiveAc& ac);

struct NeighbourCheck {
    std::uint32_t wantedStand = 0;
    const LiveAc& newcomer;
};
// The position in `excludedStands` of the first neighbour stand at which a parked live aircraft would be in
// the newcomer's way; excludedStands.size() when there is none.
std::size_t lf_findLiveAtStand(const std::vector<std::uint32_t>& excludedStands, const NeighbourCheck& check);

// ---- Parked live aircraft ----

struct ParkedLiveCount {
    WeekSlot now = 0;
    bool showFit = false;
    std::uint64_t count = 0;
    std::int64_t halfHours = 0;  // summed over the counted aircraft while the fit is shown
};
// Counts a live aircraft parked in the simulator, and its half-hours at the stand; true when counted.
bool lf_parkedLiveFits(ParkedLiveCount& context, const LiveAc& ac);
// The live aircraft parked in the simulator; with `showFit` their average fit in hours becomes the window's
// second shown average fit.
std::uint64_t gf_countParkedLiveAc(bool showFit);

struct LiveStayer {
    std::string callsign;
    std::uint32_t standIndex = 0;
    std::int32_t minutesParked = 0;
    auto operator<=>(const LiveStayer&) const = default;
};
// The parked live aircraft that stay, sorted; filled by gf_collectLiveStayers.
extern std::vector<LiveStayer> g_liveStayers;
// Parked live aircraft stay while their stand is confirmed, INITIAL_LOAD_ONLY is set, or they have stood at
// most 90 minutes (a Heavy 180); the others are removed.
void gf_collectLiveStayers();

// Steady-clock time in 100 ns units (the unit of parkedSince).
std::uint64_t gf_steadyNow100ns();
// Stands in for the steady clock of gf_steadyNow100ns when set (tests).
extern std::function<std::uint64_t()> g_steadyClockOverride;
