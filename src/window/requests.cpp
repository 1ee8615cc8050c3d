#include "window/requests.h"

#include <mutex>
#include <utility>

std::atomic<bool> g_reReadRequest{false};
std::atomic<bool> g_removeAllStaticRequest{false};
std::atomic<bool> g_parkingParametersChanged{false};
std::atomic<bool> g_parkingRenewalRequest{false};
std::atomic<bool> g_blockRequest{false};
std::atomic<bool> g_clearUnmatchedRequest{false};
std::atomic<std::int8_t> g_parkingModeChanged{kParkingModeUnchanged};
std::atomic<std::int32_t> g_autoRangeManualValue{40};
std::atomic<bool> g_autoRangeAtMinimum{false};
std::atomic<std::int32_t> g_timeShiftMinutes{0};
std::atomic<bool> g_timeShifted{false};
std::atomic<std::int64_t> g_simTimeReference{0};

namespace {

std::mutex g_requestMutex;
std::vector<WorkRequest> g_requests;

}  // namespace

void gf_postWorkRequest(WorkRequest request) {
    std::lock_guard lock(g_requestMutex);
    g_requests.push_back(std::move(request));
}

std::vector<WorkRequest> gf_takeWorkRequests() {
    std::vector<WorkRequest> taken;
    std::lock_guard lock(g_requestMutex);
    taken.swap(g_requests);
    return taken;
}

void gf_resetWindowRequests() {
    g_reReadRequest = false;
    g_removeAllStaticRequest = false;
    g_parkingParametersChanged = false;
    g_parkingRenewalRequest = false;
    g_blockRequest = false;
    g_clearUnmatchedRequest = false;
    g_parkingModeChanged = kParkingModeUnchanged;
    g_autoRangeManualValue = 40;
    g_autoRangeAtMinimum = false;
    g_timeShiftMinutes = 0;
    g_timeShifted = false;
    g_simTimeReference = 0;
    std::lock_guard lock(g_requestMutex);
    g_requests.clear();
}
