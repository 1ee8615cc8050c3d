#include "liveries/registrations.h"

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

