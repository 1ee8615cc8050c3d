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

GeoPosition gf_destinationPoint(double latitude, double longitude, double bearing, double distanceFeet) {
    constexpr double kRad = std::numbers::pi / 180.0;
    const double delta = distanceFeet * 4.787404208238998e-8;  // angular distance: feet over the radius
    const double phi1 = latitude * kRad;
    const double lambda1 = longitude * kRad;
    const double sinPhi2 = std::sin(phi1) * std::cos(delta) + std::cos(phi1) * std::sin(delta) * std::cos(bearing);
    const double phi2 = std::asin(sinPhi2);
    const double lambda2 = lambda1 + std::atan2(std::sin(bearing) * std::sin(delta) * std::cos(phi1),
                                                std::cos(delta) - std::sin(phi1) * sinPhi2);
    double lon = lambda2 / kRad;
    lon = std::fmod(lon + 540.0, 360.0) - 180.0;
    return {phi2 / kRad, lon};
}

void gf_setAiRunning(bool running) {
    std::lock_guard lock(g_intakeMutex);
    g_aiRunning = running;
}

bool lf_removeLiveConflictingWithUser(int, LiveAc&) { return false; }

void lf_copyLiveAc(LiveAc& destination, const LiveAc& source) { destination = source; }

void lf_removeStaticForCollisionAvoidance(bool& removed, int, LiveAc&) { removed = false; }

bool gf_isRealPosition(double latitude, double longitude) {
    return !(latitude >= 0.0 && latitude <= 0.0009 && longitude >= 0.0 && longitude <= 0.05);
}

double gf_distanceNM(double latitude1, double longitude1, double latitude2, double longitude2) {
    constexpr double kRadius = 10800.0 / std::numbers::pi;
    constexpr double kRad = std::numbers::pi / 180.0;
    const double dLat = (latitude2 - latitude1) * kRad;
    const double dLon = (longitude2 - longitude1) * kRad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(latitude1 * kRad) * std::cos(latitude2 * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2.0 * kRadius * std::atan2(std::sqrt(a), std::sqrt(1.0 - a));
}

