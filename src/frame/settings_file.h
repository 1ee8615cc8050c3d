// "parameters.xml" in the application folder: reading it into the settings at every start, saving one
// setting at each change, and the small XML element helpers and meta block that the program's other XML
// files (stand files, "LiveriesScanned.xml", the aircraft database) share.
//
// The file: a root "parameters" holding one "parameter" element per stored setting, attributes "name" and
// "value" (bools "true"/"false", integers decimal, texts unchanged). Elements the program does not know
// stay untouched. Every load-change-write of the file holds one lock, so saves from the UI thread and the
// work thread never lose each other's changes, and every write goes to a temporary file that is renamed
// over the old one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "frame/parameters.h"

// The one-line rights notice of the meta block.
inline constexpr const char* kCopyrightNotice = "Copyright (c) Zentavo. All rights reserved.";

// At every start of the work thread: reads (and completes and rewrites) the file, runs the version
// housekeeping and sets the traffic radius from LATERAL_RANGE.
void gf_readParameters();
// Reads the file into the listed parameters, completes it and writes it back. A missing or unreadable
// file is replaced by one with the defaults; an unreadable one is moved to "parameters0.xml" first. One that
// cannot be moved is left as it is: the run goes on with the defaults and nothing is saved until a start reads
// the file again.
// The settings fault (frame/display.h) tells where an unreadable file was kept (or that it was not), and each
// integer whose stored text is not its number in range, with the value read in its place, and each folder key
// whose element has no value, which is kept as it is (until the key is saved).
void gf_loadParameters(const ParameterLists& lists);
// Forgets what the settings fault tells: for tests, which read many files in one run of the program.
void gf_forgetSettingsFault();

// Store one setting's current value in the file. When the file is missing or unreadable, every stored
// setting is written from memory, never a file with this one key. False when the file could not be
// written (logged as "saving xml did not work?"), or is an unreadable one that could not be kept; the value in
// memory stays either way.
bool gf_saveBoolParameter(const BoolParameter& p);
bool lf_saveIntParameter(const IntParameter& p);
bool gf_saveStringParameter(const StringParameter& p);
bool gf_setStringParameterAndSave(StringParameter& p, const std::string& text);

// "/parameters/parameter[@name='KEY']" (keys never hold an apostrophe).
std::string gf_findParameterNode(std::string_view key);
// Append a child "parameter" with "name" and "value"; false when the node cannot take a child.
bool gf_addBoolParameterNode(pugi::xml_node node, const std::string& key, bool value);
bool gf_addIntParameterNode(pugi::xml_node node, const std::string& key, std::int32_t value);
bool gf_addStringParameterNode(pugi::xml_node node, const std::string& key, const std::string& value);
// Sets an existing attribute to the decimal text; false, and nothing changed, when there is none.
bool gf_setIntAttribute(pugi::xml_node node, const char* name, std::int32_t value);
// The attribute's text; empty when the node or the attribute is missing.
std::string gf_getAttribute(pugi::xml_node node, const char* name);

// "KEY=VALUE" lines of the log.
void gf_logBoolParameter(const BoolParameter& p);
void gf_logIntParameter(const IntParameter& p);
void gf_logStringParameter(const StringParameter& p);

// Appends the top-level "meta" block (author, version, date, copyright). False when an entry could not be
// appended; the entries after it are then missing.
bool gf_writeMetaInfo(pugi::xml_document& doc);
// Reads author, date and version of the meta block into g_author, g_date and g_version, stopping at the
// first one missing (which is emptied); then logs the warning "meta data incorrect?" and returns false.
bool gf_checkMetaInfo(const pugi::xml_document& doc);
