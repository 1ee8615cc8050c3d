#include "airports/stand_choice.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include <fmt/format.h>

#include "airports/services.h"
#include "frame/display.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "injection/removal.h"
#include "liveries/database.h"
#include "platform/ui.h"
#include "simlink/link.h"
#include "window/controls.h"
#include "window/main_window.h"

namespace {

constexpr std::int32_t kRenewalMinutes = 19;

// The controls a parking calculation must not see changed under it.
const std::vector<ParameterControl*>& lf_parkingControls() {
    static const std::vector<ParameterControl*> controls{
        &g_parking_percentage, &g_INITIAL_LOAD_ONLY, &g_PARK_FAKE, &g_PARK_SOFT, &g_CUSTOM_MAX_PARK,
        &g_RT_PARKTRAFFIC_ONLY, &g_MAX_FIT_FL,       &g_WEEK,      &g_Flush_static, &g_Re_read,
    };
    return controls;
}

// The user stand cache: the last position asked for and its answer.
struct UserStandCache {
    std::mutex lock;
    bool valid = false;
    double latitude = 0.0, longitude = 0.0;
    std::string id;
};
UserStandCache& lf_userStandCache() {
    static UserStandCache cache;
    return cache;
}

bool lf_isStaticInSim(const AiAc& ac) { return ac.status == kAcInSim; }

double lf_standDistance(const ParkPos& a, const ParkPos& b) {
    return gf_distanceNM(a.latitude, a.longitude, b.latitude, b.longitude);
}


bool lf_seen(const std::string& callsign) {
    return !callsign.empty() && (g_seenCallsigns.contains(callsign) || g_seenCallsigns.contains(callsign + "_"));
}

// A static aircraft in the simulator on an overlapping stand whose span reaches this stand's aircraft.
bool lf_neighbourStaticTooClose(const ParkPos& stand, const ParkPosOption& option) {
    const double halfSpan = gf_wingspanOfModel(option.type);
    for (const std::uint32_t n : stand.excluded) {
        const ParkPos* neighbour = gf_standByIndex(n);
        if (neighbour == nullptr) continue;
        const double distance = lf_standDistance(stand, *neighbour);
        for (const AiAc& s : g_staticAc) {
            if (s.standIndex == n && lf_isStaticInSim(s) && s.halfSpan + halfSpan > distance) return true;
        }
    }
    return false;
}

// The option whose aircraft stands here already as a static aircraft placed from the options.
ParkPosOption* lf_optionOfStaticOnStand(ParkPos& stand) {
    for (const AiAc& s : g_staticAc) {
        if (s.standIndex != stand.index || s.placementKind == 0) continue;
        for (ParkPosOption& o : stand.options) {
            if (o.id == 0 || o.airline != s.airline || o.type != s.type) continue;
            if (o.callsign1 + "*" == s.callsign || (!o.callsign2.empty() && o.callsign2 + "*" == s.callsign)) {
                return &o;
            }
        }
    }
    return nullptr;
}

// The option's aircraft is elsewhere already (placed, parked live, seen live): it is not to be used.
bool lf_optionToWithdraw(const ParkPosOption& o, const std::vector<ParkingEntry>& list) {
    if (!o.registration.empty() &&
        std::any_of(list.begin(), list.end(), [&](const ParkingEntry& e) { return e.registration == o.registration; })) {
        return true;
    }
    if (lf_seen(o.callsign1)) return true;
    if (lf_findStaticForOption(o) != g_staticAc.end()) return true;
    if (lf_findParkingEntryForOption(o) != g_parkingList.end()) return true;
    const auto isOptionCallsign = [&](const std::string& cs) {
        return !cs.empty() && (cs == o.callsign1 || cs == o.callsign2);
    };
    if (std::any_of(g_liveStayers.begin(), g_liveStayers.end(),
                    [&](const LiveStayer& l) { return isOptionCallsign(l.callsign); })) {
        return true;
    }
    const auto starred = [](const std::string& cs) { return cs.empty() ? std::string() : cs + "*"; };
    return std::any_of(g_staticAc.begin(), g_staticAc.end(), [&](const AiAc& s) {
        if (!lf_isStaticInSim(s) || s.placementKind != 0) return false;
        const std::string cs1 = starred(o.callsign1), cs2 = starred(o.callsign2);
        return (!cs1.empty() && s.callsign == cs1) || (!cs2.empty() && s.callsign == cs2) ||
               (!o.registration.empty() && s.registration == o.registration);
    });
}

// Whether the aircraft of the option stays into the half-hour after now.
bool lf_staysNextSlot(const ParkPos& stand, const ParkPosOption& o, WeekSlot now) {
    if (o.callsign2.empty()) return true;
    const WeekSlot next = gf_nextWeekSlot(now);
    if (gf_weekdayOf(next) == gf_weekdayOf(now)) return o.halfHours.test(gf_slotOf(next));
    return std::any_of(stand.options.begin(), stand.options.end(), [&](const ParkPosOption& n) {
        return n.id >= 1 && n.day == gf_weekdayOf(next) && n.airline == o.airline && n.type == o.type &&
               n.halfHours.test(0);
    });
}

}  // namespace

// ---- Parking controls ----

void gf_disableParkingControls() {
    g_parkingBusy.exchange(1);
    for (ParameterControl* c : lf_parkingControls()) ui::backend().setEnabled(c->controlId, false);
    gf_clearMessage();
    ui::backend().invalidate(kMiddleBand);
}

void gf_enableParkingControls() {
    g_parkingBusy = 0;
    g_mainWindow.minutesToRenewal = kRenewalMinutes;
    ui::backend().setEnabled(g_CUSTOM_MAX_PARK.controlId, true);
    ui::backend().setEnabled(g_RT_PARKTRAFFIC_ONLY.controlId, true);
    gf_updateParkingControls();
    ui::backend().setEnabled(g_Flush_static.controlId, true);
    ui::backend().setEnabled(g_Re_read.controlId, true);
    gf_clearMessage();
    ui::backend().invalidate(kMiddleBand);
}

// ---- Stands by id and by position ----

std::vector<ParkPos>::iterator lf_findStand(const std::string& id) {
    return std::find_if(g_parkPositions.begin(), g_parkPositions.end(), [&](const ParkPos& p) { return p.id == id; });
}

void gf_forgetUserStand() {
    UserStandCache& cache = lf_userStandCache();
    std::lock_guard guard(cache.lock);
    cache.valid = false;
    cache.id.clear();
}

std::string gf_userStand(double latitude, double longitude) {
    if (g_parkPositions.empty()) {
        gf_forgetUserStand();  // the next stand list starts afresh
        return {};
    }
    if (!g_userOnGround.load()) return {};
    UserStandCache& cache = lf_userStandCache();
    std::lock_guard guard(cache.lock);
    if (cache.valid && cache.latitude == latitude && cache.longitude == longitude) return cache.id;
    std::string id;
    double best = kStandSearchStartNm;
    for (const ParkPos& stand : g_parkPositions) {
        const double d = gf_distanceNM(latitude, longitude, stand.latitude, stand.longitude);
        if (d <= kStandWideNm && d < best) {
            best = d;
            id = stand.id;
        }
    }
    cache.valid = true;
    cache.latitude = latitude;
    cache.longitude = longitude;
    cache.id = id;
    return id;
}

std::size_t lf_nearestFreeStand(double latitude, double longitude, const AiAc& ac, double maxDistanceNm, bool wide) {
    const std::size_t none = g_parkPositions.size();
    const double h = ac.halfSpan;
    const bool rotorcraft = ac.category == kCatRotorcraft;
    double best = kStandSearchStartNm, second = kStandSearchStartNm;
    std::size_t result = none, tooSmall = none, wideCandidate = none;
    for (std::size_t i = 0; i < g_parkPositions.size(); ++i) {
        const ParkPos& stand = g_parkPositions[i];
        if (stand.occupiedByLive != 0 && stand.occupiedByLive != ac.hexId) continue;
        // Helicopter pads are for rotorcraft only, and rotorcraft park on nothing else: a pad must not hide a
        // fitting stand a few metres further on.
        if ((stand.heli != 0) != rotorcraft) continue;
        const double d = gf_distanceNM(latitude, longitude, stand.latitude, stand.longitude);
        const bool fits = h - stand.radius <= kStandFitToleranceNm;
        if (d <= maxDistanceNm && d < best) {
            if (fits) {
                result = i;
                best = d;
            } else if (d <= kStandNearNm) {
                result = i;
                best = d;
                tooSmall = i;
            }
        } else if (wide && d <= kStandWideOptionNm && d < second && fits && !ac.callsign.empty() &&
                   std::any_of(stand.options.begin(), stand.options.end(), [&](const ParkPosOption& o) {
                       return gf_optionMatchesAc(ac.callsign, ac, o);
                   })) {
            wideCandidate = i;
            second = d;
        }
    }
    if (result == none) return wideCandidate;
    if (result == tooSmall) {
        ParkPos& stand = g_parkPositions[result];
        stand.radius = h - kOneMetreNm;
        stand.radiusChanged = 1;
        gf_countStandChange();
    }
    return result;
}

// ---- Static parking from the options ----

void lf_markStandTaken(ParkPos& stand) {
    stand.takenByStatic = 1;
    for (const std::uint32_t n : stand.excluded) {
        const auto it = std::find_if(g_parkPositions.begin(), g_parkPositions.end(),
                                     [n](const ParkPos& p) { return p.index == n; });
        if (it != g_parkPositions.end()) it->blocked = 1;
    }
}

WeekSlot gf_searchedSlot(WeekSlot now, std::uint32_t offset) {
    std::int64_t halfHour = static_cast<std::int64_t>(gf_slotOf(now)) - offset;
    std::uint32_t weekday = gf_weekdayOf(now);
    while (halfHour < 0) {
        halfHour += 48;
        weekday = weekday <= 1 ? 7 : weekday - 1;
    }
    return gf_makeWeekSlot(static_cast<std::uint32_t>(halfHour), weekday);
}

void lf_searchStands(WeekSlot now, std::uint32_t kind, std::uint32_t offset, std::vector<ParkingEntry>& list) {
    try {
        const WeekSlot searched = gf_searchedSlot(now, offset);
        const std::uint32_t searchedDay = gf_weekdayOf(searched), searchedHalfHour = gf_slotOf(searched);
        const bool anyDay = g_WEEK.value();
        std::vector<ParkPosOption*> candidates;
        for (ParkPos& stand : g_parkPositions) {
            if (stand.reserved != 0 || stand.takenByStatic != 0) continue;
            if (stand.blocked != 0 || (stand.heli != 0 && !g_HELICOPTERS.value())) continue;
            candidates.clear();
            for (ParkPosOption& o : stand.options) {
                if (o.id == 0 || o.real != kind || (!anyDay && o.day != searchedDay)) continue;
                if (!o.halfHours.test(searchedHalfHour)) continue;
                if (lf_neighbourStaticTooClose(stand, o)) continue;
                candidates.push_back(&o);
            }
            if (candidates.empty()) continue;
            ParkPosOption* chosen = candidates.front();
            if (candidates.size() > 1) {
                if (ParkPosOption* same = lf_optionOfStaticOnStand(stand)) {
                    chosen = same;  // the aircraft standing here stays
                } else {
                    std::shuffle(candidates.begin(), candidates.end(), gf_workRandom());
                    chosen = candidates.front();
                }
            }
            if (lf_optionToWithdraw(*chosen, list)) {
                chosen->id = 0;
                continue;
            }
            if (lf_seen(chosen->callsign2)) continue;  // that flight may still come: skip for now, keep it
            ParkingEntry entry;
            entry.hexId = 0;
            entry.fromOptions = 1;
            entry.standIndex = stand.index;
            entry.offset = offset;
            entry.airline = chosen->airline;
            entry.type = chosen->type;
            entry.callsign1 = chosen->callsign1;
            entry.callsign2 = chosen->callsign2;
            entry.registration = chosen->registration;
            entry.staysNextSlot = lf_staysNextSlot(stand, *chosen, now) ? 1 : 0;
            list.push_back(std::move(entry));
            lf_markStandTaken(stand);
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: day: {}, offset {}: {}", "lf_searchStands",
                                  fmt::format("[{},{}]", gf_weekdayOf(now), gf_slotOf(now)), offset, e.what()));
    }
}

// ---- Counting ----

std::uint64_t lf_countStaticAc(bool refreshAverageFit) {
    const bool withFit = refreshAverageFit && !g_WEEK.value();
    std::uint64_t count = 0;
    std::int64_t halfHours = 0;
    const WeekSlot now = g_weekSlotNow.load();
    for (const AiAc& ac : g_staticAc) {
        if (ac.status != kAcInSim && ac.status != kAcRemovalRequested) continue;
        ++count;
        if (withFit) halfHours += gf_weekSlotDiff(now, ac.placedSlot);
    }
    if (withFit) {
        const float fit =
            count == 0 ? 0.0f : static_cast<float>(static_cast<double>(halfHours) / (2.0 * count) + 0.5);
        if (g_mainWindow.g_averageFitShown[0].exchange(fit) != fit) ui::backend().invalidate(kParkingBand);
    }
    return count;
}

std::string gf_userStandNow() {
    double latitude = 0.0, longitude = 0.0;
    {
        std::lock_guard lock(g_userAcMutex);
        latitude = g_userAcFromSim.latitude;
        longitude = g_userAcFromSim.longitude;
    }
    return gf_userStand(latitude, longitude);
}
