// The traffic reader's loop: one buffered request for a short history of the box, then the live requests at
// the pace the service prescribes; every batch goes to the live traffic injection with its delay.
#include <mutex>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "frame/log.h"
#include "frame/timeutil.h"
#include "injection/services.h"
#include "trafficservice/clients.h"
#include "trafficservice/json_fields.h"
#include "trafficservice/readers.h"

using nlohmann::json;

namespace {

std::mutex g_handOverMutex;
TrafficBatchHandOver g_handOver;

std::string lf_timeStamp() { return gf_utcTimeStamp(gf_now()); }

void lf_handOver(TrafficClient& client, std::int32_t delaySeconds) {
    TrafficBatchHandOver handOver;
    {
        std::lock_guard lock(g_handOverMutex);
        handOver = g_handOver;
    }
    if (handOver) {
        handOver(client, delaySeconds);
    } else {
        gf_processTrafficBatch(client, delaySeconds);
    }
    // Whoever took the batch, the next one starts empty.
    client.liveRecords.clear();
}

// The box as it stands now: it moves with the user aircraft between two requests.
std::string lf_boxFields(const TrafficClient::Box& box) {
    return fmt::format("top={:.2F}&bottom={:.2F}&left={:.2F}&right={:.2F}", box.top.load(), box.bottom.load(),
                       box.left.load(), box.right.load());
}

bool lf_isRecordArray(const json& entry) { return svcjson::filled(entry) && entry.is_array() && entry.size() == 48; }

}  // namespace

void gf_setTrafficBatchHandOver(TrafficBatchHandOver handOver) {
    std::lock_guard lock(g_handOverMutex);
    g_handOver = std::move(handOver);
}

void TrafficClient::processRecords(const svcjson::OrderedValue& records) {
    if (!records.filled()) return;
    records.forEachValue([this](const json& entry) {
        if (lf_isRecordArray(entry)) processLine(entry);
    });
}

void TrafficClient::lf_processBufferData(const svcjson::OrderedValue& reply, const char* key, std::int32_t& n) {
    processRecords(reply.member("data").member(key));
    lastBatchSize = static_cast<std::int64_t>(liveRecords.size());
    lf_handOver(*this, n * 6);
    ++n;
}

bool TrafficClient::buffer(std::int32_t& status) {
    const std::string guid = loginGuid();
    if (guid.empty()) return false;
    bool result = false;
    try {
        const std::string body =
            fmt::format("GUID={}&{}&querytype=locationtraffic&toffset={}&buffercount={}&buffertime={}",
                        gf_formValue(guid), lf_boxFields(requestBox), toffset(), 5, 6);
        const TransferResult transfer = post("traffic", body);
        gf_noteServicePoll(ServicePoll::Traffic, transfer);
        if (transfer.outcome == TransferOutcome::NoHandle) {
            gf_logWarning("curl init error ?");
        } else if (transfer.outcome == TransferOutcome::Failed) {
            gf_logWarning(fmt::format("{} buffer traffic code_t: {}", lf_timeStamp(), transfer.errorText()));
        } else if (transfer.done() && m_response.empty()) {
            gf_logWarning("buffer traffic: empty content");
        } else if (transfer.done()) {
            const auto reply = svcjson::parseInOrder(m_response, svcjson::kBufferedReplyDepth);
            const std::int32_t s = svcjson::status(reply);
            if (s == 200) {
                rrl = gf_pollPause(reply.member("rrl").plain());
                // From now on the parking code learns which aircraft are live.
                g_collectSeenTraffic.exchange(true);
                if (reply.member("data").filled()) {
                    result = true;
                    std::int32_t n = 0;
                    for (const char* key : {"buffer_4", "buffer_3", "buffer_2", "buffer_1", "buffer_0"}) {
                        lf_processBufferData(reply, key, n);
                    }
                }
            } else {
                status = s;
                if (s == 406) {
                    gf_logWarning(fmt::format(" buffer traffic msg {}", svcjson::text(reply.member("message").plain())));
                }
            }
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{}: {}", "buffer", e.what()));
    }
    pause(rrl);
    if (stop.load()) {
        status = 9999;
        return false;
    }
    return result;
}

bool TrafficClient::receive(std::int32_t& status) {
    const std::string guid = loginGuid();
    if (guid.empty()) return false;
    if (!buffer(status) && !stop.load()) gf_logWarning(fmt::format("buffer failed {}", status));
    for (;;) {
        if (stop.load()) {
            status = 9999;
            return false;
        }
        // A poll that fails brings no data: "Traffic" turns yellow instead of showing the last batch on. The live
        // aircraft stay as they are; the injection decides when they go.
        bool batchTaken = false;
        try {
            const std::string body = fmt::format("GUID={}&{}&querytype=locationtraffic&toffset={}",
                                                 gf_formValue(guid), lf_boxFields(requestBox), toffset());
            const TransferResult transfer = post("traffic", body);
            gf_noteServicePoll(ServicePoll::Traffic, transfer);
            if (transfer.outcome == TransferOutcome::NoHandle) {
                gf_logWarning("curl init error ?");
            } else if (transfer.outcome == TransferOutcome::Failed) {
                gf_logWarning(fmt::format("{} curl traffic code_t: {}", lf_timeStamp(), transfer.errorText()));
            } else if (transfer.done() && m_response.empty()) {
                gf_logWarning("traffic receive: empty content");
            } else if (transfer.done()) {
                const auto reply = svcjson::parseInOrder(m_response, svcjson::kLiveReplyDepth);
                const std::int32_t s = svcjson::status(reply);
                if (s == 200) {
                    rrl = gf_pollPause(reply.member("rrl").plain());
                    // The last batch may have taken the room with it.
                    if (liveRecords.capacity() < 384) liveRecords.reserve(384);
                    processRecords(reply.member("data"));
                    lastBatchSize = static_cast<std::int64_t>(liveRecords.size());
                    batchTaken = true;
                    // Also an empty batch: the injection learns that the region is empty.
                    lf_handOver(*this, 30);
                } else if (s == 406) {
                    gf_logWarning(fmt::format("curl traffic msg {}", svcjson::text(reply.member("message").plain())));
                } else {
                    status = stop.load() ? 9999 : s;
                    return false;
                }
            }
        } catch (const std::exception& e) {
            gf_logWarning(fmt::format("{}: {}", "receive", e.what()));
        }
        if (!batchTaken) lastBatchSize = 0;
        if (stop.load()) {
            status = 9999;
            return false;
        }
        pause(rrl);
    }
}
