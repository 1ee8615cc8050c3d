#include "airports/parking.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "airports/learning.h"
#include "airports/placement.h"
#include "airports/services.h"
#include "airports/stand_choice.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "injection/ai_update.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "injection/ground_movement.h"
#include "injection/removal.h"
#include "injection/sim_messages.h"
#include "injection/stand_hooks.h"
#include "simlink/link.h"

namespace {


// Whether two parked aircraft with these half spans may touch at stands this far apart.
bool lf_spansTouch(double halfSpan1, double halfSpan2, double distanceNm) {
    return (halfSpan1 + halfSpan2) * kParkSpanFactor >= distanceNm;
}

// The aircraft gives up a stand it held before it was sent to another one.
void lf_releaseHeldStand(const LiveAc& a, std::uint32_t newIndex) {
    if (a.standIndex == 0 || a.standIndex == newIndex) return;
    if (ParkPos* old = gf_standByIndex(a.standIndex); old != nullptr && old->occupiedByLive == a.hexId) {
        old->occupiedByLive = 0;
    }
}

std::string lf_makesWayText(const ParkPos& stand, const AiAc& t, const LiveAc& a) {
    const bool same = (!t.callsignCopy.empty() && t.callsignCopy == a.callsign) ||
                      (!t.registration.empty() && t.registration == a.registration);
    return fmt::format("{:8}: {:8} {} makes way for{} {} {}", stand.id, t.callsign, gf_aimo(t),
                       same ? " the same live version" : "", a.callsign, gf_aimo(a));
}

}  // namespace

void try2Park(LiveAc& a, bool wide) {
    if (a.track.empty()) {
        gf_logLine(fmt::format("{} empty sz?", "try2Park"));
        return;
    }
    const TrackPoint& b = a.track.back();
    if (b.lat == a.lastParkTryLat && b.lon == a.lastParkTryLon) return;  // this point was searched already
    a.lastParkTryLat = b.lat;
    a.lastParkTryLon = b.lon;

    const std::size_t found = lf_nearestFreeStand(b.lat, b.lon, a, wide ? kParkWideSearchNm : kParkSearchNm, wide);
    if (found >= g_parkPositions.size()) return;
    ParkPos& s = g_parkPositions[found];
    if (!g_reservedStand.empty() && g_reservedStand == s.id) return;
    if (const std::string userStand = gf_userStandNow(); !userStand.empty() && userStand == s.id) return;

    for (LiveAc& o : g_liveAc) {
        if (&o == &a || o.standIndex != s.index || o.state != kMoveParked || o.status != kAcInSim) continue;
        if (g_LOG.value()) gf_logLine(fmt::format("{:8}: {:8} removed, {} wants to park there", s.id, o.callsign, a.callsign));
        removeAircraftFromSim(o);
    }
    for (const std::uint32_t n : s.excluded) {
        const NeighbourClearing context{n, s, a};
        for (LiveAc& o : g_liveAc) {
            if (&o != &a) lf_clearLiveAtNeighbour(context, o);
        }
    }
    checkStandOrExcludedIsOccupiedByStaticAndRemove(a, s);

    lf_releaseHeldStand(a, s.index);
    a.standLat = s.latitude;
    a.standLon = s.longitude;
    a.standHeading = s.heading;
    a.standIndex = s.index;
    a.standCargo = s.cargo != 0;
    s.occupiedByLive = a.hexId;
    a.track.resize(1);
    if (a.state != kMoveToStand) {
        a.previousState = a.state;
        a.state = kMoveToStand;
    }
    drive2Stand(a, s.latitude, s.longitude, s.heading);
}

void lf_clearLiveAtNeighbour(const NeighbourClearing& c, LiveAc& o) {
    if (o.standIndex != c.neighbourIndex || o.status != kAcInSim) return;
    if (o.state != kMoveParked && o.state != kMoveAfterPushback) return;
    const ParkPos* neighbour = gf_standByIndex(c.neighbourIndex);
    if (neighbour == nullptr || (neighbour->latitude == 0.0 && neighbour->longitude == 0.0)) return;
    const double distance = gf_distanceNM(neighbour->latitude, neighbour->longitude, c.stand.latitude, c.stand.longitude);
    if (!lf_spansTouch(o.halfSpan, c.live.halfSpan, distance)) return;
    if (g_LOG.value()) {
        gf_logLine(fmt::format("{:8}: {:8} removed by parking {} at adjacent and possibly colliding stand {}",
                               neighbour->id, o.callsign, c.live.callsign, c.stand.id));
    }
    removeAircraftFromSim(o);
}

void checkStandOrExcludedIsOccupiedByStaticAndRemove(const LiveAc& a, const ParkPos& s) {
    try {
        {
            // Records withdrawn from the creation queue are erased when the walk ends.
            StaticListWalk walk;
            const StandClearing context{s, a};
            for (AiAc& t : g_staticAc) {
                if (lf_clearStaticOnStand(context, t)) break;
            }
        }
        for (const std::uint32_t n : s.excluded) {
            StaticListWalk walk;
            const NeighbourClearing context{n, s, a};
            for (AiAc& t : g_staticAc) {
                if (lf_clearStaticAtNeighbour(context, t)) break;
            }
        }
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "checkStandOrExcludedIsOccupiedByStaticAndRemove", e.what()));
        throw;
    }
}

bool lf_clearStaticOnStand(const StandClearing& c, AiAc& t) {
    if (t.standIndex != c.stand.index) return false;
    if (t.status == kAcInSim) {
        if (g_LOG.value()) gf_logLine(lf_makesWayText(c.stand, t, c.live));
        removeAircraftFromSim(t);
    } else if (t.status == kAcCreationQueued) {
        if (gf_dequeueCreation(g_staticCreations, t.callsign, t.hexId)) {
            t.creationWithdrawn = true;
            if (g_LOG.value()) gf_logLine("queued " + lf_makesWayText(c.stand, t, c.live));
        } else {
            t.removeWhenCreated = true;  // the link has the request: it goes once it exists
        }
    }
    return true;
}

bool lf_clearStaticAtNeighbour(const NeighbourClearing& c, AiAc& t) {
    if (t.standIndex != c.neighbourIndex || t.status != kAcInSim) return false;
    const ParkPos* neighbour = gf_standByIndex(c.neighbourIndex);
    const double lat = neighbour != nullptr ? neighbour->latitude : 0.0;
    const double lon = neighbour != nullptr ? neighbour->longitude : 0.0;
    if (!lf_spansTouch(t.halfSpan, c.live.halfSpan, gf_distanceNM(lat, lon, c.stand.latitude, c.stand.longitude))) {
        return false;
    }
    if (g_LOG.value()) {
        const std::string name = c.neighbourIndex == 0 ? std::string("sid==0?")
                                 : neighbour == nullptr ? std::string("unknown")
                                                        : neighbour->id;
        gf_logLine(fmt::format("{:8}: {:8} removed by {} parking at adjacent stand {}", name, t.callsign,
                               c.live.callsign, c.stand.id));
    }
    removeAircraftFromSim(t);
    return true;
}

void gf_installStandHooks() {
    // The log lines name a stand; index 0 and an index no stand has are named for what they are.
    g_standHooks.name = [](std::uint32_t index) {
        if (index == 0) return std::string("sid==0?");
        const ParkPos* s = gf_standByIndex(index);
        return s != nullptr ? s->id : std::string("unknown");
    };
    g_standHooks.place = [](std::uint32_t index) -> std::optional<StandPlace> {
        const ParkPos* s = gf_standByIndex(index);
        if (s == nullptr) return std::nullopt;
        return StandPlace{s->latitude, s->longitude, s->heading};
    };
    g_standHooks.radius = [](std::uint32_t index) -> std::optional<double> {
        const ParkPos* s = gf_standByIndex(index);
        if (s == nullptr) return std::nullopt;
        return s->radius;
    };
    g_standHooks.markLive = [](std::uint32_t index, std::uint32_t hexId) {
        if (ParkPos* s = gf_standByIndex(index)) s->occupiedByLive = hexId;
    };
    g_standHooks.occupiedByLive = [](std::uint32_t index) -> std::uint32_t {
        const ParkPos* s = gf_standByIndex(index);
        return s != nullptr ? s->occupiedByLive : 0;
    };
    g_standHooks.isCargo = [](std::uint32_t index) {
        const ParkPos* s = gf_standByIndex(index);
        return s != nullptr && s->cargo != 0;
    };
    // A cargo aircraft parked at a stand makes it a cargo stand.
    g_standHooks.learnCargo = [](std::uint32_t index, const LiveAc& a) {
        ParkPos* s = gf_standByIndex(index);
        if (s == nullptr || s->cargo != 0) return;
        s->cargo = 1;
        s->cargoChanged = 1;
        gf_countStandChange();
        gf_logLine(fmt::format("{} stand: {}, cargo attribute set to true, {} parked here", g_parkAirportCode, s->id,
                               gf_acText(a)));
    };
    g_standHooks.reservedIndex = []() -> std::uint32_t {
        if (g_reservedStand.empty()) return 0;
        const auto it = lf_findStand(g_reservedStand);
        return it != g_parkPositions.end() ? it->index : 0;
    };
    // Without stands there is nothing to look for.
    g_standHooks.try2Park = [](LiveAc& a, bool wide) {
        if (!g_parkPositions.empty()) try2Park(a, wide);
    };
    g_standHooks.addRealParkPosOption = [](LiveAc& a, bool learnKey, WeekSlot slot, bool forget) {
        return lf_addRealParkPosOption(a.standIndex, a, learnKey, slot, forget);
    };
    g_standHooks.learnStandOfNearbyLiveAc = lf_learnStandOfNearbyLiveAc;
    g_standHooks.hasStands = [] { return !g_parkPositions.empty(); };
    g_standHooks.standNear = [](double lat, double lon, double maxNm) {
        return std::any_of(g_parkPositions.begin(), g_parkPositions.end(), [&](const ParkPos& s) {
            return gf_distanceNM(lat, lon, s.latitude, s.longitude) <= maxNm;
        });
    };
    g_standHooks.nearestFreeStand = [](double lat, double lon, const LiveAc& a, double maxNm,
                                       bool wide) -> std::uint32_t {
        const std::size_t found = lf_nearestFreeStand(lat, lon, a, maxNm, wide);
        return found < g_parkPositions.size() ? g_parkPositions[found].index : 0;
    };
    g_standHooks.keptFree = [](std::uint32_t index) {
        const ParkPos* s = gf_standByIndex(index);
        if (s == nullptr) return false;
        if (!g_reservedStand.empty() && g_reservedStand == s->id) return true;
        const std::string userStand = gf_userStandNow();
        return !userStand.empty() && userStand == s->id;
    };
    g_standHooks.excluded = [](std::uint32_t index) {
        const ParkPos* s = gf_standByIndex(index);
        return s != nullptr ? s->excluded : std::vector<std::uint32_t>{};
    };
    g_standHooks.clearStaticAround = [](std::uint32_t index, const LiveAc& a) {
        if (const ParkPos* s = gf_standByIndex(index)) checkStandOrExcludedIsOccupiedByStaticAndRemove(a, *s);
    };
    g_standHooks.checkMaxPark = lf_checkMaxPark;
    // The static parking moves on in the creation slots no live creation used.
    g_parkStaticStep = lf_parkStatic;
    g_parkAirportIata = [] { return g_parkAirportCode.empty() ? std::string() : g_activeParkAirport.iata; };
}
