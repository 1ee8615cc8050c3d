#include "airports/stand_load.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <exception>
#include <system_error>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "airports/learned.h"
#include "airports/services.h"
#include "airports/stand_choice.h"
#include "airports/stand_file.h"
#include "airports/stand_save.h"
#include "airports/stand_sources.h"
#include "frame/display.h"
#include "frame/download.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "injection/geodesy.h"
#include "platform/ui.h"
#include "trafficservice/clients.h"
#include "window/main_window.h"

ApfInfo g_apfInfo;
QualityWord g_apfQualityFactor = kNoStandOptions;
bool g_apfHandmade = false;
std::int32_t g_rtTrafficWeek = 0;
bool g_apfSettingsChanged = false;
std::string g_apfReference;
std::filesystem::path g_apfLearnedPath;
std::vector<std::string> g_apfCarried;
bool g_apfLearnedIgnored = false;

namespace {

constexpr const char* kReadApf = "gf_readApf";

// A reference into the program's own stand-file folder is read where it lies; any other is on the server.
bool lf_isLocalReference(const std::string& reference) { return reference.starts_with("airports"); }

QualityWord lf_qualityWord(std::int32_t real, std::int32_t soft) {
    return (static_cast<QualityWord>(static_cast<std::uint32_t>(soft)) << 32) | static_cast<std::uint32_t>(real);
}

std::string lf_qualityText(QualityWord quality) {
    return lf_formatQualityFactor(gf_realFactor(quality), gf_softFactor(quality));
}

// A load that did not finish leaves nothing behind that looks loaded: no stands, and no reference or learned
// path that leaving the park airport could save over.
void lf_forgetLoad(ApfInfo& info) {
    g_parkPositions.clear();
    info = ApfInfo{};
    g_apfHandmade = false;
    g_rtTrafficWeek = 0;
    g_parkAirportElevation = 0.0;
    g_apfReference.clear();
    g_apfLearnedPath.clear();
    g_apfCarried.clear();
    g_apfLearnedIgnored = false;
    g_standFileLoaded.exchange(false);
}

void lf_readParameters(const pugi::xml_document& doc, ApfInfo& info) {
    g_rtTrafficWeek = lf_readApfParamInt(doc, "RT_traffic_week").value_or(0);
    info.publisher = lf_readApfParamString(doc, "publisher").value_or("");
    const std::optional<std::int32_t> altitude = lf_readApfParamInt(doc, "altitude");
    if (!altitude) throw qtm::UserErrorException(65, std::string("Parameter ") + "altitude" + " not found");
    info.altitude = *altitude;
    g_parkAirportElevation = static_cast<double>(*altitude);
    info.airportName = lf_readApfParamString(doc, "airport_name").value_or("");
}


// The learned file over the archived stands; the quality word of the merged stands replaces the file's.
void lf_mergeLearnedFile(const std::string& reference, const ApfInfo& info, QualityWord& quality) {
    g_apfLearnedPath = lf_resolveApfPath(reference, info.publisher);
    // A learned file whose save failed earlier in this run is written now, or read from memory.
    gf_saveUnsavedLearnedFiles();
    const std::optional<std::string> unsaved = gf_unsavedLearnedText(g_apfLearnedPath);
    if (g_apfLearnedPath.empty() || (!unsaved && !std::filesystem::exists(g_apfLearnedPath))) {
        g_parking_percentage.set(30);
        ui::backend().setEnabled(g_parking_percentage.controlId, false);
        gf_showIntParameter(g_parking_percentage);
        gf_logIndented(fmt::format("{:24}: {}%", "parking_percentage", 30));
        return;
    }
    LearnedMerge merge = lf_readLearned(g_apfLearnedPath, info, g_parkPositions, g_apfHandmade, unsaved);
    g_apfCarried = std::move(merge.carried);
    g_apfLearnedIgnored = !merge.takenWhole;
    if (merge.uncopied) gf_guardUncopiedLearnedFile(g_apfLearnedPath);
    quality = gf_qualityFactor();
    if (g_apfHandmade) gf_logLine("A handmade airport file overruled the archived file!");
}

// The first of "EGLL.xml", "EGLL.download.xml", "EGLL.download.1.xml", ... that no file holds, made empty
// (created exclusively, so it is this call's own); none when no such name can be made.
std::optional<std::filesystem::path> lf_claimNewFile(const std::filesystem::path& name) {
    for (int n = 0; n < 100; ++n) {
        std::filesystem::path path = name;
        if (n > 0) {
            path.replace_extension(n == 1 ? std::string(".download") : fmt::format(".download.{}", n - 1));
            path += name.extension();
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) break;
    }
    return std::nullopt;
}

}  // namespace

void gf_readFullStands(pugi::xml_node parkpositions, std::vector<ParkPos>& stands) {
    std::unordered_set<std::string> ids;
    for (pugi::xml_node node = parkpositions.child("parkpos"); node; node = node.next_sibling("parkpos")) {
        std::string id = node.attribute("id").value();
        if (!ids.insert(id).second)
            throw qtm::UserErrorException(94, fmt::format("Parking position {} appears more than once?", id));
        lf_readParkpos(node, id, 1, stands);
    }
}

std::string gf_readApf(const std::string& reference, ApfInfo& info, QualityWord& quality) {
    if (reference.empty()) return fmt::format("{} xml is empty...", kReadApf);
    if (g_parkAirportCode.empty()) return fmt::format("{} no park airport set", kReadApf);
    std::filesystem::path localFile = reference;
    if (!lf_isLocalReference(reference)) {
        localFile = g_airportsFolder / "park_airport.xml";
        const std::string message = gf_downloadFile(reference, localFile);
        if (!message.empty()) return message;
    }
    return gf_readApfFile(reference, localFile, info, quality);
}

std::string gf_readApfFile(const std::string& reference, const std::filesystem::path& localFile, ApfInfo& info,
                           QualityWord& quality) {
    if (reference.empty()) return fmt::format("{} xml is empty...", kReadApf);
    if (g_parkAirportCode.empty()) return fmt::format("{} no park airport set", kReadApf);
    g_parkPositions.clear();
    g_apfCarried.clear();
    g_apfLearnedIgnored = false;
    try {
        g_apfHandmade = false;
        pugi::xml_document doc;
        const pugi::xml_parse_result parsed = doc.load_file(localFile.c_str());
        if (!parsed) {
            lf_forgetLoad(info);
            return fmt::format("{} could not be loaded: {}", reference, parsed.description());
        }
        if (!gf_checkMetaInfo(doc)) {
            lf_forgetLoad(info);
            return fmt::format("{} but refused to load, copyright problem", reference);
        }
        lf_readParameters(doc, info);
        gf_readFullStands(doc.child("parkpositions"), g_parkPositions);
        quality = lf_qualityWord(lf_readApfParamInt(doc, "Qf_real").value_or(-1),
                                 lf_readApfParamInt(doc, "Qf_soft").value_or(-1));
        lf_mergeLearnedFile(reference, info, quality);

        const std::size_t n = g_parkPositions.size();
        g_mainWindow.standCount = n;
        ui::backend().invalidate(kParkingBand);
        gf_numberStands(g_parkPositions);
        gf_forgetUserStand();

        gf_logLine(fmt::format("Airport file read from \"{}\" for {}",
                               g_apfHandmade ? g_apfLearnedPath.string() : reference, info.airportName));
        gf_setDisplayText(&MainWindow::standFileInfo, info.publisher, kParkingBand);
        g_mainWindow.standFileHandMade = g_apfHandmade;
        g_mainWindow.standFileWeekCount = g_rtTrafficWeek;

        gf_logIndented(fmt::format("{:24}: {}", "publisher", info.publisher));
        gf_logIndented(fmt::format("{:24}: {} ft", "altitude", info.altitude));
        gf_logIndented(fmt::format("{:24}: {}", "num_parkpos", n));
        gf_logIndented(fmt::format("{:24}: {}", "quality factor", lf_qualityText(quality)));
        gf_logIndented(fmt::format("{:24}: {}", "RT traffic week", g_rtTrafficWeek));
        gf_setDisplayText(&MainWindow::qualityFactorText, lf_qualityText(quality), kParkingBand);

        g_standFileLoaded.exchange(true);
        ui::backend().setEnabled(g_Flush_static.controlId, true);
        g_apfSettingsChanged = false;
        g_apfReference = reference;
        // From now on the traffic reader reads every report's height against the park airport's field, and
        // its filters take the park airport with the next request box.
        g_trafficClient.setParkAirportElevation(g_parkAirportElevation);
        gf_setTrafficBox();
        ui::backend().invalidate(kParkingBand);
        return n == 0 ? "no stands found" : "";
    } catch (const qtm::UserErrorException&) {
        lf_forgetLoad(info);
        throw;
    } catch (const std::exception& e) {
        lf_forgetLoad(info);
        return lf_readApfMessage(e.what());
    }
}

double gf_readDestApfForClosestStand(const std::string& code, double latitude, double longitude,
                                     std::string& standId) {
    const std::string reference = lf_findArchivedApf(code);
    if (reference.empty()) return 100.0;
    const std::filesystem::path download = "airport.xml";
    const bool local = lf_isLocalReference(reference);
    const std::filesystem::path file = local ? std::filesystem::path(reference) : download;
    if (!local && !gf_downloadFile(reference, download).empty()) return 100.0;

    pugi::xml_document doc;
    const pugi::xml_node parkpositions = doc.load_file(file.c_str()) ? doc.child("parkpositions") : pugi::xml_node();
    if (!parkpositions) {
        // Only our own download goes: a user's file stays where it is, however broken.
        if (!local && std::filesystem::exists(download)) std::filesystem::remove(download);
        return 100.0;
    }
    double best = 100.0;
    for (pugi::xml_node node = parkpositions.child("parkpos"); node; node = node.next_sibling("parkpos")) {
        const double d = gf_distanceNM(latitude, longitude, std::strtod(node.attribute("latitude").value(), nullptr),
                                       std::strtod(node.attribute("longitude").value(), nullptr));
        if (d < best) {
            best = d;
            standId = node.attribute("id").value();
        }
    }
    return best;
}

bool gf_suitableForOfflineLearning(const std::string& code) {
    const std::string url = gf_updateBaseURL() + "archive/stock/" + lf_apfFileName(code);
    pugi::xml_document doc;
    bool loaded = false;
    // The download goes to a name of its own, made before the download: never over a file that was there.
    if (const std::optional<std::filesystem::path> local = lf_claimNewFile(lf_apfPath(code))) {
        CurlHandle handle;
        loaded = handle && gf_curlDownload(handle.get(), url, *local, true) && doc.load_file(local->c_str());
        std::filesystem::remove(*local);
    }
    if (!loaded) {
        gf_logWarning(fmt::format("{} Not suitable for offline learning", code));
        return false;
    }
    const std::int32_t real = lf_readApfParamInt(doc, "Qf_real").value_or(-1);
    const std::int32_t soft = lf_readApfParamInt(doc, "Qf_soft").value_or(-1);
    if (real < 0 && soft < 0) return false;
    const std::optional<std::int32_t> week = lf_readApfParamInt(doc, "WEEK");
    return week && *week >= 20;
}

std::string lf_readApfMessage(const std::string& exceptionText) {
    return fmt::format("{}: {}", kReadApf, exceptionText);
}
