#include "injection/aircraft_lists.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "frame/display.h"
#include "frame/settings.h"
#include "injection/services.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"
#include "window/requests.h"

std::vector<LiveAc> g_liveAc;
std::vector<AiAc> g_staticAc;
std::deque<std::uint32_t> g_removals;
std::deque<CreateAircraftRequest> g_liveCreations;
std::deque<CreateAircraftRequest> g_staticCreations;
std::vector<std::uint32_t> g_creationIds;
std::deque<std::uint32_t> g_spawnedHexIds;
std::vector<std::string> g_ghostCallsigns;
UserAcData g_userPos{};
std::uint32_t g_flareActive = 0;
std::atomic<std::int32_t> g_aiTick{0};
std::function<std::optional<GeoPosition>()> g_firstParkAirportPosition;

std::int64_t gf_aiTick() { return g_aiTick.load(); }

void lf_reserveGlobalLists() {
    // The per-tick passes then rarely reallocate; a restart keeps what the first run reserved.
    static std::once_flag once;
    std::call_once(once, [] {
        g_liveAc.reserve(512);
        g_staticAc.reserve(256);
        g_creationIds.reserve(64);
        g_ghostCallsigns.reserve(64);
    });
}

void lf_clearAiLists() {
    gf_takeSimMessages();
    gf_resetSimCommands();
    g_ghostCallsigns.clear();
    g_creationIds.clear();
    g_removals.clear();
    g_liveCreations.clear();
    g_staticCreations.clear();
    g_spawnedHexIds.clear();
    g_staticAc.clear();
    {
        std::lock_guard lock(g_intakeMutex);
        g_receivedTraffic.clear();
        g_bufferedTraffic.clear();
    }
    g_flareActive = 0;
    g_liveAc.clear();
}

std::int32_t gf_chooseTrafficRange(bool onGround, double altitudeFt, double aboveHeightFt, double airportHeightFt,
                                   double parkAirportDistanceNm) {
    if (onGround) return 10;
    if (altitudeFt > aboveHeightFt) return 100;
    if (altitudeFt > airportHeightFt) return 40;
    const double d = parkAirportDistanceNm;
    if (d <= 7.0) return 10;
    if (d < 37.0) return static_cast<std::int32_t>(std::lround(d)) + 3;
    return 40;
}

void gf_autoTrafficRange() {
    if (!g_AUTO_RANGE.value()) {
        g_autoRangeAtMinimum = false;
        return;
    }
    double distance = 10000.0;
    if (g_firstParkAirportPosition) {
        if (const auto airport = g_firstParkAirportPosition())
            distance = gf_distanceNM(g_userPos.latitude, g_userPos.longitude, airport->latitude, airport->longitude);
    }
    const std::int32_t radius =
        gf_chooseTrafficRange(g_userOnGround.load(), g_userPos.altitude, g_AUTO_RANGE_ABOVE_HEIGHT.value(),
                              g_AIRPORT_HEIGHT.value(), distance);
    const bool changed = g_LATERAL_RANGE.value() != radius;
    gf_setTrafficRange(radius);
    if (changed) {
        gf_showIntParameter(g_LATERAL_RANGE);
        gf_setTrafficBox();
    }
    g_autoRangeAtMinimum = radius == 10;
}

void gf_setTrafficRange(std::int32_t radiusNm) {
    g_LATERAL_RANGE.set(std::clamp(radiusNm, g_LATERAL_RANGE.minimum, g_LATERAL_RANGE.maximum));
    g_trafficRangeNm = static_cast<double>(radiusNm);
    // A 10 km margin over the query radius.
    g_trafficRangeMeters = radiusNm * 1852 + 10000;
}
