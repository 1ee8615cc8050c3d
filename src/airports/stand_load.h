// Loading the active park airport's stand file into g_parkPositions: fetched (read in place or downloaded),
// refused without a complete meta block, its parameters and stands read, the learned file laid over it, the
// stands numbered and their overlaps computed, and the result published to the log, the window and the traffic
// client. Also the nearest stand of another airport's file and the test of a stock file for offline learning.
//
// Work thread (gf_readApfFile never touches the network; gf_readApf downloads first).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "airports/quality.h"
#include "airports/stands.h"

// The header of the loaded file.
struct ApfInfo {
    std::string airportName;
    std::string publisher;
    std::int32_t altitude = 0;  // feet
};

extern ApfInfo g_apfInfo;
extern QualityWord g_apfQualityFactor;
extern bool g_apfHandmade;          // the stands come from a hand-made learned file
extern std::int32_t g_rtTrafficWeek;  // the file's "RT_traffic_week"; 0 when absent
extern bool g_apfSettingsChanged;   // a setting of the learned snapshot changed since the load
// The reference the stands were loaded from and the learned file that belongs to it (read at the load,
// written at the leave); empty when no stand file is loaded.
extern std::string g_apfReference;
extern std::filesystem::path g_apfLearnedPath;
// What the learned merge could not place ("parkpos" elements as XML text), written back at the next save.
extern std::vector<std::string> g_apfCarried;
// The learned file was there but not taken whole: it is kept beside itself, and the load's own changes of
// the settings do not by themselves save over it.
extern bool g_apfLearnedIgnored;

// Downloads a server reference into "airports/park_airport.xml" (a local one is read in place), then reads it
// as gf_readApfFile does. The empty text when at least one stand was loaded, else the message. User errors
// 65 and 94 reach the caller.
std::string gf_readApf(const std::string& reference, ApfInfo& info, QualityWord& quality);
// The same with the file already fetched: `localFile` holds the content of `reference`.
std::string gf_readApfFile(const std::string& reference, const std::filesystem::path& localFile, ApfInfo& info,
                           QualityWord& quality);
// Distance (nm) from the position to the nearest stand of the code's stand file, its id into `standId`;
// 100.0 (and `standId` unchanged) when none lies within 100 nm or there is no file.
double gf_readDestApfForClosestStand(const std::string& code, double latitude, double longitude,
                                     std::string& standId);
// Whether the server's stock file of the code has quality factors and at least 20 weeks of learning.
bool gf_suitableForOfflineLearning(const std::string& code);
// Every "parkpos" below the element as a full stand with its options (from the file), appended in file order;
// an id seen before in this element raises user error 94 with the stands read so far appended.
void gf_readFullStands(pugi::xml_node parkpositions, std::vector<ParkPos>& stands);
// "gf_readApf: <text>" for an exception's text.
std::string lf_readApfMessage(const std::string& exceptionText);
