// The link thread's side of the connection: the dispatch of every received message and the per-frame flush
// of the command queues. Declared here for the link thread procedure, the tests and the benchmark; nothing
// else calls them.
#pragma once

#include <cstdint>

#include "simlink/simids.h"

// What the dispatch keeps for one connection.
struct LinkSession {
    bool quit = false;            // the simulator said it quits: the link ends
    std::uint32_t frameCount = 0;  // Frame events so far
};

// The callback given to SimConnect_CallDispatch; `context` is the connection's LinkSession (or null, then a
// session of its own is used). Throws the user errors that end the link (71, 73, 78, 95).
void lf_dispatch(const std::uint8_t* message, std::uint32_t size, void* context);

// Sends everything the work thread queued, on the simulator's frame: positions, client events, creations,
// removals, in that order. A queue lock held elsewhere skips this frame. Link thread.
void lf_flushSimConnectQueues();
// One creation, remembered as pending under the send id its request was stamped with; false when it could
// not be sent (logged and counted as a failed request). The caller holds g_simQueueMutex.
bool lf_createAiAircraft(SimConnectHandle handle, const CreateAircraftRequest& request);

// The user-stand look-up and check the dispatch asks for, run later by the work thread
// (gf_handleLinkRequests); any thread may ask.
void gf_requestUserStandLookup();
void gf_requestUserStandCheck();
// Forgets the requests, the stand last looked up and that a bad zulu time was logged (the link's reset).
void gf_resetLinkRequests();
