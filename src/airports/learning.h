// Learning the stand options of the active park airport from the live traffic: a live aircraft parked at a
// stand adds or extends a real option there; one seen near the park airport and not at a known stand adds a
// soft option for the stand it most likely uses; an aircraft that stays over several half-hours gets them
// all filled in. Also the coupling of a live aircraft's callsign with the other one it uses at its stand.
//
// Work thread only; nothing here takes a lock.
#pragma once

#include <cstdint>

#include "airports/stands.h"
#include "frame/timeutil.h"
#include "injection/records.h"

// Sizes in nm.
inline constexpr double kLearnFitToleranceNm = 0.0009719222462203025;  // 1.8 m
inline constexpr double kLearnSmallHalfSpanNm = 0.009611230689557531;  // 17.8 m
inline constexpr double kLearnSmallStepNm = 0.00755939524838013;       // 14 m
inline constexpr double kLearnLargeStepNm = 0.011339092872570195;      // 21 m
inline constexpr double kLearnNearParkAirportNm = 5.0;
inline constexpr double kLearnMaxHeightFt = 2500.0;

// Soft learning may run; the static parking calculation switches it.
extern bool g_softLearningAllowed;

// The aircraft stands at the stand in this week slot: adds or extends its real option. With `learnKey` the
// aircraft is followed at the stand so that the half-hours between two observations are filled; `forget`
// stops following it. True when a change was counted.
bool lf_addRealParkPosOption(std::uint32_t standIndex, const AiAc& ac, bool learnKey, WeekSlot slot, bool forget);
// The same for a soft option (an aircraft expected at the stand); a soft option is never forgotten.
bool lf_addSoftParkPosOption(std::uint32_t standIndex, const AiAc& ac, bool learnKey, WeekSlot slot);

// A live aircraft near the park airport and not at a stand: learns a soft option for the stand it most
// likely uses. `force` drops the height condition.
void lf_learnStandOfNearbyLiveAc(LiveAc& ac, bool force);
// The same at the given week slot.
void lf_learnStandOfNearbyLiveAcAt(LiveAc& ac, bool force, WeekSlot now);

// Whether the aircraft may be soft-learned now: not when it was counted less than three half-hours ago
// (forward in the week). When it may, its reservation moves to now.
bool lf_softLearningDue(WeekSlot slot, std::uint32_t hexId);

// The stand the aircraft most likely uses in this week slot, nullptr when none. With `retry`, a small
// airport with nothing free is searched once more for the next half-hour.
ParkPos* lf_guessStand(WeekSlot slot, const AiAc& ac, bool retry);

// Couples the live aircraft's callsign with the other callsign its stand option knows around this time:
// callsignCopy gets the option's first callsign and spare its second. (Also declared in services.h.)
void lf_searchForCoupledCsAroundThisTime(WeekSlot slot, LiveAc& ac);
