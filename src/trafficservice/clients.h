// The two clients of the live-traffic service, alive for the whole process: the weather client logs in and
// reads the nearest METAR station and its QNH; the traffic client carries the login id copied from it and
// reads live, buffered and parked traffic. Each reader thread works on one of them; the work thread logs in,
// moves the request box and runs the parked traffic query; the exit logs out and resets them.
//
// Threads: what other threads read or write while a reader runs is atomic (stop flag, pauses, box, centre,
// QNH, counters) or guarded (login id, seen sets). The reply texts, the live records and the parked records
// each belong to the one thread that makes their request.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "trafficservice/records.h"
#include "trafficservice/transport.h"
#include "window/main_window.h"

namespace svcjson {
class OrderedValue;
}

class TrafficServiceClient {
public:
    TrafficServiceClient();
    virtual ~TrafficServiceClient();
    TrafficServiceClient(const TrafficServiceClient&) = delete;
    TrafficServiceClient& operator=(const TrafficServiceClient&) = delete;

    // The login id the service gave; empty while not logged in. Any thread.
    std::string loginGuid() const;
    void setLoginGuid(std::string guid);
    bool loggedIn() const { return !loginGuid().empty(); }

    // Set from outside to end the reader loop that works on this client; also ends its request under way.
    std::atomic<bool> stop{false};
    // Pauses in milliseconds: between the traffic requests, and after the login and the weather requests.
    std::atomic<std::int32_t> rrl{2000};
    std::atomic<std::int32_t> wrrl{2000};

    // The time shift in minutes sent with every weather and traffic request (the window's, 0..40320).
    static std::int32_t toffset();

    // Forgets the login and clears the stop flag, before a restart; the pauses keep their last values.
    virtual void reset();

protected:
    // One request of this client's reader, ended early by its stop flag or the program's exit; the reply
    // lands in m_response.
    TransferResult post(std::string_view endpoint, const std::string& body);
    // Sleeps unless stopped; false when the stop flag (or, with `onExit`, the program's exit) ended it. A
    // reader's pause waits for its stop flag alone, which the exit sets soon after it begins: a pause that
    // ended on the exit as well would only spin through requests that the exit aborts at once.
    bool pause(std::int32_t ms, bool onExit = false) const { return gf_serviceSleep(ms, StopCondition{&stop, onExit}); }

    std::string m_response;

private:
    mutable std::mutex m_guidMutex;
    std::string m_guid;
};

class WeatherClient : public TrafficServiceClient {
public:
    // The login; true when the service accepted it. `status` receives a refusal's status.
    bool authenticate(std::int32_t& status);
    // One nearest-METAR request; true when a station was found.
    bool nearestmetar(std::int32_t& status);
    // The weather loop of the weather reader: returns only when it ends, always false; `status` says why
    // (9999: stopped on request).
    bool lf_weatherLoop(std::int32_t& status);
    // Applies the QNH of a weather reply with status 200 (the whole reply text for the log lines).
    void applyQnh(const nlohmann::json& reply, const std::string& replyText);

    // The last weather cycle brought weather: its weather request got status 200.
    std::atomic<bool> weatherReceived{false};
    // The last QNH handed on.
    std::atomic<std::int32_t> lastQnh{1013};
    // The METAR station nearest to the user aircraft; weather reader.
    std::string metarStation;

    void reset() override;
};

class TrafficClient : public TrafficServiceClient {
public:
    TrafficClient();

    // ---- login ----
    // The logout. Runs in the exit sequence on a handle of its own, never ended by the stop flags.
    void deauthenticate();

    // ---- live traffic (traffic reader) ----
    // The buffered request of the start: five snapshots handed over with the delays 0, 6, 12, 18, 24 s.
    bool buffer(std::int32_t& status);
    // The traffic loop: returns only when it ends, always false; `status` says why (9999: stopped).
    bool receive(std::int32_t& status);
    // One snapshot of the buffered reply, handed over with the delay n x 6 s; n counts up.
    void lf_processBufferData(const svcjson::OrderedValue& reply, const char* key, std::int32_t& n);
    // Every record (an array of 48 fields) of a live "data" or a snapshot through processLine, in the
    // order of the reply: it decides which of two records of one aircraft comes last.
    void processRecords(const svcjson::OrderedValue& records);
    // Parses one live record (an array of 48 fields) and appends it to the live records when it passes.
    void processLine(const nlohmann::json& line);
    // The steps of processLine that decide on their own.
    bool readRegistration(TrafficRecord& record, const nlohmann::json& line) const;
    bool checkCategory(TrafficRecord& record, const nlohmann::json& line) const;
    bool readHexId(TrafficRecord& record, const nlohmann::json& line) const;
    void correctAltitude(TrafficRecord& point, const nlohmann::json& line) const;
    bool checkCallsign(TrafficRecord& record, const nlohmann::json& line);

    // ---- parked traffic (work thread) ----
    // The parked traffic request for the parked box; false only for a status other than 200 or no login.
    bool parkedtraffic(std::int32_t& status);
    // Parses one parked record (the member's name is its hex id) into the parked records when it passes.
    void processParkedTrafficLine(const std::string& key, const nlohmann::json& line);
    void readParkedReg(ParkedTrafficRecord& record, const nlohmann::json& line) const;

    // ---- state ----
    struct Box {
        std::atomic<double> top, bottom, left, right;  // degrees
    };
    // The box of the live requests (written by the work thread, read by the traffic reader).
    Box requestBox{52.44, 52.17, 4.54, 4.98};
    // The box of the parked request (work thread).
    double parkedTop = 52.44, parkedBottom = 52.17, parkedLeft = 4.54, parkedRight = 4.98;
    // Centre of the range filter of processLine (written by the work thread).
    std::atomic<double> queryLatitude{0.0};
    std::atomic<double> queryLongitude{0.0};
    // Where and with what range the request box was last computed (work thread).
    double lastBoxLatitude = 0.0, lastBoxLongitude = 0.0, lastBoxRange = -1.0;
    // Seconds since 1970 of the latest record read; 0 means no traffic (yet).
    std::atomic<double> latestRecordTime{0.0};
    // The QNH in hPa that corrects the received altitudes (written by the weather reader).
    std::atomic<std::int32_t> qnh{1013};
    // Records in the live records after the last batch was read; 0 after a live poll that brought none.
    std::atomic<std::int64_t> lastBatchSize{0};
    // Lets checkCallsign announce a blocked callsign once (traffic reader).
    bool blockedAnnounce = true;

    // The records of the batch being received (traffic reader); empty again after each hand-over.
    std::vector<TrafficRecord> liveRecords;
    // The result of the last parked traffic query (work thread).
    std::vector<ParkedTrafficRecord> parkedRecords;

    // The active park airport's elevation as the ground reference of the altitude correction; written by
    // the static parking when it reads the park airport's stand file, cleared when the park airport is left.
    void setParkAirportElevation(double feet);
    void clearParkAirportElevation();
    std::optional<double> parkAirportElevation() const;
    // The height every report is read against: the park airport's elevation, else far below any airport.
    // The intake reads the reports of the positions before against the same one.
    double groundReference() const;
    // What processLine knows of the active park airport (none, or its position and elevation); copied from
    // the park airport globals by the work thread, so that the reader never reads them while they change.
    void setParkAirportFilter(bool active, double latitude, double longitude, double elevation);

    // Moves the callsigns and hex ids seen while collecting into the given sets (replacing their content).
    void takeSeenTraffic(std::set<std::string>& callsigns, std::set<std::uint32_t>& hexIds);

    // The query state back to its start values: QNH 1013 hPa, the initial request box, nothing collected.
    void resetQueryState();
    void reset() override;

private:
    std::string m_parkedResponse;
    std::mutex m_seenMutex;
    std::set<std::string> m_seenCallsigns;
    std::set<std::uint32_t> m_seenHexIds;

    // NaN while unknown: value and flag change together, so the reader never sees a half-written one.
    std::atomic<double> m_parkElevation{std::numeric_limits<double>::quiet_NaN()};
    std::atomic<bool> m_parkActive{false};
    std::atomic<double> m_parkLatitude{0.0}, m_parkLongitude{0.0}, m_parkFilterElevation{0.0};
};

extern TrafficClient g_trafficClient;
extern WeatherClient g_weatherClient;

// The service's connected mark is the window's.
inline std::atomic<bool>& g_rtConnected = g_mainWindow.g_rtConnected;
extern std::atomic<bool> g_rtProfessional;      // the licence is a professional one
extern std::atomic<bool> g_collectSeenTraffic;  // the traffic reader collects what it sees
extern std::atomic<std::int32_t> g_qnh;         // hPa; written by the weather loop
// The callsign last announced as blocked (traffic reader).
extern std::string g_blockedCallsign;

// Logs in at the service with the weather client and copies its login id into the traffic client. A
// licence that is expired, unknown or used elsewhere stops the start-up with its user error after the
// message has been shown for a while; a service without its database with a runtime error.
void gf_authenticateOrThrow();
// The request box of the traffic client around the user aircraft, from the traffic radius (work thread).
// Each call also hands the reader the active park airport as the filters see it (setParkAirportFilter).
void gf_setTrafficBox();
// Hands what the traffic reader collected to the parking code (g_seenCallsigns, g_seenHexIds).
void gf_takeOverSeenTraffic();
// The parked traffic around the active park airport into g_trafficClient.parkedRecords: one aircraft per
// stand and callsign, youngest first, the half-hour field holding the age. False when the request failed
// in a way that leaves no list, a refusal (400, 403) included, or when no reply came within a few seconds.
// Work thread.
bool gf_getParkedTraffic();
// Filters and sorts parked records whose half-hour field holds the slot of their report, for the half-hour
// `now`: ages, the MAX_FIT limit (unless RT_PARKTRAFFIC_ONLY), youngest first, one per stand and callsign.
void lf_filterParkedRecords(std::vector<ParkedTrafficRecord>& records, std::uint32_t now);

// The type and category filter of a live record: no ground vehicles or obstacles, a type of 1 to 4
// characters, and none of the types that are no powered aircraft.
bool lf_isAircraft(const TrafficRecord& record, const std::string& category);

// Where the traffic loop hands each batch; gf_processTrafficBatch unless a test puts its own in (an empty
// function restores it). The receiver must leave the client's live records empty.
using TrafficBatchHandOver = std::function<void(TrafficClient& client, std::int32_t delaySeconds)>;
void gf_setTrafficBatchHandOver(TrafficBatchHandOver handOver);
