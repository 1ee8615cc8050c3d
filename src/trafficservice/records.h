// The records the traffic service delivers: one received position of one live aircraft (`TrafficRecord`,
// its identity followed by its track point) and one parked aircraft (`ParkedTrafficRecord`), plus the
// position helpers that their readers and the stand files share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The identity texts of an aircraft. Shared by the live and parked records and by the AI aircraft.
struct AcIdentity {
    std::string airline;       // airline code; the live reader leaves it empty, the injection fills it
    std::string type;          // type designator, at most 4 characters once accepted
    std::string origin;        // departure airport code
    std::string destination;   // destination airport code
    std::string callsign;
    std::string callsignCopy;  // filled by the injection
    std::string spare;
    std::string registration;  // at most 12 bytes
    // A word for the injection: for a live aircraft, its low byte marks that the search for a coupled
    // callsign was made.
    std::uint64_t identityWord = 0;
};

// One timed point of an aircraft's track, as the injection plays it back. A received record's point is
// copied into the track unchanged.
struct TrackPoint {
    double lat = 0.0;  // degrees
    double lon = 0.0;  // degrees
    // The bank of a coordinated turn (radians, right turns negative), only for airborne positions that
    // carried one (bankGiven).
    double bank = 0.0;
    bool bankGiven = false;
    double heading = 0.0;  // radians, true; only with headingGiven
    bool headingGiven = false;
    double alt = 0.0;      // feet, 0 on the ground
    double speed = 0.0;    // knots over ground
    double track = 0.0;    // degrees
    double vs = 0.0;       // feet per minute
    double tas = 0.0;      // knots
    std::int32_t playTick = 0;  // set by the hand-over to the injection
    bool airborne = false;
    bool stopped = false;        // the injection's
    bool attitudeGiven = false;  // set together with headingGiven; predicted points copy it from the front
    double time = 0.0;           // seconds since 1970
    std::uint32_t hexId = 0;
    // The report carried a ground speed and a track. Surface reports often come without: then speed and
    // track read 0 and are unknown until the injection derives them from the positions.
    bool speedGiven = true;
    bool trackGiven = true;
};

// One received position of one live aircraft.
struct TrafficRecord : AcIdentity, TrackPoint {
    // The reported height (ft, corrected to the QNH) before the ground rules: where a report carries no ground
    // speed, the one its positions show may tell a climb-out from a taxi.
    double reportedAlt = 0.0;
};

// Whether a report at `altitude` (ft, corrected) and ground speed `gs` (kt; 0 when unknown) is on the ground,
// given the field elevation `reference` (ft; far below every field when unknown): low over the field and slow,
// or too slow for flight.
bool gf_groundReport(double altitude, double reference, double gs);

// One parked aircraft as the service reports it. `slot` is the half-hour of the UTC day (0..47) in which
// it was seen; the parked traffic query turns it into its age in half hours.
struct ParkedTrafficRecord : AcIdentity {
    double latitude = 0.0;
    double longitude = 0.0;
    std::uint32_t hexid = 0;
    std::uint32_t slot = 0;
    std::string stand;
};

// "{:.6f},{:.6f}" of latitude and longitude.
std::string gf_laloText(double latitude, double longitude);
// Throws std::runtime_error "lalo:<position>" for a position outside the globe or in the zero box.
void gf_checkPosition(double latitude, double longitude);
// An unsigned 32-bit hexadecimal number at the start of the text (no sign, no prefix; reading stops at the
// first other character); nothing when it has no digit or does not fit 32 bits.
std::optional<std::uint32_t> gf_parseHexId(std::string_view text);

// Hex ids up to this belong to the static aircraft; live and parked ones are above it.
inline constexpr std::uint32_t kMaxStaticHexId = 10000;
// Registrations longer than this are not taken from the service.
inline constexpr std::size_t kMaxRegistrationLength = 12;
