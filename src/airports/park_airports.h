// The park airports: the airports whose stands are filled with static parked aircraft. The user lists them,
// each with an optional reserved stand, in "airports/my_park_airports.txt"; every sub-folder of
// "airports/my_thirdparty" named like a known airport adds one more. The list is kept in order of distance to
// the user aircraft; at most one park airport is active, and a check every 16 seconds decides when one becomes
// active and when it is left. Work thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "airports/airport_list.h"
#include "airports/stand_sources.h"
#include "injection/geodesy.h"

struct ParkAirport {
    std::string code;
    std::string reservedStand;  // id of the stand kept free for the user aircraft; empty: none
    double latitude = 0.0, longitude = 0.0;
    double distance = 0.0;  // nm from the user aircraft at the last check
};

extern std::vector<ParkAirport> g_parkAirports;  // first entry: the candidate
extern AirportData g_activeParkAirport;          // its code is g_parkAirportCode; empty when none is active
extern bool g_parkingRecalcPending;              // a stand-file load and calculation is due at the next check
// The last check waits for a stand file being fetched (or for the look at a neighbouring airport's stands):
// the work loop checks again every second until it has the answer, not only every 16 seconds.
extern bool g_parkCheckWaiting;
// The user position the check last saw (0, 0 at first); a read of the list sets it back, so that the next check
// sorts the new list.
extern GeoPosition g_parkCheckPosition;

// Where the check has the stand file fetched (off the work thread) and asks for the result; tests put
// stand-ins here.
struct StandFileFetcher {
    std::function<void(const std::string& code)> start = gf_startStandFileFetch;
    std::function<std::optional<StandFileFetch>(const std::string& code)> fetched = gf_standFileFetched;
};
extern StandFileFetcher g_standFileFetcher;

// Empties the list and reads it again from the file and from "my_thirdparty" (a missing folder adds nothing);
// false when a line named an unknown airport or the read failed. A DESTINATION in force stays the first entry.
bool lf_readMyParkAirports();
void lf_readMyParkAirportsLine(bool& result, const std::string& line);
// The lines of "my_park_airports.txt", whatever ends them (CR LF, LF or a CR alone); false when it cannot be
// read. `complete`, when given, tells whether every line was read.
bool lf_readListLines(std::vector<std::string>& lines, bool* complete);
void lf_addThirdPartyParkAirports();
bool lf_isParkAirport(const std::string& code);
// Writes the first list entry with its reserved stand into the file (through a temporary file). The file is
// created only when there is none: one that exists but cannot be read is left alone (and logged).
void gf_updateMyParkAirportsFile();
bool lf_updateParkAirportLine(std::string& line);
// The destination: the airport becomes the first list entry.
void lf_setParkAirport(const std::string& code, const AirportData& airport);
// Makes the airport the active park airport; false when the airport list lacks the code.
bool lf_activateParkAirport(const std::string& code);
// The periodic check; `calculateAtOnce` on the first call of the main loop. It never waits for a download: the
// stand file is fetched off the work thread and the check goes on once the fetch has answered.
void gf_checkForParkAirportUpdates(bool calculateAtOnce);
void lf_checkUserOnGroundAirport(double latitude, double longitude, bool calculateAtOnce);
void lf_checkParkAirportInSight(double latitude, double longitude);
// Re-reads the list and takes over a changed reserved stand; true when `message` is to be shown.
bool lf_checkReservedStand(bool compare, std::string& message);
// Waits for the look at a neighbouring airport's stands that the check may have started (exit).
void gf_waitForParkAirportChecks();
