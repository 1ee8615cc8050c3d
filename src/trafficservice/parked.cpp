// The parked traffic of the active park airport: the request for a box of 3 NM around it, the reading of
// each parked aircraft, and the filter that keeps one aircraft per stand and callsign, youngest first.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "airports/services.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/timeutil.h"
#include "injection/services.h"
#include "liveries/services.h"
#include "simlink/link.h"
#include "trafficservice/clients.h"
#include "trafficservice/json_fields.h"

using nlohmann::json;
using svcjson::field;

namespace {

constexpr std::string_view kProgramName = "ZNTV_P3D";
constexpr double kMaxServiceTime = 253402300799.0;  // 9999-12-31 23:59:59

// The seconds of a report: floating-point values toward zero, integers as they are; anything else is no
// time and makes the JSON library throw. A time no calendar can show drops the record.
std::int64_t lf_reportSeconds(const json& value) {
    double seconds = 0.0;
    if (value.is_number_float()) {
        seconds = std::trunc(value.get<double>());
    } else {
        seconds = static_cast<double>(value.get<std::int64_t>());
    }
    if (!(seconds >= 0.0 && seconds <= kMaxServiceTime)) throw std::runtime_error(fmt::format("time:{}", seconds));
    return static_cast<std::int64_t>(seconds);
}

std::string lf_correctedType(const std::string& type) {
    if (type == "A380") return "A388";
    if (type == "B767") return "B763";
    if (type == "B747") return "B744";
    if (type == "B757") return "B752";
    return type;
}

bool lf_categoryWanted(std::uint32_t category) {
    switch (category) {
        case 0: return g_LIGHT_AIRCRAFT.value();
        case 1:
        case 2:
        case 3: return true;
        case 4: return g_HIGH_PERF_AIRCRAFT.value();
        case 5: return g_HELICOPTERS.value();
        default: return false;
    }
}

// The parked query runs on the work thread: it may take this long at most.
constexpr std::chrono::milliseconds kParkedQueryLimit{4000};

std::chrono::milliseconds lf_parkedQueryLimit() {
    return std::min(kParkedQueryLimit, gf_serviceTiming().transferTimeout);
}

// Raises its flag once the limit has passed, unless it is ended before.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit)
        : m_thread([this, limit] {
              std::unique_lock lock(m_mutex);
              if (!m_wake.wait_for(lock, limit, [this] { return m_ended; })) expired = true;
          }) {}
    ~Deadline() {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    std::atomic<bool> expired{false};

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_ended = false;
    std::thread m_thread;  // last: it starts once the members above are made
};

// The parked traffic request, stopped once it has run for the limit (`overdue` then set) or the program closes.
TransferResult lf_postWithin(const std::string& body, std::string& reply, bool& overdue) {
    Deadline deadline(lf_parkedQueryLimit());
    const TransferResult result = gf_servicePost("traffic", body, reply, StopCondition{&deadline.expired, true});
    overdue = deadline.expired.load() && !result.done();
    return result;
}

}  // namespace

void TrafficClient::readParkedReg(ParkedTrafficRecord& record, const json& line) const {
    record.registration = svcjson::text(field(line, 4));
    if (record.registration.size() > kMaxRegistrationLength || record.registration == "null") record.registration.clear();
}

void TrafficClient::processParkedTrafficLine(const std::string& key, const json& line) {
    ParkedTrafficRecord record;
    try {
        record.hexid = gf_parseHexId(key).value_or(0);
        if (record.hexid <= kMaxStaticHexId) return;
        record.slot = gf_halfHourSlotAt(static_cast<std::time_t>(lf_reportSeconds(field(line, 5))));
        readParkedReg(record, line);

        const std::string& type = svcjson::text(field(line, 3));
        if (type != "0" && type != "ZZZZ") record.type = lf_correctedType(type);

        record.latitude = svcjson::floatOnly(field(line, 0));
        record.longitude = svcjson::floatOnly(field(line, 1));
        gf_checkPosition(record.latitude, record.longitude);

        std::string& callsign = record.callsign;
        callsign = svcjson::text(field(line, 6));
        if (callsign == "null" || callsign.find('@') != std::string::npos ||
            callsign.find("00000") != std::string::npos || callsign.size() > 8) {
            callsign.clear();
        }
        if (!callsign.empty() && callsign.front() == '.') callsign.erase(0, 1);

        // The database knows the real aircraft better than the feed: its airline, type and operator.
        if (!record.registration.empty()) {
            if (const auto hit = gf_regcodeLookup(record.registration)) {
                record.airline = hit->airline;
                record.type = hit->type;
                if (!hit->operatorCode.empty()) record.airline = hit->operatorCode;
                if (callsign.empty()) callsign = record.registration;
            }
        } else if (!callsign.empty()) {
            if (const auto hit = gf_regcodeLookup(callsign)) {
                record.airline = hit->airline;
                record.type = hit->type;
                record.registration = callsign;
                if (!hit->operatorCode.empty()) record.airline = hit->operatorCode;
            }
        }

        if (record.type.empty() || !gf_isKnownModel(record.type)) return;
        if (!lf_categoryWanted(gf_categoryOfModel(record.type))) return;

        record.identityWord = 0;
        const json& stand = field(line, 2);
        if (!stand.is_string()) return;
        record.stand = svcjson::text(stand);
        if (record.stand == g_reservedStand || record.stand == gf_userStandNow()) return;

        parkedRecords.push_back(std::move(record));
    } catch (const std::runtime_error&) {
        // A bad position or time: dropped without a word, as a live record is.
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "processParkedTrafficLine", e.what()));
    }
}

bool TrafficClient::parkedtraffic(std::int32_t& status) {
    const std::string guid = loginGuid();
    if (guid.empty()) return false;
    parkedRecords.clear();
    // A reply that did not come or cannot be read is a failure, not an airport without parked aircraft.
    const auto fail = [&](std::int32_t s) {
        status = s;
        parkedRecords.clear();
        return false;
    };
    try {
        const std::string body = fmt::format(
            "GUID={}&top={:.2F}&bottom={:.2F}&left={:.2F}&right={:.2F}&querytype=parkedtraffic&toffset={}",
            gf_formValue(guid), parkedTop, parkedBottom, parkedLeft, parkedRight, toffset());
        // The work thread asks: its own handle and reply text, while the traffic reader uses the client's. Its
        // 10 ms loop waits for the reply, so a slow service is given up after a few seconds.
        bool overdue = false;
        const TransferResult transfer = lf_postWithin(body, m_parkedResponse, overdue);
        if (overdue) {
            gf_logWarning(fmt::format("parkedtraffic: no reply within {} ms", lf_parkedQueryLimit().count()));
            return fail(0);
        }
        switch (transfer.outcome) {
            case TransferOutcome::NoHandle:
                gf_logWarning("curl init error ?");
                return fail(0);
            case TransferOutcome::Failed:
                gf_logWarning(fmt::format("{} curl parkedtraffic code_pt: {}", gf_utcTimeStamp(gf_now()),
                                          transfer.errorText()));
                return fail(0);
            case TransferOutcome::Stopped:
                return fail(9999);
            case TransferOutcome::Done:
                break;
        }
        const auto reply = svcjson::parseInOrder(m_parkedResponse, svcjson::kParkedReplyDepth);
        const std::int32_t s = svcjson::status(reply);
        if (s != 200) return fail(s);
        // In the order of the reply: of two aircraft of one age on one stand, the filter keeps the first.
        const svcjson::OrderedValue& data = reply.member("data");
        if (data.filled()) {
            data.forEachMember([this](const std::string& key, const json& value) {
                if (svcjson::filled(value)) processParkedTrafficLine(key, value);
            });
        }
        return true;
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "parkedtraffic", e.what()));
        return fail(0);
    }
}

void lf_filterParkedRecords(std::vector<ParkedTrafficRecord>& records, std::uint32_t now) {
    for (ParkedTrafficRecord& r : records) {
        std::int64_t age = static_cast<std::int64_t>(now) - static_cast<std::int64_t>(r.slot);
        if (age < 0) age += 48;
        r.slot = static_cast<std::uint32_t>(age);
    }
    if (!g_RT_PARKTRAFFIC_ONLY.value()) {
        const auto maxFit = static_cast<std::uint32_t>(std::max(0, g_MAX_FIT.value()));
        std::erase_if(records, [maxFit](const ParkedTrafficRecord& r) { return r.slot > maxFit; });
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const ParkedTrafficRecord& a, const ParkedTrafficRecord& b) { return a.slot < b.slot; });
    std::vector<ParkedTrafficRecord> kept;
    kept.reserve(records.size());
    std::set<std::string> stands, callsigns;
    for (ParkedTrafficRecord& r : records) {
        if (stands.contains(r.stand)) continue;
        if (!r.callsign.empty() && callsigns.contains(r.callsign)) continue;
        stands.insert(r.stand);
        if (!r.callsign.empty()) callsigns.insert(r.callsign);
        kept.push_back(std::move(r));
    }
    records.swap(kept);
}

bool gf_getParkedTraffic() {
    TrafficClient& c = g_trafficClient;
    const double latitude = g_parkAirportPos.latitude;
    const double longitude = g_parkAirportPos.longitude;
    constexpr double kHalfBox = 0.04996402877697842;  // 3 NM in degrees of latitude
    constexpr double kHalfBoxFeet = 18228.34647;       // 3 NM in feet
    c.parkedTop = latitude + kHalfBox;
    c.parkedBottom = latitude - kHalfBox;
    c.parkedLeft = gf_destinationPoint(latitude, longitude, -std::numbers::pi / 2, kHalfBoxFeet).longitude;
    c.parkedRight = gf_destinationPoint(latitude, longitude, std::numbers::pi / 2, kHalfBoxFeet).longitude;

    std::int32_t status = 0;
    if (!c.parkedtraffic(status)) {
        switch (status) {
            // A refusal leaves this airport without parked traffic; the statistics still fill it.
            case 400:
                gf_logWarning("RT parkedtraffic: RT API parameter fault");
                return false;
            case 403:
                gf_logWarning("RT parkedtraffic: No data for this license type");
                return false;
            case 401:
                gf_logWarning(fmt::format("RT Parked traffic: re-authentication to RT API is needed {}", kProgramName));
                return false;
            case 9999: return false;  // the program is closing
            default:
                gf_logWarning(fmt::format("RT parkedtraffic error status: {}", status));
                return false;
        }
    }
    lf_filterParkedRecords(c.parkedRecords, gf_halfHourSlot());
    return true;
}
