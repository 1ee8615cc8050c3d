#include "trafficservice/clients.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "airports/services.h"
#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "frame/timeutil.h"
#include "frame/version.h"
#include "injection/services.h"
#include "platform/ui.h"
#include "trafficservice/credential.h"
#include "trafficservice/json_fields.h"
#include "trafficservice/readers.h"
#include "window/requests.h"

using nlohmann::json;

TrafficClient g_trafficClient;
WeatherClient g_weatherClient;
std::atomic<bool> g_rtProfessional{false};
std::atomic<bool> g_collectSeenTraffic{false};
std::atomic<std::int32_t> g_qnh{1013};
std::string g_blockedCallsign;

namespace {

constexpr std::string_view kProgramName = "ZNTV_P3D";
constexpr std::int32_t kMaxTimeShift = 40320;  // four weeks in minutes
// An expiry beyond this (seconds since 1970, the year 5138) is no date the service means.
constexpr double kMaxExpiry = 1e11;

std::string lf_timeStamp() { return gf_utcTimeStamp(gf_now()); }

// Far below any airport: without a park airport, only the lowest heights read as the ground.
constexpr double kNoGroundReferenceFt = -1000.0;

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// The client base

TrafficServiceClient::TrafficServiceClient() { m_response.reserve(16384); }

TrafficServiceClient::~TrafficServiceClient() = default;

std::string TrafficServiceClient::loginGuid() const {
    std::lock_guard lock(m_guidMutex);
    return m_guid;
}

void TrafficServiceClient::setLoginGuid(std::string guid) {
    std::lock_guard lock(m_guidMutex);
    m_guid.swap(guid);
}

std::int32_t TrafficServiceClient::toffset() { return std::clamp(g_timeShiftMinutes.load(), 0, kMaxTimeShift); }

void TrafficServiceClient::reset() {
    setLoginGuid({});
    m_response.clear();
    stop = false;
}

TransferResult TrafficServiceClient::post(std::string_view endpoint, const std::string& body) {
    return gf_servicePost(endpoint, body, m_response, StopCondition{&stop, true});
}

// ---------------------------------------------------------------------------------------------------------
// Login and logout

bool WeatherClient::authenticate(std::int32_t& status) {
    bool result = false;
    // A failed login ends the run with a reader error: its line says where the login went and what came of it.
    gf_clearServiceFailure();
    const auto failed = [](std::string_view what) {
        gf_noteServiceFailure(fmt::format("RT login at {}auth {}", gf_serviceBaseUrl(), what));
    };
    try {
        const std::string body = fmt::format("license={}&software={}_{}", gf_formValue(g_rtLicense),
                                             gf_formValue(kProgramName), gf_formValue(kProgramVersionText));
        const TransferResult transfer = post("auth", body);
        if (transfer.outcome == TransferOutcome::Failed) {
            gf_logLine(fmt::format("{} Authentication code: {}", lf_timeStamp(), transfer.errorText()));
            failed(fmt::format("failed: {}", transfer.errorText()));
        } else if (transfer.done()) {
            const json reply = json::parse(m_response);
            const json& statusField = svcjson::member(reply, "status");
            const json& guid = svcjson::member(reply, "GUID");
            // Only a 200 is a login; a reply without a status counts when it brings a login id.
            const std::int32_t s = statusField.is_number() ? svcjson::status(reply) : 100;
            const bool accepted = s == 200 || (statusField.is_null() && !svcjson::text(guid).empty());
            if (!accepted) {
                status = s;
                if (s != 402 && s != 404 && s != 405 && s != 500) {
                    gf_logWarning(fmt::format("RT login refused, status: {}", s));
                }
                // A 401 turns the licence away; the user is to know which file holds it.
                if (s == 401)
                    failed(fmt::format("refused, status: {} ({})", s, gf_licenseFileNote()));
                else if (statusField.is_number())
                    failed(fmt::format("refused, status: {}", s));
                else
                    failed("gave no login reply");
            } else {
                wrrl = gf_pollPause(svcjson::member(reply, "wrrl"));
                const json& server = svcjson::member(reply, "server");
                gf_logLine(fmt::format("Authenticated at RT server \"{}\"", server.is_string() ? svcjson::text(server) : "?"));
                const json& type = svcjson::member(reply, "type");
                g_rtProfessional = (type.is_number() ? type.get<double>() : 1.0) == 2.0;
                setLoginGuid(guid.is_string() ? svcjson::text(guid) : "empty GUID?");
                result = true;

                const json& expiryField = svcjson::member(reply, "expiry");
                const double expiry = expiryField.is_number() ? std::clamp(expiryField.get<double>(), -kMaxExpiry, kMaxExpiry) : 0.0;
                g_rtConnected = true;
                ui::backend().invalidate(kUpperBand);
                const double days = std::trunc((expiry - static_cast<double>(gf_now())) / 86400.0);
                const auto daysLeft = static_cast<std::int32_t>(std::clamp(days, -1e9, 1e9));
                gf_setDisplayText(&MainWindow::serviceStatusText,
                                  fmt::format("RT {} license, {} day{} left",
                                              g_rtProfessional.load() ? "professional" : "standard", daysLeft,
                                              gf_pluralSuffix(daysLeft)),
                                  kUpperBand);
                if (daysLeft < 3) gf_showMessage("Warning: Your RT license will expire soon", true);
            }
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "authenticate", e.what()));
        // What does not read as JSON with the login's fields is no answer of the service's login.
        if (dynamic_cast<const json::exception*>(&e) != nullptr)
            failed("gave no login reply");
        else
            failed(fmt::format("failed: {}", e.what()));
    }
    // The service is not to be asked again before this pause; it runs on every path, failures included.
    pause(wrrl, true);
    return result;
}

void gf_authenticateOrThrow() {
    std::int32_t status = 0;
    if (!g_weatherClient.authenticate(status)) {
        const char* message = nullptr;
        switch (status) {
            case 402: message = "Your RT license is expired"; break;
            case 404: message = "RT did not recognize your license"; break;
            case 405: message = "More than one RealTraffic session is not possible, do not run the RealTraffic app"; break;
            case 500: throw std::runtime_error("No RT database connection");
            default: break;
        }
        if (message != nullptr) {
            // Logged as its own line, but not shown as a message: the error below takes the line at once, and a
            // paint between the two would show the refusal in the message colours first.
            gf_logLine(message);
            // The licence turned away (expired, not known): which file holds it.
            const qtm::UserErrorException refused(
                status, status == 405 ? std::string(message) : fmt::format("{} ({})", message, gf_licenseFileNote()));
            // On the error line from the moment it is known, where it stays; the wait is for the user to read
            // it before the start-up gives up, and an exit ends it.
            gf_showError(refused.what());
            gf_serviceSleep(static_cast<std::int32_t>(gf_serviceTiming().refusedLoginPause.count()),
                            StopCondition{nullptr, true});
            throw refused;
        }
    }
    g_trafficClient.setLoginGuid(g_weatherClient.loginGuid());
}

void TrafficClient::deauthenticate() {
    // A handle and a reply text of its own: a reader may still be in a request on the client's.
    std::string response;
    try {
        const std::string body = fmt::format("GUID={}", gf_formValue(loginGuid()));
        const TransferResult transfer = gf_servicePost("deauth", body, response, StopCondition{nullptr, false});
        if (transfer.outcome == TransferOutcome::NoHandle) return;
        if (!transfer.done()) {
            gf_logLine(fmt::format("{} Deauthentication code: {}", lf_timeStamp(), transfer.errorText()));
            return;
        }
        const json reply = json::parse(response);
        const std::int32_t s = svcjson::status(reply);
        if (s == 200) {
            g_rtConnected = false;
            ui::backend().invalidate(kUpperBand);
            setLoginGuid({});
            gf_logLine(fmt::format("{} RT server \"{}\"", svcjson::text(svcjson::member(reply, "message")),
                                   svcjson::text(svcjson::member(reply, "server"))));
        } else {
            gf_logWarning(fmt::format("Deauthentication failed, status: {}", s));
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {} ", "deauthenticate", e.what()));
    }
}

// ---------------------------------------------------------------------------------------------------------
// State

void WeatherClient::reset() {
    TrafficServiceClient::reset();
    weatherReceived = false;
    // After a restart the first QNH is to be handed on whatever it is: the restart has put g_qnh and the
    // display back to their start values.
    lastQnh = 1013;
    metarStation.clear();
}

TrafficClient::TrafficClient() {
    m_parkedResponse.reserve(16384);
    liveRecords.reserve(384);
}

void TrafficClient::setParkAirportElevation(double feet) { m_parkElevation = feet; }

void TrafficClient::clearParkAirportElevation() { m_parkElevation = std::numeric_limits<double>::quiet_NaN(); }

std::optional<double> TrafficClient::parkAirportElevation() const {
    const double feet = m_parkElevation.load();
    if (std::isnan(feet)) return std::nullopt;
    return feet;
}

double TrafficClient::groundReference() const { return parkAirportElevation().value_or(kNoGroundReferenceFt); }

void TrafficClient::setParkAirportFilter(bool active, double latitude, double longitude, double elevation) {
    m_parkLatitude = latitude;
    m_parkLongitude = longitude;
    m_parkFilterElevation = elevation;
    m_parkActive = active;
}

void TrafficClient::takeSeenTraffic(std::set<std::string>& callsigns, std::set<std::uint32_t>& hexIds) {
    std::lock_guard lock(m_seenMutex);
    callsigns.clear();
    callsigns.swap(m_seenCallsigns);
    hexIds.clear();
    hexIds.swap(m_seenHexIds);
}

void TrafficClient::resetQueryState() {
    qnh = 1013;
    g_qnh = 1013;
    g_collectSeenTraffic = false;
    requestBox.top = 52.44;
    requestBox.bottom = 52.17;
    requestBox.left = 4.54;
    requestBox.right = 4.98;
    parkedTop = 52.44;
    parkedBottom = 52.17;
    parkedLeft = 4.54;
    parkedRight = 4.98;
    lastBoxLatitude = 0.0;
    lastBoxLongitude = 0.0;
    lastBoxRange = -1.0;
    latestRecordTime = 0.0;
    lastBatchSize = 0;
    std::lock_guard lock(m_seenMutex);
    m_seenCallsigns.clear();
    m_seenHexIds.clear();
}

void TrafficClient::reset() {
    TrafficServiceClient::reset();
    resetQueryState();
    blockedAnnounce = true;
    // A restart starts without a park airport: its stand file sets the reference again.
    clearParkAirportElevation();
    liveRecords.clear();
    m_parkedResponse.clear();
}

// ---------------------------------------------------------------------------------------------------------
// The request box and the hand-overs

void gf_setTrafficBox() {
    TrafficClient& c = g_trafficClient;
    // The reader's view of the park airport, refreshed with every box: it must not read the park airport
    // globals while the work thread changes them.
    c.setParkAirportFilter(!g_parkAirportCode.empty(), g_parkAirportPos.latitude, g_parkAirportPos.longitude,
                           g_parkAirportElevation);
    const double latitude = g_userPos.latitude;
    const double longitude = g_userPos.longitude;
    if (!gf_isRealPosition(latitude, longitude)) return;  // no position yet
    const double range = g_trafficRangeNm.load();
    if (std::abs(latitude - c.lastBoxLatitude) < 0.00015 && std::abs(longitude - c.lastBoxLongitude) < 0.00015 &&
        range == c.lastBoxRange) {
        return;
    }
    c.lastBoxRange = range;
    c.lastBoxLatitude = latitude;
    c.lastBoxLongitude = longitude;
    const double d = range * 1.852 / 111.2;
    const double feet = range * 6076.11549;
    c.requestBox.top = latitude + d;
    c.requestBox.bottom = latitude - d;
    c.requestBox.left = gf_destinationPoint(latitude, longitude, -std::numbers::pi / 2, feet).longitude;
    c.requestBox.right = gf_destinationPoint(latitude, longitude, std::numbers::pi / 2, feet).longitude;
}

void gf_takeOverSeenTraffic() {
    g_collectSeenTraffic.exchange(false);
    g_trafficClient.takeSeenTraffic(g_seenCallsigns, g_seenHexIds);
}
