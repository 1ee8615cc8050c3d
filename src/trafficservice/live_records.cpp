// One live traffic record, an array of 48 fields, into a TrafficRecord, and every filter that decides
// whether the program injects that aircraft.
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string_view>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "airports/services.h"
#include "frame/display.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "injection/services.h"
#include "trafficservice/clients.h"
#include "trafficservice/json_fields.h"
#include "window/requests.h"

using nlohmann::json;
using svcjson::field;

namespace {

// Times outside this (seconds since 1970) are no times the service means; they read as 0, so that nobody
// downstream turns them into a calendar time or a tick count that does not fit.
constexpr double kMaxServiceTime = 253402300799.0;  // 9999-12-31 23:59:59

double lf_timeField(const json& value) {
    const double t = svcjson::floatOnly(value);
    return t > 0.0 && t <= kMaxServiceTime ? t : 0.0;
}

// Emitter categories of things that are no aircraft: ground vehicles and obstacles.
bool lf_isGroundObject(const std::string& category) {
    return category == "B1" || category == "B2" || category == "B4" || category == "C1" || category == "C2";
}

bool lf_isExcludedType(const std::string& type) {
    static constexpr std::array<std::string_view, 7> kExcluded{"GRND", "GLID", "SERV", "BALL", "PARA", "SHIP", "EMER"};
    for (const std::string_view t : kExcluded) {
        if (type == t) return true;
    }
    return false;
}

double lf_defaultAirspeed(double altitude) {
    if (altitude <= 2000) return 180;
    if (altitude <= 5000) return 220;
    if (altitude <= 10000) return 250;
    if (altitude <= 20000) return 350;
    return 430;
}

}  // namespace

bool lf_isAircraft(const TrafficRecord& record, const std::string& category) {
    if (lf_isGroundObject(category)) return false;
    if (record.type.empty() || record.type.size() > 4) return false;
    return !lf_isExcludedType(record.type);
}

bool TrafficClient::readRegistration(TrafficRecord& record, const json& line) const {
    record.registration.clear();
    const std::string& reg = svcjson::text(field(line, 9));
    if (reg.size() <= kMaxRegistrationLength && reg != "null") record.registration = reg;
    return !record.registration.empty();
}

bool TrafficClient::checkCategory(TrafficRecord& record, const json& line) const {
    const std::string& category = svcjson::text(field(line, 28));
    if (category.empty()) return false;
    return lf_isAircraft(record, category);
}

bool TrafficClient::readHexId(TrafficRecord& record, const json& line) const {
    if (const auto hexid = gf_parseHexId(svcjson::text(field(line, 0)))) record.hexId = *hexid;
    return record.hexId > kMaxStaticHexId;
}

void TrafficClient::correctAltitude(TrafficRecord& point, const json& line) const {
    const json& first = field(line, 4);
    const json& second = field(line, 18);
    double altitude = first.is_number() ? first.get<double>() : second.is_number() ? second.get<double>() : 0.0;
    if (!(altitude > 0.0)) {
        point.alt = 0.0;
        return;
    }
    altitude = std::max(0.0, altitude + (qnh.load() - 1013) * 30.0);
    point.reportedAlt = altitude;
    point.alt = gf_groundReport(altitude, groundReference(), point.speed) ? 0.0 : altitude;
}

bool TrafficClient::checkCallsign(TrafficRecord& record, const json& line) {
    record.callsign = svcjson::text(field(line, 13));
    if (record.callsign == "null" || record.callsign.find('@') != std::string::npos) {
        record.callsign.clear();
        return true;
    }
    if (record.callsign == "ERARMTR0" || record.callsign == "AIRPORT1") return false;
    const std::string blocked = g_BLOCK_CALLSIGN.value();
    if (blocked.empty() || blocked != record.callsign) return true;

    if (blockedAnnounce) {
        blockedAnnounce = false;
        g_blockedCallsign = blocked;
        gf_postSimMessage(SimMessage{0, record.hexId, 0, kSimMsgBlocked, 0.0, 0.0});
        gf_showMessage("Reader: Live aircraft " + record.callsign + " blocked", true);
    } else if (blocked != g_blockedCallsign) {
        gf_showMessage("Reader: Live aircraft " + g_blockedCallsign + " no longer blocked", true);
        blockedAnnounce = true;
        g_blockedCallsign.clear();
    }
    return false;
}

void TrafficClient::processLine(const json& line) {
    TrafficRecord record;
    try {
        record.time = lf_timeField(field(line, 10));
        latestRecordTime = record.time;
        if (!readRegistration(record, line)) return;

        record.airline.clear();
        record.type.clear();
        if (const std::string& type = svcjson::text(field(line, 8)); type != "0" && type != "ZZZZ") record.type = type;
        if (!checkCategory(record, line)) return;

        record.lat = svcjson::floatOnly(field(line, 1));
        record.lon = svcjson::floatOnly(field(line, 2));
        gf_checkPosition(record.lat, record.lon);
        if (gf_distanceNM(queryLatitude.load(), queryLongitude.load(), record.lat, record.lon) >
            g_trafficRangeNm.load()) {
            return;
        }

        record.headingGiven = record.attitudeGiven = false;
        if (svcjson::text(field(line, 17)) == "adsb_icao") {
            const double trueHeading = svcjson::number(field(line, 25));
            if (trueHeading == 0.0) {
                record.heading = 2.0 * std::numbers::pi;
                record.headingGiven = record.attitudeGiven = true;
            } else if (trueHeading > 0.0 && trueHeading <= 360.0) {
                record.heading = trueHeading * (std::numbers::pi / 180.0);
                record.headingGiven = record.attitudeGiven = true;
            } else if (trueHeading > 360.0) {
                throw std::runtime_error(fmt::format("true heading:{:.2F}", trueHeading));
            }
        }

        if (!readHexId(record, line)) return;
        record.speed = svcjson::number(field(line, 5));
        record.speedGiven = field(line, 5).is_number();
        correctAltitude(record, line);
        record.airborne = record.alt > 0.0;

        if (record.airborne && g_autoRangeAtMinimum.load() && g_standFileLoaded.load() &&
            record.alt - m_parkFilterElevation.load() > 3000.0) {
            return;
        }
        if (!checkCallsign(record, line)) return;

        if (g_collectSeenTraffic.load()) {
            std::lock_guard lock(m_seenMutex);
            if (!record.callsign.empty()) m_seenCallsigns.insert(record.callsign);
            m_seenHexIds.insert(record.hexId);
        }

        // On the ground only what stands or taxis at the active park airport is of use.
        if (!record.airborne) {
            if (!m_parkActive.load()) return;
            if (gf_distanceNM(m_parkLatitude.load(), m_parkLongitude.load(), record.lat, record.lon) > 5.0)
                return;
        }

        const json& track = field(line, 3);
        record.track = track.is_number() ? track.get<double>() : 0.0;
        if (record.track == 0.0) record.track = record.headingGiven ? record.heading * (180.0 / std::numbers::pi) : 0.0;
        record.trackGiven = track.is_number() || record.headingGiven;
        record.vs = svcjson::number(field(line, 15));

        record.origin = svcjson::text(field(line, 11));
        if (record.origin == "null") record.origin.clear();
        record.destination = svcjson::text(field(line, 12));
        if (record.destination == "null") record.destination.clear();

        record.bank = 0.0;
        record.bankGiven = false;
        if (record.airborne) {
            const json& angle = field(line, 23);
            if (angle.is_number()) {
                const double a = angle.get<double>();
                if (a != 0.0 && a != -1.0) {
                    record.bank = -a * (std::numbers::pi / 180.0);
                    record.bankGiven = true;
                }
            }
        }

        const json& airspeed = field(line, 20);
        if (airspeed.is_number() && airspeed.get<double>() != -1.0) {
            record.tas = airspeed.get<double>();
        } else {
            record.tas = lf_defaultAirspeed(record.alt);
        }

        record.stopped = false;
        liveRecords.push_back(std::move(record));
    } catch (const std::runtime_error&) {
        // A bad position or heading: that record is of no use, and says so often enough not to be logged.
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "processLine", e.what()));
    }
}
