#include "liveries/livery_index.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>
#include <utility>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/text.h"
#include "injection/services.h"
#include "liveries/livery_records.h"
#include "liveries/regcodes.h"
#include "liveries/selection.h"
#include "platform/ui.h"
#include "window/main_window.h"

TextMap<TextMap<std::vector<OwnedTitle>>> g_airlineLiveries;
std::array<TextMap<TextMap<TitleList>>, 2> g_liveryIndex;
std::array<TextMap<TitleList>, 2> g_typeLiveryIndex;
TextMap<TitleView> g_regcodeLiveries;
TitleList g_specialLiveries;
TextMap<std::vector<std::string>> g_similarModels;
TextMap<TextMap<std::vector<std::string>>> g_similarModelsByAirline;
std::array<std::vector<std::string>, 3> g_randomModels;
bool g_liveriesProcessed = false;

namespace {

// Every owned title once, the first of equal texts in g_airlineLiveries' iteration order: the registration
// files name liveries by title, and walking the whole database for each of their lines would be quadratic.
std::unordered_set<std::string_view, DbTextHash, std::equal_to<>> g_ownedTitles;

// The slot of a category in g_randomModels; -1 for the categories that are never chosen at random.
int lf_randomSlot(ModelCategory category) {
    switch (category) {
        case 0: return 0;
        case 1: return 1;
        case 5: return 2;
        default: return -1;
    }
}

void lf_indexOwnedTitles() {
    g_ownedTitles.clear();
    for (const auto& [airline, types] : g_airlineLiveries) {
        for (const auto& [type, liveries] : types) {
            for (const OwnedTitle& livery : liveries) g_ownedTitles.insert(std::string_view(livery.title));
        }
    }
}

void lf_storeLiveries(const std::string& airline, const std::string& type, std::vector<OwnedTitle>& liveries) {
    if (liveries.empty()) return;
    // Moved into a list of its own size: the working list keeps its room for the next airline and type. A
    // list read from a hand-edited file may bring an airline and type back after others; its liveries join
    // the ones stored before instead of replacing them.
    std::vector<OwnedTitle>& stored = g_airlineLiveries[airline][type];
    stored.insert(stored.end(), std::make_move_iterator(liveries.begin()), std::make_move_iterator(liveries.end()));
    liveries.clear();
}

// The category's liveries of one kind: how many, and their types into `types`.
std::size_t lf_countKind(const TextMap<TitleList>& index, ModelCategory category, std::vector<std::string>& types) {
    std::size_t count = 0;
    for (const auto& [type, titles] : index) {
        if (gf_categoryOfModel(type) != category) continue;
        count += titles.size();
        types.push_back(type);
    }
    return count;
}

struct CategorySwitch {
    ModelCategory category;
    CheckBoxParameter* setting;
    const char* what;
};

const CategorySwitch* lf_categorySwitch(ModelCategory category) {
    static const CategorySwitch switches[] = {
        {0, &g_LIGHT_AIRCRAFT, "light aircraft"},
        {4, &g_HIGH_PERF_AIRCRAFT, "High Perf aircraft"},
        {5, &g_HELICOPTERS, "Helicopters"},
    };
    for (const CategorySwitch& s : switches) {
        if (s.category == category) return &s;
    }
    return nullptr;
}

void lf_enableCheckBox(const CheckBoxParameter& p, bool on) {
    if (p.created) ui::backend().setEnabled(p.controlId, on);
}

}  // namespace

void lf_buildAirlineLiveries() {
    std::vector<OwnedTitle> current;
    current.reserve(4048);
    const LiveryData* previous = nullptr;
    for (const LiveryData& livery : g_scannedLiveries) {
        if (previous && !gf_sameModel(*previous, livery)) lf_storeLiveries(previous->airl, previous->type, current);
        current.push_back(OwnedTitle{livery.title, livery.cargo});
        previous = &livery;
    }
    if (previous) lf_storeLiveries(previous->airl, previous->type, current);
    lf_indexOwnedTitles();
}

void lf_buildLiveryIndex() {
    for (const auto& [airline, types] : g_airlineLiveries) {
        for (const auto& [type, liveries] : types) {
            std::array<TitleList, 2> split;
            for (const OwnedTitle& livery : liveries) {
                split[livery.cargo ? kCargoIndex : kPaxIndex].emplace_back(livery.title);
            }
            for (std::size_t kind : {kPaxIndex, kCargoIndex}) {
                if (!split[kind].empty()) g_liveryIndex[kind][airline][type] = std::move(split[kind]);
            }
        }
    }
}

TitleView gf_findOwnedTitle(std::string_view title) {
    const auto it = g_ownedTitles.find(title);
    return it == g_ownedTitles.end() ? TitleView{} : *it;
}

void lf_buildTypeIndex() {
    for (const auto& [airline, types] : g_airlineLiveries) {
        for (const auto& [type, liveries] : types) {
            for (const OwnedTitle& livery : liveries) {
                g_typeLiveryIndex[livery.cargo ? kCargoIndex : kPaxIndex][type].emplace_back(livery.title);
            }
        }
    }
}

bool gf_hasLiveryOfModel(std::string_view type) {
    return g_typeLiveryIndex[kPaxIndex].find(type) != g_typeLiveryIndex[kPaxIndex].end() ||
           g_typeLiveryIndex[kCargoIndex].find(type) != g_typeLiveryIndex[kCargoIndex].end();
}

bool lf_airlineHasModel(std::string_view airline, std::string_view type) {
    const auto a = g_airlineLiveries.find(airline);
    return a != g_airlineLiveries.end() && a->second.find(type) != a->second.end();
}

void gf_buildSimilarModels() {
    // Each member of a group with the members that are installed, as a "," joined line; sorted as texts,
    // so that a type in several groups takes the line that sorts first.
    std::vector<std::string> lines;
    for (const std::vector<std::string>& group : g_similarModelGroups) {
        for (const std::string& member : group) {
            std::string line = member;
            bool others = false;
            for (const std::string& other : group) {
                if (other == member || !gf_hasLiveryOfModel(other)) continue;
                line.append(",").append(other);
                others = true;
            }
            if (others) lines.push_back(std::move(line));
        }
    }
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    for (const std::string& line : lines) {
        std::vector<std::string> types = gf_splitComma(line);
        const std::string first = types.front();
        types.erase(types.begin());
        g_similarModels.emplace(first, std::move(types));
    }

    for (const auto& [code, types] : g_airlineLiveries) {
        const std::string airline = code.substr(0, 3);
        // The airline's own types, looked up once rather than for each type asked about.
        const auto entry = g_airlineLiveries.find(airline);
        const auto has = [&](const std::string& type) {
            return entry != g_airlineLiveries.end() && entry->second.find(type) != entry->second.end();
        };
        TextMap<std::vector<std::string>> byType;
        for (const auto& [type, similar] : g_similarModels) {
            if (has(type)) continue;
            std::vector<std::string> own;
            for (const std::string& member : similar) {
                if (has(member)) own.push_back(member);
            }
            if (!own.empty()) byType.emplace(type, std::move(own));
        }
        if (!byType.empty()) g_similarModelsByAirline[airline] = std::move(byType);
    }
    gf_logLine(fmt::format("{} similar model definitions", g_similarModels.size()));
}

std::vector<std::string> gf_typeListLines(const std::vector<std::string>& sortedTypes) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < sortedTypes.size(); i += 20) {
        std::string line = "  ";
        const std::size_t end = std::min(sortedTypes.size(), i + 20);
        for (std::size_t j = i; j < end; ++j) line.append(sortedTypes[j]).append(",");
        line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

void lf_reportGenericLiveries() {
    const auto generic = g_airlineLiveries.find(kGenericAirline);
    if (generic == g_airlineLiveries.end() || generic->second.empty()) {
        gf_logLine("No generic liveries");
        return;
    }
    std::vector<std::string> types;
    for (const auto& [type, liveries] : generic->second) types.push_back(type);
    std::sort(types.begin(), types.end());
    gf_logLine(fmt::format("{} model{} have a generic livery", types.size(), gf_pluralSuffix(std::uint64_t{types.size()})));
    for (const std::string& line : gf_typeListLines(types)) gf_logLine(line);
}

void lf_countLiveriesPerCategory(ModelCategory category) {
    std::vector<std::string> types;
    const std::size_t pax = lf_countKind(g_typeLiveryIndex[kPaxIndex], category, types);
    const std::size_t cargo = lf_countKind(g_typeLiveryIndex[kCargoIndex], category, types);
    const std::string& name = gf_categoryName(category);
    const CategorySwitch* sw = lf_categorySwitch(category);
    if (pax == 0 && cargo == 0) {
        gf_logLine(fmt::format("Category {}: No livery found", name));
        if (sw) {
            if (sw->setting->value()) {
                sw->setting->set(false);
                gf_saveBoolParameter(*sw->setting);
                gf_showCheckState(*sw->setting);
                gf_logLine(fmt::format("{} temporary switched off because you do not have {} installed",
                                       sw->setting->key, sw->what));
            }
            // Without a livery of the category the setting can do nothing; the box stays off until a scan
            // finds one.
            lf_enableCheckBox(*sw->setting, false);
        }
        return;
    }
    std::string line = fmt::format("Category {}: {} pax liverie{}", name, pax, gf_pluralSuffix(std::uint64_t{pax}));
    if (cargo != 0) line += fmt::format(" and {} cargo liverie{}", cargo, gf_pluralSuffix(std::uint64_t{cargo}));
    gf_logLine(line);
    std::sort(types.begin(), types.end());
    types.erase(std::unique(types.begin(), types.end()), types.end());
    for (const std::string& typeLine : gf_typeListLines(types)) gf_logLine(typeLine);
    if (const int slot = lf_randomSlot(category); slot >= 0) {
        for (const std::string& type : types) g_randomModels[static_cast<std::size_t>(slot)].push_back(type);
    }
    if (sw) lf_enableCheckBox(*sw->setting, true);
}

void gf_processScannedLiveries(const std::filesystem::path& path) {
    if (g_liveriesProcessed) {
        gf_logLine("Processing scanned liveries skipped; already done in previous start-up");
        g_scannedLiveries.clear();
        return;
    }
    // A rebuild asked for by the user lands here: no aircraft of the last run is left to hold a title.
    gf_clearLiveryDatabase();
    lf_readLiveriesScanned(path);
    g_mainWindow.liveryCount = g_scannedLiveries.size();
    ui::backend().invalidate(kUpperBand);
    lf_buildAirlineLiveries();
    lf_buildLiveryIndex();
    lf_checkInlineRegcodes();
    lf_processRegcodeFiles();
    gf_logLine(fmt::format("{} registration codes", g_regcodeLiveries.size()));
    lf_buildTypeIndex();
    gf_logLine(fmt::format("{} airlines, {} pax aircraft models and {} cargo aircraft models", g_airlineLiveries.size(),
                           g_typeLiveryIndex[kPaxIndex].size(), g_typeLiveryIndex[kCargoIndex].size()));
    gf_buildSimilarModels();
    lf_reportGenericLiveries();
    for (ModelCategory category = 0; category <= 5; ++category) lf_countLiveriesPerCategory(category);
    g_liveriesProcessed = true;
    ui::backend().invalidate(kUpperBand);
    g_scannedLiveries.clear();
}

void gf_requestLiveryRebuild() { g_liveriesProcessed = false; }

void gf_clearLiveryDatabase() {
    for (std::vector<std::string>& models : g_randomModels) models.clear();
    g_specialLiveries.clear();
    g_regcodeLiveries.clear();
    gf_clearRegcodeState();
    for (auto& index : g_typeLiveryIndex) index.clear();
    for (auto& index : g_liveryIndex) index.clear();
    g_similarModels.clear();
    g_similarModelsByAirline.clear();
    g_liveryByHexid.clear();
    g_ownedTitles.clear();
    g_airlineLiveries.clear();
    g_liveriesProcessed = false;
}

void gf_reserveLiveryContainers() {
    static bool reserved = false;
    if (reserved) return;
    reserved = true;
    g_specialLiveries.reserve(4096);
    g_randomModels[0].reserve(64);
    g_randomModels[1].reserve(128);
    g_randomModels[2].reserve(32);
    g_liveryByHexid.reserve(512);
}

std::vector<std::string> gf_similarModelsOfAirline(const AiAc& ac) {
    std::vector<std::string> similar;
    if (const auto a = g_similarModelsByAirline.find(ac.airline); a != g_similarModelsByAirline.end()) {
        if (const auto t = a->second.find(ac.type); t != a->second.end()) similar = t->second;
    }
    gf_shuffle(similar);
    return similar;
}

std::vector<std::string> gf_similarModelsOrRandom(std::string_view type) {
    if (const auto it = g_similarModels.find(type); it != g_similarModels.end()) {
        std::vector<std::string> similar = it->second;
        gf_shuffle(similar);
        return similar;
    }
    const int slot = lf_randomSlot(gf_categoryOfModel(std::string(type)));
    if (slot < 0) return {};
    const std::vector<std::string>& installed = g_randomModels[static_cast<std::size_t>(slot)];
    if (installed.empty()) return {};
    const std::size_t n = installed.size();
    return {installed[n == 1 ? 0 : gf_random32() % n]};
}
