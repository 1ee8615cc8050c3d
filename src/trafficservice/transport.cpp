#include "trafficservice/transport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <fmt/format.h>
#include <gsl/narrow>
#include <nlohmann/json.hpp>

#include "frame/download.h"
#include "frame/exit.h"
#include "frame/log.h"

namespace {

std::mutex g_timingMutex;
ServiceTiming g_timing;

std::mutex g_transportMutex;
ServiceTransport g_transport;  // empty: libcurl

// What the progress callback of one transfer looks at; lives on the stack of gf_servicePost.
struct TransferState {
    const StopCondition* stop = nullptr;
    bool stopped = false;
};

int lf_transferProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* state = static_cast<TransferState*>(userData);
    if (state->stop->stopRequested()) {
        state->stopped = true;
        return 1;  // aborts the transfer
    }
    return 0;
}

// One easy handle per request, released on every path.
struct EasyHandle {
    CURL* handle = curl_easy_init();
    ~EasyHandle() {
        if (handle) curl_easy_cleanup(handle);
    }
};

}  // namespace

std::string gf_serviceBaseUrl() { return gf_baseUrl("ZNTV_SERVICE_URL", kServiceBaseUrl); }

void gf_setServiceTiming(const ServiceTiming& timing) {
    std::lock_guard lock(g_timingMutex);
    g_timing = timing;
}

ServiceTiming gf_serviceTiming() {
    std::lock_guard lock(g_timingMutex);
    return g_timing;
}

std::int32_t gf_pollPause(const nlohmann::json& value) {
    if (!value.is_number()) return 2000;
    const ServiceTiming t = gf_serviceTiming();
    const double ms = value.get<double>();
    const auto floor = static_cast<double>(t.pollFloor.count());
    const auto ceiling = static_cast<double>(t.pollCeiling.count());
    if (std::isnan(ms)) return 2000;
    return static_cast<std::int32_t>(std::clamp(ms, floor, std::max(floor, ceiling)));
}

std::string gf_formValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0f];
        }
    }
    return out;
}

std::size_t lf_callbackwriter(char* data, std::size_t size, std::size_t count, void* target) {
    if (target == nullptr) return 0;
    const std::size_t bytes = size * count;
    try {
        (void)gsl::narrow<std::int64_t>(bytes);
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {} {} and {}", "lf_callbackwriter", e.what(), size, count));
    }
    static_cast<std::string*>(target)->append(data, bytes);
    return bytes;
}

std::string TransferResult::errorText() const { return curl_easy_strerror(code); }

bool StopCondition::stopRequested() const {
    if (stopFlag != nullptr && stopFlag->load()) return true;
    return onExit && gf_exitOrStopRequested();
}

void gf_setServiceTransport(ServiceTransport transport) {
    std::lock_guard lock(g_transportMutex);
    g_transport = std::move(transport);
}

TransferResult gf_servicePost(std::string_view endpoint, const std::string& body, std::string& target,
                              const StopCondition& stop) {
    ServiceTransport standIn;
    {
        std::lock_guard lock(g_transportMutex);
        standIn = g_transport;
    }
    if (standIn) {
        target.clear();
        if (stop.stopRequested()) return {TransferOutcome::Stopped, CURLE_ABORTED_BY_CALLBACK};
        return standIn(endpoint, body, target, stop);
    }
    gf_curlGlobalInit();
    target.clear();
    EasyHandle easy;
    if (easy.handle == nullptr) return {TransferOutcome::NoHandle, CURLE_FAILED_INIT};
    CURL* h = easy.handle;
    const ServiceTiming timing = gf_serviceTiming();
    const std::string url = fmt::format("{}{}", gf_serviceBaseUrl(), endpoint);
    TransferState state{&stop};

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "deflate,gzip");
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &target);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &lf_callbackwriter);
    // Several threads make requests at once: no signals for the resolver's time-outs.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timing.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timing.transferTimeout.count()));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max<long long>(1, timing.lowSpeedTime.count())));
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &lf_transferProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    // A stop that came before the request is not to wait for the connection.
    if (stop.stopRequested()) return {TransferOutcome::Stopped, CURLE_ABORTED_BY_CALLBACK};
    const CURLcode code = curl_easy_perform(h);
    if (code == CURLE_OK) return {TransferOutcome::Done, code};
    if (state.stopped) return {TransferOutcome::Stopped, code};
    return {TransferOutcome::Failed, code};
}

bool gf_serviceSleep(std::int32_t ms, const StopCondition& stop) {
    if (ms <= 0) return !stop.stopRequested();
    using namespace std::chrono;
    constexpr auto kStep = milliseconds(10);
    const auto deadline = steady_clock::now() + milliseconds(ms);
    for (auto next = steady_clock::now() + kStep; !stop.stopRequested(); next += kStep) {
        if (next >= deadline) {
            std::this_thread::sleep_until(deadline);
            return !stop.stopRequested();
        }
        std::this_thread::sleep_until(next);
    }
    return false;
}
