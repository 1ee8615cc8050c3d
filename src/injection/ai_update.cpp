#include "injection/ai_update.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <numbers>
#include <vector>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/services.h"
#include "injection/sim_sink.h"
#include "simlink/link.h"

std::function<void()> g_parkStaticStep;

namespace {

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

// Request 101: every aircraft within the traffic radius. Without a connection nothing is asked, so that a
// tick before the link is up does not count as a failed request.
void lf_requestAircraftInRange() {
    const std::uint32_t radius = static_cast<std::uint32_t>(g_trafficRangeMeters.load());
    if (gf_simSink().aircraftInRange(radius) != kSimOk) {
        gf_logWarning("SimConnect request ac within range fails");
        gf_countRequestError();
    }
}

// One removal per 10 ticks and one creation per 50 keep the simulator's load per frame small; a live
// creation takes its slot before a static one, and the static parking only moves on in a slot that no live
// creation used.
void lf_releasePacedRequests(std::int32_t tick) {
    if (tick % 10 != 0) return;
    if (!g_removals.empty()) {
        const std::uint32_t objectId = g_removals.front();
        g_removals.pop_front();
        gf_simSink().remove(objectId);
    }
    if (tick % 50 != 0) return;
    if (!g_liveCreations.empty()) {
        const CreateAircraftRequest request = std::move(g_liveCreations.front());
        g_liveCreations.pop_front();
        gf_simSink().create(request);
        return;
    }
    if (!g_staticCreations.empty()) {
        const CreateAircraftRequest request = std::move(g_staticCreations.front());
        g_staticCreations.pop_front();
        gf_simSink().create(request);
    }
    if (g_parkStaticStep) g_parkStaticStep();
}

}  // namespace

void gf_updateAI() {
    std::int32_t tick = 0;
    try {
        lf_takeBufferedTraffic();
        gf_SimCommands();
        lf_updateAllLiveAc();
        tick = g_aiTick.load();
        lf_releasePacedRequests(tick);
        lf_handleUdpMessages();
        // The newest first: an aircraft that just arrived is the one most likely still in range.
        if (!g_creationIds.empty()) {
            const std::uint32_t hexId = g_creationIds.back();
            g_creationIds.pop_back();
            lf_buildLiveCreation(hexId);
        }
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "gf_updateAI", e.what()));
        return;
    }
    try {
        if (tick % (g_flareActive != 0 ? 20 : 100) == 0 && !g_simFatalError.load()) lf_requestAircraftInRange();
        if (tick % 100 == 0) g_userPos = gf_getUserPosition();
        // Wraps after 248 days rather than overflowing.
        g_aiTick.store(static_cast<std::int32_t>(static_cast<std::uint32_t>(tick) + 1u));
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "gf_updateAI", e.what()));
    }
}

void lf_buildLiveCreation(std::uint32_t hexId) {
    const auto it = std::find_if(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& ac) { return ac.hexId == hexId; });
    if (it == g_liveAc.end()) return;  // removed since it was queued
    const LiveAc& ac = *it;
    if (ac.callsign.empty()) {
        gf_logWarning(fmt::format("{} {} objectid = 0?", "operator ()", gf_acText(ac)));
        return;
    }
    CreateAircraftRequest request;
    request.position.latitude = ac.latitude;
    request.position.longitude = ac.longitude;
    request.position.altitude = ac.altitude;
    request.position.pitch = ac.pitch * kDegreesPerRadian;
    request.position.bank = ac.bank * kDegreesPerRadian;
    request.position.heading = ac.heading * kDegreesPerRadian;
    request.position.onGround = ac.track.empty() || !ac.track.front().airborne ? 1u : 0u;
    request.position.airspeed = 0;
    request.callsign = ac.callsign;
    request.containerTitle = ac.title;
    request.hexid = ac.hexId;
    g_liveCreations.push_back(std::move(request));
}

std::size_t lf_takeBufferedTraffic() {
    std::vector<TrafficRecord> taken;
    {
        std::lock_guard lock(g_intakeMutex);
        if (g_bufferedTraffic.empty()) return 0;
        taken.swap(g_bufferedTraffic);
    }
    // Oldest snapshot first, as they arrived.
    for (const TrafficRecord& record : taken) lf_applyTrafficRecord(record);
    return taken.size();
}

void gf_setAiTick(std::int32_t tick) { g_aiTick.store(tick); }

void gf_runAiTicks(std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) gf_updateAI();
}
