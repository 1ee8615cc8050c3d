// The aircraft database: valid types and their categories, similar-type groups, wing spans, airlines,
// type fixes, publishers, the add-on airports and the registration table. Read once per process at
// start-up from "dbase.zip" and only read afterwards, without locks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What the database knows of one real aircraft, by registration.
struct RegcodeData {
    std::string airline;  // "PVT" for private aircraft
    std::string type;
    std::string operatorCode;  // may be empty
    bool cargo = false;
};

// ModelCategory values: 0 Light, 1 Buzjets, 2 Large, 3 Heavy, 4 HighPerf, 5 Rotorcraft.
using ModelCategory = std::uint32_t;

// Text keys of the database's hash maps: 64-bit FNV-1a over the bytes. Transparent, so that a look-up by a
// piece of a longer text needs no copy of it.
struct DbTextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept;
};
template <class Value>
using DbTextMap = std::unordered_map<std::string, Value, DbTextHash, std::equal_to<>>;

extern DbTextMap<RegcodeData> g_regcodeDb;
// The valid type codes.
extern std::set<std::string> g_knownModels;
// The type sets of the categories 2 (large), 3 (heavy), 1 (business jet), 5 (rotorcraft) and 4 (high
// performance); a type in none of them is light (0).
extern std::set<std::string> g_largeModels, g_heavyModels, g_buzjetModels, g_rotorcraftModels, g_highPerfModels;
// Types and airlines that fly freight. Read and checked with the rest; nothing consults them yet.
extern std::set<std::string> g_cargoModels;
extern std::set<std::string> g_cargoOperators;
// One group of mutually similar types per database entry, each sorted ascending.
extern std::vector<std::vector<std::string>> g_similarModelGroups;
// Groups of names of one scenery publisher, the first name the publisher's; in ascending order of the
// database's name lists.
extern std::vector<std::vector<std::string>> g_publisherGroups;
// The valid ICAO airline codes.
extern std::set<std::string> g_icaoAirlines;
// Wrong type codes found in liveries -> the correct code.
extern DbTextMap<std::string> g_modelFixes;

// The airports of one add-on scenery publisher; each airport text is an ICAO code followed by the number of
// stands of its archived stand file ("LGAV245").
struct ThirdPartyAirports {
    std::string publisher;
    std::vector<std::string> airports;
};
extern std::vector<ThirdPartyAirports> g_thirdPartyAirports;
// The airports of the simulator's add-on sceneries.
extern std::set<std::string> g_simAddonAirports;

// False for an empty text, else whether the type is a valid type code.
bool gf_isKnownModel(const std::string& type);
// False for an empty text, else whether the code is a valid ICAO airline code.
bool gf_isKnownAirline(const std::string& code);
// The category of a type code, tested large, heavy, business jet, rotorcraft, high performance in this
// order; 0 when it is in none of these sets.
ModelCategory gf_categoryOfModel(const std::string& type);

// Half wing spans in nautical miles by type code, the average of each category (for a type without an
// entry), and the largest of them all (the fallback for a user aircraft whose span is not known).
extern std::map<std::string, double> g_wingspans;
extern std::array<double, 6> g_defaultWingspans;
extern double g_maxHalfWingSpan;
// The type's half wing span when the database lists it, else the average of its category.
double gf_wingspanOfModel(const std::string& type);

// The stored code fields turned back into text. An airline field of 6 characters gives its code, one of 3 is
// taken as it is (and logged), an empty one stays empty; any other field throws std::runtime_error
// "decrypt airl \"<field>\" error".
std::string gf_decryptType(std::string_view stored);
std::string gf_decryptAirline(std::string_view stored);
std::string gf_decryptLivery(std::string_view stored);

// Downloads "dbase.zip" into "input/temp2.xml" and reads it (gf_readDataBaseFile). Every failure is an
// exception, so the start-up that calls it stops rather than go on without a database: a failed download is
// std::runtime_error "data base could not be read from on-line?". True when read.
bool gf_readDataBase();
// Reads a database file into emptied containers and removes the file, on every path. A file that is not
// well-formed is user error 60, a required list that is empty user error 61; after any failure the containers
// are empty again, so nothing runs on half a database. A wing span that is no span is no failure: that entry is
// skipped with a warning. True when read.
bool gf_readDataBaseFile(const std::filesystem::path& path);
// Empties every container of the database.
void gf_clearDataBase();
