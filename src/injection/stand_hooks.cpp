#include "injection/stand_hooks.h"

StandHooks g_standHooks;

std::string gf_standName(std::uint32_t index) { return g_standHooks.name ? g_standHooks.name(index) : std::string(); }

std::optional<StandPlace> gf_standPlace(std::uint32_t index) {
    return g_standHooks.place ? g_standHooks.place(index) : std::nullopt;
}

void gf_markStandLive(std::uint32_t index, bool occupied) {
    if (index != 0 && g_standHooks.markLive) g_standHooks.markLive(index, occupied);
}

void gf_dropParkingEntriesOfStand(std::uint32_t index) {
    if (g_standHooks.dropParkingEntries) g_standHooks.dropParkingEntries(index);
}

std::uint32_t gf_reservedStandIndex() { return g_standHooks.reservedIndex ? g_standHooks.reservedIndex() : 0; }
