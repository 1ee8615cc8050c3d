#include "injection/sim_messages.h"

#include <algorithm>
#include <array>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <numbers>
#include <optional>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/timeutil.h"
#include "injection/aircraft_lists.h"
#include "injection/flight_phases.h"
#include "injection/removal.h"
#include "injection/sim_sink.h"
#include "injection/stand_hooks.h"
#include "simlink/flight_plan.h"
#include "simlink/link.h"
#include "simlink/refused_liveries.h"

namespace {

// The simulator link's dispatch and the traffic reader post here; the work thread takes the whole list
// under the lock and handles the messages after releasing it, so no other lock is ever taken while it is
// held: there is no lock order to keep.
std::mutex g_simMessagesMutex;
std::vector<SimMessage> g_simMessages;

// The post-creation commands: copies of the creation messages, followed over their first 200 ticks. Only the
// work thread touches them, so they take no lock.
std::vector<SimMessage> g_postCreationCommands;
// The user error of too many refused liveries reached the error line in this run.
bool g_userErrorShown = false;

constexpr std::int32_t kFirstToggleTick = 50;
constexpr std::int32_t kSecondToggleTick = 100;
constexpr std::int32_t kCommandTicks = 200;
constexpr std::int32_t kCommandDone = -1;

constexpr double kDegToRad = std::numbers::pi / 180.0;

LiveAc* lf_liveByHexId(std::uint32_t hexId) {
    const auto it = std::find_if(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& a) { return a.hexId == hexId; });
    return it == g_liveAc.end() ? nullptr : &*it;
}

LiveAc* lf_liveByObjectId(std::uint32_t objectId) {
    if (objectId == 0) return nullptr;  // 0 is every aircraft without an object
    const auto it =
        std::find_if(g_liveAc.begin(), g_liveAc.end(), [&](const LiveAc& a) { return a.objectId == objectId; });
    return it == g_liveAc.end() ? nullptr : &*it;
}

AiAc* lf_staticByHexId(std::uint32_t hexId) {
    const auto it =
        std::find_if(g_staticAc.begin(), g_staticAc.end(), [&](const AiAc& s) { return s.hexId == hexId; });
    return it == g_staticAc.end() ? nullptr : &*it;
}

void lf_eraseStaticAc(AiAc& s) {
    AiAc& last = g_staticAc.back();
    if (&s != &last) s = std::move(last);
    g_staticAc.pop_back();
}

// The object goes to the paced removals, once.
void lf_queueObjectRemoval(std::uint32_t objectId) {
    if (objectId == 0) return;
    if (std::find(g_removals.begin(), g_removals.end(), objectId) == g_removals.end()) g_removals.push_back(objectId);
}

// A removal asked while the creation was under way is carried out now that the object is known.
void lf_removeCreatedObject(AiAc& ac) {
    ac.status = kAcRemovalRequested;
    ac.removeWhenCreated = false;
    lf_queueObjectRemoval(ac.objectId);
}

// Asked while the aircraft had no object yet; a removal asked after the object was known is already queued.
bool lf_removalPending(const AiAc& ac) { return ac.removeWhenCreated; }

// A failed request answers an error code with the high bit set.
bool lf_failed(SimResult r) { return static_cast<std::int32_t>(r) < 0; }

bool lf_onGroundAtFirstPoint(const LiveAc& ac) { return ac.track.empty() || !ac.track.front().airborne; }

void lf_sendEvent(std::uint32_t objectId, std::uint32_t eventId, std::uint32_t data) {
    gf_sendClientEvent(objectId, eventId, data);
}

void lf_createFlightPlan(LiveAc& ac) {
    if (ac.origin.empty() || ac.destination.empty()) return;
    const std::filesystem::path path = g_flightPlanFolder / gf_flightPlanFileName(ac.objectId);
    ac.flightPlanWritten =
        gf_writeFlightPlan(path, ac) && gf_simSink().flightPlan(ac.objectId, path.string()) == kSimOk;
    if (!ac.flightPlanWritten) gf_logWarning(fmt::format("{} creating a flight plan failed", gf_acCsRegText(ac)));
}

bool lf_onLiveAcCreated(LiveAc& ac, const SimMessage& m) {
    if (m.objectId < 3) return false;
    ac.objectId = m.objectId;
    ac.heightAboveGround = m.b;
    if (lf_onGroundAtFirstPoint(ac)) {
        ac.onGround = true;
        ac.altitudeStep = 0.0;
        if (ac.state == kMoveParked) {
            ac.placedSlot = g_weekSlotNow.load();
            if (g_LOG.value())
                gf_logLine(fmt::format("{:8}: {:8} parks", gf_standName(ac.standIndex), ac.callsign));
            gf_dropParkingEntriesOfStand(ac.standIndex);
        }
        ac.rateTicks = 1;
    }
    lf_createFlightPlan(ac);
    if (lf_failed(gf_simSink().staticData(ac.objectId))) {
        gf_logWarning("SimConnect request StaticCG fails");
        gf_countRequestError();
    }
    return true;
}

bool lf_onStaticAcParked(SimMessage& c, AiAc& s) {
    if (c.id != s.hexId || c.objectId != s.objectId) return false;
    c.tickCount = kCommandDone;
    if (lf_removalPending(s)) {
        lf_removeCreatedObject(s);
        return true;
    }
    if (s.status == kAcRemovalRequested) return true;  // its removal is on its way
    if (s.status == kAcCreationQueued) s.status = kAcInSim;
    lf_setParkedStateInSim(s);
    if (g_LOG.value()) gf_logLine(fmt::format("{:8}: {:8} parked", gf_standName(s.standIndex), s.callsign));
    return true;
}

void lf_onObjectRemoved(std::uint32_t objectId) {
    if (LiveAc* ac = lf_liveByObjectId(objectId)) {
        if (ac->status == kAcRespawn) {
            // Created again later with a new object; the record and its livery stay.
            ac->status = kAcNotInSim;
            ac->throttleState = 5;
            ac->flapsState = 4;
            ac->objectId = 0;
            return;
        }
        if (ac->flightPlanWritten) {
            // A plan file that cannot be deleted must not keep a record of an object that is gone.
            try {
                if (!gf_removeFlightPlan(objectId))
                    gf_logWarning(fmt::format("{} flight plan {} could not be deleted", gf_acCsRegText(*ac),
                                              gf_flightPlanFileName(objectId).string()));
            } catch (const std::exception& e) {
                gf_logWarning(fmt::format("{}: {}", "lf_onObjectRemoved", e.what()));
            }
        }
        lf_eraseLiveAc(*ac);
        return;
    }
    if (objectId == 0) return;
    const auto it =
        std::find_if(g_staticAc.begin(), g_staticAc.end(), [&](const AiAc& s) { return s.objectId == objectId; });
    if (it != g_staticAc.end()) lf_eraseStaticAc(*it);
}

bool lf_removeBlocked(std::uint32_t hexId, LiveAc& ac) {
    if (ac.hexId != hexId) return false;
    if (ac.status == kAcNotInSim) {
        gf_logLine(fmt::format("{} will be removed from buffer while blocked", gf_acText(ac)));
        ac.eraseRequested = true;
    } else if (ac.status == kAcInSim) {
        gf_logLine(fmt::format("{} removed from simulator immediately while blocked", gf_acText(ac)));
        removeAircraftFromSim(ac);
    }
    return true;
}

// A creation message for an aircraft: false when no post-creation command is to follow.
template <typename Ac>
bool lf_takeCreatedObject(Ac* ac, const SimMessage& m) {
    if (m.objectId < 3) return false;  // not an object id: the aircraft keeps waiting
    if (ac == nullptr) {
        // The aircraft went while its creation was under way: its object goes too.
        lf_queueObjectRemoval(m.objectId);
        return false;
    }
    if (ac->objectId == m.objectId) return false;  // told twice: its commands already run
    if (ac->objectId != 0) {
        // A second object for an aircraft that has one: the record keeps its first, the second would stand in
        // the simulator for the rest of the run with nobody to move or remove it.
        gf_logWarning(fmt::format("{} created twice: object {} kept, object {} removed", gf_acText(*ac),
                                  ac->objectId, m.objectId));
        lf_queueObjectRemoval(m.objectId);
        return false;
    }
    if (ac->status == kAcRemovalRequested) {
        ac->objectId = m.objectId;
        lf_removeCreatedObject(*ac);
        return false;
    }
    return true;
}

void lf_onLiveCreatedMessage(const SimMessage& m) {
    LiveAc* ac = lf_liveByHexId(m.id);
    if (!lf_takeCreatedObject(ac, m)) return;
    if (lf_onLiveAcCreated(*ac, m)) g_postCreationCommands.push_back(m);
}

void lf_onStaticCreatedMessage(const SimMessage& m) {
    AiAc* s = lf_staticByHexId(m.id);
    if (!lf_takeCreatedObject(s, m)) return;
    // Known at once, so that a removal asked during the post-creation ticks reaches the object.
    s->objectId = m.objectId;
    g_postCreationCommands.push_back(m);
}

void lf_onAircraftReportMessage(const SimMessage& m) {
    LiveAc* ac = lf_liveByObjectId(m.objectId);
    if (ac == nullptr) return;
    if (m.id != 0 && !ac->onGround && ac->rateTicks <= 1) lf_onAircraftReport(*ac);
    ac->heightAboveGround = m.b;
    // Held on the ground while it is there or still rotating; once it lifts off the climb moves it.
    const bool rotating = ac->state == kMoveTakeOff && ac->rateTicks > 1;
    if (ac->onGround || rotating) ac->altitude = ac->staticCgHeight + m.a;
}

void lf_onStaticDataMessage(const SimMessage& m) {
    LiveAc* ac = lf_liveByObjectId(m.objectId);
    if (ac == nullptr) return;
    if (m.a >= 1.0 && m.a <= 35.0)
        ac->staticCgHeight = m.a;
    else if (g_LOG.value())
        gf_logWarning(fmt::format("{}: static CG {:.1F}ft wrong?", gf_acText(*ac), m.a));
    ac->staticPitch = (m.b <= -1.0 * kDegToRad || m.b > 2.5 * kDegToRad) ? 0.7 * kDegToRad : m.b;
}

// Erases the record of a creation that came to nothing and frees the stand a live one was meant for; the
// erased record, when there was one that `which` accepts.
std::optional<AiAc> lf_eraseUncreated(std::uint32_t id, const std::function<bool(const AiAc&)>& which) {
    if (id <= kMaxStaticHexId) {
        AiAc* s = lf_staticByHexId(id);
        if (s == nullptr || !which(*s)) return std::nullopt;
        AiAc gone = *s;
        lf_eraseStaticAc(*s);
        return gone;
    }
    LiveAc* ac = lf_liveByHexId(id);
    if (ac == nullptr || !which(*ac)) return std::nullopt;
    AiAc gone = *ac;
    gf_freeStandOf(gone.standIndex, gone.hexId);
    lf_eraseLiveAc(*ac);
    return gone;
}

void lf_onCreationFailed(std::uint32_t id) {
    const auto refused = lf_eraseUncreated(id, [](const AiAc&) { return true; });
    // May throw the user error; the record is gone by then.
    if (refused) gf_liveryCouldNotBeCreated(*refused);
}

// The link gave up waiting for the simulator's answer. Kept, the record would wait in its creation for the
// rest of the run and hold its hex id, so that the aircraft never came back: it goes, and the next report
// of the aircraft creates it anew, with the livery it had.
void lf_onCreationUnanswered(std::uint32_t id) {
    const auto gone = lf_eraseUncreated(id, [](const AiAc& ac) {
        // Only a creation still waiting: an aircraft with an object was answered after all.
        const bool waiting =
            ac.status == kAcCreationQueued || (ac.status == kAcRemovalRequested && ac.removeWhenCreated);
        return waiting && ac.objectId == 0;
    });
    if (gone) gf_logWarning(fmt::format("{} not created by the simulator in time, given up", gf_acText(*gone)));
}

void lf_handleSimMessage(const SimMessage& m) {
    switch (m.type) {
        case kSimMsgLiveCreated:
            lf_onLiveCreatedMessage(m);
            return;
        case kSimMsgStaticCreated:
            lf_onStaticCreatedMessage(m);
            return;
        case kSimMsgObjectRemoved:
            lf_onObjectRemoved(m.objectId);
            return;
        case kSimMsgAircraftReport:
            lf_onAircraftReportMessage(m);
            return;
        case kSimMsgStaticData:
            lf_onStaticDataMessage(m);
            return;
        case kSimMsgBlocked:
            for (LiveAc& ac : g_liveAc)
                if (lf_removeBlocked(m.id, ac)) break;
            return;
        case kSimMsgCreationFailed:
            lf_onCreationFailed(m.id);
            return;
        case kSimMsgCreationUnanswered:
            lf_onCreationUnanswered(m.id);
            return;
        default:
            return;
    }
}

// The end of a live command: the aircraft's state in the simulator, or the removal asked meanwhile.
void lf_finishLiveCommand(LiveAc& ac) {
    if (lf_removalPending(ac)) {
        lf_removeCreatedObject(ac);
        return;
    }
    // A removal (4), a respawn (3) or an aircraft left to the buffer (0) waits for its removal instead.
    if (ac.status == kAcCreationQueued || ac.status == kAcInSim) lf_setFlyingStateInSim(ac);
}

}  // namespace

void gf_allLightsToggle(bool& done, SimMessage& c) {
    if (c.tickCount < 0) return;
    const bool live = c.type == kSimMsgLiveCreated;
    // The aircraft of the command, as long as it still has the created object.
    LiveAc* ac = nullptr;
    AiAc* s = nullptr;
    if (live) {
        ac = lf_liveByHexId(c.id);
        if (ac != nullptr && ac->objectId != c.objectId) ac = nullptr;
    } else {
        s = lf_staticByHexId(c.id);
        if (s != nullptr && s->objectId != c.objectId) s = nullptr;
    }
    if (ac == nullptr && s == nullptr) {
        c.tickCount = kCommandDone;
        done = true;
        return;
    }
    if (c.tickCount < kCommandTicks) ++c.tickCount;
    if (live && (c.tickCount == kFirstToggleTick || c.tickCount == kSecondToggleTick)) {
        if (lf_failed(gf_simSink().clientEventNow({c.objectId, kEventAllLightsToggle, 0})))
            gf_logWarning("SimConnect gf_allLightsToggle fails");
    }
    if (c.tickCount < kCommandTicks) return;
    if (live) {
        c.tickCount = kCommandDone;
        lf_finishLiveCommand(*ac);
    } else {
        lf_onStaticAcParked(c, *s);
    }
    done = true;
}

void lf_setFlyingStateInSim(LiveAc& a) {
    const std::uint32_t id = a.objectId;
    const bool rotorcraft = a.category == kCatRotorcraft;
    if (!lf_onGroundAtFirstPoint(a)) {
        lf_sendEvent(id, kEventEngineAutoStart, 0);
        if (!rotorcraft) lf_sendEvent(id, kEventSpoilersSet, 0);
        const bool low = a.altitude <= 10000.0;
        gf_sendLights(id, {.nav = true, .beacon = true, .landing = low, .taxi = false, .strobes = true, .logo = low,
                           .cabin = a.heightAboveGround >= 2000.0});
    } else {
        if (!rotorcraft) lf_sendEvent(id, kEventSpoilersSet, 0);
        const bool parked = a.state == kMoveParked;
        lf_sendEvent(id, parked ? kEventEngineAutoShutdown : kEventEngineAutoStart, 0);
        const bool nav = parked ? g_NAV_LIGHTS_WHILE_PARKED.value() : true;
        gf_sendLights(id, {.nav = nav, .beacon = !parked, .landing = false, .taxi = a.state == kMoveFollowing,
                           .strobes = false, .logo = true, .cabin = true});
        lf_setThrottle(a, rotorcraft ? 4 : 0);
        lf_setFlaps(a, a.state == kMoveFollowing ? 1 : 0);
    }
    // Only a creation in progress comes into the simulator here: a removal or respawn asked keeps its status.
    if (a.status == kAcCreationQueued) a.status = kAcInSim;
}

void lf_setParkedStateInSim(AiAc& a) {
    lf_setThrottle(a, 0);
    lf_setFlaps(a, 0);
    lf_sendEvent(a.objectId, kEventEngineAutoShutdown, 0);
    const bool cabin = !a.standCargo && gf_workRandom()() % 10 < 9;
    gf_sendLights(a.objectId, {.nav = g_NAV_LIGHTS_WHILE_PARKED.value(), .beacon = false, .landing = false,
                               .taxi = false, .strobes = false, .logo = true, .cabin = cabin});
}

void gf_SimCommands() {
    gf_handleLinkRequests();
    // Each message on its own: one that fails costs none of the others behind it, and none comes back.
    for (const SimMessage& m : gf_takeSimMessages()) {
        try {
            lf_handleSimMessage(m);
        } catch (const qtm::UserErrorException& e) {
            // Too many refused liveries: the user has to mend the AI packages; said once, the run goes on.
            if (!g_userErrorShown) {
                g_userErrorShown = true;
                gf_showError(e.what());
            }
        } catch (const std::exception& e) {
            gf_logLine(fmt::format("{}: {}", "gf_SimCommands", e.what()));
        }
    }
    bool done = false;
    for (SimMessage& c : g_postCreationCommands) {
        try {
            gf_allLightsToggle(done, c);
        } catch (const std::exception& e) {
            // Ended rather than repeated every tick.
            gf_logLine(fmt::format("{}: {}", "gf_SimCommands", e.what()));
            c.tickCount = kCommandDone;
            done = true;
        }
    }
    if (done) std::erase_if(g_postCreationCommands, [](const SimMessage& c) { return c.tickCount < 0; });
}

void gf_resetSimCommands() {
    g_postCreationCommands.clear();
    g_userErrorShown = false;
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

void lf_pushCreation(std::deque<CreateAircraftRequest>& creations, const CreateAircraftRequest& request) {
    creations.push_back(request);
}
