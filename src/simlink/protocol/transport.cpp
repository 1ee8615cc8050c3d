#include "simlink/protocol/transport.h"

#include <asio.hpp>
#include <cerrno>
#include <optional>
#include <sys/socket.h>

#include "platform/pipes.h"
#include "simlink/protocol/framing.h"

namespace {

std::atomic<int> g_liveTransports{0};
std::atomic<std::uint32_t> g_connectionSerial{0};

std::uint32_t lf_nextSerial() {
    std::uint32_t s = ++g_connectionSerial;
    if (s == 0) s = ++g_connectionSerial;  // 0 means "not connected"
    return s;
}

// Maps a failed completion onto the reasons the owner understands.
std::pair<int, SimResult> lf_mapError(const asio::error_code& ec) {
    if (ec == asio::error::operation_aborted) return {kDisconnectCancelled, kSimCancelled};
    if (ec == asio::error::eof) return {kDisconnectRemoteClosed, kSimRemoteDisconnect};
    if (ec == asio::error::connection_reset || ec == asio::error::broken_pipe ||
        ec == asio::error::connection_aborted)
        return {kDisconnectReset, kSimConnectionReset};
    return {kDisconnectIoError, kSimFail};
}

// Why a connect failed, in the words a user looks for: the distinct reasons get distinct texts.
std::string lf_connectErrorText(int error) {
    switch (error) {
    case ECONNREFUSED: return "refused";
    case ENOENT: return "no such pipe";
    case EHOSTUNREACH:
    case ENETUNREACH: return "no route to the host";
    case ETIMEDOUT: return "timed out";
    case EAGAIN: return "the pipe stays busy";
    default: return std::system_category().message(error);
    }
}

}  // namespace

std::chrono::milliseconds SimConnectTransport::s_pipeBusyWait{5000};
std::chrono::milliseconds SimConnectTransport::s_connectTimeout{5000};

struct SimConnectTransport::Io {
    explicit Io(std::uint32_t maxReceive) : socket(ctx), framer(maxReceive) {}
    asio::io_context ctx;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    asio::generic::stream_protocol::socket socket;
    MessageFramer framer;
    std::atomic<std::size_t> capacity{MessageFramer::kInitialCapacity};
};

std::string simPipeName(const std::string& address, const std::string& port) {
    std::string host = address.empty() ? "." : address;
    std::string name = "\\\\" + host + "\\pipe\\" + (port.empty() ? std::string(kDefaultPipeName) : port);
    if (name.size() > 259) return {};
    return name;
}

SimConnectTransport::SimConnectTransport(TransportCallbacks callbacks) : m_callbacks(std::move(callbacks)) {
    ++g_liveTransports;
}

SimConnectTransport::~SimConnectTransport() {
    close(false, kSimOk);
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    --g_liveTransports;
}

int SimConnectTransport::liveTransports() { return g_liveTransports.load(); }

std::size_t SimConnectTransport::receiveCapacity() const { return m_io ? m_io->capacity.load() : 0; }

int SimConnectTransport::connect(TransportKind kind, const std::string& address, const std::string& port,
                                 std::uint32_t maxReceiveSize, bool disableNagle, AddressFamily family) {
    if (m_state.load() == kConnected || m_thread.joinable()) return 1;
    m_kind = kind;
    m_io = std::make_unique<Io>(maxReceiveSize);
    m_connectError.clear();
    const auto fail = [this](std::string why) {
        m_connectError = std::move(why);
        return 1;
    };
    asio::error_code ec;
    try {
        if (kind == TransportKind::Pipe) {
            std::string name = simPipeName(address, port);
            if (name.empty()) return fail("the pipe name is too long");
            auto path = platform::pipeSocketPath(name);
            if (!path) return fail("no folder for pipes");
            asio::local::stream_protocol::endpoint endpoint(path->string());
            asio::local::stream_protocol::socket s(m_io->ctx);
            auto deadline = std::chrono::steady_clock::now() + s_pipeBusyWait;
            for (;;) {
                // A local socket connects at once, or reports a full backlog (the busy pipe of the
                // original platform) without queueing the attempt: try again until the wait runs out.
                // A plain blocking connect would wait for a free slot without any bound.
                s.open(endpoint.protocol(), ec);
                if (ec) return fail(ec.message());
                s.non_blocking(true, ec);
                int rc = ::connect(s.native_handle(), endpoint.data(), static_cast<socklen_t>(endpoint.size()));
                int err = rc == 0 ? 0 : errno;
                if (rc == 0) {
                    s.non_blocking(false, ec);
                    break;
                }
                s.close(ec);
                if ((err == EAGAIN || err == EWOULDBLOCK) && std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    continue;
                }
                return fail(lf_connectErrorText(err));
            }
            m_io->socket = asio::generic::stream_protocol::socket(std::move(s));
        } else {
            std::string host = address;
            if (host.empty()) host = family == AddressFamily::IPv6 ? "::1" : "127.0.0.1";
            if (port.empty()) return fail("no port");
            asio::ip::tcp::resolver resolver(m_io->ctx);
            auto results = family == AddressFamily::IPv6 ? resolver.resolve(asio::ip::tcp::v6(), host, port, ec)
                                                         : resolver.resolve(asio::ip::tcp::v4(), host, port, ec);
            if (ec || results.empty()) return fail("address not found" + (ec ? ": " + ec.message() : std::string()));
            asio::ip::tcp::endpoint endpoint = results.begin()->endpoint();  // only the first result
            asio::ip::tcp::socket s(m_io->ctx);
            bool done = false;
            s.async_connect(endpoint, [&](const asio::error_code& e) {
                ec = e;
                done = true;
            });
            m_io->ctx.run_for(s_connectTimeout);
            if (!done) {
                s.close();
                m_io->ctx.restart();
                m_io->ctx.run();
                return fail("timed out");
            }
            m_io->ctx.restart();
            if (ec) return fail(lf_connectErrorText(ec.value()));
            if (disableNagle) s.set_option(asio::ip::tcp::no_delay(true), ec);
            m_io->socket = asio::generic::stream_protocol::socket(std::move(s));
        }
    } catch (const std::exception& e) {
        return fail(e.what());
    }

    m_serial = lf_nextSerial();
    m_disconnected = false;
    m_failureStatus = kSimOk;
    m_reason = kDisconnectNone;
    m_state = kConnected;
    m_io->work.emplace(m_io->ctx.get_executor());
    startRead();
    m_thread = std::thread([this] {
        try {
            m_io->ctx.run();
        } catch (...) {
            failFromIo(kDisconnectIoError, kSimFail);
        }
    });
    return 0;
}

void SimConnectTransport::startRead() {
    auto room = m_io->framer.writable();
    if (room.empty()) {
        failFromIo(kDisconnectNoMemory, kSimOutOfMemory);
        return;
    }
    m_io->socket.async_read_some(asio::buffer(room.data(), room.size()), [this](const asio::error_code& ec,
                                                                                 std::size_t n) {
        if (ec) {
            if (m_state.load() != kConnected) return;
            auto [reason, status] = lf_mapError(ec);
            m_lastSystemError = ec.value();
            failFromIo(reason, status);
            return;
        }
        m_io->framer.commit(n);
        for (;;) {
            std::vector<std::uint8_t> message;
            auto r = m_io->framer.extract(message);
            if (r == MessageFramer::Result::Message) {
                if (m_callbacks.onMessage) m_callbacks.onMessage(std::move(message));
                continue;
            }
            if (r == MessageFramer::Result::Skipped) continue;  // padding: what follows may be complete
            if (r == MessageFramer::Result::NeedMore) break;
            if (r == MessageFramer::Result::TooLong)
                failFromIo(kDisconnectTooLong, kSimAbort);
            else if (r == MessageFramer::Result::TooShort)
                failFromIo(kDisconnectTooShort, kSimAbort);
            else
                failFromIo(kDisconnectNoMemory, kSimOutOfMemory);
            return;
        }
        m_io->capacity = m_io->framer.capacity();
        if (m_state.load() == kConnected) startRead();
    });
}

void SimConnectTransport::queuePacket(std::span<const std::uint8_t> packet) {
    if (m_state.load() != kConnected) return;
    std::lock_guard lock(m_sendMutex);
    m_sendQueue.insert(m_sendQueue.end(), packet.begin(), packet.end());
    kickWriteLocked(false);
}

void SimConnectTransport::holdWrites() {
    std::lock_guard lock(m_sendMutex);
    ++m_holds;
}

void SimConnectTransport::releaseWrites() {
    std::lock_guard lock(m_sendMutex);
    if (m_holds > 0) --m_holds;
    kickWriteLocked(false);
}

void SimConnectTransport::kickWriteLocked(bool evenWhileHeld) {
    if (m_writing || m_sendQueue.empty() || (m_holds > 0 && !evenWhileHeld) || m_state.load() != kConnected) return;
    m_writing = true;
    asio::post(m_io->ctx, [this, evenWhileHeld] { startWrite(evenWhileHeld); });
}

void SimConnectTransport::startWrite(bool evenWhileHeld) {
    {
        std::lock_guard lock(m_sendMutex);
        if (m_state.load() != kConnected) m_sendQueue.clear();
        if (m_sendQueue.empty() || (m_holds > 0 && !evenWhileHeld)) {
            // A held queue waits for its release, which starts the next write.
            m_writing = false;
            m_sendDone.notify_all();
            return;
        }
        // The queue keeps the storage of the last write, so that neither side allocates once warmed up.
        m_current.swap(m_sendQueue);
        m_sendQueue.clear();
    }
    asio::async_write(m_io->socket, asio::buffer(m_current), [this](const asio::error_code& ec, std::size_t) {
        if (ec) {
            if (m_state.load() == kConnected) {
                auto [reason, status] = lf_mapError(ec);
                m_lastSystemError = ec.value();
                failFromIo(reason, status);
            }
            std::lock_guard lock(m_sendMutex);
            m_sendQueue.clear();
            m_writing = false;
            m_sendDone.notify_all();
            return;
        }
        startWrite(false);
    });
}

bool SimConnectTransport::flush(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(m_sendMutex);
    for (;;) {
        if (!m_writing && m_sendQueue.empty()) return true;
        // Held packets go too; what is queued behind a write goes once that write is done.
        kickWriteLocked(true);
        if (m_sendDone.wait_until(lock, deadline) == std::cv_status::timeout)
            return !m_writing && m_sendQueue.empty();
    }
}

void SimConnectTransport::failFromIo(int reason, SimResult status) {
    int expected = kConnected;
    if (!m_state.compare_exchange_strong(expected, kIdle)) return;
    m_reason = reason;
    m_failureStatus = status == kSimOk ? kSimFail : status;
    m_disconnected = true;
    asio::error_code ignored;
    m_io->socket.close(ignored);
    m_io->work.reset();
    {
        std::lock_guard lock(m_sendMutex);
        m_sendQueue.clear();
    }
    if (m_callbacks.onDisconnected) m_callbacks.onDisconnected(reason, status);
}

void SimConnectTransport::close(bool withError, SimResult status) {
    m_state = kIdle;
    if (withError) {
        m_failureStatus = status == kSimOk ? kSimFail : status;
        m_disconnected = true;
    }
    m_serial = 0;
    if (!m_io) return;
    if (m_thread.joinable()) {
        asio::post(m_io->ctx, [this] {
            asio::error_code ignored;
            m_io->socket.shutdown(asio::socket_base::shutdown_both, ignored);
            m_io->socket.close(ignored);
            m_io->work.reset();
            m_io->ctx.stop();
        });
        if (m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
    } else {
        asio::error_code ignored;
        m_io->socket.close(ignored);
    }
    std::lock_guard lock(m_sendMutex);
    m_sendQueue.clear();
    m_writing = false;
    m_sendDone.notify_all();
}
