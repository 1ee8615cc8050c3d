// Renewing the static parking while a park airport stays active (every 20 minutes, and after a jump of the
// simulator time): the static and parked live aircraft that still fit the half-hour stay, the others go, new
// parked traffic comes and the statistics fill up. Also starting and requesting a calculation, clearing all
// static parking and leaving the park airport. Work thread.
//
// Ages of parked aircraft are counted forward within the week from their week slot to now
// (gf_weekSlotsForward), so that every comparison of times agrees over the week's end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "airports/stands.h"
#include "frame/timeutil.h"
#include "injection/records.h"

struct StaticRemoval {
    std::string callsign;
    std::uint32_t standIndex = 0;
};

// A static aircraft that stays through an adjustment.
struct StaticStayer {
    std::string callsign, callsignCopy, spare, registration, airline, type;
    WeekSlot placedSlot = 0;
    std::uint32_t standIndex = 0;
    std::uint8_t replace = 0;
};

extern std::vector<StaticRemoval> g_staticRemovals;
extern std::vector<StaticStayer> g_staticStayers;

// What the adjustment asks of the parking calculation and of the traffic service; tests put in their own.
struct RenewalServices {
    std::function<std::int64_t()> wantedStaticCount;  // lf_wantedStaticCount
    // gf_getParkedTraffic: false when no parked traffic is available (a throw counts the same).
    std::function<bool()> fetchParkedTraffic;
};
// Installs the functions; empty members take the program's own.
void gf_setRenewalServices(RenewalServices services);

void lf_addStaticStayer(const std::string& callsign, const std::string& callsignCopy, const std::string& spare,
                        const std::string& registration, const AiAc& ac, WeekSlot placedSlot,
                        std::uint32_t standIndex, std::uint8_t replace);
// Lists the static aircraft (in the simulator) in g_staticRemovals and takes it out of the simulator.
void lf_markStaticForRemoval(AiAc& ac);

void lf_startStaticParkingCalculation(bool showMessage);
// Deferred: the next park airport check loads and calculates. At once: load the stand file and calculate now.
void lf_requestParkingRecalculation(bool atOnce);
// The status line of a stand file of the park airport `code` that did not load: the load's message without
// the name of the function that failed, the airport, and that its parking is off until a file loads.
std::string gf_standFileFaultLine(std::string_view message, std::string_view code);
// The renewal; `parkTrafficOnlyJustOn` when the window just switched RT_PARKTRAFFIC_ONLY on.
void lf_adjustParking(bool parkTrafficOnlyJustOn);

// ---- The decisions of one adjustment ----

struct StaticReview {
    WeekSlot now = 0;
    std::uint32_t window = 0;  // half-hours back from now that an option may still cover, 0..47
};
// Reviews every static aircraft placed from the statistics, then orders the static stayers oldest placement
// first and sets their replace flags.
void lf_reviewStatics(WeekSlot now);
// One static aircraft placed from the statistics and in the simulator: it stays (a stayer record) or goes.
void lf_reviewStatic(const StaticReview& context, AiAc& ac);
// A new entry competes with the static aircraft: the newer of the two stays. True when the static aircraft
// stays; the entry then leaves the list.
bool lf_keepOrRemoveStatic(AiAc& ac, std::vector<ParkingEntry>& list, std::vector<ParkingEntry>::iterator entry,
                           WeekSlot now);
// Whether the stayer's aircraft is to be shown with its other callsign from the next half-hour on.
void lf_markStayerReplace(const StaticReview& context, StaticStayer& stayer);

struct ParkTrafficReview {
    WeekSlot now = 0;
    bool parkTrafficOnlyJustOn = false;
};
// One static aircraft in the simulator after new parked traffic came.
void lf_reviewParkTrafficStatic(const ParkTrafficReview& context, AiAc& ac);
// The entry names the static aircraft: its callsign with '*', or the same registration.
bool lf_entryIsStatic(const AiAc& ac, const ParkingEntry& entry);

// Drops the surplus over `wanted`: entries from the end of the list (sorted by offset ascending here), then
// static stayers from the end of theirs, then, unless INITIAL_LOAD_ONLY is set (or nothing is wanted), parked
// live aircraft. `keptAlso` counts static aircraft that stay without a stayer record.
void lf_dropSurplus(std::int64_t wanted, std::int64_t keptAlso);
// Takes the statics listed in g_staticRemovals out of the simulator.
void lf_removeMarkedStatics();

// Removes every static aircraft and the live aircraft on the ground, then leaves the park airport.
void lf_clearStaticParking();
// Saves the learned stand file when needed and clears the park airport's state.
void lf_leaveParkAirport();
