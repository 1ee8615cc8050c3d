// Liveries the simulator refused to create. The livery selection leaves them out from then on, the
// matching summary lists them, and too many of them stop the program with a user error: the user's AI
// packages are then broken in a way only the user can mend.
//
// Work thread: the refusals arrive there as "creation failed" messages from the link.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <vector>

struct AiAc;

// From this many refused liveries on, the program stops with user error 81.
inline constexpr std::size_t kMaxLiveriesNotCreated = 20;

// The refused livery titles, one per refusal, repeats kept. Copies, not views: the livery database they
// come from can be rebuilt within one process (a rescan), and the selection reads these for the whole run.
extern std::vector<std::string> g_liveriesNotCreated;
// One line per refused aircraft, its type code, a blank and its airline code; newest first, repeats kept.
extern std::list<std::string> g_notCreatedLines;

// Records the refused livery of the aircraft and shows it on the status line; the 20th refusal of the run
// throws user error 81. Nothing once an exit or a stop is requested.
void gf_liveryCouldNotBeCreated(const AiAc& ac);
// The lines for the matching summary: sorted, each once, indented by two blanks.
std::vector<std::string> gf_notCreatedLiveries();
// Forgets every refusal (tests; the tally otherwise lasts for the whole process).
void gf_clearRefusedLiveries();
