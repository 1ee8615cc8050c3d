// What the run-time asks of the live traffic injection: the received traffic, the collision checks and the
// geodesy. The aircraft lists, the traffic range and the list resets are in aircraft_lists.h, the AI update
// of each tick in ai_update.h, the intake in intake.h, the spawning in spawn.h, the simulator messages in
// sim_messages.h, the removals in removal.h, the movement in movement.h and the sink of everything sent to
// the simulator in sim_sink.h; they are included here for the callers.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "injection/ai_update.h"
#include "injection/aircraft_lists.h"
#include "injection/intake.h"
#include "injection/movement.h"
#include "injection/records.h"
#include "injection/removal.h"
#include "injection/sim_messages.h"
#include "injection/sim_sink.h"
#include "injection/spawn.h"
#include "injection/stand_hooks.h"
#include "simlink/simids.h"
#include "trafficservice/records.h"

class TrafficClient;

// Guards the received traffic and the AI-running flag.
extern std::mutex g_intakeMutex;
// Written only under g_intakeMutex.
extern std::atomic<bool> g_aiRunning;

// ---- Received traffic ----

// The records of the live batches, waiting for the work thread's intake; under g_intakeMutex.
extern std::vector<TrafficRecord> g_receivedTraffic;
// The records of the buffered (time-shifted) batches of the first traffic request, waiting for the work
// thread; under g_intakeMutex. They arrive on the traffic reader while the work loop may already run, so the
// reader never applies them to the live aircraft itself: the work thread takes them over at the start of its
// next tick (lf_takeBufferedTraffic).
extern std::vector<TrafficRecord> g_bufferedTraffic;

// The hand-over of each batch (gf_processTrafficBatch) is in intake.h.

// ---- Geodesy ----

struct GeoPosition {
    double latitude = 0.0;   // degrees
    double longitude = 0.0;  // degrees
};

// The point reached from a position along a great circle at a true bearing (radians) over a distance in
// feet; longitude brought into -180..180.
GeoPosition gf_destinationPoint(double latitude, double longitude, double bearing, double distanceFeet);

// ---- The tick ----

// g_aiRunning under g_intakeMutex.
void gf_setAiRunning(bool running);

// ---- Collision avoidance ----

// Removes the live aircraft when it conflicts with the airborne user aircraft; true when it did.
bool lf_removeLiveConflictingWithUser(int flags, LiveAc& ac);
void lf_copyLiveAc(LiveAc& destination, const LiveAc& source);
// Removes a static aircraft that stands in the way of the live one.
void lf_removeStaticForCollisionAvoidance(bool& removed, int flags, LiveAc& copy);

// ---- Counts, range, lists ----

// False for a position in the box around 0/0 where the simulator, before it has placed the user aircraft,
// and the service, for what it does not know, put their positions: latitude 0..0.0009 and longitude
// 0..0.05, both limits included.
bool gf_isRealPosition(double latitude, double longitude);
// Great-circle distance in nautical miles (sphere of 10800/pi NM).
double gf_distanceNM(double latitude1, double longitude1, double latitude2, double longitude2);
