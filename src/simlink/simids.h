// The fixed vocabulary the program registers with the simulator on every connection (system events, data
// definitions, client events, the notification group), its request ids, and the records that carry data
// between the work thread and the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "simlink/protocol/simconnect.h"

// System events, subscribed in the order of gf_simSystemEvents().
enum SimSystemEventId : std::uint32_t {
    kEventSim = 201,
    kEventObjectAdded = 202,
    kEventObjectRemoved = 203,
    kEventFrame = 204,
    kEventPositionChanged = 205,
    kEventFlightLoaded = 206,
};

// Client events, mapped in the order of gf_simClientEvents().
enum SimClientEventId : std::uint32_t {
    kEventBeaconLightsSet = 207,
    kEventNavLightsSet = 208,
    kEventTaxiLightsSet = 209,
    kEventStrobesSet = 210,
    kEventLandingLightsSet = 211,
    kEventCabinLightsSet = 212,
    kEventLogoLightsSet = 213,
    kEventAllLightsToggle = 214,
    kEventFreezeLatLonSet = 215,
    kEventFreezeAltitudeSet = 216,
    kEventFreezeAttitudeSet = 217,
    kEventFlapsSet = 218,
    kEventSpoilersSet = 219,
    kEventGearSet = 220,
    kEventEngineAutoStart = 221,
    kEventEngineAutoShutdown = 222,
    kEventThrottleSet = 223,
};

inline constexpr std::uint32_t kAiEventGroup = 301;

// Data definitions.
enum SimDefineId : std::uint32_t {
    kDefineEngineControls = 401,  // spoilers and two throttles, written by the work thread
    kDefineAiPosition = 402,      // AircraftUpdate's 64-byte block
    kDefineUserPosition = 403,    // UserAcData's 96-byte block
    kDefineAircraftInRange = 404,
    kDefineStaticData = 405,
    kDefineLightStates = 406,     // defined, never requested
    kDefineUserTitle = 407,
    kDefineUserModel = 408,
    kDefineUserOnGround = 409,
};

// Request ids.
enum SimRequestId : std::uint32_t {
    kRequestAircraftInRange = 101,
    kRequestStaticData = 102,
    kRequestReleaseControl = 103,
    kRequestCreateAircraft = 104,
    kRequestRemoveObject = 105,
    kRequestUserTitle = 106,
    kRequestUserModel = 107,
    kRequestUserOnGround = 108,
    kRequestUserPosition = 109,
    kRequestFlightPlan = 110,
};

struct SimDatum {
    const char* name;
    const char* units;  // nullptr: no units
    SimDatumType type;
};

struct SimDefinition {
    std::uint32_t defineId;
    std::span<const SimDatum> datums;
};

struct SimNamedEvent {
    std::uint32_t id;
    const char* name;
};

std::span<const SimNamedEvent> gf_simSystemEvents();  // subscription order
std::span<const SimDefinition> gf_simDefinitions();   // registration order
std::span<const SimNamedEvent> gf_simClientEvents();  // mapping order
std::span<const std::uint32_t> gf_simGroupEvents();   // order of adding to group 301

// ---- Records ----

// The block of define 402 (64 bytes), then the object it belongs to.
struct AircraftUpdate {
    double latitude = 0;   // degrees
    double longitude = 0;  // degrees
    double pitch = 0;      // radians
    double bank = 0;       // radians
    double heading = 0;    // radians, true
    double altitude = 0;   // feet
    double verticalSpeed = 0;  // feet per second
    double airspeed = 0;   // knots, true
    std::uint32_t objectID = 0;
};
static_assert(offsetof(AircraftUpdate, objectID) == 64);
inline constexpr std::uint32_t kAircraftUpdateBlockSize = 64;

struct ClientEventRequest {
    std::uint32_t objectID = 0;
    std::uint32_t eventID = 0;
    std::uint32_t data = 0;
};

struct CreateAircraftRequest {
    InitPosition position;
    std::string callsign;             // sent as the tail number
    std::string_view containerTitle;  // the livery title, owned by the livery database
    std::uint32_t hexid = 0;
};

struct PendingCreation {
    std::uint32_t sendId = 0;
    std::uint32_t hexid = 0;
    std::string callsign;
    // Complete in-range reports since the creation went out; one that is never announced in range is given
    // up after a few, so that the list does not grow with creations that will never be matched.
    std::uint32_t rounds = 0;
};

// The block of define 403 (96 bytes).
struct UserAcData {
    double latitude = 0;
    double longitude = 0;
    double pitch = 0;
    double bank = 0;
    double heading = 0;
    double altitude = 0;  // stored never below 0
    double altAboveGround = 0;
    double groundSpeed = 0;
    std::int64_t zuluSeconds = 0;
    std::int64_t zuluDayOfYear = 0;
    std::int64_t zuluYear = 0;
    std::int64_t lightStates = 0;
};
static_assert(sizeof(UserAcData) == 96);

// The block of define 404 (56 bytes).
struct AircraftInRangeData {
    double altAboveGround = 0;
    double groundAltitude = 0;
    std::int64_t onGround = 0;
    std::string atcId;  // at most 31 bytes
};

// The block of define 405.
struct StaticData {
    double cgToGround = 0;  // feet
    double pitch = 0;       // radians
};

// ---- Decoding received data blocks; nullopt when the block is shorter than its definition ----

std::optional<UserAcData> gf_decodeUserAcData(std::span<const std::uint8_t> block);  // altitude clamped at 0
std::optional<AircraftInRangeData> gf_decodeAircraftInRange(std::span<const std::uint8_t> block);
std::optional<StaticData> gf_decodeStaticData(std::span<const std::uint8_t> block);
std::optional<std::int64_t> gf_decodeUserOnGround(std::span<const std::uint8_t> block);
// Define 407 (STRINGV): up to the NUL or the end of the block; define 408 (STRING32): at most 31 bytes.
std::string gf_decodeUserTitle(std::span<const std::uint8_t> block);
std::string gf_decodeUserModel(std::span<const std::uint8_t> block);

// ---- Registration and requests ----

// The subscriptions, definitions, mappings and group set-up, in that order, on every new connection;
// results are ignored.
void lf_defineSimConnectData(SimConnectHandle handle);
SimResult lf_addEventToGroup(SimConnectHandle handle, std::uint32_t eventId);

// Requests 106 and 107 (defines 407 and 408 of the user aircraft, once). Logs "SimConnect request user ac
// title fails" or "SimConnect reques user ac model fails" for a failed one and returns how many failed;
// the link counts each as a request error. The caller holds the simulator queue lock.
int gf_requestUserTitleAndModel(SimConnectHandle handle);
// Request 109 (define 403 of the user aircraft, once); logs "SimConnect request user ac position fails".
SimResult gf_requestUserPosition(SimConnectHandle handle);
// Request 108 (define 409 of the user aircraft, every second).
SimResult gf_requestUserOnGround(SimConnectHandle handle);
// Request 101: define 404 of every aircraft within the radius.
SimResult gf_requestAircraftInRange(SimConnectHandle handle, std::uint32_t radiusMeters);
// Request 102: define 405 of a newly created AI object, once.
SimResult gf_requestStaticData(SimConnectHandle handle, std::uint32_t objectId);
// Request 110.
SimResult gf_setAiFlightPlan(SimConnectHandle handle, std::uint32_t objectId, const char* flightPlanPath);
// Request 104: container title, callsign as tail number, start position; the send id of the request to
// `sendId` when given.
SimResult gf_createAiAircraft(SimConnectHandle handle, const CreateAircraftRequest& request,
                              std::uint32_t* sendId = nullptr);
// Request 105.
SimResult gf_removeAiObject(SimConnectHandle handle, std::uint32_t objectId);
// Request 103.
SimResult gf_releaseAiControl(SimConnectHandle handle, std::uint32_t objectId);
// A client event to one object, with group 301 and flags 0.
SimResult gf_transmitClientEvent(SimConnectHandle handle, const ClientEventRequest& event);
// Define 402 from the update's first 64 bytes (count 0, unit size 64).
SimResult gf_sendAircraftUpdate(SimConnectHandle handle, const AircraftUpdate& update);
// Define 401: spoilers handle, throttle 1, throttle 2 in percent (count 0, unit size 24).
SimResult gf_sendEngineControls(SimConnectHandle handle, std::uint32_t objectId, double spoilers, double throttle1,
                                double throttle2);
