#include "injection/services.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <numbers>
#include <stdexcept>
#include <unordered_map>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"
#include "window/requests.h"

#include <cstdint>

std::mutex g_intakeMutex;
std::atomic<bool> g_aiRunning{false};
std::vector<TrafficRecord> g_receivedTraffic;
std::vector<TrafficRecord> g_bufferedTraffic;

void gf_setAiRunning(bool running) {
    std::lock_guard lock(g_intakeMutex);
    g_aiRunning = running;
}



