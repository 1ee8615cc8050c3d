// One airport stand file in memory: its parameters, its stands with their options and, for a learned file,
// the settings snapshot; read from XML text and written back to XML text. No files are opened here.
//
// The document: three top-level elements without a common root, "meta", "parameters" and "parkpositions".
// A stand is written in full form (position, heading, radius, flags), in changed form (learned files: only
// what learning changed) or in name form (learned files: the id alone); options go only into learned files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "airports/stands.h"

enum class StandFileMode : std::uint32_t { learned = 0, full = 1 };

// The settings in force when a learned file was written; the defaults are the settings' own.
struct StandFileSettings {
    std::int32_t lateralRange = 40;
    bool autoRange = true;
    bool week = false;
    bool parkFake = false;
    bool parkSoft = true;
    std::int32_t parkingPercentage = 30;
    bool initialLoadOnly = false;
    std::int32_t maxFit = 47;
    bool rtParkTrafficOnly = false;
    std::int32_t maxLive = -1;  // written only when 0 or more
    bool learnSoft = true;
    bool operator==(const StandFileSettings&) const = default;
};

struct StandFile {
    // Learned when read with a snapshot ("LATERAL_RANGE" present); chooses the stand forms when written.
    StandFileMode mode = StandFileMode::full;
    bool metaComplete = false;  // as read: the meta block names author, date and version
    std::string airportName;
    std::string publisher;
    bool handmade = false;               // "handmade" present, whatever its value
    std::optional<std::int32_t> altitude;  // feet; written as 0 when missing and due
    std::int32_t qfReal = -1, qfSoft = -1;
    std::string bglPath;                 // written only for the publisher "unknown"
    std::int32_t rtTrafficWeek = 0;      // read only: this program never writes it
    StandFileSettings settings;          // learned mode only
    // Full stands, and in learned files also stands in changed or name form (position 0, 0).
    std::vector<ParkPos> stands;
    // "parkpos" elements (XML text) that the last load could not place, written after the stands as they were
    // read, so that the user's data stays in the file.
    std::vector<std::string> carried;
};

// The identity of one "opt": its callsigns, and airline and type (from the registration table when the
// registration is known there, else as the file says).
struct OptKey {
    std::string callsign1;
    std::string callsign2;
    std::string airline;
    std::string type;
};

// A value is true when its first character is '1', 't', 'T', 'y' or 'Y'.
bool gf_isTrueText(const char* text);

// Parameters: the first "parameter" of the top-level "parameters" with that name; nothing when there is none.
// An element without "value" reads as false, 0 or the empty text.
std::optional<bool> lf_readApfParamBool(const pugi::xml_document& doc, std::string_view name);
std::optional<std::int32_t> lf_readApfParamInt(const pugi::xml_document& doc, std::string_view name);
std::optional<std::string> lf_readApfParamString(const pugi::xml_document& doc, std::string_view name);

OptKey lf_parseOptKey(pugi::xml_node opt);
// The element as XML text without formatting, as a carried element is kept.
std::string lf_elementText(pugi::xml_node node);
// Reads one "parkpos" in full form with its options (ids 1, 2, ... in file order, fromFile as given) and
// appends it to `stands`; a stand at latitude and longitude both exactly 0 is dropped. Not manual.
void lf_readParkpos(pugi::xml_node parkpos, const std::string& id, std::uint32_t fromFile,
                    std::vector<ParkPos>& stands);
// The same, appending to g_parkPositions.
void lf_readParkpos(pugi::xml_node parkpos, const std::string& id, std::uint32_t fromFile);

// Reads the whole text. False, with the parser's description in `error`, when it is not XML; the meta block
// is only tested (metaComplete), and refusing a file without it is the loader's business. Every "parkpos"
// with a "latitude" or "longitude" is a full stand ("manual" read too); one with neither is a stand in changed
// or name form ("radius_change"/"radius", "cargo_change"/"cargo", its options). A full stand without a position
// is carried; the stands of a further "parkpositions" block are read as those of the first.
bool gf_readStandFileText(std::string_view text, std::uint32_t fromFile, StandFile& file, std::string& error);

// The "parameters" element: false only when the document cannot take it.
bool lf_writeApfParameters(pugi::xml_document& doc, const StandFile& file);
void lf_writeParkpos(pugi::xml_node parkpositions, StandFileMode mode, bool handmade, const ParkPos& stand);
void lf_writeOpt(pugi::xml_node parkpos, const ParkPosOption& option);
// Meta block, parameters and stands; false when the meta block or the parameters cannot be added.
bool gf_buildStandFile(pugi::xml_document& doc, const StandFile& file);
// The document as text in the XML library's default format; empty when it could not be built.
std::string gf_writeStandFileText(const StandFile& file);
