#include "airports/park_airports.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <future>
#include <mutex>
#include <system_error>

#include <fmt/format.h>

#include "airports/renewal.h"
#include "airports/services.h"
#include "airports/stand_sources.h"
#include "airports/static_parking.h"
#include "frame/display.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "frame/timeutil.h"
#include "injection/aircraft_lists.h"
#include "injection/removal.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"
#include "window/main_window.h"

namespace fs = std::filesystem;

std::vector<ParkAirport> g_parkAirports;
AirportData g_activeParkAirport;
bool g_parkingRecalcPending = false;
bool g_parkCheckWaiting = false;
GeoPosition g_parkCheckPosition;
StandFileFetcher g_standFileFetcher;

namespace {

constexpr std::size_t kManyParkAirports = 3000;

std::string lf_fileName() { return g_myParkAirportsFile.filename().string(); }

std::vector<ParkAirport>::iterator lf_findParkAirport(const std::string& code) {
    return std::find_if(g_parkAirports.begin(), g_parkAirports.end(), [&](const ParkAirport& p) { return p.code == code; });
}

// An existing entry moves to the front; true when there was one.
bool lf_moveToFront(const std::string& code) {
    const auto it = lf_findParkAirport(code);
    if (it == g_parkAirports.end()) return false;
    std::rotate(g_parkAirports.begin(), it, it + 1);
    return true;
}

struct UserView {
    double latitude = 0.0, longitude = 0.0;
    double heightAboveGround = 0.0;  // ft
};

UserView lf_userView() {
    std::lock_guard lock(g_userAcMutex);
    return {g_userAcFromSim.latitude, g_userAcFromSim.longitude, g_userAcFromSim.altAboveGround};
}

// The simulator has not sent a real position yet: the zero point or just north-east of it.
bool lf_positionUnknown(double latitude, double longitude) {
    return latitude >= 0.0 && latitude <= 0.0009 && longitude >= 0.0 && longitude <= 0.05;
}

bool lf_inSight(double distanceNm, double heightFt) {
    return distanceNm <= g_AIRPORT_RANGE.value() && heightFt <= g_AIRPORT_HEIGHT.value();
}

void lf_enableDestination() { ui::backend().setEnabled(g_DESTINATION.controlId, true); }

// The placement has used up the parking list: the parking controls come back and the band shows the counts.
void lf_finishPlacement() {
    gf_enableParkingControls();
    gf_clearMessage();
    g_mainWindow.parkedStaticCount = lf_countStaticAc(true);
    g_mainWindow.parkedLiveCount = gf_countParkedLiveAc(true);
    ui::backend().invalidate(kParkingBand);
}

// The deferred load and calculation, once the stand file is there; while the fetch still
// runs the request stays pending.
void lf_performPendingRecalculation() {
    if (g_parkAirportCode.empty()) {  // left meanwhile: nothing to load
        g_parkingRecalcPending = false;
        lf_enableDestination();
        return;
    }
    g_standFileFetcher.start(g_parkAirportCode);
    g_parkCheckWaiting = !g_standFileFetcher.fetched(g_parkAirportCode);
    if (g_parkCheckWaiting) return;
    gf_clearMessage();
    lf_requestParkingRecalculation(true);
}

// The distances to the user, and the order by them while no destination is set. Every
// distance is kept up to date even with a destination: the in-sight test reads the first one.
void lf_updateDistances(double latitude, double longitude) {
    if (g_parkAirports.empty()) return;
    if (latitude == g_parkCheckPosition.latitude && longitude == g_parkCheckPosition.longitude) {
        ParkAirport& first = g_parkAirports.front();
        first.distance = gf_distanceNM(latitude, longitude, first.latitude, first.longitude);
        return;
    }
    g_parkCheckPosition = {latitude, longitude};
    for (ParkAirport& p : g_parkAirports) p.distance = gf_distanceNM(latitude, longitude, p.latitude, p.longitude);
    if (!g_DESTINATION.value().empty()) return;
    std::stable_sort(g_parkAirports.begin(), g_parkAirports.end(),
                     [](const ParkAirport& a, const ParkAirport& b) { return a.distance < b.distance; });
}

// The neighbour look reads two stand files, which may mean downloads: it runs on a thread of its own, and its
// answer holds while the user aircraft stays where it was asked for.
constexpr double kNeighbourLookValidNm = 0.05;

struct NeighbourLook {
    std::future<AirportData> task;
    GeoPosition at;
    std::optional<AirportData> answer;
};
NeighbourLook g_neighbourLook;

// The airport the user aircraft stands at; nothing while none lies within 5 nm or while the neighbour look
// still runs (`pending`).
std::optional<AirportData> lf_airportUnderUser(double latitude, double longitude, bool& pending) {
    pending = false;
    const AirportCandidates c = gf_airportCandidates(latitude, longitude);
    if (!c.closest) return std::nullopt;
    if (!c.neighbour) return *c.closest;
    NeighbourLook& look = g_neighbourLook;
    const bool sameSpot = gf_distanceNM(latitude, longitude, look.at.latitude, look.at.longitude) <= kNeighbourLookValidNm;
    if (look.task.valid()) {
        if (look.task.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            pending = true;
            return std::nullopt;
        }
        look.answer = look.task.get();
    }
    if (look.answer && sameSpot) return look.answer;
    look.answer.reset();
    look.at = {latitude, longitude};
    look.task = std::async(std::launch::async, gf_chooseByNearestStand, *c.closest, *c.neighbour, latitude, longitude);
    pending = true;
    return std::nullopt;
}

}  // namespace

// A CR alone ends a line too, as an old editor may write them.
bool lf_readListLines(std::vector<std::string>& lines, bool* complete) {
    std::vector<std::string> read;
    if (!gf_readExtTextFileToStringVector(g_myParkAirportsFile, read, complete)) return false;
    for (const std::string& line : read) {
        std::size_t start = 0;
        for (std::size_t cr = line.find('\r'); cr != std::string::npos; cr = line.find('\r', start)) {
            lines.push_back(line.substr(start, cr - start));
            start = cr + 1;
        }
        if (start == 0 || start < line.size()) lines.push_back(line.substr(start));
    }
    return true;
}

void gf_waitForParkAirportChecks() {
    if (g_neighbourLook.task.valid()) g_neighbourLook.task.wait();
    g_neighbourLook = {};
}

// ---- The list and its file ----

bool lf_readMyParkAirports() {
    bool result = true;
    try {
        g_parkAirports.clear();
        g_parkCheckPosition = {};
        std::vector<std::string> lines;
        if (lf_readListLines(lines, nullptr)) {
            for (const std::string& line : lines) lf_readMyParkAirportsLine(result, line);
        } else {
            gf_logLine(g_myParkAirportsFile.string() + " not found");
        }
        if (!g_parkAirports.empty()) {
            const std::size_t count = g_parkAirports.size();
            gf_logLine(fmt::format("{} park airport{} read from \"{}\"", count, gf_pluralSuffix(std::uint64_t{count}),
                                   lf_fileName()));
            if (count > kManyParkAirports) {
                gf_showMessage(fmt::format("Warning: There are a lot of airports ({}) in {}, that will cost ZNTV much "
                                           "cpu time, and may give stutters",
                                           count, lf_fileName()),
                               true);
            }
        }
        lf_addThirdPartyParkAirports();
        if (const std::string destination = g_DESTINATION.value(); !destination.empty()) lf_moveToFront(destination);
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "lf_readMyParkAirports", e.what()));
        return false;
    }
    return result;
}

void lf_readMyParkAirportsLine(bool& result, const std::string& line) {
    if (gf_trim(line).empty()) return;
    const std::vector<std::string> fields = gf_split(line, ',');
    if (fields.empty()) return;
    if (fields.size() >= 3) {
        gf_logWarning(fmt::format("{}:{} wrong syntax, skipped", lf_fileName(), line));
        return;
    }
    const std::string& code = fields[0];
    const std::optional<AirportData> airport = gf_findAirport(code);
    if (!airport) {
        gf_showMessage(fmt::format("airport {} is unknown", code), true);
        result = false;
        return;
    }
    if (lf_isParkAirport(code)) {
        gf_logWarning(fmt::format("{}:{} double, skipped", lf_fileName(), code));
        return;
    }
    g_parkAirports.push_back({code, fields.size() == 2 ? fields[1] : std::string(), airport->latitude,
                              airport->longitude, 0.0});
}

void lf_addThirdPartyParkAirports() {
    // A missing folder holds no airports; one that cannot be listed is an error of the read.
    std::error_code ec;
    if (!fs::is_directory(g_myThirdpartyFolder, ec)) return;
    std::uint64_t added = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(g_myThirdpartyFolder)) {
        if (!entry.is_directory()) continue;
        const std::string code = entry.path().filename().string();
        if (lf_isParkAirport(code)) continue;
        const std::optional<AirportData> airport = gf_findAirport(code);
        if (!airport) continue;
        g_parkAirports.push_back({code, {}, airport->latitude, airport->longitude, 0.0});
        ++added;
    }
    if (added > 0) {
        gf_logLine(fmt::format("{} park airport{} added from my_thirdparty folder(-s) ", added, gf_pluralSuffix(added)));
    }
}

bool lf_isParkAirport(const std::string& code) { return lf_findParkAirport(code) != g_parkAirports.end(); }

void gf_updateMyParkAirportsFile() {
    if (g_parkAirports.empty()) return;
    const ParkAirport& first = g_parkAirports.front();
    const std::string newLine =
        first.reservedStand.empty() ? first.code : fmt::format("{},{}", first.code, first.reservedStand);
    const fs::path& path = g_myParkAirportsFile;
    std::vector<std::string> lines;
    std::error_code ec;
    const bool present = fs::exists(path, ec) || ec;
    bool complete = false;
    if (present && fs::is_regular_file(path, ec) && lf_readListLines(lines, &complete) && complete) {
        bool updated = false;
        for (std::string& l : lines) {
            if ((updated = lf_updateParkAirportLine(l))) break;
        }
        if (!updated) {
            lines.insert(lines.begin(), newLine);
            gf_logLine(fmt::format("{}:{} new entry", lf_fileName(), newLine));
        }
    } else {
        if (present) {
            // The user's list is there but could not be read (or not all of it): writing it anew would lose it.
            gf_logWarning(fmt::format("{} could not be read, {} not recorded", path.string(), newLine));
            return;
        }
        lines = {newLine};
        gf_logLine(fmt::format("{} created with {}", lf_fileName(), newLine));
        fs::create_directories(path.parent_path(), ec);
    }
    // The user's lines keep their order: the line the program updated stays where the read finds it first.
    // Windows line ends, as the user's editor writes them.
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    // A first line whose first bytes read as a byte-order mark would be taken for another encoding: a UTF-8
    // mark in front keeps the bytes as they are.
    const auto marked = [&](unsigned char a, unsigned char b) {
        return text.size() >= 2 && static_cast<unsigned char>(text[0]) == a && static_cast<unsigned char>(text[1]) == b;
    };
    if (marked(0xFF, 0xFE) || marked(0xFE, 0xFF) || marked(0xEF, 0xBB)) text.insert(0, "\xEF\xBB\xBF");
    std::error_code reason;
    if (!gf_writeFile(text, path, false, reason))
        gf_logWarning(fmt::format("could not write {}: {}", path.string(), reason.message()));
}

bool lf_updateParkAirportLine(std::string& line) {
    if (g_parkAirports.empty()) return false;
    const ParkAirport& first = g_parkAirports.front();
    const std::vector<std::string> fields = gf_split(line, ',');
    // Only a line that the read takes: one of three fields was skipped there, and stays as the user wrote it.
    if (fields.empty() || fields.size() > 2 || fields[0] != first.code) return false;
    line = fmt::format("{},{}", first.code, first.reservedStand);
    gf_logLine(fmt::format("{}:{},{} updated stand", lf_fileName(), first.code, first.reservedStand));
    return true;
}

void lf_setParkAirport(const std::string& code, const AirportData& airport) {
    if (lf_moveToFront(code)) return;
    g_parkAirports.insert(g_parkAirports.begin(), ParkAirport{code, {}, airport.latitude, airport.longitude, 0.0});
    gf_updateMyParkAirportsFile();
}

bool lf_activateParkAirport(const std::string& code) {
    const std::optional<AirportData> airport = gf_findAirport(code);
    if (!airport) return false;
    g_activeParkAirport = *airport;
    g_parkAirportCode = airport->code;
    g_parkAirportPos = {airport->latitude, airport->longitude};
    g_parkAirportElevation = airport->altitude;
    const std::string label = gf_airportLabel(*airport);
    gf_logLine(fmt::format("The park airport is {}", label));
    gf_setDisplayText(&MainWindow::parkAirportCode, airport->code, kParkingBand);
    gf_setDisplayText(&MainWindow::parkAirportLabel, label, kParkingBand);
    return true;
}

// ---- The periodic check ----

namespace {

void lf_checkParkAirports(bool calculateAtOnce) {
    if (g_parkingBusy.load() > 0 && g_parkingList.empty() && !g_parkingRecalcPending) lf_finishPlacement();
    if (g_parkingRecalcPending) {
        lf_performPendingRecalculation();
        return;
    }
    const UserView user = lf_userView();
    if (lf_positionUnknown(user.latitude, user.longitude)) return;
    lf_updateDistances(user.latitude, user.longitude);
    if (g_parkAirportCode.empty()) {
        lf_checkUserOnGroundAirport(user.latitude, user.longitude, calculateAtOnce);
    } else {
        lf_checkParkAirportInSight(user.latitude, user.longitude);
    }
}

// While the airport under the user is looked for, the user stands on its field: until its stand file gives
// the field's height, the traffic reader takes the ground under the user for it. A roll-out reported then is
// read as what it is, on the ground (and not taken before the park airport is known), rather than as an
// aircraft flying low over the runway. Once a park airport is active, its stand file sets the height and
// leaving it clears it.
void lf_groundWhileParkAirportSought() {
    if (!g_parkAirportCode.empty()) return;
    if (g_parkCheckWaiting && g_userOnGround.load()) {
        g_trafficClient.setParkAirportElevation(g_userPos.altitude - g_userPos.altAboveGround);
    } else {
        g_trafficClient.clearParkAirportElevation();
    }
}

}  // namespace

void gf_checkForParkAirportUpdates(bool calculateAtOnce) {
    g_parkCheckWaiting = false;
    try {
        lf_checkParkAirports(calculateAtOnce);
        lf_groundWhileParkAirportSought();
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "gf_checkForParkAirportUpdates", e.what()));
        throw;
    }
}

void lf_checkUserOnGroundAirport(double latitude, double longitude, bool calculateAtOnce) {
    if (g_userOnGround.load()) {
        bool pending = false;
        const std::optional<AirportData> airport = lf_airportUnderUser(latitude, longitude, pending);
        g_parkCheckWaiting = pending;
        if (pending) return;  // the next check asks again
        if (!airport) {
            gf_showMessage("User aircraft on the ground, no airport in sight", true);
            return;
        }
        const std::string& code = airport->code;
        g_standFileFetcher.start(code);
        const std::optional<StandFileFetch> fetched = g_standFileFetcher.fetched(code);
        g_parkCheckWaiting = !fetched;
        if (!fetched) return;  // still looking: the next check asks again
        if (fetched->reference.empty()) {
            gf_showMessage(fmt::format("User aircraft on the ground at {}", code) + ", no airport file found", true);
            return;
        }
        gf_logLine(fmt::format("User aircraft on the ground at {}", code));
        if (!lf_activateParkAirport(code)) {
            gf_forgetStandFileFetch();
            return;
        }
        lf_requestParkingRecalculation(calculateAtOnce);
        return;
    }
    lf_enableDestination();
    if (g_parkAirports.empty()) return;
    const ParkAirport first = g_parkAirports.front();
    if (!lf_inSight(first.distance, lf_userView().heightAboveGround)) return;
    if (!lf_activateParkAirport(first.code)) return;
    gf_showMessage(fmt::format("{} in sight at {:.1F} nm", first.code, first.distance), true);
    g_parkingRecalcPending = true;
    lf_startStaticParkingCalculation(false);
    g_standFileFetcher.start(first.code);  // under way while the next check is awaited
}

void lf_checkParkAirportInSight(double latitude, double longitude) {
    if (g_userOnGround.load()) return;
    const double height = lf_userView().heightAboveGround;
    const double distance = gf_distanceNM(latitude, longitude, g_parkAirportPos.latitude, g_parkAirportPos.longitude);
    if (!lf_inSight(distance, height)) {
        gf_logLine(fmt::format("\n{} {} is out of sight ({:.1F} nm), parked aircraft will be removed", gf_simClockMark(),
                               gf_airportLabel(g_activeParkAirport), distance));
        lf_clearStaticParking();
        return;
    }
    if (g_parkAirports.empty() || g_parkAirports.front().code == g_parkAirportCode) return;
    const ParkAirport& first = g_parkAirports.front();
    if (!lf_inSight(first.distance, height) || distance < first.distance) return;
    gf_logLine(fmt::format("\n{} {} is in sight ({:.1F} nm), parked aircraft at {} will be removed first",
                           gf_simClockMark(), first.code, first.distance, gf_airportLabel(g_activeParkAirport)));
    lf_clearStaticParking();
}

bool lf_checkReservedStand(bool compare, std::string& message) {
    if (!lf_readMyParkAirports()) return false;
    if (compare && g_userOnGroundKnown.load() && g_parkingBusy.load() <= 0 && !g_parkAirports.empty()) {
        const ParkAirport& first = g_parkAirports.front();
        if (first.code == g_parkAirportCode && gf_displayText(&MainWindow::g_userStandShown).empty() &&
            !first.reservedStand.empty() && first.reservedStand != g_reservedStand) {
            message = fmt::format("reserved stand changed from \"{}\" to \"{}\"", g_reservedStand, first.reservedStand);
            if (!g_reservedStand.empty()) {
                if (const auto old = lf_findStand(g_reservedStand); old != g_parkPositions.end()) old->reserved = 0;
            }
            g_reservedStand = first.reservedStand;
            gf_removeAcAtReservedStand();
            if (const auto now = lf_findStand(g_reservedStand); now != g_parkPositions.end()) now->reserved = 1;
            gf_setDisplayText(&MainWindow::reservedStand, g_reservedStand, kParkingBand);
        }
    }
    if (message.empty()) message = "park airports and stands are okay";
    return true;
}
