#include "airports/stand_file.h"

#include <cstdlib>
#include <sstream>
#include <utility>

#include <fmt/format.h>

#include "frame/settings_file.h"
#include "liveries/registrations.h"

namespace {

constexpr double kRadToDeg = 57.29577951308232;
constexpr double kDegToRad = 0.017453292519943295;
constexpr double kMetresPerNm = 1852.0;

const char* lf_boolText(bool value) { return value ? "true" : "false"; }

// C library decimal conversion; an absent attribute is 0.
double lf_readReal(pugi::xml_node node, const char* name) {
    const pugi::xml_attribute attr = node.attribute(name);
    if (!attr) return 0.0;
    return std::strtod(attr.value(), nullptr);
}

bool lf_readBool(pugi::xml_node node, const char* name) { return gf_isTrueText(node.attribute(name).value()); }

pugi::xml_node lf_findParameter(const pugi::xml_document& doc, std::string_view name) {
    return doc.select_node(gf_findParameterNode(name).c_str()).node();
}

bool lf_setText(pugi::xml_node node, const char* name, const std::string& value) {
    return node.append_attribute(name).set_value(value.c_str());
}

void lf_readOptions(pugi::xml_node parkpos, std::uint32_t fromFile, std::vector<ParkPosOption>& options) {
    options.reserve(256);
    std::uint32_t id = 0;
    for (pugi::xml_node opt = parkpos.child("opt"); opt; opt = opt.next_sibling("opt")) {
        OptKey key = lf_parseOptKey(opt);
        options.push_back(ParkPosOption{.airline = std::move(key.airline),
                                        .type = std::move(key.type),
                                        .registration = opt.attribute("reg").value(),
                                        .callsign1 = std::move(key.callsign1),
                                        .callsign2 = std::move(key.callsign2),
                                        .halfHours = gf_hours2bitset(opt.attribute("hh").value()),
                                        .id = ++id,
                                        .day = opt.attribute("day").as_uint(0),
                                        .fromFile = fromFile,
                                        .real = lf_readBool(opt, "soft") ? 0u : 1u});
    }
    options.shrink_to_fit();
}

}  // namespace

std::string lf_elementText(pugi::xml_node node) {
    std::ostringstream out;
    node.print(out, "", pugi::format_raw);
    return out.str();
}

bool gf_isTrueText(const char* text) {
    if (text == nullptr) return false;
    const char c = text[0];
    return c == '1' || c == 't' || c == 'T' || c == 'y' || c == 'Y';
}

std::optional<bool> lf_readApfParamBool(const pugi::xml_document& doc, std::string_view name) {
    const pugi::xml_node node = lf_findParameter(doc, name);
    if (!node) return std::nullopt;
    return gf_isTrueText(node.attribute("value").value());
}

std::optional<std::int32_t> lf_readApfParamInt(const pugi::xml_document& doc, std::string_view name) {
    const pugi::xml_node node = lf_findParameter(doc, name);
    if (!node) return std::nullopt;
    return static_cast<std::int32_t>(node.attribute("value").as_int(0));
}

std::optional<std::string> lf_readApfParamString(const pugi::xml_document& doc, std::string_view name) {
    const pugi::xml_node node = lf_findParameter(doc, name);
    if (!node) return std::nullopt;
    return std::string(node.attribute("value").value());
}

OptKey lf_parseOptKey(pugi::xml_node opt) {
    OptKey key;
    const std::string cs = opt.attribute("cs").value();
    const std::size_t colon = cs.find(':');
    if (colon == std::string::npos) {
        key.callsign1 = cs;
    } else {
        key.callsign1 = cs.substr(0, colon);
        if (cs.find(':', colon + 1) == std::string::npos) key.callsign2 = cs.substr(colon + 1);
    }
    const std::string reg = opt.attribute("reg").value();
    if (!reg.empty()) {
        if (const std::optional<RegcodeData> record = gf_regcodeLookup(reg)) {
            key.airline = record->operatorCode.empty() ? record->airline : record->operatorCode;
            key.type = record->type;
            return key;
        }
    }
    key.airline = opt.attribute("airl").value();
    key.type = opt.attribute("type").value();
    return key;
}

void lf_readParkpos(pugi::xml_node parkpos, const std::string& id, std::uint32_t fromFile,
                    std::vector<ParkPos>& stands) {
    const double latitude = lf_readReal(parkpos, "latitude");
    const double longitude = lf_readReal(parkpos, "longitude");
    if (latitude == 0.0 && longitude == 0.0) return;
    const double radiusMetres = lf_readReal(parkpos, "radius");
    std::vector<ParkPosOption> options;
    lf_readOptions(parkpos, fromFile, options);
    const bool heli = lf_readBool(parkpos, "heli");
    const bool ramp = lf_readBool(parkpos, "ramp");
    const bool cargo = lf_readBool(parkpos, "cargo");
    const double heading = lf_readReal(parkpos, "heading") * kDegToRad;
    stands.emplace_back(id, std::move(options), latitude, longitude, heading, radiusMetres, cargo, ramp, heli);
}

void lf_readParkpos(pugi::xml_node parkpos, const std::string& id, std::uint32_t fromFile) {
    lf_readParkpos(parkpos, id, fromFile, g_parkPositions);
}

bool gf_readStandFileText(std::string_view text, std::uint32_t fromFile, StandFile& file, std::string& error) {
    file = StandFile{};
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed) {
        error = parsed.description();
        return false;
    }
    file.metaComplete = gf_checkMetaInfo(doc);

    file.airportName = lf_readApfParamString(doc, "airport_name").value_or("");
    file.publisher = lf_readApfParamString(doc, "publisher").value_or("");
    file.handmade = lf_readApfParamBool(doc, "handmade").has_value();
    file.altitude = lf_readApfParamInt(doc, "altitude");
    file.qfReal = lf_readApfParamInt(doc, "Qf_real").value_or(-1);
    file.qfSoft = lf_readApfParamInt(doc, "Qf_soft").value_or(-1);
    file.bglPath = lf_readApfParamString(doc, "BGLpath").value_or("");
    file.rtTrafficWeek = lf_readApfParamInt(doc, "RT_traffic_week").value_or(0);

    if (const auto lateral = lf_readApfParamInt(doc, "LATERAL_RANGE")) {
        file.mode = StandFileMode::learned;
        StandFileSettings& s = file.settings;
        s.lateralRange = *lateral;
        s.autoRange = lf_readApfParamBool(doc, "AUTO_RANGE").value_or(s.autoRange);
        s.week = lf_readApfParamBool(doc, "WEEK").value_or(s.week);
        s.parkFake = lf_readApfParamBool(doc, "PARK_FAKE").value_or(s.parkFake);
        s.parkSoft = lf_readApfParamBool(doc, "PARK_SOFT").value_or(s.parkSoft);
        s.parkingPercentage = lf_readApfParamInt(doc, "parking_percentage").value_or(s.parkingPercentage);
        s.initialLoadOnly = lf_readApfParamBool(doc, "INITIAL_LOAD_ONLY").value_or(s.initialLoadOnly);
        s.maxFit = lf_readApfParamInt(doc, "MAX_FIT").value_or(s.maxFit);
        s.rtParkTrafficOnly = lf_readApfParamBool(doc, "RT_PARKTRAFFIC_ONLY").value_or(s.rtParkTrafficOnly);
        s.maxLive = lf_readApfParamInt(doc, "MAX_LIVE").value_or(-1);
        s.learnSoft = lf_readApfParamBool(doc, "LEARN_SOFT").value_or(s.learnSoft);
    }

    // The stands of a further block are read as those of the first: written, they all go into one block, where
    // the next read takes them the same way.
    for (const pugi::xml_node parkpositions : doc.children("parkpositions")) {
        for (pugi::xml_node node = parkpositions.child("parkpos"); node; node = node.next_sibling("parkpos")) {
            const std::string id = node.attribute("id").value();
            if (node.attribute("latitude") || node.attribute("longitude")) {
                const std::size_t before = file.stands.size();
                lf_readParkpos(node, id, fromFile, file.stands);
                if (file.stands.size() > before)
                    file.stands.back().manual = lf_readBool(node, "manual") ? 1 : 0;
                else
                    file.carried.push_back(lf_elementText(node));  // no position: carried as it is
                continue;
            }
            const bool radiusChange = lf_readBool(node, "radius_change");
            const bool cargoChange = lf_readBool(node, "cargo_change");
            std::vector<ParkPosOption> options;
            lf_readOptions(node, fromFile, options);
            ParkPos& stand = file.stands.emplace_back(id, std::move(options), 0.0, 0.0, 0.0,
                                                      radiusChange ? lf_readReal(node, "radius") : 0.0,
                                                      cargoChange && lf_readBool(node, "cargo"), false, false);
            stand.radiusChanged = radiusChange ? 1 : 0;
            stand.cargoChanged = cargoChange ? 1 : 0;
        }
    }
    return true;
}

bool lf_writeApfParameters(pugi::xml_document& doc, const StandFile& file) {
    pugi::xml_node params = doc.append_child("parameters");
    if (!params) return false;
    gf_addStringParameterNode(params, "airport_name", file.airportName);
    gf_addStringParameterNode(params, "publisher", file.publisher);
    if (file.handmade) gf_addBoolParameterNode(params, "handmade", true);
    if (file.mode == StandFileMode::full || file.handmade)
        gf_addIntParameterNode(params, "altitude", file.altitude.value_or(0));
    gf_addIntParameterNode(params, "num_parkpos", static_cast<std::int32_t>(file.stands.size() + file.carried.size()));
    if (file.handmade) {
        gf_addIntParameterNode(params, "Qf_real", file.qfReal);
        gf_addIntParameterNode(params, "Qf_soft", file.qfSoft);
    }
    if (file.publisher == "unknown") gf_addStringParameterNode(params, "BGLpath", file.bglPath);
    if (file.mode == StandFileMode::full) return true;

    const StandFileSettings& s = file.settings;
    gf_addIntParameterNode(params, "LATERAL_RANGE", s.lateralRange);
    gf_addBoolParameterNode(params, "AUTO_RANGE", s.autoRange);
    gf_addBoolParameterNode(params, "WEEK", s.week);
    gf_addBoolParameterNode(params, "PARK_FAKE", s.parkFake);
    gf_addBoolParameterNode(params, "PARK_SOFT", s.parkSoft);
    gf_addIntParameterNode(params, "parking_percentage", s.parkingPercentage);
    gf_addBoolParameterNode(params, "INITIAL_LOAD_ONLY", s.initialLoadOnly);
    gf_addIntParameterNode(params, "MAX_FIT", s.maxFit);
    gf_addBoolParameterNode(params, "RT_PARKTRAFFIC_ONLY", s.rtParkTrafficOnly);
    if (s.maxLive >= 0) gf_addIntParameterNode(params, "MAX_LIVE", s.maxLive);
    gf_addBoolParameterNode(params, "LEARN_SOFT", s.learnSoft);
    return true;
}

void lf_writeParkpos(pugi::xml_node parkpositions, StandFileMode mode, bool handmade, const ParkPos& stand) {
    pugi::xml_node node = parkpositions.append_child("parkpos");
    lf_setText(node, "id", stand.id);
    const bool learned = mode == StandFileMode::learned;
    const bool fullForm = !learned || stand.manual || handmade;
    if (fullForm) {
        lf_setText(node, "latitude", fmt::format("{:.6f}", stand.latitude));
        lf_setText(node, "longitude", fmt::format("{:.6f}", stand.longitude));
        lf_setText(node, "heading", fmt::format("{:.1F}", stand.heading * kRadToDeg));
        lf_setText(node, "radius", fmt::format("{:.1F}", stand.radius * kMetresPerNm));
        if (stand.heli) {
            lf_setText(node, "heli", "true");
        } else {
            lf_setText(node, "cargo", lf_boolText(stand.cargo));
        }
        lf_setText(node, "ramp", lf_boolText(stand.ramp));
        if (stand.manual) lf_setText(node, "manual", "true");
    } else {
        if (stand.radiusChanged) {
            lf_setText(node, "radius_change", "true");
            lf_setText(node, "radius", fmt::format("{:.1F}", stand.radius * kMetresPerNm));
        }
        if (stand.cargoChanged) {
            lf_setText(node, "cargo_change", "true");
            lf_setText(node, "cargo", lf_boolText(stand.cargo));
        }
    }
    if (!learned) return;
    for (const ParkPosOption& option : stand.options) lf_writeOpt(node, option);
}

void lf_writeOpt(pugi::xml_node parkpos, const ParkPosOption& option) {
    if (option.id == 0) return;
    pugi::xml_node opt = parkpos.append_child("opt");
    lf_setText(opt, "reg", option.registration);
    const bool known = !option.registration.empty() && gf_regcodeLookup(option.registration).has_value();
    if (!known) {
        lf_setText(opt, "airl", option.airline);
        lf_setText(opt, "type", option.type);
    }
    if (option.real == 0) lf_setText(opt, "soft", "true");
    lf_setText(opt, "day", std::to_string(option.day));
    lf_setText(opt, "hh", gf_bitset2hours(option.halfHours));
    const std::string cs = option.callsign2.empty() ? option.callsign1 : option.callsign1 + ":" + option.callsign2;
    if (!cs.empty()) lf_setText(opt, "cs", cs);
}

bool gf_buildStandFile(pugi::xml_document& doc, const StandFile& file) {
    if (!gf_writeMetaInfo(doc)) return false;
    if (!lf_writeApfParameters(doc, file)) return false;
    pugi::xml_node parkpositions = doc.append_child("parkpositions");
    for (const ParkPos& stand : file.stands) lf_writeParkpos(parkpositions, file.mode, file.handmade, stand);
    for (const std::string& element : file.carried) {
        pugi::xml_document scratch;
        if (scratch.load_buffer(element.data(), element.size())) parkpositions.append_copy(scratch.first_child());
    }
    return true;
}

std::string gf_writeStandFileText(const StandFile& file) {
    pugi::xml_document doc;
    if (!gf_buildStandFile(doc, file)) return {};
    std::ostringstream out;
    doc.save(out);
    return out.str();
}
