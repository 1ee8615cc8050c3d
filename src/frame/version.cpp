#include "frame/version.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <stdexcept>

// Constant-initialised so that code running before main (other globals) already sees it.
const ProgramVersion g_programVersion{10, 10, 4};

std::string gf_versionText(const ProgramVersion& v) { return fmt::format("{}.{}.{}", v.major, v.minor, v.patch); }

std::optional<ProgramVersion> gf_parseVersion(std::string_view text) {
    if (text.empty()) return std::nullopt;
    ProgramVersion v;
    try {
        static const std::regex pattern(R"((\d+).(\d+).(\d+))");
        std::match_results<std::string_view::const_iterator> m;
        if (std::regex_search(text.begin(), text.end(), m, pattern)) {
            v.major = std::stoi(m[1].str());
            v.minor = std::stoi(m[2].str());
            v.patch = std::stoi(m[3].str());
            return v;
        }
        const auto json = nlohmann::json::parse(text, nullptr, false);
        if (!json.is_object()) return std::nullopt;
        if (json.contains("major")) v.major = json.at("major").get<int>();
        if (json.contains("minor")) v.minor = json.at("minor").get<int>();
        if (json.contains("patch")) v.patch = json.at("patch").get<int>();
        return v;
    } catch (const std::exception&) {
        // An out-of-range number or a member of the wrong type: keep what was read before it.
        return v;
    }
}
