// The program's own SimConnect client: the request builders named after the published client functions
// (same arguments, results as codes, never exceptions), the dispatch of received messages and the
// connection handle. Every builder queues its request at once as one packet; the transport writes what is
// queued as soon as it can, unless a batch (below) is open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "simlink/protocol/config.h"
#include "simlink/protocol/wire.h"

// A connection handle. Handles are never reused within a process, so a handle kept after
// SimConnect_Close only ever fails; it never reaches another client's state.
enum class SimConnectHandle : std::uint64_t { None = 0 };

// Called once per received message (header included) that is longer than the 12-byte header.
using SimDispatchProc = void (*)(const std::uint8_t* message, std::uint32_t size, void* context);

// Opens a connection as "SimConnect.cfg" (section of the configuration index) and the fallback chain
// say, and sends the open request. The window, user message and event of the original platform are
// accepted for the same call shape; this program gives none and they are not used.
SimResult SimConnect_Open(SimConnectHandle* handle, const char* name, void* window, std::uint32_t userMessage,
                          void* event, std::uint32_t configIndex);
// A connection attempt that failed, and why (the transport's words).
struct FailedConnectAttempt {
    ConnectTarget target;
    std::string reason;
};
// The same, with given settings instead of the configuration files (the fallback chain still applies).
// With `failed`, every attempt that failed on the way is appended to it.
SimResult SimConnect_OpenWith(SimConnectHandle* handle, const char* name, const ConnectionSettings& settings,
                              std::vector<FailedConnectAttempt>* failed = nullptr);

SimResult SimConnect_Close(SimConnectHandle handle);
SimResult SimConnect_CallDispatch(SimConnectHandle handle, SimDispatchProc dispatch, void* context);
SimResult SimConnect_GetLastSentPacketID(SimConnectHandle handle, std::uint32_t* sendId);

SimResult SimConnect_MapClientEventToSimEvent(SimConnectHandle handle, std::uint32_t eventId, const char* eventName);
SimResult SimConnect_TransmitClientEvent(SimConnectHandle handle, std::uint32_t objectId, std::uint32_t eventId,
                                         std::uint32_t data, std::uint32_t groupId, std::uint32_t flags);
SimResult SimConnect_AddClientEventToNotificationGroup(SimConnectHandle handle, std::uint32_t groupId,
                                                       std::uint32_t eventId, bool maskable);
SimResult SimConnect_SetNotificationGroupPriority(SimConnectHandle handle, std::uint32_t groupId,
                                                  std::uint32_t priority);
SimResult SimConnect_AddToDataDefinition(SimConnectHandle handle, std::uint32_t defineId, const char* datumName,
                                         const char* unitsName, SimDatumType datumType = kDatumFloat64,
                                         float epsilon = 0.0f, std::uint32_t datumId = kSimUnused);
SimResult SimConnect_RequestDataOnSimObject(SimConnectHandle handle, std::uint32_t requestId,
                                            std::uint32_t defineId, std::uint32_t objectId, std::uint32_t period,
                                            std::uint32_t flags = 0, std::uint32_t origin = 0,
                                            std::uint32_t interval = 0, std::uint32_t limit = 0);
SimResult SimConnect_RequestDataOnSimObjectType(SimConnectHandle handle, std::uint32_t requestId,
                                                std::uint32_t defineId, std::uint32_t radiusMeters,
                                                std::uint32_t objectType);
// count 0 is sent as 1; the data block is count x unitSize bytes.
SimResult SimConnect_SetDataOnSimObject(SimConnectHandle handle, std::uint32_t defineId, std::uint32_t objectId,
                                        std::uint32_t flags, std::uint32_t count, std::uint32_t unitSize,
                                        const void* data);
SimResult SimConnect_SubscribeToSystemEvent(SimConnectHandle handle, std::uint32_t eventId, const char* eventName);
SimResult SimConnect_AICreateNonATCAircraft(SimConnectHandle handle, const char* containerTitle,
                                            const char* tailNumber, const InitPosition& position,
                                            std::uint32_t requestId);
// The same, and the send id this very request was stamped with (nothing written when it fails). Asking
// SimConnect_GetLastSentPacketID afterwards could name another thread's request sent in between.
SimResult SimConnect_AICreateNonATCAircraft(SimConnectHandle handle, const char* containerTitle,
                                            const char* tailNumber, const InitPosition& position,
                                            std::uint32_t requestId, std::uint32_t* sendId);
SimResult SimConnect_AIReleaseControl(SimConnectHandle handle, std::uint32_t objectId, std::uint32_t requestId);
SimResult SimConnect_AIRemoveObject(SimConnectHandle handle, std::uint32_t objectId, std::uint32_t requestId);
SimResult SimConnect_AISetAircraftFlightPlan(SimConnectHandle handle, std::uint32_t objectId,
                                             const char* flightPlanPath, std::uint32_t requestId);

// While a batch is open on a handle, the requests made on it, from any thread, wait in the order they were
// built; when the last open batch on it closes, they all go out in one write. The link's per-frame flush
// makes hundreds of requests, and a write apiece would cost a system call each. Each request is still
// stamped with its send id as it is built. An unknown handle gives a batch that does nothing.
class SimConnectBatch {
public:
    explicit SimConnectBatch(SimConnectHandle handle);
    ~SimConnectBatch();
    SimConnectBatch(const SimConnectBatch&) = delete;
    SimConnectBatch& operator=(const SimConnectBatch&) = delete;

private:
    std::shared_ptr<void> m_client;  // kept alive, even past a close, until the batch has let go of it
};

// How many clients are open in this process.
int simConnectClientCount();
// Why the connection of a handle ended (a DisconnectReason), 0 while it works or for an unknown handle.
int simConnectDisconnectReason(SimConnectHandle handle);
// The current receive-buffer capacity of a handle's transport (0 for an unknown handle).
std::size_t simConnectReceiveCapacity(SimConnectHandle handle);
// Runs `hook` each time a dispatch finds the received queue empty, before it returns (empty: none), so a
// test can make the receive thread queue and fail at that very moment.
void simConnectAfterEmptyQueueForTest(std::function<void()> hook);
// Primes the send-id counter of a handle, so that wrapping can be exercised without four billion requests.
void simConnectSetSendIdForTest(SimConnectHandle handle, std::uint32_t sendId);
