// The live-traffic service's readers driven by fuzz inputs: the transport stands in at the HTTP call and plays
// a script of replies, one per request. With the last reply it stops both readers, as the exit would: the
// reader still reads that reply whole, and then ends instead of pausing (a reply without "rrl" would make it
// wait two seconds). The pauses before are 0, the slot clock fixed, each batch of live records checked and
// dropped where the injection would take it, and nothing is printed (the log stays closed).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/settings.h"
#include "frame/timeutil.h"
#include "injection/intake.h"
#include "liveries/database.h"
#include "trafficservice/clients.h"
#include "trafficservice/credential.h"
#include "trafficservice/transport.h"

namespace fuzz {

inline constexpr std::time_t kServiceNow = 1733580000;  // Sat 7 Dec 2024 14:00:00 UTC
inline constexpr double kZurichLat = 47.4647, kZurichLon = 8.5492;

// One reply of a script: its text, or nothing for a transfer that failed.
using ScriptedReply = std::optional<std::string_view>;

namespace detail {
inline std::vector<ScriptedReply> g_script;
inline std::size_t g_next = 0;

inline TransferResult lf_play(std::string_view, const std::string&, std::string& target, const StopCondition&) {
    if (g_next + 1 >= g_script.size()) {
        g_trafficClient.stop = true;
        g_weatherClient.stop = true;
        if (g_next >= g_script.size()) return {TransferOutcome::Stopped, CURLE_ABORTED_BY_CALLBACK};
    }
    const ScriptedReply& reply = g_script[g_next++];
    if (!reply) return {TransferOutcome::Failed, CURLE_COULDNT_CONNECT};
    target.assign(reply->data(), reply->size());
    return {TransferOutcome::Done, CURLE_OK};
}
}  // namespace detail

// The world of the readers, once per process: what the record filters compare against (the user and the park
// airport at Zurich, some known models), no waits, the batches dropped.
inline void setUpServiceWorld() {
    static const bool done = [] {
        ServiceTiming timing;
        timing.pollFloor = timing.pollCeiling = std::chrono::milliseconds(0);
        timing.refusedLoginPause = std::chrono::milliseconds(0);
        gf_setServiceTiming(timing);
        gf_setServiceTransport(&detail::lf_play);
        SlotClock clock;
        clock.now = [] { return kServiceNow; };
        gf_setSlotClock(clock);
        gf_setTrafficBatchHandOver([](TrafficClient& client, std::int32_t) {
            // What the intake takes goes on into the movement's sums: every number of it must be finite.
            for (const TrafficRecord& r : client.liveRecords) {
                if (gf_impossibleValue(r)) continue;
                for (double v : {r.lat, r.lon, r.bank, r.heading, r.alt, r.speed, r.track, r.vs, r.tas, r.time}) {
                    if (!std::isfinite(v)) __builtin_trap();
                }
            }
            client.liveRecords.clear();
        });
        gf_setDerivedTrafficRange(40);
        g_knownModels = {"A320", "A388", "B744", "B763", "C172", "EC35", "F16", "E190"};
        g_largeModels = {"A320", "E190"};
        g_heavyModels = {"A388", "B744", "B763"};
        g_rotorcraftModels = {"EC35"};
        g_highPerfModels = {"F16"};
        g_regcodeDb["HB-JLS"] = RegcodeData{"SWR", "A320", "EDW", false};
        g_rtLicense = "LIC-1";
        return true;
    }();
    (void)done;
}

// Both clients as after a login, at the start of every input: no state of one input reaches the next.
inline void resetClients() {
    g_trafficClient.reset();
    g_weatherClient.reset();
    for (TrafficServiceClient* c : {static_cast<TrafficServiceClient*>(&g_trafficClient),
                                    static_cast<TrafficServiceClient*>(&g_weatherClient)}) {
        c->setLoginGuid("G-1");
        c->rrl = 0;
        c->wrrl = 0;
    }
    g_trafficClient.queryLatitude = kZurichLat;
    g_trafficClient.queryLongitude = kZurichLon;
    g_trafficClient.setParkAirportFilter(true, kZurichLat, kZurichLon, 1416);
    g_trafficClient.setParkAirportElevation(1416);
    g_trafficClient.parkedRecords.clear();
}

// The replies of the next requests, in turn.
inline void playReplies(std::vector<ScriptedReply> script) {
    detail::g_script = std::move(script);
    detail::g_next = 0;
}

inline std::string_view asText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
