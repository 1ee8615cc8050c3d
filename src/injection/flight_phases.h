// The flight of a live aircraft between its sparse received points: pitch from the vertical speed, bank from
// the turn, the take-off roll with its throttle stages, rotation and climb ramp, the configuration by height
// (throttle, flaps, gear, spoilers, lights), the approach with its four-stage flare, the touchdown the
// simulator reports, de-rotation and the landing roll.
//
// Work thread only. Per leg from the movement step (nextPos); rotation, climb and flare every tick from the
// curve follower.
#pragma once

#include <cstdint>

#include "injection/records.h"

// Throttle values (THROTTLE_SET data) by throttle index 0..4, flaps values (FLAPS_SET) by flaps index 0..3.
inline constexpr std::uint32_t kThrottleValues[5] = {0, 4914, 8191, 11468, 16383};
inline constexpr std::uint32_t kFlapsValues[4] = {0, 3072, 10240, 16383};

// Re-times the second point of an airborne leg.
void nextPosAir(LiveAc& a);
// An airborne leg: vertical speed, altitude rate, pitch, heading and bank rates, and the configuration.
void lf_airVerticalProfile(LiveAc& a);
// A ground leg: throttle by phase, landing roll, speed, and the rotation decision.
void lf_takeOff(LiveAc& a);
void lf_startTakeOffRoll(LiveAc& a);
void lf_rotate(LiveAc& a);
// Every tick in the take-off state.
void lf_climb(LiveAc& a);
// Every tick on approach, airborne, at 400 ft above ground or less.
void lf_flare(LiveAc& a);
void lf_landingRoll(LiveAc& a);
// The touchdown: the simulator reports the airborne aircraft on the ground.
void lf_onAircraftReport(LiveAc& a);

void lf_configAbove10000(LiveAc& a);
void lf_configHigh(LiveAc& a);
void lf_configLow(LiveAc& a);

// ft/min of the approach.
double lf_approachVs(const LiveAc& a);
void lf_altitudeRateToPoint(LiveAc& a);
void lf_airAltitudeRate(LiveAc& a);
void lf_groundPointsAloft(LiveAc& a);
// Re-times the point k - 1 from the front after removing those between; false when it cannot.
bool lf_retimePoint(LiveAc& a, std::size_t k);
// Re-times the second point with the given ticks, within the timing windows.
void lf_retimeNext(LiveAc& a, std::int64_t ticks);
// Puts a point half way between the front and the second point.
void lf_insertMidpoint(LiveAc& a);

// Throttle and flaps by index, sent only when they change (no flaps for rotorcraft).
void lf_setThrottle(AiAc& a, std::uint32_t index);
void lf_setFlaps(AiAc& a, std::uint32_t index);
