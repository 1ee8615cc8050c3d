// Everything the injection sends towards the simulator goes through one sink: the positions of a tick, the
// client events, the creations and removals, and the few requests made at once (a flight plan, the static
// data of a model, the aircraft in range, an immediate light toggle). The program's sink is the simulator
// link; a test puts a recorder in its place and sees every command in the order it was given.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "simlink/protocol/simconnect.h"
#include "simlink/simids.h"

class SimSink {
public:
    virtual ~SimSink() = default;
    // One AI object's position of this tick (the link's position buffer; no lock).
    virtual void position(const AircraftUpdate& update) = 0;
    // Client events sent with the next simulator frame, appended together.
    virtual void clientEvents(std::span<const ClientEventRequest> events) = 0;
    // A client event sent at once.
    virtual SimResult clientEventNow(const ClientEventRequest& event) = 0;
    virtual SimResult flightPlan(std::uint32_t objectId, const std::string& path) = 0;
    // The static CG height and pitch of the object's model, asked for once.
    virtual SimResult staticData(std::uint32_t objectId) = 0;
    virtual SimResult aircraftInRange(std::uint32_t radiusMeters) = 0;
    // Spoilers handle and both throttle levers (percent) of the object, set at once.
    virtual SimResult engineControls(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) = 0;
    // A creation or a removal in its paced slot of the tick.
    virtual void create(const CreateAircraftRequest& request) = 0;
    virtual void remove(std::uint32_t objectId) = 0;
};

// The sink in force: the simulator link unless a test set another.
SimSink& gf_simSink();
// Puts `sink` in place; nullptr puts the link back. Work thread (or a test without one).
void gf_setSimSink(SimSink* sink);

// The seven lights of an AI aircraft, sent together as NAV, BEACON, LANDING, TAXI, STROBES, LOGO, CABIN.
struct LightPattern {
    bool nav, beacon, landing, taxi, strobes, logo, cabin;
};
void gf_sendLights(std::uint32_t objectId, const LightPattern& lights);

// The client events of one aircraft: appended together so that the link sends them in one frame.
void gf_sendClientEvents(std::span<const ClientEventRequest> events);
inline void gf_sendClientEvent(std::uint32_t objectId, std::uint32_t eventId, std::uint32_t data) {
    const ClientEventRequest e{objectId, eventId, data};
    gf_sendClientEvents({&e, 1});
}
