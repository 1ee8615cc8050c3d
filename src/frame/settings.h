// Every setting of the program: one global parameter object per key, with the default, range, control id
// and row that "parameters.xml" files of existing users and the window code rely on.
//
// Naming: a setting's global is `g_` followed by its key exactly as stored, characters that cannot stand in
// a name becoming '_' ("Re-read" -> g_Re_read, "Flush static" -> g_Flush_static). The numbered folder keys
// are arrays: g_lfolder[3] is "lfolder3", g_afolder[0] is "afolder0". The four meta-block keys follow the
// same rule (g_author, g_date, g_version, g_copyright).
//
// Read a value with .value(), change it with .set(v) and save it with the savers of settings_file.h.
#pragma once

#include <atomic>
#include <cstdint>

#include "frame/parameters.h"

inline constexpr int kFolderKeyCount = 10;

// Without a control.
extern StringParameter g_PROGRAM_INSTALL_PATH;
extern StringParameter g_PROGRAM_VERSION;
extern StringParameter g_SIM_INSTALL_PATH;
extern StringParameter g_lfolder[kFolderKeyCount];  // livery folders, used when LIG_AUTOMATIC is off
extern StringParameter g_afolder[kFolderKeyCount];  // add-on airport folders
extern IntParameter g_HOLDING_THRESHOLD_METERS;
extern IntParameter g_MAX_HOLDING_MINUTES;
extern IntParameter g_CUSTOM_PARKING_PERCENTAGE;
extern IntParameter g_LAST_EPOCH_TIME;
extern IntParameter g_P3D_VERSION;
extern IntParameter g_MAIN_WINDOW_X;
extern IntParameter g_MAIN_WINDOW_Y;

// Bound to a control, by window row.
extern StringEditParameter g_ALL_INSTALL_PATH;  // the field of SIM_INSTALL_PATH; never stored itself
extern CheckBoxParameter g_SCAN_LIVERIES;
extern CheckBoxParameter g_LIG_AUTOMATIC;
extern CheckBoxParameter g_LIG_PRIORITIZE;
extern CheckBoxParameter g_SUPPRESS_STUB;
extern CheckBoxParameter g_LOG;
extern CheckBoxParameter g_ALWAYS_ON_TOP;
extern CheckBoxParameter g_SCAN_AIRPORTS;
extern CheckBoxParameter g_AFG_AUTOMATIC;
extern CheckBoxParameter g_NAV_LIGHTS_WHILE_PARKED;
extern CheckBoxParameter g_LEARN_SOFT;
extern IntEditParameter g_MATCHING_DEPTH;
extern CheckBoxParameter g_LIGHT_AIRCRAFT;
extern CheckBoxParameter g_HELICOPTERS;
extern CheckBoxParameter g_HIGH_PERF_AIRCRAFT;
extern CheckBoxParameter g_GUID_CHANGES;
extern IntEditParameter g_LATERAL_RANGE;
extern CheckBoxParameter g_AUTO_RANGE;
extern IntEditParameter g_AUTO_RANGE_ABOVE_HEIGHT;
extern CheckBoxParameter g_SIM_TIME;
extern IntEditParameter g_TIME_SHIFT_HOURS;
extern ButtonParameter g_Unblock;
extern StringEditParameter g_BLOCK_CALLSIGN;
extern IntEditParameter g_TIME_SHIFT_DAYS;
extern CheckBoxParameter g_COLLISION_USER_AIR;
extern CheckBoxParameter g_COLLISION_USER_GND;
extern CheckBoxParameter g_COLLISION_LIVE_PARKED_GND;
extern CheckBoxParameter g_KEEP_SIM_TIME_PAR;
extern IntEditParameter g_TIME_SHIFT_MINS;
extern IntEditParameter g_CUSTOM_MAX_PARK;
extern IntEditParameter g_MAX_LIVE;
extern CheckBoxParameter g_STRAIGHT_PBS_ONLY;
extern ButtonParameter g_Re_read;
extern StringEditParameter g_DESTINATION;  // has a field, but is read like the texts without one
extern IntEditParameter g_AIRPORT_RANGE;
extern IntEditParameter g_AIRPORT_HEIGHT;
extern ButtonParameter g_Flush_static;
extern CheckBoxParameter g_PARK_FAKE;
extern CheckBoxParameter g_WEEK;
extern CheckBoxParameter g_PARK_SOFT;
extern IntEditParameter g_parking_percentage;  // from the park airport's stand file, never stored here
extern CheckBoxParameter g_INITIAL_LOAD_ONLY;
extern FloatEditParameter g_MAX_FIT_FL;  // MAX_FIT * 0.5 + 0.5 hours, shown in MAX_FIT's place; never stored
extern IntEditParameter g_MAX_FIT;       // has a control part but no control of its own
extern CheckBoxParameter g_RT_PARKTRAFFIC_ONLY;

// The keys of the meta block of the program's data files; never stored in "parameters.xml".
extern StringParameter g_author;
extern StringParameter g_date;
extern StringParameter g_version;
extern StringParameter g_copyright;

// The traffic radius derived from LATERAL_RANGE, read without a lock by the traffic reader.
extern std::atomic<double> g_trafficRangeNm;
// The radius in metres plus a 10 km margin, for the simulator's request of nearby aircraft.
extern std::atomic<std::int32_t> g_trafficRangeMeters;
// Sets both from a radius in nautical miles (LATERAL_RANGE itself is left alone).
void gf_setDerivedTrafficRange(std::int32_t nm);

// The six reading lists of "parameters.xml", in file order.
const ParameterLists& gf_storedParameters();

// Every parameter of the table (stored or not, meta keys included) in table order, for look-ups by the
// window's edit-field handler and for tests.
const std::vector<Parameter*>& gf_allParameters();

// A folder key: its stored element disappears when its value is empty.
bool gf_isFolderKey(const std::string& key);

// Every value back to its default, the traffic radius with it, and no control marked as created. For tests
// and for nothing else: a running program keeps what it read.
void gf_resetParametersToDefaults();
