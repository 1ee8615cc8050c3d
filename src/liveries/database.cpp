#include "liveries/database.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "frame/download.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "liveries/registrations.h"
#include "liveries/scramble.h"
#include "platform/names.h"

namespace fs = std::filesystem;

DbTextMap<RegcodeData> g_regcodeDb;
std::set<std::string> g_knownModels;
std::set<std::string> g_largeModels, g_heavyModels, g_buzjetModels, g_rotorcraftModels, g_highPerfModels;
std::set<std::string> g_cargoModels;
std::set<std::string> g_cargoOperators;
std::vector<std::vector<std::string>> g_similarModelGroups;
std::vector<std::vector<std::string>> g_publisherGroups;
std::set<std::string> g_icaoAirlines;
DbTextMap<std::string> g_modelFixes;
std::vector<ThirdPartyAirports> g_thirdPartyAirports;
std::set<std::string> g_simAddonAirports;

std::map<std::string, double> g_wingspans;
std::array<double, 6> g_defaultWingspans{};
double g_maxHalfWingSpan = 0.0;

namespace {

// Half the span, from metres to nautical miles.
constexpr double kHalfSpanNmPerMetre = 0.5 * 0.0005399568034557236;

// The pieces of a list between its commas, untrimmed, as views into the text.
template <class Each>
void lf_forEachPiece(std::string_view list, Each each) {
    while (true) {
        const auto comma = list.find(',');
        each(list.substr(0, comma));
        if (comma == std::string_view::npos) return;
        list.remove_prefix(comma + 1);
    }
}

// Every code of every `element` of the top-level `section` into the set. An empty code is no code: a list of
// nothing but commas counts as empty, as does a missing section or attribute.
void lf_readXmlSection(const pugi::xml_document& doc, const char* section, std::set<std::string>& set,
                       const char* element, const char* attribute) {
    for (const pugi::xml_node node : doc.child(section).children(element)) {
        lf_forEachPiece(node.attribute(attribute).value(), [&](std::string_view piece) {
            if (!piece.empty()) set.emplace(piece);
        });
    }
    if (set.empty()) {
        throw qtm::UserErrorException(
            61, fmt::format("In an xml file section {} {} {} is empty ", section, element, attribute));
    }
}

void lf_readTypeSection(const pugi::xml_document& doc, const char* section, std::set<std::string>& set,
                        const char* element) {
    std::set<std::string> stored;
    lf_readXmlSection(doc, section, stored, element, "types");
    for (const std::string& type : stored) set.insert(gf_decryptType(type));
}

void lf_readAirlineSection(const pugi::xml_document& doc, const char* section, std::set<std::string>& set) {
    std::set<std::string> stored;
    lf_readXmlSection(doc, section, stored, "ICAO", "codes");
    for (const std::string& code : stored) set.insert(gf_decryptAirline(code));
}

void lf_readSimilarTypes(const pugi::xml_document& doc) {
    g_similarModelGroups.reserve(64);
    for (const pugi::xml_node node : doc.child("similar_types").children("similar")) {
        std::vector<std::string> group;
        lf_forEachPiece(node.attribute("types").value(), [&](std::string_view piece) {
            if (!piece.empty()) group.push_back(gf_decryptType(piece));
        });
        if (group.empty()) continue;
        std::sort(group.begin(), group.end());
        g_similarModelGroups.push_back(std::move(group));
    }
}

void lf_readPublishers(const pugi::xml_document& doc, const fs::path& path) {
    try {
        std::vector<std::string> lists;
        for (const pugi::xml_node node : doc.child("publishers").children("pub")) {
            // A "pub" without names would give a group whose empty name matches every file.
            if (const char* names = node.attribute("names").value(); *names != '\0') lists.emplace_back(names);
        }
        std::sort(lists.begin(), lists.end());
        lists.erase(std::unique(lists.begin(), lists.end()), lists.end());
        g_publisherGroups.reserve(std::max<std::size_t>(640, lists.size()));
        for (const std::string& list : lists) {
            std::vector<std::string> group;
            lf_forEachPiece(list, [&](std::string_view name) { group.emplace_back(name); });
            g_publisherGroups.push_back(std::move(group));
        }
    } catch (const std::exception& e) {
        throw std::runtime_error(
            fmt::format("exception {} in reading publishers from \"{}\"", e.what(), path.string()));
    }
}

// No aircraft comes near this span; a larger value is a slip of the database (another unit, a digit too
// many) and would make every category average, and the user aircraft's fallback span, absurd.
constexpr double kMaxSpanMetres = 200.0;

// A span as people write one: blanks around it, a sign, a decimal comma, an exponent and a unit after it
// ("34,10 m") are all read. Nothing at all is 0. nullopt for a value that is still no span: no number, out
// of range, negative or beyond any aircraft.
std::optional<double> lf_metres(std::string_view value) {
    const std::size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return 0.0;
    std::string number(value.substr(first, 64));
    if (number.front() == '+') number.erase(0, 1);
    const std::size_t comma = number.find(',');
    if (comma != std::string::npos && number.find('.') == std::string::npos) number[comma] = '.';
    double metres = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), metres);
    if (ec != std::errc() || !std::isfinite(metres) || metres < 0.0 || metres > kMaxSpanMetres) return std::nullopt;
    return metres;
}

void lf_computeDefaultWingspans() {
    std::array<double, 6> sums{};
    std::array<std::size_t, 6> counts{};
    double total = 0.0;
    g_maxHalfWingSpan = 0.0;
    for (const auto& [type, halfSpan] : g_wingspans) {
        const ModelCategory category = gf_categoryOfModel(type);
        sums[category] += halfSpan;
        ++counts[category];
        total += halfSpan;
        g_maxHalfWingSpan = std::max(g_maxHalfWingSpan, halfSpan);
    }
    // A category without a single span of its own takes the average of all types: an average of nothing
    // would be 0/0 and spread NaN into every distance it is compared with.
    const double overall = g_wingspans.empty() ? 0.0 : total / static_cast<double>(g_wingspans.size());
    for (std::size_t c = 0; c < g_defaultWingspans.size(); ++c) {
        g_defaultWingspans[c] = counts[c] == 0 ? overall : sums[c] / static_cast<double>(counts[c]);
    }
}

void lf_readWingspans(const pugi::xml_document& doc, const fs::path& path) {
    try {
        for (const pugi::xml_node node : doc.child("wingspans").children("wingspan")) {
            std::string type = gf_decryptType(node.attribute("type").value());
            if (!g_knownModels.contains(type)) {
                gf_logLine(fmt::format("wingspan model {} is no valid model, skipped", type));
                continue;
            }
            const char* value = node.attribute("meters").value();
            const std::optional<double> metres = lf_metres(value);
            if (!metres) {
                // One bad entry costs its type's own span, not the whole database and with it every start.
                gf_logWarning(fmt::format("wingspan \"{}\" of model {} cannot be read, skipped", value, type));
                continue;
            }
            g_wingspans.emplace(std::move(type), *metres * kHalfSpanNmPerMetre);
        }
    } catch (const std::exception& e) {
        throw std::runtime_error(fmt::format("exception {} in reading wingspans from \"{}\"", e.what(), path.string()));
    }
    lf_computeDefaultWingspans();
}

void lf_readFixes(const pugi::xml_document& doc) {
    for (const pugi::xml_node node : doc.child("fixes").children("fx")) {
        const std::string wrong = node.attribute("wro").value();
        const std::string correct = node.attribute("cor").value();
        if (!g_knownModels.contains(correct)) {
            gf_logLine(fmt::format("wrong fix {}->{}, the latter is not a valid model", wrong, correct));
        } else if (!g_modelFixes.emplace(wrong, correct).second) {
            gf_logLine(fmt::format("wrong part of fix: \"{}\", already exists, skipped", wrong));
        }
    }
}

void lf_readThirdPartySection(const pugi::xml_document& doc) {
    for (const pugi::xml_node node : doc.child("thirdpartiesP3D").children("thirdpartieP3D")) {
        ThirdPartyAirports entry;
        entry.publisher = node.attribute("pub").value();
        lf_forEachPiece(node.attribute("arpts").value(), [&](std::string_view airport) {
            if (!airport.empty()) entry.airports.emplace_back(airport);
        });
        g_thirdPartyAirports.push_back(std::move(entry));
    }
}

bool lf_cargoFlag(const char* text) {
    switch (text[0]) {
        case '1':
        case 't':
        case 'T':
        case 'y':
        case 'Y': return true;
        default: return false;
    }
}

void lf_readRegistrations(const pugi::xml_document& doc) {
    const pugi::xml_node section = doc.child("dbase");
    std::size_t count = 0;
    for (const pugi::xml_node node : section.children("db")) {
        (void)node;
        ++count;
    }
    g_regcodeDb.reserve(count);
    for (const pugi::xml_node node : section.children("db")) {
        std::string registration = gf_decryptLivery(node.attribute("reg").value());
        RegcodeData record{
            gf_decryptAirline(node.attribute("airl").value()), gf_decryptType(node.attribute("type").value()),
            gf_decryptAirline(node.attribute("opr").value()), lf_cargoFlag(node.attribute("cargo").value())};
        const auto [where, added] = g_regcodeDb.try_emplace(std::move(registration), std::move(record));
        if (!added) gf_logLine(fmt::format("regcode {} already exists", where->first));
    }
}

void lf_readDocument(const fs::path& path) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(path.c_str());
    if (!parsed) {
        throw qtm::UserErrorException(
            60, fmt::format("\"{}\" not read because of {}", path.string(), parsed.description()));
    }
    lf_readTypeSection(doc, "aircrafts", g_knownModels, "aircraft");
    lf_readTypeSection(doc, "high_performance", g_highPerfModels, "hpf");
    lf_readTypeSection(doc, "heavy", g_heavyModels, "hvy");
    lf_readTypeSection(doc, "large", g_largeModels, "lar");
    lf_readTypeSection(doc, "buzjet", g_buzjetModels, "bzj");
    lf_readTypeSection(doc, "rotorcraft", g_rotorcraftModels, "rot");
    lf_readTypeSection(doc, "cargo_types", g_cargoModels, "cargo_type");
    lf_readSimilarTypes(doc);
    lf_readAirlineSection(doc, "ICAO_airlines", g_icaoAirlines);
    lf_readAirlineSection(doc, "cargo_operators", g_cargoOperators);
    lf_readPublishers(doc, path);
    lf_readWingspans(doc, path);
    lf_readFixes(doc);
    lf_readXmlSection(doc, "simaddonsP3D", g_simAddonAirports, "simaddonP3D", "arpts");
    lf_readThirdPartySection(doc);
    lf_readRegistrations(doc);
}

void lf_removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

}  // namespace

std::size_t DbTextHash::operator()(std::string_view text) const noexcept {
    return static_cast<std::size_t>(platform::fnv1a64(text));
}

bool gf_isKnownModel(const std::string& type) { return !type.empty() && g_knownModels.contains(type); }

bool gf_isKnownAirline(const std::string& code) { return !code.empty() && g_icaoAirlines.contains(code); }

ModelCategory gf_categoryOfModel(const std::string& type) {
    if (g_largeModels.contains(type)) return 2;
    if (g_heavyModels.contains(type)) return 3;
    if (g_buzjetModels.contains(type)) return 1;
    if (g_rotorcraftModels.contains(type)) return 5;
    if (g_highPerfModels.contains(type)) return 4;
    return 0;
}

double gf_wingspanOfModel(const std::string& type) {
    if (const auto it = g_wingspans.find(type); it != g_wingspans.end()) return it->second;
    return g_defaultWingspans[gf_categoryOfModel(type)];
}

std::string gf_decryptType(std::string_view stored) { return gf_unscrambleType(stored); }

std::string gf_decryptAirline(std::string_view stored) {
    if (stored.empty()) return {};
    if (stored.size() == 3) {
        gf_logLine(fmt::format("Unencrypted airline {} in decrypt airl?", stored));
        return std::string(stored);
    }
    if (auto code = gf_unscrambleAirline(stored)) return std::move(*code);
    throw std::runtime_error(fmt::format("decrypt airl \"{}\" error", stored));
}

std::string gf_decryptLivery(std::string_view stored) { return gf_unscrambleRegistration(stored); }

void gf_clearDataBase() {
    g_regcodeDb.clear();
    for (auto* set : {&g_knownModels, &g_largeModels, &g_heavyModels, &g_buzjetModels, &g_rotorcraftModels,
                      &g_highPerfModels, &g_cargoModels, &g_cargoOperators, &g_icaoAirlines, &g_simAddonAirports}) {
        set->clear();
    }
    g_similarModelGroups.clear();
    g_publisherGroups.clear();
    g_modelFixes.clear();
    g_thirdPartyAirports.clear();
    g_wingspans.clear();
    g_defaultWingspans = {};
    g_maxHalfWingSpan = 0.0;
    gf_collectPrivateOperators();
}

bool gf_readDataBaseFile(const fs::path& path) {
    // A start-up after a failed one reads again: into empty containers, or every group would be there twice.
    gf_clearDataBase();
    try {
        lf_readDocument(path);
        gf_collectPrivateOperators();
    } catch (...) {
        gf_clearDataBase();
        lf_removeQuietly(path);
        throw;
    }
    fs::remove(path);
    return true;
}

bool gf_readDataBase() {
    const fs::path path = g_inputFolder / "temp2.xml";
    if (!gf_downloadDatabase(path)) {
        gf_clearDataBase();
        lf_removeQuietly(path);
        throw std::runtime_error("data base could not be read from on-line?");
    }
    return gf_readDataBaseFile(path);
}
