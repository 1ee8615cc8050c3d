// The weather reader's loop: the METAR station nearest to the user aircraft, then its weather, and a
// plausible QNH from it handed to the traffic client (which corrects the received altitudes), to the
// simulator side and to the display.
#include <charconv>
#include <cmath>
#include <mutex>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "frame/log.h"
#include "frame/timeutil.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"
#include "trafficservice/json_fields.h"
#include "trafficservice/readers.h"
#include "window/main_window.h"

using nlohmann::json;

namespace {

std::string lf_timeStamp() { return gf_utcTimeStamp(gf_now()); }

struct UserPlace {
    double latitude = 0.0, longitude = 0.0, altitude = 0.0;
};

// The latest the simulator sent, taken under its lock: this thread must not read the work thread's copy.
UserPlace lf_userPlace() {
    std::lock_guard lock(g_userAcMutex);
    return {g_userAcFromSim.latitude, g_userAcFromSim.longitude, g_userAcFromSim.altitude};
}

// The altitude of the weather request: whole feet toward zero, never below 0.
std::int64_t lf_requestAltitude(double feet) {
    if (!(feet > 0.0)) return 0;
    return static_cast<std::int64_t>(std::min(feet, 1e9));
}

// Far beyond any QNH, in either unit; what lies beyond is clamped here so that it stays a number that fits.
constexpr double kQnhLimit = 1e9;

}  // namespace

bool WeatherClient::nearestmetar(std::int32_t& status) {
    const std::string guid = loginGuid();
    if (guid.empty()) return false;
    bool result = false;
    try {
        const UserPlace user = lf_userPlace();
        const std::string body = fmt::format("GUID={}&toffset={}&lat={:.4F}&lon={:.4F}", gf_formValue(guid),
                                             toffset(), user.latitude, user.longitude);
        const TransferResult transfer = post("nearestmetar", body);
        gf_noteServicePoll(ServicePoll::NearestMetar, transfer);
        if (transfer.outcome == TransferOutcome::Failed) {
            gf_logWarning(fmt::format("{} nearestmetar code_w: {}", lf_timeStamp(), transfer.errorText()));
        } else if (transfer.done() && m_response.empty()) {
            gf_logWarning("nearest metar: empty content");
        } else if (transfer.done()) {
            const json reply = json::parse(m_response);
            const std::int32_t s = svcjson::status(reply);
            if (s != 200) {
                status = s;
                if (s == 406 || s == 500) {
                    gf_logWarning(fmt::format("{} json nearestmetar {}", s, svcjson::text(svcjson::member(reply, "message"))));
                }
            } else {
                const json& data = svcjson::member(reply, "data");
                bool found = false;
                if (svcjson::filled(data)) {
                    // Anything but a list makes the library say so; the cycle then logs it.
                    const json& first = data.at(0);
                    if (svcjson::filled(first)) {
                        const std::string& icao = svcjson::text(svcjson::member(first, "ICAO"));
                        if (!icao.empty()) {
                            metarStation = icao;
                            found = result = true;
                        }
                    }
                }
                if (!found) metarStation.clear();
            }
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "nearestmetar", e.what()));
    }
    if (!stop.load()) pause(wrrl);
    return result;
}

void WeatherClient::applyQnh(const json& reply, const std::string& replyText) {
    const json& data = svcjson::member(reply, "data");
    const json& value = svcjson::member(data, "QNH");
    if (!svcjson::filled(data) || !svcjson::filled(value)) {
        gf_logWarning(fmt::format("No QNH found in {}", replyText));
        return;
    }
    std::int64_t q = 1013;
    if (value.is_number()) {
        // Integers as they are, other numbers to the nearest whole hPa (halves away from zero).
        q = static_cast<std::int64_t>(std::round(std::clamp(value.get<double>(), -kQnhLimit, kQnhLimit)));
    } else if (value.is_string()) {
        const std::string& text = svcjson::text(value);
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, q);
        if (ec == std::errc::result_out_of_range) {
            q = static_cast<std::int64_t>(kQnhLimit);  // too many digits for a QNH: strange, see below
        } else if (ec != std::errc()) {
            gf_logWarning(fmt::format("{}: {}", "QNH is no number", text));
            q = 1013;
        }
    } else {
        gf_logWarning(fmt::format("No QNH found in {}", replyText));
        q = 1013;
    }
    q = std::clamp<std::int64_t>(q, -static_cast<std::int64_t>(kQnhLimit), static_cast<std::int64_t>(kQnhLimit));
    // Above any pressure in hPa: hundredths of an inch of mercury (2992 is 1013 hPa).
    if (q > 1080) q = std::llround(static_cast<double>(q) * 0.33865307);
    if (q < 930 || q > 1080) {
        gf_logWarning(fmt::format("Strange QNH {} found in {}", q, replyText));
        return;
    }
    const auto qnh = static_cast<std::int32_t>(q);
    // 1013 goes out every time, so that the display and the simulator side are refreshed even without change.
    if (qnh != lastQnh || qnh == 1013) {
        lastQnh = qnh;
        g_trafficClient.qnh.exchange(qnh);
        g_qnh.exchange(qnh);
        gf_setQnh(qnh);
    }
}

bool WeatherClient::lf_weatherLoop(std::int32_t& status) {
    const std::string guid = loginGuid();
    if (guid.empty()) return false;
    for (;;) {
        if (stop.load()) {
            status = 9999;
            return false;
        }
        try {
            if (!nearestmetar(status)) {
                if (status == 400 || status == 401) {
                    if (stop.load()) status = 9999;
                    return false;
                }
                // A cycle without a station brings no weather: "Weather" turns yellow, as it does when the weather
                // request fails. A station alone is no weather, so the indicator does not flip back meanwhile.
                weatherReceived = false;
            } else {
                bool received = false;
                const UserPlace user = lf_userPlace();
                const std::string body =
                    fmt::format("GUID={}&querytype=locwx&toffset={}&lat={:.4F}&lon={:.4F}&alt={}&airports={}",
                                gf_formValue(guid), toffset(), user.latitude, user.longitude,
                                lf_requestAltitude(user.altitude), gf_formValue(metarStation));
                const TransferResult transfer = post("weather", body);
                gf_noteServicePoll(ServicePoll::Weather, transfer);
                if (transfer.outcome == TransferOutcome::NoHandle) {
                    gf_logWarning("curl init error ?");
                    weatherReceived = false;
                } else {
                    if (transfer.outcome == TransferOutcome::Failed) {
                        gf_logWarning(fmt::format("{} weather code_w: {}", lf_timeStamp(), transfer.errorText()));
                    } else if (transfer.done() && m_response.empty()) {
                        gf_logWarning("Empty content?, no QNH to be found");
                    } else if (transfer.done()) {
                        const json reply = json::parse(m_response);
                        const std::int32_t s = svcjson::status(reply);
                        if (s == 200) {
                            wrrl = gf_pollPause(svcjson::member(reply, "wrrl"));
                            received = true;
                            applyQnh(reply, m_response);
                        } else if (s == 406 || s == 500) {
                            status = s;
                            gf_logWarning(fmt::format("{} json weather {}", s, svcjson::text(svcjson::member(reply, "message"))));
                        } else {
                            status = stop.load() ? 9999 : s;
                            return false;
                        }
                    }
                    weatherReceived = received;
                }
            }
        } catch (const std::exception& e) {
            gf_logWarning(fmt::format("{}: {}", "lf_weatherLoop", e.what()));
        }
        if (stop.load()) {
            status = 9999;
            return false;
        }
        pause(wrrl);
    }
}
