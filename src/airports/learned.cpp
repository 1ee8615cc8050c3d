#include "airports/learned.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <fmt/format.h>

#include "airports/stand_file.h"
#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/text.h"
#include "injection/aircraft_lists.h"
#include "platform/ui.h"
#include "window/requests.h"

namespace {

constexpr double kNmPerMetre = 0.0005399568034557236;

double lf_attrReal(pugi::xml_node node, const char* name) {
    const pugi::xml_attribute attr = node.attribute(name);
    return attr ? std::strtod(attr.value(), nullptr) : 0.0;
}

bool lf_attrBool(pugi::xml_node node, const char* name) { return gf_isTrueText(node.attribute(name).value()); }

// A value as the save writes it and the next load reads it back.
double lf_asWritten(double value, std::string_view format) {
    return std::strtod(fmt::format(fmt::runtime(format), value).c_str(), nullptr);
}

// The radius of a learned radius change, in nautical miles: a number that the save writes back as a radius
// above 0 ("{:.1F}" metres). None for a missing or misspelt attribute, a text that is no number, a value that
// is not finite, and one that is 0 or below as it would be written.
std::optional<double> lf_usableRadius(pugi::xml_node node) {
    const pugi::xml_attribute attr = node.attribute("radius");
    if (!attr) return std::nullopt;
    const char* text = attr.value();
    char* end = nullptr;
    const double metres = std::strtod(text, &end);
    if (end == text || !std::isfinite(metres)) return std::nullopt;
    const double nm = metres * kNmPerMetre;
    if (!(lf_asWritten(nm * 1852.0, "{:.1F}") > 0.0)) return std::nullopt;
    return nm;
}

const char* lf_boolText(bool value) { return value ? "true" : "false"; }

void lf_logSetting(std::string_view key, const std::string& value) {
    gf_logIndented(fmt::format("{:24}: {}", key, value));
}

// A flag of the snapshot: taken, shown in its check box and logged; an absent one changes nothing.
std::optional<bool> lf_applyBool(const pugi::xml_document& doc, CheckBoxParameter& p) {
    const std::optional<bool> value = lf_readApfParamBool(doc, p.key);
    if (!value) return value;
    p.set(*value);
    gf_showCheckState(p);
    lf_logSetting(p.key, lf_boolText(*value));
    return value;
}

// A number of the snapshot, clamped to its setting's range as the window would; logged as read.
std::optional<std::int32_t> lf_applyInt(const pugi::xml_document& doc, IntParameter& p) {
    const std::optional<std::int32_t> value = lf_readApfParamInt(doc, p.key);
    if (!value) return value;
    p.set(std::clamp(*value, p.minimum, p.maximum));
    lf_logSetting(p.key, std::to_string(*value));
    return value;
}

// The range settings of the file, so that the file a save writes of them is read again the same way.
void lf_applyRange(const pugi::xml_document& doc) {
    const bool lateral = lf_applyInt(doc, g_LATERAL_RANGE).has_value();
    if (lateral) {
        // The range follows the clamped value: a file cannot ask the service for more than the window allows.
        gf_setTrafficRange(g_LATERAL_RANGE.value());
        gf_showIntParameter(g_LATERAL_RANGE);
        ui::backend().setEnabled(g_LATERAL_RANGE.controlId, true);
    }
    std::optional<bool> autoRange = lf_applyBool(doc, g_AUTO_RANGE);
    if (!autoRange) {
        if (!lateral) return;
        // A range without its switch is taken under the switch in force, as the saved file, which holds both,
        // is read: with the automatic range off it is the manual range (and the value to come back to), with
        // it on the value to come back to while the automatic range applies.
        if (!g_AUTO_RANGE.value()) {
            g_autoRangeManualValue = g_LATERAL_RANGE.value();
            return;
        }
        autoRange = true;
    }
    ui::backend().setEnabled(g_LATERAL_RANGE.controlId, false);
    ui::backend().setEnabled(g_AUTO_RANGE_ABOVE_HEIGHT.controlId, *autoRange);
    if (*autoRange) {
        g_autoRangeManualValue = g_LATERAL_RANGE.value();
        gf_autoTrafficRange();
    } else {
        ui::backend().setEnabled(g_LATERAL_RANGE.controlId, true);
        gf_setTrafficRange(
            std::clamp(g_autoRangeManualValue.load(), g_LATERAL_RANGE.minimum, g_LATERAL_RANGE.maximum));
        gf_clearMessage();
    }
    gf_showIntParameter(g_LATERAL_RANGE);
    g_autoRangeAtMinimum = *autoRange && g_trafficRangeNm.load() == 10.0;
}

// The settings that travel with the airport, in force (not saved) from now on.
void lf_applySnapshot(const pugi::xml_document& doc) {
    lf_applyBool(doc, g_LEARN_SOFT);
    if (!lf_applyInt(doc, g_MAX_LIVE)) g_MAX_LIVE.set(-1);
    gf_showIntParameter(g_MAX_LIVE);
    lf_applyRange(doc);
    lf_applyBool(doc, g_PARK_FAKE);
    lf_applyBool(doc, g_WEEK);
    lf_applyBool(doc, g_PARK_SOFT);
    if (!lf_applyInt(doc, g_parking_percentage)) g_parking_percentage.set(30);
    gf_showIntParameter(g_parking_percentage);
    lf_applyBool(doc, g_INITIAL_LOAD_ONLY);
    if (const std::optional<std::int32_t> maxFit = lf_readApfParamInt(doc, g_MAX_FIT.key)) {
        g_MAX_FIT.set(std::clamp(*maxFit, g_MAX_FIT.minimum, g_MAX_FIT.maximum));
        g_MAX_FIT_FL.set(static_cast<float>(g_MAX_FIT.value()) * 0.5f + 0.5f);
        gf_showFloatParameter(g_MAX_FIT_FL);
        gf_logIndented(fmt::format("{:24}: {} (max number of half hours, is {} hrs decimal)", g_MAX_FIT.key,
                                   g_MAX_FIT.value(), gf_formatNumber(g_MAX_FIT_FL.value())));
    }
    lf_applyBool(doc, g_RT_PARKTRAFFIC_ONLY);
}

// Where each id stands in the list (the first of equal ids).
std::unordered_map<std::string, std::size_t> lf_indexById(const std::vector<ParkPos>& stands) {
    std::unordered_map<std::string, std::size_t> index;
    index.reserve(stands.size() * 2);
    for (std::size_t i = 0; i < stands.size(); ++i) index.emplace(stands[i].id, i);
    return index;
}

// A position that the next load reads as one: not both 0 as the save writes them.
bool lf_placedAsWritten(double latitude, double longitude) {
    return lf_asWritten(latitude, "{:.6f}") != 0.0 || lf_asWritten(longitude, "{:.6f}") != 0.0;
}

// A manual stand is taken only with a position off the null island corner and a radius, both as the save writes
// them (six decimals of a degree, a tenth of a metre): one that the next load would refuse is refused now, and
// carried as it is.
bool lf_manualStandPlaced(pugi::xml_node node) {
    const double latitude = lf_asWritten(lf_attrReal(node, "latitude"), "{:.6f}");
    const double longitude = lf_asWritten(lf_attrReal(node, "longitude"), "{:.6f}");
    const bool zeroBox = latitude >= 0.0 && latitude <= 0.0009 && longitude >= 0.0 && longitude <= 0.05;
    return !zeroBox && lf_asWritten(lf_attrReal(node, "radius") * kNmPerMetre * 1852.0, "{:.1F}") != 0.0;
}

// What a learned element says that the stand did not take, under the stand's id: the options it held already
// and a radius change without a usable radius (with the element's other attributes as the user wrote them,
// the cargo change aside, which the stand took). Read again at the next load, they meet the same stand and
// are carried once more.
std::string lf_leftOverText(const std::string& id, pugi::xml_node node, const LearnedLeftOver& left) {
    pugi::xml_document scratch;
    pugi::xml_node parkpos = scratch.append_child("parkpos");
    parkpos.append_attribute("id").set_value(id.c_str());
    if (left.radius) {
        for (const pugi::xml_attribute attr : node.attributes()) {
            const std::string_view name = attr.name();
            if (name != "id" && name != "cargo_change" && name != "cargo") parkpos.append_copy(attr);
        }
    }
    for (const pugi::xml_node opt : left.options) parkpos.append_copy(opt);
    return lf_elementText(parkpos);
}

// Merges the elements into the stands; what cannot be placed is carried, as it was written.
std::vector<std::string> lf_mergeStands(pugi::xml_node parkpositions, const std::string& pathText,
                                        std::vector<ParkPos>& stands) {
    // What is carried goes in the order of the elements it came from: the save writes it after the stands,
    // where the next load meets it in the same order again.
    std::vector<std::pair<std::size_t, std::string>> carried;
    std::vector<std::pair<std::size_t, pugi::xml_node>> deferred;
    std::unordered_map<std::string, std::size_t> byId = lf_indexById(stands);
    const auto apply = [&](std::size_t at, pugi::xml_node node, const std::string& id, ParkPos& stand) {
        LearnedLeftOver left;
        lf_readLearnedParkpos(node, id, stand, &left);
        if (left.radius) {
            gf_logLine(fmt::format("radius change of stand {} in {} without a usable radius, nothing changed", id,
                                   pathText));
        }
        if (left.radius || !left.options.empty()) carried.emplace_back(at, lf_leftOverText(id, node, left));
    };
    std::size_t at = 0;
    for (pugi::xml_node node = parkpositions.child("parkpos"); node; node = node.next_sibling("parkpos"), ++at) {
        const std::string id = node.attribute("id").value();
        const auto found = byId.find(id);
        if (lf_attrBool(node, "manual")) {
            if (found != byId.end()) {
                gf_logWarning(fmt::format("manually created standid {} already exists in {}", id, pathText));
                carried.emplace_back(at, lf_elementText(node));
            } else if (!lf_manualStandPlaced(node)) {
                gf_logWarning(fmt::format("manually created standid {} misses correct attributes in {}", id, pathText));
                carried.emplace_back(at, lf_elementText(node));
            } else {
                lf_readParkpos(node, id, 0, stands);
                stands.back().manual = 1;
                byId.emplace(id, stands.size() - 1);
            }
            continue;
        }
        // A manual stand further down may be the one it belongs to: it is applied after them all, as it is
        // when the saved file (manual stands first) is read again.
        if (found == byId.end()) {
            deferred.emplace_back(at, node);
            continue;
        }
        apply(at, node, id, stands[found->second]);
    }
    for (const auto& [index, node] : deferred) {
        const std::string id = node.attribute("id").value();
        const auto found = byId.find(id);
        if (found != byId.end()) {
            apply(index, node, id, stands[found->second]);
            continue;
        }
        gf_logLine(fmt::format("learned stand {} in {} not found?", id, pathText));
        carried.emplace_back(index, lf_elementText(node));
    }
    std::stable_sort(carried.begin(), carried.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> texts;
    texts.reserve(carried.size());
    for (auto& entry : carried) texts.push_back(std::move(entry.second));
    if (!texts.empty()) {
        gf_logLine(fmt::format("{} element{} of {} kept for its next save", texts.size(),
                               gf_pluralSuffix(std::uint64_t{texts.size()}), pathText));
    }
    return texts;
}

// "EDDF.xml" -> "EDDF.<n>.xml"; a name without extension gets none.
std::filesystem::path lf_copyPath(const std::filesystem::path& path, int n) {
    std::filesystem::path copy = path;
    if (path.has_extension()) copy.replace_extension(fmt::format(".{}{}", n, path.extension().string()));
    return copy;
}

// The stands of a hand-made file that have no position as the save writes it (both 0 to six decimals): read,
// they would be dropped, now or at the next load; they are carried.
std::vector<std::string> lf_unplacedHandmadeStands(pugi::xml_node parkpositions, const std::string& pathText) {
    std::vector<std::string> carried;
    for (pugi::xml_node node = parkpositions.child("parkpos"); node; node = node.next_sibling("parkpos")) {
        if (lf_placedAsWritten(lf_attrReal(node, "latitude"), lf_attrReal(node, "longitude"))) continue;
        gf_logWarning(fmt::format("handmade standid {} has no position in {}, kept for its next save",
                                  node.attribute("id").value(), pathText));
        carried.push_back(lf_elementText(node));
    }
    return carried;
}

}  // namespace

std::filesystem::path lf_keepLearnedCopy(const std::filesystem::path& path, const std::string& reason) {
    const std::optional<std::string> bytes = gf_readFile(path);
    if (!path.has_extension() || !bytes) return {};
    // An older copy is the user's too: it is only ever reused when it holds the same bytes.
    for (int n = 0; n < 100; ++n) {
        const std::filesystem::path copy = lf_copyPath(path, n);
        std::error_code ec;
        if (std::filesystem::exists(copy, ec) || ec) {
            if (gf_readFile(copy) != bytes) continue;
        } else if (!gf_writeFile(*bytes, copy, false)) {
            break;
        }
        gf_logWarning(fmt::format("{} not taken whole ({}), kept as {}", path.string(), reason, copy.string()));
        return copy;
    }
    gf_logWarning(fmt::format("{} not taken whole ({}), no copy could be made", path.string(), reason));
    return {};
}

LearnedMerge lf_readLearned(const std::filesystem::path& path, const ApfInfo& archived, std::vector<ParkPos>& stands,
                            bool& handmade, const std::optional<std::string>& text) {
    const std::string pathText = path.string();
    LearnedMerge merge;
    // Whatever ends the merge early leaves the file as the user had it, beside itself.
    const auto keepCopy = [&](const std::string& reason) {
        if (!text && lf_keepLearnedCopy(path, reason).empty()) merge.uncopied = true;
    };
    const auto notWhole = [&](const std::string& reason) {
        merge.takenWhole = false;
        merge.carried.clear();
        keepCopy(reason);
    };
    try {
        pugi::xml_document doc;
        const pugi::xml_parse_result parsed =
            text ? doc.load_buffer(text->data(), text->size()) : doc.load_file(path.c_str());
        if (!parsed) {
            notWhole(parsed.description());
            gf_logLine(fmt::format("{} found, but could not be loaded, saved as *.0.xml: {}", pathText,
                                   parsed.description()));
            return merge;
        }
        gf_logLine(fmt::format("Read from learned airport file: \"{}\"", pathText));
        if (!gf_checkMetaInfo(doc)) {
            notWhole("meta data incorrect");
            return merge;
        }

        const std::string name = lf_readApfParamString(doc, "airport_name").value_or("");
        if (name != archived.airportName) {
            gf_showMessage(fmt::format("Warning: learned file airport name: \"{}\" differs from archived file "
                                       "airport name: \"{}\"",
                                       name, archived.airportName),
                           true);
        }
        lf_applySnapshot(doc);

        const pugi::xml_node parkpositions = doc.child("parkpositions");
        // Only the first block is read: the stands of another one are kept in the copy.
        for (pugi::xml_node more = parkpositions.next_sibling("parkpositions"); more;
             more = more.next_sibling("parkpositions")) {
            if (!more.child("parkpos")) continue;
            keepCopy("a second parkpositions block");
            break;
        }
        handmade = false;
        if (const std::optional<bool> handmadeValue = lf_readApfParamBool(doc, "handmade")) {
            // Only a whole file replaces the archived stands: one that fails half-way leaves them alone.
            // Read whole before they replace the archived ones.
            std::vector<ParkPos> handmadeStands;
            gf_readFullStands(parkpositions, handmadeStands);
            std::erase_if(handmadeStands,
                          [](const ParkPos& stand) { return !lf_placedAsWritten(stand.latitude, stand.longitude); });
            stands = std::move(handmadeStands);
            handmade = true;
            merge.carried = lf_unplacedHandmadeStands(parkpositions, pathText);
            lf_logSetting("handmade", lf_boolText(*handmadeValue));
            return merge;
        }
        merge.carried = lf_mergeStands(parkpositions, pathText, stands);
    } catch (const std::exception& e) {
        const std::string reason = fmt::format("{}: {}", "lf_readLearned", e.what());
        gf_logLine(reason);
        try {
            notWhole(reason);
        } catch (const std::exception& copyError) {
            gf_logLine(fmt::format("{}: {}", "lf_readLearned", copyError.what()));
        }
    }
    return merge;
}

bool lf_readLearnedParkpos(pugi::xml_node parkpos, const std::string& id, ParkPos& stand, LearnedLeftOver* left) {
    if (stand.id != id) return false;
    if (lf_attrBool(parkpos, "radius_change")) {
        if (const std::optional<double> radius = lf_usableRadius(parkpos)) {
            stand.radius = *radius;
            stand.radiusChanged = 1;
        } else if (left) {
            left->radius = true;
        }
    }
    if (lf_attrBool(parkpos, "cargo_change")) {
        stand.cargo = lf_attrBool(parkpos, "cargo") ? 1 : 0;
        stand.cargoChanged = 1;
    }
    std::uint32_t next = stand.options.empty() ? 1 : stand.options.back().id + 1;
    for (pugi::xml_node opt = parkpos.child("opt"); opt; opt = opt.next_sibling("opt")) {
        OptKey key = lf_parseOptKey(opt);
        // A weekday below 0 means none, as in the archived files.
        const int day = opt.attribute("day").as_int(0);
        ParkPosOption candidate{.airline = std::move(key.airline),
                                .type = std::move(key.type),
                                .registration = opt.attribute("reg").value(),
                                .callsign1 = std::move(key.callsign1),
                                .callsign2 = std::move(key.callsign2),
                                .halfHours = gf_hours2bitset(opt.attribute("hh").value()),
                                .id = next,
                                .day = static_cast<std::uint32_t>(std::max(day, 0)),
                                .fromFile = 0,
                                .real = lf_attrBool(opt, "soft") ? 0u : 1u};
        const bool held = std::any_of(stand.options.begin(), stand.options.end(),
                                      [&](const ParkPosOption& o) { return lf_sameOpt(candidate, o); });
        if (held) {
            if (left) left->options.push_back(opt);
            continue;
        }
        stand.options.push_back(std::move(candidate));
        ++next;
    }
    return true;
}

bool lf_sameOpt(const ParkPosOption& candidate, const ParkPosOption& held) {
    return candidate.day == held.day && candidate.real == held.real && (candidate.halfHours & held.halfHours).any() &&
           candidate.registration == held.registration && candidate.airline == held.airline &&
           candidate.type == held.type;
}
