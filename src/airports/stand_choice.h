// Choosing stands: the nearest free stand that fits a live aircraft, the stand the user's aircraft stands
// on, and the options that fill the static parking list for a half-hour of the week. Also the stand flags
// that keep those choices consistent, the count of the static aircraft with their average fit, and the
// parking controls that are switched off while the static parking is calculated.
//
// Work thread only (the user stand cache takes its own small lock, since the link's requests ask for it too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "airports/stands.h"
#include "frame/timeutil.h"
#include "injection/records.h"

// Distances in nm.
inline constexpr double kStandSearchStartNm = 900.0;
inline constexpr double kStandWideNm = 0.029697624190064796;         // 55 m
inline constexpr double kStandNearNm = 0.010799136069114472;         // 20 m
inline constexpr double kStandWideOptionNm = 0.0458963282937365;     // 85 m
inline constexpr double kStandFitToleranceNm = 0.0009719222462203025;  // 1.8 m
inline constexpr double kOneMetreNm = 0.0005399568034557236;

// While static parking is calculated: g_parkingBusy set and the parking controls disabled.
void gf_disableParkingControls();
// The parking controls back as the settings have them, and g_parkingBusy cleared.
void gf_enableParkingControls();

// The stand with that id, or g_parkPositions.end().
std::vector<ParkPos>::iterator lf_findStand(const std::string& id);

// The id of the stand within 55 m of the position that lies nearest; empty when there is none, when there
// are no stands or when the user's aircraft is not on the ground. The last answer is cached by position.
std::string gf_userStand(double latitude, double longitude);
// The stand the user aircraft stands on now (its latest position from the simulator).
std::string gf_userStandNow();

// Index into g_parkPositions of the nearest free stand within `maxDistanceNm` that fits the aircraft, or
// g_parkPositions.size() when there is none. A stand held by another live aircraft is not free; one the
// aircraft holds itself is. Helicopter stands are for rotorcraft only and rotorcraft take only those. A stand
// up to 1.8 m too small within 20 m may be taken; it is then enlarged to the aircraft. With `wide`, a fitting
// stand up to 85 m away whose options know the aircraft is taken when nothing nearer was found.
std::size_t lf_nearestFreeStand(double latitude, double longitude, const AiAc& ac, double maxDistanceNm, bool wide);

// A static aircraft takes the stand: the stand is taken and its overlapping stands blocked.
void lf_markStandTaken(ParkPos& stand);

// The slot `offset` half-hours before `now`.
WeekSlot gf_searchedSlot(WeekSlot now, std::uint32_t offset);

// Chooses, per free stand, one option of the kind (1 real, 0 soft) seen in the slot `offset` half-hours
// before `now`, and appends it to the parking list.
void lf_searchStands(WeekSlot now, std::uint32_t kind, std::uint32_t offset, std::vector<ParkingEntry>& list);

// Static parked aircraft (in the simulator or on their way out); with `refreshAverageFit` (and WEEK off) the
// window's average fit of the static aircraft is brought up to date.
std::uint64_t lf_countStaticAc(bool refreshAverageFit);

// Forgets the cached user stand (a new stand list).
void gf_forgetUserStand();
