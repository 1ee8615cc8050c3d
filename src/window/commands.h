// Clicks on the check boxes and push buttons, and Enter in the edit fields.
#pragma once

#include <cstdint>
#include <string>

#include "frame/parameters.h"
#include "platform/ui.h"

// A click: flips and saves the check box, tells the user what that means and passes the follow-up on.
// True when the id belongs to none of the 29 check boxes and buttons. The settings band is repainted
// after every call; an exception of an action is logged and the window keeps running.
bool lf_HandleWMCOMMAND(ui::ControlId id);

// Enter in an edit field: clears the status line, then applies the field. False for an id that is no field.
bool lf_handleEditEnter(ui::ControlId id);

// The field's text, at most 1023 UTF-16 units; empty when it cannot be read.
std::string lf_getTextFromId(ui::ControlId id);

// The integer field's text to the parameter: converted, clamped, saved and reported. True when it changed.
bool lf_processTbInt(IntEditParameter& p);
// MAX_FIT_FL's text to MAX_FIT (half hours) and back. True when it changed.
bool lf_processTbFloat(FloatEditParameter& p);

void lf_intEditProc(IntEditParameter& p);
void lf_floatEditProc(FloatEditParameter& p);
void lf_textEditProc(StringEditParameter& p);

// Splits a time shift in minutes into the three fields (each clamped, saved and shown).
void lf_splitTimeShift(std::int32_t minutes);
// Applies a time shift in minutes (limited to 4 weeks). Unless quiet, reports it and has all aircraft
// removed and the parking renewed for the new time.
void lf_setTimeShift(std::int32_t minutes, bool quiet);
// A parking setting changed: have the parking renewed at the next 15-second tick (only with a stand file).
void lf_requestParkingRefresh();

void lf_changeInstallPath(const std::string& text);
// What the install path names (through the simulator path mapping); a file-system failure counts as nothing.
enum class InstallPathKind { Nothing, NotAFolder, Folder };
InstallPathKind gf_installPathKind(const std::string& text);
// The install path names no folder (nothing, or a file): the liveries and add-on airports in the simulator's
// folder are not read, and the line stays until a path that exists is typed.
void gf_showInstallPathFault(const std::string& path, InstallPathKind kind);
void lf_blockCallsign();
void lf_unblockCallsign();
void lf_processDestinationField();
// DESTINATION becomes the code (known to the airport list) and the work thread makes it the park airport.
void lf_setDestination(const std::string& code);

// Upper case of the ASCII letters; every other byte is kept.
std::string gf_upperAscii(std::string text);
