#include "liveries/database.h"

void gf_readDataBase() {}

std::unordered_map<std::string, RegcodeData> g_regcodeDb;
std::set<std::string> g_knownModels;
std::set<std::string> g_largeModels, g_heavyModels, g_buzjetModels, g_rotorcraftModels, g_highPerfModels;
std::vector<std::vector<std::string>> g_similarModelGroups;
std::vector<std::vector<std::string>> g_publisherGroups;

bool gf_isKnownModel(const std::string& type) { return !type.empty() && g_knownModels.contains(type); }

ModelCategory gf_categoryOfModel(const std::string& type) {
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
