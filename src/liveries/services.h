// What the run-time asks of the aircraft models and liveries: the livery step of the start-up, the
// aircraft database, the containers of the livery indexes, and the two reports.
//
// For now these carry the least the run-time needs: no scan and no database yet.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The livery title chosen per hex id, kept for the run; emptied every 86,400 s and by the exit.
extern std::unordered_map<std::uint32_t, std::string_view> g_liveryByHexid;
// Texts of the live aircraft that found no livery (work thread).
extern std::set<std::string> g_unmatchedAircraft;

// The livery step of the start-up: scans the livery folders when SCAN_LIVERIES is set, then builds the
// livery database from "LiveriesScanned.xml" once per run.
void gf_liveriesScan();
// Reads the aircraft database (once per process).
void gf_readDataBase();
// Room in the livery containers, at each start.
void gf_reserveLiveryContainers();
// Empties the livery database and forgets that it was built, so that the next start scans and builds anew.
void gf_clearLiveryDatabase();
// The matching summary and the unmatched-aircraft report, both into the log.
void gf_liveryMatchingSummary();
void gf_logUnmatchedAircraft();

// ---- The aircraft database, as the traffic service reads it ----
// Filled by gf_readDataBase once it reads the database; until then they stay empty unless a test fills them.

// What the database knows of one real aircraft, by registration.
struct RegcodeData {
    std::string airline;       // "PVT" for private aircraft
    std::string type;
    std::string operatorCode;  // may be empty
    bool cargo = false;
};

extern std::unordered_map<std::string, RegcodeData> g_regcodeDb;
// The valid type codes.
extern std::set<std::string> g_knownModels;
// The type sets of the categories 2 (large), 3 (heavy), 1 (business jet), 5 (rotorcraft) and 4 (high
// performance); a type in none of them is light (0).
extern std::set<std::string> g_largeModels, g_heavyModels, g_buzjetModels, g_rotorcraftModels, g_highPerfModels;

// The spellings a registration is looked up under, in trial order: for one of at least 5 characters that
// does not begin with "N" and has no "-", first with a dash after two, then after one character; always
// last the registration unchanged.
std::vector<std::string> gf_registrationVariants(const std::string& registration);
// Looks one spelling up; on a hit copies the record into the slot and returns true.
bool lf_findRegcode(RegcodeData& slot, const std::string& spelling);
// The record of the first spelling found; nothing for an empty registration.
std::optional<RegcodeData> gf_regcodeLookup(const std::string& registration);
// False for an empty text, else whether the type is a valid type code.
bool gf_isKnownModel(const std::string& type);
// The category (0 light .. 5 rotorcraft) of a type code, tested large, heavy, business jet, rotorcraft,
// high performance in this order; 0 when it is in none of these sets.
std::uint32_t gf_categoryOfModel(const std::string& type);

// Half wing spans in nautical miles by type code, the average of each category (for a type without an
// entry), and the largest of them all (the fallback for a user aircraft whose span is not known).
extern std::map<std::string, double> g_wingspans;
extern std::array<double, 6> g_defaultWingspans;
extern double g_maxHalfWingSpan;
// The type's half wing span when the database lists it, else the average of its category.
double gf_wingspanOfModel(const std::string& type);
