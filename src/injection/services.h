// What the run-time asks of the live traffic injection: the received traffic and the collision checks. The
// aircraft lists, the traffic range and the list resets are in aircraft_lists.h, the AI update of each tick
// in ai_update.h, the intake in intake.h, the spawning in spawn.h, the simulator messages in sim_messages.h,
// the removals in removal.h, the movement in movement.h, the geodesy in geodesy.h and the sink of everything
// sent to the simulator in sim_sink.h; they are included here for the callers.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "injection/ai_update.h"
#include "injection/aircraft_lists.h"
#include "injection/collision.h"
#include "injection/geodesy.h"
#include "injection/intake.h"
#include "injection/movement.h"
#include "injection/records.h"
#include "injection/removal.h"
#include "injection/sim_messages.h"
#include "injection/sim_sink.h"
#include "injection/spawn.h"
#include "injection/stand_hooks.h"
#include "simlink/simids.h"
#include "trafficservice/records.h"

class TrafficClient;

// Guards the received traffic and the AI-running flag.
extern std::mutex g_intakeMutex;
// Written only under g_intakeMutex.
extern std::atomic<bool> g_aiRunning;

// ---- Received traffic ----

// The records of the live batches, waiting for the work thread's intake; under g_intakeMutex.
extern std::vector<TrafficRecord> g_receivedTraffic;
// The records of the buffered (time-shifted) batches of the first traffic request, waiting for the work
// thread; under g_intakeMutex. They arrive on the traffic reader while the work loop may already run, so the
// reader never applies them to the live aircraft itself: the work thread takes them over at the start of its
// next tick (lf_takeBufferedTraffic).
extern std::vector<TrafficRecord> g_bufferedTraffic;

// The hand-over of each batch (gf_processTrafficBatch) is in intake.h.

// ---- The tick ----

// g_aiRunning under g_intakeMutex.
void gf_setAiRunning(bool running);
