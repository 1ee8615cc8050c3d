#include "injection/intake.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/geodesy.h"
#include "injection/movement.h"
#include "injection/services.h"
#include "injection/spawn.h"
#include "liveries/database.h"
#include "liveries/registrations.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"

std::function<std::optional<double>()> g_parkAirportElevationFt;

namespace {

// Reports closer in time than this to the last one taken add nothing the track does not already have.
constexpr double kMinRecordSpacingS = 1.0;
// A tenfold change of speed between two reports is a misreading, not a manoeuvre.
constexpr double kSpeedJumpFactor = 10.0;
constexpr double kStandstillKt = 5.0;
constexpr double kFastKt = 80.0;
// A steady airborne aircraft is taken again only once it has flown 450 m (0.243 nm)...
constexpr double kSteadyAirborneMinKt = 120.0;
constexpr double kSteadyAirborneTrackDeg = 1.0;
constexpr double kSteadyAirborneNm = 0.2429805615550756;
// ... and a steady taxiing one once it has rolled 20 m (0.0108 nm), or after 15 s at the latest.
constexpr double kSteadyGroundMaxKt = 30.0;
constexpr double kSteadyGroundTrackDeg = 2.0;
constexpr double kSteadyGroundNm = 0.010799136069114472;
constexpr double kSteadyGroundMaxS = 15.0;
// Below this height an aircraft not yet created that reports the park airport's elevation (within the band)
// is one whose transponder reports no real altitude on the ground.
constexpr double kLowAltitudeFt = 10000.0;
constexpr double kElevationBandFt = 120.0;
// Faster than any aircraft rolls on the ground in the traffic reader's band over the field.
constexpr double kMinFinalKt = 80.0;

// The field the traffic reader read the report's height against: the intake reads against the same one.
double lf_parkElevation() { return g_trafficClient.groundReference(); }

// A height that is really the field elevation of an aircraft standing at the park airport. One descending at
// flying speed is on short final instead (its height given in 25 ft steps of the standard pressure).
bool lf_atParkElevation(const TrafficRecord& r) {
    if (r.airborne && r.vs < 0.0 && r.speedGiven && r.speed > kMinFinalKt) return false;
    return r.alt > 0.0 && r.alt < kLowAltitudeFt && std::abs(r.alt - lf_parkElevation()) <= kElevationBandFt;
}


// ---- What the positions say ----

// The speed and track of a report are measured from the place of the newest report at least this much older
// (else the oldest kept one, from the shorter span). The places of this long are kept: enough to see the
// line-up before a take-off roll.
constexpr double kMotionSpanS = 5.0;
constexpr double kMinMotionSpanS = 1.5;
constexpr double kKeptPlacesS = 40.0;
constexpr std::size_t kMaxKeptPlaces = 32;
// Such a ground report is placed at the median of this many places, unless they lie along one way (80 % of
// their path) and lead away (each of the last three 2 m farther from the first) or pass 25 kt.
constexpr std::size_t kMedianPlaces = 5;
constexpr std::size_t kLeadingPlaces = 3;
constexpr double kLeadStepNm = 0.00108;
constexpr double kStraightShare = 0.8;
constexpr double kRollKt = 25.0;
// A track is read from positions at least this far apart (nm, 5 m).
constexpr double kMinTrackNm = 0.0027;
// Faster than this on the ground the positions jumped: they tell nothing of the speed.
constexpr double kMaxGroundMotionKt = 200.0;
// A reported speed the positions confirm: within this of theirs, plus this share of the faster one.
constexpr double kSpeedFitKt = 10.0;
constexpr double kSpeedFitShare = 0.5;
// An airborne report after ground ones is a lift-off only at a speed the positions show between these, grown
// from the speed they showed before (gf_rollSpeedReachable).
constexpr double kMinLiftOffKt = 60.0;
constexpr double kMaxLiftOffKt = 300.0;
// The traffic reader takes a report at this speed or slower for a standing or taxiing aircraft at any height.
constexpr double kMaxStandingReportKt = 35.0;
// No aircraft flies slower over the ground than this share of its category's rotation speed.
constexpr double kMinFlyingShare = 0.5;

struct Motion {
    double kt;
    std::optional<double> trackDeg;
    const LiveAc::ReportedPlace* from;  // where it is measured from
};

// The speed and track its positions show on arrival at a place at a time.
std::optional<Motion> lf_motionOf(const LiveAc& a, double time, double lat, double lon) {
    const LiveAc::ReportedPlace* from = nullptr;
    for (auto it = a.reportedPlaces.rbegin(); it != a.reportedPlaces.rend(); ++it) {
        if (time - it->time > kKeptPlacesS) break;
        if (time - it->time < kMinMotionSpanS) continue;
        from = &*it;
        if (time - it->time >= kMotionSpanS) break;
    }
    if (!from) return std::nullopt;
    const double nm = gf_distanceNM(from->lat, from->lon, lat, lon);
    Motion m{nm / (time - from->time) * 3600.0, std::nullopt, from};
    if (nm >= kMinTrackNm) m.trackDeg = gf_initialBearing(from->lat, from->lon, lat, lon) * (180.0 / std::numbers::pi);
    return m;
}

std::optional<Motion> lf_motionOf(const LiveAc& a, const TrafficRecord& r) { return lf_motionOf(a, r.time, r.lat, r.lon); }

// A lift-off ends a roll: the positions before show the speed the new one grew from, no faster than an
// aircraft gains speed. Standing, then at flying speed a few seconds later, a stale place was renewed.
bool lf_speedGrownTo(const LiveAc& a, const Motion& m, double time) {
    const std::optional<Motion> before = lf_motionOf(a, m.from->time, m.from->lat, m.from->lon);
    if (!before) return true;
    // Each speed is the mean over its span: they lie half of both spans apart.
    const double span = (time - before->from->time) / 2.0;
    return m.kt <= gf_rollSpeedReachable(before->kt, span);
}

bool lf_speedFits(double kt, const Motion& m) {
    return std::abs(kt - m.kt) <= kSpeedFitKt + kSpeedFitShare * std::max(kt, m.kt);
}

// A report read against the positions of the reports before it: a report without a track gets the one its
// positions show (still counted as unknown), an airborne one without a speed theirs; a ground speed they do
// not confirm (a spike, or the approach speed kept on after the landing) becomes unknown, as a missing one is,
// and the rules that need it go by the positions; an airborne report amid ground ones whose positions show no
// lift-off, or one of a landing aircraft as slow as a roll-out, is a ground report, and a climb-out the reader
// put on the ground for want of a speed is airborne; a ground report farther than any ground speed takes it is to be dropped (its
// hex id is cleared). Without positions to go on, nothing changes.
std::optional<Motion> lf_readAgainstPositions(const LiveAc& a, TrafficRecord& r) {
    std::optional<Motion> m = lf_motionOf(a, r);
    const bool wasOnGround = !a.reportedPlaces.empty() && !a.reportedPlaces.back().airborne;
    // The reader puts a report without a ground speed on the ground when low; rolling for take-off or in the
    // air, the speed the positions show tells whether it climbs out (the reports of a departure often carry no
    // speed until well after the lift-off).
    if (!r.airborne && !r.speedGiven && m && a.status == kAcInSim && (lf_rollReported(a) || !a.onGround) &&
        m->kt >= kMinLiftOffKt && m->kt <= kMaxLiftOffKt &&
        !gf_groundReport(r.reportedAlt, lf_parkElevation(), m->kt)) {
        r.airborne = true;
        r.alt = r.reportedAlt;
    }
    // On the ground at a roll's speed the aircraft is on its runway: the vertical speed such a report carries is
    // the barometric trend of a lift-off or a flare, no climb or descent of the aircraft yet.
    if (!r.airborne && r.speedGiven && r.speed > kMaxStandingReportKt) r.vs = 0.0;
    // Nothing with wings flies as slowly as the positions of a landing roll go: its reports may keep the
    // approach's height and speed long after the touchdown.
    const bool rollsOut = (a.approach || a.onGround) && a.category != kCatRotorcraft && m &&
                          m->kt < kMinFlyingShare * g_rotationSpeedKt.at(static_cast<int>(a.category));
    // After ground reports, read only then: its positions show a lift-off speed they grew to.
    const auto liftsOff = [&] {
        return !m || (m->kt >= kMinLiftOffKt && m->kt <= kMaxLiftOffKt && lf_speedGrownTo(a, *m, r.time));
    };
    if (r.airborne && ((wasOnGround && !liftsOff()) || rollsOut)) {
        r.airborne = false;
        r.alt = r.vs = 0.0;
    }
    if (!m) return m;
    // The track its positions show stands in for a missing one, which stays unknown to the rules.
    if (!r.trackGiven && m->trackDeg) r.track = *m->trackDeg;
    if (r.airborne) {
        // In the air the aircraft flies at some speed: without a reported one, the one its positions show.
        if (!r.speedGiven) r.speed = r.tas = m->kt;
        return m;
    }
    if (m->kt > kMaxGroundMotionKt) {
        // No aircraft on the ground gets there so fast from where it was: the position is a misreading.
        if (wasOnGround) r.hexId = 0;
        return std::nullopt;
    }
    // A speed too high for the positions is no speed at all: unknown, like a missing one. (A lower one
    // stays: the positions' speed lags behind a slowing aircraft.)
    if (r.speedGiven && r.speed > m->kt * (1.0 + kSpeedFitShare) + kSpeedFitKt) {
        r.speed = r.tas = 0.0;
        r.speedGiven = false;
    }
    return m;
}

void lf_keepPlace(LiveAc& a, const TrafficRecord& r, double reportedAlt) {
    auto& places = a.reportedPlaces;
    if (!places.empty() && r.time <= places.back().time) return;
    places.push_back({r.time, r.lat, r.lon, r.airborne, reportedAlt, r.alt});
    while (places.size() > kMaxKeptPlaces || (places.size() > 1 && r.time - places.front().time > kKeptPlacesS))
        places.pop_front();
}

// An airborne report is read against the airborne ones of this long before it, each carried on at the
// report's own vertical rate: it disagrees with one it lies farther from than the slack plus half the height
// that rate gives over the time between.
constexpr double kHeightNeighboursS = 20.0;
constexpr double kHeightSlackFt = 200.0;

// A report whose height most of the reports before it contradict, carried on at its own reported vertical
// rate (one 400 ft above a steady descent), is a misreading: it takes the height the newest of them gives, so
// that nothing climbs or dives to it. A report without a vertical rate stays as it is, and so does one that
// as many agree with as not: a real change of height agrees with itself within a few reports.
void lf_heightAmidReports(const LiveAc& a, TrafficRecord& r) {
    if (!r.airborne || r.vs == 0.0) return;
    int agree = 0, disagree = 0;
    std::optional<double> carried;
    for (auto it = a.reportedPlaces.rbegin(); it != a.reportedPlaces.rend(); ++it) {
        const double dt = r.time - it->time;
        if (dt > kHeightNeighboursS) break;
        if (!it->airborne || dt <= 0.0) continue;
        const double change = r.vs * dt / 60.0;
        if (std::abs(r.alt - it->reportedAlt - change) <= kHeightSlackFt + std::abs(change) / 2.0) {
            ++agree;
        } else {
            ++disagree;
            if (!carried) carried = it->alt + change;
        }
    }
    if (disagree > agree) r.alt = *carried;
}

// A ground report whose speed its positions contradict (a transponder stuck at 180 kt on a standing
// aircraft) places it no better: it stands at the middle of its last five places (the median of each
// coordinate), so that their scatter, tens or hundreds of metres around a standing aircraft, is no motion.
// Places along one straight way that lead away, or are covered at a roll's speed, are a taxi or a roll: they
// stay as reported.
void lf_placeAmidReports(const LiveAc& a, TrafficRecord& r) {
    const auto& places = a.reportedPlaces;
    if (r.airborne || !a.onGround || places.size() < kMedianPlaces || places.back().time != r.time) return;
    const auto first = places.end() - static_cast<std::ptrdiff_t>(kMedianPlaces);
    std::array<double, kMedianPlaces> lats{}, lons{};
    double pathNm = 0.0, lastFromFirstNm = 0.0;
    bool leads = true;
    for (std::size_t i = 0; i < kMedianPlaces; ++i) {
        const LiveAc::ReportedPlace& q = first[static_cast<std::ptrdiff_t>(i)];
        if (q.airborne) return;
        lats[i] = q.lat;
        lons[i] = r.lon + gf_longitudeDiff(r.lon, q.lon);
        if (i == 0) continue;
        pathNm += gf_distanceNM(lats[i - 1], lons[i - 1], q.lat, q.lon);
        const double fromFirstNm = gf_distanceNM(first->lat, first->lon, q.lat, q.lon);
        if (i + kLeadingPlaces >= kMedianPlaces && fromFirstNm < lastFromFirstNm + kLeadStepNm) leads = false;
        lastFromFirstNm = fromFirstNm;
    }
    const double wayNm = gf_distanceNM(first->lat, first->lon, r.lat, r.lon);
    const double spanS = r.time - first->time;
    const bool fast = spanS > 0.0 && wayNm / spanS * 3600.0 >= kRollKt;
    if (wayNm >= kStraightShare * pathNm && (leads || fast)) return;
    std::nth_element(lats.begin(), lats.begin() + kMedianPlaces / 2, lats.end());
    std::nth_element(lons.begin(), lons.begin() + kMedianPlaces / 2, lons.end());
    r.lat = lats[kMedianPlaces / 2];
    const double lon = lons[kMedianPlaces / 2];
    r.lon = lon > 180.0 ? lon - 360.0 : lon < -180.0 ? lon + 360.0 : lon;
}

// Whether the report adds nothing or cannot be true next to the last point of the track.
bool lf_implausible(const TrafficRecord& r, const LiveAc& a, const std::optional<Motion>& motion) {
    const TrackPoint& last = a.track.back();
    const double dt = r.time - a.lastRecordTime;
    if (r.time == a.lastRecordTime || dt <= kMinRecordSpacingS) return true;
    const double v = r.speed;
    const double w = last.speed;
    // A jump of speed is a misreading unless the positions show the new one; an unknown speed says nothing.
    const bool speedsKnown = r.speedGiven && last.speedGiven && !(motion && lf_speedFits(v, *motion));
    if (speedsKnown) {
        if (w > kStandstillKt && v >= kSpeedJumpFactor * w) return true;
        if (v > kStandstillKt && w >= kSpeedJumpFactor * v) return true;
        if ((w <= kStandstillKt && v >= kFastKt) || (v <= kStandstillKt && w >= kFastKt)) return true;
    }
    // While points are predicted the track runs ahead of the reports: a steady report still corrects it. The
    // first ground report after airborne ones (the touchdown) is news too.
    if (a.extendSteps >= 1 || (!r.airborne && last.airborne)) return false;
    // An unknown track counts as unchanged: reports without speed and track are taken as seldom as those of a
    // standing aircraft.
    const double trackDiff = r.trackGiven && last.trackGiven ? std::abs(r.track - last.track) : 0.0;
    if (r.airborne) {
        return v > kSteadyAirborneMinKt && trackDiff <= kSteadyAirborneTrackDeg &&
               dt <= kSteadyAirborneNm / (v / 3600.0);
    }
    if (!r.speedGiven) {
        // Without a speed it is taken as seldom as a standing aircraft's, unless its positions show a roll.
        return trackDiff <= kSteadyGroundTrackDeg && dt <= kSteadyGroundMaxS && !(motion && motion->kt >= kFastKt);
    }
    if (v <= kSteadyGroundMaxKt && trackDiff <= kSteadyGroundTrackDeg) {
        const double limit = v > 0.0 ? std::min(kSteadyGroundNm / (v / 3600.0), kSteadyGroundMaxS) : kSteadyGroundMaxS;
        return dt <= limit;
    }
    return false;
}

// What an aircraft can report, generously: beyond these a value is a misreading, and fed to the movement it
// overflows (a ground speed of 1e302 kt made every predicted point NaN in the simulator).
struct PossibleRange {
    const char* name;
    double TrackPoint::*value;
    double lowest, highest;
    const char* unit;
};
constexpr PossibleRange kPossibleRanges[] = {
    {"latitude", &TrackPoint::lat, -90.0, 90.0, "deg"},
    {"longitude", &TrackPoint::lon, -180.0, 180.0, "deg"},
    {"altitude", &TrackPoint::alt, -2000.0, 100000.0, "ft"},
    {"ground speed", &TrackPoint::speed, -2500.0, 2500.0, "kt"},
    {"true airspeed", &TrackPoint::tas, -2500.0, 2500.0, "kt"},
    {"vertical speed", &TrackPoint::vs, -100000.0, 100000.0, "ft/min"},
    {"track", &TrackPoint::track, -360.0, 360.0, "deg"},
    {"bank", &TrackPoint::bank, -std::numbers::pi, std::numbers::pi, "rad"},
    {"heading", &TrackPoint::heading, -2.0 * std::numbers::pi, 2.0 * std::numbers::pi, "rad"},
};

// The positions written this tick go to the link's frame handler. While the simulator runs at 50 frames a
// second or less, the work thread never waits for it: that tick's positions are dropped instead.
void lf_swapPositionBuffer() {
    std::unique_lock lock(g_simQueueMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        if (g_simFrameRate.load() <= 50.0f) {
            g_aircraftUpdates.write().clear();
            return;
        }
        lock.lock();
    }
    g_aircraftUpdates.swap();
    g_aircraftUpdates.write().clear();
}

}  // namespace

void gf_processTrafficBatch(TrafficClient& client, std::int32_t delaySeconds) {
    std::vector<TrafficRecord>& records = client.liveRecords;
    if (records.empty()) {
        client.latestRecordTime = 0.0;
        return;
    }
    std::vector<double> times;
    times.reserve(records.size());
    for (const TrafficRecord& r : records) times.push_back(r.time);
    std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2), times.end());
    const double median = times[times.size() / 2];
    const std::int64_t base = std::int64_t{delaySeconds} * 100 + gf_aiTick();
    for (TrafficRecord& r : records) {
        // Whole tenths toward the median: 0.25 s earlier plays 0.2 s earlier. The small allowance keeps a
        // difference like 200.0 - 200.2, which is a hair short of -0.2 in binary, at its two tenths.
        const double tenths = (r.time - median) * 10.0;
        const double whole = std::trunc(tenths + std::copysign(1e-6, tenths));
        r.playTick = static_cast<std::int32_t>(
            std::clamp<double>(static_cast<double>(base) + whole * 10.0, INT32_MIN, INT32_MAX));
    }
    {
        std::lock_guard lock(g_intakeMutex);
        if (delaySeconds != 30) {
            g_bufferedTraffic.insert(g_bufferedTraffic.end(), std::make_move_iterator(records.begin()),
                                     std::make_move_iterator(records.end()));
        } else if (g_aiRunning && g_receivedTraffic.empty()) {
            g_receivedTraffic.swap(records);
        }
    }
    records.clear();
}

void lf_handleUdpMessages() {
    try {
        // From the end of the batch, two a tick: a large batch spreads over many ticks.
        for (int i = 0; i < 2; ++i) {
            TrafficRecord record;
            {
                std::lock_guard lock(g_intakeMutex);
                if (g_receivedTraffic.empty()) return;
                record = std::move(g_receivedTraffic.back());
                g_receivedTraffic.pop_back();
            }
            lf_applyTrafficRecord(record);
        }
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "lf_handleUdpMessages", e.what()));
        throw;
    }
}

std::optional<std::string> gf_impossibleValue(const TrackPoint& point) {
    for (const PossibleRange& r : kPossibleRanges) {
        const double v = point.*r.value;
        // Written so that a NaN fails too.
        if (!(v >= r.lowest && v <= r.highest)) return fmt::format("{} {} {}", r.name, v, r.unit);
    }
    return std::nullopt;
}

void lf_applyTrafficRecord(const TrafficRecord& record) {
    if (const auto impossible = gf_impossibleValue(record)) {
        gf_logWarning(fmt::format("{:06X} {}: {} is no aircraft's, report not taken", record.hexId, record.callsign,
                                  *impossible));
        return;
    }
    for (LiveAc& ac : g_liveAc) {
        if (lf_applyIfSameAc(record, ac)) return;
    }
    if (!record.callsign.empty() && !g_liveAc.empty()) {
        // The same flight under a second hex id (a second receiver's address, a changed transponder).
        const bool known = std::any_of(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& ac) {
            return ac.callsign == record.callsign && ac.type == record.type;
        });
        if (known) return;
    }
    lf_newLiveAc(record);
}

bool lf_applyIfSameAc(const TrafficRecord& record, LiveAc& a) {
    if (record.hexId != a.hexId) return false;
    if (a.status == kAcRespawn || a.status == kAcRemovalRequested) return true;
    TrafficRecord r = record;
    const std::optional<Motion> motion = lf_readAgainstPositions(a, r);
    if (r.hexId == 0) return true;
    const double reportedAlt = r.alt;
    lf_heightAmidReports(a, r);
    lf_keepPlace(a, r, reportedAlt);
    if (record.speedGiven && !r.speedGiven) lf_placeAmidReports(a, r);
    if (!a.track.empty() && lf_implausible(r, a, motion)) return true;
    if (a.status == kAcNotInSim && lf_atParkElevation(r)) return true;
    if (!lf_respawn(a, r)) return true;
    a.lastRecordTime = r.time;
    decodeExisting(a, r);
    return true;
}

void lf_newLiveAc(const TrafficRecord& record) {
    TrafficRecord r = record;
    if (r.type.empty()) r.type = gf_regcodeField2(r.registration);
    if (!gf_isKnownModel(r.type)) {
        std::string fromRegistration = gf_regcodeField2(r.registration);
        if (fromRegistration.empty()) return;
        r.type = std::move(fromRegistration);
    }
    lf_addLiveAc(r);
}

void lf_addLiveAc(const TrafficRecord& record) {
    const ModelCategory category = gf_categoryOfModel(record.type);
    if (category > kCatRotorcraft || !gf_categorySwitchedOn(category)) return;
    if (lf_atParkElevation(record)) return;
    TrafficRecord r = record;
    r.callsignCopy = r.callsign;
    r.spare.clear();
    r.identityWord &= ~std::uint64_t{0xff};
    AiAc model = gf_makeModelRecord(r);
    model.hexId = r.hexId;
    gf_applyLiveTables(model);
    g_liveAc.emplace_back(static_cast<const TrackPoint&>(r), model, r.time);
    lf_keepPlace(g_liveAc.back(), r, r.alt);
}

void gf_setModelType(AiAc& ac, const std::string& type, std::mt19937& random) {
    ac.type = type;
    ac.category = gf_categoryOfModel(type);
    ac.halfSpan = gf_wingspanOfModel(type);
    gf_applyModelTables(ac, random);
    gf_applyLiveTables(ac);
}

void lf_updateAllLiveAc() {
    try {
        bool erase = false;
        for (LiveAc& ac : g_liveAc) erase |= updateLiveAc(ac);
        if (erase) std::erase_if(g_liveAc, [](const LiveAc& ac) { return ac.eraseRequested; });
        lf_swapPositionBuffer();
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "lf_updateAllLiveAc", e.what()));
    }
}
