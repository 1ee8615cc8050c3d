// The simulator link as the run-time sees it: the connection thread `SimClient`, the state it keeps about the
// simulator and the user aircraft, the command queues the work thread fills and the connection thread sends
// on every simulator frame, and the reset of all of it before a restart.
//
// The flight plans, the refused liveries and the user aircraft's identity have headers of their own,
// included here.
//
// Threads: the connection thread writes the atomics below and the user aircraft block (under
// g_userAcMutex); the work thread reads them. Requests from other threads go through gf_withSimConnect, so
// that none reaches a client that is being closed. g_simQueueMutex guards the queues, the swap of the position
// double buffer and every request the work thread makes directly; the connection thread only try_locks it
// for the per-frame flush, so a busy lock skips a frame instead of stalling the simulator's messages.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "simlink/flight_plan.h"
#include "simlink/protocol/simconnect.h"
#include "simlink/refused_liveries.h"
#include "simlink/simids.h"
#include "simlink/user_aircraft.h"
#include "window/main_window.h"

// ---- The connection ----

extern std::mutex g_simQueueMutex;
extern std::atomic<SimConnectHandle> g_simConnect;  // None while not connected
// Held shared by every request made on g_simConnect from outside the link thread, and exclusively by the
// link thread while it publishes or withdraws the handle: a request never reaches a client that is being
// closed. Lock order: g_simQueueMutex, then this one, then the protocol library's own lock.
extern std::shared_mutex g_simHandleMutex;

// Runs `request`(handle) on the current connection while it cannot be closed; without a connection the
// request is not made and the result is kSimFail. Any thread but the link thread.
template <typename Request>
SimResult gf_withSimConnect(Request&& request) {
    std::shared_lock lock(g_simHandleMutex);
    const SimConnectHandle handle = g_simConnect.load();
    if (handle == SimConnectHandle::None) return kSimFail;
    return request(handle);
}

// The simulator-connected mark of the window is the flag itself.
inline std::atomic<bool>& g_simConnected = g_mainWindow.g_simConnected;

extern std::atomic<bool> g_flightRunning;          // the simulator runs a flight ("Sim" event)
extern std::atomic<bool> g_secondTick;             // set once a simulator second, taken by the work loop
extern std::atomic<bool> g_userOnGround;
extern std::atomic<bool> g_userOnGroundKnown;
extern std::atomic<bool> g_beforeFirstConnection;  // true until the link has connected once in this run
extern std::atomic<bool> g_simFatalError;          // the third failed request: nothing more is sent
extern std::atomic<std::uint32_t> g_userObjectId;  // 2 until the simulator names it
extern std::atomic<std::uint32_t> g_requestErrorCount;
extern std::atomic<std::int64_t> g_simEpochTime;   // the simulator's zulu time, seconds since 1970
extern std::atomic<float> g_simFrameRate;
extern std::atomic<int> g_simMajorVersion;         // 5 or 6, from P3D_VERSION at each start

// The latest user aircraft data the simulator sent, under g_userAcMutex.
extern std::mutex g_userAcMutex;
extern UserAcData g_userAcFromSim;

// Seconds since 1970 of a zulu year, day of year (1 = 1 January) and seconds of the day; nullopt for values
// outside a calendar: a year beyond the calendar's +-32767, a day the year does not have, seconds outside
// 0..86399. The simulator's data block is read as it comes, and its values need not make sense.
std::optional<std::int64_t> gf_zuluEpoch(std::int64_t year, std::int64_t dayOfYear, std::int64_t seconds);
// Whether a time lies within what gf_zuluEpoch can give: differences of two such times cannot overflow.
bool gf_isZuluEpoch(std::int64_t epoch);

// ---- Queues, all under g_simQueueMutex ----

// The position double buffer: the work thread appends to the write half without the lock and swaps the
// halves under it; the flush sends and empties the read half.
struct AircraftUpdateBuffer {
    std::array<std::vector<AircraftUpdate>, 2> halves;
    std::size_t writeIndex = 0;
    std::vector<AircraftUpdate>& write() { return halves[writeIndex]; }
    std::vector<AircraftUpdate>& read() { return halves[1 - writeIndex]; }
    void swap() { writeIndex = 1 - writeIndex; }
    void clear() {
        halves[0].clear();
        halves[1].clear();
        writeIndex = 0;
    }
};
extern AircraftUpdateBuffer g_aircraftUpdates;
extern std::vector<ClientEventRequest> g_clientEventQueue;
extern std::vector<CreateAircraftRequest> g_createQueue;
extern std::vector<std::uint32_t> g_removeQueue;
extern std::vector<PendingCreation> g_pendingCreations;
// An aircraft the simulator announced that has not yet shown up in an in-range report.
struct NewlyAddedObject {
    std::uint32_t objectId = 0;
    std::uint32_t rounds = 0;  // complete in-range reports since it was announced
};
extern std::vector<NewlyAddedObject> g_newlyAddedObjects;
// After this many complete in-range reports without it, a pending creation or an announced object is given
// up: it was removed or is out of range, and would otherwise stay in its list for the whole run.
inline constexpr std::uint32_t kMaxUnmatchedRounds = 30;

// ---- The connection thread ----

// The one link thread. Started by the start-up, stopped and joined by the exit sequence; a running one is
// stopped and joined before another starts, so two never overlap.
extern std::jthread g_linkThread;

// Opens the connection (again every second until it works, or until an exit or a stop), registers the
// program's ids and dispatches what the simulator sends every millisecond until its stop token. A failed
// dispatch, a dropped socket or the simulator's quit ends the link and the run (reason 1); a user error
// ends the link with the error shown. At its end the link is marked closed, no flight runs, and no request
// reaches the closed client.
void SimClient(std::stop_token stop);
// Stops and joins a running link thread, then runs the procedure on a new one.
void gf_startLinkThread(const std::function<void(std::stop_token)>& procedure);
// Stops and joins the link thread; nothing when none runs. Never from the link thread itself. Then runs
// what the link left for the work thread (gf_handleLinkRequests): callers are the work thread itself or
// code that has stopped it, so the last user-stand check of a closing simulator is not lost.
void gf_stopLinkThread();
// Whether g_linkThread holds a thread (read under the lock that guards it).
bool gf_linkThreadRunning();

// How long the link waits before it tries to open the connection again (1 s; tests shorten it).
void gf_setLinkRetryInterval(std::chrono::milliseconds interval);

// ---- What the other threads call ----

// Work thread, once per tick: the look-ups the link asked for that touch the stands and park airports,
// which only the work thread may use: the stand under a newly reported user position (shown in the window)
// and the check that records the user's stand at the active park airport (lf_checkUserStand).
void gf_handleLinkRequests();
// Records the stand the user aircraft stands on at the active park airport, when it stands still on the
// ground, and extends the user's park-airport file with it. Work thread.
void lf_checkUserStand();

// Once per start: the simulator's major version, room in the queues, the fatal mark cleared.
void gf_initSimConnectQueues(int majorVersion);
// Counts a failed request; from the third on the link is fatal and the run restarts (reason 5, after 10 s).
void gf_countRequestError();
// The simulator went away: ends the run with reason 1 unless an exit is already under way.
void gf_simDisconnected();
// Unless the link is fatal or closed, asks for the user aircraft's data once; returns the latest data
// received.
UserAcData gf_getUserPosition();

// Appends the position of one AI aircraft to the write half of the double buffer; work thread, no lock.
void gf_updateAircraft(const AircraftUpdate& update);

void gf_queueClientEvent(const ClientEventRequest& event);
void gf_queueCreateAircraft(const CreateAircraftRequest& request);
void gf_queueRemoveAircraft(std::uint32_t objectId);
void gf_setNavLights(std::uint32_t objectId, std::uint32_t value);
void gf_setCabinLights(std::uint32_t objectId, std::uint32_t value);

// Everything above back to its start state, before a restart. The link thread must have ended.
void gf_resetLinkState();
