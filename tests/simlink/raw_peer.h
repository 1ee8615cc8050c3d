// A bare server end for the client tests: listens on 127.0.0.1 or a Unix-domain socket path, accepts one
// connection, reads whole requests and writes whatever bytes a test hands it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using ByteVec = std::vector<std::uint8_t>;

class RawPeer {
public:
    RawPeer();                                           // TCP on 127.0.0.1, a free port
    explicit RawPeer(const std::filesystem::path& unixPath);  // local socket
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    std::uint16_t port() const { return m_port; }
    bool accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The next whole request (by its length word); nullopt on time-out or a closed connection.
    std::optional<ByteVec> readRequest(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True when nothing arrives within the wait.
    bool quietFor(std::chrono::milliseconds wait);
    bool send(const ByteVec& bytes);
    void closeConnection();

private:
    bool fill(std::size_t want, std::chrono::steady_clock::time_point deadline);

    int m_listen = -1;
    int m_conn = -1;
    std::uint16_t m_port = 0;
    std::filesystem::path m_unixPath;
    ByteVec m_buffer;
};

// Test messages as the simulator frames them: u32 size, u32 version, u32 id, then the body.
ByteVec makeMessage(std::uint32_t id, const ByteVec& body = {});
ByteVec concat(std::initializer_list<ByteVec> parts);
ByteVec u32le(std::uint32_t v);

// Polls a condition until it holds or the wait runs out.
template <typename Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds wait = std::chrono::seconds(5)) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
}
