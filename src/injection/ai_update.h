// The AI update: the work of one 10 ms tick while a flight runs, in a fixed order, and the pacing of what
// reaches the simulator (one removal per 10 ticks, one creation per 50, live before static).
#pragma once

#include <cstdint>
#include <functional>

#include "trafficservice/records.h"

// One AI tick; called by the work loop only. An exception ends the tick where it was thrown: what is left
// of it and the tick count's increment are skipped, and the next tick starts afresh.
void gf_updateAI();

// Builds and queues the creation request of the live aircraft with this hex id; nothing when it is gone.
void lf_buildLiveCreation(std::uint32_t hexId);

// The buffered (time-shifted) batches of the first request, taken over by the work thread before its tick
// so that the traffic reader never touches the live aircraft. Returns how many records were applied.
std::size_t lf_takeBufferedTraffic();

// ---- Steps of the tick from the traffic intake (intake.cpp) ----

// Every live aircraft moves one tick, the records asking for it are erased, and the positions of the tick
// go to the link's frame handler. An exception is logged and ends the pass only.
void lf_updateAllLiveAc();
// At most two received traffic records a tick, from the end of the batch; an exception is logged and passed
// on to the tick.
void lf_handleUdpMessages();
// Applies one received record to the live aircraft with its hex id, or makes a new one; work thread.
void lf_applyTrafficRecord(const TrafficRecord& record);
// One step of the static parking of the park airport, in a creation slot no live creation used. The
// airports set it; empty while there is no static parking.
extern std::function<void()> g_parkStaticStep;

// ---- Driving the tick from a test ----

// The tick count as a test wants it (the tick is the work thread's only clock).
void gf_setAiTick(std::int32_t tick);
// Runs gf_updateAI `count` times back to back, without the work loop's 10 ms wait.
void gf_runAiTicks(std::int32_t count);
