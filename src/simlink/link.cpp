#include "simlink/link.h"

#include <chrono>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <span>
#include <string>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/entry.h"
#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/timeutil.h"
#include "platform/timer_resolution.h"
#include "platform/ui.h"

namespace fs = std::filesystem;

std::mutex g_simQueueMutex;
std::atomic<SimConnectHandle> g_simConnect{SimConnectHandle::None};
std::atomic<bool> g_flightRunning{false};
std::atomic<bool> g_secondTick{false};
std::atomic<bool> g_userOnGround{false};
std::atomic<bool> g_userOnGroundKnown{false};
std::atomic<bool> g_beforeFirstConnection{true};
std::atomic<bool> g_simFatalError{false};
std::atomic<std::uint32_t> g_userObjectId{2};
std::atomic<std::uint32_t> g_requestErrorCount{0};
std::atomic<std::int64_t> g_simEpochTime{0};
std::atomic<float> g_simFrameRate{0.0f};
std::atomic<int> g_simMajorVersion{5};
std::atomic<double> g_userHalfWingSpan{kHalfWingSpanUnknown};

std::mutex g_userAcMutex;
UserAcData g_userAcFromSim{};

AircraftUpdateBuffer g_aircraftUpdates;
std::vector<ClientEventRequest> g_clientEventQueue;
std::vector<CreateAircraftRequest> g_createQueue;
std::vector<std::uint32_t> g_removeQueue;
std::vector<PendingCreation> g_pendingCreations;
std::vector<std::uint32_t> g_newlyAddedObjects;
std::vector<std::string_view> g_liveriesNotCreated;

std::jthread g_linkThread;
fs::path g_flightPlanFolder;

namespace {

std::mutex g_linkThreadMutex;
std::uint32_t g_frameCount = 0;  // link thread only

// The simulator reports about 0/0 until it has placed the user aircraft.
bool lf_atOrigin(const UserAcData& d) {
    return d.latitude >= 0.0 && d.latitude <= 0.0009 && d.longitude >= 0.0 && d.longitude <= 0.05;
}

double lf_distanceNm(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double dLat = (lat2 - lat1) * kRad;
    const double dLon = (lon2 - lon1) * kRad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1 * kRad) * std::cos(lat2 * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 6875.493541569878 * std::atan2(std::sqrt(a), std::sqrt(1 - a));
}

std::int64_t lf_zuluEpoch(std::int64_t year, std::int64_t dayOfYear, std::int64_t seconds) {
    using namespace std::chrono;
    const sys_days newYear = year_month_day{std::chrono::year(static_cast<int>(year)), January, 1d};
    return duration_cast<std::chrono::seconds>((newYear + days(dayOfYear - 1)).time_since_epoch()).count() + seconds;
}

// Sleeps, but wakes at once when the thread is asked to stop.
void lf_sleep(std::chrono::milliseconds d, const std::stop_token& stop) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    cv.wait_for(lock, stop, d, [] { return false; });
}

void lf_createAiAircraft(SimConnectHandle h, const CreateAircraftRequest& c) {
    if (gf_createAiAircraft(h, c) != kSimOk) {
        gf_logWarning(fmt::format("! Simcon call to create ac in sim failed, hexid:{}, liv: \"{}\", callsign: {}",
                                  c.hexid, c.containerTitle, c.callsign));
        gf_countRequestError();
        return;
    }
    std::uint32_t sendId = 0;
    if (SimConnect_GetLastSentPacketID(h, &sendId) != kSimOk) {
        gf_logWarning("GetLastSentPacketID");
        sendId = 0;
    }
    g_pendingCreations.push_back({sendId, c.hexid, c.callsign});
}

// Everything the work thread queued goes out on the simulator's frame, so that the traffic moves in step
// with it. A lock held by the work thread skips this frame; the data waits for the next.
void lf_flushSimConnectQueues() {
    std::unique_lock lock(g_simQueueMutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const SimConnectHandle h = g_simConnect.load();
    const std::uint32_t userId = g_userObjectId.load();
    if (g_simFatalError.load()) {
        g_aircraftUpdates.read().clear();
        g_clientEventQueue.clear();
        g_createQueue.clear();
        g_removeQueue.clear();
        return;
    }
    for (const AircraftUpdate& u : g_aircraftUpdates.read()) {
        if (u.objectID > userId) gf_sendAircraftUpdate(h, u);
    }
    g_aircraftUpdates.read().clear();
    for (const ClientEventRequest& e : g_clientEventQueue) {
        const bool flaps = e.eventID == kEventFlapsSet;
        if (flaps) gf_releaseAiControl(h, e.objectID);
        if (gf_transmitClientEvent(h, e) != kSimOk) {
            gf_showMessage(fmt::format("SimConnect TransmitClientEvent: {} fails", e.eventID), true);
        } else if (flaps) {
            gf_releaseAiControl(h, e.objectID);
        }
    }
    g_clientEventQueue.clear();
    for (const CreateAircraftRequest& c : g_createQueue) lf_createAiAircraft(h, c);
    g_createQueue.clear();
    for (std::uint32_t id : g_removeQueue) {
        if (id <= userId) {
            gf_logWarning(fmt::format("Simconnect call to remove ac with objectid {}", id));
        } else if (gf_removeAiObject(h, id) != kSimOk) {
            gf_logWarning(
                fmt::format("{}!Simconnect call to remove AI ac from sim failed, id {}?", gf_clockTime(), id));
            gf_countRequestError();
        }
    }
    g_removeQueue.clear();
}

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
    ui::backend().invalidate(kUpperBand);
    const std::string name = lf_filterSimName(open->applicationName);
    if (name == "KittyHawk" || name == "SunRise") {
        throw qtm::UserErrorException(78, name + ", (MSFS) not being P3D connects ... ?");
    }
    const std::string text = fmt::format("{} ({}.{}.{}.{})", name, open->versionMajor, open->versionMinor,
                                         open->buildMajor, open->buildMinor);
    gf_logLine(fmt::format("{} connected", text));
    gf_setDisplayText(&MainWindow::g_simName, text, kUpperBand);
    const std::string installPath = g_SIM_INSTALL_PATH.value();
    const auto fits = [&](const char* mark, const char* lower, const char* upper, int major) {
        return text.find(mark) != std::string::npos &&
               (installPath.find(lower) != std::string::npos || installPath.find(upper) != std::string::npos ||
                g_simMajorVersion.load() == major);
    };
    if (fits("v5", "v5", "V5", 5) || fits("v6", "v6", "V6", 6)) {
        gf_clearMessage();
        return;
    }
    // Another install path can be typed, and the restart it requests connects anew.
    ui::backend().setEnabled(g_ALL_INSTALL_PATH.controlId, true);
    throw qtm::UserErrorException(78, fmt::format("wrong P3D version \"{}\" connects ... ?", text));
}

void lf_onException(std::span<const std::uint8_t> msg) {
    const auto ex = parseRecvException(msg);
    if (!ex) return;
    switch (ex->exception) {
        case 3: {
            UserAcData user;
            {
                std::lock_guard lock(g_userAcMutex);
                user = g_userAcFromSim;
            }
            if (lf_atOrigin(user) || gf_exitOrStopRequested()) return;
            gf_logWarning("SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID");
            return;
        }
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
            std::lock_guard lock(g_simQueueMutex);
            for (std::size_t i = 0; i < g_pendingCreations.size(); ++i) {
                if (g_pendingCreations[i].sendId != ex->sendId) continue;
                g_pendingCreations[i] = std::move(g_pendingCreations.back());
                g_pendingCreations.pop_back();
                break;
            }
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
            ui::backend().invalidate(kUpperBand);
            return;
        case kEventPositionChanged:
            gf_logWarning("User ac position changed");
            gf_requestExit(ExitReason::NewFlight, 30);
            return;
        case kEventFlightLoaded:
            gf_logLine("Simconnect: flight loaded event");
            gf_requestExit(ExitReason::NewFlight, 30);
            return;
        default:
            return;
    }
}

void lf_onSimObjectData(std::span<const std::uint8_t> msg) {
    const auto data = parseRecvObjectData(msg);
    if (!data) return;
    if (data->requestId == kRequestUserOnGround) {
        const auto onGround = gf_decodeUserOnGround(data->data);
        bool atOrigin = false;
        {
            std::lock_guard lock(g_userAcMutex);
            atOrigin = lf_atOrigin(g_userAcFromSim);
        }
        if (!atOrigin && onGround) {
            g_userOnGround = *onGround != 0;
            g_userOnGroundKnown = true;
        }
        // This request is the simulator's second: it paces the work loop's timers.
        g_secondTick = true;
    } else if (data->requestId == kRequestUserPosition) {
        const auto user = gf_decodeUserAcData(data->data);
        if (!user) return;
        UserAcData previous;
        {
            std::lock_guard lock(g_userAcMutex);
            previous = g_userAcFromSim;
            g_userAcFromSim = *user;
        }
        if (!lf_atOrigin(previous) &&
            lf_distanceNm(previous.latitude, previous.longitude, user->latitude, user->longitude) > 10.0) {
            gf_logLine("Teleport");
            gf_requestExit(ExitReason::NewFlight, 30);
        }
        if (user->zuluYear > 0 && user->zuluDayOfYear > 0) {
            g_simEpochTime = lf_zuluEpoch(user->zuluYear, user->zuluDayOfYear, user->zuluSeconds);
        }
        g_userObjectId = data->objectId;
    }
}

void lf_dispatch(const std::uint8_t* message, std::uint32_t size, void*) {
    const std::span<const std::uint8_t> msg(message, size);
    const auto id = simMessageId(msg);
    if (!id) return;
    switch (*id) {
        case kRecvException: lf_onException(msg); break;
        case kRecvOpen: lf_onOpen(msg); break;
        case kRecvQuit: g_flightRunning = false; break;
        case kRecvEvent: lf_onEvent(msg); break;
        case kRecvObjectAddRemove: break;
        case kRecvFileName:
            gf_logLine("SimConnect: New file event");
            gf_requestExit(ExitReason::NewFlight, 30);
            break;
        case kRecvFrame:
            lf_flushSimConnectQueues();
            if (++g_frameCount % 30 == 0) {
                if (const auto frame = parseRecvFrame(msg)) g_simFrameRate = frame->frameRate;
            }
            break;
        case kRecvObjectData: lf_onSimObjectData(msg); break;
        case kRecvObjectDataByType:
        case kRecvAssignedObjectId:
        case kRecvClientData: break;
        default: gf_logLine(fmt::format("! Unknown Dispatch dwID {}", *id));
    }
}

}  // namespace

void SimClient(std::stop_token stop) {
    const auto running = [&] { return !stop.stop_requested() && !gf_exitOrStopRequested(); };
    SimConnectHandle handle = SimConnectHandle::None;
    bool waitingShown = false;
    try {
        while (running()) {
            if (!waitingShown) {
                gf_showMessage(fmt::format("Waiting for Prepar3Dv{} ...", g_simMajorVersion.load()), false);
                waitingShown = true;
            }
            if (SimConnect_Open(&handle, kAppTitle, nullptr, 0, nullptr, 0) != kSimOk) {
                handle = SimConnectHandle::None;
                lf_sleep(std::chrono::seconds(1), stop);
                continue;
            }
            g_simConnect = handle;
            g_beforeFirstConnection = false;
            lf_defineSimConnectData(handle);
            bool lost = false;
            {
                platform::TimerResolutionGuard resolution(1);
                while (!stop.stop_requested()) {
                    if (SimConnect_CallDispatch(handle, lf_dispatch, nullptr) != kSimOk) {
                        lost = true;
                        break;
                    }
                    lf_sleep(std::chrono::milliseconds(1), stop);
                }
            }
            if (!lost) break;
            g_flightRunning = false;
            g_simConnect = SimConnectHandle::None;
            SimConnect_Close(handle);
            handle = SimConnectHandle::None;
            gf_simDisconnected();
        }
    } catch (const qtm::UserErrorException& e) {
        gf_showError(e.what());
    } catch (const std::exception& e) {
        gf_showError(e.what());
        g_flightRunning = false;
        gf_simDisconnected();
    } catch (...) {
        gf_showError(fmt::format("Exception in {}", "SimClient"));
        g_flightRunning = false;
        gf_simDisconnected();
    }
    g_simConnected = false;
    ui::backend().invalidate(kUpperBand);
    g_simConnect = SimConnectHandle::None;
    if (handle != SimConnectHandle::None) {
        if (SimConnect_Close(handle) == kSimOk)
            gf_logLine("SimConnect closed ok");
        else
            gf_logWarning("Closing SimConnect failed?!");
    }
}

void gf_startLinkThread(const std::function<void(std::stop_token)>& procedure) {
    std::lock_guard lock(g_linkThreadMutex);
    if (g_linkThread.joinable()) {
        g_linkThread.request_stop();
        g_linkThread.join();
    }
    g_linkThread = std::jthread(procedure);
}

void gf_stopLinkThread() {
    std::lock_guard lock(g_linkThreadMutex);
    if (!g_linkThread.joinable()) return;
    g_linkThread.request_stop();
    if (g_linkThread.get_id() == std::this_thread::get_id()) {
        // The link ends itself: its stop is requested, it cannot wait for itself.
        g_linkThread.detach();
        return;
    }
    g_linkThread.join();
}

bool gf_linkThreadRunning() {
    std::lock_guard lock(g_linkThreadMutex);
    return g_linkThread.joinable();
}

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

void gf_countRequestError() {
    const std::uint32_t count = ++g_requestErrorCount;
    if (count < 3) return;
    gf_showMessage(fmt::format("SimConnect request error {}, see Log.txt", count), false);
    g_simFatalError = true;
    gf_requestExit(ExitReason::SimConnectError, 10);
}

void gf_simDisconnected() {
    if (g_quitRequested.load()) return;
    gf_logLine(fmt::format("{} Flight Simulator no longer connected, {} will stop ...", gf_clockTime(), kAppTitle));
    gf_requestExit(ExitReason::SimWasClosed, 0);
}

UserAcData gf_getUserPosition() {
    if (!g_simFatalError.load()) {
        std::lock_guard lock(g_simQueueMutex);
        gf_requestUserPosition(g_simConnect.load());
    }
    std::lock_guard lock(g_userAcMutex);
    return g_userAcFromSim;
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

void gf_createFlightPlanFolder() {
    gf_ensureGlobalPaths();
    if (!fs::exists(g_appFolder)) fs::create_directories(g_appFolder);
    g_flightPlanFolder = g_appFolder / "orig_dest";
    if (!fs::exists(g_flightPlanFolder)) fs::create_directory(g_flightPlanFolder);
}

bool gf_removeFlightPlanFolder() {
    if (g_flightPlanFolder.empty()) return true;
    std::error_code ec;
    fs::remove_all(g_flightPlanFolder, ec);
    if (ec) {
        gf_logLine(fmt::format("gf_removeFlightPlanFolder: {}", ec.message()));
        return false;
    }
    return true;
}

void gf_resetLinkState() {
    g_userOnGroundKnown = false;
    g_userOnGround = false;
    g_flightRunning = false;
    g_secondTick = false;
    g_simConnect = SimConnectHandle::None;
    g_userObjectId = 2;
    g_requestErrorCount = 0;
    g_simFatalError = false;
    g_beforeFirstConnection = true;
    g_userHalfWingSpan = kHalfWingSpanUnknown;
    g_simEpochTime = 0;
    {
        std::lock_guard lock(g_simQueueMutex);
        g_aircraftUpdates.clear();
        g_createQueue.clear();
        g_removeQueue.clear();
        g_clientEventQueue.clear();
        g_pendingCreations.clear();
        g_newlyAddedObjects.clear();
    }
    {
        std::lock_guard lock(g_userAcMutex);
        g_userAcFromSim = UserAcData{};
    }
    gf_setDisplayText(&MainWindow::userTitle, std::string(), kUpperBand);
}
