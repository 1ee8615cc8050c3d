// The traffic intake: the received batches get their play ticks and reach the work thread, where each record
// either extends the track of its live aircraft (after the tests that drop redundant or implausible reports)
// or makes a new live aircraft; and the per-tick movement pass with the swap of the position buffer.
//
// lf_handleUdpMessages, lf_applyTrafficRecord and lf_updateAllLiveAc are declared with the tick in
// ai_update.h; they are defined here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "injection/ai_update.h"
#include "injection/records.h"
#include "trafficservice/records.h"

class TrafficClient;

// Hands the client's live records over with a delay in seconds (30 for a live batch; 0, 6, 12, 18, 24 for
// the five snapshots of the buffered request): each record plays at now + the delay, shifted by its distance
// from the batch's median time in whole tenths of a second (toward the median); a live batch replaces the
// received traffic when the AI runs and the last one was taken, else it is dropped whole; a buffered batch is
// queued for the work thread. The client's live records are empty afterwards. An empty batch sets the
// client's time of the latest record back to 0. Traffic reader thread.
void gf_processTrafficBatch(TrafficClient& client, std::int32_t delaySeconds);

// The first value of a received point that no aircraft can have, as "<what> <value> <unit>" (a position off
// the globe, an altitude beyond 100,000 ft, a speed beyond 2,500 kt, NaN anywhere...); nothing when every
// value is possible. lf_applyTrafficRecord refuses such a report with a warning.
std::optional<std::string> gf_impossibleValue(const TrackPoint& point);

// True when the record is this aircraft's (same hex id) and has been dealt with, taken or dropped.
bool lf_applyIfSameAc(const TrafficRecord& record, LiveAc& ac);
// A new live aircraft from the record, its type completed from the registration list when it is empty or
// unknown; the record is dropped when no known type results.
void lf_newLiveAc(const TrafficRecord& record);
// Appends the live aircraft of the record (known type) unless its category is switched off or it reports a
// height that is the park airport's elevation.
void lf_addLiveAc(const TrafficRecord& record);

// A new type for an aircraft: its category, half span and every category table follow it.
void gf_setModelType(AiAc& ac, const std::string& type, std::mt19937& random = gf_workRandom());

// The elevation (ft) of the active park airport, nothing while there is none. The run-time wires it to the
// airports; unset, there is none.
extern std::function<std::optional<double>()> g_parkAirportElevationFt;
