#include "liveries/selection.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include <fmt/format.h>

#include "airports/services.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "liveries/livery_index.h"
#include "liveries/registrations.h"
#include "simlink/refused_liveries.h"

std::array<std::atomic<std::int32_t>, 6> g_matchStepCounts{};
std::unordered_map<std::uint32_t, std::string_view> g_liveryByHexid;
std::set<std::string> g_unmatchedAircraft;

namespace {

// What one selection knows while it goes down the steps.
struct MatchContext {
    AiAc& ac;
    std::int32_t depth = 4;
    const ParkPos* stand = nullptr;  // set for a static aircraft
    // The aircraft database's record of the registration, looked up when a step first needs it.
    bool recordLooked = false;
    std::optional<RegcodeData> record{};

    bool forStatic() const { return stand != nullptr; }
    // The record's airline, when the record names an operator; nothing otherwise.
    const std::string* operatorAirline() {
        if (!recordLooked) {
            record = gf_regcodeLookup(ac.registration);
            recordLooked = true;
        }
        if (!record || record->operatorCode.empty()) return nullptr;
        return &record->airline;
    }
};

using StepFunction = bool (*)(MatchContext&);

struct MatchStep {
    std::int32_t number;    // the step counted on success; 0 for a preparation that never matches
    std::int32_t minDepth;  // the MATCHING_DEPTH from which it runs
    StepFunction run;
};

// Light, business jet and rotorcraft: the only categories that may fly a generic, type-only or similar-type
// livery of another airline; a large or heavy aircraft in wrong colours is too conspicuous.
bool lf_smallCategory(std::uint32_t category) { return category == 0 || category == 1 || category == 5; }

std::size_t lf_randomIndex(std::size_t n) { return n == 1 ? 0 : gf_random32() % n; }

bool lf_isSpecial(TitleView title) {
    return std::find(g_specialLiveries.begin(), g_specialLiveries.end(), title) != g_specialLiveries.end();
}

bool lf_refusedBySimulator(TitleView title) {
    return std::find(g_liveriesNotCreated.begin(), g_liveriesNotCreated.end(), title) != g_liveriesNotCreated.end();
}

// A random title of the list that is not reserved for its own registration; none when all of them are.
void lf_pickRandomLivery(AiAc& ac, const TitleList& titles) {
    if (titles.empty()) return;
    TitleView taken = titles[lf_randomIndex(titles.size())];
    for (int tries = 0; tries < 5; ++tries) {
        if (g_specialLiveries.empty() || !lf_isSpecial(taken)) {
            ac.title = taken;
            return;
        }
        taken = titles[lf_randomIndex(titles.size())];
    }
    TitleList ordinary;
    for (TitleView title : titles) {
        if (!lf_isSpecial(title)) ordinary.push_back(title);
    }
    ac.title = ordinary.empty() ? TitleView{} : ordinary[lf_randomIndex(ordinary.size())];
}

void lf_matchAirlineType(AiAc& ac, std::string_view airline, std::string_view type, std::size_t index) {
    const auto& byAirline = g_liveryIndex[index];
    const auto a = byAirline.find(airline);
    if (a == byAirline.end()) return;
    const auto t = a->second.find(type);
    if (t == a->second.end()) return;
    lf_pickRandomLivery(ac, t->second);
}

// A cargo aircraft falls back to passenger liveries; a passenger aircraft never gets a cargo one.
bool lf_matchCargoFirst(AiAc& ac, std::string_view airline, std::string_view type) {
    lf_matchAirlineType(ac, airline, type, ac.cargo ? kCargoIndex : kPaxIndex);
    if (ac.title.empty() && ac.cargo) lf_matchAirlineType(ac, airline, type, kPaxIndex);
    return !ac.title.empty();
}

bool lf_matchTypeOnly(AiAc& ac, std::string_view type) {
    const auto& byType = g_typeLiveryIndex[ac.cargo ? kCargoIndex : kPaxIndex];
    if (const auto t = byType.find(type); t != byType.end()) lf_pickRandomLivery(ac, t->second);
    return !ac.title.empty();
}

bool lf_matchByRegistration(AiAc& ac) {
    if (ac.registration.empty()) return false;
    for (const std::string& spelling : gf_registrationVariants(ac.registration)) {
        if (const auto it = g_regcodeLiveries.find(spelling); it != g_regcodeLiveries.end()) {
            ac.title = it->second;
            return !ac.title.empty();
        }
    }
    return false;
}

// ---- The steps, each with the same signature ----

bool lf_stepRegistration(MatchContext& c) { return lf_matchByRegistration(c.ac); }

// A static aircraft that is not known by its registration takes its cargo wish from its stand.
bool lf_stepCargoFromStand(MatchContext& c) {
    c.ac.cargo = c.stand->cargo;
    return false;
}

// A private aircraft flies the generic livery of its type when there is one; it counts as step 4.
bool lf_stepPrivateGeneric(MatchContext& c) {
    return c.ac.airline == kPrivateAirline && lf_matchCargoFirst(c.ac, kGenericAirline, c.ac.type);
}

bool lf_stepAirlineType(MatchContext& c) {
    if (c.ac.airline.empty() && !c.forStatic()) return false;
    if (lf_matchCargoFirst(c.ac, c.ac.airline, c.ac.type)) return true;
    const std::string* owner = c.operatorAirline();
    return owner && lf_matchCargoFirst(c.ac, *owner, c.ac.type);
}

bool lf_stepSimilarTypes(MatchContext& c) {
    if (c.ac.airline.empty() && !c.forStatic()) return false;
    const std::vector<std::string> similar = gf_similarModelsOfAirline(c.ac);
    const auto tryAirline = [&](std::string_view airline) {
        for (const std::string& type : similar) {
            if (!c.forStatic() && gf_categoryOfModel(type) != c.ac.category) continue;
            if (lf_matchCargoFirst(c.ac, airline, type)) return true;
        }
        return false;
    };
    if (tryAirline(c.ac.airline)) return true;
    const std::string* owner = c.operatorAirline();
    return owner && tryAirline(*owner);
}

bool lf_stepGeneric(MatchContext& c) {
    // At full depth any category may take a generic livery; below it only the small ones, and a private
    // aircraft has had its generic chance already.
    const bool allowed = c.depth == 4 || (lf_smallCategory(c.ac.category) && c.ac.airline != kPrivateAirline);
    return allowed && lf_matchCargoFirst(c.ac, kGenericAirline, c.ac.type);
}

bool lf_stepTypeOnly(MatchContext& c) { return lf_smallCategory(c.ac.category) && lf_matchTypeOnly(c.ac, c.ac.type); }

bool lf_stepSimilarOrRandomType(MatchContext& c) {
    if (!lf_smallCategory(c.ac.category)) return false;
    for (const std::string& type : gf_similarModelsOrRandom(c.ac.type)) {
        if (lf_matchTypeOnly(c.ac, type)) return true;
    }
    return false;
}

// In order; the first step that finds a title ends the selection. Steps whose depth is beyond MATCHING_DEPTH
// end it too (the depths only grow along the list).
constexpr MatchStep kLiveSteps[] = {
    {1, 1, lf_stepRegistration}, {4, 2, lf_stepPrivateGeneric}, {2, 2, lf_stepAirlineType},
    {3, 3, lf_stepSimilarTypes}, {4, 3, lf_stepGeneric},        {5, 3, lf_stepTypeOnly},
    {6, 3, lf_stepSimilarOrRandomType},
};
constexpr MatchStep kStaticSteps[] = {
    {1, 1, lf_stepRegistration}, {0, 1, lf_stepCargoFromStand}, {4, 2, lf_stepPrivateGeneric},
    {2, 2, lf_stepAirlineType},  {3, 3, lf_stepSimilarTypes},   {4, 3, lf_stepGeneric},
    {5, 3, lf_stepTypeOnly},     {6, 3, lf_stepSimilarOrRandomType},
};

// The number of the step that found the title; 0 when none did.
std::int32_t lf_runSteps(MatchContext& c, std::span<const MatchStep> steps) {
    for (const MatchStep& step : steps) {
        if (c.depth < step.minDepth) break;
        if (step.run(c)) return step.number;
    }
    return 0;
}

std::string lf_aimo(const AiAc& ac) { return fmt::format("{:3} {:4}", ac.airline, ac.type); }

std::string lf_acText(const AiAc& ac) {
    const std::string route = ac.origin.empty() && ac.destination.empty()
                                  ? std::string(8, ' ')
                                  : fmt::format("{:3}->{:3}", ac.origin, ac.destination);
    return fmt::format("{} {:8} {} {}", route, ac.callsign, ac.registration, lf_aimo(ac));
}

std::string lf_acCsRegText(const AiAc& ac) {
    return fmt::format("{:8} {} {}", ac.callsign, ac.registration, lf_aimo(ac));
}

}  // namespace

void gf_selectLiveryForLiveAircraft(AiAc& ac) {
    ac.title = {};
    ac.fsltlTitle = false;
    MatchContext c{.ac = ac, .depth = g_MATCHING_DEPTH.value()};
    const std::int32_t step = lf_runSteps(c, kLiveSteps);
    if (step == 0 || ac.title.empty()) return;
    if (lf_refusedBySimulator(ac.title)) {
        ac.title = {};
        return;
    }
    ++g_matchStepCounts[static_cast<std::size_t>(step - 1)];
    if (g_LOG.value()) gf_logIndented(fmt::format("{} ={}= {}", lf_acText(ac), step, ac.title));
    ac.fsltlTitle = ac.title.find("FSLTL_") != std::string_view::npos;
}

bool gf_selectLiveryForStatic(AiAc& ac, const ParkPos& stand) {
    if (!ac.title.empty()) {
        if (g_LOG.value()) gf_logIndented(fmt::format("{} =s= {}", lf_acText(ac), ac.title));
        return true;
    }
    MatchContext c{.ac = ac, .depth = g_MATCHING_DEPTH.value(), .stand = &stand};
    const std::int32_t step = lf_runSteps(c, kStaticSteps);
    if (!ac.title.empty() && lf_refusedBySimulator(ac.title)) {
        ac.title = {};
        return false;
    }
    if (g_LOG.value()) {
        if (ac.title.empty()) {
            gf_logLine(fmt::format("{:8}: {} no livery match ...", stand.id, lf_acCsRegText(ac)));
        } else {
            gf_logIndented(fmt::format("{} ={}= {}", lf_acText(ac), step, ac.title));
        }
    }
    return !ac.title.empty();
}

void gf_logUnmatchedAircraft() {
    if (g_unmatchedAircraft.empty() || !g_LOG.value()) return;
    gf_logLine("\nNo match found for: ");
    for (const std::string& text : g_unmatchedAircraft) gf_logLine(text);
    gf_logLine("");
}

void gf_liveryMatchingSummary() {
    std::vector<std::string> lines;
    lines.push_back(gf_banner(32, 32, true, false, "live traffic livery matching summary"));
    lines.push_back("Matches at step: ");
    for (std::size_t step = 1; step <= g_matchStepCounts.size(); ++step) {
        lines.push_back(fmt::format("  {}: {}", step, g_matchStepCounts[step - 1].load()));
    }
    if (!g_liveriesNotCreated.empty()) {
        lines.push_back(fmt::format("\nCould not be created by {}:", "P3D"));
        for (std::string& line : gf_notCreatedLiveries()) lines.push_back(std::move(line));
    }
    lines.push_back(gf_banner(50, 50, false, true, ""));
    for (const std::string& line : lines) gf_logLine(line);
}

void gf_resetMatchStepCounts() {
    for (auto& count : g_matchStepCounts) count = 0;
}
