// Carries the packets of one SimConnect client over a TCP socket or a named pipe (a Unix-domain socket
// here) and hands each received message to its owner. All I/O completes on the transport's own I/O
// thread; at most one read and one write are outstanding. Sends never raise SIGPIPE.
//
// Queued packets wait in one contiguous block, and each write takes everything queued by then: the link
// sends hundreds of small requests a frame, and a system call (and a wake-up of the I/O thread) apiece
// cost far more than the requests themselves. While writes are held, packets only queue; the release
// sends them together, in the order they were queued.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "simlink/protocol/wire.h"

enum class TransportKind { Socket = 0, Pipe = 1 };
enum class AddressFamily { IPv4, IPv6 };

// Why a connection ended.
enum DisconnectReason : int {
    kDisconnectNone = 0,
    kDisconnectTooLong = 1,       // announced length above the maximum message size
    kDisconnectTooShort = 2,      // announced length of 1 to 3
    kDisconnectNoMemory = 3,
    kDisconnectRemoteClosed = 4,  // the peer closed its end
    kDisconnectReset = 5,         // the connection was reset or aborted
    kDisconnectCancelled = 8,
    kDisconnectIoError = 9,
};

inline constexpr const char* kDefaultPipeName = "Lockheed Martin Prepar3D v5\\SimConnect";

struct TransportCallbacks {
    // One whole message, header included; called on the I/O thread.
    std::function<void(std::vector<std::uint8_t>&& message)> onMessage;
    // The connection failed; called once, on the I/O thread.
    std::function<void(int reason, SimResult status)> onDisconnected;
};

// The pipe name "\\HOST\pipe\NAME" of an address (empty becomes ".") and a port (empty: the default
// name); empty when the name is longer than the 259 characters a pipe name may have.
std::string simPipeName(const std::string& address, const std::string& port);

class SimConnectTransport {
public:
    explicit SimConnectTransport(TransportCallbacks callbacks);
    ~SimConnectTransport();
    SimConnectTransport(const SimConnectTransport&) = delete;
    SimConnectTransport& operator=(const SimConnectTransport&) = delete;

    // 0 on success, 1 on failure (connectError() then says why). For a pipe the port is the pipe name; a
    // busy pipe is retried for up to pipeBusyWait. A TCP connect gives up after connectTimeout.
    int connect(TransportKind kind, const std::string& address, const std::string& port,
                std::uint32_t maxReceiveSize, bool disableNagle, AddressFamily family = AddressFamily::IPv4);

    // Drops the packet unless connected; else queues a copy of it and starts writing when no write is
    // under way and writes are not held.
    void queuePacket(std::span<const std::uint8_t> packet);

    // Holds back the writing of queued packets until the matching release; holds nest. The last release
    // writes everything queued meanwhile in one go.
    void holdWrites();
    void releaseWrites();

    // Writes what is queued, held or not, and waits (bounded) until all of it has been written.
    bool flush(std::chrono::milliseconds bound);

    // Ends the connection. With error, records the status and marks the transport as failed. Joins the
    // I/O thread unless called on it.
    void close(bool withError = false, SimResult status = kSimOk);

    // Why the last connect failed, in a few words ("refused", "no route to the host", "timed
    // out", ...); empty after a successful one. The connecting thread only.
    const std::string& connectError() const { return m_connectError; }

    bool connected() const { return m_state.load() == kConnected; }
    bool failed() const { return m_disconnected.load(); }
    SimResult failureStatus() const { return m_failureStatus.load(); }
    int disconnectReason() const { return m_reason.load(); }
    std::uint32_t connectionSerial() const { return m_serial.load(); }
    TransportKind kind() const { return m_kind; }
    std::size_t receiveCapacity() const;

    static std::chrono::milliseconds s_pipeBusyWait;
    static std::chrono::milliseconds s_connectTimeout;
    static int liveTransports();

private:
    struct Io;
    enum State { kIdle = 0, kConnected = 2 };

    void startRead();
    // I/O thread: writes everything queued; unless `evenWhileHeld`, nothing while writes are held.
    void startWrite(bool evenWhileHeld);
    // Caller holds m_sendMutex: hands the queue to the I/O thread unless a write is under way.
    void kickWriteLocked(bool evenWhileHeld);
    void failFromIo(int reason, SimResult status);

    TransportCallbacks m_callbacks;
    TransportKind m_kind = TransportKind::Socket;
    std::unique_ptr<Io> m_io;
    std::thread m_thread;
    std::atomic<int> m_state{kIdle};
    std::atomic<bool> m_disconnected{false};
    std::atomic<SimResult> m_failureStatus{kSimOk};
    std::atomic<int> m_reason{kDisconnectNone};
    std::atomic<std::uint32_t> m_serial{0};
    int m_lastSystemError = 0;
    std::string m_connectError;

    std::mutex m_sendMutex;
    std::condition_variable m_sendDone;
    std::vector<std::uint8_t> m_sendQueue;  // queued packets back to back, under m_sendMutex
    int m_holds = 0;                        // under m_sendMutex
    bool m_writing = false;                 // a write is posted or under way, under m_sendMutex
    std::vector<std::uint8_t> m_current;    // the bytes of the write under way; I/O thread
};
