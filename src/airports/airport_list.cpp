#include "airports/airport_list.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "airports/stand_load.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "injection/geodesy.h"

std::vector<AirportData> g_airports;

namespace {

constexpr std::size_t kExpectedAirports = 44000;
constexpr double kAirportRangeNm = 5.0;

bool s_airportsRead = false;

// The "alt", "lat" and "lon" of an airport, as std::stod reads them; the user error names what went wrong in
// the words the users' logs have always shown.
double lf_airportNumber(const pugi::xml_node& airport, const char* name) {
    try {
        return std::stod(airport.attribute(name).value());
    } catch (const std::invalid_argument&) {
        throw qtm::UserErrorException(88, "invalid stod argument");
    } catch (const std::out_of_range&) {
        throw qtm::UserErrorException(88, "stod argument out of range");
    }
}

// Reads the whole file into `airports` (unsorted); any fault is a user error.
void lf_readAirportFile(const std::filesystem::path& path, std::vector<AirportData>& airports) {
    pugi::xml_document doc;
    const pugi::xml_parse_result loaded = doc.load_file(path.c_str());
    if (!loaded)
        throw qtm::UserErrorException(88, fmt::format("{} not loaded {}", path.string(), loaded.description()));
    const pugi::xml_node list = doc.child("airports");
    if (!list) throw qtm::UserErrorException(88, fmt::format("{} not found", path.string()));
    for (const pugi::xml_node airport : list.children("airport")) {
        AirportData record;
        record.code = airport.attribute("code").value();
        record.altitude = lf_airportNumber(airport, "alt");
        record.latitude = lf_airportNumber(airport, "lat");
        record.longitude = lf_airportNumber(airport, "lon");
        record.iata = airport.attribute("iata").value();
        airports.push_back(std::move(record));
    }
}

}  // namespace

bool gf_readAirports() {
    if (s_airportsRead) return !g_airports.empty();
    // Filled apart and published only when complete: the window's destination field reads g_airports from the
    // UI thread without a lock, and a failed read leaves no half list behind.
    std::vector<AirportData> airports;
    airports.reserve(kExpectedAirports);
    const std::filesystem::path path = g_inputFolder / g_airportListName;
    lf_readAirportFile(path, airports);
    std::sort(airports.begin(), airports.end(),
              [](const AirportData& a, const AirportData& b) { return a.code < b.code; });
    gf_logLine(fmt::format("{} airports read from \"{}\"", airports.size(), path.string()));
    if (airports.empty()) std::vector<AirportData>().swap(airports);
    else airports.shrink_to_fit();
    g_airports = std::move(airports);
    s_airportsRead = true;
    return !g_airports.empty();
}

std::optional<AirportData> gf_findAirport(const std::string& code) {
    const auto it = std::find_if(g_airports.begin(), g_airports.end(),
                                 [&](const AirportData& a) { return a.code == code; });
    if (it == g_airports.end()) return std::nullopt;
    return *it;
}

std::string gf_airportLabel(const AirportData& airport) {
    std::string label = airport.code.empty() ? "?" : airport.code;
    if (!airport.iata.empty()) label += fmt::format(" ({})", airport.iata);
    return label;
}

AirportCandidates gf_airportCandidates(double latitude, double longitude) {
    AirportCandidates c;
    double best = 100.0;
    for (const AirportData& airport : g_airports) {
        const double d = gf_distanceNM(latitude, longitude, airport.latitude, airport.longitude);
        if (d <= kAirportRangeNm && d < best) {
            best = d;
            c.neighbour = c.closest;
            c.closest = &airport;
        }
    }
    return c;
}

AirportData gf_chooseByNearestStand(const AirportData& closest, const AirportData& neighbour, double latitude,
                                    double longitude) {
    // Two airports close together (a military field beside an airport, say): the one whose stands are nearer
    // to the position is the one the aircraft stands at.
    gf_logLine(fmt::format("Airport {} is closest, neighbour is {}", closest.code, neighbour.code));
    std::string closestStand;
    std::string neighbourStand;
    const double d1 = gf_readDestApfForClosestStand(closest.code, latitude, longitude, closestStand);
    const double d2 = gf_readDestApfForClosestStand(neighbour.code, latitude, longitude, neighbourStand);
    if (d2 >= d1) return closest;
    gf_logLine(fmt::format(
        "Airport {} is closest, but stand {} at neighbouring airport {} is closest at {:.0F} meters ...",
        closest.code, neighbourStand, neighbour.code, d2 * 1852.0));
    return neighbour;
}

std::optional<AirportData> gf_closestAirport(double latitude, double longitude) {
    const AirportCandidates c = gf_airportCandidates(latitude, longitude);
    if (!c.closest) return std::nullopt;
    if (!c.neighbour) return *c.closest;
    return gf_chooseByNearestStand(*c.closest, *c.neighbour, latitude, longitude);
}

void lf_resetAirportListForTests() {
    std::vector<AirportData>().swap(g_airports);
    s_airportsRead = false;
}
