// Writing stand files to disk: a generated (full) file or the learned file of the active park airport, built
// in memory and saved through a temporary file in the same folder that is renamed over the old one, so a
// failed or interrupted save leaves the old file whole. Also the save of the park airport's learned file when
// the airport is left.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "airports/stand_file.h"

// Builds the document of the file (its mode chooses full or learned) and saves it at the path; the folder must
// exist. False when it could not be built or saved, which is logged; the file at the path is then the old one
// (or none).
bool gf_writeApf(const StandFile& file, const std::filesystem::path& path);

// The settings in force now, as a learned file keeps them.
StandFileSettings gf_currentStandFileSettings();

// The stands a learned file keeps of these: in a file that is not hand-made each stand loses the options that
// came with an archived file, and a stand that is not manual and has neither options nor a changed radius or
// cargo flag is left out. A hand-made file keeps every stand with all its options, since it replaces the
// archived stands when it is read.
std::vector<ParkPos> gf_learnedStands(const std::vector<ParkPos>& stands, bool handmade);

// Where the learned file of the active park airport is written: g_apfLearnedPath (the path it was read from)
// when it is set, else by the publisher: "airports/learned/stock", ".../simaddon" or
// ".../thirdparty/<publisher>", with the airport's stand-file name.
std::filesystem::path gf_learnedSavePath();

// The learned file of the active park airport, written in learned mode (its folder created when missing) with
// the elements the load carried, and reported on the status line and in the log. On success g_apfUpdates and
// g_apfSettingsChanged are reset. On failure the file's text is kept in memory, so leaving the airport loses
// no learning: every later save and the next load of that file write it first (or read it in its place); at
// the program's end it is written beside the file.
// Work thread.
void lf_saveAirportFile();
// Writes the learned files whose save failed earlier in this run; those written are forgotten.
void gf_saveUnsavedLearnedFiles();
// The text of a learned file whose save failed and is still to be written.
std::optional<std::string> gf_unsavedLearnedText(const std::filesystem::path& path);
// Forgets them all, and the files guarded below (tests).
void gf_forgetUnsavedLearnedFiles();
// The learned file at the path is the user's, not taken whole and without a copy: a save over it first makes
// the copy, and fails when it cannot.
void gf_guardUncopiedLearnedFile(const std::filesystem::path& path);
// At the program's end: the text of each learned file whose save failed is written beside it (or, where that
// fails, into the application folder) as "<name>.unsaved.xml", and the log names the place and the cause.
void gf_writeUnsavedLearnedFilesAtEnd();
