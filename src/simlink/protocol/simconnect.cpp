#include "simlink/protocol/simconnect.h"

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct SimConnectClient {
    ~SimConnectClient() {
        if (transport) transport->close(false, kSimOk);
    }

    std::mutex queueMutex;  // the received queue
    std::deque<std::vector<std::uint8_t>> received;
    std::vector<std::uint8_t> sendBuffer = std::vector<std::uint8_t>(kSimSendBufferSize, 0);
    std::size_t cursor = 0;
    std::uint32_t sendId = 0;
    // Last member: destroyed first, so that its I/O thread has stopped before the queue goes away.
    std::unique_ptr<SimConnectTransport> transport;
};

// The library's one lock: requests from different threads never mix in a send buffer, and a handle is
// looked up and used under it, so that a client closed meanwhile is never touched.
std::mutex& lf_libraryMutex() {
    static std::mutex m;
    return m;
}

std::map<std::uint64_t, std::shared_ptr<SimConnectClient>>& lf_clients() {
    static std::map<std::uint64_t, std::shared_ptr<SimConnectClient>> clients;
    return clients;
}

std::uint64_t g_nextHandle = 1;  // under the library lock
std::function<void()> g_afterEmptyQueueHook;  // tests only: set while no dispatch runs

// Caller holds the library lock.
SimConnectClient* lf_find(SimConnectHandle handle) {
    auto it = lf_clients().find(static_cast<std::uint64_t>(handle));
    return it == lf_clients().end() ? nullptr : it->second.get();
}

std::shared_ptr<SimConnectClient> lf_share(SimConnectHandle handle) {
    std::lock_guard lock(lf_libraryMutex());
    auto it = lf_clients().find(static_cast<std::uint64_t>(handle));
    return it == lf_clients().end() ? nullptr : it->second;
}

// A text into a fixed field that the reservation has zeroed: at most size-1 characters and the NUL;
// a null text leaves the field empty.
bool lf_putText(std::uint8_t* field, std::size_t fieldSize, const char* text) {
    if (text == nullptr) return true;
    std::size_t n = std::strlen(text);
    if (n >= fieldSize) return false;
    std::memcpy(field, text, n);
    return true;
}

// Reserve, write and commit one request, all under the library lock. The writer fills the payload and
// returns false when a text does not fit; the reservation is then taken back. The send id the request was
// stamped with goes to `sendIdOut` when asked for: read under the same lock, no other thread's request can
// come between.
template <typename Writer>
SimResult lf_build(SimConnectHandle handle, std::uint32_t number, std::size_t size, Writer&& write,
                   std::uint32_t* sendIdOut = nullptr) {
    std::lock_guard lock(lf_libraryMutex());
    SimConnectClient* c = lf_find(handle);
    if (c == nullptr || !c->transport) return kSimFail;
    if (c->transport->failed()) return c->transport->failureStatus();
    if (size > kSimSendBufferSize - c->cursor) return kSimFail;

    std::uint8_t* p = c->sendBuffer.data() + c->cursor;
    if (++c->sendId == 0) c->sendId = 1;
    wirePut32(p + 12, c->sendId);
    c->cursor += size;
    wirePut32(p, static_cast<std::uint32_t>(size));
    wirePut32(p + 4, kSimProtocolVersion);
    wirePut32(p + 8, kSimRequestIdMark | number);
    if (!write(p)) {
        std::memset(p, 0, size);
        c->cursor -= size;
        return kSimTextTooLong;
    }
    c->transport->queuePacket(std::span<const std::uint8_t>(c->sendBuffer.data(), c->cursor));
    std::memset(c->sendBuffer.data(), 0, c->cursor);
    c->cursor = 0;
    if (sendIdOut != nullptr) *sendIdOut = c->sendId;
    return kSimOk;
}

SimResult lf_open(SimConnectHandle* handle, const char* name, const ConnectionSettings& settings,
                  std::vector<FailedConnectAttempt>* failed) {
    if (handle == nullptr || name == nullptr) return kSimInvalidArg;
    *handle = SimConnectHandle::None;
    if (std::strlen(name) >= kNameFieldSize) return kSimTextTooLong;

    auto client = std::make_shared<SimConnectClient>();
    SimConnectClient* raw = client.get();
    TransportCallbacks callbacks;
    callbacks.onMessage = [raw](std::vector<std::uint8_t>&& message) {
        std::lock_guard lock(raw->queueMutex);
        raw->received.push_back(std::move(message));
    };
    // The dispatching thread polls and sees the failure in CallDispatch's result; nothing to wake here.
    callbacks.onDisconnected = [](int, SimResult) {};

    std::unique_ptr<SimConnectTransport> connected;
    bool ok = connectWithFallback(settings, simRegistryPort,
                                  [&](TransportKind kind, AddressFamily family, const std::string& address,
                                      const std::string& port) {
                                      auto t = std::make_unique<SimConnectTransport>(callbacks);
                                      if (t->connect(kind, address, port, settings.maxReceiveSize,
                                                     settings.disableNagle, family) != 0) {
                                          if (failed != nullptr)
                                              failed->push_back({{kind, family, address, port}, t->connectError()});
                                          return false;  // each failed attempt is closed by its destructor
                                      }
                                      connected = std::move(t);
                                      return true;
                                  });
    if (!ok) return kSimFail;
    client->transport = std::move(connected);

    SimConnectHandle h;
    {
        std::lock_guard lock(lf_libraryMutex());
        h = static_cast<SimConnectHandle>(g_nextHandle++);
        lf_clients()[static_cast<std::uint64_t>(h)] = client;
    }
    SimResult r = lf_build(h, kReqOpen, kSizeOpen, [&](std::uint8_t* p) {
        if (!lf_putText(p + 16, kNameFieldSize, name)) return false;
        wirePut32(p + 272, 0);
        wirePut32(p + 276, kOpenMarker);
        for (int i = 0; i < 4; ++i) wirePut32(p + 280 + 4 * i, kClientVersion[i]);
        return true;
    });
    if (r != kSimOk) {
        SimConnect_Close(h);
        return r;
    }
    *handle = h;
    return kSimOk;
}

}  // namespace

SimResult SimConnect_Open(SimConnectHandle* handle, const char* name, void* /*window*/, std::uint32_t /*userMessage*/,
                          void* /*event*/, std::uint32_t configIndex) {
    if (handle == nullptr || name == nullptr) return kSimInvalidArg;
    *handle = SimConnectHandle::None;
    auto settings = readSimConnectConfig(configIndex, simConnectConfigFolders(), simRegistryPort);
    if (!settings) return kSimInvalidArg;
    return lf_open(handle, name, *settings, nullptr);
}

SimResult SimConnect_OpenWith(SimConnectHandle* handle, const char* name, const ConnectionSettings& settings,
                              std::vector<FailedConnectAttempt>* failed) {
    return lf_open(handle, name, settings, failed);
}

SimConnectBatch::SimConnectBatch(SimConnectHandle handle) {
    auto c = lf_share(handle);
    if (!c || !c->transport) return;
    c->transport->holdWrites();
    m_client = std::move(c);
}

SimConnectBatch::~SimConnectBatch() {
    if (!m_client) return;
    static_cast<SimConnectClient*>(m_client.get())->transport->releaseWrites();
}

SimResult SimConnect_Close(SimConnectHandle handle) {
    std::shared_ptr<SimConnectClient> c;
    {
        std::lock_guard lock(lf_libraryMutex());
        auto it = lf_clients().find(static_cast<std::uint64_t>(handle));
        if (it == lf_clients().end()) return kSimFail;
        c = std::move(it->second);
        lf_clients().erase(it);
    }
    // Give the last writes a moment before the socket closes.
    if (c->transport) {
        c->transport->flush(std::chrono::milliseconds(100));
        c->transport->close(false, kSimOk);
    }
    std::lock_guard lock(c->queueMutex);
    c->received.clear();
    return kSimOk;
}

SimResult SimConnect_CallDispatch(SimConnectHandle handle, SimDispatchProc dispatch, void* context) {
    auto c = lf_share(handle);
    if (!c || dispatch == nullptr) return kSimFail;
    for (;;) {
        // The failure is read before the queue is looked at: the receive thread queues a message before it
        // fails on the bytes behind it, so a failure seen here has every message that came before it in the
        // queue already. Read after finding the queue empty, it could be one whose last message was queued
        // in between, and the caller, which ends the connection on that result, would never get it.
        const bool failedBefore = c->transport && c->transport->failed();
        std::vector<std::uint8_t> message;
        bool empty;
        {
            std::lock_guard lock(c->queueMutex);
            empty = c->received.empty();
            if (!empty) {
                message = std::move(c->received.front());
                c->received.pop_front();
            }
        }
        if (empty) {
            if (g_afterEmptyQueueHook) g_afterEmptyQueueHook();
            return failedBefore ? c->transport->failureStatus() : kSimOk;
        }
        // Outside the lock: the callback may take its time, call builders, or throw; the queue stays whole
        // and the remaining messages wait for the next call.
        if (message.size() > kSimMessageHeaderSize - 1)
            dispatch(message.data(), static_cast<std::uint32_t>(message.size()), context);
    }
}

SimResult SimConnect_GetLastSentPacketID(SimConnectHandle handle, std::uint32_t* sendId) {
    if (sendId == nullptr) return kSimFail;
    std::lock_guard lock(lf_libraryMutex());
    SimConnectClient* c = lf_find(handle);
    if (c == nullptr) return kSimFail;
    *sendId = c->sendId;
    return kSimOk;
}

SimResult SimConnect_MapClientEventToSimEvent(SimConnectHandle handle, std::uint32_t eventId, const char* eventName) {
    return lf_build(handle, kReqMapClientEventToSimEvent, kSizeMapClientEvent, [&](std::uint8_t* p) {
        wirePut32(p + 16, eventId);
        return lf_putText(p + 20, kNameFieldSize, eventName);
    });
}

SimResult SimConnect_TransmitClientEvent(SimConnectHandle handle, std::uint32_t objectId, std::uint32_t eventId,
                                         std::uint32_t data, std::uint32_t groupId, std::uint32_t flags) {
    return lf_build(handle, kReqTransmitClientEvent, kSizeTransmitClientEvent, [&](std::uint8_t* p) {
        wirePut32(p + 16, objectId);
        wirePut32(p + 20, eventId);
        wirePut32(p + 24, data);
        wirePut32(p + 28, groupId);
        wirePut32(p + 32, flags);
        return true;
    });
}

SimResult SimConnect_AddClientEventToNotificationGroup(SimConnectHandle handle, std::uint32_t groupId,
                                                       std::uint32_t eventId, bool maskable) {
    return lf_build(handle, kReqAddClientEventToNotificationGroup, kSizeAddClientEventToGroup, [&](std::uint8_t* p) {
        wirePut32(p + 16, groupId);
        wirePut32(p + 20, eventId);
        wirePut32(p + 24, maskable ? 1u : 0u);
        return true;
    });
}

SimResult SimConnect_SetNotificationGroupPriority(SimConnectHandle handle, std::uint32_t groupId,
                                                  std::uint32_t priority) {
    return lf_build(handle, kReqSetNotificationGroupPriority, kSizeSetGroupPriority, [&](std::uint8_t* p) {
        wirePut32(p + 16, groupId);
        wirePut32(p + 20, priority);
        return true;
    });
}

SimResult SimConnect_AddToDataDefinition(SimConnectHandle handle, std::uint32_t defineId, const char* datumName,
                                         const char* unitsName, SimDatumType datumType, float epsilon,
                                         std::uint32_t datumId) {
    return lf_build(handle, kReqAddToDataDefinition, kSizeAddToDataDefinition, [&](std::uint8_t* p) {
        wirePut32(p + 16, defineId);
        if (!lf_putText(p + 20, kNameFieldSize, datumName)) return false;
        if (!lf_putText(p + 276, kNameFieldSize, unitsName)) return false;
        wirePut32(p + 532, datumType);
        wirePutF32(p + 536, epsilon);
        wirePut32(p + 540, datumId);
        return true;
    });
}

SimResult SimConnect_RequestDataOnSimObject(SimConnectHandle handle, std::uint32_t requestId, std::uint32_t defineId,
                                            std::uint32_t objectId, std::uint32_t period, std::uint32_t flags,
                                            std::uint32_t origin, std::uint32_t interval, std::uint32_t limit) {
    return lf_build(handle, kReqRequestDataOnSimObject, kSizeRequestDataOnSimObject, [&](std::uint8_t* p) {
        const std::uint32_t words[] = {requestId, defineId, objectId, period, flags, origin, interval, limit};
        for (int i = 0; i < 8; ++i) wirePut32(p + 16 + 4 * i, words[i]);
        return true;
    });
}

SimResult SimConnect_RequestDataOnSimObjectType(SimConnectHandle handle, std::uint32_t requestId,
                                                std::uint32_t defineId, std::uint32_t radiusMeters,
                                                std::uint32_t objectType) {
    return lf_build(handle, kReqRequestDataOnSimObjectType, kSizeRequestDataOnSimObjectType, [&](std::uint8_t* p) {
        wirePut32(p + 16, requestId);
        wirePut32(p + 20, defineId);
        wirePut32(p + 24, radiusMeters);
        wirePut32(p + 28, objectType);
        return true;
    });
}

SimResult SimConnect_SetDataOnSimObject(SimConnectHandle handle, std::uint32_t defineId, std::uint32_t objectId,
                                        std::uint32_t flags, std::uint32_t count, std::uint32_t unitSize,
                                        const void* data) {
    std::uint32_t n = count == 0 ? 1 : count;
    std::uint64_t dataBytes = static_cast<std::uint64_t>(n) * unitSize;
    if (dataBytes > kSimSendBufferSize - kSizeSetDataFixed) return kSimFail;  // can never fit
    if (dataBytes > 0 && data == nullptr) return kSimFail;
    return lf_build(handle, kReqSetDataOnSimObject, kSizeSetDataFixed + static_cast<std::size_t>(dataBytes),
                    [&](std::uint8_t* p) {
                        wirePut32(p + 16, defineId);
                        wirePut32(p + 20, objectId);
                        wirePut32(p + 24, flags);
                        wirePut32(p + 28, n);
                        wirePut32(p + 32, unitSize);
                        if (dataBytes > 0) std::memcpy(p + 36, data, static_cast<std::size_t>(dataBytes));
                        return true;
                    });
}

SimResult SimConnect_SubscribeToSystemEvent(SimConnectHandle handle, std::uint32_t eventId, const char* eventName) {
    return lf_build(handle, kReqSubscribeToSystemEvent, kSizeSubscribeToSystemEvent, [&](std::uint8_t* p) {
        wirePut32(p + 16, eventId);
        return lf_putText(p + 20, kNameFieldSize, eventName);
    });
}

SimResult SimConnect_AICreateNonATCAircraft(SimConnectHandle handle, const char* containerTitle, const char* tailNumber,
                                            const InitPosition& position, std::uint32_t requestId) {
    return SimConnect_AICreateNonATCAircraft(handle, containerTitle, tailNumber, position, requestId, nullptr);
}

SimResult SimConnect_AICreateNonATCAircraft(SimConnectHandle handle, const char* containerTitle, const char* tailNumber,
                                            const InitPosition& position, std::uint32_t requestId,
                                            std::uint32_t* sendId) {
    return lf_build(handle, kReqAICreateNonATCAircraft, kSizeAICreateNonATCAircraft, [&](std::uint8_t* p) {
        if (!lf_putText(p + 16, kNameFieldSize, containerTitle)) return false;
        if (!lf_putText(p + 272, kTailNumberFieldSize, tailNumber)) return false;
        wirePutF64(p + 284, position.latitude);
        wirePutF64(p + 292, position.longitude);
        wirePutF64(p + 300, position.altitude);
        wirePutF64(p + 308, position.pitch);
        wirePutF64(p + 316, position.bank);
        wirePutF64(p + 324, position.heading);
        wirePut32(p + 332, position.onGround);
        wirePut32(p + 336, position.airspeed);
        wirePut32(p + 340, requestId);
        return true;
    }, sendId);
}

SimResult SimConnect_AIReleaseControl(SimConnectHandle handle, std::uint32_t objectId, std::uint32_t requestId) {
    return lf_build(handle, kReqAIReleaseControl, kSizeAIReleaseControl, [&](std::uint8_t* p) {
        wirePut32(p + 16, objectId);
        wirePut32(p + 20, requestId);
        return true;
    });
}

SimResult SimConnect_AIRemoveObject(SimConnectHandle handle, std::uint32_t objectId, std::uint32_t requestId) {
    return lf_build(handle, kReqAIRemoveObject, kSizeAIRemoveObject, [&](std::uint8_t* p) {
        wirePut32(p + 16, objectId);
        wirePut32(p + 20, requestId);
        return true;
    });
}

SimResult SimConnect_AISetAircraftFlightPlan(SimConnectHandle handle, std::uint32_t objectId,
                                             const char* flightPlanPath, std::uint32_t requestId) {
    return lf_build(handle, kReqAISetAircraftFlightPlan, kSizeAISetAircraftFlightPlan, [&](std::uint8_t* p) {
        wirePut32(p + 16, objectId);
        if (!lf_putText(p + 20, kPathFieldSize, flightPlanPath)) return false;
        wirePut32(p + 280, requestId);
        return true;
    });
}

int simConnectClientCount() {
    std::lock_guard lock(lf_libraryMutex());
    return static_cast<int>(lf_clients().size());
}

int simConnectDisconnectReason(SimConnectHandle handle) {
    auto c = lf_share(handle);
    return c && c->transport ? c->transport->disconnectReason() : 0;
}

std::size_t simConnectReceiveCapacity(SimConnectHandle handle) {
    auto c = lf_share(handle);
    return c && c->transport ? c->transport->receiveCapacity() : 0;
}

void simConnectAfterEmptyQueueForTest(std::function<void()> hook) {
    g_afterEmptyQueueHook = std::move(hook);
}

void simConnectSetSendIdForTest(SimConnectHandle handle, std::uint32_t sendId) {
    std::lock_guard lock(lf_libraryMutex());
    if (SimConnectClient* c = lf_find(handle)) c->sendId = sendId;
}
