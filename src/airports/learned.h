// The learned stand file of the park airport laid over the loaded stands: its settings snapshot becomes the
// settings in force (not saved), and a hand-made file replaces the stands while any other merges its manual
// stands, the learned radius and cargo changes and the learned options into them. Work thread.
#pragma once

#include <filesystem>
#include <vector>

#include "airports/stand_load.h"
#include <pugixml.hpp>

#include "airports/stands.h"

// Never throws: whatever goes wrong is logged and ends the merge, keeping what was applied before.
void lf_readLearned(const std::filesystem::path& path, const ApfInfo& archived, std::vector<ParkPos>& stands,
                    bool& handmade);
// Applies one learned "parkpos" to the stand when the ids match; false when they differ.
bool lf_readLearnedParkpos(pugi::xml_node parkpos, const std::string& id, ParkPos& stand);
// The candidate option is one the stand holds already.
bool lf_sameOpt(const ParkPosOption& candidate, const ParkPosOption& held);
