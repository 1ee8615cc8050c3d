// What the run-time asks of the live traffic injection: the received traffic, the simulator messages, the
// removals, the collision checks and the geodesy. The aircraft lists, the traffic range and the list resets
// are in aircraft_lists.h, the AI update of each tick in ai_update.h, the intake in intake.h and the spawning
// in spawn.h; they are included here for the callers.
//
// Received traffic becomes live aircraft and their creations are queued; until the movement lands, an aircraft
// in the simulator stays where it was created.
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
#include "injection/records.h"
#include "injection/spawn.h"
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

// ---- Messages to the work thread ----

enum SimMessageType : std::uint32_t {
    kSimMsgLiveCreated = 0,
    kSimMsgStaticCreated = 1,
    kSimMsgObjectRemoved = 2,
    kSimMsgAircraftReport = 3,
    kSimMsgStaticData = 4,
    kSimMsgBlocked = 5,  // the user blocked the callsign of this live aircraft (traffic reader)
    kSimMsgCreationFailed = 6,
};

// 32 bytes, fields in this order.
struct SimMessage {
    std::uint32_t objectId = 0;
    std::uint32_t second = 0;  // hex id, static id or on-ground flag, by type
    std::uint32_t reserved = 0;
    std::uint32_t type = 0;    // SimMessageType
    double value1 = 0.0;
    double value2 = 0.0;
};
static_assert(sizeof(SimMessage) == 32);

// Appends the message for the work thread; any thread, never fails.
void gf_postSimMessage(const SimMessage& message);
// The messages posted so far, oldest first; the list is empty afterwards. Work thread.
std::vector<SimMessage> gf_takeSimMessages();

// ---- Geodesy ----

struct GeoPosition {
    double latitude = 0.0;   // degrees
    double longitude = 0.0;  // degrees
};

// The point reached from a position along a great circle at a true bearing (radians) over a distance in
// feet; longitude brought into -180..180.
GeoPosition gf_destinationPoint(double latitude, double longitude, double bearing, double distanceFeet);

// ---- The tick ----

// The simulator's messages and the post-creation commands, and the look-ups the link left for the work
// thread; also while no flight runs. For now a created aircraft takes its object id (and a live one its
// flight plan), a removed object loses its plan, and a refused creation is reported with its livery and
// dropped; the other messages are taken and left alone.
void gf_SimCommands();
// g_aiRunning under g_intakeMutex.
void gf_setAiRunning(bool running);

// ---- Removals ----

// Marks the aircraft for removal and queues its simulator object.
void removeAircraftFromSim(AiAc& ac);
void gf_removeAllLiveAc();
void gf_removeAllStaticAc();
// Removes what stands at the reserved stand.
void gf_removeAcAtReservedStand();
// True when the static aircraft is the same one as the live aircraft given by its callsign (without the last
// character) and its on-ground flag.
bool gf_checkDuplicates(const std::string& callsignCut, bool onGround, const AiAc& staticAc);
// Removes the live aircraft when it conflicts with the airborne user aircraft; true when it did.
bool lf_removeLiveConflictingWithUser(int flags, LiveAc& ac);
void lf_copyLiveAc(LiveAc& destination, const LiveAc& source);
// Removes a static aircraft that stands in the way of the live one.
void lf_removeStaticForCollisionAvoidance(bool& removed, int flags, LiveAc& copy);
// gf_enforceMaxLive, which removes the live aircraft farthest from the user until MAX_LIVE is kept, is in
// spawn.h.

// ---- Counts, range, lists ----

// False for a position in the box around 0/0 where the simulator, before it has placed the user aircraft,
// and the service, for what it does not know, put their positions: latitude 0..0.0009 and longitude
// 0..0.05, both limits included.
bool gf_isRealPosition(double latitude, double longitude);
// Great-circle distance in nautical miles (sphere of 10800/pi NM).
double gf_distanceNM(double latitude1, double longitude1, double latitude2, double longitude2);
// Live aircraft parked at a stand.
std::uint64_t gf_countParkedLiveAc(bool refreshAverageFit);
