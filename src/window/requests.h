// What the window hands to the work thread. UI handlers only save settings, show status and leave
// requests here; the work thread alone touches the aircraft, the stands and the park airports, so it is the
// one that carries the requests out.
//
// Flags are set with an exchange by the window and cleared by their consumer. The queue keeps the order in
// which the user asked; the work thread drains it once per tick, before its timers run, so that a removal
// asked for here happens before a parking renewal requested with it. Requests still queued when a work
// thread ends stay for the next one (a restart drains them in its start-up).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// "Re-read" was pressed: re-check the park airport (the button and DESTINATION are disabled meanwhile).
extern std::atomic<bool> g_reReadRequest;
// "Flush static": remove every static parked aircraft.
extern std::atomic<bool> g_removeAllStaticRequest;
// A parking-related setting changed; the parking code reads and clears it.
extern std::atomic<bool> g_parkingParametersChanged;
// Renew the static parking at the next 15-second tick.
extern std::atomic<bool> g_parkingRenewalRequest;
// BLOCK_CALLSIGN changed: apply the blocked callsign.
extern std::atomic<bool> g_blockRequest;
// MATCHING_DEPTH grew: forget the live aircraft that found no livery, so that they are matched again.
extern std::atomic<bool> g_clearUnmatchedRequest;

// RT_PARKTRAFFIC_ONLY was switched: its new value (0 or 1), or kParkingModeUnchanged once consumed.
inline constexpr std::int8_t kParkingModeUnchanged = -1;
extern std::atomic<std::int8_t> g_parkingModeChanged;

// The LATERAL_RANGE that AUTO_RANGE replaced; restored when AUTO_RANGE is switched off.
extern std::atomic<std::int32_t> g_autoRangeManualValue;
// Set by the automatic range while its radius sits at its 10 NM minimum.
extern std::atomic<bool> g_autoRangeAtMinimum;

// The time shift in minutes (0..40320) that both traffic-service clients send as their time offset, and
// whether it is above 0 (the time functions then work on shifted time).
extern std::atomic<std::int32_t> g_timeShiftMinutes;
extern std::atomic<bool> g_timeShifted;
// The simulator epoch time that the per-second work measures the simulator's clock against; 0 while
// SIM_TIME is on.
extern std::atomic<std::int64_t> g_simTimeReference;

enum class WorkRequestKind {
    // NAV_LIGHTS_WHILE_PARKED changed (`on` is the new value): set the navigation lights of every static
    // aircraft in the simulator and of every live aircraft parked in the simulator.
    NavLights,
    // The time shift changed: remove all live and all static aircraft, so that traffic and parking are
    // rebuilt for the new time (the window has set g_parkingRenewalRequest with it).
    RemoveAllAircraft,
    // MAX_LIVE changed to `value`: when `on`, first copy it into the limit the parking code works with
    // (no stand file was loaded), then enforce it on the live aircraft.
    EnforceMaxLive,
    // DESTINATION became `airport` (a known code): make it the first park airport.
    SetParkAirport,
    // SCAN_LIVERIES was switched on before the first simulator connection: the coming restart scans and
    // builds the livery database anew, emptying it on the work thread just before that build (aircraft of
    // this run may still hold views of its titles until then).
    ClearLiveryDatabase,
    // AUTO_RANGE was switched on: compute the automatic traffic range now (skip it if AUTO_RANGE is off again
    // by the time the request is taken).
    AutoTrafficRange,
};

struct WorkRequest {
    WorkRequestKind kind = WorkRequestKind::NavLights;
    bool on = false;
    std::int32_t value = 0;
    std::string airport{};
    friend bool operator==(const WorkRequest&, const WorkRequest&) = default;
};

// Any thread; never blocks for long.
void gf_postWorkRequest(WorkRequest request);
// The work thread: everything posted so far, oldest first; the queue is empty afterwards.
std::vector<WorkRequest> gf_takeWorkRequests();

// Every flag and value above back to its start value and the queue emptied (tests, and nothing else).
void gf_resetWindowRequests();
