// The learned stand file of the park airport laid over the loaded stands: its settings snapshot becomes the
// settings in force (not saved), and a hand-made file replaces the stands while any other merges its manual
// stands, the learned radius and cargo changes and the learned options into them. Work thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "airports/stand_load.h"
#include <pugixml.hpp>

#include "airports/stands.h"

// What became of a learned file: whether it was taken whole, and the "parkpos" elements (as XML text) that
// the merge could not place, which the next save writes back as they were.
struct LearnedMerge {
    bool takenWhole = true;
    std::vector<std::string> carried;
    // Part of the file is neither taken nor carried and no copy of it could be made: nothing is to be saved
    // over it until a copy exists.
    bool uncopied = false;
};

// Never throws: whatever goes wrong is logged and ends the merge, keeping what was applied before. A file that
// is not taken whole is first kept byte for byte beside itself (lf_keepLearnedCopy), so no later save over it
// loses what the user had there; so is one with stands in a second "parkpositions" block. Hand-made stands
// without a position are carried.
// `text`, when given, is read in place of the file (a save of it failed).
LearnedMerge lf_readLearned(const std::filesystem::path& path, const ApfInfo& archived, std::vector<ParkPos>& stands,
                            bool& handmade, const std::optional<std::string>& text = std::nullopt);
// A copy of the file beside it, byte for byte ("EDDF.xml" -> "EDDF.0.xml", or the next free number; an older
// copy is reused only when it holds the same bytes), logged with the reason; the path of the copy, empty when
// none could be made.
std::filesystem::path lf_keepLearnedCopy(const std::filesystem::path& path, const std::string& reason);
// What a learned "parkpos" says that its stand did not take.
struct LearnedLeftOver {
    std::vector<pugi::xml_node> options;  // "opt" elements that the stand holds already
    bool radius = false;                  // a radius change without a usable radius: the radius stays
};
// Applies one learned "parkpos" to the stand when the ids match; false when they differ. A radius change takes
// only a usable radius (a number written back above 0); without one the radius and its changed flag stay.
// What the stand did not take goes into `left` when it is given.
bool lf_readLearnedParkpos(pugi::xml_node parkpos, const std::string& id, ParkPos& stand,
                           LearnedLeftOver* left = nullptr);
// The candidate option is one the stand holds already.
bool lf_sameOpt(const ParkPosOption& candidate, const ParkPosOption& held);
