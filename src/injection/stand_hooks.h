// What the injection asks of the stands of the active park airport: a stand's name and place, its
// occupied-by-live mark, the parking list entries for it, and the reserved stand. The airports fill these
// in when their stands are there; unset, there are no stands (no name, no place, nothing to mark).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "injection/records.h"

struct StandHooks {
    std::function<std::string(std::uint32_t index)> name;
    std::function<std::optional<StandPlace>(std::uint32_t index)> place;
    std::function<void(std::uint32_t index, bool occupied)> markLive;
    // The entries of the static parking list for the stand go: a live aircraft parks there now.
    std::function<void(std::uint32_t index)> dropParkingEntries;
    // Index of the reserved stand; 0 when there is none.
    std::function<std::uint32_t()> reservedIndex;
};
extern StandHooks g_standHooks;

// The stand's name, empty when it has none (or there are no stands).
std::string gf_standName(std::uint32_t index);
std::optional<StandPlace> gf_standPlace(std::uint32_t index);
// Sets or clears the occupied-by-live mark; nothing for index 0.
void gf_markStandLive(std::uint32_t index, bool occupied);
void gf_dropParkingEntriesOfStand(std::uint32_t index);
std::uint32_t gf_reservedStandIndex();
