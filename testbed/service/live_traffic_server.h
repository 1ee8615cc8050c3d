// The live-traffic part of the service stand-in: the service's API version 4 under "/v4/" (endpoints "auth",
// "deauth", "nearestmetar", "weather", "traffic"), answered from a scenario that plays in real time (or scaled,
// or frozen), with faults on request, every request recorded in the shared RequestLog.
//
// In a test:
//     standin::ServiceStandin service;
//     service.live().setScenario(standin::gf_loadScenario(file));
//     service.live().setTimeScale(0);                  // a frozen world ...
//     service.live().setScenarioTime(120);             // ... at 2 minutes into the scenario
//     service.live().addFault("live", {standin::ServiceFaultKind::Status, 403}, 1);
//     service.start();
//     ... ZNTV_SERVICE_URL = service.serviceRoot() ("http://127.0.0.1:<port>/v4/") ...
//
// Control routes for the executable: /control/live/... (see README.md beside this file).
#pragma once

#include "service/scenario.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace standin {

class RequestLog;

enum class ServiceFaultKind {
    Status,      // a reply that holds only "status" (the given value) and "message"
    NoStatus,    // the usual reply without its "status"
    BrokenJson,  // the first half of the usual reply
    Empty,       // HTTP 200 with an empty body
    Slow,        // the usual reply after a delay (bounded by the slow limit, cut short by a stop)
    Drop,        // headers, then the connection is closed before the promised body
};

struct ServiceFault {
    ServiceFaultKind kind = ServiceFaultKind::Status;
    int status = 0;                     // Status only
    std::chrono::milliseconds delay{};  // Slow only; 0 means the default slow delay
};

// "403" (any status number), "nostatus", "brokenjson", "empty", "drop", "slow" or "slow:MS".
std::optional<ServiceFault> gf_parseServiceFault(std::string_view text);
std::string gf_serviceFaultName(const ServiceFault& fault);

// One command-line or control request: "TARGET=FAULT" or "TARGET=FAULT/N" (only the next N requests).
struct ServiceFaultSpec {
    std::string target;
    ServiceFault fault;
    int times = -1;  // -1: until cleared
};
std::optional<ServiceFaultSpec> gf_parseServiceFaultSpec(std::string_view text);

class LiveTrafficServer {
public:
    static constexpr std::string_view kPrefix = "/v4/";
    static constexpr int kAlways = -1;

    explicit LiveTrafficServer(RequestLog& log);
    LiveTrafficServer(const LiveTrafficServer&) = delete;
    LiveTrafficServer& operator=(const LiveTrafficServer&) = delete;

    // Registers the API and control routes. Called once, before the server listens.
    void installRoutes(httplib::Server& server);

    // --- scenario and clock -----------------------------------------------------------------------------
    // A new scenario starts playing from its time 0 (or from setScenarioTime).
    void setScenario(Scenario scenario);
    Scenario scenario() const;
    // World seconds per real second; 0 freezes the world. The scenario time goes on from where it is.
    void setTimeScale(double scale);
    // Jumps to this scenario time; the clock runs on from there at the current scale.
    void setScenarioTime(double seconds);
    double scenarioTime() const;
    // Fixes "now" (seconds since 1970) for record times and parked slots; nullopt: the system clock.
    void setWallClock(std::optional<double> epochSeconds);

    // --- replies ------------------------------------------------------------------------------------------
    void setPace(int rrlMs, int wrrlMs);  // "rrl" and "wrrl" of the replies; 2000 each at the start
    void setLicenseType(int type);        // "type" of the login reply: 1 standard, 2 professional
    void setExpiry(std::int64_t epochSeconds);  // "expiry" of the login reply; default 120 days ahead
    // Licences that the login accepts (others get 404); empty: every non-empty licence.
    void setAcceptedLicenses(std::vector<std::string> licenses);
    // Whether "nearestmetar", "weather", "traffic" and "deauth" insist on a GUID from a login (else 401).
    void setRequireLogin(bool require);
    // The "QNH" of every weather reply, as a JSON text ("2992", "\"1009.8\"", "null", ...); nullopt: the
    // nearest station's QNH from the scenario. Throws std::invalid_argument for text that is no JSON.
    void setQnhJson(std::optional<std::string> jsonText);
    // The station of every nearest-METAR reply; "" gives an empty "data" list; nullopt: nearest station.
    void setNearestMetar(std::optional<std::string> icao);
    // Members merged into every "data" of live and buffered traffic (a JSON object text), for records that
    // no scenario would hold; "" removes them. Throws std::invalid_argument for anything but an object.
    void setExtraTraffic(const std::string& jsonObject);
    void setExtraParked(const std::string& jsonObject);
    // Snapshots left out of the buffered reply (0 is the newest); none at the start.
    void setOmittedBuffers(std::set<int> indexes);

    // --- faults -------------------------------------------------------------------------------------------
    // Targets: "auth", "deauth", "nearestmetar", "weather", "traffic" (every traffic request), "buffered",
    // "live", "parkedtraffic" (one kind of traffic request; wins over "traffic"), "all" (any endpoint, last).
    // Faults of one target queue up: the first applies to the next `times` requests, then the next one.
    void addFault(const std::string& target, ServiceFault fault, int times = kAlways);
    // Replaces the target's queue by this one fault; a Status fault with status 0 clears the target.
    void setFault(const std::string& target, ServiceFault fault, int times = kAlways);
    void clearFaults();
    void setSlowDelay(std::chrono::milliseconds delay);  // of a Slow fault without its own; 3 s at the start
    void setSlowLimit(std::chrono::milliseconds limit);  // upper bound of any slow reply; 30 s at the start

    // Puts every setting back to its start value (the scenario and its clock stay), forgets the logins.
    void reset();

    // GUIDs of the logins that have not logged out.
    std::vector<std::string> activeSessions() const;

    // Ends all slow replies now and makes later ones answer at once; the server calls it before it stops.
    void wakeAll();

private:
    struct Clock {
        std::chrono::steady_clock::time_point anchor = std::chrono::steady_clock::now();
        double anchorScenario = 0;
        double scale = 1;
    };
    struct QueuedFault {
        ServiceFault fault;
        int times = kAlways;
    };
    struct Session {
        std::string license;
        std::string software;
    };

    void handle(const std::string& endpoint, const httplib::Request& req, httplib::Response& res);
    std::optional<ServiceFault> takeFault(const std::string& endpoint, const std::string& kind);
    bool sleepFor(std::chrono::milliseconds delay);
    // The callers hold m_mutex.
    double scenarioTimeLocked() const;
    double epochLocked() const;
    nlohmann::json replyLocked(const std::string& endpoint, const std::string& kind, const httplib::Request& req);
    nlohmann::json replyAuth(const httplib::Request& req);
    nlohmann::json replyDeauth(const httplib::Request& req);
    nlohmann::json replyNearestMetar(const httplib::Request& req);
    nlohmann::json replyWeather(const httplib::Request& req);
    nlohmann::json replyTraffic(const httplib::Request& req, const std::string& kind);
    std::optional<nlohmann::json> loginFault(const httplib::Request& req) const;
    void installControlRoutes(httplib::Server& server);

    RequestLog& m_log;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;

    Scenario m_scenario;
    Clock m_clock;
    std::optional<double> m_wallClock;

    int m_rrl = 2000;
    int m_wrrl = 2000;
    int m_licenseType = 1;
    std::optional<std::int64_t> m_expiry;
    std::vector<std::string> m_acceptedLicenses;
    bool m_requireLogin = true;
    std::optional<nlohmann::json> m_qnh;
    std::optional<std::string> m_nearestMetar;
    nlohmann::json m_extraTraffic = nlohmann::json::object();
    nlohmann::json m_extraParked = nlohmann::json::object();
    std::set<int> m_omittedBuffers;

    std::map<std::string, std::deque<QueuedFault>, std::less<>> m_faults;
    std::chrono::milliseconds m_slowDelay{3000};
    std::chrono::milliseconds m_slowLimit{30000};

    std::map<std::string, Session, std::less<>> m_sessions;
};

}  // namespace standin
