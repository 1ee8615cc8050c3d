#include "airports/static_parking.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <utility>

#include <fmt/format.h>

#include "airports/learning.h"
#include "airports/park_airports.h"
#include "airports/quality.h"
#include "airports/renewal.h"
#include "airports/services.h"
#include "airports/stand_choice.h"
#include "airports/stand_load.h"
#include "airports/stand_sources.h"
#include "frame/display.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "injection/removal.h"
#include "liveries/database.h"
#include "liveries/registrations.h"
#include "platform/ui.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"
#include "window/main_window.h"

std::int32_t g_realOffsetShown = 0;
std::int32_t g_softOffsetShown = -1;

namespace {

constexpr double kParkedTrafficStandNm = 0.05939524838012959;  // 110 m
constexpr std::size_t kCandidateRoom = 512;
// A stand file this good, at an airport this large, is better than anything soft learning could add.
constexpr std::int32_t kSoftLearningQualityLimit = 45;
constexpr std::size_t kSoftLearningStandLimit = 20;

std::function<bool()>& lf_parkedTrafficSource() {
    static std::function<bool()> source;
    return source;
}

bool lf_fetchParkedTraffic() {
    const std::function<bool()>& source = lf_parkedTrafficSource();
    return source ? source() : gf_getParkedTraffic();
}

// round(numerator / denominator), halves away from zero, in whole numbers; the denominator is positive.
std::int64_t lf_roundDiv(std::int64_t numerator, std::int64_t denominator) {
    const std::int64_t magnitude = (2 * std::llabs(numerator) + denominator) / (2 * denominator);
    return numerator < 0 ? -magnitude : magnitude;
}

// "1", "1.5": hours of a half-hour count as the log lines show them.
std::string lf_hours(std::int64_t halfHours) {
    return gf_formatNumber(static_cast<float>(static_cast<double>(halfHours) * 0.5 + 0.5));
}

std::size_t lf_countTakenStands() {
    return static_cast<std::size_t>(std::count_if(g_parkPositions.begin(), g_parkPositions.end(),
                                                  [](const ParkPos& p) { return p.takenByStatic != 0; }));
}

std::int64_t lf_entries() { return static_cast<std::int64_t>(g_parkingList.size()); }

void lf_sortByOffset(bool ascending) {
    std::stable_sort(g_parkingList.begin(), g_parkingList.end(), [ascending](const ParkingEntry& a, const ParkingEntry& b) {
        return ascending ? a.offset < b.offset : a.offset > b.offset;
    });
}

bool lf_seenCallsign(const std::string& callsign) {
    return g_seenCallsigns.contains(callsign) || g_seenCallsigns.contains(callsign + "_");
}

bool lf_parkedTrafficSkipped(const ParkedTrafficRecord& r) {
    if (g_seenHexIds.contains(r.hexid) || r.callsign.empty() || lf_seenCallsign(r.callsign)) return true;
    return std::any_of(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& a) { return lf_ptSeenLive(r, a); });
}

// The model of the parked aircraft: its registration's record decides cargo, a private aircraft without an
// airline flies as "PVT".
AiAc lf_parkedModel(const ParkedTrafficRecord& r) {
    TrafficRecord received;
    static_cast<AcIdentity&>(received) = static_cast<const AcIdentity&>(r);
    received.lat = r.latitude;
    received.lon = r.longitude;
    received.hexId = r.hexid;
    AiAc ac = gf_makeModelRecord(received);
    ac.hexId = r.hexid;
    if (const auto hit = gf_regcodeLookup(r.registration)) ac.cargo = hit->cargo;
    if (ac.airline.empty() && !gf_airlineFromCallsign(ac)) ac.airline = "PVT";
    return ac;
}

// A neighbour of a blocked stand, held by an entry whose span reaches this aircraft.
bool lf_neighbourEntryTooClose(const ParkPos& stand, double halfSpan) {
    for (const std::uint32_t n : stand.excluded) {
        const ParkPos* neighbour = gf_standByIndex(n);
        if (neighbour == nullptr) continue;
        const double distance = gf_distanceNM(stand.latitude, stand.longitude, neighbour->latitude, neighbour->longitude);
        for (const ParkingEntry& e : g_parkingList) {
            if (e.standIndex == n && gf_wingspanOfModel(e.type) + halfSpan > distance) return true;
        }
    }
    return false;
}

// The user's stand becomes the reserved stand of the active park airport, which leads the park airport list.
void lf_takeOverUserStand() {
    const std::string userStand = gf_userStandNow();
    if (!g_parkAirports.empty() && g_parkAirports.front().code == g_parkAirportCode) {
        ParkAirport& first = g_parkAirports.front();
        if (!userStand.empty() && userStand != first.reservedStand) {
            first.reservedStand = userStand;
            gf_updateMyParkAirportsFile();
        }
        return;
    }
    // An entry further down moves up; the stand the user chose for it stays unless the user stands elsewhere.
    ParkAirport entry{g_parkAirportCode, userStand, g_parkAirportPos.latitude, g_parkAirportPos.longitude, 0.0};
    const auto held = std::find_if(g_parkAirports.begin(), g_parkAirports.end(),
                                   [](const ParkAirport& p) { return p.code == g_parkAirportCode; });
    if (held != g_parkAirports.end()) {
        if (userStand.empty()) entry.reservedStand = held->reservedStand;
        g_parkAirports.erase(held);
    }
    g_parkAirports.insert(g_parkAirports.begin(), std::move(entry));
    gf_updateMyParkAirportsFile();
}

// Soft learning adds nothing to a good stand file of a large airport.
void lf_decideSoftLearning(QualityWord quality) {
    const ui::ControlId box = g_LEARN_SOFT.controlId;
    if (gf_realFactor(quality) >= kSoftLearningQualityLimit && g_parkPositions.size() >= kSoftLearningStandLimit) {
        g_softLearningAllowed = false;
        if (g_LEARN_SOFT.value()) {
            g_LEARN_SOFT.set(false);
            ui::backend().setChecked(box, false);
            ui::backend().setEnabled(box, false);
            // A learned file that was not taken is not rewritten for a switch the load made by itself.
            if (!g_apfLearnedIgnored) g_apfSettingsChanged = true;
        }
    } else {
        g_softLearningAllowed = true;
        ui::backend().setEnabled(box, true);
    }
}

// The reserved stand of the park airport list's head, when it is the active one and the stand exists.
void lf_applyReservedStand() {
    MainWindow& w = g_mainWindow;
    std::string shown;
    g_reservedStand.clear();
    w.reservedStandOk = false;
    if (!g_parkAirports.empty() && g_parkAirports.front().code == g_parkAirportCode) {
        shown = g_parkAirports.front().reservedStand;
        if (!shown.empty() && lf_findStand(shown) != g_parkPositions.end()) {
            g_reservedStand = shown;
            w.reservedStandOk = true;
        }
    }
    gf_setDisplayText(&MainWindow::reservedStand, shown, kParkingBand);
}

std::string lf_readStandFile(QualityWord& quality) {
    const std::string& code = g_parkAirportCode;
    const std::optional<StandFileFetch> fetched = gf_standFileFetched(code);
    const std::string reference = fetched ? fetched->reference : lf_findArchivedApf(code);
    if (reference.empty()) return fmt::format("{} {} not found", "lf_readParkedFile", code);
    if (reference.find("unknown") != std::string::npos) {
        return fmt::format("{} {} has publisher:{}, {}", "lf_readParkedFile", code, "unknown", reference);
    }
    if (!fetched) return gf_readApf(reference, g_apfInfo, quality);
    if (!fetched->message.empty()) return fetched->message;
    return gf_readApfFile(reference, fetched->localFile, g_apfInfo, quality);
}

}  // namespace

void gf_setParkedTrafficSource(std::function<bool()> source) { lf_parkedTrafficSource() = std::move(source); }

// ---- Loading the stand file ----

std::string lf_readParkedFile() {
    g_parkPositions.clear();
    QualityWord quality = kNoStandOptions;
    const std::string message = lf_readStandFile(quality);
    MainWindow& w = g_mainWindow;
    if (message.empty()) {
        lf_decideSoftLearning(quality);
        if (g_userOnGroundKnown.load()) lf_takeOverUserStand();
        g_parkPositions.shrink_to_fit();
        lf_applyReservedStand();
    }
    w.standFileOk = message.empty();
    gf_setDisplayText(&MainWindow::parkAirportName, message.empty() ? g_apfInfo.airportName : std::string(),
                      kParkingBand);
    g_apfUpdates = 0;
    w.updateCount = 0;
    return message;
}

// ---- The wanted number ----

std::int64_t lf_wantedStaticCount() {
    const std::int64_t custom = g_CUSTOM_PARKING_PERCENTAGE.value();
    const std::int64_t percent = custom >= 0 ? custom : g_parking_percentage.value();
    const auto stands = static_cast<std::int64_t>(g_parkPositions.size());
    std::int64_t wanted = 1;  // a small airport still gets one
    if (stands > 1 && (stands > 3 || percent >= 50)) wanted = lf_roundDiv(percent * stands, 100);
    std::int64_t shown = percent;
    if (const std::int64_t maxPark = g_CUSTOM_MAX_PARK.value(); maxPark >= 0) {
        wanted = std::min(wanted, maxPark);
        shown = stands == 0 ? 0 : lf_roundDiv(wanted * 100, stands);
    }
    g_mainWindow.g_wantedStatics = static_cast<std::int32_t>(wanted);
    g_mainWindow.maxParkPercent = static_cast<std::int32_t>(shown);
    ui::backend().invalidate(kParkingBand);
    return wanted;
}

// ---- Parked traffic ----

bool lf_ptSeenLive(const ParkedTrafficRecord& r, const LiveAc& a) {
    if (a.hexId == r.hexid) return true;
    if (!r.callsign.empty() && (a.callsign == r.callsign || a.callsign == r.callsign + "_")) return true;
    return !r.registration.empty() && a.registration == r.registration;
}

bool lf_ptStaticAtStand(const ParkedTrafficRecord& r, const ParkPos& stand, const AiAc& s, WeekSlot now, bool& keep) {
    if (s.placementKind != 0 || s.standIndex != stand.index) return false;
    if (!r.callsign.empty() && s.callsign == r.callsign + "*") return false;
    // Both times as half-hours back from now: the week's wrap from Sunday to Monday cannot turn them round.
    keep = r.slot > gf_weekSlotsForward(s.placedSlot, now);
    return true;
}

void lf_placeParkTraffic(std::int64_t& wanted, const ParkedTrafficRecord& r) {
    if (!g_RT_PARKTRAFFIC_ONLY.value() && lf_entries() >= wanted) return;
    if (lf_parkedTrafficSkipped(r)) return;
    const AiAc ac = lf_parkedModel(r);

    const std::size_t found = lf_nearestFreeStand(r.latitude, r.longitude, ac, kParkedTrafficStandNm, false);
    if (found >= g_parkPositions.size()) {
        gf_logIndented(fmt::format("[{:10}: {:8x} {:8} {:12}, hh:{} ===> could not find a stand for PT's {}]", r.type,
                                   r.hexid, r.callsign, r.registration, r.slot, gf_laloText(r.latitude, r.longitude)));
        return;
    }
    ParkPos& stand = g_parkPositions[found];
    if (stand.reserved != 0 || stand.takenByStatic != 0) return;
    if (stand.blocked != 0 && lf_neighbourEntryTooClose(stand, ac.halfSpan)) return;

    const WeekSlot now = g_weekSlotNow.load();
    for (std::size_t i = 0; i < g_staticAc.size(); ++i) {
        bool keep = false;
        if (!lf_ptStaticAtStand(r, stand, g_staticAc[i], now, keep)) continue;
        AiAc& s = g_staticAc[i];
        if (keep) {
            ParkingEntry entry;
            entry.hexId = s.parkedHexId;
            entry.fromOptions = 0;
            entry.standIndex = stand.index;
            entry.offset = gf_weekSlotsForward(s.placedSlot, now);
            entry.airline = s.airline;
            entry.type = s.type;
            entry.callsign1 = s.callsign.empty() ? std::string() : s.callsign.substr(0, s.callsign.size() - 1);
            entry.registration = s.registration;
            entry.staysNextSlot = 1;
            g_parkingList.push_back(std::move(entry));
            // The stand is held: nothing else is chosen for it or for what it overlaps.
            lf_markStandTaken(stand);
            return;
        }
        // The newer report wins the stand. The removal is requested here, once: a record already marked as
        // being removed is never queued for the simulator again.
        g_staticRemovals.push_back(StaticRemoval{s.callsign, s.standIndex});
        removeAircraftFromSim(s);
        break;
    }

    ParkingEntry entry;
    entry.hexId = r.hexid;
    entry.fromOptions = 0;
    entry.standIndex = stand.index;
    entry.offset = r.slot;
    entry.airline = ac.airline;
    entry.type = ac.type;
    entry.callsign1 = r.callsign;
    entry.registration = r.registration;
    entry.staysNextSlot = 1;
    g_parkingList.push_back(std::move(entry));
    lf_markStandTaken(stand);
}

void lf_placeNewParkTraffic() {
    std::int64_t wanted = lf_wantedStaticCount();
    if (wanted < 1 && !g_RT_PARKTRAFFIC_ONLY.value()) return;
    for (const ParkedTrafficRecord& r : g_trafficClient.parkedRecords) lf_placeParkTraffic(wanted, r);
}

// ---- The statistics ----

bool lf_computeStandStatistics(WeekSlot now, std::uint32_t kind, std::int64_t wanted,
                               std::vector<ParkingEntry>& candidates) {
    const std::size_t takenBefore = lf_countTakenStands();
    const auto maxFit = static_cast<std::uint32_t>(std::clamp(g_MAX_FIT.value(), 0, 47));
    bool enough = false;
    std::uint32_t offset = 0;
    for (;; ++offset) {
        lf_searchStands(now, kind, offset, candidates);
        if (static_cast<std::int64_t>(lf_countTakenStands()) >= wanted) {
            enough = true;
            break;
        }
        std::move(candidates.begin(), candidates.end(), std::back_inserter(g_parkingList));
        candidates.clear();
        if (offset >= maxFit) break;
    }
    (kind == 1 ? g_realOffsetShown : g_softOffsetShown) = static_cast<std::int32_t>(offset);

    const std::size_t took = lf_countTakenStands() - takenBefore;
    if (took >= 1) {
        const std::uint32_t halfHour = gf_slotOf(now);
        gf_logLine(fmt::format("{} {} position{} found, Max fit={} hours{}{}", took, kind == 1 ? "real" : "soft",
                               gf_pluralSuffix(static_cast<std::uint64_t>(took)), lf_hours(maxFit),
                               g_WEEK.value() ? std::string(", week") : fmt::format(", day {}", gf_weekdayOf(now)),
                               fmt::format(", hh:{} or {} hrs fit: {} hour", halfHour, lf_hours(halfHour),
                                           lf_hours(offset))));
    }
    g_mainWindow.staticParkingMark = kind == 0 && took >= 1;
    ui::backend().invalidate(kParkingBand);
    return enough;
}

void lf_takeOptionsOfKind(WeekSlot now, std::int64_t wanted, std::int64_t present, std::uint32_t kind) {
    std::vector<ParkingEntry> candidates;
    candidates.reserve(kCandidateRoom);
    if (!lf_computeStandStatistics(now, kind, wanted, candidates)) return;

    const auto found = static_cast<std::int64_t>(candidates.size());
    const std::int64_t excess = lf_entries() + present + found - wanted;
    if (excess >= 1) {
        // Which of the last offset's candidates stay is left to chance.
        std::mt19937& random = gf_workRandom();
        for (std::size_t i = 1; i < candidates.size(); ++i) {
            const std::size_t j = std::uniform_int_distribution<std::size_t>(0, i)(random);
            if (i != j) std::swap(candidates[i], candidates[j]);
        }
        candidates.resize(static_cast<std::size_t>(found - std::min(excess, found)));
    }
    std::move(candidates.begin(), candidates.end(), std::back_inserter(g_parkingList));
    if (const std::int64_t over = lf_entries() + present - wanted; over >= 1) {
        g_parkingList.resize(static_cast<std::size_t>(lf_entries() - std::min(over, lf_entries())));
    }
}

void lf_fillFromStatistics(WeekSlot now, std::int64_t wanted, std::int64_t present) {
    g_realOffsetShown = 0;
    g_softOffsetShown = -1;
    lf_takeOptionsOfKind(now, wanted, present, 1);
    if (lf_entries() + present < wanted && (g_PARK_SOFT.value() || g_PARK_FAKE.value())) {
        lf_takeOptionsOfKind(now, wanted, present, 0);
    }
}

// ---- The calculation ----

WeekSlot lf_logDayBanner() {
    const WeekSlot now = gf_weekSlot();
    const std::uint32_t weekday = gf_weekdayOf(now);
    gf_logLine(fmt::format("\n{} (utc) It is day {} ({}), {} hours", gf_simClockMark(), weekday,
                           lf_weekdayName(static_cast<int>(weekday)), lf_hours(gf_slotOf(now))));
    return now;
}

void lf_markReservedStands() {
    if (!g_reservedStand.empty()) {
        if (const auto it = lf_findStand(g_reservedStand); it != g_parkPositions.end()) it->reserved = 1;
    }
    const std::string userStand = gf_userStandNow();
    if (!userStand.empty() && userStand != g_reservedStand) {
        if (const auto it = lf_findStand(userStand); it != g_parkPositions.end()) it->reserved = 1;
    }
}

void lf_refreshSeenTraffic() { gf_takeOverSeenTraffic(); }

void lf_calculateStaticParking() {
    const WeekSlot now = lf_logDayBanner();
    // A calculation asked for at once comes without the controls switched off; the list is not to change
    // under the user's hands either way.
    if (g_parkingBusy.load() == 0) gf_disableParkingControls();
    gf_showMessage("Making changes to airport parking parameters is disabled while static parking takes place ...",
                   false);

    g_parkingList.clear();
    g_staticStayers.clear();
    g_liveStayers.clear();
    MainWindow& w = g_mainWindow;
    w.g_averageFitShown[0] = -1.0f;
    w.g_averageFitShown[1] = -1.0f;
    w.staticParkingMark = false;

    lf_refreshSeenTraffic();

    // A live aircraft's hold on its stand outlives the calculation: another live aircraft must not be sent there.
    for (ParkPos& p : g_parkPositions) p.takenByStatic = p.reserved = p.blocked = 0;
    lf_markReservedStands();
    ui::backend().invalidate(kMiddleBand);

    const bool parkTrafficOnly = g_RT_PARKTRAFFIC_ONLY.value();
    std::int64_t wanted = lf_wantedStaticCount();
    if (lf_fetchParkedTraffic() && (wanted >= 1 || parkTrafficOnly)) {
        for (const ParkedTrafficRecord& r : g_trafficClient.parkedRecords) lf_placeParkTraffic(wanted, r);
    }

    if (!parkTrafficOnly) {
        gf_logLine(fmt::format("{} parking position{} from PT", g_parkingList.size(),
                               gf_pluralSuffix(static_cast<std::uint64_t>(g_parkingList.size()))));
        wanted = lf_wantedStaticCount();
        // Nothing stays at the airport outside the list yet: every aircraft counted is an entry.
        if (wanted > lf_entries()) lf_fillFromStatistics(now, wanted, 0);
        lf_sortByOffset(true);
        if (lf_entries() > wanted) g_parkingList.resize(static_cast<std::size_t>(std::max<std::int64_t>(wanted, 0)));
    }

    const std::size_t k = g_parkingList.size();
    if (k == 0) {
        gf_logLine("no parking positions found");
        gf_enableParkingControls();
        return;
    }
    const std::size_t stands = g_parkPositions.size();
    const std::int64_t percent = stands == 0 ? 0 : lf_roundDiv(static_cast<std::int64_t>(k) * 100,
                                                                static_cast<std::int64_t>(stands));
    if (parkTrafficOnly) {
        gf_logLine(fmt::format("{} positions from RT parktraffic only\n", k));
    } else {
        gf_logLine(fmt::format("{} positions ({}% vs wanted {}%, with Max fit={} hours)\n", k, percent,
                               g_parking_percentage.value(), lf_hours(g_MAX_FIT.value())));
    }
    // The placement takes entries from the back: the best fits first.
    lf_sortByOffset(false);
}
