#include "service/service_standin.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <stdexcept>

namespace standin {

ServiceStandin::ServiceStandin()
    : m_update(m_requests), m_live(m_requests), m_server(std::make_unique<httplib::Server>()) {
    // Short keep-alive so that a stop never waits long for an idle client connection.
    m_server->set_keep_alive_timeout(1);
    // The library's default adds SO_REUSEPORT, which lets a second stand-in bind a port that is in use and
    // steal half of the connections; a busy port must be an error instead.
    m_server->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    m_update.installRoutes(*m_server);
    m_live.installRoutes(*m_server);

    m_server->Get("/control/requests", [this](const httplib::Request&, httplib::Response& res) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& r : m_requests.all())
            list.push_back({{"method", r.method}, {"path", r.path}, {"form", r.form}, {"body", r.body}});
        res.set_content(list.dump(), "application/json");
    });
    m_server->Post("/control/requests/clear", [this](const httplib::Request&, httplib::Response& res) {
        m_requests.clear();
        res.set_content("ok", "text/plain");
    });

    // Last, so that every part's routes come first: whatever no part knows is still recorded, then refused.
    auto unknown = [this](const httplib::Request& req, httplib::Response& res) {
        RecordedRequest r{req.method, req.path, {}, req.body};
        for (const auto& [name, value] : req.params) r.form[name] = value;
        m_requests.add(std::move(r));
        res.status = 404;
        res.set_content("not found", "text/plain");
    };
    m_server->Get(".*", unknown);
    m_server->Post(".*", unknown);
}

ServiceStandin::~ServiceStandin() { stop(); }

int ServiceStandin::start(int port) {
    if (m_started) throw std::runtime_error("service stand-in was started before");
    m_started = true;
    if (port == 0) {
        m_port = m_server->bind_to_any_port("127.0.0.1");
        if (m_port <= 0) throw std::runtime_error("service stand-in: no free port on 127.0.0.1");
    } else {
        if (!m_server->bind_to_port("127.0.0.1", port))
            throw std::runtime_error("service stand-in: cannot bind 127.0.0.1:" + std::to_string(port));
        m_port = port;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // The socket already listens, so clients can connect at once; but stop() only works once the accept loop
    // runs, so wait for it here (bounded) rather than risk a stop that is ignored and a join that never ends.
    for (int i = 0; i < 1000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return m_port;
}

void ServiceStandin::stop() {
    if (!m_thread.joinable()) return;
    m_update.wakeAll();
    m_live.wakeAll();
    m_server->stop();
    m_thread.join();
}

std::string ServiceStandin::baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

std::string ServiceStandin::downloadsRoot() const { return baseUrl() + "downloads/"; }

std::string ServiceStandin::serviceRoot() const { return baseUrl() + "v4/"; }

}  // namespace standin
