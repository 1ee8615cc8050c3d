// What the run-time asks of the airports and the static parking: the airport list (airport_list.h), the park
// airports (park_airports.h), the stand files (stand_sources.h, stand_load.h, stand_save.h), the parking
// calculation (static_parking.h), the placement (placement.h), the renewal and clearing (renewal.h), and the
// add-on airport scan. The stand choice and the parking controls are in stand_choice.h. Also the state of the
// active park airport that other parts read.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include "airports/addon_scan.h"
#include "airports/airport_list.h"
#include "airports/park_airports.h"
#include "airports/renewal.h"
#include "airports/stand_choice.h"
#include "airports/stands.h"
#include "frame/timeutil.h"
#include "injection/services.h"

// Work thread, unless said otherwise.
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

// Searches the stands' options for a callsign coupled to this half-hour of the week.
void lf_searchForCoupledCsAroundThisTime(WeekSlot slot, LiveAc& ac);
