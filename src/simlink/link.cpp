#include "simlink/link.h"

#include <condition_variable>
#include <map>
#include <set>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/entry.h"
#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "frame/timeutil.h"
#include "platform/timer_resolution.h"
#include "platform/ui.h"
#include "simlink/dispatch.h"

std::mutex g_simQueueMutex;
std::atomic<SimConnectHandle> g_simConnect{SimConnectHandle::None};
std::shared_mutex g_simHandleMutex;
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

std::mutex g_userAcMutex;
UserAcData g_userAcFromSim{};

std::jthread g_linkThread;

namespace {

std::mutex g_linkThreadMutex;
std::atomic<std::chrono::milliseconds::rep> g_retryMs{1000};

// Sleeps, but wakes at once when the thread is asked to stop.
void lf_sleep(std::chrono::milliseconds d, const std::stop_token& stop) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    cv.wait_for(lock, stop, d, [] { return false; });
}

// The handle becomes visible to the other threads' requests, or stops being so. Withdrawn under both locks:
// a request made under the queue lock, or through gf_withSimConnect, has either finished with the handle or
// sees none; nothing reaches the client once it is being closed.
void lf_publish(SimConnectHandle handle) {
    std::lock_guard queue(g_simQueueMutex);
    std::unique_lock lock(g_simHandleMutex);
    g_simConnect = handle;
}

// One connection: registration, then the dispatch every millisecond until the thread's stop or the end of
// the connection. True when the connection ended (lost, or the simulator quit).
bool lf_runConnection(SimConnectHandle handle, const std::stop_token& stop) {
    lf_publish(handle);
    g_beforeFirstConnection = false;
    lf_defineSimConnectData(handle);
    LinkSession session;
    platform::TimerResolutionGuard resolution(1);
    while (!stop.stop_requested()) {
        if (SimConnect_CallDispatch(handle, lf_dispatch, &session) != kSimOk || session.quit) return true;
        lf_sleep(std::chrono::milliseconds(1), stop);
    }
    return false;
}

// The texts of the items, each once (the fallback chain can end at the pipe it started with).
template <typename T, typename Text>
std::string lf_join(const std::vector<T>& items, std::string_view separator, Text text) {
    std::string joined;
    std::set<std::string> seen;
    for (const T& item : items) {
        std::string one = text(item);
        if (one.empty() || !seen.insert(one).second) continue;
        if (!joined.empty()) joined += separator;
        joined += one;
    }
    return joined;
}

// What the link says while the simulator does not answer: where it tries and which SimConnect.cfg said so,
// on the status line and, whenever that changes, in the log; and why an attempt failed, logged once per
// place and reason rather than once a second.
class WaitReport {
public:
    // Before an attempt, with the settings read for it.
    void trying(const ConnectionSettings& settings) {
        m_plan = connectionPlan(settings, simRegistryPort);
        const std::string where = lf_join(m_plan, " or ", describeTarget);
        std::string source;
        if (settings.files.empty()) {
            m_source = "no SimConnect.cfg found: the simulator on this machine assumed";
            source = fmt::format("no SimConnect.cfg in {}: the simulator on this machine assumed",
                                 lf_join(simConnectConfigFolders(), ", ", [](const auto& f) { return f.string(); }));
        } else {
            m_source = source = "from " + lf_join(settings.files, " and ", [](const auto& f) { return f.string(); });
        }
        const std::string line = fmt::format("{} at {} ({})", lf_waiting(), where, source);
        if (line != m_logged) {
            gf_logLine(line);
            m_logged = line;
            m_reasons.clear();
        }
        show();
    }
    // After a failed open, with the attempts that failed.
    void failed(const std::vector<FailedConnectAttempt>& attempts) {
        for (const FailedConnectAttempt& a : attempts) {
            const std::string target = describeTarget(a.target);
            if (m_warned.insert(target + '\n' + a.reason).second)
                gf_logWarning(fmt::format("Prepar3Dv{} not reached at {}: {}", g_simMajorVersion.load(), target,
                                          a.reason));
            m_reasons[target] = a.reason;
        }
        show();
    }

private:
    static std::string lf_waiting() { return fmt::format("Waiting for Prepar3Dv{} ...", g_simMajorVersion.load()); }

    void show() {
        const std::string where = lf_join(m_plan, " or ", [&](const ConnectTarget& t) {
            const std::string target = describeTarget(t);
            const auto reason = m_reasons.find(target);
            return reason == m_reasons.end() ? target : target + ": " + reason->second;
        });
        std::string status = fmt::format("{} at {} ({})", lf_waiting(), where, m_source);
        if (status == m_shown) return;
        gf_showMessage(status, false);
        m_shown = std::move(status);
    }

    std::vector<ConnectTarget> m_plan;
    std::string m_source;
    std::string m_logged, m_shown;
    std::map<std::string, std::string> m_reasons;  // the latest reason per place
    std::set<std::string> m_warned;                // place and reason, once each
};

}  // namespace

void SimClient(std::stop_token stop) {
    SimConnectHandle handle = SimConnectHandle::None;
    try {
        WaitReport waiting;
        while (!stop.stop_requested() && !gf_exitOrStopRequested()) {
            // Read again on every attempt: a SimConnect.cfg put right meanwhile counts at once.
            const ConnectionSettings settings =
                readSimConnectConfig(0, simConnectConfigFolders(), simRegistryPort).value_or(ConnectionSettings{});
            waiting.trying(settings);
            std::vector<FailedConnectAttempt> failures;
            if (SimConnect_OpenWith(&handle, kAppTitle, settings, &failures) != kSimOk) {
                handle = SimConnectHandle::None;
                waiting.failed(failures);
                lf_sleep(std::chrono::milliseconds(g_retryMs.load()), stop);
                continue;
            }
            // A connection that ends by itself ends the run: the simulator went away or quit.
            if (lf_runConnection(handle, stop)) {
                g_flightRunning = false;
                gf_simDisconnected();
            }
            break;
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
    gf_requestUserStandCheck();
    // Whatever ended the link, no flight runs on it any more.
    g_flightRunning = false;
    g_mainWindow.g_simRunningShown = false;
    g_simConnected = false;
    ui::backend().invalidate(kUpperBand);
    lf_publish(SimConnectHandle::None);
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
    {
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
    gf_handleLinkRequests();
}

bool gf_linkThreadRunning() {
    std::lock_guard lock(g_linkThreadMutex);
    return g_linkThread.joinable();
}

void gf_setLinkRetryInterval(std::chrono::milliseconds interval) { g_retryMs = interval.count(); }

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
        bool failed = false;
        {
            std::lock_guard lock(g_simQueueMutex);
            std::shared_lock handleLock(g_simHandleMutex);
            // Without a connection nothing is asked and nothing counts as failed: the link's end has its own
            // handling.
            const SimConnectHandle h = g_simConnect.load();
            failed = h != SimConnectHandle::None && gf_requestUserPosition(h) != kSimOk;
        }
        if (failed) gf_countRequestError();
    }
    std::lock_guard lock(g_userAcMutex);
    return g_userAcFromSim;
}

namespace {

// The range of std::chrono::year, whose civil-calendar arithmetic the conversion uses.
constexpr std::int64_t kZuluYearMin = -32767;
constexpr std::int64_t kZuluYearMax = 32767;

}  // namespace

std::optional<std::int64_t> gf_zuluEpoch(std::int64_t year, std::int64_t dayOfYear, std::int64_t seconds) {
    using namespace std::chrono;
    if (year < kZuluYearMin || year > kZuluYearMax) return std::nullopt;
    const std::chrono::year y{static_cast<int>(year)};
    if (dayOfYear < 1 || dayOfYear > (y.is_leap() ? 366 : 365) || seconds < 0 || seconds >= 86400)
        return std::nullopt;
    const sys_days newYear = year_month_day{y, January, 1d};
    // At most some 12 million days either side of 1970: far inside 64 bits, even in seconds.
    return (static_cast<std::int64_t>(newYear.time_since_epoch().count()) + dayOfYear - 1) * 86400 + seconds;
}

bool gf_isZuluEpoch(std::int64_t epoch) {
    static const std::int64_t first = *gf_zuluEpoch(kZuluYearMin, 1, 0);
    static const std::int64_t last =
        *gf_zuluEpoch(kZuluYearMax, std::chrono::year{static_cast<int>(kZuluYearMax)}.is_leap() ? 366 : 365, 86399);
    return epoch >= first && epoch <= last;
}

void gf_resetLinkState() {
    g_simConnected = false;
    g_userOnGroundKnown = false;
    g_userOnGround = false;
    g_flightRunning = false;
    g_secondTick = false;
    lf_publish(SimConnectHandle::None);
    g_userObjectId = 2;
    g_requestErrorCount = 0;
    g_simFatalError = false;
    g_beforeFirstConnection = true;
    g_simEpochTime = 0;
    g_simFrameRate = 0.0f;
    gf_resetUserAircraft();
    gf_resetLinkRequests();
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
    gf_setDisplayText(&MainWindow::g_userStandShown, std::string(), kUpperBand);
}
