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

// The aircraft database and the registration look-ups have their own headers.
#include "liveries/database.h"
#include "liveries/registrations.h"

// The livery title chosen per hex id, kept for the run; emptied every 86,400 s and by the exit.
extern std::unordered_map<std::uint32_t, std::string_view> g_liveryByHexid;
// Texts of the live aircraft that found no livery (work thread).
extern std::set<std::string> g_unmatchedAircraft;

// The livery step of the start-up: scans the livery folders when SCAN_LIVERIES is set, then builds the
// livery database from "LiveriesScanned.xml" once per run.
void gf_liveriesScan();
// Room in the livery containers, at each start.
void gf_reserveLiveryContainers();
// Empties the livery database and forgets that it was built, so that the next start scans and builds anew.
void gf_clearLiveryDatabase();
// The matching summary and the unmatched-aircraft report, both into the log.
void gf_liveryMatchingSummary();
void gf_logUnmatchedAircraft();
