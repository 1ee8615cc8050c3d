// The aircraft database: valid types and their categories, similar-type groups, wing spans, airlines,
// type fixes, publishers, the add-on airports and the registration table. Read once per process at
// start-up from "dbase.zip" and only read afterwards, without locks.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// What the database knows of one real aircraft, by registration.
struct RegcodeData {
    std::string airline;       // "PVT" for private aircraft
    std::string type;
    std::string operatorCode;  // may be empty
    bool cargo = false;
};

// ModelCategory values: 0 Light, 1 Buzjets, 2 Large, 3 Heavy, 4 HighPerf, 5 Rotorcraft.
using ModelCategory = std::uint32_t;

extern std::unordered_map<std::string, RegcodeData> g_regcodeDb;
// The valid type codes.
extern std::set<std::string> g_knownModels;
// The type sets of the categories 2 (large), 3 (heavy), 1 (business jet), 5 (rotorcraft) and 4 (high
// performance); a type in none of them is light (0).
extern std::set<std::string> g_largeModels, g_heavyModels, g_buzjetModels, g_rotorcraftModels, g_highPerfModels;
// One group of mutually similar types per database entry, each sorted ascending.
extern std::vector<std::vector<std::string>> g_similarModelGroups;
// Groups of names of one scenery publisher, the first name the publisher's; in ascending order of the
// database's name lists.
extern std::vector<std::vector<std::string>> g_publisherGroups;

// False for an empty text, else whether the type is a valid type code.
bool gf_isKnownModel(const std::string& type);
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

// Reads the aircraft database (once per process).
void gf_readDataBase();
