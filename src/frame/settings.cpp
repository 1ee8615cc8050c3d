#include "frame/settings.h"

#include <limits>

#include "frame/settings_file.h"

// Keys, defaults, ranges, ids and rows are fixed: users' files and the window's layout depend on them.

StringParameter g_PROGRAM_INSTALL_PATH("PROGRAM_INSTALL_PATH", "");
StringParameter g_PROGRAM_VERSION("PROGRAM_VERSION", "");
StringParameter g_SIM_INSTALL_PATH("SIM_INSTALL_PATH", "");
StringParameter g_lfolder[kFolderKeyCount] = {
    StringParameter("lfolder0", ""), StringParameter("lfolder1", ""), StringParameter("lfolder2", ""),
    StringParameter("lfolder3", ""), StringParameter("lfolder4", ""), StringParameter("lfolder5", ""),
    StringParameter("lfolder6", ""), StringParameter("lfolder7", ""), StringParameter("lfolder8", ""),
    StringParameter("lfolder9", ""),
};
StringParameter g_afolder[kFolderKeyCount] = {
    StringParameter("afolder0", ""), StringParameter("afolder1", ""), StringParameter("afolder2", ""),
    StringParameter("afolder3", ""), StringParameter("afolder4", ""), StringParameter("afolder5", ""),
    StringParameter("afolder6", ""), StringParameter("afolder7", ""), StringParameter("afolder8", ""),
    StringParameter("afolder9", ""),
};
IntParameter g_HOLDING_THRESHOLD_METERS("HOLDING_THRESHOLD_METERS", 250, 10, 4000);
IntParameter g_MAX_HOLDING_MINUTES("MAX_HOLDING_MINUTES", 20, 1, 60);
IntParameter g_CUSTOM_PARKING_PERCENTAGE("CUSTOM_PARKING_PERCENTAGE", -1, -1, 100);
IntParameter g_LAST_EPOCH_TIME("LAST_EPOCH_TIME", 0, 0, std::numeric_limits<std::int32_t>::max());
IntParameter g_P3D_VERSION("P3D_VERSION", 5, 5, 6);
IntParameter g_MAIN_WINDOW_X("MAIN_WINDOW_X", 400, -30000, 30000);
IntParameter g_MAIN_WINDOW_Y("MAIN_WINDOW_Y", 20, -30000, 30000);

StringEditParameter g_ALL_INSTALL_PATH("ALL_INSTALL_PATH", "", 32788, 119);
CheckBoxParameter g_SCAN_LIVERIES("SCAN_LIVERIES", true, 32797, 147);
CheckBoxParameter g_LIG_AUTOMATIC("LIG_AUTOMATIC", true, 32798, 147);
CheckBoxParameter g_LIG_PRIORITIZE("LIG_PRIORITIZE", false, 32799, 147);
CheckBoxParameter g_SUPPRESS_STUB("SUPPRESS_STUB", true, 32801, 147);
CheckBoxParameter g_LOG("LOG", true, 32779, 147);
CheckBoxParameter g_ALWAYS_ON_TOP("ALWAYS_ON_TOP", false, 32771, 147);
CheckBoxParameter g_SCAN_AIRPORTS("SCAN_AIRPORTS", true, 32802, 175);
CheckBoxParameter g_AFG_AUTOMATIC("AFG_AUTOMATIC", true, 32803, 175);
CheckBoxParameter g_NAV_LIGHTS_WHILE_PARKED("NAV_LIGHTS_WHILE_PARKED", true, 32778, 175);
CheckBoxParameter g_LEARN_SOFT("LEARN_SOFT", true, 32777, 175);
IntEditParameter g_MATCHING_DEPTH("MATCHING_DEPTH", 4, 1, 4, 32808, 203);
CheckBoxParameter g_LIGHT_AIRCRAFT("LIGHT_AIRCRAFT", true, 32809, 203);
CheckBoxParameter g_HELICOPTERS("HELICOPTERS", true, 32810, 203);
CheckBoxParameter g_HIGH_PERF_AIRCRAFT("HIGH_PERF_AIRCRAFT", true, 32811, 203);
CheckBoxParameter g_GUID_CHANGES("GUID_CHANGES", true, 32773, 203);
IntEditParameter g_LATERAL_RANGE("LATERAL_RANGE", 40, 2, 100, 32818, 231);
CheckBoxParameter g_AUTO_RANGE("AUTO_RANGE", true, 32819, 231);
IntEditParameter g_AUTO_RANGE_ABOVE_HEIGHT("AUTO_RANGE_ABOVE_HEIGHT", 49000, 18000, 49000, 32820, 231);
CheckBoxParameter g_SIM_TIME("SIM_TIME", false, 32862, 231);
IntEditParameter g_TIME_SHIFT_HOURS("TIME_SHIFT_HOURS", 0, 0, 23, 32860, 231);
ButtonParameter g_Unblock("Unblock", 32829, 257);
StringEditParameter g_BLOCK_CALLSIGN("BLOCK_CALLSIGN", "", 32828, 259);
IntEditParameter g_TIME_SHIFT_DAYS("TIME_SHIFT_DAYS", 0, 0, 28, 32859, 259);
CheckBoxParameter g_COLLISION_USER_AIR("COLLISION_USER_AIR", true, 32833, 287);
CheckBoxParameter g_COLLISION_USER_GND("COLLISION_USER_GND", true, 32834, 287);
CheckBoxParameter g_COLLISION_LIVE_PARKED_GND("COLLISION_LIVE_PARKED_GND", false, 32835, 287);
CheckBoxParameter g_KEEP_SIM_TIME_PAR("KEEP_SIM_TIME_PAR", false, 32863, 287);
IntEditParameter g_TIME_SHIFT_MINS("TIME_SHIFT_MINS", 0, 0, 59, 32861, 287);
IntEditParameter g_CUSTOM_MAX_PARK("CUSTOM_MAX_PARK", -1, -1, 500, 32865, 315);
IntEditParameter g_MAX_LIVE("MAX_LIVE", -1, -1, 300, 32821, 315);
CheckBoxParameter g_STRAIGHT_PBS_ONLY("STRAIGHT_PBS_ONLY", false, 32856, 315);
ButtonParameter g_Re_read("Re-read", 32838, 341);
StringEditParameter g_DESTINATION("DESTINATION", "", 32840, 343);
IntEditParameter g_AIRPORT_RANGE("AIRPORT_RANGE", 20, 8, 30, 32841, 343);
IntEditParameter g_AIRPORT_HEIGHT("AIRPORT_HEIGHT", 18000, 2000, 45000, 32842, 343);
ButtonParameter g_Flush_static("Flush static", 32858, 369);
CheckBoxParameter g_PARK_FAKE("PARK_FAKE", false, 32852, 371);
CheckBoxParameter g_WEEK("WEEK", false, 32854, 371);
CheckBoxParameter g_PARK_SOFT("PARK_SOFT", true, 32851, 371);
IntEditParameter g_parking_percentage("parking_percentage", 30, 0, 100, 32848, 371);
CheckBoxParameter g_INITIAL_LOAD_ONLY("INITIAL_LOAD_ONLY", false, 32850, 371);
FloatEditParameter g_MAX_FIT_FL("MAX_FIT_FL", 24.0f, 0.5f, 24.0f, 32855, 371);
IntEditParameter g_MAX_FIT("MAX_FIT", 47, 0, 47, 32853, 371);
CheckBoxParameter g_RT_PARKTRAFFIC_ONLY("RT_PARKTRAFFIC_ONLY", false, 32857, 371);

StringParameter g_author("author", "");
StringParameter g_date("date", "");
StringParameter g_version("version", "");
StringParameter g_copyright("copyright", "");

namespace {
constexpr double kMetresPerNm = 1852.0;
constexpr std::int32_t kRangeMarginMetres = 10000;  // the simulator's query reaches a little beyond the radius
}  // namespace

std::atomic<double> g_trafficRangeNm{40.0};
std::atomic<std::int32_t> g_trafficRangeMeters{40 * 1852 + kRangeMarginMetres};

void gf_setDerivedTrafficRange(std::int32_t nm) {
    g_trafficRangeNm = static_cast<double>(nm);
    g_trafficRangeMeters = static_cast<std::int32_t>(nm * kMetresPerNm) + kRangeMarginMetres;
}

const ParameterLists& gf_storedParameters() {
    // Built on first use: the parameter objects above are all constructed by then, wherever the caller is.
    static const ParameterLists lists = [] {
        ParameterLists l;
        l.checkBoxes = {&g_SIM_TIME,           &g_KEEP_SIM_TIME_PAR,
                        &g_RT_PARKTRAFFIC_ONLY, &g_AFG_AUTOMATIC,
                        &g_COLLISION_USER_AIR,  &g_COLLISION_USER_GND,
                        &g_COLLISION_LIVE_PARKED_GND, &g_SUPPRESS_STUB,
                        &g_LOG,                &g_ALWAYS_ON_TOP,
                        &g_SCAN_LIVERIES,      &g_LIG_AUTOMATIC,
                        &g_LIG_PRIORITIZE,     &g_SCAN_AIRPORTS,
                        &g_LIGHT_AIRCRAFT,     &g_HELICOPTERS,
                        &g_HIGH_PERF_AIRCRAFT, &g_NAV_LIGHTS_WHILE_PARKED,
                        &g_AUTO_RANGE,         &g_LEARN_SOFT,
                        &g_STRAIGHT_PBS_ONLY,  &g_PARK_SOFT,
                        &g_PARK_FAKE,          &g_WEEK,
                        &g_INITIAL_LOAD_ONLY,  &g_GUID_CHANGES};
        l.ints = {&g_CUSTOM_PARKING_PERCENTAGE, &g_MAIN_WINDOW_X,         &g_MAIN_WINDOW_Y, &g_LAST_EPOCH_TIME,
                  &g_HOLDING_THRESHOLD_METERS,  &g_MAX_HOLDING_MINUTES, &g_P3D_VERSION};
        l.intEdits = {&g_MATCHING_DEPTH, &g_LATERAL_RANGE,   &g_MAX_FIT,         &g_AUTO_RANGE_ABOVE_HEIGHT,
                      &g_MAX_LIVE,       &g_AIRPORT_RANGE,   &g_AIRPORT_HEIGHT,  &g_CUSTOM_MAX_PARK,
                      &g_TIME_SHIFT_DAYS, &g_TIME_SHIFT_HOURS, &g_TIME_SHIFT_MINS};
        l.texts = {&g_PROGRAM_VERSION, &g_SIM_INSTALL_PATH};
        for (auto& p : g_lfolder) l.texts.push_back(&p);
        for (auto& p : g_afolder) l.texts.push_back(&p);
        l.texts.push_back(&g_PROGRAM_INSTALL_PATH);
        l.texts.push_back(&g_DESTINATION);
        l.textEdits = {&g_BLOCK_CALLSIGN};
        return l;
    }();
    return lists;
}

const std::vector<Parameter*>& gf_allParameters() {
    static const std::vector<Parameter*> all = [] {
        std::vector<Parameter*> v = {&g_PROGRAM_INSTALL_PATH, &g_PROGRAM_VERSION, &g_SIM_INSTALL_PATH};
        for (auto& p : g_lfolder) v.push_back(&p);
        for (auto& p : g_afolder) v.push_back(&p);
        v.insert(v.end(),
                 {&g_HOLDING_THRESHOLD_METERS, &g_MAX_HOLDING_MINUTES, &g_CUSTOM_PARKING_PERCENTAGE,
                  &g_LAST_EPOCH_TIME, &g_P3D_VERSION, &g_MAIN_WINDOW_X, &g_MAIN_WINDOW_Y, &g_ALL_INSTALL_PATH,
                  &g_SCAN_LIVERIES, &g_LIG_AUTOMATIC, &g_LIG_PRIORITIZE, &g_SUPPRESS_STUB, &g_LOG,
                  &g_ALWAYS_ON_TOP, &g_SCAN_AIRPORTS, &g_AFG_AUTOMATIC, &g_NAV_LIGHTS_WHILE_PARKED,
                  &g_LEARN_SOFT, &g_MATCHING_DEPTH, &g_LIGHT_AIRCRAFT, &g_HELICOPTERS, &g_HIGH_PERF_AIRCRAFT,
                  &g_GUID_CHANGES, &g_LATERAL_RANGE, &g_AUTO_RANGE, &g_AUTO_RANGE_ABOVE_HEIGHT, &g_SIM_TIME,
                  &g_TIME_SHIFT_HOURS, &g_Unblock, &g_BLOCK_CALLSIGN, &g_TIME_SHIFT_DAYS, &g_COLLISION_USER_AIR,
                  &g_COLLISION_USER_GND, &g_COLLISION_LIVE_PARKED_GND, &g_KEEP_SIM_TIME_PAR,
                  &g_TIME_SHIFT_MINS, &g_CUSTOM_MAX_PARK, &g_MAX_LIVE, &g_STRAIGHT_PBS_ONLY, &g_Re_read,
                  &g_DESTINATION, &g_AIRPORT_RANGE, &g_AIRPORT_HEIGHT, &g_Flush_static, &g_PARK_FAKE, &g_WEEK,
                  &g_PARK_SOFT, &g_parking_percentage, &g_INITIAL_LOAD_ONLY, &g_MAX_FIT_FL, &g_MAX_FIT,
                  &g_RT_PARKTRAFFIC_ONLY, &g_author, &g_date, &g_version, &g_copyright});
        return v;
    }();
    return all;
}

bool gf_isFolderKey(const std::string& key) {
    return key.find("lfolder") != std::string::npos || key.find("afolder") != std::string::npos;
}

namespace {
template <class P>
bool lf_resetIf(Parameter* p) {
    if (auto* typed = dynamic_cast<P*>(p)) {
        typed->reset();
        return true;
    }
    return false;
}
}  // namespace

void gf_resetParametersToDefaults() {
    for (Parameter* p : gf_allParameters()) {
        lf_resetIf<BoolParameter>(p) || lf_resetIf<IntParameter>(p) || lf_resetIf<FloatParameter>(p) ||
            lf_resetIf<StringParameter>(p);
        if (ParameterControl* c = gf_controlOf(*p)) c->created = false;
    }
    gf_setDerivedTrafficRange(g_LATERAL_RANGE.defaultValue);
    gf_forgetSettingsFault();
}
