#include "liveries/services.h"

std::unordered_map<std::uint32_t, std::string_view> g_liveryByHexid;
std::set<std::string> g_unmatchedAircraft;

void gf_liveriesScan() {}
void gf_reserveLiveryContainers() { g_liveryByHexid.reserve(512); }
void gf_clearLiveryDatabase() { g_liveryByHexid.clear(); }
void gf_liveryMatchingSummary() {}
void gf_logUnmatchedAircraft() {}

