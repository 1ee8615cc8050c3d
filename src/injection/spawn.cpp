#include "injection/spawn.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/collision.h"
#include "injection/flight_phases.h"
#include "injection/geodesy.h"
#include "injection/intake.h"
#include "injection/movement.h"
#include "injection/removal.h"
#include "injection/services.h"
#include "injection/stand_hooks.h"
#include "liveries/registrations.h"
#include "liveries/selection.h"
#include "simlink/link.h"
#include "simlink/refused_liveries.h"
#include "trafficservice/clients.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDeg = kPi / 180.0;
constexpr double kMetresPerNm = 1852.0;

// A moving ground aircraft needs its 3 s to roll up to speed; everything else appears 1 s before its point.
constexpr std::int64_t kLeadTicksRolling = 300;
constexpr std::int64_t kLeadTicks = 100;
// The creation queue is sent one request per 50 ticks: beyond 10 waiting, new aircraft wait too.
constexpr std::size_t kMaxQueuedCreations = 10;
// No aircraft is created on the ground rolling faster than a taxi (as fast as the traffic reader takes a report
// without a field to be on the ground).
constexpr double kMaxCreatedRollingKt = 35.0;
constexpr double kTicksPerHour = 360000.0;

// Around the user aircraft in the air: a ground aircraft on its line of flight close by, or an airborne one
// crossing it within 6 nm and 3000 ft, would appear in front of the user.
constexpr double kAirUserGroundNm = 1.5;
constexpr double kAirUserLowFt = 1000.0;
constexpr double kAirUserGroundLateralFt = 500.0;
constexpr double kAirUserAirNm = 6.0;
constexpr double kAirUserAirHeightFt = 3000.0;
constexpr double kAirUserAirLateralFt = 4000.0;
// A held aircraft appears once the user has (nearly) stopped and the aircraft is out of the way.
constexpr double kHoldEndSpeedKt = 8.0;
constexpr double kHoldEndDistanceM = 500.0;
constexpr double kUserGroundClearNm = 0.08099352051835854;  // 150 m
// A new ground aircraft near the active park airport may be created already parked at a stand close by; a
// moving one only when it is nearly stopped and its received track ends close to where it starts.
constexpr double kParkAtOnceAirportNm = 5.0;
constexpr double kParkAtOnceStandNm = 0.029697624190064796;   // 55 m
constexpr double kParkAtOnceRollingKt = 5.0;
constexpr double kParkAtOnceTrackNm = 0.018898488120950324;   // 35 m
// Farther by at least this much before a new aircraft takes the place of one in the simulator.
constexpr double kFartherMarginNm = 0.1;
// Its last point a stop, a new aircraft waits this long (ticks) past it for its next report: a standing
// aircraft's reports are taken once per 15 s, and each is received 30 s before it plays.
constexpr std::int64_t kStandingWaitTicks = 3000;

double lf_userDistance(double lat, double lon) {
    return gf_distanceNM(g_userPos.latitude, g_userPos.longitude, lat, lon);
}


// In the simulator, or on its way there: from the queued hex id through the simulator's answer (seconds
// later) to the end of the first 200 ticks. Counting only what the simulator had confirmed let a second
// aircraft in under a limit of one while the first one's creation was still being answered.
bool lf_countsAgainstMaxLive(const LiveAc& ac) { return ac.status == kAcInSim || ac.status == kAcCreationQueued; }

double lf_pointHeading(const TrackPoint& p) { return p.headingGiven ? p.heading : p.track * kRadPerDeg; }

void lf_dropFront(LiveAc& a) { a.track.pop_front(); }

// A new aircraft whose first point is a runway roll: created there, it would start standing and taxi down the
// runway after its roll. Without a reported speed, the way to its next point tells. Where it was seen at rest (a
// stop: the same place twice) its roll starts: it is created there and rolls from there.
bool lf_startsOnARoll(const LiveAc& a) {
    if (a.state != kMoveNew || a.track.size() < 2 || a.track[0].airborne) return false;
    const TrackPoint& p0 = a.track[0];
    const TrackPoint& p1 = a.track[1];
    if (p0.stopped || p1.stopped) return false;
    if (p0.speedGiven) return p0.speed > kMaxCreatedRollingKt;
    const std::int64_t ticks = std::int64_t{p1.playTick} - p0.playTick;
    return ticks > 0 && gf_distanceNM(p0.lat, p0.lon, p1.lat, p1.lon) * kTicksPerHour / static_cast<double>(ticks) >
                            kMaxCreatedRollingKt;
}

void lf_erase(LiveAc& a) { a.eraseRequested = true; }

// Air points, then ground points only: an arrival whose last reports before the touchdown already read as
// the ground. Its air points are what shows it on final; dropped, it would appear only after its landing.
// Lower than this over the field it is over the runway already: created there, it would still be flaring
// where its reports roll on ahead (often from places they repeat), and it is better made on its roll-out.
constexpr double kLandsAheadMinFt = 75.0;

bool lf_landsAhead(const LiveAc& a) {
    if (a.track.empty() || !a.track.front().airborne) return false;
    if (a.track.front().alt - g_trafficClient.groundReference() < kLandsAheadMinFt) return false;
    const auto touchdown =
        std::find_if(a.track.begin(), a.track.end(), [](const TrackPoint& p) { return !p.airborne; });
    return std::none_of(touchdown, a.track.end(), [](const TrackPoint& p) { return p.airborne; });
}

// Until an aircraft is first created its position block is empty; the holds around the user then look at
// where it was first reported, not at 0/0 (which put every new aircraft thousands of miles away and never
// held one back).
void lf_noteFirstPosition(LiveAc& a) {
    if (gf_isRealPosition(a.latitude, a.longitude)) return;
    const TrackPoint& p0 = a.track.front();
    a.latitude = p0.lat;
    a.longitude = p0.lon;
    a.heading = gf_headingOf(lf_pointHeading(p0));
}

bool lf_endsInUnderscore(const std::string& callsign) { return !callsign.empty() && callsign.back() == '_'; }

// The registration list knows the aircraft better than the service does.
void lf_correctFromRegistration(LiveAc& a) {
    const std::optional<RegcodeData> record = gf_regcodeLookup(a.registration);
    if (!record) return;
    const RegcodeData& found = *record;
    a.airline = found.airline;
    // A new type brings its own category, span and performance tables with it.
    if (!found.type.empty() && found.type != a.type) gf_setModelType(a, found.type);
    if (!found.operatorCode.empty()) a.airline = found.operatorCode;
    a.cargo = found.cargo;
    if (!gf_validCallsign(a)) a.callsign = a.registration;
}

// The user-aircraft holds; true when the front point was dropped.
bool lf_userHold(LiveAc& a) {
    const TrackPoint& p0 = a.track.front();
    if (!g_userOnGround.load()) {
        if (!g_COLLISION_USER_AIR.value()) return false;
        if (!p0.airborne) {
            if (!a.spawnHold) {
                const double d = lf_userDistance(a.latitude, a.longitude);
                const double bearing = gf_initialBearing(g_userPos.latitude, g_userPos.longitude, a.latitude, a.longitude);
                if (!(d <= kAirUserGroundNm && g_userPos.altAboveGround < kAirUserLowFt &&
                      gf_lateralOffsetFt(g_userPos.heading, bearing, d) <= kAirUserGroundLateralFt)) {
                    return false;
                }
            }
            a.spawnHold = true;
            lf_dropFront(a);
            return true;
        }
        const double d = lf_userDistance(p0.lat, p0.lon);
        if (d > kAirUserAirNm || std::abs(p0.alt - g_userPos.altitude) >= kAirUserAirHeightFt) return false;
        // Before its first creation the aircraft has no target heading yet: its first reported one stands in.
        const double reference = a.targetHeading != 0.0 ? a.targetHeading : a.heading;
        const double bearing = gf_initialBearing(g_userPos.latitude, g_userPos.longitude, p0.lat, p0.lon);
        if (gf_lateralOffsetFt(reference, bearing, d) > kAirUserAirLateralFt) return false;
        a.spawnHold = true;
        lf_dropFront(a);
        return true;
    }
    const double d = lf_userDistance(p0.lat, p0.lon);
    if (a.spawnHold) {
        const bool userSlow = g_userPos.groundSpeed <= kHoldEndSpeedKt;
        if (userSlow && p0.airborne) return false;
        if (!(userSlow && p0.speed <= kHoldEndSpeedKt && d * kMetresPerNm >= kHoldEndDistanceM)) {
            lf_dropFront(a);
            return true;
        }
    }
    if (!p0.airborne && g_COLLISION_USER_GND.value() && d < kUserGroundClearNm) {
        lf_dropFront(a);
        return true;
    }
    return false;
}

// The aircraft takes the stand: parked there, its track a single point at the stand.
void lf_parkAtOnce(LiveAc& a, std::uint32_t index, const StandPlace& stand) {
    TrackPoint& p0 = a.track.front();
    p0.stopped = true;
    p0.speed = 0.0;
    a.standLat = stand.lat;
    a.standLon = stand.lon;
    a.standHeading = stand.heading;
    a.standIndex = index;
    a.standCargo = gf_standIsCargo(index);
    a.state = kMoveParked;
    gf_markStandLive(index, a.hexId);
    a.parkedSince = gf_steadyNow100ns();
    a.standDistanceLast = 0.0;
    a.standDriftCount = 0;
    lf_learnCargoStand(a);
    a.track.resize(1);
    TrackPoint& front = a.track.front();
    front.lat = stand.lat;
    front.lon = stand.lon;
    front.track = stand.heading / kRadPerDeg;
    const WeekSlot slot = g_weekSlotNow.load();
    if (gf_addRealParkPosOption(a, false, slot, false)) gf_reserveStand(a.hexId, slot);
    gf_checkMaxPark(1);  // not in the simulator yet: counted as one more
}

// The first state of a new ground aircraft: parked at once on a free stand of the park airport next to it,
// created in place (state 7 kept) when that stand is the reserved or the user's, or following its track.
// False when the front point was dropped instead (a stopped aircraft with no stand yet: tried again later).
bool lf_startOnGround(LiveAc& a) {
    a.state = kMoveFollowing;  // unless a stand is found below
    const std::optional<GeoPosition> airport =
        g_activeParkAirportPosition ? g_activeParkAirportPosition() : std::nullopt;
    if (!airport || !gf_parkAirportHasStands()) return true;
    const TrackPoint& p0 = a.track[0];
    const TrackPoint& p1 = a.track[1];
    if (gf_distanceNM(p0.lat, p0.lon, airport->latitude, airport->longitude) > kParkAtOnceAirportNm) return true;
    const TrackPoint* from = &p0;
    if (!p0.stopped) {
        const TrackPoint& last = a.track.back();
        if (p1.speed > kParkAtOnceRollingKt || gf_distanceNM(p0.lat, p0.lon, last.lat, last.lon) > kParkAtOnceTrackNm) {
            return true;
        }
        from = &last;
    }
    const std::uint32_t index = gf_nearestFreeStand(from->lat, from->lon, a, kParkAtOnceStandNm, false);
    const std::optional<StandPlace> stand = index != 0 ? gf_standPlace(index) : std::nullopt;
    if (!stand) {
        // Standing with no stand near (a holding point, a runway, a remote apron): created standing where it
        // stands. Near stands it waits to see whether it parks: its next point is tried.
        if (!p1.stopped || !gf_standNear(from->lat, from->lon, kParkAtOnceStandNm)) return true;
        a.state = kMoveNew;
        lf_dropFront(a);
        return false;
    }
    if (gf_standKeptFree(index)) {
        a.state = kMoveNew;
        return true;
    }
    StandConflict conflict;
    conflict.standIndex = index;
    conflict.callsign = a.callsign;
    for (LiveAc& other : g_liveAc) {
        if (&other != &a && lf_resolveStandConflict(conflict, other)) break;
    }
    if (!conflict.ok) {
        lf_erase(a);
        return true;
    }
    const std::vector<std::uint32_t> neighbours = gf_standExcluded(index);
    if (lf_findLiveAtStand(neighbours, NeighbourCheck{index, a}) != neighbours.size()) {
        lf_erase(a);
        return true;
    }
    gf_clearStaticAroundStand(index, a);
    lf_parkAtOnce(a, index, *stand);
    return true;
}

}  // namespace

double gf_spawnPitch(bool airborne, double vs) {
    if (!airborne) return 0.6 * kRadPerDeg;
    const double v = vs > 0.0 ? std::min(vs, 2400.0) : std::max(vs, -3000.0) * 0.5;
    return (-3.0 - v / 600.0 * 2.2) * kRadPerDeg;
}

void updateBufferAc(LiveAc& a) {
    if (a.track.empty()) return lf_erase(a);
    lf_noteFirstPosition(a);
    const TrackPoint& p0 = a.track.front();
    const std::int64_t lead = !p0.airborne && p0.speed != 0.0 ? kLeadTicksRolling : kLeadTicks;
    if (gf_aiTick() < std::int64_t{p0.playTick} - lead) return;
    if (a.track.size() == 1) {
        // Waiting to see whether it parks never spends its last point: a stop left waits for the next report.
        if (!p0.airborne && p0.stopped && gf_aiTick() < std::int64_t{p0.playTick} + kStandingWaitTicks) return;
        return lf_erase(a);
    }
    if (lf_endsInUnderscore(a.callsign) &&
        std::find(g_ghostCallsigns.begin(), g_ghostCallsigns.end(), a.callsign) != g_ghostCallsigns.end()) {
        return lf_erase(a);
    }
    const bool anyAir = std::any_of(a.track.begin(), a.track.end(), [](const TrackPoint& p) { return p.airborne; });
    const bool anyGround = std::any_of(a.track.begin(), a.track.end(), [](const TrackPoint& p) { return !p.airborne; });
    if (anyAir && anyGround && !lf_landsAhead(a)) return lf_dropFront(a);
    // It is created where it rolls at taxi speed (or in the air): a roll starts from the air or from a stop.
    if (lf_startsOnARoll(a)) return lf_dropFront(a);
    if (lf_userHold(a)) return;
    if (g_liveCreations.size() > kMaxQueuedCreations && a.state == kMoveNew) return lf_dropFront(a);
    const std::int32_t maxLive = g_MAX_LIVE.value();
    if (maxLive != -1) {
        const auto counted = std::count_if(g_liveAc.begin(), g_liveAc.end(), lf_countsAgainstMaxLive);
        if (maxLive <= counted) {
            const TrackPoint& front = a.track.front();
            if (lf_removeFarthestLiveAc(lf_userDistance(front.lat, front.lon))) return lf_erase(a);
        }
    }
    const std::string& blocked = g_BLOCK_CALLSIGN.value();
    if (!blocked.empty() && blocked == a.callsign) return lf_erase(a);
    lf_correctFromRegistration(a);
    if (!gf_validCallsign(a)) return lf_erase(a);
    if (a.airline.empty() && !gf_airlineFromCallsign(a)) a.airline = "PVT";
    if (g_unmatchedAircraft.contains(gf_aimoRegText(a))) return lf_erase(a);
    if (lf_isGhostOfLive(a.callsign)) return lf_erase(a);
    spawnLiveAc(a);
}

void spawnLiveAc(LiveAc& a) {
    try {
        if (a.track.size() < 2) {
            gf_logWarning(fmt::format("{} sz:{}", "spawnLiveAc", a.track.size()));
            return;
        }
        {  // p0 and p1 as received; the track may be cut below
            TrackPoint& p0 = a.track[0];
            TrackPoint& p1 = a.track[1];
            if (p1.stopped) {
                p0.stopped = true;
                p0.speed = 0.0;
                p1.speed = 0.0;
                if (a.track.size() > 2 && a.track[2].stopped) a.track[2].speed = 0.0;
            } else {
                p0.stopped = false;
            }
            if (a.state == kMoveNew) {
                if (!lf_chooseLiveryForLiveAc(a)) {
                    g_unmatchedAircraft.insert(gf_aimoRegText(a));
                    return lf_erase(a);
                }
                if (p0.airborne) {
                    a.state = kMoveAirborne;
                } else if (!lf_startOnGround(a)) {
                    return;
                }
            }
        }
        if (a.eraseRequested) return;
        g_spawnedHexIds.push_back(a.hexId);

        // Parked at once, the track is down to its first point.
        const TrackPoint& p0 = a.track[0];
        const bool p1Stopped = a.track.size() > 1 && a.track[1].stopped;
        a.latitude = p0.lat;
        a.longitude = p0.lon;
        a.altitude = p0.alt;
        a.verticalSpeedFps = p0.vs / 60.0;  // the position block carries ft/s
        a.trueAirspeed = p0.tas;
        a.pitch = gf_spawnPitch(p0.airborne, p0.vs);
        a.bank = p0.bankGiven ? p0.bank : 0.0;

        double heading = 0.0;
        if (a.respawnHeading) {
            heading = *a.respawnHeading;
        } else if (a.state == kMoveParked) {
            heading = a.standHeading;
        } else if (p1Stopped) {
            // Standing: it faces the way its track leads later on, when it does; else its reported heading, or
            // its track (an unknown one is no heading at all).
            heading = p0.headingGiven ? p0.heading : p0.track * kRadPerDeg;
            for (const TrackPoint& q : a.track) {
                if (q.lat == p0.lat && q.lon == p0.lon) continue;
                heading = gf_initialBearing(p0.lat, p0.lon, q.lat, q.lon);
                break;
            }
        } else {
            const TrackPoint& p1 = a.track[1];
            heading = gf_initialBearing(p0.lat, p0.lon, p1.lat, p1.lon);
        }
        a.heading = gf_headingOf(heading);
        a.headingStep = p0.airborne ? 0.0 : a.heading;
        a.status = kAcCreationQueued;
        a.spawnHold = false;
        g_creationIds.push_back(a.hexId);
        // An older instance of this flight ("<callsign>_") gives way.
        if (!lf_endsInUnderscore(a.callsign)) lf_checkGhost(a.callsign);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "spawnLiveAc", e.what()));
        throw;
    }
}

bool lf_chooseLiveryForLiveAc(LiveAc& a) {
    if (!a.title.empty()) return true;
    if (const auto it = g_liveryByHexid.find(a.hexId); it != g_liveryByHexid.end()) {
        const bool refused = std::find(g_liveriesNotCreated.begin(), g_liveriesNotCreated.end(), it->second) !=
                             g_liveriesNotCreated.end();
        if (!refused) {
            a.title = it->second;
            a.fsltlTitle = a.title.find("FSLTL_") != std::string_view::npos;
            return true;
        }
        g_liveryByHexid.erase(it);
    }
    gf_selectLiveryForLiveAircraft(a);
    if (a.title.empty()) return false;
    g_liveryByHexid[a.hexId] = a.title;
    return true;
}

bool lf_removeFarthestLiveAc(double distanceNm) {
    double best = distanceNm;
    LiveAc* candidate = nullptr;
    for (LiveAc& ac : g_liveAc) {
        if (ac.status != kAcInSim) continue;
        const double e = lf_userDistance(ac.latitude, ac.longitude);
        if (e > best + kFartherMarginNm) {
            candidate = &ac;
            best = e;
        }
    }
    if (candidate == nullptr) return true;
    removeAircraftFromSim(*candidate);
    return false;
}

void gf_enforceMaxLive() {
    const std::int32_t max = g_MAX_LIVE.value();
    if (max < 0) return;
    std::vector<std::pair<double, LiveAc*>> counted;
    for (LiveAc& ac : g_liveAc) {
        // A creation under way is withdrawn, or removed as soon as the simulator has created it.
        if (lf_countsAgainstMaxLive(ac)) counted.emplace_back(lf_userDistance(ac.latitude, ac.longitude), &ac);
    }
    if (counted.size() <= static_cast<std::size_t>(max)) return;
    // One ordering, farthest first (list order among equals); the excess goes from the front.
    const std::size_t excess = counted.size() - static_cast<std::size_t>(max);
    std::stable_sort(counted.begin(), counted.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    for (std::size_t i = 0; i < excess; ++i) removeAircraftFromSim(*counted[i].second);
}
