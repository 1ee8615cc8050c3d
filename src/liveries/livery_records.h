// The record of one installed AI livery, the list a scan produces (or the start-up reads back), and the file
// "LiveriesScanned.xml" that hands the list from a scan to every later start.
//
// Start-up (work) thread only, while no scan task runs; no lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <list>
#include <string>

#include "frame/paths.h"

struct LiveryData {
    std::string airl;   // ICAO airline code; "PVT" a private owner, "ZZZ" the generic livery of its type
    std::string type;   // ICAO type code
    std::string title;  // the container title the simulator creates the object by
    std::string atcid;  // registration of the livery; empty when it has none
    std::int32_t priority = 0;  // number of the livery folder it was found in; 0 when read from the file
    bool cargo = false;

    // Repeated records of a scan are dropped by this; the folder number does not make a livery different.
    friend bool operator==(const LiveryData& a, const LiveryData& b) {
        return a.title == b.title && a.airl == b.airl && a.type == b.type && a.atcid == b.atcid &&
               a.cargo == b.cargo;
    }
};

// Same airline and same type.
bool gf_sameModel(const LiveryData& a, const LiveryData& b);
// The scan's order: airline, then type, then title, each byte-wise as unsigned characters.
bool gf_liveryOrder(const LiveryData& a, const LiveryData& b);

// The scan result, or the records read from the file, until the livery indexes are built from it.
extern std::list<LiveryData> g_scannedLiveries;

// Writes g_scannedLiveries as the file: the meta block, then "liveries" with one "liv" per record. An empty
// list writes nothing and leaves an old file alone. The file is replaced atomically; a failed save throws
// std::runtime_error (the old file is then untouched), so that a scan whose result could not be stored is
// never taken for a finished one.
void lf_writeLiveriesScanned(const std::filesystem::path& path = g_liveriesScannedFile);
// Replaces g_scannedLiveries with the records of the file. Throws qtm::UserErrorException 51 (cannot be
// read or parsed), 52 (no "liveries" element) or 533 (no "liv" in it).
void lf_readLiveriesScanned(const std::filesystem::path& path = g_liveriesScannedFile);
