#include "liveries/registrations.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string_view>

namespace {

// A private-owner fragment is shorter than this.
constexpr std::size_t kFragmentLimit = 5;

// The fragments by text, each with its place in the table's iteration order: a text is answered by looking up
// its own short pieces, at most four per character, instead of testing every key of the table against it.
DbTextMap<std::size_t> g_privateFragments;
// The place of an empty key, which occurs in every text; none when the table has no such key.
std::size_t g_emptyFragmentRank = std::numeric_limits<std::size_t>::max();

}  // namespace

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

std::string gf_regcodeField1(const std::string& registration) {
    const auto record = gf_regcodeLookup(registration);
    return record ? record->airline : std::string();
}

std::string gf_regcodeField2(const std::string& registration) {
    const auto record = gf_regcodeLookup(registration);
    return record ? record->type : std::string();
}

std::string gf_regcodeField3(const std::string& registration) {
    const auto record = gf_regcodeLookup(registration);
    return record ? record->operatorCode : std::string();
}

void gf_collectPrivateOperators() {
    g_privateFragments.clear();
    g_emptyFragmentRank = std::numeric_limits<std::size_t>::max();
    std::size_t rank = 0;
    for (const auto& [key, record] : g_regcodeDb) {
        if (key.size() < kFragmentLimit && record.airline == "PVT") {
            if (key.empty())
                g_emptyFragmentRank = rank;
            else
                g_privateFragments.emplace(key, rank);
        }
        ++rank;
    }
}

std::string gf_findPrivateOperator(const std::string& text) {
    std::size_t best = g_emptyFragmentRank;
    std::string_view found;
    if (!g_privateFragments.empty()) {
        const std::string_view all(text);
        for (std::size_t start = 0; start < all.size(); ++start) {
            const std::size_t longest = std::min(kFragmentLimit - 1, all.size() - start);
            for (std::size_t length = 1; length <= longest; ++length) {
                const auto it = g_privateFragments.find(all.substr(start, length));
                if (it != g_privateFragments.end() && it->second < best) {
                    best = it->second;
                    found = it->first;
                }
            }
        }
    }
    return std::string(found);
}

bool gf_containsChar(const std::string& text, char c) { return text.find(c) != std::string::npos; }
