// The program's own version and the version triples of the update server and "parameters.xml".
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

struct ProgramVersion {
    int major = 0, minor = 0, patch = 0;
    // Newer means a greater major, then minor, then patch: the member order does exactly that.
    friend auto operator<=>(const ProgramVersion&, const ProgramVersion&) = default;
};

inline constexpr std::string_view kProgramVersionText = "10.10.4";
extern const ProgramVersion g_programVersion;  // kProgramVersionText as a triple

std::string gf_versionText(const ProgramVersion& v);  // "{}.{}.{}"
inline std::string gf_versionToString(const ProgramVersion& v) { return gf_versionText(v); }

// A triple from the first "<digits>?<digits>?<digits>" in the text (any one character between the runs),
// else from a JSON object with the integer members "major", "minor" and "patch" (missing ones stay 0).
// Nothing when the text holds neither; callers that need the old 0.0.0 use value_or(ProgramVersion{}).
// A number that does not fit ends the parse with what was filled in so far. Never throws.
std::optional<ProgramVersion> gf_parseVersion(std::string_view text);
