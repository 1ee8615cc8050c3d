// How every request reaches the live-traffic service: the base address, the form POST over one libcurl
// easy handle made for the request and released with it, the write callback, the time-outs, and the
// pauses between requests that the service prescribes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <curl/curl.h>
#include <nlohmann/json_fwd.hpp>

// The service's API, version 4: the address a release is built with. ZNTV_SERVICE_URL overrides it (tests
// and the demo point it at the stand-in, e.g. "http://127.0.0.1:8123/v4/").
inline constexpr std::string_view kServiceBaseUrl = "https://rtapi.zentavo.example.net/v4/";

// The base address in force, always ending in "/".
std::string gf_serviceBaseUrl();

// The waits of the service conversation. Tests shorten them; the program keeps the defaults.
struct ServiceTiming {
    // A request that cannot connect within this is given up.
    std::chrono::milliseconds connectTimeout{15000};
    // No request, however slowly its bytes trickle in, takes longer than this.
    std::chrono::milliseconds transferTimeout{60000};
    // A transfer that moves less than a byte per second for this long is given up (whole seconds).
    std::chrono::seconds lowSpeedTime{30};
    // The pauses "rrl" and "wrrl" of the replies are taken within these bounds, so that a 0 cannot make a
    // reader poll without pause and an absurd value cannot put it to sleep for good.
    std::chrono::milliseconds pollFloor{250};
    std::chrono::milliseconds pollCeiling{60000};
    // How long a refused login shows its message before the start-up is stopped.
    std::chrono::milliseconds refusedLoginPause{10000};
};

void gf_setServiceTiming(const ServiceTiming& timing);
ServiceTiming gf_serviceTiming();

// The pause a reply's "rrl" or "wrrl" asks for, in milliseconds: a number is brought into the bounds above,
// anything else (missing, text, ...) gives 2000.
std::int32_t gf_pollPause(const nlohmann::json& value);

// A form value, percent-encoded: letters, digits and "-._~" stay, every other byte becomes %XX.
std::string gf_formValue(std::string_view value);

// The write callback of every service request: appends to the target text. Without a target it takes
// nothing, which makes libcurl fail the transfer.
std::size_t lf_callbackwriter(char* data, std::size_t size, std::size_t count, void* target);

// What became of one request.
enum class TransferOutcome {
    NoHandle,  // curl_easy_init gave nothing
    Failed,    // libcurl reported an error (code)
    Stopped,   // ended early because its stop flag was set or the program is closing
    Done,      // the reply is in the target text
};

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::Done;
    CURLcode code = CURLE_OK;
    bool done() const { return outcome == TransferOutcome::Done; }
    // curl_easy_strerror of the code.
    std::string errorText() const;
};

// When a request ends early: on its client's stop flag and the program's exit, or never (the logout, which
// runs in the exit sequence after both have been set).
struct StopCondition {
    const std::atomic<bool>* stopFlag = nullptr;
    bool onExit = true;
    bool stopRequested() const;
};

// POSTs the form body to the endpoint below the base address and collects the reply into `target` (emptied
// first). One easy handle, made here and released before returning.
TransferResult gf_servicePost(std::string_view endpoint, const std::string& body, std::string& target,
                              const StopCondition& stop);

// What stands in for the HTTP call of gf_servicePost: given what the request would send, it fills `target` as
// the transfer would and says how the transfer ended. Tests and fuzz targets play replies through every reader
// this way, without a server and its waits.
using ServiceTransport = std::function<TransferResult(std::string_view endpoint, const std::string& body,
                                                      std::string& target, const StopCondition& stop)>;
// Puts a stand-in in place of libcurl for every later request; an empty function puts libcurl back.
void gf_setServiceTransport(ServiceTransport transport);

// Sleeps up to `ms` milliseconds in short steps; returns early (false) once the stop condition holds.
bool gf_serviceSleep(std::int32_t ms, const StopCondition& stop);
