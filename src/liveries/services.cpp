#include "liveries/services.h"

std::unordered_map<std::uint32_t, std::string_view> g_liveryByHexid;
std::set<std::string> g_unmatchedAircraft;

void gf_liveriesScan() {}
void gf_readDataBase() {}
void gf_reserveLiveryContainers() { g_liveryByHexid.reserve(512); }
void gf_clearLiveryDatabase() { g_liveryByHexid.clear(); }
void gf_liveryMatchingSummary() {}
void gf_logUnmatchedAircraft() {}

std::unordered_map<std::string, RegcodeData> g_regcodeDb;
std::set<std::string> g_knownModels;
std::set<std::string> g_largeModels, g_heavyModels, g_buzjetModels, g_rotorcraftModels, g_highPerfModels;

std::vector<std::string> gf_registrationVariants(const std::string& registration) {
    std::vector<std::string> spellings;
    spellings.reserve(3);
    if (registration.size() >= 5 && registration.front() != 'N' && registration.find('-') == std::string::npos) {
        spellings.push_back(registration.substr(0, 2) + "-" + registration.substr(2));
        spellings.push_back(registration.substr(0, 1) + "-" + registration.substr(1));
    }
    spellings.push_back(registration);
    return spellings;
}

bool lf_findRegcode(RegcodeData& slot, const std::string& spelling) {
    const auto it = g_regcodeDb.find(spelling);
    if (it == g_regcodeDb.end()) return false;
    slot = it->second;
    return true;
}

std::optional<RegcodeData> gf_regcodeLookup(const std::string& registration) {
    if (registration.empty()) return std::nullopt;
    RegcodeData found;
    for (const std::string& spelling : gf_registrationVariants(registration)) {
        if (lf_findRegcode(found, spelling)) return found;
    }
    return std::nullopt;
}

bool gf_isKnownModel(const std::string& type) { return !type.empty() && g_knownModels.contains(type); }

std::uint32_t gf_categoryOfModel(const std::string& type) {
    if (g_largeModels.contains(type)) return 2;
    if (g_heavyModels.contains(type)) return 3;
    if (g_buzjetModels.contains(type)) return 1;
    if (g_rotorcraftModels.contains(type)) return 5;
    if (g_highPerfModels.contains(type)) return 4;
    return 0;
}

std::map<std::string, double> g_wingspans;
std::array<double, 6> g_defaultWingspans{};
double g_maxHalfWingSpan = 0.0;

double gf_wingspanOfModel(const std::string& type) {
    if (const auto it = g_wingspans.find(type); it != g_wingspans.end()) return it->second;
    const std::uint32_t category = gf_categoryOfModel(type);
    return category < g_defaultWingspans.size() ? g_defaultWingspans[category] : 0.0;
}
