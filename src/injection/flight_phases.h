// The flight of a live aircraft between its sparse received points: pitch from the vertical speed, bank from
// the turn, the take-off roll with its throttle stages, rotation and climb ramp, the configuration by height
// (throttle, flaps, gear, spoilers, lights), the approach with its four-stage flare, the touchdown the
// simulator reports, de-rotation and the landing roll.
//
// Work thread only. Per leg from the movement step (nextPos); rotation, climb and flare every tick from the
// curve follower.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "injection/geodesy.h"
#include "injection/records.h"
#include "injection/sim_sink.h"

// Throttle values (THROTTLE_SET data) by throttle index 0..4, flaps values (FLAPS_SET) by flaps index 0..3.
// AiAc::throttleState and AiAc::flapsState hold the index last sent.
inline constexpr std::array<std::uint32_t, 5> kThrottleValues{0, 4914, 8191, 11468, 16383};
inline constexpr std::array<std::uint32_t, 4> kFlapsValues{0, 3072, 10240, 16383};

// ---- Per-category flight tables ----
// Points of a take-off climbing faster than this (ft/min) show the aircraft rotating.
inline constexpr double kRotationClimbFpm = 256.0;
// A take-off roll lifts off at least this much (kt) above its rotation speed.
inline constexpr double kLiftOffAboveKt = 2.0;
// The fastest (kt) a roll can go `seconds` after it went `fromKt`: no aircraft gains more than 0.4 g (8 kt a
// second), and speeds read from positions jitter by 20 kt. A faster one is a stale place renewed, or scatter.
inline double gf_rollSpeedReachable(double fromKt, double seconds) { return fromKt + 8.0 * seconds + 20.0; }
extern const CategoryTable<double> g_rotationSpeedKt;            // kt; a rotorcraft lifts off at any speed
extern const CategoryTable<double> g_maxAirbornePitchRateDeg;    // degrees per tick
extern const CategoryTable<double> g_maxBankDeg;                 // degrees
extern const CategoryTable<double> g_maxBankRateDeg;             // degrees per tick
// The fastest airborne heading change, degrees per tick: what the category's bank limit allows at its
// approach speeds (a standard-rate turn is 0.03).
extern const CategoryTable<double> g_maxAirTurnRateDeg;

// Where the active park airport lies, when there is one; the run-time wires it to the park airports. Unset:
// there is none.
extern std::function<std::optional<GeoPosition>()> g_activeParkAirportPosition;

// Navigation, beacon, landing, taxi, strobes and logo on, cabin off: the take-off roll and the go-around.
inline constexpr LightPattern kDepartureLights{true, true, true, true, true, true, false};

// Arrivals at any airport: an aircraft descending below this height over the ground is on approach, and one
// on approach below it whose reports end lands and rolls out on predicted points.
inline constexpr double kArrivalHeightFt = 1000.0;
// The steepest descent (ft/min, positive) an airborne aircraft is moved at whose points report `reportedFpm`
// (negative when descending): a point that needs more has a bad altitude or a bad on-ground flag.
double gf_descentLimitFpm(double reportedFpm);
// The elevation (ft) of the ground below an airborne aircraft: the active park airport's field within 10 nm
// of it, else the terrain under the aircraft as the simulator reports it.
double gf_groundBelowFt(const LiveAc& a);
// On approach low over the ground: when its reports end it is predicted down to the runway and rolled out.
bool gf_landingAhead(const LiveAc& a);

// Re-times the second point of an airborne leg.
void nextPosAir(LiveAc& a);
// An airborne leg: vertical speed, altitude rate, pitch, heading and bank rates, and the configuration.
void lf_airVerticalProfile(LiveAc& a);
// A ground leg: throttle by phase, landing roll, speed, and the rotation decision.
void lf_takeOff(LiveAc& a);
void lf_startTakeOffRoll(LiveAc& a);
// Its data shows a take-off roll: under way in the simulator, or ahead of the place shown there.
inline bool lf_rollReported(const LiveAc& a) { return a.takeOffRoll || a.takeOffRollFrom > 0.0; }
void lf_rotate(LiveAc& a);
// Just off the runway: the point at `index` of the track is flown to at the speed the aircraft rolled, and
// re-timed to be reached then (not for rotorcraft).
void gf_aimFromRoll(LiveAc& a, std::size_t index);
// Every tick in the take-off state: the rotation, then the climb ramp until the climb pitch and 800 ft.
void lf_climb(LiveAc& a);
// Every tick on approach, airborne, at 400 ft above ground or less.
void lf_flare(LiveAc& a);
void lf_landingRoll(LiveAc& a);
// The touchdown: the simulator reports the airborne aircraft on the ground. An aircraft being removed or in
// its take-off state is left as it is.
void lf_onAircraftReport(LiveAc& a);

void lf_configAbove10000(LiveAc& a);
void lf_configHigh(LiveAc& a);
void lf_configLow(LiveAc& a);

// ft/min of the approach.
double lf_approachVs(const LiveAc& a);
void lf_altitudeRateToPoint(LiveAc& a);
void lf_airAltitudeRate(LiveAc& a);
void lf_groundPointsAloft(LiveAc& a);
// Drops the points between the front and the point k - 1 and re-times that one (now the second); the
// position rates then aim at it. False when the track has fewer than k points or that point is on the ground.
bool lf_retimePoint(LiveAc& a, std::size_t k);
// Re-times the second point with the given ticks, within the timing windows.
void lf_retimeNext(LiveAc& a, std::int64_t ticks);
// The tick lf_retimeNext would give the second point, without writing it.
std::int64_t lf_retimedTick(const LiveAc& a, std::int64_t ticks);
// Puts a point half way between the front and the second point.
void lf_insertMidpoint(LiveAc& a);

// The bank rate towards the target bank (radians, the turn ahead) over `ticks`, within the category's bank
// and bank rate.
void lf_setBankRate(LiveAc& a, double targetBank, std::int64_t ticks);

// Throttle and flaps by index, sent only when they change (no flaps for rotorcraft).
void lf_setThrottle(AiAc& a, std::uint32_t index);
void lf_setFlaps(AiAc& a, std::uint32_t index);

// The flaring aircraft are counted (g_flareActive): an aircraft is counted in when its flare starts and out
// at its touchdown, its climb-out, its removal or the erasure of its record; each at most once.
void gf_flareCountIn(LiveAc& a);
void gf_flareCountOut(LiveAc& a);
// The same for an aircraft of g_liveAc; any other record is left alone.
void gf_flareCountOutOfListed(AiAc& ac);
