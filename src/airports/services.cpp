#include "airports/services.h"

std::string g_parkAirportCode;
std::string g_reservedStand;
std::atomic<bool> g_standFileLoaded{false};
std::atomic<std::int16_t> g_parkingBusy{0};
std::atomic<std::int32_t> g_maxLiveInForce{-1};
GeoPosition g_parkAirportPos;
double g_parkAirportElevation = 0.0;
std::set<std::string> g_seenCallsigns;
std::set<std::uint32_t> g_seenHexIds;
