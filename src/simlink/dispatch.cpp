// What the link thread does with each message the simulator sends: the simulator's name and version, the
// flight state, new flights and jumps, the user aircraft's data (which also paces the work loop's second),
// the per-frame flush, AI objects appearing and disappearing, and the creations the simulator refused.
// What concerns the work thread's aircraft goes to it as messages; what concerns the stands goes to it as
// requests, since only the work thread may touch the stands and park airports.
#include "simlink/dispatch.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "airports/services.h"
#include "frame/display.h"
#include "frame/entry.h"
#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "injection/services.h"
#include "platform/ui.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"

namespace {

std::atomic<bool> g_userStandLookupRequest{false};
std::atomic<bool> g_userStandCheckRequest{false};
std::string g_lastUserStand;  // work thread

// A creation given up is still known for as many rounds again: an object the simulator creates that late is
// removed, not left to fly on its own beside the aircraft's new creation.
constexpr std::uint32_t kLateCreationRounds = 2 * kMaxUnmatchedRounds;

bool lf_givenUp(const PendingCreation& p) { return p.rounds >= kMaxUnmatchedRounds; }

bool lf_atOrigin(const UserAcData& d) { return !gf_isRealPosition(d.latitude, d.longitude); }

UserAcData lf_userAc() {
    std::lock_guard lock(g_userAcMutex);
    return g_userAcFromSim;
}

// A zulu time outside the calendar is said once a run; it comes with every user position.
std::atomic<bool> g_zuluRefusalLogged{false};

void lf_repaint() { ui::backend().invalidate(kUpperBand); }

void lf_newFlight() { gf_requestExit(ExitReason::NewFlight, 30); }

// Only ASCII letters, digits and white space: the simulator's name carries trademark signs in its own code
// page.
std::string lf_filterSimName(const std::string& raw) {
    std::string out;
    for (unsigned char c : raw) {
        if (c < 0x80 && (std::isalnum(c) || std::isspace(c))) out.push_back(static_cast<char>(c));
    }
    return out;
}

void lf_onOpen(std::span<const std::uint8_t> msg) {
    const auto open = parseRecvOpen(msg);
    if (!open) return;
    if (open->applicationName.empty()) {
        gf_logLine("! Simulator name empty?");
        return;
    }
    g_simConnected = true;
    lf_repaint();
    const std::string name = lf_filterSimName(open->applicationName);
    if (name == "KittyHawk" || name == "SunRise") {
        throw qtm::UserErrorException(78, name + ", (MSFS) not being P3D connects ... ?");
    }
    const std::string text = fmt::format("{} ({}.{}.{}.{})", name, open->versionMajor, open->versionMinor,
                                         open->buildMajor, open->buildMinor);
    gf_logLine(fmt::format("{} connected", text));
    gf_setDisplayText(&MainWindow::g_simName, text, kUpperBand);
    const std::string installPath = g_SIM_INSTALL_PATH.value();
    const auto fits = [&](const char* mark, const char* upper, int major) {
        return text.find(mark) != std::string::npos &&
               (installPath.find(mark) != std::string::npos || installPath.find(upper) != std::string::npos ||
                g_simMajorVersion.load() == major);
    };
    if (fits("v5", "V5", 5) || fits("v6", "V6", 6)) {
        gf_clearMessage();
        return;
    }
    // Another install path can be typed; the restart it asks for connects anew.
    ui::backend().setEnabled(g_ALL_INSTALL_PATH.controlId, true);
    throw qtm::UserErrorException(78, fmt::format("wrong P3D version \"{}\" connects ... ?", text));
}

void lf_onException(std::span<const std::uint8_t> msg) {
    const auto ex = parseRecvException(msg);
    if (!ex) return;
    switch (ex->exception) {
        case 3:
            // Requests about objects the simulator has not placed yet fail harmlessly until it has.
            if (lf_atOrigin(lf_userAc()) || gf_exitOrStopRequested()) return;
            gf_logWarning("SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID");
            return;
        case 5:
            throw qtm::UserErrorException(95, fmt::format("Simconnect Version Mismatch, dwindex: {} ", ex->index));
        case 11:
            gf_showMessage("SimConnect: too many objects (max 1000)", false);
            return;
        case 19:
        case 24:
            gf_logLine(fmt::format("SIMCON EXCEP {}", ex->exception));
            return;
        case 23:
            gf_logWarning("Simconnect exception: load flight plan failed");
            return;
        case 22: {
            bool found = false;
            std::uint32_t hexid = 0;
            {
                std::lock_guard lock(g_simQueueMutex);
                auto& pending = g_pendingCreations;
                for (std::size_t i = 0; i < pending.size(); ++i) {
                    if (pending[i].sendId != ex->sendId) continue;
                    // The work thread let a creation given up go already.
                    found = !lf_givenUp(pending[i]);
                    hexid = pending[i].hexid;
                    pending[i] = std::move(pending.back());
                    pending.pop_back();
                    break;
                }
            }
            // Posted after the queue lock is let go: the work thread takes the messages' lock first. A static
            // aircraft may have the id 0; its refusal counts like any other.
            if (found) gf_postSimMessage({0, hexid, 0, kSimMsgCreationFailed, 0.0, 0.0});
            return;
        }
        default:
            gf_logWarning(fmt::format("SIMCON EXCEP {}", ex->exception));
    }
}

void lf_onEvent(std::span<const std::uint8_t> msg) {
    const auto ev = parseRecvEvent(msg);
    if (!ev) return;
    switch (ev->eventId) {
        case kEventSim:
            g_flightRunning = ev->data == 1;
            g_mainWindow.g_simRunningShown = ev->data == 1;
            lf_repaint();
            return;
        case kEventPositionChanged:
            gf_logWarning("User ac position changed");
            lf_newFlight();
            return;
        case kEventFlightLoaded:
            gf_logLine("Simconnect: flight loaded event");
            gf_requestUserStandCheck();
            lf_newFlight();
            return;
        default:
            return;
    }
}

void lf_onObjectAddedRemoved(std::span<const std::uint8_t> msg) {
    const auto m = parseRecvObjectAddRemove(msg);
    if (!m || m->objectType != kSimObjectTypeAircraft) return;
    if (m->eventId == kEventObjectAdded) {
        if (m->objectId <= g_userObjectId.load()) return;
        std::lock_guard lock(g_simQueueMutex);
        g_newlyAddedObjects.push_back({m->objectId, 0});
    } else if (m->eventId == kEventObjectRemoved) {
        {
            // Gone before it was ever reported in range: nothing will match it any more.
            std::lock_guard lock(g_simQueueMutex);
            std::erase_if(g_newlyAddedObjects, [&](const NewlyAddedObject& o) { return o.objectId == m->objectId; });
        }
        gf_postSimMessage({m->objectId, 0, 0, kSimMsgObjectRemoved, 0.0, 0.0});
    }
}

void lf_onUserPosition(const RecvObjectDataMsg& data) {
    const auto user = gf_decodeUserAcData(data.data);
    if (!user) return;
    UserAcData previous;
    {
        std::lock_guard lock(g_userAcMutex);
        previous = g_userAcFromSim;
        g_userAcFromSim = *user;
    }
    if (!lf_atOrigin(previous) &&
        gf_distanceNM(previous.latitude, previous.longitude, user->latitude, user->longitude) > 10.0) {
        gf_logLine("Teleport");
        lf_newFlight();
    }
    gf_requestUserStandLookup();
    if (g_rtProfessional.load()) {
        if (const auto epoch = gf_zuluEpoch(user->zuluYear, user->zuluDayOfYear, user->zuluSeconds)) {
            g_simEpochTime = *epoch;
        } else if (!g_zuluRefusalLogged.exchange(true)) {
            gf_logLine(fmt::format("! Simulator zulu time out of range: year {}, day {}, second {}", user->zuluYear,
                                   user->zuluDayOfYear, user->zuluSeconds));
        }
    }
    g_userObjectId = data.objectId;
}

void lf_onSimObjectData(std::span<const std::uint8_t> msg) {
    const auto data = parseRecvObjectData(msg);
    if (!data) return;
    switch (data->requestId) {
        case kRequestStaticData:
            if (const auto d = gf_decodeStaticData(data->data))
                gf_postSimMessage({data->objectId, 0, 0, kSimMsgStaticData, d->cgToGround, d->pitch});
            return;
        case kRequestUserTitle:
            lf_onUserTitle(data->data);
            return;
        case kRequestUserModel:
            lf_onUserModel(data->data);
            return;
        case kRequestUserOnGround: {
            const auto onGround = gf_decodeUserOnGround(data->data);
            if (onGround && !lf_atOrigin(lf_userAc())) {
                g_userOnGround = *onGround != 0;
                g_userOnGroundKnown = true;
            }
            // This answer comes once a simulator second: it paces the work loop's timers.
            g_secondTick = true;
            return;
        }
        case kRequestUserPosition:
            lf_onUserPosition(*data);
            return;
        default:
            return;
    }
}

// Ours: the AI pilot lets go of the object and it is frozen in place; the work thread moves it from now on.
// The caller holds g_simQueueMutex.
void lf_takeControl(std::uint32_t objectId) {
    gf_releaseAiControl(g_simConnect.load(), objectId);
    for (std::uint32_t e : {kEventFreezeLatLonSet, kEventFreezeAltitudeSet, kEventFreezeAttitudeSet})
        g_clientEventQueue.push_back({objectId, e, 1});
}

// One round of the in-range report has ended: what has waited too long for a match is given up. The work
// thread hears of every creation given up (appended to `givenUp`), or its aircraft would wait for it for the
// rest of the run. The caller holds g_simQueueMutex and posts after letting it go.
void lf_ageUnmatched(std::vector<SimMessage>& givenUp) {
    for (auto& o : g_newlyAddedObjects) ++o.rounds;
    for (auto& p : g_pendingCreations) {
        if (++p.rounds == kMaxUnmatchedRounds) givenUp.push_back({0, p.hexid, 0, kSimMsgCreationUnanswered, 0.0, 0.0});
    }
    std::erase_if(g_newlyAddedObjects, [](const NewlyAddedObject& o) { return o.rounds >= kMaxUnmatchedRounds; });
    std::erase_if(g_pendingCreations, [](const PendingCreation& p) { return p.rounds >= kLateCreationRounds; });
}

void lf_onAircraftInRange(std::span<const std::uint8_t> msg) {
    const auto data = parseRecvObjectData(msg);
    if (!data || data->requestId != kRequestAircraftInRange) return;
    const bool lastOfRound = data->entryNumber >= data->outOf;
    const auto ac = data->objectId > g_userObjectId.load() ? gf_decodeAircraftInRange(data->data) : std::nullopt;
    std::vector<SimMessage> post;
    {
        std::lock_guard lock(g_simQueueMutex);
        if (ac) {
            const auto added = std::find_if(g_newlyAddedObjects.begin(), g_newlyAddedObjects.end(),
                                            [&](const NewlyAddedObject& o) { return o.objectId == data->objectId; });
            if (added == g_newlyAddedObjects.end()) {
                // An aircraft low enough to be on or near the ground, with a callsign of its own (a trailing
                // '*' marks the program's static aircraft).
                if (ac->altAboveGround <= 2500.0 && !ac->atcId.empty() && ac->atcId.back() != '*') {
                    post.push_back({data->objectId, ac->onGround != 0 ? 1u : 0u, 0, kSimMsgAircraftReport,
                                    ac->groundAltitude, ac->altAboveGround});
                }
            } else {
                g_newlyAddedObjects.erase(added);
                auto& pending = g_pendingCreations;
                // A creation still awaited first: the aircraft's new creation after one given up has its callsign.
                auto ours = std::find_if(pending.begin(), pending.end(), [&](const PendingCreation& p) {
                    return p.callsign == ac->atcId && !lf_givenUp(p);
                });
                if (ours == pending.end()) {
                    ours = std::find_if(pending.begin(), pending.end(),
                                        [&](const PendingCreation& p) { return p.callsign == ac->atcId; });
                }
                if (ours == pending.end()) {
                    gf_logLine(fmt::format("just spawned, but not by {}, oid: {}, callsign \"{}\", altaboveGnd:{:.0f} "
                                           "ft, onground:{}, gnd_alt:{:.0f} ft ",
                                           kAppTitle, data->objectId, ac->atcId, ac->altAboveGround, ac->onGround,
                                           ac->groundAltitude));
                } else if (lf_givenUp(*ours)) {
                    gf_logWarning(fmt::format("oid: {}, callsign \"{}\" created after it was given up, removed",
                                              data->objectId, ac->atcId));
                    pending.erase(ours);
                    g_removeQueue.push_back(data->objectId);
                } else {
                    const std::uint32_t hexid = ours->hexid;
                    pending.erase(ours);
                    lf_takeControl(data->objectId);
                    const bool isStatic = hexid <= 10000;
                    post.push_back({data->objectId, hexid, 0, isStatic ? kSimMsgStaticCreated : kSimMsgLiveCreated,
                                    0.0, isStatic ? 0.0 : ac->altAboveGround});
                }
            }
        }
        if (lastOfRound) lf_ageUnmatched(post);
    }
    for (const SimMessage& m : post) gf_postSimMessage(m);
}

}  // namespace

void lf_dispatch(const std::uint8_t* message, std::uint32_t size, void* context) {
    static LinkSession s_detached;
    LinkSession& session = context != nullptr ? *static_cast<LinkSession*>(context) : s_detached;
    const std::span<const std::uint8_t> msg(message, size);
    const auto id = simMessageId(msg);
    if (!id) return;
    switch (*id) {
        case kRecvException: lf_onException(msg); break;
        case kRecvOpen: lf_onOpen(msg); break;
        case kRecvQuit:
            g_flightRunning = false;
            session.quit = true;
            break;
        case kRecvEvent: lf_onEvent(msg); break;
        case kRecvObjectAddRemove: lf_onObjectAddedRemoved(msg); break;
        case kRecvFileName:
            gf_logLine("SimConnect: New file event");
            gf_requestUserStandCheck();
            lf_newFlight();
            break;
        case kRecvFrame:
            lf_flushSimConnectQueues();
            if (++session.frameCount % 30 == 0) {
                if (const auto frame = parseRecvFrame(msg)) g_simFrameRate = frame->frameRate;
            }
            break;
        case kRecvObjectData: lf_onSimObjectData(msg); break;
        case kRecvObjectDataByType: lf_onAircraftInRange(msg); break;
        case kRecvAssignedObjectId:
        case kRecvClientData: break;
        default: gf_logLine(fmt::format("! Unknown Dispatch dwID {}", *id));
    }
}

void gf_requestUserStandLookup() { g_userStandLookupRequest = true; }
void gf_requestUserStandCheck() { g_userStandCheckRequest = true; }

void gf_resetLinkRequests() {
    g_zuluRefusalLogged = false;
    g_userStandLookupRequest = false;
    g_userStandCheckRequest = false;
    g_lastUserStand.clear();
}

void gf_handleLinkRequests() {
    if (g_userStandLookupRequest.exchange(false)) {
        const UserAcData user = lf_userAc();
        std::string stand = gf_userStand(user.latitude, user.longitude);
        if (stand != g_lastUserStand) {
            g_lastUserStand = stand;
            gf_setDisplayText(&MainWindow::g_userStandShown, std::move(stand), kUpperBand);
        }
    }
    if (g_userStandCheckRequest.exchange(false)) lf_checkUserStand();
}

void lf_checkUserStand() {
    if (!g_userOnGroundKnown.load() || g_userPos.groundSpeed > 2.0) return;
    const UserAcData user = lf_userAc();
    const std::string stand = gf_userStand(user.latitude, user.longitude);
    if (stand.empty() || g_parkAirports.empty()) return;
    ParkAirport& active = g_parkAirports.front();
    if (active.code != g_parkAirportCode || active.reservedStand == stand) return;
    active.reservedStand = stand;
    gf_updateMyParkAirportsFile();
}
