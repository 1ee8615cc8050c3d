// The static parking calculation: when a park airport becomes active, its stand file is loaded and the
// parking list is filled, first with the aircraft the traffic service reports parked there now, then up to the
// wanted number from the stands' options seen on this weekday around this half-hour. Work thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "airports/stands.h"
#include "frame/timeutil.h"
#include "injection/records.h"
#include "trafficservice/records.h"

// The final half-hour offsets of the last real and soft passes (soft -1 when no soft pass ran).
extern std::int32_t g_realOffsetShown;
extern std::int32_t g_softOffsetShown;

// Where the calculation gets the parked traffic: true when the list in g_trafficClient.parkedRecords is the
// service's answer (ages in the half-hour field). gf_getParkedTraffic unless a test or benchmark puts its own
// in; an empty function puts it back.
void gf_setParkedTrafficSource(std::function<bool()> source);

// Loads the active park airport's stand file (the finished fetch when there is one, else looked up and read
// here) and sets the reserved stand; the message, empty when all is well.
std::string lf_readParkedFile();
// Builds the parking list from the parked traffic and the statistics.
void lf_calculateStaticParking();
// The wanted number of static aircraft; it and the shown percentage go to the window.
std::int64_t lf_wantedStaticCount();
// Gives one parked aircraft (its age in half-hours in `slot`) a stand within 110 m, unless the list is full
// (RT_PARKTRAFFIC_ONLY places every one) or the aircraft is live.
void lf_placeParkTraffic(std::int64_t& wanted, const ParkedTrafficRecord& record);
// Every record of the last parked traffic answer through lf_placeParkTraffic, when anything is wanted.
void lf_placeNewParkTraffic();
// Fills the parking list from the statistics up to `wanted`: the real options, then the soft ones while
// short. `present` counts the aircraft that stay at the airport without an entry in the parking list (parked
// live aircraft, static aircraft that keep their stand); the entries in the list are counted here, once.
void lf_fillFromStatistics(WeekSlot now, std::int64_t wanted, std::int64_t present);
// One pass of one kind (1 real, 0 soft) with its trim to `wanted`; `present` as above.
void lf_takeOptionsOfKind(WeekSlot now, std::int64_t wanted, std::int64_t present, std::uint32_t kind);
// Searches the stands at growing half-hour offsets, 0 to MAX_FIT, until `wanted` stands are taken. True when
// they are: the candidates of the last offset are then left in `candidates`, those before it are in the
// parking list already.
bool lf_computeStandStatistics(WeekSlot now, std::uint32_t kind, std::int64_t wanted,
                               std::vector<ParkingEntry>& candidates);
// Logs the day banner; the current week slot.
WeekSlot lf_logDayBanner();
// The reserved stand and the stand the user aircraft stands on are kept free.
void lf_markReservedStands();
// The callsigns and hex ids the traffic reader saw live since collecting began become the seen sets.
void lf_refreshSeenTraffic();

// The parked aircraft is the live aircraft.
bool lf_ptSeenLive(const ParkedTrafficRecord& record, const LiveAc& ac);
// Whether the static aircraft is one placed from parked traffic at the stand chosen for the record (and not
// the record's own aircraft). Then `keep` tells whether it keeps the stand: it does when the record is older
// than its placement, else it is to make room for the record.
bool lf_ptStaticAtStand(const ParkedTrafficRecord& record, const ParkPos& stand, const AiAc& ac, WeekSlot now,
                        bool& keep);
