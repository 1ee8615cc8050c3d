#include "raw_peer.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

RawPeer::RawPeer() {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_listen, 4);
    socklen_t len = sizeof a;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
}

RawPeer::RawPeer(const std::filesystem::path& unixPath) : m_unixPath(unixPath) {
    std::error_code ec;
    std::filesystem::create_directories(unixPath.parent_path(), ec);
    std::filesystem::remove(unixPath, ec);
    m_listen = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, unixPath.c_str(), sizeof a.sun_path - 1);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_listen, 4);
}

RawPeer::~RawPeer() {
    closeConnection();
    if (m_listen >= 0) ::close(m_listen);
    if (!m_unixPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(m_unixPath, ec);
    }
}

bool RawPeer::accept(std::chrono::milliseconds timeout) {
    pollfd p{m_listen, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    m_conn = ::accept(m_listen, nullptr, nullptr);
    return m_conn >= 0;
}

bool RawPeer::fill(std::size_t want, std::chrono::steady_clock::time_point deadline) {
    while (m_buffer.size() < want) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_conn < 0) return false;
        pollfd p{m_conn, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        std::uint8_t tmp[65536];
        ssize_t n = ::recv(m_conn, tmp, sizeof tmp, 0);
        if (n <= 0) return false;
        m_buffer.insert(m_buffer.end(), tmp, tmp + n);
    }
    return true;
}

std::optional<ByteVec> RawPeer::readRequest(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!fill(4, deadline)) return std::nullopt;
    std::uint32_t size;
    std::memcpy(&size, m_buffer.data(), 4);
    if (size < 4 || !fill(size, deadline)) return std::nullopt;
    ByteVec r(m_buffer.begin(), m_buffer.begin() + size);
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + size);
    return r;
}

bool RawPeer::quietFor(std::chrono::milliseconds wait) {
    if (!m_buffer.empty()) return false;
    return !fill(1, std::chrono::steady_clock::now() + wait);
}

bool RawPeer::send(const ByteVec& bytes) {
    if (m_conn < 0) return false;
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(m_conn, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

void RawPeer::closeConnection() {
    if (m_conn >= 0) ::close(m_conn);
    m_conn = -1;
}

ByteVec u32le(std::uint32_t v) {
    ByteVec b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

ByteVec makeMessage(std::uint32_t id, const ByteVec& body) {
    ByteVec m = concat({u32le(static_cast<std::uint32_t>(12 + body.size())), u32le(5), u32le(id), body});
    return m;
}

ByteVec concat(std::initializer_list<ByteVec> parts) {
    ByteVec out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
