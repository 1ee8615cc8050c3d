// The 44 controls of the settings band (26 check boxes, 15 edit fields, 3 push buttons in ten rows), their
// labels, which are drawn rather than made as windows so that their colour can carry state, and the rules
// that enable and disable groups of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frame/parameters.h"
#include "platform/ui.h"

// Creates every control, row by row and left to right, then repaints the settings band. False when the
// window layer refused one of them (the others are still made).
bool lf_createControls();

// Every control of the band in creation order.
std::vector<ParameterControl*> gf_windowControls();
// The 26 check boxes.
const std::vector<CheckBoxParameter*>& gf_checkBoxParameters();

// Draws the labels of the settings band (part of the window's paint).
void lf_paintControlLabels(ui::Canvas& canvas);

// "{} airport{} in {} folder".
std::string lf_formatAirportCount(std::uint64_t count, std::string_view folder);

// Once per start-up, after the settings were read: parking, range, collision and callsign controls, and the
// stored time shift applied quietly to the three time-shift fields.
void lf_initTimeShift();
// SIM_TIME off: the shift goes back to 0 and the fields take typing; on: the shift follows the simulator's
// clock and the fields are disabled.
void lf_enableTimeShiftFields();
// The five time controls by the licence: the SIM_TIME and KEEP_SIM_TIME_PAR check boxes and, while SIM_TIME
// is off, the three time-shift fields. Their labels turn grey with them.
void lf_enableEditControls(bool enable);
// The parking_percentage and MAX_FIT_FL fields and the INITIAL_LOAD_ONLY, PARK_SOFT, PARK_FAKE and WEEK
// check boxes follow RT_PARKTRAFFIC_ONLY: enabled and showing their values while it is off.
void gf_updateParkingControls();
// The start-up's enabling once the settings are read and the simulator found: every control, except that the
// parking_percentage and MAX_FIT_FL fields are emptied and disabled (MAX_FIT_FL takes its value from
// MAX_FIT), DESTINATION and "Flush static" wait for the parking code, the time-shift fields follow SIM_TIME
// and the two range fields follow AUTO_RANGE.
void gf_enableSettingsControls();
