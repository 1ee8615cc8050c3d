#include "liveries/livery_records.h"

#include <stdexcept>
#include <string_view>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "frame/errors.h"
#include "frame/log.h"
#include "frame/settings_file.h"
#include "frame/text.h"

std::list<LiveryData> g_scannedLiveries;

bool gf_sameModel(const LiveryData& a, const LiveryData& b) { return a.airl == b.airl && a.type == b.type; }

bool gf_liveryOrder(const LiveryData& a, const LiveryData& b) {
    // std::string compares through char_traits<char>, which compares as unsigned char: bytes above 0x7f of
    // a title sort after ASCII on every platform.
    if (const int c = a.airl.compare(b.airl); c != 0) return c < 0;
    if (const int c = a.type.compare(b.type); c != 0) return c < 0;
    return a.title < b.title;
}

namespace {

void lf_writeLiveryNode(pugi::xml_node liveries, const LiveryData& livery) {
    pugi::xml_node liv = liveries.append_child("liv");
    liv.append_attribute("airl").set_value(livery.airl.c_str());
    liv.append_attribute("type").set_value(livery.type.c_str());
    if (livery.cargo) liv.append_attribute("cargo").set_value("true");
    liv.append_attribute("title").set_value(livery.title.c_str());
    if (!livery.atcid.empty()) liv.append_attribute("atcid").set_value(livery.atcid.c_str());
}

std::string lf_attributeText(pugi::xml_node node, const char* name) {
    const pugi::xml_attribute a = node.attribute(name);
    return a ? std::string(a.value()) : std::string();
}

bool lf_cargoAttribute(pugi::xml_node node) {
    const pugi::xml_attribute a = node.attribute("cargo");
    if (!a) return false;
    return std::string_view("1tTyY").find(a.value()[0]) != std::string_view::npos;
}

}  // namespace

void lf_writeLiveriesScanned(const std::filesystem::path& path) {
    if (g_scannedLiveries.empty()) return;
    pugi::xml_document doc;
    gf_writeMetaInfo(doc);
    pugi::xml_node liveries = doc.append_child("liveries");
    for (const LiveryData& livery : g_scannedLiveries) lf_writeLiveryNode(liveries, livery);
    // gf_saveXml has logged the failure; the caller must not go on as if the scan were stored.
    std::error_code reason;
    if (!gf_saveXml(doc, path, reason))
        throw std::runtime_error(fmt::format("{} could not be written: {}", path.string(), reason.message()));
    gf_logLine(fmt::format("{} liveries in {}", g_scannedLiveries.size(), path.string()));
}

void lf_readLiveriesScanned(const std::filesystem::path& path) {
    g_scannedLiveries.clear();
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) throw qtm::UserErrorException(51, fmt::format("File {} not found", path.string()));
    try {
        gf_checkMetaInfo(doc);
        const pugi::xml_node liveries = doc.child("liveries");
        if (!liveries) {
            throw qtm::UserErrorException(52, fmt::format("{} does not contain a <liveries> section", path.string()));
        }
        for (pugi::xml_node liv : liveries.children("liv")) {
            g_scannedLiveries.push_back(LiveryData{.airl = lf_attributeText(liv, "airl"),
                                                   .type = lf_attributeText(liv, "type"),
                                                   .title = lf_attributeText(liv, "title"),
                                                   .atcid = lf_attributeText(liv, "atcid"),
                                                   .priority = 0,
                                                   .cargo = lf_cargoAttribute(liv)});
        }
        if (g_scannedLiveries.empty()) {
            throw qtm::UserErrorException(533, fmt::format("{} does not contain liveries", path.string()));
        }
        gf_logLine(fmt::format("{} liveries read from {}", g_scannedLiveries.size(), path.string()));
    } catch (const pugi::xpath_exception& e) {
        gf_logLine(e.what());
    }
}
