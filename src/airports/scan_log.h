// What the add-on airport scan gathers while its decoder tasks run: the lines of "AirportsScanLog.txt" and
// whether some add-on airport was covered. The scan starts and takes them; the decoder tasks add to them from
// the scan's workers.
#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Set by the decoder when an add-on airport's stand file was generated or linked to the archive.
extern std::atomic<bool> g_addOnAirportFound;

// One line of the scan log; any thread.
void gf_addScanLogLine(const std::string& line);
// A copy of the scan log as it stands (tests).
std::vector<std::string> gf_scanLogLines();
// Room for a scan's lines before its tasks start adding them.
void gf_reserveScanLog();
// The lines gathered so far; the log is empty afterwards.
std::vector<std::string> gf_takeScanLogLines();

// The files a scan makes in my_ORBX and my_thirdparty. Whatever lies there and the running scan did not make
// is the user's: a scan starts with none made, and a decoder task claims a stand file or pointer file before it
// writes it.
void gf_startScanFiles();
// Claims `path` for the running scan, unless the user owns its airport there: the user's file (the stand file
// or the pointer file of the same code in the same folder, which the scan did not make) is the answer then.
std::optional<std::filesystem::path> gf_claimScanFile(const std::filesystem::path& path);
// Whether the running scan claimed the file.
bool gf_scanMadeFile(const std::filesystem::path& path);
// The files the running scan claimed, whether or not they were written.
std::vector<std::filesystem::path> gf_scanMadeFiles();
