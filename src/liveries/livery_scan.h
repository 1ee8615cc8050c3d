// The livery scan: every aircraft.cfg / sim.cfg below a list of folders, parsed in parallel tasks, merged in
// folder order into g_scannedLiveries, prioritised, sorted, freed of repeats, and written to
// "LiveriesScanned.xml" with the scan reports.
//
// Folders are given as the simulator's files and the user's settings write them: Windows paths or paths of
// this machine. Each is mapped onto this file system (platform/simpath.h); the tests that depend on how a
// path reads ("airport" in it, its length, the IVAO packages) look at its Windows form, the folder text as
// given followed by the names below it joined with "\", so that a tree copied from Windows scans as there.
//
// Runs on the start-up (work) thread; only the file parses run on the workers of a TaskPool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TaskPool;

enum class ScanOutcome {
    Found,         // liveries were found, written and reported
    NothingFound,  // no livery at all; nothing written
    Cancelled,     // an exit or a stop cut the scan short; nothing written, nothing to build from
};

// Shared by the folders of one scan.
struct ScanCounters {
    std::int32_t priority = 0;            // number of the last existing folder, at most 10
    std::uint64_t total = 0;              // liveries found so far
    std::uint64_t sizeAfterPrevious = 0;  // size of g_scannedLiveries after the previous folder
};

// The whole scan of the folders, in list order (the order is the priority with LIG_PRIORITIZE).
ScanOutcome lf_scanAllLiveryFolders(const std::vector<std::string>& folders);
// One folder with its checks and its count line. Throws the file-system error "exists" when the folder's
// existence cannot be tested.
void lf_scanLiveryFolders(TaskPool& pool, ScanCounters& counters, const std::string& folder);
// The walk of one existing folder; the liveries of its files are appended to g_scannedLiveries in the
// order the walk meets the files (each folder's entries by name without regard to case, as Windows lists
// them), whatever order the tasks finish in. A folder below it that cannot be read is skipped alone.
void lf_searchLiveriesInFolder(TaskPool& pool, std::int32_t priority, const std::string& folder);

// Removes the previous scan's reports and "LiveriesScanned.xml".
void lf_removePreviousReports();
// Empties every scan report list, the database corrections, the seen and the excluded titles.
void lf_clearScanReports();

// The path text a walk tests: `folder` as given, then `name` after a "\" (none when it already ends in one).
std::string gf_windowsChild(const std::string& folder, const std::string& name);
