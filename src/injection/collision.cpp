#include "injection/collision.h"

#include <cmath>
#include <numbers>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "injection/removal.h"
#include "injection/stand_hooks.h"

namespace {

constexpr double kFeetPerNm = 6076.11549;
// A user aircraft descending below this height sees an aircraft standing on its line of flight.
constexpr double kUserLowFt = 500.0;
constexpr double kGroundRangeNm = 1.0;
constexpr double kGroundLateralFt = 50.0;
constexpr double kAirRangeNm = 4.0;
constexpr double kAirHeightFt = 1000.0;
constexpr double kAirLateralFt = 700.0;
constexpr double kStaticSpanFactor = 1.1;

}  // namespace

double gf_lateralOffsetFt(double reference, double bearing, double distanceNm) {
    return std::abs(std::sin(std::remainder(reference - bearing, 2.0 * std::numbers::pi))) * distanceNm * kFeetPerNm;
}

bool lf_removeLiveConflictingWithUser(int, LiveAc& ac) {
    if (ac.status != kAcInSim) return false;
    const double d = gf_distanceNM(g_userPos.latitude, g_userPos.longitude, ac.latitude, ac.longitude);
    const double bearing = gf_initialBearing(g_userPos.latitude, g_userPos.longitude, ac.latitude, ac.longitude);
    bool conflict = false;
    if (ac.onGround) {
        conflict = g_userPos.altAboveGround < kUserLowFt && d <= kGroundRangeNm &&
                   gf_lateralOffsetFt(g_userPos.heading, bearing, d) <= kGroundLateralFt;
    } else {
        conflict = d <= kAirRangeNm && std::abs(ac.altitude - g_userPos.altitude) < kAirHeightFt &&
                   gf_lateralOffsetFt(ac.heading, bearing, d) <= kAirLateralFt;
    }
    if (conflict) removeAircraftFromSim(ac);
    return conflict;
}

void lf_removeStaticForCollisionAvoidance(bool& removed, int, LiveAc& copy) {
    removed = false;
    for (AiAc& st : g_staticAc) {
        if (st.status != kAcInSim) continue;
        const double d = gf_distanceNM(copy.latitude, copy.longitude, st.standLat, st.standLon);
        if (d > (copy.halfSpan + st.halfSpan) * kStaticSpanFactor) continue;
        if (g_LOG.value()) {
            gf_logLine(fmt::format("{:8}: {:8} removed for collision avoidance with live {}", gf_standName(st.standIndex),
                                   st.callsign, copy.callsign));
        }
        removeAircraftFromSim(st);
        removed = true;
        return;
    }
}

void lf_copyLiveAc(LiveAc& destination, const LiveAc& source) { destination = source; }
