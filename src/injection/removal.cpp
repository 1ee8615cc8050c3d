#include "injection/removal.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <numbers>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/services.h"
#include "injection/sim_messages.h"
#include "injection/stand_hooks.h"
#include "liveries/database.h"
#include "platform/ui.h"
#include "window/main_window.h"

std::function<std::string()> g_parkAirportIata;
std::vector<LiveStayer> g_liveStayers;
std::function<std::uint64_t()> g_steadyClockOverride;

namespace {

constexpr double kDegPerRad = 180.0 / std::numbers::pi;
// Parked live aircraft stay this long (minutes) unless their stand was confirmed.
constexpr std::int64_t kStayMinutes = 90;
constexpr std::int64_t kStayMinutesHeavy = 180;
constexpr std::uint64_t kUnitsPerMinute = 600'000'000;  // 100 ns units
// A parked neighbour is in the way within this share of the two half spans.
constexpr double kNeighbourSpanFactor = 1.1;

int g_staticWalkDepth = 0;

// Live aircraft carry the service's hex ids, above the static creation ids; a record of the live list is live
// whatever its id.
bool lf_isLive(const AiAc& ac) {
    if (ac.hexId > kMaxStaticHexId) return true;
    if (g_liveAc.empty()) return false;
    const std::less<const void*> before;
    const void* p = &ac;
    return !before(p, &g_liveAc.front()) && before(p, &g_liveAc.back() + 1);
}
bool lf_endsInUnderscore(const std::string& s) { return !s.empty() && s.back() == '_'; }
std::string lf_cut(const std::string& s) { return s.empty() ? s : s.substr(0, s.size() - 1); }
bool lf_sameGiven(const std::string& a, const std::string& b) { return !a.empty() && a == b; }
const char* lf_groundText(bool onGround) { return onGround ? "on ground" : "airborne"; }

void lf_eraseWithdrawnStatics() {
    if (g_staticWalkDepth == 0) std::erase_if(g_staticAc, [](const AiAc& ac) { return ac.creationWithdrawn; });
}

// Takes the aircraft's creation back while it is still queued in the program; true when it was.
bool lf_withdrawCreation(const AiAc& ac, bool live) {
    if (!live) return gf_dequeueCreation(g_staticCreations, ac.callsign, ac.hexId);
    const bool idQueued = std::erase(g_creationIds, ac.hexId) != 0;
    const bool requestQueued = gf_dequeueCreation(g_liveCreations, ac.callsign, ac.hexId);
    return idQueued || requestQueued;
}

// The record has nothing in the simulator and nothing queued: a live one goes at the end of the pass, a static
// one as soon as no walk over the static list runs.
void lf_dropRecord(AiAc& ac, bool live) {
    ac.status = kAcNotInSim;
    if (live) {
        ac.eraseRequested = true;
        return;
    }
    ac.creationWithdrawn = true;
    lf_eraseWithdrawnStatics();
}

// Route from the record where it gives one that differs.
void lf_routeFromRecord(LiveAc& a, const TrafficRecord& r) {
    if (!r.destination.empty() && r.destination != a.destination) a.destination = r.destination;
    if (!r.origin.empty() && r.origin != a.origin) a.origin = r.origin;
}

void lf_refreshIdentity(LiveAc& a, const TrafficRecord& r) {
    lf_routeFromRecord(a, r);
    if (!r.callsign.empty() && r.callsign != a.callsign) a.callsign = r.callsign;
    if (!r.registration.empty() && r.registration != a.registration) a.registration = r.registration;
}

// True when the route was filled in or replaced.
bool lf_routeChanged(LiveAc& a, const TrafficRecord& r) {
    bool changed = false;
    if (a.destination.empty() && !r.destination.empty()) {
        a.destination = r.destination;
        changed = true;
    }
    if (a.origin.empty() && !r.origin.empty()) {
        a.origin = r.origin;
        changed = true;
    }
    if (r.origin.empty() || r.destination.empty() || r.origin == a.origin || r.destination == a.destination) {
        return changed;  // a difference in one end only is not taken
    }
    // Back at the park airport the service may already show the return leg as a flight to here.
    const std::string parkIata = g_parkAirportIata ? g_parkAirportIata() : std::string();
    if (!parkIata.empty() && a.origin == parkIata && r.destination == a.origin) return changed;
    a.origin = r.origin;
    a.destination = r.destination;
    if (a.onGround && a.state != kMoveParked && a.state != kMoveToStand) {
        a.previousState = a.state;
        a.state = kMoveFollowing;
        a.targetHeading = a.heading;
    }
    return true;
}

// Half-hours from the placement to now within the week; nothing for a placement later in the week or none.
std::int64_t lf_halfHoursSince(WeekSlot placed, WeekSlot now) {
    const std::uint32_t wp = gf_weekdayOf(placed), wn = gf_weekdayOf(now);
    if (wp == 0 || wn == 0) return 0;
    bool later = false;  // placed later in the week than now; the week turns from Sunday (7) to Monday (1)
    if (wp == 1 && wn == 7) {
        later = true;
    } else if (wp == 7 && wn == 1) {
        later = false;
    } else if (wp != wn) {
        later = wp > wn;
    } else {
        later = gf_slotOf(placed) > gf_slotOf(now);
    }
    return later ? 0 : gf_weekSlotDiff(now, placed);
}

}  // namespace

std::uint64_t gf_steadyNow100ns() {
    if (g_steadyClockOverride) return g_steadyClockOverride();
    using Units = std::chrono::duration<std::uint64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Units>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// ---- Removal and erasing ----

void removeAircraftFromSim(AiAc& ac) {
    const bool live = lf_isLive(ac);
    gf_flareCountOutOfListed(ac);
    if (ac.status == kAcNotInSim) return lf_dropRecord(ac, live);
    // The occupied-by-live mark is a live aircraft's; a static one leaving must not free a stand that a live
    // aircraft holds.
    if (live) gf_freeStandOf(ac.standIndex, ac.hexId);
    if (ac.status == kAcCreationQueued && ac.objectId == 0) {
        if (lf_withdrawCreation(ac, live)) {
            ac.creationWithdrawn = true;
            return lf_dropRecord(ac, live);
        }
        // The link has the request: the simulator messages remove the object as soon as it is created.
        ac.removeWhenCreated = true;
        ac.status = kAcRemovalRequested;
        return;
    }
    // A respawn or a removal already queued the object; it goes once.
    const bool alreadyQueued = ac.status == kAcRespawn || ac.status == kAcRemovalRequested;
    ac.status = kAcRemovalRequested;
    if (alreadyQueued) return;
    if (ac.objectId != 0) {
        g_removals.push_back(ac.objectId);
    } else {
        gf_logWarning(fmt::format("{} removing act {} with objectid=0 ?", "removeAircraftFromSim", gf_acText(ac)));
    }
}

void lf_eraseLiveAc(LiveAc& ac) {
    gf_flareCountOut(ac);
    LiveAc& last = g_liveAc.back();
    if (&ac != &last) ac = std::move(last);
    g_liveAc.pop_back();
}

StaticListWalk::StaticListWalk() { ++g_staticWalkDepth; }
StaticListWalk::~StaticListWalk() {
    --g_staticWalkDepth;
    lf_eraseWithdrawnStatics();
}

void gf_removeAllLiveAc() {
    for (LiveAc& ac : g_liveAc) removeAircraftFromSim(ac);
    // What never reached the simulator goes now; the others wait for the simulator's confirmation.
    std::erase_if(g_liveAc, [](const LiveAc& ac) { return ac.status == kAcNotInSim; });
}

void gf_removeAllStaticAc() {
    StaticListWalk walk;
    for (AiAc& ac : g_staticAc) removeAircraftFromSim(ac);
}

void gf_removeAcAtReservedStand() {
    const std::uint32_t stand = gf_reservedStandIndex();
    if (stand == 0) return;
    StaticListWalk walk;
    for (AiAc& ac : g_staticAc) {
        if (ac.standIndex == stand && ac.status == kAcInSim) return removeAircraftFromSim(ac);
    }
    for (LiveAc& ac : g_liveAc) {
        if (ac.standIndex == stand && ac.state == kMoveParked && ac.status == kAcInSim) {
            return removeAircraftFromSim(ac);
        }
    }
}

// ---- Respawn ----

bool lf_respawn(LiveAc& a, const TrafficRecord& r) {
    if (lf_rollReported(a) || a.approach) return true;
    if (a.status == kAcNotInSim) {
        lf_refreshIdentity(a, r);
        return true;
    }
    if (a.status != kAcInSim || a.state == kMoveAfterPushback || a.extendSteps >= 1) return true;

    const bool routeChanged = lf_routeChanged(a, r);
    if (a.registration.empty()) a.registration = r.registration;
    bool callsignChanged = false;
    if (!r.callsign.empty() && r.callsign != a.callsign && r.callsign != a.registration) {
        a.callsign = r.callsign;
        a.callsignCopy = r.callsign;
        a.spare.clear();
        callsignChanged = true;
        if (lf_endsInUnderscore(a.callsign)) {
            if (lf_isGhostOfLive(a.callsign)) return false;
        } else {
            lf_checkGhost(a.callsign);
        }
    }
    if (!callsignChanged && !routeChanged) return true;
    if (!g_GUID_CHANGES.value()) return true;
    if (g_LOG.value()) gf_logLine(fmt::format("          {} respawns", gf_acRouteCsRegText(a)));
    liveryRespawn(a);
    return false;
}

void liveryRespawn(LiveAc& a) {
    try {
        TrackPoint point;
        if (a.track.empty()) {
            point.lat = a.latitude;
            point.lon = a.longitude;
            point.alt = a.altitude;
            point.airborne = !a.onGround;
            point.stopped = a.state == kMoveParked;
            point.track = a.heading * kDegPerRad;
        } else if (a.state == kMoveParked) {
            a.track.resize(1);
            TrackPoint& front = a.track.front();
            front.stopped = true;
            front.track = a.heading * kDegPerRad;
            point = front;
        } else {
            TrackPoint& front = a.track.front();
            point = front;
            point.lat = a.latitude;
            point.lon = a.longitude;
            point.alt = a.altitude;
            point.bank = a.bank;
            point.bankGiven = true;
            if (front.lat == a.latitude && front.lon == a.longitude) front.stopped = true;
        }
        point.playTick = static_cast<std::int32_t>(gf_aiTick() + 1);
        a.track.push_front(point);
        a.status = kAcRespawn;
        a.respawnHeading = a.heading;
        if (a.objectId != 0) {
            g_removals.push_back(a.objectId);
        } else {
            gf_logWarning(fmt::format("{} removing act {} with objectid=0 ?", "liveryRespawn", gf_acText(a)));
        }
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "liveryRespawn", e.what()));
    }
}

// ---- Ghosts ----

void lf_checkGhost(const std::string& callsign) {
    const std::string ghostCallsign = callsign + "_";
    const auto ghost = std::find_if(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& ac) {
        return ac.callsign == ghostCallsign && ac.status != kAcRemovalRequested;
    });
    if (ghost == g_liveAc.end()) return;
    if (g_LOG.value()) {
        if (ghost->state == kMoveParked) {
            gf_logLine(fmt::format("{:8}: {:8} is a ghost and will be removed, continue with {}",
                                   gf_standName(ghost->standIndex), ghost->callsign, callsign));
        } else {
            gf_logLine(fmt::format("          {:8} is a ghost and will be removed, continue with {}", ghost->callsign,
                                   callsign));
        }
    }
    if (std::find(g_ghostCallsigns.begin(), g_ghostCallsigns.end(), ghostCallsign) == g_ghostCallsigns.end()) {
        g_ghostCallsigns.push_back(ghostCallsign);
    }
    removeAircraftFromSim(*ghost);
}

bool lf_isGhostOfLive(const std::string& callsign) {
    if (!lf_endsInUnderscore(callsign)) return false;
    const std::string base = lf_cut(callsign);
    return std::any_of(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& ac) {
        return ac.callsign == base && ac.status != kAcRemovalRequested;
    });
}

// ---- Duplicates among the static aircraft ----

bool gf_checkDuplicates(const DuplicateContext& c, const AiAc& s) {
    if (s.status != kAcInSim) return false;
    const LiveAc& l = c.live;
    const bool log = g_LOG.value();
    if (s.placementKind == 0 && s.parkedHexId == l.hexId) {
        if (log) {
            gf_logLine(fmt::format("{:8}: {:8} removed, new {} {} has same hexid", gf_standName(s.standIndex),
                                   s.callsign, l.callsign, lf_groundText(c.onGround)));
        }
        return true;
    }
    if (lf_sameGiven(l.registration, s.registration)) {
        if (log) {
            gf_logLine(fmt::format("{:8}: {:8} {} removed, new {} {} has same regcode {}", gf_standName(s.standIndex),
                                   s.callsign, gf_aimo(s), l.callsign, lf_groundText(c.onGround), l.registration));
        }
        return true;
    }
    const auto either = [&](const std::string& cs) {
        return lf_sameGiven(cs, s.callsignCopy) || lf_sameGiven(cs, s.spare);
    };
    const bool match =
        either(l.callsign) || either(l.spare) || (lf_endsInUnderscore(l.callsign) && either(c.callsignCut));
    if (!match) return false;
    if (log) {
        gf_logLine(fmt::format("{:8}: {:8} \"{} {}\" removed, new {} {} \"{} {}\" has {} callsign",
                               gf_standName(s.standIndex), s.callsign, s.callsignCopy, s.spare, l.callsign,
                               lf_groundText(c.onGround), l.callsign, l.spare,
                               lf_sameGiven(l.callsign, s.callsignCopy) ? "same" : "coupled"));
    }
    return true;
}

// ---- Stand conflicts between live aircraft ----

bool lf_resolveStandConflict(StandConflict& c, LiveAc& b) {
    if (c.standIndex == 0 || b.standIndex != c.standIndex) return false;
    if (b.state != kMoveParked && b.state != kMoveAfterPushback && b.state != kMoveEnginesStarted) return false;
    if (b.status != kAcInSim) return false;
    const bool log = g_LOG.value();
    const std::string stand = log ? gf_standName(c.standIndex) : std::string();
    const bool newcomerGhost = lf_endsInUnderscore(c.callsign);
    const bool standingGhost = lf_endsInUnderscore(b.callsign);
    if (c.callsign == b.callsign) {
        if (log) {
            gf_logLine(fmt::format("{:8}: {:8} ac with same callsign {} wants it, remove existing ...", stand,
                                   b.callsign, c.callsign));
        }
        removeAircraftFromSim(b);
    } else if (newcomerGhost && lf_cut(c.callsign) == b.callsign) {
        c.ok = false;
    } else if ((standingGhost && c.callsign == lf_cut(b.callsign)) || (standingGhost && !newcomerGhost)) {
        if (log) gf_logLine(fmt::format("{:8}: {:8} ghost, replace by {}", stand, b.callsign, c.callsign));
        removeAircraftFromSim(b);
    } else if ((!standingGhost && newcomerGhost) || b.standConfirmed) {
        c.ok = false;
    } else {
        if (log) {
            gf_logLine(fmt::format("{:8}: {:8} removed because another live {} wants the stand ...", stand,
                                   b.callsign, c.callsign));
        }
        removeAircraftFromSim(b);
    }
    return true;
}

std::size_t lf_findLiveAtStand(const std::vector<std::uint32_t>& excluded, const NeighbourCheck& check) {
    const LiveAc& n = check.newcomer;
    for (std::size_t k = 0; k < excluded.size(); ++k) {
        const std::uint32_t i = excluded[k];
        if (i == 0) continue;
        const auto b = std::find_if(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& ac) {
            return ac.standIndex == i && (ac.state == kMoveParked || ac.state == kMoveAfterPushback) &&
                   ac.status == kAcInSim && ac.callsign != n.callsign;
        });
        if (b == g_liveAc.end()) continue;
        const std::optional<StandPlace> place = gf_standPlace(i);
        const std::optional<StandPlace> wanted = gf_standPlace(check.wantedStand);
        if (!place || (place->lat == 0.0 && place->lon == 0.0) || !wanted) return k;
        const double distance = gf_distanceNM(place->lat, place->lon, wanted->lat, wanted->lon);
        if (distance <= kNeighbourSpanFactor * (gf_wingspanOfModel(n.type) + gf_wingspanOfModel(b->type))) return k;
    }
    return excluded.size();
}

// ---- Parked live aircraft ----

bool lf_parkedLiveFits(ParkedLiveCount& c, const LiveAc& ac) {
    if (ac.state != kMoveParked || ac.status != kAcInSim) return false;
    ++c.count;
    if (c.showFit) c.halfHours += lf_halfHoursSince(ac.placedSlot, c.now);
    return true;
}

std::uint64_t gf_countParkedLiveAc(bool showFit) {
    ParkedLiveCount c;
    c.now = g_weekSlotNow.load();
    c.showFit = showFit;
    for (const LiveAc& ac : g_liveAc) lf_parkedLiveFits(c, ac);
    if (showFit) {
        const float fit =
            c.count == 0 ? 0.0f : static_cast<float>(static_cast<double>(c.halfHours) / (2.0 * c.count) + 0.5);
        std::atomic<float>& shown = g_mainWindow.g_averageFitShown[1];
        if (shown.exchange(fit) != fit) ui::backend().invalidate(kParkingBand);
    }
    return c.count;
}

void gf_collectLiveStayers() {
    g_liveStayers.clear();
    const std::uint64_t now = gf_steadyNow100ns();
    for (LiveAc& ac : g_liveAc) {
        if (ac.state != kMoveParked || ac.status != kAcInSim) continue;
        if (ac.standConfirmed) {
            g_liveStayers.push_back({ac.callsign, ac.standIndex, 0});
            continue;
        }
        const std::uint64_t parkedFor = now > ac.parkedSince ? now - ac.parkedSince : 0;
        const auto minutes = static_cast<std::int32_t>(std::min<std::uint64_t>(parkedFor / kUnitsPerMinute, INT32_MAX));
        const std::int64_t limit = ac.category == kCatHeavy ? kStayMinutesHeavy : kStayMinutes;
        if (g_INITIAL_LOAD_ONLY.value() || minutes <= limit) {
            g_liveStayers.push_back({ac.callsign, ac.standIndex, minutes});
        } else {
            removeAircraftFromSim(ac);
        }
    }
    std::sort(g_liveStayers.begin(), g_liveStayers.end());
}
