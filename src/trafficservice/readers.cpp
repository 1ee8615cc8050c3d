#include "trafficservice/readers.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/entry.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "frame/timeutil.h"
#include "platform/ui.h"
#include "trafficservice/clients.h"
#include "window/main_window.h"

std::atomic<bool> g_readerError{false};

namespace {

std::mutex g_failureMutex;
std::string g_failure;

// One reader's outage: the clock time of its first failed poll (empty while it is answered), when it began
// relative to the other reader's, and which of its requests failed when last made (bits of ServicePoll).
struct Outage {
    std::string since;
    std::uint64_t order = 0;
    unsigned failing = 0;
};

std::mutex g_outageMutex;
std::array<Outage, 2> g_outages;  // the weather reader's, the traffic reader's
std::uint64_t g_outagesBegun = 0;
std::string g_outageCause;  // of the last failed poll of either reader

constexpr std::array<const char*, 2> kOutageReaders{"weather", "traffic"};

// The line of one reader's outage, or of both (`reader` empty): short, the window is narrow.
std::string lf_outageLine(std::string_view reader, std::string_view since) {
    const std::string whom = reader.empty() ? std::string() : fmt::format("for {} ", reader);
    return fmt::format("RT at {} silent {}since {} UTC ({}); a lost login restarts {}", gf_serviceBaseUrl(), whom,
                       since, g_outageCause, kAppTitle);
}

// The error line of the outages as they are now: the one reader that is cut off, or no reader when both are,
// since the older of the two began. Under g_outageMutex.
void lf_showOutagesLocked() {
    const Outage& weather = g_outages[0];
    const Outage& traffic = g_outages[1];
    if (weather.since.empty() && traffic.since.empty()) {
        gf_clearStandingFault(StandingFault::ServiceSilent);
        return;
    }
    std::string line;
    if (weather.since.empty() || traffic.since.empty()) {
        const std::size_t reader = weather.since.empty() ? 1 : 0;
        line = lf_outageLine(kOutageReaders[reader], g_outages[reader].since);
    } else {
        line = lf_outageLine("", (weather.order < traffic.order ? weather : traffic).since);
    }
    // Each reader's start and end are logged in its own words; the changes of the line itself are not.
    gf_showStandingFault(StandingFault::ServiceSilent, line, false);
}

struct ReaderKind {
    const char* procedure;   // for the log of an exception
    const char* name;        // logged at the start
    const char* shortName;   // in the messages of its end
    const char* stopName;    // in the status line's stop message
    std::atomic<std::int32_t> MainWindow::*indicator;
};

constexpr ReaderKind kWeather{"gf_weatherReader", "Weather Reader", "Weather", "WeatherReader",
                              &MainWindow::g_weatherIndicator};
constexpr ReaderKind kTraffic{"gf_trafficReader", "Traffic Reader", "Traffic", "TrafficReader",
                              &MainWindow::g_trafficIndicator};

void lf_setIndicator(const ReaderKind& kind, std::int32_t state) {
    (g_mainWindow.*kind.indicator) = state;
    ui::backend().invalidate(kUpperBand);
}

void lf_logEnd(const ReaderKind& kind, std::int32_t status) {
    switch (status) {
        case 9999: break;
        case 401: gf_logWarning(fmt::format("re-authentication to RT API is needed, restart {}", "ZNTV_P3D")); break;
        case 400: gf_logWarning(fmt::format("{} RT API: parameter fault", kind.shortName)); break;
        case 403: gf_logWarning(fmt::format("{} RT API: No data for this license type", kind.shortName)); break;
        default: gf_logWarning(fmt::format("{} RT API error: {}", kind.shortName, status)); break;
    }
}

// Both readers: the frame around their loop.
template <class Loop>
void lf_runReader(const ReaderKind& kind, TrafficServiceClient& own, TrafficServiceClient& other,
                  const std::stop_token& token, Loop loop) {
    // The thread's stop and the client's stop flag are one: the loop and its request look at the flag.
    std::stop_callback onStop(token, [&own] { own.stop = true; });
    std::int32_t status = 0;
    try {
        // Without a login id the loop ends at once: the reader never was connected, and is not said to be.
        if (own.loggedIn()) {
            lf_logConnected(kind.name);
            // Shown as arriving from the start: the first refresh without data turns it to "no data".
            lf_setIndicator(kind, kReaderDataArriving);
        }
        loop(status);
        lf_setIndicator(kind, kReaderStopped);
        lf_logEnd(kind, status);
    } catch (const std::exception& e) {
        lf_setIndicator(kind, kReaderStopped);
        gf_logWarning(fmt::format("{}: {}", kind.procedure, e.what()));
        gf_noteServiceFailure(fmt::format("{} at {} stopped: {}", kind.name, gf_serviceBaseUrl(), e.what()));
        other.stop = true;
        gf_readerStopped(false, kind.stopName);
        return;
    }
    if (status != 9999) {
        if (status != 401) {
            gf_noteServiceFailure(
                fmt::format("{} at {} stopped, status: {}", kind.name, gf_serviceBaseUrl(), status));
        }
        other.stop = true;
        gf_readerStopped(status == 401, kind.stopName);
    }
}

// Turns the indicator between "data arriving" and "no data", and only between them: a stopped reader's
// indicator stays as it is. What it shows is read from the indicator itself, which the QNH display also turns
// to "data arriving" (gf_setQnh); a flag of its own beside it would miss that and leave it green for good.
void lf_refreshIndicator(std::atomic<std::int32_t>& indicator, bool noData) {
    std::int32_t from = noData ? kReaderDataArriving : kReaderNoData;
    if (indicator.compare_exchange_strong(from, noData ? kReaderNoData : kReaderDataArriving))
        ui::backend().invalidate(kUpperBand);
}

}  // namespace

void gf_noteServiceFailure(std::string text) {
    std::lock_guard lock(g_failureMutex);
    if (g_failure.empty()) g_failure = std::move(text);
}

void gf_clearServiceFailure() {
    std::lock_guard lock(g_failureMutex);
    g_failure.clear();
}

std::string gf_serviceFailure() {
    std::lock_guard lock(g_failureMutex);
    return g_failure;
}

std::string gf_readerErrorText(std::string_view prefix) {
    const std::string failure = gf_serviceFailure();
    if (failure.empty()) return std::string(prefix);
    return fmt::format("{}: {}", prefix, failure);
}

void gf_noteServicePoll(ServicePoll poll, const TransferResult& transfer) {
    if (transfer.outcome != TransferOutcome::Failed && transfer.outcome != TransferOutcome::Done) return;
    const std::size_t reader = poll == ServicePoll::Traffic ? 1 : 0;
    const unsigned request = 1U << static_cast<unsigned>(poll);
    std::lock_guard lock(g_outageMutex);
    Outage& outage = g_outages[reader];
    if (transfer.done()) {
        if ((outage.failing & request) == 0) return;
        // The weather reader is answered again only when the request that failed is: an answer for the
        // nearest station says nothing of the weather request after it.
        outage.failing &= ~request;
        if (outage.failing != 0) return;
        gf_logLine(fmt::format("RT at {} answers again for {}, silent since {} UTC", gf_serviceBaseUrl(),
                               kOutageReaders[reader], outage.since));
        outage.since.clear();
        lf_showOutagesLocked();
        return;
    }
    // The readers poll on while it lasts: only a login that the service no longer knows once it answers again
    // ends them, and that restarts the program. One line of the window: where, to which reader, since when
    // and why last. Another error on the line stays above it.
    g_outageCause = transfer.errorText();
    outage.failing |= request;
    if (outage.since.empty()) {
        outage.since = gf_clockTime();
        outage.order = ++g_outagesBegun;
        gf_logLine(fmt::format("Error {}", lf_outageLine(kOutageReaders[reader], outage.since)));
    }
    lf_showOutagesLocked();
}

void gf_forgetServiceOutages() {
    std::lock_guard lock(g_outageMutex);
    g_outages = {};
}

void lf_logConnected(std::string_view name) { gf_logIndented(fmt::format("{} connected", name)); }

void gf_readerStopped(bool is401, std::string_view readerName) {
    gf_showMessage(fmt::format("The {} has stopped with an error", readerName), true);
    if (is401) {
        gf_requestExit(ExitReason::ReaderError, 15);
    } else {
        g_readerError.exchange(true);
    }
}

void gf_weatherReader(std::stop_token stop) {
    lf_runReader(kWeather, g_weatherClient, g_trafficClient, stop,
                 [](std::int32_t& status) { g_weatherClient.lf_weatherLoop(status); });
}

void gf_trafficReader(std::stop_token stop) {
    lf_runReader(kTraffic, g_trafficClient, g_weatherClient, stop,
                 [](std::int32_t& status) { g_trafficClient.receive(status); });
}

void gf_refreshConnectionIndicators() {
    if (!g_rtConnected.load()) return;
    lf_refreshIndicator(g_mainWindow.g_weatherIndicator, !g_weatherClient.weatherReceived.load());
    lf_refreshIndicator(g_mainWindow.g_trafficIndicator, g_trafficClient.lastBatchSize.load() < 1);
}
