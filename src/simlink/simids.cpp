#include "simlink/simids.h"

#include <algorithm>
#include <array>

#include "frame/log.h"

namespace {

constexpr SimNamedEvent kSystemEvents[] = {
    {kEventSim, "Sim"},
    {kEventObjectAdded, "ObjectAdded"},
    {kEventObjectRemoved, "ObjectRemoved"},
    {kEventPositionChanged, "PositionChanged"},
    {kEventFlightLoaded, "FlightLoaded"},
    {kEventFrame, "Frame"},
};

constexpr SimDatum kDef407[] = {{"TITLE", nullptr, kDatumStringV}};
constexpr SimDatum kDef408[] = {{"ATC MODEL", nullptr, kDatumString32}};
constexpr SimDatum kDef409[] = {{"SIM ON GROUND", "Bool", kDatumInt64}};
constexpr SimDatum kDef402[] = {
    {"Plane Latitude", "degree", kDatumFloat64},
    {"Plane Longitude", "degree", kDatumFloat64},
    {"Plane Pitch degrees", "radians", kDatumFloat64},
    {"Plane Bank degrees", "radians", kDatumFloat64},
    {"Plane Heading degrees true", "radians", kDatumFloat64},
    {"Plane Altitude", "feet", kDatumFloat64},
    {"Vertical Speed", "feet per second", kDatumFloat64},
    {"Airspeed True", "knots", kDatumFloat64},
};
constexpr SimDatum kDef403[] = {
    {"Plane Latitude", "degree", kDatumFloat64},
    {"Plane Longitude", "degree", kDatumFloat64},
    {"Plane Pitch degrees", "radians", kDatumFloat64},
    {"Plane Bank degrees", "radians", kDatumFloat64},
    {"Plane Heading degrees true", "radians", kDatumFloat64},
    {"Plane Altitude", "feet", kDatumFloat64},
    {"Plane Alt Above Ground", "feet", kDatumFloat64},
    {"Ground Velocity", "knots", kDatumFloat64},
    {"ZULU TIME", "Seconds", kDatumInt64},
    {"ZULU DAY OF YEAR", "Number", kDatumInt64},
    {"ZULU YEAR", "Number", kDatumInt64},
    {"LIGHT STATES", "Mask", kDatumInt64},
};
constexpr SimDatum kDef405[] = {
    {"Static CG to Ground", "feet", kDatumFloat64},
    {"Static Pitch", "radians", kDatumFloat64},
};
constexpr SimDatum kDef406[] = {{"Light On States", "Mask", kDatumInt64}};
constexpr SimDatum kDef404[] = {
    {"Plane Alt Above Ground", "feet", kDatumFloat64},
    {"Ground Altitude", "feet", kDatumFloat64},
    {"SIM ON GROUND", "Bool", kDatumInt64},
    {"ATC ID", nullptr, kDatumString32},
};
constexpr SimDatum kDef401[] = {
    {"SPOILERS HANDLE POSITION", "percent", kDatumFloat64},
    {"GENERAL ENG THROTTLE LEVER POSITION:1", "percent", kDatumFloat64},
    {"GENERAL ENG THROTTLE LEVER POSITION:2", "percent", kDatumFloat64},
};

const SimDefinition kDefinitions[] = {
    {kDefineUserTitle, kDef407},     {kDefineUserModel, kDef408},     {kDefineUserOnGround, kDef409},
    {kDefineAiPosition, kDef402},    {kDefineUserPosition, kDef403},  {kDefineStaticData, kDef405},
    {kDefineLightStates, kDef406},   {kDefineAircraftInRange, kDef404}, {kDefineEngineControls, kDef401},
};

constexpr SimNamedEvent kClientEvents[] = {
    {kEventGearSet, "GEAR_SET"},
    {kEventEngineAutoStart, "ENGINE_AUTO_START"},
    {kEventEngineAutoShutdown, "ENGINE_AUTO_SHUTDOWN"},
    {kEventThrottleSet, "THROTTLE_SET"},
    {kEventFlapsSet, "FLAPS_SET"},
    {kEventSpoilersSet, "SPOILERS_SET"},
    {kEventNavLightsSet, "NAV_LIGHTS_SET"},
    {kEventBeaconLightsSet, "BEACON_LIGHTS_SET"},
    {kEventLandingLightsSet, "LANDING_LIGHTS_SET"},
    {kEventTaxiLightsSet, "TAXI_LIGHTS_SET"},
    {kEventStrobesSet, "STROBES_SET"},
    {kEventLogoLightsSet, "LOGO_LIGHTS_SET"},
    {kEventCabinLightsSet, "CABIN_LIGHTS_SET"},
    {kEventAllLightsToggle, "ALL_LIGHTS_TOGGLE"},
    {kEventFreezeLatLonSet, "FREEZE_LATITUDE_LONGITUDE_SET"},
    {kEventFreezeAltitudeSet, "FREEZE_ALTITUDE_SET"},
    {kEventFreezeAttitudeSet, "FREEZE_ATTITUDE_SET"},
};

// Engine auto-start (221) stays out of the group.
constexpr std::uint32_t kGroupEvents[] = {
    kEventNavLightsSet,   kEventBeaconLightsSet,  kEventLandingLightsSet,   kEventTaxiLightsSet,
    kEventStrobesSet,     kEventLogoLightsSet,    kEventCabinLightsSet,     kEventAllLightsToggle,
    kEventFlapsSet,       kEventSpoilersSet,      kEventGearSet,            kEventEngineAutoShutdown,
    kEventThrottleSet,    kEventFreezeLatLonSet,  kEventFreezeAltitudeSet,  kEventFreezeAttitudeSet,
};

double lf_f64(std::span<const std::uint8_t> b, std::size_t offset) { return *wireReadF64(b, offset); }
std::int64_t lf_i64(std::span<const std::uint8_t> b, std::size_t offset) { return *wireReadI64(b, offset); }

}  // namespace

std::span<const SimNamedEvent> gf_simSystemEvents() { return kSystemEvents; }
std::span<const SimDefinition> gf_simDefinitions() { return kDefinitions; }
std::span<const SimNamedEvent> gf_simClientEvents() { return kClientEvents; }
std::span<const std::uint32_t> gf_simGroupEvents() { return kGroupEvents; }

std::optional<UserAcData> gf_decodeUserAcData(std::span<const std::uint8_t> block) {
    if (block.size() < sizeof(UserAcData)) return std::nullopt;
    UserAcData d;
    d.latitude = lf_f64(block, 0);
    d.longitude = lf_f64(block, 8);
    d.pitch = lf_f64(block, 16);
    d.bank = lf_f64(block, 24);
    d.heading = lf_f64(block, 32);
    d.altitude = std::max(0.0, lf_f64(block, 40));
    d.altAboveGround = lf_f64(block, 48);
    d.groundSpeed = lf_f64(block, 56);
    d.zuluSeconds = lf_i64(block, 64);
    d.zuluDayOfYear = lf_i64(block, 72);
    d.zuluYear = lf_i64(block, 80);
    d.lightStates = lf_i64(block, 88);
    return d;
}

std::optional<AircraftInRangeData> gf_decodeAircraftInRange(std::span<const std::uint8_t> block) {
    if (block.size() < 24 + 32) return std::nullopt;
    AircraftInRangeData d;
    d.altAboveGround = lf_f64(block, 0);
    d.groundAltitude = lf_f64(block, 8);
    d.onGround = lf_i64(block, 16);
    d.atcId = wireReadText(block, 24, 32);
    if (d.atcId.size() > 31) d.atcId.resize(31);
    return d;
}

std::optional<StaticData> gf_decodeStaticData(std::span<const std::uint8_t> block) {
    if (block.size() < 16) return std::nullopt;
    return StaticData{lf_f64(block, 0), lf_f64(block, 8)};
}

std::optional<std::int64_t> gf_decodeUserOnGround(std::span<const std::uint8_t> block) { return wireReadI64(block, 0); }

std::string gf_decodeUserTitle(std::span<const std::uint8_t> block) {
    return wireReadText(block, 0, block.size());
}

std::string gf_decodeUserModel(std::span<const std::uint8_t> block) {
    std::string s = wireReadText(block, 0, 32);
    if (s.size() > 31) s.resize(31);
    return s;
}

SimResult lf_addEventToGroup(SimConnectHandle handle, std::uint32_t eventId) {
    return SimConnect_AddClientEventToNotificationGroup(handle, kAiEventGroup, eventId, true);
}

void lf_defineSimConnectData(SimConnectHandle handle) {
    for (const auto& e : kSystemEvents) SimConnect_SubscribeToSystemEvent(handle, e.id, e.name);
    for (const auto& def : kDefinitions)
        for (const auto& d : def.datums)
            SimConnect_AddToDataDefinition(handle, def.defineId, d.name, d.units, d.type, 0.0f, kSimUnused);
    for (const auto& e : kClientEvents) SimConnect_MapClientEventToSimEvent(handle, e.id, e.name);
    for (std::uint32_t e : kGroupEvents) lf_addEventToGroup(handle, e);
    SimConnect_SetNotificationGroupPriority(handle, kAiEventGroup, 1);
}

int gf_requestUserTitleAndModel(SimConnectHandle handle) {
    int failures = 0;
    if (SimConnect_RequestDataOnSimObject(handle, kRequestUserTitle, kDefineUserTitle, kSimUserObject, kPeriodOnce) !=
        kSimOk) {
        gf_logWarning("SimConnect request user ac title fails");
        ++failures;
    }
    if (SimConnect_RequestDataOnSimObject(handle, kRequestUserModel, kDefineUserModel, kSimUserObject, kPeriodOnce) !=
        kSimOk) {
        gf_logWarning("SimConnect reques user ac model fails");
        ++failures;
    }
    return failures;
}

SimResult gf_requestUserPosition(SimConnectHandle handle) {
    SimResult r =
        SimConnect_RequestDataOnSimObject(handle, kRequestUserPosition, kDefineUserPosition, kSimUserObject, kPeriodOnce);
    if (r != kSimOk) gf_logWarning("SimConnect request user ac position fails");
    return r;
}

SimResult gf_requestUserOnGround(SimConnectHandle handle) {
    return SimConnect_RequestDataOnSimObject(handle, kRequestUserOnGround, kDefineUserOnGround, kSimUserObject,
                                             kPeriodSecond);
}

SimResult gf_requestAircraftInRange(SimConnectHandle handle, std::uint32_t radiusMeters) {
    return SimConnect_RequestDataOnSimObjectType(handle, kRequestAircraftInRange, kDefineAircraftInRange, radiusMeters,
                                                 kSimObjectTypeAircraft);
}

SimResult gf_requestStaticData(SimConnectHandle handle, std::uint32_t objectId) {
    return SimConnect_RequestDataOnSimObject(handle, kRequestStaticData, kDefineStaticData, objectId, kPeriodOnce);
}

SimResult gf_setAiFlightPlan(SimConnectHandle handle, std::uint32_t objectId, const char* flightPlanPath) {
    return SimConnect_AISetAircraftFlightPlan(handle, objectId, flightPlanPath, kRequestFlightPlan);
}

SimResult gf_createAiAircraft(SimConnectHandle handle, const CreateAircraftRequest& request, std::uint32_t* sendId) {
    std::string title(request.containerTitle);
    return SimConnect_AICreateNonATCAircraft(handle, title.c_str(), request.callsign.c_str(), request.position,
                                             kRequestCreateAircraft, sendId);
}

SimResult gf_removeAiObject(SimConnectHandle handle, std::uint32_t objectId) {
    return SimConnect_AIRemoveObject(handle, objectId, kRequestRemoveObject);
}

SimResult gf_releaseAiControl(SimConnectHandle handle, std::uint32_t objectId) {
    return SimConnect_AIReleaseControl(handle, objectId, kRequestReleaseControl);
}

SimResult gf_transmitClientEvent(SimConnectHandle handle, const ClientEventRequest& event) {
    return SimConnect_TransmitClientEvent(handle, event.objectID, event.eventID, event.data, kAiEventGroup, 0);
}

SimResult gf_sendAircraftUpdate(SimConnectHandle handle, const AircraftUpdate& update) {
    return SimConnect_SetDataOnSimObject(handle, kDefineAiPosition, update.objectID, 0, 0, kAircraftUpdateBlockSize,
                                         &update);
}

SimResult gf_sendEngineControls(SimConnectHandle handle, std::uint32_t objectId, double spoilers, double throttle1,
                                double throttle2) {
    const double values[3] = {spoilers, throttle1, throttle2};
    return SimConnect_SetDataOnSimObject(handle, kDefineEngineControls, objectId, 0, 0, sizeof(values), values);
}
