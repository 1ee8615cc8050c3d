// The simulator link as the run-time sees it: the connection thread `SimClient`, the state it keeps about the
// simulator and the user aircraft, the command queues the work thread fills and the connection thread sends
// on every simulator frame, and the reset of all of it before a restart.
//
// Threads: the connection thread writes the atomics below and the user aircraft block (under
// g_userAcMutex); the work thread reads them. g_simQueueMutex guards the queues, the swap of the position
// double buffer and every request the work thread makes directly; the connection thread only try_locks it
// for the per-frame flush, so a busy lock skips a frame instead of stalling the simulator's messages.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

#include "simlink/protocol/simconnect.h"
#include "simlink/simids.h"
#include "window/main_window.h"

// ---- The connection ----

extern std::mutex g_simQueueMutex;
extern std::atomic<SimConnectHandle> g_simConnect;  // None while not connected
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

// The user aircraft's half wing span in nautical miles; below 0 while it is not known.
inline constexpr double kHalfWingSpanUnknown = -1.0;
extern std::atomic<double> g_userHalfWingSpan;
inline bool gf_userHalfWingSpanKnown() { return g_userHalfWingSpan.load() >= 0.0; }

// The latest user aircraft data the simulator sent, under g_userAcMutex.
extern std::mutex g_userAcMutex;
extern UserAcData g_userAcFromSim;

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
extern std::vector<std::uint32_t> g_newlyAddedObjects;

// Livery titles the simulator refused to create (views into the livery database).
extern std::vector<std::string_view> g_liveriesNotCreated;

// ---- The connection thread ----

// The one link thread. Started by the start-up, stopped and joined by the exit sequence; a running one is
// stopped and joined before another starts, so two never overlap.
extern std::jthread g_linkThread;

// Opens the connection (again every second until it works), registers the program's ids and dispatches
// what the simulator sends every millisecond, until its stop token, an exit or a stop. A lost connection
// ends the run with reason 1.
void SimClient(std::stop_token stop);
// Stops and joins a running link thread, then runs the procedure on a new one.
void gf_startLinkThread(const std::function<void(std::stop_token)>& procedure);
// Stops and joins the link thread; nothing when none runs. Never from the link thread itself.
void gf_stopLinkThread();
// Whether g_linkThread holds a thread (read under the lock that guards it).
bool gf_linkThreadRunning();

// ---- What the other threads call ----

// Once per start: the simulator's major version, room in the queues, the fatal mark cleared.
void gf_initSimConnectQueues(int majorVersion);
// Counts a failed request; from the third on the link is fatal and the run restarts (reason 5, after 10 s).
void gf_countRequestError();
// The simulator went away: ends the run with reason 1 unless an exit is already under way.
void gf_simDisconnected();
// Unless the link is fatal, asks for the user aircraft's data once; returns the latest data received.
UserAcData gf_getUserPosition();

void gf_queueClientEvent(const ClientEventRequest& event);
void gf_queueCreateAircraft(const CreateAircraftRequest& request);
void gf_queueRemoveAircraft(std::uint32_t objectId);
void gf_setNavLights(std::uint32_t objectId, std::uint32_t value);
void gf_setCabinLights(std::uint32_t objectId, std::uint32_t value);

// The folder "orig_dest" of the AI flight plans, in the application folder.
extern std::filesystem::path g_flightPlanFolder;
void gf_createFlightPlanFolder();
bool gf_removeFlightPlanFolder();

// Everything above back to its start state, before a restart. The link thread must have ended.
void gf_resetLinkState();
