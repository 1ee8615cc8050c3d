#include "service/live_traffic_server.h"

#include "service/request_log.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <functional>
#include <random>
#include <stdexcept>

namespace standin {

namespace {

using nlohmann::json;

constexpr const char* kServerName = "rt-standin-1";
constexpr int kMaxBufferCount = 10;

const std::set<std::string, std::less<>>& lf_targets() {
    static const std::set<std::string, std::less<>> targets = {
        "auth", "deauth", "nearestmetar", "weather", "traffic", "buffered", "live", "parkedtraffic", "all"};
    return targets;
}

struct Box {
    double top = 0;
    double bottom = 0;
    double left = 0;
    double right = 0;

    bool contains(double lat, double lon) const {
        if (lat > top || lat < bottom) return false;
        // A box whose left edge lies east of its right edge spans the date line.
        if (left <= right) return lon >= left && lon <= right;
        return lon >= left || lon <= right;
    }
};

std::optional<std::string> lf_param(const httplib::Request& req, const char* name) {
    if (!req.has_param(name)) return std::nullopt;
    return req.get_param_value(name);
}

// The whole text must be the number: "47.1x" is a parameter fault, not 47.1.
std::optional<double> lf_toNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<double> lf_numberParam(const httplib::Request& req, const char* name) {
    auto text = lf_param(req, name);
    return text ? lf_toNumber(*text) : std::nullopt;
}

std::string lf_statusMessage(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Parameter fault";
        case 401: return "GUID not found, please re-authenticate";
        case 402: return "License expired";
        case 403: return "No data for this license type";
        case 404: return "License not found";
        case 405: return "Too many sessions";
        case 406: return "Request rate violation";
        case 500: return "Database connection error";
        default: return "Error";
    }
}

json lf_statusReply(int status, const std::string& detail = {}) {
    std::string message = lf_statusMessage(status);
    if (!detail.empty()) message += ": " + detail;
    return {{"status", status}, {"message", message}};
}

std::string lf_newGuid() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    std::lock_guard lock(mutex);
    const std::uint64_t a = random();
    const std::uint64_t b = random();
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xffff), static_cast<unsigned>(a & 0xffff),
                  static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xffffffffffffULL));
    return text;
}

// Texts that a report lacks come as the word null, the way the service sends them.
json lf_textOrNull(const std::string& text) { return text.empty() ? json("null") : json(text); }

double lf_round(double value, double scale) { return std::round(value * scale) / scale; }

// International standard atmosphere below 36,089 ft, enough for plausible airspeeds and Mach numbers.
double lf_isaTemperatureK(double altFt) { return std::max(216.65, 288.15 - 0.0019812 * std::max(0.0, altFt)); }
double lf_densityRatio(double altFt) {
    const double base = 1 - 6.8756e-6 * std::clamp(altFt, 0.0, 36089.0);
    double ratio = std::pow(base, 4.2559);
    if (altFt > 36089) ratio *= std::exp(-(altFt - 36089) / 20806.0);
    return ratio;
}

json lf_liveRecord(const AircraftState& st, double epoch, double qnh) {
    const ScenarioAircraft& ac = *st.aircraft;
    const ScenarioPoint& p = st.point;
    const bool airborne = !p.onGround;
    const double heading = p.heading.value_or(p.track);
    const double tas = airborne ? p.gs : -1;  // no wind in a scenario: over the ground is through the air
    const double altFt = p.alt.value_or(0);

    json r = json::array();
    r.push_back(ac.hex);                                             // 0 hex id
    r.push_back(lf_round(p.lat, 1e6));                               // 1 latitude
    r.push_back(lf_round(p.lon, 1e6));                               // 2 longitude
    r.push_back(lf_round(p.track, 10));                              // 3 track
    r.push_back(p.alt ? json(std::lround(*p.alt)) : json(nullptr));  // 4 barometric altitude
    r.push_back(lf_round(p.gs, 10));                                 // 5 ground speed
    r.push_back(ac.squawk);                                          // 6 squawk
    r.push_back("A");                                                // 7 feed code
    r.push_back(ac.type.empty() ? json("ZZZZ") : json(ac.type));     // 8 type
    r.push_back(lf_textOrNull(ac.registration));                     // 9 registration
    r.push_back(lf_round(epoch, 100));                               // 10 time of the position
    r.push_back(lf_textOrNull(ac.origin));                           // 11 origin
    r.push_back(lf_textOrNull(ac.destination));                      // 12 destination
    r.push_back(lf_textOrNull(ac.callsign));                         // 13 callsign
    r.push_back(p.onGround ? 1 : 0);                                 // 14 on ground
    r.push_back(std::lround(p.vs));                                  // 15 barometric vertical rate
    r.push_back(lf_textOrNull(ac.flight));                           // 16 flight number
    r.push_back(ac.source);                                          // 17 message source
    // 18 geometric altitude: above the standard pressure level by 30 ft per hPa of QNH.
    r.push_back(p.alt ? json(std::lround(*p.alt + (qnh - 1013.0) * 30.0)) : json(nullptr));
    r.push_back(airborne ? json(std::lround(tas * std::sqrt(lf_densityRatio(altFt)))) : json(-1));  // 19 IAS
    r.push_back(airborne ? json(std::lround(tas)) : json(-1));  // 20 TAS
    const double sound = 661.47 * std::sqrt(lf_isaTemperatureK(altFt) / 288.15);
    r.push_back(airborne ? json(lf_round(tas / sound, 1000)) : json(-1));  // 21 Mach
    r.push_back(lf_round(st.trackRate, 100));                             // 22 track rate, deg/s
    // 23 roll: the bank of a coordinated turn at this rate and speed; right turns positive.
    const double rollDeg = airborne ? std::atan(tas * 0.514444 * st.trackRate * 3.14159265358979 / 180.0 / 9.80665) *
                                          180.0 / 3.14159265358979
                                    : 0.0;
    r.push_back(lf_round(rollDeg, 10));
    r.push_back(lf_round(heading, 10));  // 24 magnetic heading (no variation model here)
    r.push_back(lf_round(heading, 10));  // 25 true heading
    r.push_back(std::lround(p.vs));      // 26 geometric vertical rate
    r.push_back("none");                 // 27 emergency
    r.push_back(ac.category);            // 28 emitter category
    r.push_back(airborne ? json(lf_round(qnh, 10)) : json(-1));  // 29 QNH set by the crew
    r.push_back(-1);                     // 30 MCP altitude
    r.push_back(-1);                     // 31 FMS altitude
    r.push_back(-1);                     // 32 selected heading
    r.push_back("");                     // 33 autopilot modes
    r.push_back(0.4);                    // 34 seconds since the last message
    r.push_back(-18.5);                  // 35 signal strength
    r.push_back(-1);                     // 36 wind direction
    r.push_back(-1);                     // 37 wind speed
    r.push_back(airborne ? json(lf_round(lf_isaTemperatureK(altFt) - 273.15, 10)) : json(-1));  // 38 OAT
    r.push_back(-1);                     // 39 TAT
    r.push_back(1);                      // 40 the hex id is an ICAO address
    r.push_back(0);                      // 41 augmentation
    while (r.size() < 48) r.push_back(nullptr);  // 42..47 unassigned

    r.get_ref<json::array_t&>().resize(static_cast<std::size_t>(ac.fieldCount), nullptr);
    for (const auto& [index, value] : ac.fields) {
        auto& arr = r.get_ref<json::array_t&>();
        if (static_cast<std::size_t>(index) >= arr.size()) arr.resize(static_cast<std::size_t>(index) + 1, nullptr);
        arr[static_cast<std::size_t>(index)] = value;
    }
    return r;
}

// Half-hour slot of the UTC day, with the boundary 30 s before the full and half hour as the program counts.
int lf_halfHourSlot(std::int64_t epoch) {
    const std::time_t t = static_cast<std::time_t>(epoch);
    std::tm tm{};
    gmtime_r(&t, &tm);
    int s = 2 * tm.tm_hour;
    if (tm.tm_min >= 30 || (tm.tm_min == 29 && tm.tm_sec >= 30)) ++s;
    return s % 48;
}

// The middle of the given slot, today or, when that is still to come, yesterday; the middle keeps the slot
// the same whichever way a client draws the boundaries. The current slot's middle may lie ahead: now, then.
std::int64_t lf_timeInSlot(int slot, double epoch) {
    const auto now = static_cast<std::int64_t>(std::floor(epoch));
    const std::int64_t dayStart = now - ((now % 86400) + 86400) % 86400;
    std::int64_t t = dayStart + slot * 1800 + 900;
    if (t > now) t = lf_halfHourSlot(now) == slot ? now : t - 86400;
    return t;
}

json lf_parkedRecord(const ParkedAircraft& p, double epoch) {
    json time;
    if (p.time) {
        time = *p.time;
    } else {
        int slot = 0;
        if (p.slot) {
            slot = *p.slot;
        } else {
            const int now = lf_halfHourSlot(static_cast<std::int64_t>(std::floor(epoch)));
            slot = ((now - p.age.value_or(0)) % 48 + 48) % 48;
        }
        time = lf_timeInSlot(slot, epoch);
    }
    return json::array({lf_round(p.lat, 1e6), lf_round(p.lon, 1e6), p.stand,
                        p.type.empty() ? json("ZZZZ") : json(p.type), lf_textOrNull(p.registration), time,
                        lf_textOrNull(p.callsign)});
}

const MetarStation* lf_nearestStation(const Scenario& s, double lat, double lon) {
    const MetarStation* best = nullptr;
    double bestNm = 0;
    for (const auto& st : s.metar) {
        const double d = gf_distanceNm(lat, lon, st.lat, st.lon);
        if (!best || d < bestNm) {
            best = &st;
            bestNm = d;
        }
    }
    return best;
}

// The QNH that geometric altitudes and the crew's setting are made of: the scenario's first readable one.
double lf_scenarioQnh(const Scenario& s) {
    for (const auto& st : s.metar) {
        if (st.qnh.is_number()) {
            const double q = st.qnh.get<double>();
            if (q > 1080) return q * 0.33865307;  // given in hundredths of an inch
            if (q >= 900) return q;
        }
    }
    return 1013;
}

std::optional<Box> lf_box(const httplib::Request& req) {
    auto top = lf_numberParam(req, "top");
    auto bottom = lf_numberParam(req, "bottom");
    auto left = lf_numberParam(req, "left");
    auto right = lf_numberParam(req, "right");
    if (!top || !bottom || !left || !right) return std::nullopt;
    return Box{*top, *bottom, *left, *right};
}

// Minutes of time shift: missing is none; anything but a whole number of zero or more is a fault.
std::optional<int> lf_toffset(const httplib::Request& req) {
    auto text = lf_param(req, "toffset");
    if (!text) return 0;
    int value = -1;
    auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || ptr != text->data() + text->size() || value < 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<ServiceFault> gf_parseServiceFault(std::string_view text) {
    if (text == "nostatus") return ServiceFault{ServiceFaultKind::NoStatus};
    if (text == "brokenjson") return ServiceFault{ServiceFaultKind::BrokenJson};
    if (text == "empty") return ServiceFault{ServiceFaultKind::Empty};
    if (text == "drop") return ServiceFault{ServiceFaultKind::Drop};
    if (text == "slow") return ServiceFault{ServiceFaultKind::Slow};
    if (text.substr(0, 5) == "slow:") {
        const auto ms = text.substr(5);
        long long value = -1;
        auto [ptr, ec] = std::from_chars(ms.data(), ms.data() + ms.size(), value);
        if (ec != std::errc() || ptr != ms.data() + ms.size() || value < 0) return std::nullopt;
        return ServiceFault{ServiceFaultKind::Slow, 0, std::chrono::milliseconds(value)};
    }
    int status = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), status);
    if (ec == std::errc() && ptr == text.data() + text.size() && status >= 100 && status <= 999)
        return ServiceFault{ServiceFaultKind::Status, status};
    return std::nullopt;
}

std::string gf_serviceFaultName(const ServiceFault& fault) {
    switch (fault.kind) {
        case ServiceFaultKind::Status: return std::to_string(fault.status);
        case ServiceFaultKind::NoStatus: return "nostatus";
        case ServiceFaultKind::BrokenJson: return "brokenjson";
        case ServiceFaultKind::Empty: return "empty";
        case ServiceFaultKind::Drop: return "drop";
        case ServiceFaultKind::Slow:
            return fault.delay.count() > 0 ? "slow:" + std::to_string(fault.delay.count()) : "slow";
    }
    return "?";
}

std::optional<ServiceFaultSpec> gf_parseServiceFaultSpec(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    ServiceFaultSpec spec;
    spec.target = std::string(text.substr(0, eq));
    if (!lf_targets().count(spec.target)) return std::nullopt;
    std::string_view rest = text.substr(eq + 1);
    if (const auto slash = rest.rfind('/'); slash != std::string_view::npos) {
        const auto n = rest.substr(slash + 1);
        int times = 0;
        auto [ptr, ec] = std::from_chars(n.data(), n.data() + n.size(), times);
        if (ec != std::errc() || ptr != n.data() + n.size() || times < 1) return std::nullopt;
        spec.times = times;
        rest = rest.substr(0, slash);
    }
    auto fault = gf_parseServiceFault(rest);
    if (!fault) return std::nullopt;
    spec.fault = *fault;
    return spec;
}

LiveTrafficServer::LiveTrafficServer(RequestLog& log) : m_log(log) {}

// --- settings ---------------------------------------------------------------------------------------------

void LiveTrafficServer::setScenario(Scenario scenario) {
    std::lock_guard lock(m_mutex);
    m_scenario = std::move(scenario);
    m_clock.anchor = std::chrono::steady_clock::now();
    m_clock.anchorScenario = 0;
}

Scenario LiveTrafficServer::scenario() const {
    std::lock_guard lock(m_mutex);
    return m_scenario;
}

double LiveTrafficServer::scenarioTimeLocked() const {
    const std::chrono::duration<double> real = std::chrono::steady_clock::now() - m_clock.anchor;
    return m_clock.anchorScenario + real.count() * m_clock.scale;
}

void LiveTrafficServer::setTimeScale(double scale) {
    if (!(scale >= 0) || !std::isfinite(scale)) throw std::invalid_argument("time scale must be 0 or more");
    std::lock_guard lock(m_mutex);
    m_clock.anchorScenario = scenarioTimeLocked();
    m_clock.anchor = std::chrono::steady_clock::now();
    m_clock.scale = scale;
}

void LiveTrafficServer::setScenarioTime(double seconds) {
    std::lock_guard lock(m_mutex);
    m_clock.anchor = std::chrono::steady_clock::now();
    m_clock.anchorScenario = seconds;
}

double LiveTrafficServer::scenarioTime() const {
    std::lock_guard lock(m_mutex);
    return scenarioTimeLocked();
}

void LiveTrafficServer::setWallClock(std::optional<double> epochSeconds) {
    std::lock_guard lock(m_mutex);
    m_wallClock = epochSeconds;
}

double LiveTrafficServer::epochLocked() const {
    if (m_wallClock) return *m_wallClock;
    const std::chrono::duration<double> since = std::chrono::system_clock::now().time_since_epoch();
    return since.count();
}

void LiveTrafficServer::setPace(int rrlMs, int wrrlMs) {
    std::lock_guard lock(m_mutex);
    m_rrl = rrlMs;
    m_wrrl = wrrlMs;
}

void LiveTrafficServer::setLicenseType(int type) {
    std::lock_guard lock(m_mutex);
    m_licenseType = type;
}

void LiveTrafficServer::setExpiry(std::int64_t epochSeconds) {
    std::lock_guard lock(m_mutex);
    m_expiry = epochSeconds;
}

void LiveTrafficServer::setAcceptedLicenses(std::vector<std::string> licenses) {
    std::lock_guard lock(m_mutex);
    m_acceptedLicenses = std::move(licenses);
}

void LiveTrafficServer::setRequireLogin(bool require) {
    std::lock_guard lock(m_mutex);
    m_requireLogin = require;
}

void LiveTrafficServer::setQnhJson(std::optional<std::string> jsonText) {
    std::optional<json> value;
    if (jsonText) {
        try {
            value = json::parse(*jsonText);
        } catch (const json::exception& e) {
            throw std::invalid_argument("QNH is no JSON value: " + *jsonText);
        }
    }
    std::lock_guard lock(m_mutex);
    m_qnh = std::move(value);
}

void LiveTrafficServer::setNearestMetar(std::optional<std::string> icao) {
    std::lock_guard lock(m_mutex);
    m_nearestMetar = std::move(icao);
}

namespace {
json lf_parseObject(const std::string& text, const char* what) {
    if (text.empty()) return json::object();
    json value;
    try {
        value = json::parse(text);
    } catch (const json::exception&) {
        throw std::invalid_argument(std::string(what) + " is no JSON text");
    }
    if (!value.is_object()) throw std::invalid_argument(std::string(what) + " must be a JSON object");
    return value;
}
}  // namespace

void LiveTrafficServer::setExtraTraffic(const std::string& jsonObject) {
    json value = lf_parseObject(jsonObject, "extra traffic");
    std::lock_guard lock(m_mutex);
    m_extraTraffic = std::move(value);
}

void LiveTrafficServer::setExtraParked(const std::string& jsonObject) {
    json value = lf_parseObject(jsonObject, "extra parked traffic");
    std::lock_guard lock(m_mutex);
    m_extraParked = std::move(value);
}

void LiveTrafficServer::setOmittedBuffers(std::set<int> indexes) {
    std::lock_guard lock(m_mutex);
    m_omittedBuffers = std::move(indexes);
}

void LiveTrafficServer::addFault(const std::string& target, ServiceFault fault, int times) {
    if (!lf_targets().count(target)) throw std::invalid_argument("unknown fault target " + target);
    if (times == 0 || times < kAlways) throw std::invalid_argument("a fault applies once or more, or always");
    std::lock_guard lock(m_mutex);
    m_faults[target].push_back({fault, times});
}

void LiveTrafficServer::setFault(const std::string& target, ServiceFault fault, int times) {
    if (!lf_targets().count(target)) throw std::invalid_argument("unknown fault target " + target);
    {
        std::lock_guard lock(m_mutex);
        m_faults.erase(target);
    }
    if (fault.kind == ServiceFaultKind::Status && fault.status == 0) return;
    addFault(target, fault, times);
}

void LiveTrafficServer::clearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

void LiveTrafficServer::setSlowDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(m_mutex);
    m_slowDelay = delay;
}

void LiveTrafficServer::setSlowLimit(std::chrono::milliseconds limit) {
    std::lock_guard lock(m_mutex);
    m_slowLimit = limit;
}

void LiveTrafficServer::reset() {
    std::lock_guard lock(m_mutex);
    m_wallClock.reset();
    m_rrl = 2000;
    m_wrrl = 2000;
    m_licenseType = 1;
    m_expiry.reset();
    m_acceptedLicenses.clear();
    m_requireLogin = true;
    m_qnh.reset();
    m_nearestMetar.reset();
    m_extraTraffic = json::object();
    m_extraParked = json::object();
    m_omittedBuffers.clear();
    m_faults.clear();
    m_slowDelay = std::chrono::milliseconds(3000);
    m_slowLimit = std::chrono::milliseconds(30000);
    m_sessions.clear();
}

std::vector<std::string> LiveTrafficServer::activeSessions() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const auto& [guid, session] : m_sessions) out.push_back(guid);
    return out;
}

void LiveTrafficServer::wakeAll() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
}

// --- requests ---------------------------------------------------------------------------------------------

std::optional<ServiceFault> LiveTrafficServer::takeFault(const std::string& endpoint, const std::string& kind) {
    std::vector<std::string> order;
    if (endpoint == "traffic") order = {kind, "traffic", "all"};
    else order = {endpoint, "all"};
    std::lock_guard lock(m_mutex);
    for (const auto& target : order) {
        auto it = m_faults.find(target);
        if (it == m_faults.end() || it->second.empty()) continue;
        QueuedFault& head = it->second.front();
        const ServiceFault fault = head.fault;
        if (head.times > 0 && --head.times == 0) it->second.pop_front();
        if (it->second.empty()) m_faults.erase(it);
        return fault;
    }
    return std::nullopt;
}

bool LiveTrafficServer::sleepFor(std::chrono::milliseconds delay) {
    std::unique_lock lock(m_mutex);
    // Bounded, and cut short when the server shuts down, so stopping never waits for a slow worker.
    m_wake.wait_for(lock, std::min(delay, m_slowLimit), [this] { return m_stopping; });
    return !m_stopping;
}

void LiveTrafficServer::handle(const std::string& endpoint, const httplib::Request& req, httplib::Response& res) {
    RecordedRequest record{req.method, req.path, {}, req.body};
    for (const auto& [name, value] : req.params) record.form[name] = value;
    m_log.add(std::move(record));

    std::string kind;
    if (endpoint == "traffic") {
        const std::string querytype = req.get_param_value("querytype");
        if (querytype == "parkedtraffic") kind = "parkedtraffic";
        else if (req.has_param("buffercount")) kind = "buffered";
        else kind = "live";
    }

    const auto fault = takeFault(endpoint, kind);
    if (fault && fault->kind == ServiceFaultKind::Drop) {
        // The header promises a body that never comes: the client sees the connection close mid-transfer.
        res.set_content_provider(256, "application/json",
                                 [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
        return;
    }
    if (fault && fault->kind == ServiceFaultKind::Empty) {
        res.set_content("", "application/json");
        return;
    }
    if (fault && fault->kind == ServiceFaultKind::Status) {
        res.set_content(lf_statusReply(fault->status).dump(), "application/json");
        return;
    }
    if (fault && fault->kind == ServiceFaultKind::Slow) {
        std::chrono::milliseconds delay = fault->delay;
        if (delay.count() <= 0) {
            std::lock_guard lock(m_mutex);
            delay = m_slowDelay;
        }
        sleepFor(delay);
    }

    json reply;
    {
        std::lock_guard lock(m_mutex);
        reply = replyLocked(endpoint, kind, req);
    }
    if (fault && fault->kind == ServiceFaultKind::NoStatus) reply.erase("status");
    std::string body = reply.dump();
    if (fault && fault->kind == ServiceFaultKind::BrokenJson) body.resize(std::max<std::size_t>(1, body.size() / 2));
    res.set_content(body, "application/json");
}

json LiveTrafficServer::replyLocked(const std::string& endpoint, const std::string& kind,
                                    const httplib::Request& req) {
    if (endpoint == "auth") return replyAuth(req);
    if (endpoint == "deauth") return replyDeauth(req);
    if (endpoint == "nearestmetar") return replyNearestMetar(req);
    if (endpoint == "weather") return replyWeather(req);
    return replyTraffic(req, kind);
}

json LiveTrafficServer::replyAuth(const httplib::Request& req) {
    const std::string license = req.get_param_value("license");
    const std::string software = req.get_param_value("software");
    if (license.empty()) return lf_statusReply(400, "license missing");
    if (software.empty()) return lf_statusReply(400, "software missing");
    if (!m_acceptedLicenses.empty() &&
        std::find(m_acceptedLicenses.begin(), m_acceptedLicenses.end(), license) == m_acceptedLicenses.end())
        return lf_statusReply(404);
    const std::string guid = lf_newGuid();
    m_sessions[guid] = Session{license, software};
    const auto expiry = m_expiry.value_or(static_cast<std::int64_t>(epochLocked()) + 120 * 86400);
    return {{"status", 200}, {"message", "Authenticated"}, {"GUID", guid},     {"type", m_licenseType},
            {"expiry", expiry}, {"rrl", m_rrl},          {"wrrl", m_wrrl}, {"server", kServerName}};
}

std::optional<json> LiveTrafficServer::loginFault(const httplib::Request& req) const {
    const std::string guid = req.get_param_value("GUID");
    if (guid.empty()) return lf_statusReply(400, "GUID missing");
    if (m_requireLogin && !m_sessions.count(guid)) return lf_statusReply(401);
    return std::nullopt;
}

json LiveTrafficServer::replyDeauth(const httplib::Request& req) {
    if (auto fault = loginFault(req)) return *fault;
    m_sessions.erase(req.get_param_value("GUID"));
    return {{"status", 200}, {"message", "Deauthenticated"}, {"server", kServerName}};
}

json LiveTrafficServer::replyNearestMetar(const httplib::Request& req) {
    if (auto fault = loginFault(req)) return *fault;
    const auto lat = lf_numberParam(req, "lat");
    const auto lon = lf_numberParam(req, "lon");
    if (!lat || !lon) return lf_statusReply(400, "lat and lon needed");
    if (!lf_toffset(req)) return lf_statusReply(400, "toffset");

    json data = json::array();
    if (m_nearestMetar) {
        if (!m_nearestMetar->empty()) data.push_back({{"ICAO", *m_nearestMetar}, {"dist", 0.0}, {"metar", ""}});
    } else {
        std::vector<std::pair<double, const MetarStation*>> byDistance;
        for (const auto& st : m_scenario.metar) byDistance.emplace_back(gf_distanceNm(*lat, *lon, st.lat, st.lon), &st);
        std::stable_sort(byDistance.begin(), byDistance.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < byDistance.size() && i < 3; ++i)
            data.push_back({{"ICAO", byDistance[i].second->icao},
                            {"dist", lf_round(byDistance[i].first, 10)},
                            {"metar", byDistance[i].second->metar}});
    }
    return {{"status", 200}, {"message", "OK"}, {"data", data}};
}

json LiveTrafficServer::replyWeather(const httplib::Request& req) {
    if (auto fault = loginFault(req)) return *fault;
    if (req.get_param_value("querytype") != "locwx") return lf_statusReply(400, "querytype");
    const auto lat = lf_numberParam(req, "lat");
    const auto lon = lf_numberParam(req, "lon");
    if (!lat || !lon) return lf_statusReply(400, "lat and lon needed");
    if (!lf_toffset(req)) return lf_statusReply(400, "toffset");
    if (req.has_param("alt") && !lf_numberParam(req, "alt")) return lf_statusReply(400, "alt");

    // The first of the asked airports that the scenario knows, else the station nearest to the position.
    const MetarStation* station = nullptr;
    const std::string airports = req.get_param_value("airports");
    for (std::size_t start = 0; !station && start <= airports.size();) {
        const auto comma = airports.find(',', start);
        const std::string code = airports.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        for (const auto& st : m_scenario.metar)
            if (!code.empty() && st.icao == code) station = &st;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (!station) station = lf_nearestStation(m_scenario, *lat, *lon);

    json data = json::object();
    data["ICAO"] = station ? station->icao : "";
    data["QNH"] = m_qnh ? *m_qnh : station ? station->qnh : json(1013);
    data["METAR"] = station ? station->metar : "";
    return {{"status", 200}, {"message", "OK"}, {"wrrl", m_wrrl}, {"data", data}};
}

json LiveTrafficServer::replyTraffic(const httplib::Request& req, const std::string& kind) {
    if (auto fault = loginFault(req)) return *fault;
    const auto box = lf_box(req);
    if (!box) return lf_statusReply(400, "top, bottom, left and right needed");
    const std::string querytype = req.get_param_value("querytype");
    if (querytype != "locationtraffic" && querytype != "parkedtraffic") return lf_statusReply(400, "querytype");
    const auto toffset = lf_toffset(req);
    if (!toffset) return lf_statusReply(400, "toffset");

    const double shift = *toffset * 60.0;
    const double epoch = epochLocked() - shift;
    const double now = scenarioTimeLocked() - shift;
    const double qnh = lf_scenarioQnh(m_scenario);

    auto snapshot = [&](double t, double at) {
        json data = json::object();
        for (const auto& st : gf_scenarioSnapshot(m_scenario, t))
            if (box->contains(st.point.lat, st.point.lon)) data[st.aircraft->hex] = lf_liveRecord(st, at, qnh);
        for (const auto& [key, value] : m_extraTraffic.items()) data[key] = value;
        return data;
    };

    if (kind == "parkedtraffic") {
        json data = json::object();
        for (const auto& p : m_scenario.parked)
            if (box->contains(p.lat, p.lon)) data[p.hex] = lf_parkedRecord(p, epoch);
        for (const auto& [key, value] : m_extraParked.items()) data[key] = value;
        return {{"status", 200}, {"message", "OK"}, {"rrl", m_rrl}, {"data", data}};
    }
    if (kind == "buffered") {
        const auto count = lf_numberParam(req, "buffercount");
        const auto spacing = lf_numberParam(req, "buffertime");
        if (!count || *count < 1 || *count > kMaxBufferCount || *count != std::floor(*count))
            return lf_statusReply(400, "buffercount");
        if (!spacing || *spacing <= 0) return lf_statusReply(400, "buffertime");
        // buffer_0 is now, buffer_1 one spacing earlier, and so on: the client plays the oldest first.
        json data = json::object();
        for (int k = 0; k < static_cast<int>(*count); ++k) {
            if (m_omittedBuffers.count(k)) continue;
            data["buffer_" + std::to_string(k)] = snapshot(now - k * *spacing, epoch - k * *spacing);
        }
        return {{"status", 200}, {"message", "OK"}, {"rrl", m_rrl}, {"data", data}};
    }
    json data = snapshot(now, epoch);
    const auto fullCount = gf_scenarioSnapshot(m_scenario, now).size();
    return {{"status", 200}, {"message", "OK"}, {"rrl", m_rrl}, {"full_count", fullCount}, {"data", data}};
}

// --- routes -----------------------------------------------------------------------------------------------

void LiveTrafficServer::installRoutes(httplib::Server& server) {
    for (const char* name : {"auth", "deauth", "nearestmetar", "weather", "traffic"}) {
        const std::string endpoint = name;
        server.Post(std::string(kPrefix) + endpoint,
                    [this, endpoint](const httplib::Request& req, httplib::Response& res) { handle(endpoint, req, res); });
    }
    installControlRoutes(server);
}

namespace {

using Handler = std::function<void(const httplib::Request&)>;

// Every control route answers "ok", or 400 with the reason when its input does not fit.
httplib::Server::Handler lf_control(Handler handler) {
    return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
        try {
            handler(req);
            res.set_content("ok", "text/plain");
        } catch (const std::exception& e) {
            res.status = 400;
            res.set_content(e.what(), "text/plain");
        }
    };
}

double lf_requireNumber(const httplib::Request& req, const char* name) {
    auto value = lf_numberParam(req, name);
    if (!value) throw std::invalid_argument(std::string("need a number for ") + name);
    return *value;
}

}  // namespace

void LiveTrafficServer::installControlRoutes(httplib::Server& server) {
    server.Post("/control/live/fault", lf_control([this](const httplib::Request& req) {
        const std::string target = req.get_param_value("target");
        const std::string text = req.get_param_value("fault");
        if (text == "none") {
            setFault(target, ServiceFault{ServiceFaultKind::Status, 0});
            return;
        }
        const auto fault = gf_parseServiceFault(text);
        if (!fault) throw std::invalid_argument("need fault=STATUS|nostatus|brokenjson|empty|drop|slow[:MS]|none");
        int times = kAlways;
        if (req.has_param("times")) times = static_cast<int>(lf_requireNumber(req, "times"));
        addFault(target, *fault, times);
    }));
    server.Post("/control/live/clear-faults", lf_control([this](const httplib::Request&) { clearFaults(); }));
    server.Post("/control/live/reset", lf_control([this](const httplib::Request&) { reset(); }));
    server.Post("/control/live/scenario", lf_control([this](const httplib::Request& req) {
        if (req.has_param("path")) {
            setScenario(gf_loadScenario(req.get_param_value("path")));
            return;
        }
        json doc;
        try {
            doc = json::parse(req.has_param("json") ? req.get_param_value("json") : req.body);
        } catch (const json::exception& e) {
            throw std::invalid_argument(std::string("scenario: ") + e.what());
        }
        setScenario(gf_scenarioFromJson(doc));
    }));
    server.Post("/control/live/time", lf_control([this](const httplib::Request& req) {
        if (req.has_param("scale")) setTimeScale(lf_requireNumber(req, "scale"));
        if (req.has_param("at")) setScenarioTime(lf_requireNumber(req, "at"));
        if (req.has_param("wall")) {
            if (req.get_param_value("wall") == "system") setWallClock(std::nullopt);
            else setWallClock(lf_requireNumber(req, "wall"));
        }
    }));
    server.Post("/control/live/qnh", lf_control([this](const httplib::Request& req) {
        const std::string value = req.get_param_value("value");
        setQnhJson(value.empty() ? std::nullopt : std::optional<std::string>(value));
    }));
    server.Post("/control/live/metar", lf_control([this](const httplib::Request& req) {
        setNearestMetar(req.has_param("icao") ? std::optional<std::string>(req.get_param_value("icao")) : std::nullopt);
    }));
    server.Post("/control/live/pace", lf_control([this](const httplib::Request& req) {
        int rrl = 0;
        int wrrl = 0;
        {
            std::lock_guard lock(m_mutex);
            rrl = m_rrl;
            wrrl = m_wrrl;
        }
        if (req.has_param("rrl")) rrl = static_cast<int>(lf_requireNumber(req, "rrl"));
        if (req.has_param("wrrl")) wrrl = static_cast<int>(lf_requireNumber(req, "wrrl"));
        setPace(rrl, wrrl);
    }));
    server.Post("/control/live/license", lf_control([this](const httplib::Request& req) {
        if (req.has_param("type")) setLicenseType(static_cast<int>(lf_requireNumber(req, "type")));
        if (req.has_param("expiry")) setExpiry(static_cast<std::int64_t>(lf_requireNumber(req, "expiry")));
        if (req.has_param("days")) {
            const double days = lf_requireNumber(req, "days");
            double now = 0;
            {
                std::lock_guard lock(m_mutex);
                now = epochLocked();
            }
            setExpiry(static_cast<std::int64_t>(now + days * 86400));
        }
        if (req.has_param("accepted")) {
            std::vector<std::string> list;
            const std::string text = req.get_param_value("accepted");
            for (std::size_t start = 0; start < text.size();) {
                auto comma = text.find(',', start);
                if (comma == std::string::npos) comma = text.size();
                if (comma > start) list.push_back(text.substr(start, comma - start));
                start = comma + 1;
            }
            setAcceptedLicenses(std::move(list));
        }
        if (req.has_param("require-login")) setRequireLogin(req.get_param_value("require-login") != "0");
    }));
    server.Post("/control/live/extra", lf_control([this](const httplib::Request& req) {
        if (req.has_param("traffic")) setExtraTraffic(req.get_param_value("traffic"));
        if (req.has_param("parked")) setExtraParked(req.get_param_value("parked"));
        if (req.has_param("omit")) {
            std::set<int> omit;
            const std::string text = req.get_param_value("omit");
            for (std::size_t start = 0; start < text.size();) {
                auto comma = text.find(',', start);
                if (comma == std::string::npos) comma = text.size();
                const auto n = lf_toNumber(text.substr(start, comma - start));
                if (!n) throw std::invalid_argument("omit: a list of snapshot numbers");
                omit.insert(static_cast<int>(*n));
                start = comma + 1;
            }
            setOmittedBuffers(std::move(omit));
        }
    }));
    server.Get("/control/live/state", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(m_mutex);
        json sessions = json::array();
        for (const auto& [guid, session] : m_sessions) sessions.push_back({{"GUID", guid}, {"license", session.license}});
        json state = {{"scenario", m_scenario.name},
                      {"scenarioTime", scenarioTimeLocked()},
                      {"timeScale", m_clock.scale},
                      {"aircraft", m_scenario.aircraft.size()},
                      {"present", gf_scenarioSnapshot(m_scenario, scenarioTimeLocked()).size()},
                      {"sessions", sessions}};
        res.set_content(state.dump(), "application/json");
    });
}

}  // namespace standin
