#include "simlink/flight_plan.h"

#include <system_error>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/paths.h"
#include "frame/text.h"
#include "injection/services.h"

namespace fs = std::filesystem;

fs::path g_flightPlanFolder;

namespace {

// The codes come from the traffic service as they were sent to it: a stray "&" or "<" must not make the
// simulator reject the whole file, and bytes XML 1.0 forbids are dropped rather than written.
std::string lf_xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t') break;
                out += c;
        }
    }
    return out;
}

}  // namespace

fs::path gf_flightPlanFileName(std::uint32_t objectId) { return fs::path(fmt::format("{}.pln", objectId)); }

std::string gf_flightPlanText(const AiAc& ac) {
    // Business jets, large and heavy aircraft fly by instruments; light aircraft, fast military and
    // helicopters by sight.
    const char* type = ac.category >= 1 && ac.category <= 3 ? "IFR" : "VFR";
    return fmt::format(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<SimBase.Document Type=\"AceXML\" version=\"4,3\">\n"
        "<FlightPlan.FlightPlan>\n"
        "<FPType>{}</FPType>\n"
        "<DepartureID>{}</DepartureID>\n"
        "<DestinationID>{}</DestinationID>\n"
        "</FlightPlan.FlightPlan>\n"
        "</SimBase.Document>\n",
        type, lf_xmlEscape(ac.origin), lf_xmlEscape(ac.destination));
}

bool gf_writeFlightPlan(const fs::path& path, const AiAc& ac) {
    return gf_writeFile(gf_flightPlanText(ac), path, false);
}

bool gf_removeFlightPlan(std::uint32_t objectId) {
    if (g_flightPlanFolder.empty()) return true;
    std::error_code ec;
    fs::remove(g_flightPlanFolder / gf_flightPlanFileName(objectId), ec);
    return !ec;
}

void gf_createFlightPlanFolder() {
    gf_ensureGlobalPaths();
    if (!fs::exists(g_appFolder)) fs::create_directories(g_appFolder);
    g_flightPlanFolder = g_appFolder / "orig_dest";
    if (!fs::exists(g_flightPlanFolder)) fs::create_directory(g_flightPlanFolder);
}

bool gf_removeFlightPlanFolder() {
    if (g_flightPlanFolder.empty()) return true;
    std::error_code ec;
    fs::remove_all(g_flightPlanFolder, ec);
    if (ec) {
        gf_logLine(fmt::format("gf_removeFlightPlanFolder: {}", ec.message()));
        return false;
    }
    return true;
}
