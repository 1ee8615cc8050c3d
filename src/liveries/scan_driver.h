// The livery step of every start-up: scan the livery folders when SCAN_LIVERIES asks for it (found
// automatically from the simulator's add-on packages, or the user's lfolder settings), then build the livery
// database from "LiveriesScanned.xml", once per program run.
//
// Work (start-up) thread.
#pragma once

#include <string>
#include <vector>

// Throws qtm::UserErrorException 48 (manual mode without a folder), 53 (manual mode, nothing found), 43
// (automatic mode, nothing found) and the file reader's 51, 52, 533; SCAN_LIVERIES then stays as it was. A
// scan cut short by an exit or a stop leaves SCAN_LIVERIES on and builds nothing: the next start scans again.
void gf_liveriesScan();

// The folders of this start's scan, in priority order: the add-on packages' SimObjects folders and the
// entries of simobjects.cfg with LIG_AUTOMATIC, else the lfolder0..9 settings that are set.
std::vector<std::string> lf_liveryFolders();
