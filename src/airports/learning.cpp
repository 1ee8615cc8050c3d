#include "airports/learning.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "airports/services.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "injection/geodesy.h"
#include "injection/stand_hooks.h"
#include "platform/ui.h"
#include "window/main_window.h"

bool g_softLearningAllowed = true;

namespace {

constexpr std::uint32_t kLastHalfHour = 47;
constexpr std::uint32_t kNoBest = 100;
// Soft learning counts an aircraft again only this many half-hours after the last time.
constexpr std::uint32_t kSoftLearningGap = 3;
constexpr std::uint32_t kHeavyCoupleWindow = 14;
constexpr std::uint32_t kCoupleWindow = 10;
constexpr std::size_t kSmallAirportStands = 10;



std::vector<ParkPosOption>::iterator lf_learnedOption(ParkPos& stand, const AiAc& ac, WeekSlot slot, bool real) {
    const std::uint32_t day = gf_weekdayOf(slot);
    const std::uint32_t kind = real ? 1u : 0u;
    return std::find_if(stand.options.begin(), stand.options.end(), [&](const ParkPosOption& o) {
        return o.id != 0 && o.day == day && o.registration == ac.registration && o.real == kind;
    });
}

// The shared part of the two learning steps; out-of-range half-hours reach the caller.
bool lf_addParkPosOption(ParkPos& stand, const AiAc& ac, bool learnKey, WeekSlot slot, bool forget, bool real) {
    auto& keys = real ? stand.realKeys : stand.softKeys;
    const std::uint32_t halfHour = gf_slotOf(slot);
    const auto found = lf_learnedOption(stand, ac, slot, real);

    if (found == stand.options.end()) {
        const std::uint32_t id = gf_addOption(stand.options, ac, real, slot, ac.callsign, ac.registration);
        if (!real && id < 1) return false;
        keys.try_emplace(ac.hexId, StandKey{slot, id});
        gf_countStandChange();
        return true;
    }

    if (found->halfHours.test(halfHour)) {  // throws for a half-hour above 47
        if (real && forget) keys.erase(ac.hexId);
        return false;
    }
    if (found->fromFile != 0) return false;
    found->halfHours.set(halfHour);
    const std::uint32_t optionId = found->id;  // filling may add an option and move the vector

    const auto key = keys.find(ac.hexId);
    if (learnKey) {
        if (key == keys.end()) {
            if (!forget) keys.emplace(ac.hexId, StandKey{slot, optionId});
        } else {
            if (key->second.slot != slot) lf_updateOptionSlots(slot, stand, optionId, key->second, ac, real);
            if (real && forget) keys.erase(key);
        }
    } else if (real && forget && key != keys.end()) {
        keys.erase(key);
    }
    gf_countStandChange();
    return true;
}

bool lf_addParkPosOptionLogged(const char* name, std::uint32_t standIndex, const AiAc& ac, bool learnKey,
                               WeekSlot slot, bool forget, bool real) {
    try {
        ParkPos* stand = gf_standByIndex(standIndex);
        if (stand == nullptr) return false;
        return lf_addParkPosOption(*stand, ac, learnKey, slot, forget, real);
    } catch (const std::out_of_range& e) {
        gf_logWarning(fmt::format("{}: hh_now: {}, {}", name, gf_slotOf(slot), e.what()));
        return false;
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", name, e.what()));
        throw;
    }
}

bool lf_hasHalfHour(const ParkPosOption& o, std::uint32_t halfHour) {
    return halfHour <= kLastHalfHour && o.halfHours.test(halfHour);
}

// A stand where one of the options of the slot's weekday has the slot's half-hour.
bool lf_expectedOccupied(const ParkPos& stand, WeekSlot slot) {
    const std::uint32_t day = gf_weekdayOf(slot), halfHour = gf_slotOf(slot);
    return std::any_of(stand.options.begin(), stand.options.end(), [&](const ParkPosOption& o) {
        return o.id != 0 && o.day == day && lf_hasHalfHour(o, halfHour);
    });
}

struct Candidate {
    std::string standId;
    std::uint32_t sizeDifference = 0;
    std::uint32_t matched = 0;
};

template <typename Filter>
void lf_candidatePass(WeekSlot slot, const AiAc& ac, bool fitting, Filter filter, std::vector<Candidate>& out) {
    const double h = ac.halfSpan;
    const double step = h <= kLearnSmallHalfSpanNm ? kLearnSmallStepNm : kLearnLargeStepNm;
    std::uint32_t best = kNoBest;
    for (const ParkPos& s : g_parkPositions) {
        if (!filter(s)) continue;
        std::uint32_t d = 0;
        if (fitting) {
            if (h - s.radius > kLearnFitToleranceNm) continue;
            d = static_cast<std::uint32_t>(std::max(0L, std::lround((s.radius - h) / step)));
        }
        if (d > best || lf_expectedOccupied(s, slot)) continue;
        best = d;
        const bool matched =
            !ac.callsign.empty() && std::any_of(s.options.begin(), s.options.end(), [&](const ParkPosOption& o) {
                return gf_optionMatchesAc(ac.callsign, ac, o);
            });
        out.push_back(Candidate{s.id, d, matched ? 1u : 0u});
    }
}

struct Pass {
    bool fitting;
    bool (*filter)(const ParkPos&);
};

bool lf_isHeli(const ParkPos& s) { return s.heli != 0; }
bool lf_isRamp(const ParkPos& s) { return s.ramp != 0; }
bool lf_isCargoNotHeli(const ParkPos& s) { return s.cargo != 0 && s.heli == 0; }
bool lf_isNotHeli(const ParkPos& s) { return s.heli == 0; }
bool lf_isPassengerGate(const ParkPos& s) { return s.ramp == 0 && s.cargo == 0 && s.heli == 0; }
bool lf_isPassengerRamp(const ParkPos& s) { return s.ramp != 0 && s.cargo == 0 && s.heli == 0; }

// The passes of the aircraft's class of stands, in the order in which they are tried.
std::vector<Pass> lf_passesFor(const AiAc& ac) {
    if (ac.category == kCatRotorcraft) {
        return {{true, lf_isHeli}, {true, lf_isRamp}, {false, lf_isHeli}, {false, lf_isRamp}};
    }
    if (ac.cargo) {
        return {{true, lf_isCargoNotHeli}, {false, lf_isCargoNotHeli}, {true, lf_isNotHeli}, {false, lf_isNotHeli}};
    }
    const bool big = ac.category == kCatLarge || ac.category == kCatHeavy || ac.category == kCatHighPerf;
    if (big && ac.airline != "PVT") {
        // US airports park their airliners at gates; elsewhere one in ten goes to a ramp first.
        const bool gatesFirst = (!g_parkAirportCode.empty() && g_parkAirportCode.front() == 'K') ||
                                gf_workRandom()() % 100 >= 10;
        const auto first = gatesFirst ? lf_isPassengerGate : lf_isPassengerRamp;
        const auto second = gatesFirst ? lf_isPassengerRamp : lf_isPassengerGate;
        return {{true, first}, {false, first}, {true, second}, {false, second}};
    }
    return {{true, lf_isPassengerRamp}, {false, lf_isPassengerRamp}};
}

}  // namespace

bool lf_addRealParkPosOption(std::uint32_t standIndex, const AiAc& ac, bool learnKey, WeekSlot slot, bool forget) {
    if (g_parkPositions.empty() || ac.registration.empty() || ac.callsign.empty()) return false;
    return lf_addParkPosOptionLogged("lf_addRealParkPosOption", standIndex, ac, learnKey, slot, forget, true);
}

bool lf_addSoftParkPosOption(std::uint32_t standIndex, const AiAc& ac, bool learnKey, WeekSlot slot) {
    if (g_parkPositions.empty()) return false;
    return lf_addParkPosOptionLogged("lf_addSoftParkPosOption", standIndex, ac, learnKey, slot, false, false);
}

bool lf_softLearningDue(WeekSlot slot, std::uint32_t hexId) {
    const auto it = std::find_if(g_standReservations.begin(), g_standReservations.end(),
                                 [hexId](const auto& r) { return r.first == hexId; });
    // Counted forward through the week: the same half-hour of another day is long past, not just now.
    if (it != g_standReservations.end() && gf_weekSlotsForward(it->second, slot) < kSoftLearningGap) return false;
    gf_reserveStand(hexId, slot);
    return true;
}

ParkPos* lf_guessStand(WeekSlot slot, const AiAc& ac, bool retry) {
    std::vector<Candidate> candidates;
    candidates.reserve(256);
    for (const Pass& pass : lf_passesFor(ac)) {
        lf_candidatePass(slot, ac, pass.fitting, pass.filter, candidates);
        if (!candidates.empty()) break;
    }
    if (candidates.empty()) {
        if (retry && g_parkPositions.size() <= kSmallAirportStands) {
            return lf_guessStand(gf_nextWeekSlot(slot), ac, false);
        }
        return nullptr;
    }
    if (candidates.size() > 1) {
        std::shuffle(candidates.begin(), candidates.end(), gf_workRandom());
        std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
            if (a.matched != b.matched) return a.matched > b.matched;
            return a.sizeDifference < b.sizeDifference;
        });
    }
    const auto it = lf_findStand(candidates.front().standId);
    return it != g_parkPositions.end() ? &*it : nullptr;
}

void lf_learnStandOfNearbyLiveAc(LiveAc& ac, bool force) { lf_learnStandOfNearbyLiveAcAt(ac, force, gf_weekSlot()); }

void lf_learnStandOfNearbyLiveAcAt(LiveAc& ac, bool force, WeekSlot now) {
    if (!g_LEARN_SOFT.value() || !g_softLearningAllowed || g_parkAirportCode.empty()) return;
    if (ac.standIndex != 0) return;
    if (!force && ac.heightAboveGround >= kLearnMaxHeightFt) return;
    if (gf_distanceNM(ac.latitude, ac.longitude, g_parkAirportPos.latitude, g_parkAirportPos.longitude) >
        kLearnNearParkAirportNm) {
        return;
    }

    // Followed at a stand already: that stand's option grows.
    const auto followed = std::find_if(g_parkPositions.begin(), g_parkPositions.end(),
                                       [&](const ParkPos& s) { return s.softKeys.contains(ac.hexId); });
    if (followed != g_parkPositions.end() && followed->softKeys.at(ac.hexId).slot != now &&
        lf_addSoftParkPosOption(followed->index, ac, true, now)) {
        gf_reserveStand(ac.hexId, now);
        return;
    }

    if (!lf_softLearningDue(now, ac.hexId)) return;

    // Seen really parked around now: its stand is known.
    const std::uint32_t day = gf_weekdayOf(now), hh = gf_slotOf(now);
    const std::uint32_t before = (hh + 47) % 48, after = (hh + 1) % 48;
    const auto seenParked = [&](const ParkPosOption& o) {
        return o.id != 0 && o.real == 1 && o.day == day && o.registration == ac.registration &&
               (lf_hasHalfHour(o, hh) || lf_hasHalfHour(o, before) || lf_hasHalfHour(o, after));
    };
    const bool known = !ac.registration.empty() &&
                       std::any_of(g_parkPositions.begin(), g_parkPositions.end(), [&](const ParkPos& s) {
                           return std::any_of(s.options.begin(), s.options.end(), seenParked);
                       });
    if (known) return;

    const ParkPos* stand = lf_guessStand(now, ac, true);
    if (stand == nullptr) return;
    if (!lf_addSoftParkPosOption(stand->index, ac, false, now)) {
        const auto it = std::find_if(g_standReservations.begin(), g_standReservations.end(),
                                     [&](const auto& r) { return r.first == ac.hexId; });
        if (it != g_standReservations.end()) {
            *it = g_standReservations.back();
            g_standReservations.pop_back();
        }
    }
}

void lf_searchForCoupledCsAroundThisTime(WeekSlot slot, LiveAc& ac) {
    try {
        const std::uint32_t hh = gf_slotOf(slot), day = gf_weekdayOf(slot);
        const std::uint32_t w = ac.category == kCatHeavy ? kHeavyCoupleWindow : kCoupleWindow;
        HalfHourSet window;
        for (std::uint32_t h = hh > w ? hh - w : 0; h <= std::min(hh + w, kLastHalfHour); ++h) window.set(h);

        std::string callsign = ac.callsign;
        if (!callsign.empty() && callsign.back() == '_') callsign.pop_back();
        for (const ParkPos& s : g_parkPositions) {
            for (const ParkPosOption& o : s.options) {
                if (o.id == 0 || o.day != day || (o.halfHours & window).none() || o.airline != ac.airline ||
                    o.callsign2.empty() || (o.callsign1 != callsign && o.callsign2 != callsign)) {
                    continue;
                }
                ac.callsignCopy = o.callsign1;
                ac.spare = o.callsign2;
                return;
            }
        }
    } catch (const std::out_of_range& e) {
        gf_logWarning(fmt::format("{}: {}", "lf_searchForCoupledCsAroundThisTime", e.what()));
    }
}
