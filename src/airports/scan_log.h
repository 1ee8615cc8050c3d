// What the add-on airport scan gathers while its decoder tasks run: the lines of "AirportsScanLog.txt" and
// whether some add-on airport was covered. The scan starts and takes them; the decoder tasks add to them from
// the scan's workers.
#pragma once

#include <atomic>
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
