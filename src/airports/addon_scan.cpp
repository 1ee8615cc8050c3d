#include "airports/addon_scan.h"

#include <algorithm>
#include <array>
#include <deque>
#include <exception>
#include <future>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>

#include <fmt/format.h>

#include "airports/bgl_decoder.h"
#include "airports/stand_file.h"
#include "airports/stand_sources.h"
#include "airports/stand_load.h"
#include "frame/display.h"
#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/parameters.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/simulator.h"
#include "frame/task_pool.h"
#include "frame/text.h"
#include "liveries/addon_packages.h"
#include "platform/names.h"
#include "platform/simpath.h"
#include "platform/ui.h"
#include "window/main_window.h"

namespace fs = std::filesystem;

std::atomic<std::uint32_t> g_offlineLearningCount{0};
std::atomic<bool> g_orbxDone{true};

namespace {

// The simulator's own scenery, mapped onto this file system; empty while SIM_INSTALL_PATH names nothing.
std::mutex g_stockMutex;
std::string g_stockScenery;

constexpr const char* kSupportAddress = "airports@zentavo.org";

constexpr std::array<std::string_view, 45> kStockMarkers = {
    "\\Cities", "\\CITIES", "\\cities", "\\World", "\\BASE", "\\0006", "\\0007", "\\0103", "\\0106",
    "\\0107",   "\\0206",   "\\0207",   "\\0307",  "\\0407", "\\0505", "\\0506", "\\0507", "\\0606",
    "\\0607",   "\\0706",   "\\0707",   "\\0805",  "\\0806", "\\0807", "\\0900", "\\0906", "\\0907",
    "\\1000",   "\\1006",   "\\1007",   "\\1100",  "\\1102", "\\1107", "\\AFRI", "\\ASIA", "\\AUST",
    "\\EURE",   "\\EURW",   "\\NAMC",   "\\NAME",  "\\NAMW", "\\OCEN", "\\SAME", "\\Global", "\\Bathymetry"};

bool lf_cancelled() { return gf_exitOrStopRequested(); }

std::string lf_stockScenery() {
    std::lock_guard lock(g_stockMutex);
    return g_stockScenery;
}

// A file of the simulator's ProgramData folder, mapped; named as Windows names it when drive C: is not here.
fs::path lf_programDataFile(std::string_view name) {
    const std::string windowsPath = gf_simProgramDataFile(name);
    return platform::mapSimPath(windowsPath).value_or(fs::path(windowsPath));
}

bool lf_isAreaSection(std::string_view name) {
    return name.size() >= 4 && platform::equalsNoCase(name.substr(0, 4), "Area");
}

// The offline-learning count on the scan row, and the colour of the simaddon count in the connection band.
void lf_showOfflineLearning() {
    g_mainWindow.addonAirportCount = g_offlineLearningCount.load();
    g_mainWindow.simaddonOk = g_orbxDone.load();
    ui::backend().invalidate(kUpperBand);
    ui::backend().invalidate(kMiddleBand);
}

// The codes of the stand files the running scan made in `folder`: the user's files there take no part in
// offline learning, which would move them away.
std::vector<std::string> lf_codesOf(const fs::path& folder) {
    std::vector<std::string> codes;
    if (!fs::is_directory(folder)) return codes;
    for (const fs::path& file : gf_listXmlFiles(folder))
        if (gf_scanMadeFile(file)) codes.push_back(file.stem().string());
    std::sort(codes.begin(), codes.end());
    return codes;
}

void lf_zipWarning(const fs::path& tblo) {
    gf_logLine("");
    gf_logWarning(fmt::format("zip folder \"{}\", and mail to \"{}\" please!\\n", tblo.string(), kSupportAddress));
}

// Copies the code's stand file from `folder` into TBLO; the generated file goes once a pointer file beside
// it shows that the archive covers the airport. True when copied.
bool lf_copyForLearning(const fs::path& folder, const std::string& code, bool orbx) {
    const fs::path source = folder / (code + ".xml");
    const fs::path target = g_tbloFolderName / (code + ".xml");
    if (!fs::copy_file(source, target, fs::copy_options::overwrite_existing)) {
        gf_logWarning(orbx ? fmt::format("failed to copy {}", source.string())
                           : fmt::format("\"{}\" failed to copy \"{}\"", source.string(), target.string()));
        return false;
    }
    gf_logLine(fmt::format("{} copied to {}", source.string(), target.string()));
    if (fs::exists(folder / (code + ".txt")) && gf_scanMadeFile(source)) fs::remove(source);
    return true;
}

// The decoder task of one file. The pool's workers are the throttle: no more files are decoded at once than
// there are hardware threads. A cancelled scan's tasks that have not begun end at once; every task leaves the
// count of running tasks once, as the decoder does.
std::future<std::uint64_t> lf_startTask(TaskPool& pool, const fs::path& file) {
    g_scanRunningTasks.fetch_add(1);
    try {
        return pool.submit([file](std::stop_token stop) -> std::uint64_t {
            if (stop.stop_requested()) {
                gf_leaveThrottle();
                return 0;
            }
            return lf_toParkingPositions(file);
        });
    } catch (...) {
        gf_leaveThrottle();
        throw;
    }
}

// The files of the scan's two folders, by path: size and time of the last change. The list of what a scan
// made ("AirportsScanGenerated.txt" beside the scan log) lets the next scan remove just those, while unchanged:
// everything else there is the user's (archived stand files, a folder that names a park airport).
struct FileStamp {
    std::uintmax_t size = 0;
    std::int64_t changed = 0;
    bool operator==(const FileStamp&) const = default;
};
using FileStamps = std::map<std::string, FileStamp>;

fs::path lf_generatedListPath() { return g_airportsScanLogFile.parent_path() / "AirportsScanGenerated.txt"; }

std::optional<FileStamp> lf_stamp(const fs::directory_entry& entry) {
    std::error_code ec;
    if (!entry.is_regular_file(ec)) return std::nullopt;
    const std::uintmax_t size = entry.file_size(ec);
    const auto changed = entry.last_write_time(ec).time_since_epoch().count();
    if (ec) return std::nullopt;
    return FileStamp{size, static_cast<std::int64_t>(changed)};
}

FileStamps lf_stampScanFolders() {
    FileStamps stamps;
    for (const fs::path& folder : {g_myOrbxFolder, g_myThirdpartyFolder}) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
            if (const std::optional<FileStamp> stamp = lf_stamp(*it)) stamps[it->path().string()] = *stamp;
    }
    return stamps;
}

// Nothing when there is no list: the last scan was made by a version that kept none.
std::optional<FileStamps> lf_readGeneratedList() {
    std::error_code ec;
    if (!fs::exists(lf_generatedListPath(), ec)) return std::nullopt;
    FileStamps listed;
    std::vector<std::string> lines;
    gf_readExtTextFileToStringVector(lf_generatedListPath(), lines);
    for (const std::string& line : lines) {
        // "<size> <time> <path>": the path last, since it may hold blanks.
        std::istringstream in(line);
        FileStamp stamp;
        std::string path;
        if (in >> stamp.size >> stamp.changed && std::getline(in >> std::ws, path) && !path.empty())
            listed[path] = stamp;
    }
    return listed;
}

// Records what the scan made: the files it claimed and wrote.
void lf_writeGeneratedList() {
    std::string text;
    for (const fs::path& path : gf_scanMadeFiles()) {
        if (const std::optional<FileStamp> stamp = lf_stamp(fs::directory_entry(path)))
            text += fmt::format("{} {} {}\n", stamp->size, stamp->changed, path.string());
    }
    std::error_code ec;
    fs::create_directories(lf_generatedListPath().parent_path(), ec);
    std::error_code reason;
    if (!gf_writeFile(text, lf_generatedListPath(), false, reason))
        gf_logWarning(fmt::format("could not write {}: {}", lf_generatedListPath().string(), reason.message()));
}

}  // namespace

namespace {

// What the last scan left: whether its list was there, and without it the files of the two folders.
struct LastScan {
    bool listed = false;
    std::set<fs::path> unproven;
};

// The previous scan's files go; whatever the scan did not make, or the user changed since, stays. Without the
// list of the last scan nothing goes: the files there are handed to the scan, and each is the scan's only when
// the scan writes the same now.
LastScan lf_removeGeneratedFiles() {
    const std::optional<FileStamps> listed = lf_readGeneratedList();
    const FileStamps now = lf_stampScanFolders();
    std::set<fs::path> unproven;
    for (const fs::path& folder : {g_myOrbxFolder, g_myThirdpartyFolder}) {
        std::vector<fs::path> entries;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
            entries.push_back(it->path());
        for (const fs::path& entry : entries) {
            if (!listed) {
                unproven.insert(entry);
                continue;
            }
            const auto is = now.find(entry.string());
            const auto was = listed->find(entry.string());
            const bool made = was != listed->end() && is != now.end() && was->second == is->second;
            if (!made) {
                gf_logLine(fmt::format("{} kept, the airports scan did not make it", entry.string()));
                continue;
            }
            std::error_code removeError;
            fs::remove(entry, removeError);
            if (removeError) gf_logLine(fmt::format("{} could not be removed", entry.string()));
        }
    }
    if (!listed && !unproven.empty()) {
        gf_logLine(fmt::format("no list of the last scan's files ({}): the {} file{} in {} and {} stay unless the "
                               "scan writes the same now",
                               lf_generatedListPath().string(), unproven.size(),
                               gf_pluralSuffix(std::uint64_t{unproven.size()}), g_myOrbxFolder.string(),
                               g_myThirdpartyFolder.string()));
    }
    return LastScan{listed.has_value(), std::move(unproven)};
}

// The files that were there before a scan without a list, and that the scan did not write the same of.
void lf_logUnprovenFilesKept() {
    for (const fs::path& path : gf_unclaimedUnprovenScanFiles())
        gf_logLine(fmt::format("{} kept, the airports scan did not make it", path.string()));
}

bool lf_inStock(const fs::path& local) { return lf_isInStockScenery(local.lexically_normal().string()); }

bool lf_pathContains(const fs::path& path, std::string_view text) {
    return path.native().find(text) != std::string::npos;
}

}  // namespace

bool lf_isStockSceneryPath(std::string_view text) {
    return std::any_of(kStockMarkers.begin(), kStockMarkers.end(),
                       [text](std::string_view m) { return text.find(m) != std::string_view::npos; });
}

// A folder beside the stock scenery whose name only begins like it ("Scenery2") is no part of it.
bool lf_isInStockScenery(std::string_view path) {
    const std::string stock = lf_stockScenery();
    if (stock.empty()) return false;
    for (std::size_t at = path.find(stock); at != std::string_view::npos; at = path.find(stock, at + 1)) {
        const std::size_t end = at + stock.size();
        if (end == path.size() || path[end] == '/') return true;
    }
    return false;
}

void lf_refreshStockSceneryPath() {
    std::string stock;
    const std::string install = g_SIM_INSTALL_PATH.value();
    if (!install.empty()) {
        if (const auto root = platform::mapSimPath(install)) {
            fs::path scenery = platform::mapSimPath("Scenery", *root).value_or(*root / "Scenery");
            stock = scenery.lexically_normal().string();
            while (stock.size() > 1 && stock.back() == '/') stock.pop_back();
        }
    }
    std::lock_guard lock(g_stockMutex);
    g_stockScenery = std::move(stock);
}

bool gf_writeLinesToFile(const std::vector<std::string>& lines, const fs::path& path) {
    std::string text;
    for (const std::string& line : lines) text.append(line).push_back('\n');
    return gf_writeFile(text, path, false);
}

std::vector<std::string> lf_parseSceneryCfg(const std::vector<std::string>& lines, std::string_view installPath) {
    std::vector<std::string> folders;
    bool inArea = false, active = false, haveLocal = false;
    std::string local;
    auto flush = [&] {
        if (inArea && active && !local.empty() && !lf_isStockSceneryPath(local)) {
            folders.push_back(gf_joinWindowsPath(installPath, local));
        }
        active = haveLocal = false;
        local.clear();
    };
    for (const std::string& raw : lines) {
        const std::string line = gf_trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            flush();
            const std::size_t close = line.find(']');
            inArea = close != std::string::npos &&
                     lf_isAreaSection(gf_trim(std::string_view(line).substr(1, close - 1)));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inArea || eq == std::string::npos) continue;
        const std::string key = gf_trim(std::string_view(line).substr(0, eq));
        const std::string value = gf_trim(std::string_view(line).substr(eq + 1));
        // As the simulator reads its INI files: the first of a repeated key counts.
        if (platform::equalsNoCase(key, "Local")) {
            if (!haveLocal) local = value;
            haveLocal = true;
        } else if (platform::equalsNoCase(key, "Active")) {
            active = active || platform::equalsNoCase(value, "TRUE");
        }
    }
    flush();
    return folders;
}

void lf_readSceneryCfg(std::vector<std::string>& folders) {
    const fs::path cfg = lf_programDataFile("scenery.cfg");
    gf_logLine(fmt::format("\nReading: {} for airport add-ons ...", cfg.string()));
    const std::size_t before = folders.size();
    std::vector<std::string> lines;
    lines.reserve(4048);
    if (!gf_readExtTextFileToStringVector(cfg, lines)) {
        gf_logLine(cfg.string() + " not found!");
    } else {
        for (std::string& folder : lf_parseSceneryCfg(lines, g_SIM_INSTALL_PATH.value())) {
            const auto local = platform::mapSimPath(folder);
            if (local && lf_inStock(*local)) continue;
            gf_logLine(fmt::format("      found:{}", folder));
            folders.push_back(std::move(folder));
        }
    }
    gf_logLine(fmt::format("{} scenery add-on paths found\n", folders.size() - before));
}

void lf_readSceneryAddOnsXml(std::vector<std::string>& folders) {
    const fs::path xml = lf_programDataFile("scenery_add-ons.xml");
    gf_logLine(fmt::format("\nReading {} for add-on airport ...", xml.string()));
    const std::size_t before = folders.size();
    std::vector<std::string> lines;
    lines.reserve(4048);
    if (!gf_readExtTextFileToStringVector(xml, lines)) gf_logLine(xml.string() + " not found!");
    for (const std::string& line : lines) {
        std::string path = gf_extractPath(line);
        if (path.empty()) continue;
        gf_logLine(fmt::format("found path:{}", path));
        folders.push_back(std::move(path));
    }
    gf_logLine(fmt::format("{} scenery add-on paths found\n", folders.size() - before));
}

void lf_checkNotStockAirportsFolder(const StringParameter* first, const StringParameter* last,
                                    std::vector<std::string>& folders) {
    for (const StringParameter* p = first; p != last; ++p) {
        const std::string value = p->value();
        if (value.empty()) continue;
        const auto local = platform::mapSimPath(value);
        if (local && lf_inStock(*local)) {
            throw qtm::UserErrorException(
                42, fmt::format("parameter {} points to stock airports instead of add-on airports!", p->key));
        }
        folders.push_back(value);
    }
}

void lf_scanFolderForAirports(TaskPool& pool, const fs::path& local, const std::string& folder) {
    gf_addScanLogLine(std::string("Scanning for ") + "addon airports in " + folder);
    std::deque<std::future<std::uint64_t>> pending;
    const std::size_t limit = std::max<std::uint32_t>(1, g_scanLimit);
    fs::path handedOut;

    std::error_code ec;
    fs::recursive_directory_iterator it(local, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        // A quit or stop ends the walk at once; the files handed out so far are still waited for.
        if (lf_cancelled()) {
            pool.requestStop();
            break;
        }
        const fs::path path = it->path();
        try {
            if (lf_inStock(path)) {
                it.disable_recursion_pending();
                continue;
            }
            std::error_code status;
            const bool file = it->is_regular_file(status);
            if (status) throw FileSystemError("status", path, status);
            if (!file || !lf_isBglExtension(path.extension().string())) continue;
            if (lf_pathContains(path, "statics") || lf_pathContains(path, "_heliports")) continue;
            if (!lf_bglHasAirportSection(path)) continue;
            pending.push_back(lf_startTask(pool, path));
            handedOut = path;
        } catch (const std::exception& e) {
            gf_addScanLogLine(
                fmt::format("{} airports search in folder {} aborted, cause: {}", "===> ", folder, e.what()));
            continue;
        }
        if (pending.size() > limit) {
            std::future<std::uint64_t> oldest = std::move(pending.front());
            pending.pop_front();
            try {
                oldest.get();
            } catch (const std::exception& e) {
                gf_addScanLogLine(fmt::format("{} airports search aborted, futs inner, \n{}\n{}\n{}", "===> ", e.what(),
                                              pending.size() + 1, handedOut.string()));
            }
        }
    }
    if (ec) {
        const FileSystemError error("recursive_directory_iterator", local, ec);
        gf_addScanLogLine(fmt::format("{} airports search in folder {} aborted because of iterator problem: {}",
                                      "===> ", folder, error.what()));
        return;  // the pool still joins the tasks already handed out
    }
    try {
        while (!pending.empty()) {
            std::future<std::uint64_t> oldest = std::move(pending.front());
            pending.pop_front();
            oldest.get();
        }
    } catch (const std::exception& e) {
        gf_addScanLogLine(
            fmt::format("{} airports search in {} aborted, futs outer error: {}", "===> ", folder, e.what()));
    }
}

void lf_scanOneAirportFolder(TaskPool& pool, const std::string& folder) {
    if (folder.empty()) return;
    const auto local = platform::mapSimPath(folder);
    std::error_code ec;
    const fs::file_status status = local ? fs::status(*local, ec) : fs::file_status(fs::file_type::not_found);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        throw FileSystemError("status", *local, ec);
    }
    if (!fs::exists(status)) {
        gf_showMessage(folder + " does not exist, skipped!", true);
        return;
    }
    if (!fs::is_directory(status)) {
        gf_showMessage(folder + " is not a folder name, skipped!", true);
        return;
    }
    if (lf_inStock(*local)) return;
    lf_scanFolderForAirports(pool, *local, folder);
}

void lf_collectOfflineLearning(const std::function<bool(const std::string&)>& suitable) {
    const std::vector<std::string> thirdparty = lf_codesOf(g_myThirdpartyFolder);
    const std::vector<std::string> orbx = lf_codesOf(g_myOrbxFolder);
    const fs::path& tblo = g_tbloFolderName;

    g_orbxDone = orbx.empty();
    lf_showOfflineLearning();
    if (fs::exists(tblo)) fs::remove_all(tblo);

    std::uint32_t orbxCopied = 0;
    if (!orbx.empty()) {
        fs::create_directories(tblo);
        std::size_t settled = 0;
        for (const std::string& code : orbx) {
            if (!suitable(code)) {
                ++settled;
            } else if (lf_copyForLearning(g_myOrbxFolder, code, true)) {
                ++orbxCopied;
            }
        }
        g_orbxDone = settled + orbxCopied == orbx.size();
        lf_showOfflineLearning();
        if (orbxCopied == 0) {
            gf_logLine("All your ORBX airports are done, no off line learning needed.");
            fs::remove_all(tblo);
        } else {
            g_offlineLearningCount = orbxCopied;
            lf_zipWarning(tblo);
        }
    }
    if (!thirdparty.empty()) {
        fs::create_directories(tblo);
        std::uint32_t copied = 0;
        for (const std::string& code : thirdparty) {
            if (suitable(code) && lf_copyForLearning(g_myThirdpartyFolder, code, false)) ++copied;
        }
        if (copied > 0) {
            g_offlineLearningCount += copied;
            lf_zipWarning(tblo);
        } else {
            gf_logLine("All your third party airports are done, no off line learning needed.");
            if (orbxCopied == 0) fs::remove_all(tblo);
        }
    }
    lf_showOfflineLearning();
}

AirportScanOutcome lf_scanAirportFolders(const std::vector<std::string>& folders,
                                         const std::function<bool(const std::string&)>& suitable) {
    std::error_code ec;
    fs::remove(g_airportsScanLogFile, ec);
    if (ec) gf_logLine("problems with removing previous files (maybe still open?)");

    g_offlineLearningCount = 0;
    lf_showOfflineLearning();
    gf_reserveScanLog();
    {
        // Every decoder task has ended when the pool is gone, also when a folder's test throws.
        TaskPool pool(std::max<std::uint32_t>(1, g_scanLimit));
        for (const std::string& folder : folders) {
            if (lf_cancelled()) {
                pool.requestStop();
                break;
            }
            lf_scanOneAirportFolder(pool, folder);
        }
    }

    std::vector<std::string> lines = gf_takeScanLogLines();
    if (lf_cancelled()) lines.push_back("airports scan cancelled");
    fs::create_directories(g_airportsScanLogFile.parent_path(), ec);
    gf_writeLinesToFile(lines, g_airportsScanLogFile);
    gf_logLine(g_airportsScanLogFile.string() + " written");
    gf_clearMessage();
    // A scan that did not reach every file decides nothing: the next start scans again.
    if (lf_cancelled()) return AirportScanOutcome::Cancelled;

    lf_collectOfflineLearning(suitable ? suitable : gf_suitableForOfflineLearning);
    if (!g_addOnAirportFound) return AirportScanOutcome::NothingFound;
    gf_logLine("Airports scan successful");
    return AirportScanOutcome::Found;
}

void gf_scanAddOnAirports() {
    gf_showMessage("Scanning for addon airports ...", false);
    const bool automatic = g_AFG_AUTOMATIC.value();
    gf_logLine(fmt::format("\n++++++++++++++++++++++++ airports scan {} starts +++++++++++++++++++++++++++++",
                           automatic ? "automatic " : "manual "));
    lf_refreshStockSceneryPath();

    std::vector<std::string> folders;
    folders.reserve(10);
    if (automatic) {
        lf_readSceneryCfg(folders);
        lf_readSceneryAddOnsXml(folders);
    } else {
        lf_checkNotStockAirportsFolder(std::begin(g_afolder), std::end(g_afolder), folders);
        if (folders.empty()) {
            throw qtm::UserErrorException(49,
                                          "Set afolder parameter(-s) to your add-on airports first, see Manual 6.1");
        }
    }
    LastScan last = lf_removeGeneratedFiles();
    gf_startScanFiles(std::move(last.unproven));
    AirportScanOutcome outcome = AirportScanOutcome::Cancelled;
    try {
        outcome = lf_scanAirportFolders(folders);
    } catch (...) {
        // A scan without a list that did not reach every file leaves none: the next one compares them all again.
        if (last.listed) lf_writeGeneratedList();
        throw;
    }
    if (last.listed || outcome != AirportScanOutcome::Cancelled) lf_writeGeneratedList();
    lf_logUnprovenFilesKept();

    switch (outcome) {
        case AirportScanOutcome::Cancelled:
            gf_logLine("airports scan cancelled, it runs again at the next start");
            return;
        case AirportScanOutcome::NothingFound:
            gf_showMessage("Warning: Scan has not found any add-on airports", true);
            break;
        case AirportScanOutcome::Found:
            break;
    }
    g_SCAN_AIRPORTS.set(false);
    gf_saveBoolParameter(g_SCAN_AIRPORTS);
    gf_showCheckState(g_SCAN_AIRPORTS);
    ui::backend().invalidate(kMiddleBand);
    gf_logLine("-------------------------- airports scan ends    ----------------------------\n");
}
