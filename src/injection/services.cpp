#include "injection/services.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <numbers>
#include <stdexcept>
#include <unordered_map>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"
#include "window/requests.h"

#include <cstdint>

std::mutex g_intakeMutex;
std::atomic<bool> g_aiRunning{false};
std::vector<TrafficRecord> g_receivedTraffic;
std::vector<TrafficRecord> g_bufferedTraffic;

namespace {

std::mutex g_simMessagesMutex;
std::vector<SimMessage> g_simMessages;

}  // namespace

namespace {

void lf_createFlightPlan(LiveAc& ac) {
    if (ac.origin.empty() || ac.destination.empty()) return;
    const std::filesystem::path path = g_flightPlanFolder / gf_flightPlanFileName(ac.objectId);
    bool ok = gf_writeFlightPlan(path, ac);
    if (ok) {
        std::lock_guard lock(g_simQueueMutex);
        ok = gf_withSimConnect([&](SimConnectHandle h) {
                 return gf_setAiFlightPlan(h, ac.objectId, path.string().c_str());
             }) == kSimOk;
    }
    if (!ok) gf_logLine(fmt::format("{} creating a flight plan failed", ac.callsign));
}

// For now a created aircraft is in the simulator at once; the post-creation commands come with the
// injection itself.
bool lf_onLiveAcCreated(LiveAc& ac, const SimMessage& m) {
    if (m.objectId < 3) return false;
    ac.objectId = m.objectId;
    ac.status = kAcInSim;
    lf_createFlightPlan(ac);
    SimResult r;
    {
        std::lock_guard lock(g_simQueueMutex);
        r = gf_withSimConnect([&](SimConnectHandle h) { return gf_requestStaticData(h, ac.objectId); });
    }
    if (r != kSimOk) {
        gf_logWarning("SimConnect request StaticCG fails");
        gf_countRequestError();
    }
    return true;
}

void lf_onObjectRemoved(std::uint32_t objectId) { gf_removeFlightPlan(objectId); }

// The refused aircraft leaves its list: the last record takes its place.
template <typename Ac>
void lf_dropRefused(std::vector<Ac>& list, std::uint32_t hexid) {
    const auto it = std::find_if(list.begin(), list.end(), [&](const Ac& ac) { return ac.hexId == hexid; });
    if (it == list.end()) return;
    const Ac refused = *it;
    *it = std::move(list.back());
    list.pop_back();
    gf_liveryCouldNotBeCreated(refused);
}

void lf_handleSimMessage(const SimMessage& m) {
    switch (m.type) {
        case kSimMsgLiveCreated:
            for (LiveAc& ac : g_liveAc)
                if (ac.hexId == m.second) {
                    lf_onLiveAcCreated(ac, m);
                    break;
                }
            return;
        case kSimMsgStaticCreated:
            for (AiAc& ac : g_staticAc)
                if (ac.hexId == m.second) {
                    ac.objectId = m.objectId;
                    ac.status = kAcInSim;
                    break;
                }
            return;
        case kSimMsgObjectRemoved:
            lf_onObjectRemoved(m.objectId);
            return;
        case kSimMsgCreationFailed:
            // Static aircraft have ids up to 10000, live ones their hex id above it.
            if (m.second <= 10000)
                lf_dropRefused(g_staticAc, m.second);
            else
                lf_dropRefused(g_liveAc, m.second);
            return;
        default:
            return;
    }
}

}  // namespace

void gf_SimCommands() {
    gf_handleLinkRequests();
    // A message that throws (the refusal that is one too many) must not cost the others behind it, nor come
    // back next tick: each is handled once, and the first failure is passed on afterwards.
    std::exception_ptr failure;
    for (const SimMessage& m : gf_takeSimMessages()) {
        try {
            lf_handleSimMessage(m);
        } catch (const std::exception& e) {
            gf_logLine(fmt::format("{}: {}", "gf_SimCommands", e.what()));
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void gf_postSimMessage(const SimMessage& message) {
    std::lock_guard lock(g_simMessagesMutex);
    g_simMessages.push_back(message);
}

std::vector<SimMessage> gf_takeSimMessages() {
    std::lock_guard lock(g_simMessagesMutex);
    std::vector<SimMessage> taken;
    taken.swap(g_simMessages);
    return taken;
}

GeoPosition gf_destinationPoint(double latitude, double longitude, double bearing, double distanceFeet) {
    constexpr double kRad = std::numbers::pi / 180.0;
    const double delta = distanceFeet * 4.787404208238998e-8;  // angular distance: feet over the radius
    const double phi1 = latitude * kRad;
    const double lambda1 = longitude * kRad;
    const double sinPhi2 = std::sin(phi1) * std::cos(delta) + std::cos(phi1) * std::sin(delta) * std::cos(bearing);
    const double phi2 = std::asin(sinPhi2);
    const double lambda2 = lambda1 + std::atan2(std::sin(bearing) * std::sin(delta) * std::cos(phi1),
                                                std::cos(delta) - std::sin(phi1) * sinPhi2);
    double lon = lambda2 / kRad;
    lon = std::fmod(lon + 540.0, 360.0) - 180.0;
    return {phi2 / kRad, lon};
}

void gf_setAiRunning(bool running) {
    std::lock_guard lock(g_intakeMutex);
    g_aiRunning = running;
}

void removeAircraftFromSim(AiAc& ac) {
    ac.status = kAcRemovalRequested;
    if (ac.objectId != 0) g_removals.push_back(ac.objectId);
}

void gf_removeAllLiveAc() {
    for (LiveAc& ac : g_liveAc) {
        if (ac.status == kAcInSim) removeAircraftFromSim(ac);
    }
    g_liveAc.clear();
}

void gf_removeAllStaticAc() {
    for (AiAc& ac : g_staticAc) {
        if (ac.status == kAcInSim) removeAircraftFromSim(ac);
    }
    g_staticAc.clear();
}

void gf_removeAcAtReservedStand() {}

bool gf_checkDuplicates(const std::string&, bool, const AiAc&) { return false; }

bool lf_removeLiveConflictingWithUser(int, LiveAc&) { return false; }

void lf_copyLiveAc(LiveAc& destination, const LiveAc& source) { destination = source; }

void lf_removeStaticForCollisionAvoidance(bool& removed, int, LiveAc&) { removed = false; }

bool gf_isRealPosition(double latitude, double longitude) {
    return !(latitude >= 0.0 && latitude <= 0.0009 && longitude >= 0.0 && longitude <= 0.05);
}

double gf_distanceNM(double latitude1, double longitude1, double latitude2, double longitude2) {
    constexpr double kRadius = 10800.0 / std::numbers::pi;
    constexpr double kRad = std::numbers::pi / 180.0;
    const double dLat = (latitude2 - latitude1) * kRad;
    const double dLon = (longitude2 - longitude1) * kRad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(latitude1 * kRad) * std::cos(latitude2 * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2.0 * kRadius * std::atan2(std::sqrt(a), std::sqrt(1.0 - a));
}

std::uint64_t gf_countParkedLiveAc(bool) {
    return static_cast<std::uint64_t>(
        std::count_if(g_liveAc.begin(), g_liveAc.end(), [](const LiveAc& ac) { return ac.state == kMoveParked; }));
}
