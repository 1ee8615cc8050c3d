#include "airports/placement.h"

#include <algorithm>
#include <exception>
#include <unordered_set>

#include <fmt/format.h>

#include "airports/stand_choice.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/removal.h"
#include "injection/stand_hooks.h"
#include "liveries/selection.h"
#include "window/main_window.h"

std::uint32_t g_staticCounter = 0;

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr std::uint32_t kStaticCounterWrap = 10000;

bool lf_contains(const std::vector<std::uint32_t>& list, std::uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Whatever stands on the entry's stand or on an overlapping one keeps the entry out; true when something does.
bool lf_standInUse(const ParkingEntry& e, const std::vector<std::uint32_t>& excluded) {
    const bool log = g_LOG.value();
    for (const LiveAc& l : g_liveAc) {
        if (l.state != kMoveParked && l.state != kMoveToStand) continue;
        if (l.standIndex == e.standIndex) {
            if (log) {
                gf_logLine(fmt::format("{:8}: no static parking for {}, live aircraft {} standing here",
                                       gf_standName(e.standIndex), e.callsign1, l.callsign));
            }
            return true;
        }
        if (lf_contains(excluded, l.standIndex)) {
            if (log) {
                gf_logLine(fmt::format("{:8}: no static parking for {}, live aircraft {} is adjacent at {}, possibly colliding",
                                       gf_standName(e.standIndex), e.callsign1, l.callsign, gf_standName(l.standIndex)));
            }
            return true;
        }
    }
    for (const AiAc& s : g_staticAc) {
        if (s.standIndex != e.standIndex && !lf_contains(excluded, s.standIndex)) continue;
        if (log) {
            gf_logLine(fmt::format("{:8}: no static parking for {}, static aircraft {} is adjacent at {}, possibly colliding",
                                   gf_standName(e.standIndex), e.callsign1, s.callsign, gf_standName(s.standIndex)));
        }
        return true;
    }
    return false;
}

// The identity the livery selection and the simulator know the static aircraft by.
AiAc lf_staticModel(const ParkingEntry& e) {
    TrafficRecord identity;
    identity.airline = e.airline;
    identity.type = e.type;
    identity.callsign = e.callsign1.empty() ? fmt::format("{}{}{}", e.airline, g_staticCounter, '*') : lf_detcs(e);
    identity.callsignCopy = e.callsign1;
    identity.spare = e.callsign2;
    identity.registration = e.registration;
    identity.identityWord = 0;
    AiAc model = gf_makeModelRecord(identity);
    model.hexId = g_staticCounter;
    return model;
}

// Half-hours from the placement to now, 0..335: the smaller, the later it was placed. Over the week's end a
// Monday placement is later than a Sunday one.
std::uint32_t lf_placementAge(const AiAc& ac, WeekSlot now) { return gf_weekSlotsForward(ac.placedSlot, now); }

}  // namespace

void lf_parkStatic() {
    try {
        if (g_parkingList.empty() || g_parkPositions.empty()) return;
        const ParkingEntry e = g_parkingList.back();
        g_parkingList.pop_back();

        const ParkPos* stand = gf_standByIndex(e.standIndex);
        const std::vector<std::uint32_t> excluded = stand != nullptr ? stand->excluded : std::vector<std::uint32_t>{};
        if (lf_standInUse(e, excluded)) return;
        if (stand == nullptr) {
            gf_logWarning(fmt::format("stand with id {} not found", gf_standName(e.standIndex)));
            return;
        }

        g_staticCounter = (g_staticCounter + 1) % kStaticCounterWrap;
        g_staticAc.emplace_back(lf_staticModel(e), stand->index,
                                StandPlace{stand->latitude, stand->longitude, stand->heading}, stand->cargo != 0);
        bool chosen = false;
        try {
            chosen = gf_selectLiveryForStatic(g_staticAc.back(), *stand);
        } catch (...) {
            g_staticAc.pop_back();  // a record that never reaches the simulator would hold the stand for good
            throw;
        }
        if (!chosen) {
            g_staticAc.pop_back();
            return;
        }

        AiAc& ac = g_staticAc.back();
        ac.placementKind = e.fromOptions;
        ac.placedSlot = gf_searchedSlot(g_weekSlotNow.load(), e.offset);
        ac.parkedHexId = e.hexId;
        ac.status = kAcCreationQueued;

        CreateAircraftRequest request;
        request.position.latitude = stand->latitude;
        request.position.longitude = stand->longitude;
        request.position.heading = stand->heading * kDegreesPerRadian;
        request.position.onGround = 1;
        request.callsign = ac.callsign;
        request.containerTitle = ac.title;
        request.hexid = ac.hexId;
        g_staticCreations.push_back(std::move(request));
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "lf_parkStatic", e.what()));
        throw;
    }
}

std::string lf_detcs(const ParkingEntry& entry) {
    const std::string& preferred = entry.staysNextSlot != 0 ? entry.callsign1 : entry.callsign2;
    const std::string& other = entry.staysNextSlot != 0 ? entry.callsign2 : entry.callsign1;
    const std::string& chosen = preferred.empty() ? other : preferred;
    if (chosen.empty()) {
        gf_logWarning(fmt::format("{} callsign is empty..", "lf_detcs"));
        return {};
    }
    return lf_starCallsign(chosen);
}

std::string lf_starCallsign(const std::string& text) {
    const std::size_t end = text.find_last_not_of('_');
    std::string cut = end == std::string::npos ? std::string() : text.substr(0, end + 1);
    if (!cut.empty() && cut.back() == '*') return cut;
    return fmt::format("{}{}", cut, '*');
}

void lf_checkMaxPark(std::int32_t extra) {
    try {
        if (g_RT_PARKTRAFFIC_ONLY.value()) return;
        std::int64_t parked = extra;
        for (const LiveAc& l : g_liveAc) {
            if (l.status == kAcInSim && l.state == kMoveParked) ++parked;
        }
        const std::int64_t wanted = g_mainWindow.g_wantedStatics.load();
        if (!g_INITIAL_LOAD_ONLY.value() && wanted >= 1 && parked > wanted) {
            std::vector<std::pair<std::uint32_t, std::uint64_t>> list;
            list.reserve(128);
            lf_listParkedLiveAc(list);
            if (!list.empty()) lf_removeExceededMaxPark(list.front().first);
        }

        const auto statics = static_cast<std::int64_t>(lf_countStaticAc(false));
        if (statics == 0 || statics + parked <= wanted) return;
        const WeekSlot now = g_weekSlotNow.load();
        std::stable_sort(g_staticAc.begin(), g_staticAc.end(), [now](const AiAc& a, const AiAc& b) {
            return lf_placementAge(a, now) < lf_placementAge(b, now);
        });
        AiAc& oldest = g_staticAc.back();
        if (oldest.status == kAcInSim) removeAircraftFromSim(oldest);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "lf_checkMaxPark", e.what()));
        throw;
    }
}

void lf_listParkedLiveAc(std::vector<std::pair<std::uint32_t, std::uint64_t>>& list) {
    const std::uint64_t now = gf_steadyNow100ns();
    for (const LiveAc& l : g_liveAc) {
        if (l.status != kAcInSim || l.state != kMoveParked) continue;
        const std::uint64_t seconds = now > l.parkedSince ? (now - l.parkedSince) / 10'000'000 : 0;
        lf_pushStandKey(list, l.hexId, seconds);
    }
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
}

void lf_removeLongestParkedLiveAc(std::size_t count) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> list;
    lf_listParkedLiveAc(list);
    std::unordered_set<std::uint32_t> chosen;
    for (std::size_t i = 0; i < std::min(count, list.size()); ++i) chosen.insert(list[i].first);
    for (LiveAc& l : g_liveAc) {
        if (!chosen.contains(l.hexId)) continue;
        gf_logLine(fmt::format("live parked {} at {} removed", gf_acText(l), gf_standName(l.standIndex)));
        removeAircraftFromSim(l);
    }
}

std::vector<LiveAc>::iterator lf_removeExceededMaxPark(std::uint32_t hexId) {
    const auto it = std::find_if(g_liveAc.begin(), g_liveAc.end(),
                                 [hexId](const LiveAc& l) { return l.hexId == hexId && l.status == kAcInSim; });
    if (it == g_liveAc.end()) return it;
    gf_logLine(fmt::format("{:}: {:8} max park exceeded, removed", gf_standName(it->standIndex), it->callsign));
    removeAircraftFromSim(*it);
    return it;
}
