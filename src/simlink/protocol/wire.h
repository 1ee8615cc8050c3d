// The SimConnect wire format: request numbers, received message ids, result codes, the fixed records that
// travel inside requests, and bounded readers for the messages the simulator sends.
// Every integer on the wire is little-endian.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

static_assert(std::endian::native == std::endian::little, "the wire format is copied as little-endian");

// Result code of every request builder: 0 success, otherwise a failure code of the original platform.
using SimResult = std::uint32_t;

inline constexpr SimResult kSimOk = 0;
inline constexpr SimResult kSimFail = 0x80004005u;           // no usable client, no room
inline constexpr SimResult kSimInvalidArg = 0x80070057u;     // null handle or name, missing cfg section
inline constexpr SimResult kSimTextTooLong = 0x8007007Au;    // a text does not fit its field
inline constexpr SimResult kSimAbort = 0x80004004u;          // a broken message stream
inline constexpr SimResult kSimOutOfMemory = 0x8007000Eu;
inline constexpr SimResult kSimRemoteDisconnect = 0xC000013Eu;  // the peer closed the connection
inline constexpr SimResult kSimCancelled = 0xC0000120u;
inline constexpr SimResult kSimConnectionReset = 0xC000020Du;

inline constexpr std::uint32_t kSimProtocolVersion = 35;
inline constexpr std::uint32_t kSimRequestHeaderSize = 16;
inline constexpr std::uint32_t kSimMessageHeaderSize = 12;
inline constexpr std::uint32_t kSimSendBufferSize = 41088;
inline constexpr std::uint32_t kSimDefaultMaxReceiveSize = 41088;
inline constexpr std::uint32_t kSimUnused = 0xFFFFFFFFu;
inline constexpr std::uint32_t kSimUserObject = 0;  // object id of the user aircraft in requests

// Request numbers; the request id on the wire has the top four bits set.
enum SimRequestNumber : std::uint32_t {
    kReqOpen = 0x01,
    kReqMapClientEventToSimEvent = 0x04,
    kReqTransmitClientEvent = 0x05,
    kReqAddClientEventToNotificationGroup = 0x07,
    kReqSetNotificationGroupPriority = 0x09,
    kReqAddToDataDefinition = 0x0C,
    kReqRequestDataOnSimObject = 0x0E,
    kReqRequestDataOnSimObjectType = 0x0F,
    kReqSetDataOnSimObject = 0x10,
    kReqSubscribeToSystemEvent = 0x17,
    kReqAICreateNonATCAircraft = 0x29,
    kReqAIReleaseControl = 0x2B,
    kReqAIRemoveObject = 0x2C,
    kReqAISetAircraftFlightPlan = 0x2D,
};
inline constexpr std::uint32_t kSimRequestIdMark = 0xF0000000u;

// Sizes of the requests (header included); SetDataOnSimObject adds its data block to its fixed part.
inline constexpr std::uint32_t kSizeOpen = 296;
inline constexpr std::uint32_t kSizeMapClientEvent = 276;
inline constexpr std::uint32_t kSizeTransmitClientEvent = 36;
inline constexpr std::uint32_t kSizeAddClientEventToGroup = 28;
inline constexpr std::uint32_t kSizeSetGroupPriority = 24;
inline constexpr std::uint32_t kSizeAddToDataDefinition = 544;
inline constexpr std::uint32_t kSizeRequestDataOnSimObject = 48;
inline constexpr std::uint32_t kSizeRequestDataOnSimObjectType = 32;
inline constexpr std::uint32_t kSizeSetDataFixed = 36;
inline constexpr std::uint32_t kSizeSubscribeToSystemEvent = 276;
inline constexpr std::uint32_t kSizeAICreateNonATCAircraft = 344;
inline constexpr std::uint32_t kSizeAIReleaseControl = 24;
inline constexpr std::uint32_t kSizeAIRemoveObject = 24;
inline constexpr std::uint32_t kSizeAISetAircraftFlightPlan = 284;

// Text field widths.
inline constexpr std::uint32_t kNameFieldSize = 256;
inline constexpr std::uint32_t kTailNumberFieldSize = 12;
inline constexpr std::uint32_t kPathFieldSize = 260;

// The open request's fixed words: a marker and the client version 5.3.0.0.
inline constexpr std::uint32_t kOpenMarker = 0x50334400u;
inline constexpr std::uint32_t kClientVersion[4] = {5, 3, 0, 0};

// Received message ids.
enum SimRecvId : std::uint32_t {
    kRecvNull = 0,
    kRecvException = 1,
    kRecvOpen = 2,
    kRecvQuit = 3,
    kRecvEvent = 4,
    kRecvObjectAddRemove = 5,
    kRecvFileName = 6,
    kRecvFrame = 7,
    kRecvObjectData = 8,
    kRecvObjectDataByType = 9,
    kRecvAssignedObjectId = 12,
    kRecvClientData = 16,
};

// Datum types of a data definition.
enum SimDatumType : std::uint32_t {
    kDatumInvalid = 0,
    kDatumInt32 = 1,
    kDatumInt64 = 2,
    kDatumFloat32 = 3,
    kDatumFloat64 = 4,
    kDatumString8 = 5,
    kDatumString32 = 6,
    kDatumString64 = 7,
    kDatumString128 = 8,
    kDatumString256 = 9,
    kDatumString260 = 10,
    kDatumStringV = 11,
};

// Request periods of RequestDataOnSimObject.
enum SimPeriod : std::uint32_t {
    kPeriodNever = 0,
    kPeriodOnce = 1,
    kPeriodVisualFrame = 2,
    kPeriodSimFrame = 3,
    kPeriodSecond = 4,
};

inline constexpr std::uint32_t kSimObjectTypeUser = 0;
inline constexpr std::uint32_t kSimObjectTypeAll = 1;
inline constexpr std::uint32_t kSimObjectTypeAircraft = 2;

// Where a new AI aircraft starts (56 bytes on the wire, in this order).
struct InitPosition {
    double latitude = 0;   // degrees
    double longitude = 0;  // degrees
    double altitude = 0;   // feet
    double pitch = 0;
    double bank = 0;
    double heading = 0;    // degrees
    std::uint32_t onGround = 0;
    std::uint32_t airspeed = 0;  // knots
};
static_assert(sizeof(InitPosition) == 56);

// ---- Little-endian access ----

inline void wirePut32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }
inline void wirePutF32(std::uint8_t* p, float v) { std::memcpy(p, &v, 4); }
inline void wirePutF64(std::uint8_t* p, double v) { std::memcpy(p, &v, 8); }
inline std::uint32_t wireGet32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Bounded reads: nullopt when the field does not lie wholly inside the message.
std::optional<std::uint32_t> wireReadU32(std::span<const std::uint8_t> msg, std::size_t offset);
std::optional<std::int64_t> wireReadI64(std::span<const std::uint8_t> msg, std::size_t offset);
std::optional<float> wireReadF32(std::span<const std::uint8_t> msg, std::size_t offset);
std::optional<double> wireReadF64(std::span<const std::uint8_t> msg, std::size_t offset);
// A text field: stops at the first NUL, at the field's end and at the message's end, whichever is first;
// a field that starts beyond the message reads as empty. The bytes are kept as they are.
std::string wireReadText(std::span<const std::uint8_t> msg, std::size_t offset, std::size_t fieldSize);

// ---- Received messages ----
// Each parser returns nullopt when the message is shorter than the last field it reads, so that a
// truncated or hostile message never makes a handler read past its end.

std::optional<std::uint32_t> simMessageId(std::span<const std::uint8_t> msg);

struct RecvExceptionMsg {
    std::uint32_t exception = 0;
    std::uint32_t sendId = 0;
    std::uint32_t index = 0;
};
std::optional<RecvExceptionMsg> parseRecvException(std::span<const std::uint8_t> msg);

struct RecvOpenMsg {
    std::string applicationName;  // raw bytes, at most 255
    std::uint32_t versionMajor = 0, versionMinor = 0, buildMajor = 0, buildMinor = 0;
};
std::optional<RecvOpenMsg> parseRecvOpen(std::span<const std::uint8_t> msg);

struct RecvEventMsg {
    std::uint32_t groupId = 0;
    std::uint32_t eventId = 0;
    std::uint32_t data = 0;
};
std::optional<RecvEventMsg> parseRecvEvent(std::span<const std::uint8_t> msg);

struct RecvObjectAddRemoveMsg {
    std::uint32_t eventId = 0;
    std::uint32_t objectId = 0;
    std::uint32_t objectType = 0;
};
std::optional<RecvObjectAddRemoveMsg> parseRecvObjectAddRemove(std::span<const std::uint8_t> msg);

struct RecvFrameMsg {
    std::uint32_t eventId = 0;
    std::uint32_t data = 0;
    float frameRate = 0;
};
std::optional<RecvFrameMsg> parseRecvFrame(std::span<const std::uint8_t> msg);

// Object data (ids 8 and 9): the data block runs from offset 40 to the message's end.
struct RecvObjectDataMsg {
    std::uint32_t requestId = 0;
    std::uint32_t objectId = 0;
    std::uint32_t defineId = 0;
    std::uint32_t entryNumber = 0;
    std::uint32_t outOf = 0;
    std::span<const std::uint8_t> data;
};
inline constexpr std::uint32_t kObjectDataOffset = 40;
std::optional<RecvObjectDataMsg> parseRecvObjectData(std::span<const std::uint8_t> msg);

// The sizes the simulator sends its messages with.
inline constexpr std::uint32_t kRecvSizeException = 24;
inline constexpr std::uint32_t kRecvSizeOpen = 308;
inline constexpr std::uint32_t kRecvSizeQuit = 12;
inline constexpr std::uint32_t kRecvSizeEvent = 24;
inline constexpr std::uint32_t kRecvSizeObjectAddRemove = 28;
inline constexpr std::uint32_t kRecvSizeFrame = 32;
