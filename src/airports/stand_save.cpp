#include "airports/stand_save.h"

#include <algorithm>
#include <exception>
#include <map>
#include <set>
#include <system_error>

#include <fmt/format.h>

#include "airports/learned.h"
#include "airports/quality.h"
#include "airports/services.h"
#include "airports/stand_load.h"
#include "airports/stand_sources.h"
#include "frame/display.h"
#include "frame/exit.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "frame/timeutil.h"
#include "platform/ui.h"
#include "window/main_window.h"

namespace fs = std::filesystem;

namespace {

void lf_createFolder(const fs::path& folder);

// Learned files whose save failed, by path: their text waits here for the next save, with the cause.
struct UnsavedText {
    std::string text;
    std::string cause;
};
std::map<fs::path, UnsavedText> g_unsavedLearned;
// Files of the user that were not taken whole and have no copy yet: saved over only once a copy is made.
std::set<fs::path> g_uncopiedLearned;

// False with the cause when the text could not be built or written; the file at the path is then unchanged.
bool lf_writeBuiltText(const std::string& text, const fs::path& path, std::string& cause) {
    if (text.empty()) {
        cause = "the file could not be built";
        gf_logWarning(fmt::format("stand file \"{}\" could not be built", path.string()));
        return false;
    }
    std::error_code reason;
    if (gf_writeFile(text, path, false, reason)) return true;
    cause = reason.message();
    gf_logWarning(fmt::format("could not save to \"{}\", the file there is unchanged: {}", path.string(), cause));
    return false;
}

bool lf_saveLearnedText(const std::string& text, const fs::path& path, std::string& cause) {
    try {
        if (g_uncopiedLearned.contains(path)) {
            std::error_code ec;
            const bool there = fs::exists(path, ec) || ec;
            if (there && lf_keepLearnedCopy(path, "no copy could be made at its load").empty()) {
                cause = "no copy of the file there could be kept";
                gf_logWarning(fmt::format("\"{}\" not saved over: {}", path.string(), cause));
                return false;
            }
            g_uncopiedLearned.erase(path);
        }
        if (path.has_parent_path()) lf_createFolder(path.parent_path());
        return lf_writeBuiltText(text, path, cause);
    } catch (const std::exception& e) {
        cause = e.what();
        gf_logWarning(e.what());
        return false;
    }
}

// The first of "EDDF.unsaved.xml", "EDDF.unsaved.1.xml", ... in the folder that does not exist and takes the
// text; empty when none does.
fs::path lf_writeBesideAtEnd(const std::string& text, const fs::path& folder, const fs::path& name) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    for (int n = 0; n < 100; ++n) {
        const std::string suffix = n == 0 ? ".unsaved" : fmt::format(".unsaved.{}", n);
        const fs::path place = folder / (name.stem().string() + suffix + name.extension().string());
        if (fs::exists(place, ec) || ec) continue;
        if (gf_writeFile(text, place, false)) return place;
        break;
    }
    return {};
}

void lf_createFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw FileSystemError("create_directory", folder, ec);
}

// Whether the learned file has anything to say about the stand.
bool lf_standIsKept(const ParkPos& stand) {
    return stand.manual || !stand.options.empty() || stand.radiusChanged || stand.cargoChanged;
}

void lf_resetUpdateCount() {
    g_apfUpdates = 0;
    if (g_mainWindow.updateCount.exchange(0) != 0) ui::backend().invalidate(kParkingBand);
}

}  // namespace

bool gf_writeApf(const StandFile& file, const fs::path& path) {
    std::string cause;
    return lf_writeBuiltText(gf_writeStandFileText(file), path, cause);
}

void gf_saveUnsavedLearnedFiles() {
    for (auto it = g_unsavedLearned.begin(); it != g_unsavedLearned.end();) {
        if (lf_saveLearnedText(it->second.text, it->first, it->second.cause)) {
            gf_logLine(fmt::format("\"{}\" saved with the learning of a failed save", it->first.string()));
            it = g_unsavedLearned.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<std::string> gf_unsavedLearnedText(const fs::path& path) {
    const auto it = g_unsavedLearned.find(path);
    if (it == g_unsavedLearned.end()) return std::nullopt;
    return it->second.text;
}

void gf_forgetUnsavedLearnedFiles() {
    g_unsavedLearned.clear();
    g_uncopiedLearned.clear();
}

void gf_guardUncopiedLearnedFile(const fs::path& path) { g_uncopiedLearned.insert(path); }

void gf_writeUnsavedLearnedFilesAtEnd() {
    for (const auto& [path, unsaved] : g_unsavedLearned) {
        fs::path place = lf_writeBesideAtEnd(unsaved.text, path.parent_path(), path.filename());
        if (place.empty() && !g_appFolder.empty())
            place = lf_writeBesideAtEnd(unsaved.text, g_appFolder, path.filename());
        if (place.empty()) {
            gf_logWarning(fmt::format("the learning for \"{}\" could not be saved ({}), nor written beside it or "
                                      "in \"{}\": it is lost",
                                      path.string(), unsaved.cause, g_appFolder.string()));
        } else {
            gf_logWarning(fmt::format("the learning for \"{}\" could not be saved ({}), it is written to \"{}\"",
                                      path.string(), unsaved.cause, place.string()));
        }
    }
    g_unsavedLearned.clear();
}

StandFileSettings gf_currentStandFileSettings() {
    return StandFileSettings{.lateralRange = g_LATERAL_RANGE.value(),
                             .autoRange = g_AUTO_RANGE.value(),
                             .week = g_WEEK.value(),
                             .parkFake = g_PARK_FAKE.value(),
                             .parkSoft = g_PARK_SOFT.value(),
                             .parkingPercentage = g_parking_percentage.value(),
                             .initialLoadOnly = g_INITIAL_LOAD_ONLY.value(),
                             .maxFit = g_MAX_FIT.value(),
                             .rtParkTrafficOnly = g_RT_PARKTRAFFIC_ONLY.value(),
                             .maxLive = g_MAX_LIVE.value(),
                             .learnSoft = g_LEARN_SOFT.value()};
}

std::vector<ParkPos> gf_learnedStands(const std::vector<ParkPos>& stands, bool handmade) {
    std::vector<ParkPos> kept;
    kept.reserve(stands.size());
    for (const ParkPos& stand : stands) {
        if (handmade) {
            kept.push_back(stand);
            continue;
        }
        ParkPos copy = stand;
        std::erase_if(copy.options, [](const ParkPosOption& option) { return option.fromFile == 1; });
        if (lf_standIsKept(copy)) kept.push_back(std::move(copy));
    }
    return kept;
}

fs::path gf_learnedSavePath() {
    if (!g_apfLearnedPath.empty()) return g_apfLearnedPath;
    const std::string& publisher = g_apfInfo.publisher;
    const fs::path folder = publisher == "stock"      ? g_learnedStockFolder
                            : publisher == "simaddon" ? g_learnedSimaddonFolder
                                                      : g_learnedThirdpartyFolder / lf_safeFolderName(publisher);
    return folder / lf_apfPath(lf_safeFolderName(g_parkAirportCode));
}

void lf_saveAirportFile() {
    StandFile file;
    file.mode = StandFileMode::learned;
    file.airportName = g_apfInfo.airportName;
    file.publisher = g_apfInfo.publisher;
    file.altitude = g_apfInfo.altitude;
    file.handmade = g_apfHandmade;
    file.settings = gf_currentStandFileSettings();
    file.stands = gf_learnedStands(g_parkPositions, g_apfHandmade);
    if (g_apfHandmade) {
        const QualityWord quality = gf_qualityFactor();
        file.qfReal = gf_realFactor(quality);
        file.qfSoft = gf_softFactor(quality);
    }

    file.carried = g_apfCarried;

    gf_saveUnsavedLearnedFiles();
    const fs::path path = gf_learnedSavePath();
    const std::string text = gf_writeStandFileText(file);
    std::string cause;
    if (!lf_saveLearnedText(text, path, cause)) {
        // The learning is only in memory now: it waits for the next save and the next load reads it; when the
        // program is ending there is none, and it goes beside the file.
        const bool kept = !text.empty();
        const bool ending = g_quitRequested.load() && !g_restartPending.load();
        if (kept) g_unsavedLearned[path] = UnsavedText{text, cause};
        gf_showMessage(fmt::format("{} saving \"{}\" did not succeed ({}){}", gf_clockTime(), path.string(), cause,
                                   kept && !ending ? ", its learning is kept for the next save" : ""),
                       true);
        if (ending) gf_writeUnsavedLearnedFilesAtEnd();
        return;
    }
    g_unsavedLearned.erase(path);
    gf_showMessage(fmt::format("{}{} \"{}\" saved with {} update{} {}", gf_clockTime(),
                               g_apfHandmade ? " handmade" : "", path.string(), g_apfUpdates,
                               gf_pluralSuffix(std::uint64_t{g_apfUpdates}),
                               g_apfSettingsChanged ? "and one or more parameter changes" : ""),
                   true);
    lf_resetUpdateCount();
    g_apfSettingsChanged = false;
}
