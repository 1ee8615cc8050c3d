// The update-server part of the service stand-in: serves a downloads tree under "/downloads/" and misbehaves on
// request, path by path (404, a stall without any answer, a transfer broken off after its Content-Length, an
// empty answer).
//
// The tree is a folder on disk (release/version_P3D.json, release/setup_..._v....zip, dbase.zip,
// AIG-regcodes.zip, P3D/archive/stock/...), overlaid by files put in memory; a memory file wins.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace httplib {
class Server;
}

namespace standin {

class RequestLog;

enum class Fault {
    None,      // serve the file (404 when there is none)
    NotFound,  // 404 even when the file exists
    Stall,     // send nothing until the stall limit has passed (or the server stops), then serve as usual
    BreakOff,  // announce the full Content-Length, send half of the bytes, close the connection
    Redirect,  // 302 to another address, with a small page as body
    Empty,     // 200 with an empty body, whether the file exists or not
};

// "none", "notfound", "stall", "breakoff", "redirect", "empty"; nullopt for anything else.
std::optional<Fault> gf_parseFault(std::string_view text);
std::string_view gf_faultName(Fault fault);

class UpdateServer {
public:
    static constexpr std::string_view kPrefix = "/downloads/";

    explicit UpdateServer(RequestLog& log);
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    // Registers the download and control routes. Called once, before the server listens.
    void installRoutes(httplib::Server& server);

    // Paths below are relative to the downloads root, e.g. "release/version_P3D.json".
    void setRoot(const std::filesystem::path& folder);
    void putFile(const std::string& path, std::string content);
    void removeFile(const std::string& path);
    void setFault(const std::string& path, Fault fault);
    void clearFaults();
    // No faults and no memory files.
    void reset();
    // Upper bound of a stall; it keeps a misbehaving test from holding a worker thread for long.
    void setStallLimit(std::chrono::milliseconds limit);

    // Ends all stalls now and makes later ones return at once; the server calls it before it stops.
    void wakeAll();

private:
    struct Lookup {
        Fault fault = Fault::None;
        std::optional<std::string> content;
        std::chrono::milliseconds stallLimit{};
    };
    Lookup lookup(const std::string& path) const;
    bool stall(std::chrono::milliseconds limit);

    RequestLog& m_log;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::filesystem::path m_root;
    std::map<std::string, std::string, std::less<>> m_files;
    std::map<std::string, Fault, std::less<>> m_faults;
    std::chrono::milliseconds m_stallLimit{30000};
};

}  // namespace standin
