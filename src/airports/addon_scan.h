// The add-on airport scan: finds the scenery folders of add-on airports (from the simulator's scenery lists or
// the afolder settings), has every BGL file with an airport decoded into stand files, writes the scan log
// "AirportsScanLog.txt" and gathers the stand files for offline learning into "TBLO". Start-up thread.
//
// Folder lists hold the folders as the simulator's files and the settings write them (Windows paths); each is
// mapped onto this file system when it is scanned. The BGL files are decoded on the workers of a pool of
// g_scanLimit threads that the scan joins before it ends; a quit or stop cancels the files not yet decoded.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "airports/scan_log.h"

class StringParameter;
class TaskPool;

// Stand files the last scan copied into TBLO; shown on the scan row while above 0.
extern std::atomic<std::uint32_t> g_offlineLearningCount;
// False while some generated ORBX stand file still waits for offline learning; the connection band shows the
// simaddon count in yellow then.
extern std::atomic<bool> g_orbxDone;

// The whole scan; throws user errors 49 and 42 and file-system errors to the start-up thread. SCAN_AIRPORTS is
// switched off (and saved) only when the scan ran to its end.
void gf_scanAddOnAirports();

enum class AirportScanOutcome { Found, NothingFound, Cancelled };

// The folders of the active add-on areas of the simulator's scenery.cfg / the <Path> values of its
// scenery_add-ons.xml (both in the simulator's ProgramData folder), appended to `folders`.
void lf_readSceneryCfg(std::vector<std::string>& folders);
void lf_readSceneryAddOnsXml(std::vector<std::string>& folders);
// scenery.cfg read as the INI file it is: the Local value of every [Area.nnn] section whose Active is TRUE,
// in file order, unless it names a stock scenery folder; a relative value is joined to `installPath`.
std::vector<std::string> lf_parseSceneryCfg(const std::vector<std::string>& lines, std::string_view installPath);
// The non-empty folder settings in order; user error 42 naming the setting that lies in the stock scenery.
void lf_checkNotStockAirportsFolder(const StringParameter* first, const StringParameter* last,
                                    std::vector<std::string>& folders);

// Removes the previous scan log, scans every folder, writes the scan log and gathers the offline-learning
// files. `suitable` decides per ICAO code whether a stand file goes to offline learning.
AirportScanOutcome lf_scanAirportFolders(
    const std::vector<std::string>& folders,
    const std::function<bool(const std::string&)>& suitable = nullptr);
// One entry of the folder list: skipped when empty, missing, not a folder or in the stock scenery.
void lf_scanOneAirportFolder(TaskPool& pool, const std::string& folder);
// The walk of one folder (`local`, shown as `folder`) with one decoder task per qualifying BGL file.
void lf_scanFolderForAirports(TaskPool& pool, const std::filesystem::path& local, const std::string& folder);
// The generated stand files that `suitable` accepts, copied into TBLO; sets g_offlineLearningCount and
// g_orbxDone.
void lf_collectOfflineLearning(const std::function<bool(const std::string&)>& suitable);

// A scenery.cfg Local value that holds one of the markers of the simulator's own scenery ("\World", "\0106"...).
bool lf_isStockSceneryPath(std::string_view text);
// A path of this file system at or below the simulator's "Scenery" folder.
bool lf_isInStockScenery(std::string_view path);
// Recomputes the stock scenery folder from SIM_INSTALL_PATH; the scan does this at its start.
void lf_refreshStockSceneryPath();

// Each line followed by a line end, into a new file (written beside it, then renamed over it). False when the
// file cannot be written.
bool gf_writeLinesToFile(const std::vector<std::string>& lines, const std::filesystem::path& path);
