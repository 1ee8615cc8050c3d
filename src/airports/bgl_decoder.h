// Stands of add-on airports from the simulator's compiled scenery (BGL files): the airport records of one file
// become airport stand files in "my_ORBX" or "my_thirdparty", or pointer files to the stand-file archive when
// the archive already covers the airport. Runs as one task per file inside the add-on airport scan.
//
// The decoding itself works on the file's words in memory and touches no file and no global: every size read
// from the file is checked against what holds it, so a corrupt file ends a walk early but never reads outside
// its words or loops.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "airports/stands.h"

// One airport of a scenery file as its generated stand file gets it.
struct ApfAirport {
    std::string ident;      // ICAO code
    std::string name;       // empty when the record has none, or two that differ
    std::string bglPath;    // the scenery file
    std::string publisher;  // "simaddon", a publisher of the database, or "unknown"
    std::int32_t qfReal = 0;
    std::int32_t qfSoft = 0;
    std::int32_t altitude = 0;  // feet
    std::vector<ParkPos> stands;
};

// One decoded airport record with what the scan log is to say about its spots and helipads, in order.
struct BglAirport {
    ApfAirport airport;
    double latitude = 0.0, longitude = 0.0;  // the airport's reference point; its stands lie near it
    std::uint32_t helipadCounter = 1;  // the number the next helipad would get
    std::vector<std::string> scanLog;
    // What decoding the record took, in steps of bounded cost: subrecords walked, parking entries read, groups
    // of equal ids and their stands visited while re-suffixed. It stays within a small multiple of the
    // record's words whatever the record holds; the fuzz target and the tests hold the decoder to that.
    std::uint64_t steps = 0;
};

// Stands farther than this from their airport's reference point are dropped: the program itself parks and
// learns only within 5 nm of an airport, and no real airport has its aprons twice as far out.
constexpr double kMaxStandDistanceNm = 10.0;
// The largest radius, in metres, a decoded stand may have (parking spots and helipads alike).
constexpr double kMaxStandRadiusMetres = 200.0;

// True only for ".BGL" and ".bgl" exactly.
bool lf_isBglExtension(std::string_view extension);
// The quick test before a file gets a task: its section table lists an airport section.
bool lf_bglHasAirportSection(const std::filesystem::path& path);
// The task body for one BGL file: decodes its airports and writes their stand or pointer files. Lowers
// g_scanRunningTasks by one on every way out. The result (stand files generated) is not used by the scan.
std::uint64_t lf_toParkingPositions(const std::filesystem::path& path);

// The whole file as words (as below); nothing when it cannot be opened; throws when it cannot be read.
std::optional<std::vector<std::uint32_t>> gf_readBglWords(const std::filesystem::path& path);
// The bytes as little-endian 32-bit words; a final partial word is filled up with zero bytes.
std::vector<std::uint32_t> gf_bglWords(std::span<const std::uint8_t> bytes);
// Every airport record of the file's airport sections with a valid ICAO code, in file order, handed to `take`
// one at a time as it is decoded; `path` only goes into the scan-log lines. Records that overlap one decoded
// already are corrupt and skipped, so each word of the file is decoded at most once. Nothing here throws for
// any content of `words`.
void gf_forEachBglAirport(std::span<const std::uint32_t> words, const std::string& path,
                          const std::function<void(BglAirport&)>& take);
// The same, gathered.
std::vector<BglAirport> gf_decodeBglAirports(std::span<const std::uint32_t> words, const std::string& path);

// A packed ident: the text and whether it is a valid ICAO code (4 characters, no blank).
std::pair<std::string, bool> lf_decodeIdentifierOrRegionCode(std::uint32_t packed);
// The text that starts a parking spot's stand id, by the spot's name code.
std::string lf_parkingNameText(std::uint32_t nameCode);
// Whether the airport text (ICAO code and archived stand count, "LGAV245") is the ident's; the count is
// filled from it, or left alone with a warning logged when it cannot be read (the text still matches).
bool gf_matchPrefixedNumber(const std::string& publisher, const std::string& ident, std::int32_t& count,
                            const std::string& airportText);
