// The stands of the active park airport and their options: each option is an aircraft seen parked at the
// stand (real) or expected there (soft), on one weekday and in a set of half-hours of that day. The options
// are the statistics the static parking draws on; learning grows them and the stand files store them.
// Also the chosen static aircraft of the parking list, and the small operations on options.
//
// Work thread only; nothing here takes a lock.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "frame/timeutil.h"
#include "injection/records.h"

// ---- Week slots ----

// The half-hour before and after, over midnight and over the week's end (Sunday 7 is followed by Monday 1).
WeekSlot gf_previousWeekSlot(WeekSlot slot);
WeekSlot gf_nextWeekSlot(WeekSlot slot);
// The half-hours from `from` forward to `to` within the week: 0 for the same slot, at most 335.
std::uint32_t gf_weekSlotsForward(WeekSlot from, WeekSlot to);
// The `count` slots s, s - 1, ..., newest first.
std::vector<WeekSlot> gf_weekSlotsBack(std::uint32_t count, WeekSlot slot);

// ---- Records ----


using HalfHourSet = std::bitset<48>;  // bit h: half-hour h of the day

// Where an aircraft followed at a stand was last counted.
struct StandKey {
    WeekSlot slot = 0;
    std::uint32_t optionId = 0;
};

struct ParkPosOption {
    std::string airline;
    std::string type;
    std::string registration;
    std::string callsign1;  // the first callsign seen
    std::string callsign2;  // the latest other one; empty when none
    HalfHourSet halfHours;
    // Unique within the stand; 0: withdrawn until the options are numbered again (nothing matches it, it is
    // not saved).
    std::uint32_t id = 0;
    std::uint32_t day = 0;       // weekday 1..7, Sunday 7
    std::uint32_t fromFile = 0;  // 1: came with a stand file that learning does not own
    std::uint32_t real = 0;      // 1 real, 0 soft
};

struct ParkPos {
    std::vector<ParkPosOption> options;
    std::unordered_map<std::uint32_t, StandKey> realKeys;  // by hex id
    std::unordered_map<std::uint32_t, StandKey> softKeys;
    std::string id;
    std::vector<std::uint32_t> excluded;  // indices of the stands that overlap this one
    double latitude = 0.0, longitude = 0.0;  // degrees
    double heading = 0.0;                    // radians
    double radius = 0.0;                     // nm
    std::uint32_t index = 0;                 // position in g_parkPositions + 1; 0 is no stand
    std::uint8_t manual = 0;
    std::uint8_t radiusChanged = 0;
    std::uint8_t cargoChanged = 0;
    std::uint8_t takenByStatic = 0;
    std::uint32_t occupiedByLive = 0;  // hex id of the live aircraft that parks or drives here; 0: free
    std::uint8_t reserved = 0;
    std::uint8_t blocked = 0;
    std::uint8_t cargo = 0;
    std::uint8_t ramp = 0;
    std::uint8_t heli = 0;

    // The radius comes in metres, as the stand files have it.
    ParkPos(std::string id, std::vector<ParkPosOption> options, double latitude, double longitude,
            double headingRad, double radiusMetres, bool cargo, bool ramp, bool heli);
};

// One static aircraft chosen for a stand.
struct ParkingEntry {
    std::uint32_t hexId = 0;        // the service's parked aircraft; 0 for one from the options
    std::uint32_t fromOptions = 0;  // 1: chosen from the stand's options
    std::uint32_t standIndex = 0;
    std::uint32_t offset = 0;  // half-hours back from now at which its option was found
    std::string airline;
    std::string type;
    std::string callsign1;
    std::string callsign2;
    std::string registration;
    std::uint8_t staysNextSlot = 0;
};

extern std::vector<ParkPos> g_parkPositions;   // the stands of the active park airport
extern std::vector<ParkingEntry> g_parkingList;
extern std::uint32_t g_apfUpdates;  // stand changes since the stand file was read

// ---- Options ----

// A real option that names the callsign, or the aircraft's airline and type.
bool gf_optionMatchesAc(const std::string& callsign, const AiAc& ac, const ParkPosOption& option);
// Adds an option for the slot's weekday and half-hour; airline and type from the registration's record when
// the database knows it, else the aircraft's. Returns its id, or 0 when the same option exists already.
// A half-hour above 47 throws std::out_of_range.
std::uint32_t gf_addOption(std::vector<ParkPosOption>& options, const AiAc& ac, bool real, WeekSlot slot,
                           const std::string& callsign, const std::string& registration);
// Sets one half-hour; one outside 0..47 is logged and changes nothing.
void updateOption(ParkPosOption& option, std::uint32_t halfHour);
// Records a callsign on the option with that id: it keeps the first one seen and the latest other one.
void gf_addOptionCallsign(std::vector<ParkPosOption>& options, std::uint32_t optionId, std::string callsign);
// Sets the half-hours of the `count` slots ending at `now` (one weekday) on the option with that id.
void gf_fillOptionSlots(std::vector<ParkPosOption>& options, WeekSlot now, const std::string& callsign,
                        std::uint32_t count, std::uint32_t optionId);
// The same when the slots reach back into the day before: its half-hours go to the old option, today's to
// the new one; `now` itself is not walked.
void gf_fillOptionSlotsOverMidnight(std::vector<ParkPosOption>& options, WeekSlot now, const std::string& callsign,
                                    std::uint32_t count, std::uint32_t oldOptionId, std::uint32_t newOptionId);
// An aircraft followed at the stand is counted again at `now`: fills the half-hours since its key's slot
// when they are 1 to 5 half-hours apart, and moves the key to now.
void lf_updateOptionSlots(WeekSlot now, ParkPos& stand, std::uint32_t optionId, StandKey& key, const AiAc& ac,
                          bool real);
// Whether one of the half-hours start, start - 1, ... down to start - offset (not below 0) is set. When
// none is, `previousDayCount` is how many of the window's half-hours lie in the day before, else -1.
bool testRange(const ParkPosOption& option, std::int32_t start, std::int32_t offset, std::int32_t& previousDayCount);

// ---- Text form of a half-hour set: "1,2,47" ----

HalfHourSet gf_hours2bitset(const std::string& text);
std::string gf_bitset2hours(const HalfHourSet& hours);

// ---- Is the option's aircraft placed already ----

std::vector<AiAc>::iterator lf_findStaticForOption(const ParkPosOption& option);
std::vector<ParkingEntry>::iterator lf_findParkingEntryForOption(const ParkPosOption& option);

void lf_pushStandKey(std::vector<std::pair<std::uint32_t, std::uint64_t>>& list, std::uint32_t key,
                     std::uint64_t value);

// ---- Numbering and overlaps ----

// The most stands one stand's `excluded` list holds. A real stand overlaps a handful of others; hundreds only
// pile up where a broken file puts many stands on one point, and there the lists would grow with the square
// of the pile.
constexpr std::size_t kMaxExcludedStands = 256;

// Numbers the stands 1, 2, ... in list order and lists, for each, the stands it overlaps (radii together more
// than 1.1 times the distance), in ascending order and mutual, at most kMaxExcludedStands of them (a pair
// that does not fit both lists is in neither). A spatial index measures only pairs that can overlap; the
// result is how many pairs were measured.
std::uint64_t gf_numberStands(std::vector<ParkPos>& stands);

// The stand with this index (its position in g_parkPositions + 1 as a rule); nullptr for 0 or an unknown index.
ParkPos* gf_standByIndex(std::uint32_t index);
// One stand change more (learning, an enlarged or cargo stand): g_apfUpdates and the window's shown count, the
// parking band repainted when the shown count changes.
void gf_countStandChange();
