// The traffic that the live-traffic stand-in plays: aircraft with their identity and timed track points,
// parked aircraft for the parked-traffic query, and METAR stations with their QNH. Read from and written to a
// JSON file (format in testbed/service/README.md); played by interpolating each track at the asked time.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// One reported position of one aircraft; t in seconds from the start of the scenario.
struct ScenarioPoint {
    double t = 0;
    double lat = 0;
    double lon = 0;
    std::optional<double> alt;  // barometric altitude in feet; nullopt: the report carried none
    double gs = 0;              // ground speed, knots
    double track = 0;           // degrees true
    double vs = 0;              // vertical rate, feet per minute
    bool onGround = false;
    std::optional<double> heading;  // true heading when it differs from the track (push-back)
};

struct ScenarioAircraft {
    std::string hex;  // ICAO 24-bit address as lower-case hexadecimal text
    std::string callsign;
    std::string registration;
    std::string type;  // ICAO type designator
    std::string airline;
    std::string origin;       // IATA codes, as the service gives them
    std::string destination;
    std::string flight;       // flight number
    std::string category = "A3";  // ADS-B emitter category
    std::string squawk = "1000";
    std::string source = "adsb_icao";
    int fieldCount = 48;  // records are cut or padded with nulls to this many fields
    std::map<int, nlohmann::json> fields;  // field index -> value that replaces the computed one
    std::vector<ScenarioPoint> track;       // sorted by t
};

// An aircraft on a stand. When it was seen: an absolute time, a half-hour slot of the UTC day, or an age in
// half hours before the request; the first of these that is given counts (none: age 0).
struct ParkedAircraft {
    std::string hex;
    double lat = 0;
    double lon = 0;
    std::string stand;
    std::string type;
    std::string registration;
    std::string callsign;
    std::optional<nlohmann::json> time;  // sent as it stands (seconds since 1970, or anything a test wants)
    std::optional<int> slot;             // 0..47
    std::optional<int> age;              // half hours
};

struct MetarStation {
    std::string icao;
    double lat = 0;
    double lon = 0;
    nlohmann::json qnh = 1013;  // sent as it stands: a number, a text, ...
    std::string metar;
};

struct Scenario {
    std::string name;
    bool loop = false;
    std::optional<double> duration;  // length of one loop; default: the last point of all tracks plus 60 s
    std::vector<ScenarioAircraft> aircraft;
    std::vector<ParkedAircraft> parked;
    std::vector<MetarStation> metar;
};

// Where one aircraft is at one moment, interpolated between its two neighbouring points.
struct AircraftState {
    const ScenarioAircraft* aircraft = nullptr;
    ScenarioPoint point;     // point.t is the asked time
    double trackRate = 0;    // degrees per second along the current leg
};

// Throws std::runtime_error naming what is wrong (missing hex id, a point without position, ...).
Scenario gf_scenarioFromJson(const nlohmann::json& doc);
Scenario gf_loadScenario(const std::filesystem::path& file);
nlohmann::json gf_scenarioToJson(const Scenario& scenario);
// Writes the scenario beside the file and renames it over it, so that a broken run never leaves half a
// scenario; creates the folder. Throws std::runtime_error when it cannot be written.
void gf_saveScenario(const Scenario& scenario, const std::filesystem::path& file);

// The state of an aircraft at time t, or nullopt when t lies before its first or after its last point.
std::optional<AircraftState> gf_aircraftAt(const ScenarioAircraft& aircraft, double t);

// Every aircraft present at scenario time t; a looping scenario first folds t into one loop.
std::vector<AircraftState> gf_scenarioSnapshot(const Scenario& scenario, double t);

double gf_scenarioDuration(const Scenario& scenario);

// Great-circle distance in nautical miles.
double gf_distanceNm(double lat1, double lon1, double lat2, double lon2);

}  // namespace standin
