#include "airports/learned.h"

#include <algorithm>
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

void lf_applyRange(const pugi::xml_document& doc) {
    if (lf_applyInt(doc, g_LATERAL_RANGE)) {
        // The range follows the clamped value: a file cannot ask the service for more than the window allows.
        gf_setTrafficRange(g_LATERAL_RANGE.value());
        gf_showIntParameter(g_LATERAL_RANGE);
        ui::backend().setEnabled(g_LATERAL_RANGE.controlId, true);
    }
    const std::optional<bool> autoRange = lf_applyBool(doc, g_AUTO_RANGE);
    if (!autoRange) return;
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

// A manual stand is taken only with a position off the null island corner and a radius.
bool lf_manualStandPlaced(pugi::xml_node node) {
    const double latitude = lf_attrReal(node, "latitude");
    const double longitude = lf_attrReal(node, "longitude");
    const bool zeroBox = latitude >= 0.0 && latitude <= 0.0009 && longitude >= 0.0 && longitude <= 0.05;
    return !zeroBox && lf_attrReal(node, "radius") != 0.0;
}

// The options of a stand that it held already, under the stand's id alone: read again at the next load, they
// meet the same options and are carried once more, until the options they met are gone.
std::string lf_droppedOptionsText(const std::string& id, const std::vector<pugi::xml_node>& dropped) {
    pugi::xml_document scratch;
    pugi::xml_node parkpos = scratch.append_child("parkpos");
    parkpos.append_attribute("id").set_value(id.c_str());
    for (const pugi::xml_node opt : dropped) parkpos.append_copy(opt);
    return lf_elementText(parkpos);
}

// Merges the elements into the stands; what cannot be placed is carried, as it was written.
std::vector<std::string> lf_mergeStands(pugi::xml_node parkpositions, const std::string& pathText,
                                        std::vector<ParkPos>& stands) {
    std::vector<std::string> carried;
    std::vector<pugi::xml_node> deferred;
    std::unordered_map<std::string, std::size_t> byId = lf_indexById(stands);
    const auto apply = [&](pugi::xml_node node, const std::string& id, ParkPos& stand) {
        std::vector<pugi::xml_node> dropped;
        lf_readLearnedParkpos(node, id, stand, &dropped);
        if (!dropped.empty()) carried.push_back(lf_droppedOptionsText(id, dropped));
    };
    for (pugi::xml_node node = parkpositions.child("parkpos"); node; node = node.next_sibling("parkpos")) {
        const std::string id = node.attribute("id").value();
        const auto found = byId.find(id);
        if (lf_attrBool(node, "manual")) {
            if (found != byId.end()) {
                gf_logWarning(fmt::format("manually created standid {} already exists in {}", id, pathText));
                carried.push_back(lf_elementText(node));
            } else if (!lf_manualStandPlaced(node)) {
                gf_logWarning(fmt::format("manually created standid {} misses correct attributes in {}", id, pathText));
                carried.push_back(lf_elementText(node));
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
            deferred.push_back(node);
            continue;
        }
        apply(node, id, stands[found->second]);
    }
    for (const pugi::xml_node node : deferred) {
        const std::string id = node.attribute("id").value();
        const auto found = byId.find(id);
        if (found != byId.end()) {
            apply(node, id, stands[found->second]);
            continue;
        }
        gf_logLine(fmt::format("learned stand {} in {} not found?", id, pathText));
        carried.push_back(lf_elementText(node));
    }
    if (!carried.empty()) {
        gf_logLine(fmt::format("{} element{} of {} kept for its next save", carried.size(),
                               gf_pluralSuffix(std::uint64_t{carried.size()}), pathText));
    }
    return carried;
}

// "EDDF.xml" -> "EDDF.<n>.xml"; a name without extension gets none.
std::filesystem::path lf_copyPath(const std::filesystem::path& path, int n) {
    std::filesystem::path copy = path;
    if (path.has_extension()) copy.replace_extension(fmt::format(".{}{}", n, path.extension().string()));
    return copy;
}

// The stands of a hand-made file that have no position: read, they would be dropped; they are carried.
std::vector<std::string> lf_unplacedHandmadeStands(pugi::xml_node parkpositions, const std::string& pathText) {
    std::vector<std::string> carried;
    for (pugi::xml_node node = parkpositions.child("parkpos"); node; node = node.next_sibling("parkpos")) {
        if (lf_attrReal(node, "latitude") != 0.0 || lf_attrReal(node, "longitude") != 0.0) continue;
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

bool lf_readLearnedParkpos(pugi::xml_node parkpos, const std::string& id, ParkPos& stand,
                           std::vector<pugi::xml_node>* dropped) {
    if (stand.id != id) return false;
    if (lf_attrBool(parkpos, "radius_change")) {
        stand.radius = lf_attrReal(parkpos, "radius") * kNmPerMetre;
        stand.radiusChanged = 1;
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
            if (dropped) dropped->push_back(opt);
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
