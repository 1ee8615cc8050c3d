// "Log.txt": the program's one plain-text log. Whole lines, each flushed at once, serialised by one mutex.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Keeps the two previous logs (Log0.txt, Log00.txt), opens "Log.txt" in the working folder, truncating it,
// and writes the header line. Throws std::runtime_error "Failed to write file <path>" when it cannot open.
void gf_openLog();
// Same, for a log at another path (tests).
void gf_openLog(const std::filesystem::path& path);
void gf_closeLog();
bool gf_logIsOpen();

void gf_logLine(std::string_view text);
void gf_logString(const std::string& text);
void gf_logWarning(std::string_view text);   // "===> " + text
void gf_logIndented(std::string_view text);  // ten blanks + text
