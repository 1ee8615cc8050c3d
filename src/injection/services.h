// What the run-time asks of the live traffic injection: the aircraft records and lists it reads, the AI
// update of each tick, the removals, the collision checks, the traffic range, and the list resets.
//
// For now these carry the least the run-time needs: the records hold only what the frame reads, no
// traffic is taken in and nothing is created, so the lists stay empty unless a test fills them.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "simlink/simids.h"

// Aircraft status.
inline constexpr std::int32_t kAcNotInSim = 0;
inline constexpr std::int32_t kAcCreationQueued = 1;
inline constexpr std::int32_t kAcInSim = 2;
inline constexpr std::int32_t kAcRespawn = 3;
inline constexpr std::int32_t kAcRemovalRequested = 4;

// Movement state of a live aircraft.
inline constexpr std::int32_t kMoveFollowing = 2;  // follows the received positions
inline constexpr std::int32_t kMoveToStand = 5;    // drives to a stand
inline constexpr std::int32_t kMoveParked = 6;     // parked at a stand

// The AI aircraft record: a static parked aircraft, and the first part of every live one.
struct AiAc {
    std::string airline, type, origin, destination, callsign, registration;
    std::uint32_t category = 0;
    double halfWingSpan = 0.0;  // nautical miles
    std::string_view title;     // livery title, owned by the livery database; empty: none
    std::uint32_t hexid = 0;
    std::uint32_t objectId = 0;
    double latitude = 0.0, longitude = 0.0;            // where it is now
    double standLatitude = 0.0, standLongitude = 0.0;  // the stand of a static aircraft
    std::int32_t status = kAcNotInSim;
    bool onGround = true;
    bool cargo = false;
};

struct LiveAc : AiAc {
    std::int32_t state = 7;  // new
    bool takeOffRoll = false;
    bool braking = false;
    bool coupledSearchDone = false;  // set by the frame once its coupled-callsign search has run
    // The position at its last parked-collision check (set by the frame).
    double lastCheckLatitude = 0.0, lastCheckLongitude = 0.0;
};

// Owned by the work thread; no lock.
extern std::vector<LiveAc> g_liveAc;
extern std::vector<AiAc> g_staticAc;
// Simulator object ids waiting for their removal (the exit hands the rest to the link).
extern std::deque<std::uint32_t> g_removals;
// Hex ids of live aircraft whose duplicates among the static aircraft are to be looked for.
extern std::deque<std::uint32_t> g_duplicateChecks;
// Callsigns the ghost check recorded.
extern std::vector<std::string> g_ghostCallsigns;

// The user aircraft's data as the AI update last copied it; latitude and longitude 0 until it arrived.
// Work thread.
extern UserAcData g_userPos;

// Guards the received traffic and the AI-running flag.
extern std::mutex g_intakeMutex;
// Written only under g_intakeMutex.
extern std::atomic<bool> g_aiRunning;

// ---- The tick ----

// The AI work of one 10 ms tick while a flight runs.
void gf_updateAI();
// The simulator's messages and the post-creation commands; also while no flight runs.
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
// Removes the live aircraft farthest from the user, one by one, until MAX_LIVE is kept.
void gf_enforceMaxLive();

// ---- Counts, range, lists ----

// Great-circle distance in nautical miles (sphere of 10800/pi NM).
double gf_distanceNM(double latitude1, double longitude1, double latitude2, double longitude2);
// Live aircraft parked at a stand.
std::uint64_t gf_countParkedLiveAc(bool refreshAverageFit);
// With AUTO_RANGE on, chooses the traffic radius.
void gf_autoTrafficRange();
// LATERAL_RANGE := the radius clamped into 2..100; the derived values from the radius as given.
void gf_setTrafficRange(std::int32_t radiusNm);
// Room in the lists, once.
void lf_reserveGlobalLists();
// Everything emptied, at a restart.
void lf_clearAiLists();
