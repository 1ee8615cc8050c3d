// After a livery scan: the database's corrections of the scanned liveries by their registrations, and the
// report files of the problems found in the configuration files (aircraft_cfg.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "liveries/livery_records.h"

// One line per field a registration changed; filled by lf_correctLiveryFromDbase on the walking thread.
extern std::vector<std::string> g_dbaseCorrections;

// Takes airline (the operator, when the record has one), type and cargo flag from the database record of the
// livery's registration, one report line per changed field. Nothing without a registration or a record.
void lf_correctLiveryFromDbase(LiveryData& livery);

// Writes the report lists that are not empty to their files in "output/errors" and "output/info" and the
// summary into the log. A failing test or creation of "output/errors" throws the file-system error.
void lf_writeLiveryScanReports();

// Each line followed by a line end, written to a temporary file beside the target and renamed over it, so a
// failed write never leaves half a report. False when the file cannot be written.
bool lf_writeLines(const std::vector<std::string>& lines, const std::filesystem::path& path);
