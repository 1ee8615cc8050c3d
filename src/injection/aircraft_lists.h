// The aircraft lists of the injection and their bookkeeping: the live and static aircraft, the queues of
// creations and removals waiting for their slot of the AI tick, the tick counter that times every track,
// the copy of the user aircraft, and the traffic radius around it.
//
// Everything here belongs to the work thread and takes no lock, except the tick counter, which the traffic
// reader reads for the play ticks of a batch.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "injection/records.h"
#include "simlink/simids.h"

struct GeoPosition;

extern std::vector<LiveAc> g_liveAc;
extern std::vector<AiAc> g_staticAc;
// Simulator object ids waiting for their removal; the tick releases one every 10 ticks (the exit hands the
// rest to the link).
extern std::deque<std::uint32_t> g_removals;
// Creation requests waiting for their slot (one every 50 ticks); live ones go before static ones.
extern std::deque<CreateAircraftRequest> g_liveCreations;
extern std::deque<CreateAircraftRequest> g_staticCreations;
// Hex ids of live aircraft whose creation request is still to be built, one a tick, newest first.
extern std::vector<std::uint32_t> g_creationIds;
// Hex ids of live aircraft whose duplicates among the static aircraft are to be looked for.
extern std::deque<std::uint32_t> g_spawnedHexIds;
// Callsigns the ghost check recorded.
extern std::vector<std::string> g_ghostCallsigns;

// The user aircraft's data as the AI update last copied it (every 100 ticks); latitude and longitude 0
// until it arrived.
extern UserAcData g_userPos;
// The live aircraft in their landing flare: while there is one, the aircraft around the user are asked for
// five times as often (gf_flareCountIn and gf_flareCountOut keep it).
extern std::uint32_t g_flareActive;

// Completed AI ticks (10 ms each): the time base of every track. Written by the work thread only; the
// traffic reader reads it for the play ticks of a batch, hence atomic.
extern std::atomic<std::int32_t> g_aiTick;
// g_aiTick as a wide value, for the play-tick sums of the traffic hand-over.
std::int64_t gf_aiTick();

// Room in the lists, once per program run (a restart does not reserve again).
void lf_reserveGlobalLists();
// Everything emptied at the end of a run, after the aircraft left the simulator; g_aiTick keeps counting.
void lf_clearAiLists();

// ---- Traffic radius ----

// The automatic radius in nm: 10 on the ground, 100 above `aboveHeightFt`, 40 above `airportHeightFt`,
// else by the distance to the first park airport (10 up to 7 nm, the rounded distance plus 3 below 37, 40
// from there on; pass 10000 when there is none).
std::int32_t gf_chooseTrafficRange(bool onGround, double altitudeFt, double aboveHeightFt, double airportHeightFt,
                                   double parkAirportDistanceNm);
// Where the first park airport lies, when there is one; the run-time wires it to the park airport list.
extern std::function<std::optional<GeoPosition>()> g_firstParkAirportPosition;
// With AUTO_RANGE on, chooses the traffic radius from the user's situation.
void gf_autoTrafficRange();
// LATERAL_RANGE := the radius clamped into 2..100; the derived values from the radius as given.
void gf_setTrafficRange(std::int32_t radiusNm);
