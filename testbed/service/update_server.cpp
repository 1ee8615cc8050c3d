#include "service/update_server.h"

#include "service/request_log.h"

#include <httplib.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace standin {

namespace {

// Only paths that stay inside the tree; a ".." would let a request read any file of the machine.
bool lf_safeRelative(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    for (const auto& part : fs::path(path))
        if (part == "..") return false;
    return true;
}

std::optional<std::string> lf_readDiskFile(const fs::path& root, const std::string& path) {
    if (root.empty() || !lf_safeRelative(path)) return std::nullopt;
    const fs::path full = root / path;
    std::error_code ec;
    if (!fs::is_regular_file(full, ec)) return std::nullopt;
    std::ifstream in(full, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string lf_contentType(const std::string& path) {
    const auto ext = fs::path(path).extension().string();
    if (ext == ".json") return "application/json";
    if (ext == ".xml") return "application/xml";
    if (ext == ".zip") return "application/zip";
    if (ext == ".txt") return "text/plain";
    return "application/octet-stream";
}

RecordedRequest lf_record(const httplib::Request& req) {
    RecordedRequest r;
    r.method = req.method;
    r.path = req.path;
    for (const auto& [name, value] : req.params) r.form[name] = value;
    return r;
}

}  // namespace

std::optional<Fault> gf_parseFault(std::string_view text) {
    if (text == "none") return Fault::None;
    if (text == "notfound") return Fault::NotFound;
    if (text == "stall") return Fault::Stall;
    if (text == "breakoff") return Fault::BreakOff;
    if (text == "redirect") return Fault::Redirect;
    if (text == "empty") return Fault::Empty;
    return std::nullopt;
}

std::string_view gf_faultName(Fault fault) {
    switch (fault) {
        case Fault::None: return "none";
        case Fault::NotFound: return "notfound";
        case Fault::Stall: return "stall";
        case Fault::BreakOff: return "breakoff";
        case Fault::Redirect: return "redirect";
        case Fault::Empty: return "empty";
    }
    return "none";
}

UpdateServer::UpdateServer(RequestLog& log) : m_log(log) {}

void UpdateServer::setRoot(const fs::path& folder) {
    std::lock_guard lock(m_mutex);
    m_root = folder;
}

void UpdateServer::putFile(const std::string& path, std::string content) {
    std::lock_guard lock(m_mutex);
    m_files[path] = std::move(content);
}

void UpdateServer::removeFile(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_files.erase(path);
}

void UpdateServer::setFault(const std::string& path, Fault fault) {
    std::lock_guard lock(m_mutex);
    if (fault == Fault::None)
        m_faults.erase(path);
    else
        m_faults[path] = fault;
}

void UpdateServer::clearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

void UpdateServer::reset() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
    m_files.clear();
}

void UpdateServer::setStallLimit(std::chrono::milliseconds limit) {
    std::lock_guard lock(m_mutex);
    m_stallLimit = limit;
}

void UpdateServer::wakeAll() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
}

UpdateServer::Lookup UpdateServer::lookup(const std::string& path) const {
    Lookup result;
    fs::path root;
    {
        std::lock_guard lock(m_mutex);
        if (auto f = m_faults.find(path); f != m_faults.end()) result.fault = f->second;
        if (auto m = m_files.find(path); m != m_files.end()) result.content = m->second;
        result.stallLimit = m_stallLimit;
        root = m_root;
    }
    if (!result.content) result.content = lf_readDiskFile(root, path);
    return result;
}

bool UpdateServer::stall(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    // Bounded, and cut short when the server shuts down, so stopping never waits for a stalled worker.
    m_wake.wait_for(lock, limit, [this] { return m_stopping; });
    return !m_stopping;
}

void UpdateServer::installRoutes(httplib::Server& server) {
    server.Get(std::string(kPrefix) + "(.*)", [this](const httplib::Request& req, httplib::Response& res) {
        m_log.add(lf_record(req));
        const std::string path = req.matches[1];
        Lookup found = lookup(path);

        if (found.fault == Fault::Stall && !stall(found.stallLimit)) {
            res.status = 503;
            return;
        }
        if (found.fault == Fault::Redirect) {
            res.set_redirect(std::string(kPrefix) + "moved/" + path, 302);
            res.set_content("<html>moved</html>", "text/html");
            return;
        }
        if (found.fault == Fault::Empty) {
            res.set_content("", lf_contentType(path));
            return;
        }
        if (found.fault == Fault::NotFound || !found.content) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        if (found.fault == Fault::BreakOff) {
            // The header promises every byte; the provider delivers half and then gives up, which makes the
            // server drop the connection: the client sees a short body.
            auto body = std::make_shared<std::string>(std::move(*found.content));
            const std::size_t sent = body->size() / 2;
            res.set_content_provider(body->size(), lf_contentType(path),
                                     [body, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         if (offset < sent) sink.write(body->data() + offset, sent - offset);
                                         return false;
                                     });
            return;
        }
        res.set_content(*found.content, lf_contentType(path));
    });

    // Control from outside the process (scripts driving the executable).
    server.Post("/control/update/fault", [this](const httplib::Request& req, httplib::Response& res) {
        const auto fault = gf_parseFault(req.get_param_value("fault"));
        const std::string path = req.get_param_value("path");
        if (!fault || path.empty()) {
            res.status = 400;
            res.set_content("need path and fault=none|notfound|stall|breakoff|redirect|empty", "text/plain");
            return;
        }
        setFault(path, *fault);
        res.set_content("ok", "text/plain");
    });
    server.Post("/control/update/file", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string path = req.get_param_value("path");
        if (!lf_safeRelative(path)) {
            res.status = 400;
            res.set_content("need a relative path", "text/plain");
            return;
        }
        putFile(path, req.get_param_value("content"));
        res.set_content("ok", "text/plain");
    });
    server.Post("/control/update/stall", [this](const httplib::Request& req, httplib::Response& res) {
        try {
            setStallLimit(std::chrono::milliseconds(std::stoll(req.get_param_value("ms"))));
            res.set_content("ok", "text/plain");
        } catch (const std::exception&) {
            res.status = 400;
            res.set_content("need ms", "text/plain");
        }
    });
    server.Post("/control/update/reset", [this](const httplib::Request&, httplib::Response& res) {
        reset();
        res.set_content("ok", "text/plain");
    });
}

}  // namespace standin
