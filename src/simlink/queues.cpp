// The command queues the work thread fills and the link thread sends once per simulator frame. The work
// thread never sends positions, events, creations or removals itself: the traffic then moves in step with
// the simulator's frames and the work thread stays free of I/O.
#include <new>
#include <vector>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/log.h"
#include "frame/timeutil.h"
#include "injection/services.h"
#include "simlink/dispatch.h"
#include "simlink/link.h"

AircraftUpdateBuffer g_aircraftUpdates;
std::vector<ClientEventRequest> g_clientEventQueue;
std::vector<CreateAircraftRequest> g_createQueue;
std::vector<std::uint32_t> g_removeQueue;
std::vector<PendingCreation> g_pendingCreations;
std::vector<NewlyAddedObject> g_newlyAddedObjects;

void gf_initSimConnectQueues(int majorVersion) {
    g_simMajorVersion = majorVersion;
    std::lock_guard lock(g_simQueueMutex);
    for (auto& half : g_aircraftUpdates.halves) half.reserve(256);
    g_createQueue.reserve(256);
    g_removeQueue.reserve(256);
    g_pendingCreations.reserve(256);
    g_newlyAddedObjects.reserve(256);
    g_simFatalError = false;
}

void gf_updateAircraft(const AircraftUpdate& update) {
    try {
        g_aircraftUpdates.write().push_back(update);
    } catch (const std::bad_alloc& e) {
        gf_logWarning(fmt::format("{}: {}", "gf_updateAircraft", e.what()));
        throw;
    }
}

void gf_queueClientEvent(const ClientEventRequest& event) {
    std::lock_guard lock(g_simQueueMutex);
    g_clientEventQueue.push_back(event);
}

void gf_queueCreateAircraft(const CreateAircraftRequest& request) {
    std::lock_guard lock(g_simQueueMutex);
    g_createQueue.push_back(request);
}

void gf_queueRemoveAircraft(std::uint32_t objectId) {
    std::lock_guard lock(g_simQueueMutex);
    g_removeQueue.push_back(objectId);
}

void gf_setNavLights(std::uint32_t objectId, std::uint32_t value) {
    gf_queueClientEvent({objectId, kEventNavLightsSet, value});
}

void gf_setCabinLights(std::uint32_t objectId, std::uint32_t value) {
    gf_queueClientEvent({objectId, kEventCabinLightsSet, value});
}

bool lf_createAiAircraft(SimConnectHandle handle, const CreateAircraftRequest& c) {
    // The send id comes from the builder itself: asked for afterwards, it could belong to a request another
    // thread made in between, and a refusal naming this creation would then find nothing.
    std::uint32_t sendId = 0;
    if (gf_createAiAircraft(handle, c, &sendId) != kSimOk) {
        gf_logWarning(fmt::format("! Simcon call to create ac in sim failed, hexid:{}, liv: \"{}\", callsign: {}",
                                  c.hexid, c.containerTitle, c.callsign));
        gf_countRequestError();
        return false;
    }
    g_pendingCreations.push_back({sendId, c.hexid, c.callsign});
    return true;
}

namespace {

// The flush itself, under the queue lock; the creations that could not be sent are added to `notSent`.
void lf_flushLocked(std::vector<SimMessage>& notSent) {
    // Never wait here: the simulator's messages would stall behind the work thread. What is queued goes out
    // on the next frame.
    std::unique_lock lock(g_simQueueMutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    if (g_simFatalError.load()) {
        g_aircraftUpdates.read().clear();
        g_clientEventQueue.clear();
        g_createQueue.clear();
        g_removeQueue.clear();
        return;
    }
    // The link thread alone publishes and withdraws the handle, so it may use it without the handle lock.
    const SimConnectHandle h = g_simConnect.load();
    const std::uint32_t userId = g_userObjectId.load();
    // The whole frame goes out in one write when the batch closes, in the order built below.
    const SimConnectBatch frame(h);

    // The user aircraft and anything at or below its id is not ours to move.
    for (const AircraftUpdate& u : g_aircraftUpdates.read()) {
        if (u.objectID > userId) gf_sendAircraftUpdate(h, u);
    }
    g_aircraftUpdates.read().clear();

    for (const ClientEventRequest& e : g_clientEventQueue) {
        // The AI pilot would take the flaps straight back: release control around the flaps event.
        const bool flaps = e.eventID == kEventFlapsSet;
        if (flaps) gf_releaseAiControl(h, e.objectID);
        if (gf_transmitClientEvent(h, e) != kSimOk) {
            gf_showMessage(fmt::format("SimConnect TransmitClientEvent: {} fails", e.eventID), true);
        } else if (flaps) {
            gf_releaseAiControl(h, e.objectID);
        }
    }
    g_clientEventQueue.clear();

    // A creation that never went out is never answered either: the work thread hears of it as of one the
    // simulator left unanswered, or its aircraft would wait for it for good.
    for (const CreateAircraftRequest& c : g_createQueue) {
        if (!lf_createAiAircraft(h, c)) notSent.push_back({0, c.hexid, 0, kSimMsgCreationUnanswered, 0.0, 0.0});
    }
    g_createQueue.clear();

    for (std::uint32_t id : g_removeQueue) {
        if (id <= userId) {
            gf_logWarning(fmt::format("Simconnect call to remove ac with objectid {}", id));
        } else if (gf_removeAiObject(h, id) != kSimOk) {
            gf_logWarning(fmt::format("{}!Simconnect call to remove AI ac from sim failed, id {}?", gf_clockTime(), id));
            gf_countRequestError();
        }
    }
    g_removeQueue.clear();
}

}  // namespace

void lf_flushSimConnectQueues() {
    std::vector<SimMessage> notSent;
    lf_flushLocked(notSent);
    // Posted once the queue lock is let go and the frame is out (the lock order is messages, then queue).
    for (const SimMessage& m : notSent) gf_postSimMessage(m);
}
