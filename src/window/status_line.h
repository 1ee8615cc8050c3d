// The status line at the bottom of the main window: short messages (yellow on green) that go away after
// 25 counted seconds, an error (yellow on red) that stays until it is cleared, and the standing faults
// (yellow on red, below an error and above a message) that stay until they are withdrawn. Every part of the program
// writes to it through gf_showMessage, gf_clearMessage and gf_showError (frame/display.h), from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frame/display.h"
#include "platform/ui.h"

// Makes gf_showMessage and gf_showError write to the window's status line (gf_createMainWindow does it).
void gf_installStatusLine();

// The status line's own writers, as installed.
void lf_showStatusMessage(std::string_view text, bool log);
void lf_showStatusError(std::string_view text);
void lf_showStandingFault(StandingFault which, std::string_view text, bool log);
void lf_clearStandingFault(StandingFault which);

// Withdraws every standing fault: the exit sequence does, so that its own messages are seen; a start-up
// after a restart shows again what is still wrong.
void gf_clearStandingFaults();

// The lines the status line shows in the error's colours, one row each: the error, then the standing faults in
// their order, at most two of them all. An error that a fault brought about (no liveries found while the
// install folder is missing, no install path after the settings file was lost) thus keeps its cause in view
// beneath it. Empty when the line shows a message or nothing. Under the status lock, which the caller holds.
inline constexpr std::size_t kRedLineRows = 2;
std::vector<std::string> lf_redLinesLocked();

// Empties the error text, then clears the message. The frame's parking pass, the install-path field and the
// exit sequence do this; nothing else clears an error.
void gf_clearError();

// The per-second work: counts the status line's seconds and clears a message shown for 25 of them.
void gf_tickDisplaySeconds();

// Stores the aircraft counts of the display and repaints the bands whose counts changed.
void gf_refreshAirborneCount(std::uint64_t liveAirborne, std::uint64_t parkedLive, std::uint64_t parkedStatic);

// The text as the status line draws it in `width` pixels, measured as `canvas` draws: whole when it fits.
// Else its paths (from a word that starts with a root, a drive or an address, or holds two of '/' and '\',
// on to the last word holding one before a word that ends on ';', ',', ':', '"' or ')') lose their middle
// ("..."), the longest first and down to a few characters, so that the words around them stay as written
// and a path keeps its file name; a line that is still too wide loses its own middle.
std::string gf_fitStatusText(std::string_view text, int width, const ui::Canvas& canvas);

// The format filled with the program's title for both of its two fields.
std::string lf_formatWithAppName(std::string_view format);

// What the status line holds now.
std::string gf_statusMessage();
std::string gf_statusError();
std::string gf_standingFault(StandingFault which);
