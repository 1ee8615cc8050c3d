#include "liveries/livery_scan.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <filesystem>
#include <future>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/exit.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/task_pool.h"
#include "frame/text.h"
#include "liveries/aircraft_cfg.h"
#include "liveries/livery_records.h"
#include "liveries/regcodes.h"
#include "liveries/scan_reports.h"
#include "platform/simpath.h"
#include "platform/ui.h"
#include "window/main_window.h"

namespace fs = std::filesystem;

namespace {

// Paths at or beyond this length are not descended into: Windows would not open what lies below them.
constexpr std::size_t kMaxWalkPath = 250;

// How far the walk may run ahead of the parses, in tasks per worker: queued, and started but uncollected.
constexpr std::size_t kQueuedPerWorker = 4;
constexpr std::size_t kPendingPerWorker = 8;

struct FolderWalk {
    TaskPool& pool;
    std::int32_t priority;
    std::size_t limit;  // results left uncollected before the oldest is waited for
    std::deque<std::future<LiveryFileResult>> pending;
};

bool lf_cancelled() { return gf_exitOrStopRequested(); }

std::string lf_upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    return text;
}

// aircraft.cfg or sim.cfg in any letter case; "aircraft.cfg.bak" is none.
bool lf_isLiveryFile(const std::string& name) {
    const std::string upper = lf_upper(name);
    return upper == "AIRCRAFT.CFG" || upper == "SIM.CFG";
}

bool lf_isIvaoPackage(std::string_view windowsPath) {
    return windowsPath.find("ivao_x-csl") != std::string_view::npos ||
           windowsPath.find("IVAO_MTL") != std::string_view::npos;
}

// The oldest task's liveries join the list; after a stop they are only waited for, since nothing will be
// built from them.
void lf_collectOldest(FolderWalk& walk, std::string_view where) {
    std::future<LiveryFileResult> oldest = std::move(walk.pending.front());
    walk.pending.pop_front();
    try {
        LiveryFileResult result = oldest.get();
        if (!lf_cancelled()) gf_takeFileLiveries(std::move(result), g_scannedLiveries);
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("liveries search aborted, futs {}, {}", where, e.what()));
    }
}

bool lf_oldestIsReady(const FolderWalk& walk) {
    return walk.pending.front().wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// The pool's workers are the throttle: no more parses run at once than there are hardware threads, and the
// walk goes on reading folders while they parse, waiting only when it is far ahead of them. The count of
// started tasks is kept as every scan keeps it; each parse leaves it when it ends.
void lf_startTask(FolderWalk& walk, const fs::path& file, bool ivao) {
    g_scanRunningTasks.fetch_add(1);
    try {
        walk.pending.push_back(walk.pool.submit([priority = walk.priority, file, ivao](std::stop_token stop) {
            // A stopped scan keeps nothing: a task that has not begun ends at once, leaving the throttle as
            // every task does.
            if (stop.stop_requested()) {
                gf_leaveThrottle();
                return LiveryFileResult{};
            }
            return ivao ? lf_searchLiveriesInMtlFile(priority, file) : lf_searchLiveriesinFile(priority, file);
        }));
    } catch (...) {
        gf_leaveThrottle();
        throw;
    }
    while (!walk.pending.empty() && (walk.pending.size() > walk.limit || lf_oldestIsReady(walk))) {
        lf_collectOldest(walk, "inner");
    }
}

// One entry of a folder: its name and kind, as the folder's listing gives them (only a link costs a
// status query), so that the walk never has to ask again.
struct FolderEntry {
    std::string key;  // the name in upper case: the order
    std::string name;
    bool file = false, folder = false, link = false;
    std::error_code error;  // a failed status query, reported when the walk reaches the entry
};

// A folder's entries in the order Windows lists them: by name, without regard to case. Reading them all
// first also makes the walk independent of the order in which this file system happens to keep them.
bool lf_readFolder(const fs::path& dir, const std::string& windowsDir, std::vector<FolderEntry>& entries) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    std::string_view operation = "recursive_directory_iterator::recursive_directory_iterator";
    if (!ec) {
        operation = "recursive_directory_iterator::operator++";
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string& full = it->path().native();
            FolderEntry& e = entries.emplace_back();
            e.name = full.substr(full.rfind('/') + 1);
            e.key = lf_upper(e.name);
            std::error_code status;
            e.link = it->is_symlink(status);
            if (!status) e.file = it->is_regular_file(status);
            if (!status && !e.file) e.folder = it->is_directory(status);
            if (status && status != std::errc::no_such_file_or_directory) e.error = status;
        }
    }
    if (ec) {
        const FileSystemError error(operation, dir, ec);
        gf_logWarning(fmt::format("liveries search in folder {} aborted because of iterator problem: {}", windowsDir,
                                  error.what()));
        return false;
    }
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        return a.key != b.key ? a.key < b.key : a.name < b.name;
    });
    return true;
}

// Depth-first, each folder's entries before the next entry of its parent. A folder that cannot be read is
// left out with a warning and the walk goes on beside it; recursion stays shallow, as every level adds at
// least two bytes to a path that stops below 250.
void lf_walkFolder(FolderWalk& walk, const fs::path& dir, const std::string& windowsDir) {
    std::vector<FolderEntry> entries;
    if (!lf_readFolder(dir, windowsDir, entries)) return;
    for (const FolderEntry& entry : entries) {
        if (lf_cancelled()) {
            walk.pool.requestStop();
            return;
        }
        const std::string windowsPath = gf_windowsChild(windowsDir, entry.name);
        try {
            if (entry.error) throw FileSystemError("status", dir / entry.name, entry.error);
            if (entry.file) {
                if (lf_isLiveryFile(entry.name)) lf_startTask(walk, dir / entry.name, lf_isIvaoPackage(windowsPath));
                continue;
            }
            // Links to folders are not followed: they could lead back up the tree.
            const bool descend = windowsPath.find("airport") == std::string::npos && windowsPath.size() < kMaxWalkPath;
            if (descend && entry.folder && !entry.link) lf_walkFolder(walk, dir / entry.name, windowsPath);
        } catch (const std::exception& e) {
            gf_logWarning(fmt::format("liveries search in {} aborted, cause: {}", windowsPath, e.what()));
        }
    }
}

// Whether the folder exists: a missing one (or one on a drive this machine lacks) is an answer, a failing
// test is an error.
bool lf_folderExists(const std::optional<fs::path>& local) {
    if (!local) return false;
    std::error_code ec;
    const fs::file_status status = fs::status(*local, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        throw FileSystemError("exists", *local, ec);
    }
    return fs::exists(status);
}

// With LIG_PRIORITIZE: of each airline and type only the liveries of the first folder that has any. A
// record goes when one of the same model came from an earlier folder; the earliest folder's records never
// go, so comparing with the smallest priority of the model decides the same in one pass.
void lf_dropLowerPriorities() {
    std::unordered_map<std::string, std::int32_t> best;
    for (const LiveryData& l : g_scannedLiveries) {
        const std::string key = l.airl + '\n' + l.type;
        const auto [it, added] = best.try_emplace(key, l.priority);
        if (!added) it->second = std::min(it->second, l.priority);
    }
    g_scannedLiveries.remove_if([&](const LiveryData& l) { return l.priority > best.at(l.airl + '\n' + l.type); });
}

}  // namespace

std::string gf_windowsChild(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    std::string path = folder;
    if (path.back() != '\\' && path.back() != '/') path.push_back('\\');
    return path.append(name);
}

void lf_searchLiveriesInFolder(TaskPool& pool, std::int32_t priority, const std::string& folder) {
    FolderWalk walk{pool, priority, kPendingPerWorker * pool.workers(), {}};
    if (const auto local = platform::mapSimPath(folder)) lf_walkFolder(walk, *local, folder);
    // What the tasks already found is kept, whatever stopped the walk; a stop keeps nothing.
    while (!walk.pending.empty()) lf_collectOldest(walk, "outer");
}

void lf_scanLiveryFolders(TaskPool& pool, ScanCounters& counters, const std::string& folder) {
    if (folder.empty()) return;
    const auto local = platform::mapSimPath(folder);
    if (!lf_folderExists(local)) {
        gf_logLine(folder + " does not exist, skipped!");
        return;
    }
    std::error_code ec;
    if (!fs::is_directory(*local, ec)) {
        gf_logLine(folder + " is not a folder name, skipped!");
        return;
    }
    if (counters.priority < 10) ++counters.priority;
    if (!lf_cancelled()) lf_searchLiveriesInFolder(pool, counters.priority, folder);

    const std::string where = "found in " + folder;
    if (g_scannedLiveries.empty()) {
        gf_logLine(fmt::format("No liveries {}", where));
        return;
    }
    const std::uint64_t size = g_scannedLiveries.size();
    const std::uint64_t found = size - counters.sizeAfterPrevious;
    gf_logLine(fmt::format("{} liverie{} {}", found, gf_pluralSuffix(found), where));
    counters.total += found;
    counters.sizeAfterPrevious = size;
}

void lf_removePreviousReports() {
    for (const fs::path& file :
         {g_noFltsimReportPath, g_skippedOnPriorityReportPath, g_inlineRegcodesReportPath, g_invalidAirlinesReportPath,
          g_invalidAircraftReportPath, g_fixesReportPath, g_invalidCfgReportPath, g_incompleteFltsimReportPath,
          // The corrections report too: a scan that corrects nothing must not leave the last scan's behind.
          g_airlineModelReportPath, g_liveriesScannedFile}) {
        gf_removeIfExists(file);
    }
}

void lf_clearScanReports() {
    gf_clearAircraftCfgReports();
    g_dbaseCorrections.clear();
}

ScanOutcome lf_scanAllLiveryFolders(const std::vector<std::string>& folders) {
    g_scannedLiveries.clear();
    try {
        lf_removePreviousReports();
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("problems with removing previous files: {}", e.what()));
    }
    lf_readAigRegcodesForScan();

    ScanCounters counters;
    {
        // Every task of the scan has ended when the pool is gone, also when a folder's test throws.
        const std::uint32_t workers = std::max<std::uint32_t>(1, g_scanLimit);
        TaskPool pool(workers, kQueuedPerWorker * workers);
        for (const std::string& folder : folders) {
            if (lf_cancelled()) break;
            lf_scanLiveryFolders(pool, counters, folder);
        }
    }
    if (lf_cancelled()) {
        g_scannedLiveries.clear();
        lf_clearScanReports();
        return ScanOutcome::Cancelled;
    }
    if (g_scannedLiveries.empty()) {
        g_mainWindow.liveryCount = 0;
        ui::backend().invalidate(kUpperBand);
        lf_clearScanReports();
        gf_clearMessage();
        return ScanOutcome::NothingFound;
    }

    if (folders.size() >= 2) gf_logLine(fmt::format("{} in total", counters.total));
    for (LiveryData& livery : g_scannedLiveries) lf_correctLiveryFromDbase(livery);
    if (g_LIG_PRIORITIZE.value()) lf_dropLowerPriorities();
    g_scannedLiveries.sort(gf_liveryOrder);  // stable: equal keys keep the order they were found in
    g_scannedLiveries.unique();
    lf_writeLiveriesScanned();
    g_scannedLiveries.clear();
    lf_writeLiveryScanReports();
    lf_clearScanReports();
    gf_clearMessage();
    return ScanOutcome::Found;
}
