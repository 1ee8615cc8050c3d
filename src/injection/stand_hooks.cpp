#include "injection/stand_hooks.h"

#include <algorithm>

StandHooks g_standHooks;
std::vector<std::pair<std::uint32_t, WeekSlot>> g_standReservations;

std::string gf_standName(std::uint32_t index) { return g_standHooks.name ? g_standHooks.name(index) : std::string(); }

std::optional<StandPlace> gf_standPlace(std::uint32_t index) {
    return g_standHooks.place ? g_standHooks.place(index) : std::nullopt;
}

std::optional<double> gf_standRadius(std::uint32_t index) {
    return index != 0 && g_standHooks.radius ? g_standHooks.radius(index) : std::nullopt;
}

void gf_markStandLive(std::uint32_t index, std::uint32_t hexId) {
    if (index != 0 && g_standHooks.markLive) g_standHooks.markLive(index, hexId);
}

void gf_freeStandOf(std::uint32_t index, std::uint32_t hexId) {
    // Without a holder to ask, the stand is taken to be this aircraft's.
    const std::uint32_t holder = g_standHooks.occupiedByLive ? gf_standOccupiedByLive(index) : hexId;
    if (holder == hexId) gf_markStandLive(index, 0);
}

void gf_dropParkingEntriesOfStand(std::uint32_t index) {
    if (g_standHooks.dropParkingEntries) g_standHooks.dropParkingEntries(index);
}

std::uint32_t gf_reservedStandIndex() { return g_standHooks.reservedIndex ? g_standHooks.reservedIndex() : 0; }

std::uint32_t gf_standOccupiedByLive(std::uint32_t index) {
    return index != 0 && g_standHooks.occupiedByLive ? g_standHooks.occupiedByLive(index) : 0;
}

bool gf_standIsCargo(std::uint32_t index) { return index != 0 && g_standHooks.isCargo && g_standHooks.isCargo(index); }

void gf_learnCargoStand(std::uint32_t index, const LiveAc& ac) {
    if (index != 0 && g_standHooks.learnCargo) g_standHooks.learnCargo(index, ac);
}

void gf_try2Park(LiveAc& ac, bool wide) {
    if (g_standHooks.try2Park) g_standHooks.try2Park(ac, wide);
}

bool gf_addRealParkPosOption(LiveAc& ac, bool learnKey, WeekSlot slot, bool forget) {
    return g_standHooks.addRealParkPosOption && g_standHooks.addRealParkPosOption(ac, learnKey, slot, forget);
}

void gf_learnStandOfNearbyLiveAc(LiveAc& ac, bool force) {
    if (g_standHooks.learnStandOfNearbyLiveAc) g_standHooks.learnStandOfNearbyLiveAc(ac, force);
}

void gf_checkMaxPark(std::int32_t extra) {
    if (g_standHooks.checkMaxPark) g_standHooks.checkMaxPark(extra);
}

bool gf_parkAirportHasStands() { return g_standHooks.hasStands && g_standHooks.hasStands(); }

bool gf_standNear(double lat, double lon, double maxNm) {
    return g_standHooks.standNear && g_standHooks.standNear(lat, lon, maxNm);
}

std::uint32_t gf_nearestFreeStand(double lat, double lon, const LiveAc& ac, double maxNm, bool wide) {
    return g_standHooks.nearestFreeStand ? g_standHooks.nearestFreeStand(lat, lon, ac, maxNm, wide) : 0;
}

bool gf_standKeptFree(std::uint32_t index) { return g_standHooks.keptFree && g_standHooks.keptFree(index); }

std::vector<std::uint32_t> gf_standExcluded(std::uint32_t index) {
    return index != 0 && g_standHooks.excluded ? g_standHooks.excluded(index) : std::vector<std::uint32_t>{};
}

void gf_clearStaticAroundStand(std::uint32_t index, const LiveAc& ac) {
    if (index != 0 && g_standHooks.clearStaticAround) g_standHooks.clearStaticAround(index, ac);
}

void gf_reserveStand(std::uint32_t hexId, WeekSlot slot) {
    const auto it = std::find_if(g_standReservations.begin(), g_standReservations.end(),
                                 [&](const auto& entry) { return entry.first == hexId; });
    if (it != g_standReservations.end())
        it->second = slot;
    else
        g_standReservations.emplace_back(hexId, slot);
}
