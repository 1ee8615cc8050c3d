#include "liveries/publishers.h"

#include <algorithm>
#include <regex>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/text.h"
#include "liveries/database.h"
#include "platform/names.h"

namespace {

constexpr std::string_view kRegexSpecials = "^$\\.*+?()[]{}|";

bool lf_containsNoCase(std::string_view text, std::string_view name) {
    const auto it = std::search(text.begin(), text.end(), name.begin(), name.end(), [](char a, char b) {
        return platform::asciiLower(a) == platform::asciiLower(b);
    });
    return it != text.end() || name.empty();
}

// The name occurs in the text as it stands (and is no longer than it).
bool lf_containsExactly(std::string_view text, std::string_view name) {
    return name.size() <= text.size() && text.find(name) != std::string_view::npos;
}

}  // namespace

bool gf_containsLike(std::string_view text, std::string_view name) {
    // ".*" stops at a line end, so such a text never matches as a whole.
    if (text.find_first_of("\n\r") != std::string_view::npos) return false;
    // A name without special characters is a plain search regardless of (ASCII) case, which is all the
    // expression does in the "C" locale; compiling an expression for each name of each file is what the scan
    // of thousands of scenery files cannot afford.
    if (name.find_first_of(kRegexSpecials) == std::string_view::npos) return lf_containsNoCase(text, name);
    try {
        const std::regex pattern(".*" + std::string(name) + ".*", std::regex::ECMAScript | std::regex::icase);
        return std::regex_match(text.begin(), text.end(), pattern);
    } catch (...) {
        return false;
    }
}

std::string gf_publisherFromFilename(std::string_view fileName) {
    if ((fileName.size() >= 4 && fileName.find("ORBX") != std::string_view::npos) ||
        gf_containsLike(fileName, "ORBX")) {
        gf_logLine(fmt::format("from filename => publisher  {}", "simaddon"));
        return "simaddon";
    }
    for (const std::vector<std::string>& group : g_publisherGroups) {
        for (const std::string& name : group) {
            if (lf_containsExactly(fileName, name) || gf_containsLike(fileName, name)) return group.front();
        }
    }
    return "unknown";
}

std::vector<std::string> gf_splitByComma(std::string_view text) { return gf_splitComma(text); }
