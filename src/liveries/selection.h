// The choice of the installed livery each AI aircraft is created with: up to six steps of decreasing
// precision (its registration, its airline and type, a similar type of its airline, a generic livery of its
// type, its type alone, a similar or random type), as deep as MATCHING_DEPTH allows; the per-step counts for
// the matching summary, and the report of live aircraft that found none.
//
// Work thread only; the livery indexes are read without locks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "injection/services.h"

struct ParkPos;

// Live aircraft matched at steps 1 to 6 since the program started (index = step - 1); read by the summary,
// which also runs on the exit thread.
extern std::array<std::atomic<std::int32_t>, 6> g_matchStepCounts;
// The livery title chosen per hex id, kept for the run; emptied every 86,400 s, by the exit and with the
// livery database.
extern std::unordered_map<std::uint32_t, std::string_view> g_liveryByHexid;
// Texts of the live aircraft that found no livery (work thread).
extern std::set<std::string> g_unmatchedAircraft;

// Sets the record's title (empty when nothing fits) and its FSLTL flag, and counts the step that matched.
// A title the simulator refused in this run is never given.
void gf_selectLiveryForLiveAircraft(AiAc& ac);
// The same steps for a static aircraft at the stand, whose cargo flag decides when the registration does not.
// A record that has a title keeps it. Nothing is counted. True when the record has a title afterwards.
bool gf_selectLiveryForStatic(AiAc& ac, const ParkPos& stand);

// The unmatched-aircraft report into the log (with LOG on); the set is kept.
void gf_logUnmatchedAircraft();
// The livery matching summary into the log: the count of each step and the liveries the simulator refused.
void gf_liveryMatchingSummary();

// The step counters back to zero: for tests only, the program counts over the whole process.
void gf_resetMatchStepCounts();
