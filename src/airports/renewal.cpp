#include "airports/renewal.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <utility>

#include <fmt/format.h>

#include "airports/park_airports.h"
#include "airports/placement.h"
#include "airports/services.h"
#include "airports/stand_choice.h"
#include "airports/stand_load.h"
#include "airports/stand_save.h"
#include "airports/stand_sources.h"
#include "airports/static_parking.h"
#include "frame/display.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "injection/removal.h"
#include "injection/spawn.h"
#include "liveries/database.h"
#include "platform/ui.h"
#include "trafficservice/clients.h"
#include "window/main_window.h"

std::vector<StaticRemoval> g_staticRemovals;
std::vector<StaticStayer> g_staticStayers;

namespace {

constexpr std::int32_t kLastHalfHour = 47;
constexpr std::int32_t kMaxPreviousDaySlots = 46;

RenewalServices lf_defaultRenewalServices() {
    return {.wantedStaticCount = lf_wantedStaticCount, .fetchParkedTraffic = gf_getParkedTraffic};
}

RenewalServices& lf_renewalServices() {
    static RenewalServices services = lf_defaultRenewalServices();
    return services;
}

bool lf_inSim(const AiAc& ac) { return ac.status == kAcInSim; }
bool lf_fromStatistics(const AiAc& ac) { return ac.placementKind != 0; }

// Half-hours from the slot forward to now, within the week.
std::uint32_t lf_age(WeekSlot slot, WeekSlot now) { return gf_weekSlotsForward(slot, now); }

bool lf_seenLive(const std::string& callsign) { return !callsign.empty() && g_seenCallsigns.contains(callsign); }

bool lf_sameAimo(const ParkingEntry& entry, const AiAc& ac) {
    return entry.airline == ac.airline && entry.type == ac.type;
}

// A static aircraft shows an entry's callsign with a '*' after it.
bool lf_starredIs(const std::string& entryCallsign, const std::string& staticCallsign) {
    return !entryCallsign.empty() && entryCallsign + "*" == staticCallsign;
}

// The reserved stand (and the user's own, which the reserved marking flags too) holds no static aircraft.
bool lf_keptFree(const ParkPos& stand) {
    return stand.reserved != 0 || (!g_reservedStand.empty() && stand.id == g_reservedStand);
}

void lf_takeStand(std::uint32_t index) {
    if (ParkPos* stand = gf_standByIndex(index)) lf_markStandTaken(*stand);
}

std::vector<ParkingEntry>::iterator lf_entryAtStand(std::uint32_t index) {
    return std::find_if(g_parkingList.begin(), g_parkingList.end(),
                        [index](const ParkingEntry& e) { return e.standIndex == index; });
}

void lf_stay(const AiAc& ac) {
    lf_addStaticStayer(ac.callsign, ac.callsignCopy, ac.spare, ac.registration, ac, ac.placedSlot, ac.standIndex, 0);
}

void lf_sortEntries(bool ascending) {
    const auto before = [ascending](const ParkingEntry& a, const ParkingEntry& b) {
        return ascending ? a.offset < b.offset : a.offset > b.offset;
    };
    std::stable_sort(g_parkingList.begin(), g_parkingList.end(), before);
}

std::int64_t lf_count(std::size_t n) { return static_cast<std::int64_t>(n); }

// An option of the stand for the aircraft's airline and type covers now, within the window of half-hours back
// (into the previous day when the window reaches past midnight).
bool lf_optionCovers(const ParkPos& stand, const AiAc& ac, const StaticReview& c) {
    const std::uint32_t today = gf_weekdayOf(c.now);
    const auto start = static_cast<std::int32_t>(gf_slotOf(c.now));
    const auto window = static_cast<std::int32_t>(c.window);
    const auto fits = [&](const ParkPosOption& o, std::uint32_t day) {
        return o.id != 0 && o.day == day && o.airline == ac.airline && o.type == ac.type;
    };
    std::int32_t unused = -1;
    for (const ParkPosOption& o : stand.options) {
        if (fits(o, today) && testRange(o, start, window, unused)) return true;
    }
    if (start - window >= 0) return false;
    const std::int32_t previousDaySlots = std::min(window - start, kMaxPreviousDaySlots);
    const std::uint32_t yesterday = today <= 1 ? 7 : today - 1;
    return std::any_of(stand.options.begin(), stand.options.end(), [&](const ParkPosOption& o) {
        return fits(o, yesterday) && testRange(o, kLastHalfHour, previousDaySlots - 1, unused);
    });
}

// Statics that stay without being reviewed: those still being created and, when no parked traffic came, those
// placed from parked traffic (a failed query says nothing about them). Their stands are taken; the count.
std::int64_t lf_holdUnreviewedStatics(bool parkedTrafficMissing) {
    std::int64_t held = 0;
    for (const AiAc& ac : g_staticAc) {
        const bool creating = ac.status == kAcCreationQueued;
        if (!creating && !(parkedTrafficMissing && lf_inSim(ac) && !lf_fromStatistics(ac))) continue;
        lf_takeStand(ac.standIndex);
        ++held;
    }
    return held;
}

bool lf_fetchParkedTraffic() {
    try {
        return lf_renewalServices().fetchParkedTraffic();
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "gf_getParkedTraffic", e.what()));
        return false;
    }
}

// Stayers whose aircraft shows its other callsign from the next half-hour on are placed again as new entries.
void lf_replaceStayers(WeekSlot now) {
    for (auto it = g_staticStayers.begin(); it != g_staticStayers.end();) {
        if (it->replace == 0) {
            ++it;
            continue;
        }
        ParkingEntry entry;
        entry.hexId = 0;
        entry.fromOptions = 1;
        entry.standIndex = it->standIndex;
        entry.offset = lf_age(it->placedSlot, now);  // placed again, it keeps its time
        entry.airline = it->airline;
        entry.type = it->type;
        entry.callsign1 = it->callsignCopy;
        entry.callsign2 = it->spare;
        entry.registration = it->registration;
        entry.staysNextSlot = 0;
        g_parkingList.push_back(std::move(entry));
        g_staticRemovals.push_back({it->callsign, it->standIndex});
        it = g_staticStayers.erase(it);
    }
}

}  // namespace

void gf_setRenewalServices(RenewalServices services) {
    const RenewalServices d = lf_defaultRenewalServices();
    if (!services.wantedStaticCount) services.wantedStaticCount = d.wantedStaticCount;
    if (!services.fetchParkedTraffic) services.fetchParkedTraffic = d.fetchParkedTraffic;
    lf_renewalServices() = std::move(services);
}

void lf_addStaticStayer(const std::string& callsign, const std::string& callsignCopy, const std::string& spare,
                        const std::string& registration, const AiAc& ac, WeekSlot placedSlot,
                        std::uint32_t standIndex, std::uint8_t replace) {
    g_staticStayers.push_back(StaticStayer{.callsign = callsign,
                                           .callsignCopy = callsignCopy,
                                           .spare = spare,
                                           .registration = registration,
                                           .airline = ac.airline,
                                           .type = ac.type,
                                           .placedSlot = placedSlot,
                                           .standIndex = standIndex,
                                           .replace = replace});
}

void lf_markStaticForRemoval(AiAc& ac) {
    g_staticRemovals.push_back({ac.callsign, ac.standIndex});
    removeAircraftFromSim(ac);
}

// ---- Starting and requesting a calculation ----

std::string gf_standFileFaultLine(std::string_view message, std::string_view code) {
    // The log keeps the function that failed; the user is told what failed.
    std::string_view said = message;
    if (said.starts_with("lf_") || said.starts_with("gf_")) {
        std::size_t end = 0;
        while (end < said.size() && (std::isalnum(static_cast<unsigned char>(said[end])) != 0 || said[end] == '_'))
            ++end;
        said.remove_prefix(end);
        if (said.starts_with(':')) said.remove_prefix(1);
        while (said.starts_with(' ')) said.remove_prefix(1);
    }
    const std::string what = said.find(code) == std::string_view::npos ? fmt::format("{} stand file: {}", code, said)
                                                                       : std::string(said);
    return fmt::format("{}; no parking at {} until its stand file loads", what, code);
}

void lf_startStaticParkingCalculation(bool showMessage) {
    gf_disableParkingControls();
    g_collectSeenTraffic.exchange(true);
    if (showMessage) gf_showMessage("Calculating static parked aircraft ...", false);
}

void lf_requestParkingRecalculation(bool atOnce) {
    if (!atOnce) {
        g_parkingRecalcPending = true;
        lf_startStaticParkingCalculation(false);
        return;
    }
    g_parkingRecalcPending = false;
    const std::string message = lf_readParkedFile();
    if (!message.empty()) {
        gf_showMessage(message, true);
        // Until a file loads the retries fail alike: the line stays, not 25 seconds of every minute.
        gf_showStandingFault(StandingFault::StandFile, gf_standFileFaultLine(message, g_parkAirportCode));
        lf_leaveParkAirport();
    } else {
        gf_clearStandingFault(StandingFault::StandFile);
        lf_calculateStaticParking();
    }
    ui::backend().setEnabled(g_DESTINATION.controlId, true);
}

// ---- The adjustment ----

void lf_adjustParking(bool parkTrafficOnlyJustOn) {
    const WeekSlot now = lf_logDayBanner();
    lf_refreshSeenTraffic();
    gf_disableParkingControls();
    if (g_mainWindow.staticParkingMark.exchange(false)) ui::backend().invalidate(kParkingBand);

    g_staticRemovals.clear();
    g_staticStayers.clear();
    g_liveStayers.clear();
    g_parkingList.clear();
    for (ParkPos& stand : g_parkPositions) {
        stand.takenByStatic = 0;
        stand.reserved = 0;
        stand.blocked = 0;
        std::uint32_t id = 0;
        for (ParkPosOption& o : stand.options) o.id = ++id;  // withdrawn options come back
    }
    lf_markReservedStands();

    if (parkTrafficOnlyJustOn) {
        StaticListWalk walk;
        for (AiAc& ac : g_staticAc) {
            if (lf_inSim(ac) && lf_fromStatistics(ac)) lf_markStaticForRemoval(ac);
        }
    }

    const std::int64_t wanted = lf_renewalServices().wantedStaticCount();
    const bool parkTrafficOnly = g_RT_PARKTRAFFIC_ONLY.value();
    gf_collectLiveStayers();
    // Parked live aircraft are real traffic: with INITIAL_LOAD_ONLY none is removed to make room.
    if (!parkTrafficOnly && !g_INITIAL_LOAD_ONLY.value() && wanted >= 1 && lf_count(g_liveStayers.size()) > wanted) {
        const std::int64_t surplus = lf_count(g_liveStayers.size()) - wanted;
        gf_showMessage(fmt::format("Parking adjustments: {} more live ac than wanted", surplus), true);
        lf_removeLongestParkedLiveAc(static_cast<std::size_t>(surplus));
        gf_collectLiveStayers();
    }
    for (const LiveStayer& l : g_liveStayers) lf_takeStand(l.standIndex);

    const bool parkedTraffic = lf_fetchParkedTraffic();
    if (!parkedTraffic && parkTrafficOnly) {
        lf_sortEntries(false);
        return;
    }
    if (parkedTraffic) {
        lf_placeNewParkTraffic();
        const ParkTrafficReview review{.now = now, .parkTrafficOnlyJustOn = parkTrafficOnlyJustOn};
        {
            StaticListWalk walk;
            for (AiAc& ac : g_staticAc) lf_reviewParkTrafficStatic(review, ac);
        }
        const std::size_t entries = g_parkingList.size();
        gf_logLine(fmt::format("{} new parking position{} from PT", entries, gf_pluralSuffix(entries)));
        if (parkTrafficOnly) {
            lf_sortEntries(false);
            gf_showMessage(fmt::format("ParkTraffic changes: {} to be removed, {} to be added", g_staticRemovals.size(),
                                       g_parkingList.size()),
                           true);
            lf_removeMarkedStatics();
            return;
        }
    }

    // The statics that stay are known before the statistics fill up: the fill then leaves their stands alone
    // and does not take their options away from them.
    const std::int64_t held = lf_holdUnreviewedStatics(!parkedTraffic);
    lf_reviewStatics(now);
    for (const StaticStayer& s : g_staticStayers) lf_takeStand(s.standIndex);
    // The entries count once: the fill adds the list's own entries to what is present.
    const std::int64_t present = lf_count(g_liveStayers.size()) + lf_count(g_staticStayers.size()) + held;
    if (wanted - present > 0) lf_fillFromStatistics(now, wanted, present);

    lf_replaceStayers(now);
    lf_dropSurplus(wanted, held);
    lf_sortEntries(false);
    gf_showMessage(fmt::format("Parking adjustments: {} to be removed, {} to be added\n", g_staticRemovals.size(),
                               g_parkingList.size()),
                   true);
    lf_removeMarkedStatics();
}

void lf_reviewStatics(WeekSlot now) {
    const std::int32_t offset = std::clamp(std::max(g_realOffsetShown, g_softOffsetShown), 0, kLastHalfHour);
    const StaticReview context{.now = now, .window = static_cast<std::uint32_t>(offset)};
    {
        StaticListWalk walk;
        for (AiAc& ac : g_staticAc) lf_reviewStatic(context, ac);
    }
    // Oldest placement first; the age within the week keeps the order over the week's end.
    const auto older = [now](const StaticStayer& a, const StaticStayer& b) {
        return lf_age(a.placedSlot, now) > lf_age(b.placedSlot, now);
    };
    std::stable_sort(g_staticStayers.begin(), g_staticStayers.end(), older);
    for (StaticStayer& s : g_staticStayers) lf_markStayerReplace(context, s);
}

void lf_reviewStatic(const StaticReview& c, AiAc& ac) {
    if (!lf_fromStatistics(ac) || !lf_inSim(ac)) return;
    if (lf_seenLive(ac.callsignCopy) || lf_seenLive(ac.spare)) return lf_markStaticForRemoval(ac);
    const ParkPos* stand = gf_standByIndex(ac.standIndex);
    if (stand == nullptr || lf_keptFree(*stand)) return lf_markStaticForRemoval(ac);

    const auto entry = lf_entryAtStand(ac.standIndex);
    if (entry != g_parkingList.end()) {
        const bool same = lf_sameAimo(*entry, ac) &&
                          (lf_starredIs(entry->callsign1, ac.callsign) || lf_starredIs(entry->callsign2, ac.callsign));
        if (same) {
            g_parkingList.erase(entry);
            return lf_stay(ac);
        }
        if (lf_keepOrRemoveStatic(ac, g_parkingList, entry, c.now)) lf_stay(ac);
        return;
    }
    for (const std::uint32_t n : stand->excluded) {
        const auto neighbourEntry = lf_entryAtStand(n);
        const ParkPos* neighbour = gf_standByIndex(n);
        if (neighbourEntry == g_parkingList.end() || neighbour == nullptr) continue;
        const double distance = gf_distanceNM(ac.standLat, ac.standLon, neighbour->latitude, neighbour->longitude);
        if (ac.halfSpan + gf_wingspanOfModel(neighbourEntry->type) > distance) {
            if (lf_keepOrRemoveStatic(ac, g_parkingList, neighbourEntry, c.now)) lf_stay(ac);
            return;
        }
    }
    if (lf_optionCovers(*stand, ac, c)) return lf_stay(ac);
    lf_markStaticForRemoval(ac);
}

bool lf_keepOrRemoveStatic(AiAc& ac, std::vector<ParkingEntry>& list, std::vector<ParkingEntry>::iterator entry,
                           WeekSlot now) {
    if (entry->offset < lf_age(ac.placedSlot, now)) {  // the entry was seen later than the aircraft was placed
        lf_markStaticForRemoval(ac);
        return false;
    }
    list.erase(entry);
    return true;
}

void lf_markStayerReplace(const StaticReview& c, StaticStayer& stayer) {
    if (stayer.spare.empty()) return;
    if (!stayer.callsignCopy.empty() && stayer.callsign.find(stayer.callsignCopy) == std::string::npos) return;
    const ParkPos* stand = gf_standByIndex(stayer.standIndex);
    if (stand == nullptr) return;
    std::string shown = stayer.callsign;
    if (!shown.empty() && shown.back() == '*') shown.pop_back();
    const std::uint32_t today = gf_weekdayOf(c.now);
    const auto sameAimo = [&](const ParkPosOption& o) { return o.airline == stayer.airline && o.type == stayer.type; };
    const auto option = std::find_if(stand->options.begin(), stand->options.end(), [&](const ParkPosOption& o) {
        return o.id != 0 && o.day == today && o.callsign1 == shown && sameAimo(o);
    });
    if (option == stand->options.end()) return;
    const WeekSlot next = gf_nextWeekSlot(c.now);
    if (gf_weekdayOf(next) == today) {
        stayer.replace = option->halfHours.test(gf_slotOf(next)) ? 0 : 1;
        return;
    }
    const bool continues = std::any_of(stand->options.begin(), stand->options.end(), [&](const ParkPosOption& o) {
        return o.id != 0 && o.day == gf_weekdayOf(next) && sameAimo(o) && o.halfHours.test(0);
    });
    stayer.replace = continues ? 0 : 1;
}

bool lf_entryIsStatic(const AiAc& ac, const ParkingEntry& entry) {
    return lf_starredIs(entry.callsign1, ac.callsign) || lf_starredIs(entry.callsign2, ac.callsign) ||
           (!entry.registration.empty() && entry.registration == ac.registration);
}

void lf_reviewParkTrafficStatic(const ParkTrafficReview& c, AiAc& ac) {
    if (!lf_inSim(ac)) return;
    if (!lf_fromStatistics(ac)) {
        if (g_seenHexIds.contains(ac.parkedHexId)) return lf_markStaticForRemoval(ac);
        const auto entry = std::find_if(g_parkingList.begin(), g_parkingList.end(), [&](const ParkingEntry& e) {
            return e.standIndex == ac.standIndex && lf_entryIsStatic(ac, e);
        });
        if (entry == g_parkingList.end()) return lf_markStaticForRemoval(ac);
        g_parkingList.erase(entry);
        return lf_stay(ac);
    }
    if (c.parkTrafficOnlyJustOn) return;
    const auto entry = std::find_if(g_parkingList.begin(), g_parkingList.end(), [&](const ParkingEntry& e) {
        return e.standIndex == ac.standIndex || lf_starredIs(e.callsign1, ac.callsign);
    });
    if (entry == g_parkingList.end()) return;
    const bool entryNewer = entry->offset < lf_age(ac.placedSlot, c.now);
    if (!entryNewer || (lf_starredIs(entry->callsign1, ac.callsign) && lf_sameAimo(*entry, ac))) {
        g_parkingList.erase(entry);
        return;
    }
    lf_markStaticForRemoval(ac);
}

void lf_dropSurplus(std::int64_t wanted, std::int64_t keptAlso) {
    gf_logLine(fmt::format("live stayers: {}, ", g_liveStayers.size()));
    lf_sortEntries(true);
    std::int64_t surplus = lf_count(g_parkingList.size()) + lf_count(g_liveStayers.size()) +
                           lf_count(g_staticStayers.size()) + keptAlso - wanted;
    for (; surplus >= 1; --surplus) {
        if (!g_parkingList.empty()) {
            g_parkingList.pop_back();
        } else if (!g_staticStayers.empty()) {
            g_staticRemovals.push_back({g_staticStayers.back().callsign, g_staticStayers.back().standIndex});
            g_staticStayers.pop_back();
        } else {
            break;
        }
    }
    if (g_INITIAL_LOAD_ONLY.value() || wanted < 1) return;
    for (; surplus >= 1 && !g_liveStayers.empty(); --surplus) {
        const LiveStayer stayer = g_liveStayers.back();
        g_liveStayers.pop_back();
        const auto live = std::find_if(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& ac) {
            return ac.standIndex == stayer.standIndex && ac.state == kMoveParked && ac.status == kAcInSim;
        });
        if (live != g_liveAc.end()) removeAircraftFromSim(*live);
    }
}

void lf_removeMarkedStatics() {
    StaticListWalk walk;
    for (auto r = g_staticRemovals.rbegin(); r != g_staticRemovals.rend(); ++r) {
        const auto ac = std::find_if(g_staticAc.begin(), g_staticAc.end(), [&](const AiAc& s) {
            return s.standIndex == r->standIndex && s.callsign == r->callsign &&
                   (s.status == kAcInSim || s.status == kAcRemovalRequested);
        });
        // One marked while it was reviewed is on its way out already; the removal goes out once.
        if (ac != g_staticAc.end()) removeAircraftFromSim(*ac);
    }
}

// ---- Clearing and leaving ----

void lf_clearStaticParking() {
    g_parkingList.clear();
    gf_removeAllStaticAc();
    for (LiveAc& ac : g_liveAc) {
        // Airborne, taxiing to a stand or not yet placed: not part of the airport's parking.
        if (ac.state == kMoveAirborne || ac.state == kMoveToStand || ac.state == kMoveNew) continue;
        removeAircraftFromSim(ac);  // frees the stand it holds
        ac.standLat = 0.0;
        ac.standLon = 0.0;
        ac.standHeading = 0.0;
        ac.standIndex = 0;
        ac.standCargo = false;
    }
    // What never reached the simulator goes now.
    std::erase_if(g_liveAc, [](const LiveAc& ac) { return ac.eraseRequested && ac.status == kAcNotInSim; });
    lf_leaveParkAirport();
    if (g_MAX_LIVE.value() != g_maxLiveInForce.load()) {
        g_MAX_LIVE.set(g_maxLiveInForce.load());
        gf_showIntParameter(g_MAX_LIVE);
        gf_enforceMaxLive();
    }
}

void lf_leaveParkAirport() {
    if (g_standFileLoaded.load() && (g_apfSettingsChanged || g_apfUpdates > 0)) lf_saveAirportFile();
    g_apfUpdates = 0;
    g_apfSettingsChanged = false;
    g_apfHandmade = false;
    g_standFileLoaded = false;
    g_rtTrafficWeek = 0;
    g_apfReference.clear();
    g_apfLearnedPath.clear();
    g_apfCarried.clear();
    g_apfLearnedIgnored = false;
    gf_forgetStandFileFetch();
    ui::backend().setEnabled(g_Flush_static.controlId, false);
    ui::backend().setEnabled(g_parking_percentage.controlId, false);

    g_activeParkAirport = AirportData{};
    g_parkAirportCode.clear();
    g_parkAirportPos = GeoPosition{};
    g_parkAirportElevation = 0.0;
    g_trafficClient.clearParkAirportElevation();
    g_reservedStand.clear();
    MainWindow& w = g_mainWindow;
    if (w.staticParkingMark.exchange(false)) ui::backend().invalidate(kParkingBand);
    g_staticRemovals.clear();
    g_parkingList.clear();
    g_parkPositions.clear();
    gf_forgetUserStand();
    {
        std::lock_guard lock(w.statusLock);
        for (std::string MainWindow::*text : {&MainWindow::standFileInfo, &MainWindow::qualityFactorText,
                                              &MainWindow::reservedStand, &MainWindow::parkAirportCode,
                                              &MainWindow::parkAirportLabel, &MainWindow::parkAirportName}) {
            (w.*text).clear();
        }
    }
    w.standFileOk = false;
    w.standFileHandMade = false;
    w.reservedStandOk = false;
    w.updateCount = 0;
    w.standCount = 0;
    w.standFileWeekCount = 0;
    ui::backend().invalidate({0, 0, kMainClientWidth, kMainClientHeight});
}
