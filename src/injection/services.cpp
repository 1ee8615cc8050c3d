#include "injection/services.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "frame/display.h"
#include "frame/settings.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"
#include "window/requests.h"

std::vector<LiveAc> g_liveAc;
std::vector<AiAc> g_staticAc;
std::deque<std::uint32_t> g_removals;
std::deque<std::uint32_t> g_duplicateChecks;
std::vector<std::string> g_ghostCallsigns;
UserAcData g_userPos{};
std::mutex g_intakeMutex;
std::atomic<bool> g_aiRunning{false};

namespace {

std::uint32_t g_aiTicks = 0;  // work thread

}  // namespace

void gf_updateAI() {
    gf_SimCommands();
    // The user's position is fresh once a second for everybody who measures from it.
    if (++g_aiTicks % 100 == 0) g_userPos = gf_getUserPosition();
}

void gf_SimCommands() {}

void gf_setAiRunning(bool running) {
    std::lock_guard lock(g_intakeMutex);
    g_aiRunning = running;
}

void removeAircraftFromSim(AiAc& ac) {
    ac.status = kAcRemovalRequested;
    if (ac.objectId != 0) g_removals.push_back(ac.objectId);
}

void gf_removeAllLiveAc() {
    for (LiveAc& ac : g_liveAc) {
        if (ac.status == kAcInSim) removeAircraftFromSim(ac);
    }
    g_liveAc.clear();
}

void gf_removeAllStaticAc() {
    for (AiAc& ac : g_staticAc) {
        if (ac.status == kAcInSim) removeAircraftFromSim(ac);
    }
    g_staticAc.clear();
}

void gf_removeAcAtReservedStand() {}

bool gf_checkDuplicates(const std::string&, bool, const AiAc&) { return false; }

bool lf_removeLiveConflictingWithUser(int, LiveAc&) { return false; }

void lf_copyLiveAc(LiveAc& destination, const LiveAc& source) { destination = source; }

void lf_removeStaticForCollisionAvoidance(bool& removed, int, LiveAc&) { removed = false; }

void gf_enforceMaxLive() {
    const std::int32_t max = g_MAX_LIVE.value();
    if (max < 0) return;
    for (;;) {
        std::vector<LiveAc*> inSim;
        for (LiveAc& ac : g_liveAc) {
            if (ac.status == kAcInSim) inSim.push_back(&ac);
        }
        if (inSim.size() <= static_cast<std::size_t>(max)) return;
        const auto distance = [](const LiveAc* ac) {
            return gf_distanceNM(g_userPos.latitude, g_userPos.longitude, ac->latitude, ac->longitude);
        };
        removeAircraftFromSim(**std::max_element(inSim.begin(), inSim.end(),
                                                 [&](auto* a, auto* b) { return distance(a) < distance(b); }));
    }
}

double gf_distanceNM(double latitude1, double longitude1, double latitude2, double longitude2) {
    constexpr double kRadius = 10800.0 / std::numbers::pi;
    constexpr double kRad = std::numbers::pi / 180.0;
    const double dLat = (latitude2 - latitude1) * kRad;
    const double dLon = (longitude2 - longitude1) * kRad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(latitude1 * kRad) * std::cos(latitude2 * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2.0 * kRadius * std::atan2(std::sqrt(a), std::sqrt(1.0 - a));
}

std::uint64_t gf_countParkedLiveAc(bool) {
    return static_cast<std::uint64_t>(
        std::count_if(g_liveAc.begin(), g_liveAc.end(), [](const LiveAc& ac) { return ac.state == kMoveParked; }));
}

void gf_autoTrafficRange() {
    if (!g_AUTO_RANGE.value()) {
        g_autoRangeAtMinimum = false;
        return;
    }
    // On the ground only the airport around matters; aloft the usual radius.
    const std::int32_t radius = g_userOnGround.load() ? 10 : 40;
    const bool changed = g_LATERAL_RANGE.value() != radius;
    gf_setTrafficRange(radius);
    g_autoRangeAtMinimum = radius == 10;
    if (changed) {
        gf_showIntParameter(g_LATERAL_RANGE);
        gf_setTrafficBox();
    }
}

void gf_setTrafficRange(std::int32_t radiusNm) {
    g_LATERAL_RANGE.set(std::clamp(radiusNm, g_LATERAL_RANGE.minimum, g_LATERAL_RANGE.maximum));
    g_trafficRangeNm = static_cast<double>(radiusNm);
    g_trafficRangeMeters = radiusNm * 1852 + 10000;
}

void lf_reserveGlobalLists() {
    g_liveAc.reserve(512);
    g_staticAc.reserve(256);
}

void lf_clearAiLists() {
    g_liveAc.clear();
    g_staticAc.clear();
    g_removals.clear();
    g_duplicateChecks.clear();
    g_aiTicks = 0;
}
