// The airport list: every airport the program knows by its ICAO code, read once per process from
// "input/airports_p3d.xml", with its position, altitude and IATA code; the label an airport is shown by, and
// the airport at which a position lies.
//
// Filled on the start-up thread and published complete; read-only afterwards (work and UI thread).
#pragma once

#include <optional>
#include <string>
#include <vector>

struct AirportData {
    std::string code;  // ICAO code as the file writes it
    std::string iata;  // empty when none
    double latitude = 0.0, longitude = 0.0;  // degrees
    double altitude = 0.0;                   // the file's "alt", feet
};

// Sorted by code in ascending byte order once the read has completed.
extern std::vector<AirportData> g_airports;

// Reads the list once per process; true when it holds at least one airport. Failures raise user errors 87/88.
bool gf_readAirports();
// A copy of the first airport with exactly this code (case-sensitive).
std::optional<AirportData> gf_findAirport(const std::string& code);
// "EHAM (AMS)", "EHAM" without IATA code, "?" for an empty code.
std::string gf_airportLabel(const AirportData& airport);
// The airport at which the position (degrees) lies: the closest within 5 nm, corrected by a look at the stands
// of a neighbouring airport; nothing when none lies within 5 nm.
std::optional<AirportData> gf_closestAirport(double latitude, double longitude);
// Its two steps. The airports within 5 nm: the closest, and the one that was closest before it in list order
// (null when none); pointers into g_airports, which no longer changes once read. Computing only.
struct AirportCandidates {
    const AirportData* closest = nullptr;
    const AirportData* neighbour = nullptr;
};
AirportCandidates gf_airportCandidates(double latitude, double longitude);
// Of two airports, the one whose nearest stand lies nearer to the position. Reads both stand files, which may
// mean downloads: never on the work thread itself.
AirportData gf_chooseByNearestStand(const AirportData& closest, const AirportData& neighbour, double latitude,
                                    double longitude);

// Forgets the list and that it was read, so that the next gf_readAirports reads the file again. Tests only:
// the program reads the list once per process.
void lf_resetAirportListForTests();
