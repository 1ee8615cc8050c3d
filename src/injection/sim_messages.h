// What the simulator link and the traffic reader tell the work thread about the program's aircraft, as
// messages handled once a tick: a created object, a removed one, a report of ground contact and height, the
// static data of a model, a blocked callsign, a refused creation.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "simlink/simids.h"

enum SimMessageType : std::uint32_t {
    kSimMsgLiveCreated = 0,
    kSimMsgStaticCreated = 1,
    kSimMsgObjectRemoved = 2,
    kSimMsgAircraftReport = 3,
    kSimMsgStaticData = 4,
    kSimMsgBlocked = 5,  // the user blocked the callsign of this live aircraft (traffic reader)
    kSimMsgCreationFailed = 6,
};

// 32 bytes, fields in this order.
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
// thread; every AI tick and, while no flight runs, from the work loop.
void gf_SimCommands();

// Takes every queued creation of the aircraft out of the queue: those with its callsign, and those with its
// hex id (a callsign corrected since the request was built); true when one was taken. An empty callsign
// matches no request by callsign.
bool gf_dequeueCreation(std::deque<CreateAircraftRequest>& creations, const std::string& callsign,
                        std::uint32_t hexId);
