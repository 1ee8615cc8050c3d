// What the run-time asks of the traffic service: the credential, the two client objects with their login,
// stop flags and query state, the login and logout, the two reader threads, and the connection indicators.
//
// For now these carry the least the run-time needs: there is no request to the service yet, so the login
// finds no login id and the readers only wait for their stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>

#include "window/main_window.h"

class TrafficServiceClient {
public:
    TrafficServiceClient() = default;
    virtual ~TrafficServiceClient() = default;
    TrafficServiceClient(const TrafficServiceClient&) = delete;
    TrafficServiceClient& operator=(const TrafficServiceClient&) = delete;

    // The login id the service gave; empty while not logged in. Any thread.
    std::string loginGuid() const;
    void setLoginGuid(std::string guid);
    bool loggedIn() const { return !loginGuid().empty(); }

    // Set from outside to end the reader loop that works on this client.
    std::atomic<bool> stop{false};
    // Time shift in minutes sent with every request.
    std::atomic<std::int32_t> toffset{0};

    // Forgets the login and clears the stop flag, before a restart.
    virtual void reset();

private:
    mutable std::mutex m_mutex;
    std::string m_guid;
};

class TrafficClient : public TrafficServiceClient {
public:
    // Seconds since 1970 of the latest traffic record received; 0 means no traffic yet.
    std::atomic<double> latestRecordTime{0.0};
    // Centre of the traffic query, written by the work thread.
    std::atomic<double> queryLatitude{0.0};
    std::atomic<double> queryLongitude{0.0};
    std::atomic<std::int64_t> lastBatchSize{0};

    // The logout at the service (the exit sequence, after the readers have ended).
    void deauthenticate();
    // The query state back to its start values: QNH 1013 hPa, the initial query box, no collecting of seen
    // traffic.
    void resetQueryState();
    void reset() override;
};

class WeatherClient : public TrafficServiceClient {
public:
    std::atomic<bool> weatherReceived{false};
};

extern TrafficClient g_trafficClient;
extern WeatherClient g_weatherClient;

// The service's connected mark is the window's.
inline std::atomic<bool>& g_rtConnected = g_mainWindow.g_rtConnected;
extern std::atomic<bool> g_rtProfessional;      // the licence is a professional one
extern std::atomic<bool> g_readerError;         // a reader stopped with an error other than 401
extern std::atomic<bool> g_collectSeenTraffic;  // the traffic reader collects what it sees
extern std::atomic<std::int32_t> g_qnh;         // hPa

// The credential found by gf_findRTLicense; empty until then.
extern std::string g_rtLicense;

// Finds the user's service credential ("RealTraffic.lic").
void gf_findRTLicense();
// Writes the template credential file into the program folder.
void lf_writeLicenseTemplate();
// The traffic request box around the query position, from the traffic radius.
void gf_setTrafficBox();
// Logs in at the service; throws what the start-up must not go past.
void gf_authenticateOrThrow();
// The reader thread procedures; each ends on its stop token or its client's stop flag.
void gf_weatherReader(std::stop_token stop);
void gf_trafficReader(std::stop_token stop);
// Brings the two connection indicators up to date (work thread, while connected).
void gf_refreshConnectionIndicators();
