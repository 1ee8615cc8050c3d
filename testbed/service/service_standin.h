// The HTTP stand-in of the program's web peers, on 127.0.0.1 only. One server, two parts beside each other: the
// update server (downloads tree under "/downloads/") and the live-traffic service (API under "/v4/"); each is
// its own class with installRoutes, constructed before start.
//
// In a test:
//     standin::ServiceStandin service;
//     service.update().putFile("release/version_P3D.json", "10.10.5");
//     service.start();                       // a free port; or start(port)
//     ... service.downloadsRoot() == "http://127.0.0.1:<port>/downloads/" ...
//     service.live().setScenario(...);       // see live_traffic_server.h
//     ... service.serviceRoot() == "http://127.0.0.1:<port>/v4/" ...
//     service.requests().all();              // what was asked
// The destructor stops the server and joins its thread.
//
// Control routes (for the executable): GET /control/requests (JSON), POST /control/requests/clear, and each
// part's own under /control/<part>/ (see update_server.cpp and README.md).
#pragma once

#include "service/live_traffic_server.h"
#include "service/request_log.h"
#include "service/update_server.h"

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace standin {

class ServiceStandin {
public:
    ServiceStandin();
    ~ServiceStandin();
    ServiceStandin(const ServiceStandin&) = delete;
    ServiceStandin& operator=(const ServiceStandin&) = delete;

    // Binds 127.0.0.1 (port 0: any free port) and serves on a thread of its own; returns the port.
    // One start per object. Throws std::runtime_error when the port cannot be bound or on a second start.
    int start(int port = 0);
    // Idempotent; ends stalls at once.
    void stop();

    int port() const { return m_port; }
    std::string baseUrl() const;        // "http://127.0.0.1:<port>/"
    std::string downloadsRoot() const;  // baseUrl() + "downloads/"
    std::string serviceRoot() const;    // baseUrl() + "v4/", the value for ZNTV_SERVICE_URL

    UpdateServer& update() { return m_update; }
    LiveTrafficServer& live() { return m_live; }
    RequestLog& requests() { return m_requests; }

private:
    RequestLog m_requests;
    UpdateServer m_update;
    LiveTrafficServer m_live;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    bool m_started = false;
};

}  // namespace standin
