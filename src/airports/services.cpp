#include "airports/services.h"

#include <algorithm>

std::vector<AirportData> g_airports;
std::vector<ParkAirport> g_parkAirports;
std::string g_parkAirportCode;
std::string g_reservedStand;
std::atomic<bool> g_standFileLoaded{false};
std::atomic<std::int16_t> g_parkingBusy{0};
std::atomic<std::int32_t> g_maxLiveInForce{-1};
GeoPosition g_parkAirportPos;
double g_parkAirportElevation = 0.0;
std::set<std::string> g_seenCallsigns;
std::set<std::uint32_t> g_seenHexIds;

void gf_checkForParkAirportUpdates(bool) {}
void gf_scanAddOnAirports() {}
void gf_readAirports() {}

std::optional<AirportData> gf_findAirport(const std::string& code) {
    const auto it = std::find_if(g_airports.begin(), g_airports.end(),
                                 [&](const AirportData& a) { return a.icao == code; });
    if (it == g_airports.end()) return std::nullopt;
    return *it;
}

bool lf_readMyParkAirports() { return true; }
bool lf_checkReservedStand(bool, std::string&) { return false; }

void lf_adjustParking(bool) { gf_enableParkingControls(); }

void gf_updateMyParkAirportsFile() {}

void lf_clearStaticParking() {
    gf_removeAllStaticAc();
    g_parkPositions.clear();
}

void lf_setParkAirport(const std::string& code, const AirportData& airport) {
    auto it = std::find_if(g_parkAirports.begin(), g_parkAirports.end(),
                           [&](const ParkAirport& p) { return p.code == code; });
    ParkAirport entry = it != g_parkAirports.end() ? *it : ParkAirport{code, {}, airport.latitude, airport.longitude, 0};
    if (it != g_parkAirports.end()) g_parkAirports.erase(it);
    g_parkAirports.insert(g_parkAirports.begin(), std::move(entry));
}
