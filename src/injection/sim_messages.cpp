#include "injection/sim_messages.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include <fmt/format.h>

#include "frame/log.h"
#include "injection/aircraft_lists.h"
#include "injection/removal.h"
#include "injection/sim_sink.h"
#include "simlink/link.h"

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
                if (ac.hexId == m.id) {
                    lf_onLiveAcCreated(ac, m);
                    break;
                }
            return;
        case kSimMsgStaticCreated:
            for (AiAc& ac : g_staticAc)
                if (ac.hexId == m.id) {
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
            if (m.id <= 10000)
                lf_dropRefused(g_staticAc, m.id);
            else
                lf_dropRefused(g_liveAc, m.id);
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


bool gf_dequeueCreation(std::deque<CreateAircraftRequest>& creations, const std::string& callsign,
                        std::uint32_t hexId) {
    const auto removed = std::erase_if(creations, [&](const CreateAircraftRequest& r) {
        return (!callsign.empty() && r.callsign == callsign) || (hexId != 0 && r.hexid == hexId);
    });
    return removed != 0;
}
