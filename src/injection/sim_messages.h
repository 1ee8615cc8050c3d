// What the simulator link and the traffic reader tell the work thread about the program's aircraft, as
// messages handled once a tick: a created object, a removed one, a report of ground contact and height, the
// static data of a model, a blocked callsign, a refused or unanswered creation.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "injection/records.h"
#include "simlink/simids.h"

enum SimMessageType : std::uint32_t {
    kSimMsgLiveCreated = 0,
    kSimMsgStaticCreated = 1,
    kSimMsgObjectRemoved = 2,
    kSimMsgAircraftReport = 3,
    kSimMsgStaticData = 4,
    kSimMsgBlocked = 5,  // the user blocked the callsign of this live aircraft (traffic reader)
    kSimMsgCreationFailed = 6,
    // The simulator never answered the creation (the link gave it up): id = hex id or static creation id. Not
    // a refusal: the livery stays usable and the aircraft may be created again.
    kSimMsgCreationUnanswered = 7,
};

// 32 bytes, fields in this order. A creation message (type 0 or 1) is also kept as the aircraft's
// post-creation command: tickCount then counts its ticks, -1 when it is done.
struct SimMessage {
    std::uint32_t objectId = 0;
    std::uint32_t id = 0;        // hex id, static creation id or on-ground flag, by type
    std::int32_t tickCount = 0;  // 0 when posted
    std::uint32_t type = 0;      // SimMessageType
    double a = 0.0;
    double b = 0.0;
};
static_assert(sizeof(SimMessage) == 32);

// Appends the message for the work thread; any thread, never fails.
void gf_postSimMessage(const SimMessage& message);
// The messages posted so far, oldest first; the list is empty afterwards. Work thread.
std::vector<SimMessage> gf_takeSimMessages();

// The simulator's messages and the post-creation commands, and the look-ups the link left for the work
// thread; every AI tick and, while no flight runs, from the work loop. A message that fails is logged and
// costs none of the others; the user error of too many refused liveries is shown on the error line once
// per run and not passed on.
void gf_SimCommands();
// Forgets the post-creation commands and the shown user error; the end of a run.
void gf_resetSimCommands();

// The data of THROTTLE_SET and FLAPS_SET by stage, and their sending: flight_phases.h.

// One post-creation command for one tick: a live one toggles all lights at its 50th and 100th tick and at
// its 200th sets the aircraft's flying or ground state, a static one sets the parked state at its 200th.
// `done` is set when the command ended this tick (tickCount -1).
void gf_allLightsToggle(bool& done, SimMessage& command);

// Engines, spoilers, lights, throttle and flaps of a live aircraft for its first point: in the air or on
// the ground (parked, taxiing or standing); a creation in progress (status 1) is in the simulator then.
void lf_setFlyingStateInSim(LiveAc& ac);
// Throttle idle, flaps up, engines off and the lights of a parked aircraft (cabin lit 9 times in 10 at a
// passenger stand).
void lf_setParkedStateInSim(AiAc& ac);

// Takes every queued creation of the aircraft out of the queue: those with its callsign, and those with its
// hex id (a callsign corrected since the request was built); true when one was taken. An empty callsign
// matches no request by callsign.
bool gf_dequeueCreation(std::deque<CreateAircraftRequest>& creations, const std::string& callsign,
                        std::uint32_t hexId);
// Appends a copy of the request.
void lf_pushCreation(std::deque<CreateAircraftRequest>& creations, const CreateAircraftRequest& request);
