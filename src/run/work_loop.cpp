#include "run/work_loop.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include <fmt/format.h>

#include "airports/services.h"
#include "frame/display.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "run/subsystems.h"
#include "run/timing.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "frame/timeutil.h"
#include "injection/services.h"
#include "liveries/services.h"
#include "platform/timer_resolution.h"
#include "platform/ui.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"
#include "window/commands.h"
#include "window/requests.h"
#include "window/status_line.h"

std::atomic<std::int32_t> g_seconds{0};
std::atomic<bool> g_flightPaused{false};
std::int32_t g_pauseTicks = 100;
std::atomic<bool> g_renewalCollecting{false};

namespace {

constexpr std::chrono::milliseconds kTick{10};

// The user position at which the static aircraft were last compared with the user aircraft.
double g_lastStaticCheckLatitude = 0.0;
double g_lastStaticCheckLongitude = 0.0;

// Timers log their own name with what went wrong and pass it on; mainLoop's handler decides the rest.
template <class F>
void lf_timer(const char* name, F&& work) {
    try {
        work();
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", name, e.what()));
        throw;
    }
}

// A static aircraft shows the flight's callsign with a '*' at its end; a live one shows it bare.
void lf_removeDuplicateStatics() {
    for (const LiveAc& live : g_liveAc) {
        if (!live.onGround || live.status != kAcInSim) continue;
        for (AiAc& st : g_staticAc) {
            if (st.status != kAcInSim) continue;
            const bool sameCallsign = !live.callsign.empty() && gf_matchUpToStar(st.callsign, live.callsign);
            const bool sameRegistration = !live.registration.empty() && st.registration == live.registration;
            if (sameCallsign || sameRegistration) {
                removeAircraftFromSim(st);
                break;
            }
        }
    }
}

void lf_checkOneDuplicate() {
    if (g_spawnedHexIds.empty() || g_liveAc.empty()) return;
    const std::uint32_t hexid = g_spawnedHexIds.front();
    g_spawnedHexIds.pop_front();
    const auto live = std::find_if(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& a) { return a.hexId == hexid; });
    if (live == g_liveAc.end()) return;
    const Subsystems& s = gf_subsystems();
    // The low byte of the identity word remembers that the coupled-callsign search was made.
    if ((live->identityWord & 0xFF) == 0) {
        s.searchForCoupledCs(g_weekSlotNow.load(), *live);
        live->identityWord |= 1;
    }
    if (live->callsign.empty()) return;
    const DuplicateContext context{*live, live->callsign.substr(0, live->callsign.size() - 1), live->onGround};
    for (AiAc& st : g_staticAc) {
        if (s.checkDuplicates(context, st)) {
            removeAircraftFromSim(st);
            return;
        }
    }
}

void lf_avoidCollisionsWithUser() {
    const Subsystems& s = gf_subsystems();
    if (!g_userOnGround.load()) {
        // The airborne check goes by lines of flight and heights, not by the wing spans.
        if (!g_COLLISION_USER_AIR.value()) return;
        for (LiveAc& ac : g_liveAc) {
            if (s.removeLiveConflictingWithUser(0, ac)) return;
        }
        return;
    }
    // Without the user's wing span every distance test on the ground would be against a made-up size.
    if (!g_COLLISION_USER_GND.value() || !gf_userHalfWingSpanKnown()) return;
    const double userSpan = g_userHalfWingSpan.load();
    for (LiveAc& ac : g_liveAc) {
        if (!ac.onGround) continue;
        const double d = gf_distanceNM(g_userPos.latitude, g_userPos.longitude, ac.latitude, ac.longitude);
        if ((userSpan + ac.halfSpan) * 1.15 >= d && ac.status == kAcInSim) {
            removeAircraftFromSim(ac);
            return;
        }
    }
    if (g_userPos.latitude == g_lastStaticCheckLatitude && g_userPos.longitude == g_lastStaticCheckLongitude) return;
    g_lastStaticCheckLatitude = g_userPos.latitude;
    g_lastStaticCheckLongitude = g_userPos.longitude;
    for (AiAc& st : g_staticAc) {
        const double d = gf_distanceNM(g_userPos.latitude, g_userPos.longitude, st.standLat, st.standLon);
        if ((userSpan + st.halfSpan) * 1.1 >= d && st.status == kAcInSim) {
            removeAircraftFromSim(st);
            return;
        }
    }
}

void lf_avoidLiveParkedCollisions() {
    if (!g_COLLISION_LIVE_PARKED_GND.value() || g_staticAc.empty()) return;
    const Subsystems& s = gf_subsystems();
    for (LiveAc& ac : g_liveAc) {
        if (!ac.onGround || (ac.state != kMoveFollowing && ac.state != kMoveToStand)) continue;
        if (ac.latitude == ac.collisionCheckLat && ac.longitude == ac.collisionCheckLon) continue;
        if (ac.status != kAcInSim || ac.takeOffRoll || ac.braking) continue;
        ac.collisionCheckLat = ac.latitude;
        ac.collisionCheckLon = ac.longitude;
        LiveAc copy;
        lf_copyLiveAc(copy, ac);
        bool removed = false;
        s.removeStaticForCollisionAvoidance(removed, 0, copy);
    }
}

void lf_handleBlockRequest() {
    if (!g_blockRequest.load()) return;
    const std::string blocked = g_BLOCK_CALLSIGN.value();
    if (!blocked.empty()) {
        const auto it = std::find_if(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& ac) {
            return ac.callsign == blocked && ac.status == kAcInSim;
        });
        if (it != g_liveAc.end()) removeAircraftFromSim(*it);
    }
    g_blockRequest = false;
}

// A simulator time outside the calendar is said once a run.
bool g_simTimeRefusalLogged = false;

void lf_followSimTime() {
    if (!g_rtProfessional.load() || !g_SIM_TIME.value()) return;
    const std::int64_t t = g_simEpochTime.load();
    const std::int64_t previous = g_simTimeReference.load();
    // Only calendar times are differenced: two arbitrary 64-bit times could overflow.
    if (!gf_isZuluEpoch(t) || !gf_isZuluEpoch(previous)) {
        if (!g_simTimeRefusalLogged) {
            g_simTimeRefusalLogged = true;
            gf_logLine(fmt::format("! Simulator time out of range: {} (reference {})", t, previous));
        }
        return;
    }
    if (std::llabs(t - previous) >= 30) {
        const std::int64_t minutes = (static_cast<std::int64_t>(gf_now()) - t) / 60;
        lf_setTimeShift(minutes < 1 ? 0 : static_cast<std::int32_t>(std::min<std::int64_t>(minutes, INT32_MAX)),
                        false);
    }
    g_simTimeReference = t;
}

}  // namespace

void lf_refreshAirborneCount() {
    const auto airborne = static_cast<std::uint64_t>(std::count_if(g_liveAc.begin(), g_liveAc.end(), [](const LiveAc& ac) {
        return ac.status == kAcInSim && ac.state != kMoveParked;
    }));
    gf_refreshAirborneCount(airborne, gf_countParkedLiveAc(true), lf_countStaticAc(true));
}

void lf_recheckReservedStand() {
    lf_timer("lf_recheckReservedStand", [] {
        if (!g_reReadRequest.load() || g_parkingBusy.load() > 0) return;
        std::string message;
        if (gf_subsystems().checkReservedStand(true, message)) gf_showMessage(message, true);
        ui::backend().setEnabled(g_Re_read.controlId, true);
        ui::backend().setEnabled(g_DESTINATION.controlId, true);
        g_reReadRequest = false;
    });
}

void lf_handleWorkRequests() {
    const Subsystems& s = gf_subsystems();
    for (const WorkRequest& r : gf_takeWorkRequests()) {
        switch (r.kind) {
            case WorkRequestKind::NavLights:
                for (const AiAc& ac : g_staticAc) {
                    if (ac.status == kAcInSim) gf_setNavLights(ac.objectId, r.on ? 1 : 0);
                }
                for (const LiveAc& ac : g_liveAc) {
                    if (ac.status == kAcInSim && ac.state == kMoveParked) gf_setNavLights(ac.objectId, r.on ? 1 : 0);
                }
                break;
            case WorkRequestKind::RemoveAllAircraft:
                s.removeAllLiveAc();
                s.removeAllStaticAc();
                break;
            case WorkRequestKind::EnforceMaxLive:
                if (r.on) g_maxLiveInForce = r.value;
                s.enforceMaxLive();
                break;
            case WorkRequestKind::SetParkAirport:
                if (const auto airport = gf_findAirport(r.airport)) lf_setParkAirport(r.airport, *airport);
                break;
            case WorkRequestKind::ClearLiveryDatabase:
                // Aircraft of this run may still hold livery titles: the next build empties the database.
                gf_requestLiveryRebuild();
                break;
            case WorkRequestKind::AutoTrafficRange:
                if (g_AUTO_RANGE.value()) s.autoTrafficRange();
                break;
        }
    }
}

void lf_workSimNotRunning() {
    lf_timer("lf_workSimNotRunning", [] {
        const Subsystems& s = gf_subsystems();
        if (!g_flightPaused.load()) {
            gf_setAiRunning(false);
            g_flightPaused = true;
            g_pauseTicks = 100;
            {
                std::lock_guard lock(g_simQueueMutex);
                g_aircraftUpdates.halves[0].clear();
                g_aircraftUpdates.halves[1].clear();
            }
            gf_logLine(fmt::format("{} Flight not running", gf_clockTime()));
        }
        s.simCommands();
        --g_pauseTicks;
        if (g_pauseTicks % 100 == 0) {
            lf_recheckReservedStand();
            s.setTrafficBox();
        }
        if (g_pauseTicks < 1) {
            g_pauseTicks = 100;
            lf_refreshAirborneCount();
            g_weekSlotNow = gf_weekSlot();
        }
    });
}

void lf_everySecond() {
    lf_timer("lf_everySecond", [] {
        const Subsystems& s = gf_subsystems();
        if (g_flightPaused.load()) {
            g_flightPaused = false;
            gf_logLine(fmt::format("{} Flight resumed", gf_clockTime()));
            gf_setAiRunning(true);
        }
        gf_tickDisplaySeconds();
        lf_refreshAirborneCount();
        // Every second, so that a failed poll shows on "Weather" and "Traffic" within seconds; it repaints only
        // what changed.
        s.refreshConnectionIndicators();
        g_weekSlotNow = gf_weekSlot();
        lf_followSimTime();
        ++g_seconds;
        lf_checkOneDuplicate();
        if (g_removeAllStaticRequest.load()) {
            s.removeAllStaticAc();
            g_removeAllStaticRequest = false;
            if (!g_INITIAL_LOAD_ONLY.value()) {
                g_INITIAL_LOAD_ONLY.set(true);
                gf_showCheckState(g_INITIAL_LOAD_ONLY);
            }
        }
        lf_avoidCollisionsWithUser();
        lf_avoidLiveParkedCollisions();
        lf_handleBlockRequest();
    });
}

void lf_every5Seconds() {
    lf_timer("lf_every5Seconds", [] {
        const Subsystems& s = gf_subsystems();
        g_trafficClient.queryLatitude = g_userPos.latitude;
        g_trafficClient.queryLongitude = g_userPos.longitude;
        s.setTrafficBox();
        if (!g_reservedStand.empty()) s.removeAcAtReservedStand();
        lf_recheckReservedStand();
        const std::int32_t n = g_seconds.load();
        if (n % 15 == 0) lf_every15Seconds(n);
    });
}

void lf_every15Seconds(std::int32_t n) {
    lf_timer("lf_every15Seconds", [n] {
        const Subsystems& s = gf_subsystems();
        if (g_parkingRenewalRequest.load()) {
            if (!g_renewalCollecting.load()) {
                g_renewalCollecting = true;
                s.disableParkingControls();
                g_collectSeenTraffic = true;
            } else {
                g_renewalCollecting = false;
                gf_clearError();
                if (!g_parkAirportCode.empty() && !g_parkPositions.empty()) {
                    const std::int8_t mode = g_parkingModeChanged.exchange(kParkingModeUnchanged);
                    s.adjustParking(mode == 1);
                } else {
                    // The first pass took the parking controls away; with nothing to adjust they come back
                    // here, or they would stay disabled for the rest of the run.
                    s.enableParkingControls();
                }
                g_parkingRenewalRequest = false;
            }
        }
        if (n % 30 == 0) lf_every30Seconds(n);
    });
}

void lf_every30Seconds(std::int32_t n) {
    lf_timer("lf_every30Seconds", [n] {
        const Subsystems& s = gf_subsystems();
        if (g_clearUnmatchedRequest.load()) {
            if (!g_unmatchedAircraft.empty()) g_unmatchedAircraft.clear();
            g_clearUnmatchedRequest = false;
        }
        if (g_AUTO_RANGE.value()) s.autoTrafficRange();
        if (g_readerError.load()) {
            gf_showError(gf_readerErrorText("1001: RT error"));
            gf_requestExit(ExitReason::SystemError, 0);
        }
        if (n % 60 != 0) return;
        const std::int32_t m = n / 60;
        g_nextRenewalMinutes = (m / 20 + 1) * 20 - m;
        ui::backend().invalidate(kMiddleBand);
        if (n % 1200 != 0) return;
        s.logUnmatchedAircraft();
        if (g_standFileLoaded.load() && (!g_INITIAL_LOAD_ONLY.value() || g_RT_PARKTRAFFIC_ONLY.value()) &&
            !g_parkingRenewalRequest.load()) {
            g_parkingRenewalRequest = true;
        }
        if (n % 86400 != 0) return;
        g_seconds = 0;
        s.liveryMatchingSummary();
        g_liveryByHexid.clear();
    });
}

bool lf_workZNTV() {
    bool go = true;
    lf_timer("lf_workZNTV", [&go] {
        // Looked at first, on every tick: a paused simulator must not keep the loop from ending.
        if (gf_exitOrStopRequested()) {
            go = false;
            return;
        }
        lf_handleWorkRequests();
        if (!g_flightRunning.load()) {
            lf_workSimNotRunning();
            return;
        }
        gf_subsystems().updateAI();
        bool tick = true;
        if (!g_secondTick.compare_exchange_strong(tick, false)) return;
        lf_everySecond();
        if (gf_exitOrStopRequested()) {
            go = false;
            return;
        }
        const std::int32_t n = g_seconds.load();
        if (n % 15 == 0) {
            lf_every5Seconds();
            return;
        }
        if ((n % 16 == 0 || g_parkCheckWaiting) && !g_renewalCollecting.load())
            gf_subsystems().checkForParkAirportUpdates(false);
        if (n % 61 == 0 && !g_staticAc.empty()) lf_removeDuplicateStatics();
    });
    return go;
}

void mainLoop(std::stop_token stop) {
    // Ticks whose own work outlasted the tick: there the loop fell behind its grid. Said once, at the end.
    std::uint64_t ticks = 0, slowTicks = 0;
    try {
        const Subsystems& s = gf_subsystems();
        s.checkForParkAirportUpdates(true);
        s.refreshConnectionIndicators();
        g_seconds = 0;
        auto next = std::chrono::steady_clock::now() + kTick;
        g_weekSlotNow = gf_weekSlot();
        gf_setAiRunning(true);
        platform::TimerResolutionGuard resolution(1);
        while (!stop.stop_requested()) {
            const auto began = std::chrono::steady_clock::now();
            const bool go = lf_workZNTV();
            ++ticks;
            if (std::chrono::steady_clock::now() - began > kTick) ++slowTicks;
            if (!go) break;
            // To a deadline, so that the work of a tick does not stretch the period.
            if (next - std::chrono::steady_clock::now() >= std::chrono::milliseconds(1)) {
                gf_pauseUntil(next, stop, WakeOn::StopToken);
            }
            // The simulator's second re-anchors the grid of ticks.
            if (g_secondTick.load()) next = std::chrono::steady_clock::now();
            next += kTick;
        }
    } catch (...) {
        lf_logException("mainLoop");
    }
    gf_logLine(fmt::format("{} of {} ticks over 10 ms", slowTicks, ticks));
}

void gf_resetWorkLoopState() {
    g_seconds = 0;
    g_flightPaused = false;
    g_pauseTicks = 100;
    g_renewalCollecting = false;
    g_lastStaticCheckLatitude = 0.0;
    g_lastStaticCheckLongitude = 0.0;
    g_simTimeRefusalLogged = false;
}
