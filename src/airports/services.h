// What the run-time asks of the airports and the static parking: the airport list, the add-on airport scan,
// the park airports with their reserved stand, the parking renewal and its controls, and the clearing of
// the static parking at the exit.
//
// For now these carry the least the run-time needs: no airport list is read, there is no park airport, and
// a parking pass only gives its controls back. The stand choice and the parking controls are in
// stand_choice.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "airports/stand_choice.h"
#include "airports/stands.h"
#include "frame/timeutil.h"
#include "injection/services.h"

struct AirportData {
    std::string icao, iata;
    double latitude = 0.0, longitude = 0.0, altitude = 0.0;
};

// An entry of the park airport list; the first one is the active park airport.
struct ParkAirport {
    std::string code;
    std::string userStand;
    double latitude = 0.0, longitude = 0.0;
    double distance = 0.0;
};

// Work thread, unless said otherwise.
extern std::vector<AirportData> g_airports;
extern std::vector<ParkAirport> g_parkAirports;
extern std::string g_parkAirportCode;         // the active park airport; empty: none
extern std::string g_reservedStand;           // the stand reserved for the user aircraft; empty: none
extern std::atomic<bool> g_standFileLoaded;   // a stand file of the park airport is loaded (any thread)
extern std::atomic<std::int16_t> g_parkingBusy;     // above 0 while static parking is calculated (any thread)
extern std::atomic<std::int32_t> g_maxLiveInForce;  // the MAX_LIVE the parking code works with (any thread)
// Position (degrees) and elevation (feet) of the active park airport; elevation 0 when none is active.
extern GeoPosition g_parkAirportPos;
extern double g_parkAirportElevation;
// What the traffic reader saw while it collected (gf_takeOverSeenTraffic fills them); the parking code's.
extern std::set<std::string> g_seenCallsigns;
extern std::set<std::uint32_t> g_seenHexIds;

// Park airports: distances, order, in and out of sight; `firstCall` once when the work loop starts.
void gf_checkForParkAirportUpdates(bool firstCall);
// The add-on airport scan of the start-up (SCAN_AIRPORTS).
void gf_scanAddOnAirports();
// Reads the airport list, once per run.
void gf_readAirports();
// The airport with exactly this code, when the list has one.
std::optional<AirportData> gf_findAirport(const std::string& code);
// Reads the user's park airport list; true when all is well.
bool lf_readMyParkAirports();
// Checks the reserved stand and the park airports; true when `message` is to be shown.
bool lf_checkReservedStand(bool reRead, std::string& message);
// The second pass of a parking renewal, when a park airport with stands is active.
void lf_adjustParking(bool parkingModeChanged);
// Searches the stands' options for a callsign coupled to this half-hour of the week.
void lf_searchForCoupledCsAroundThisTime(WeekSlot slot, LiveAc& ac);
// Removes every static parked aircraft and empties the parking list.
void lf_clearStaticParking();
// Makes the airport the first park airport.
void lf_setParkAirport(const std::string& code, const AirportData& airport);
// Creates or extends the user's park-airport file with the user stand stored for the active park airport.
void gf_updateMyParkAirportsFile();
