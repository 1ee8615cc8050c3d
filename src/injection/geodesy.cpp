#include "injection/geodesy.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kDegPerRad = 57.29577951308232;
// Twice the earth radius of 10800 / pi nm.
constexpr double kTwoRadiiNm = 6875.493541569878;
// One over the earth radius in feet: feet to an angle in radians.
constexpr double kRadPerFoot = 4.787404208238998e-8;

}  // namespace

double gf_distanceNM(double latitude1, double longitude1, double latitude2, double longitude2) {
    const double p1 = latitude1 * kRadPerDeg;
    const double p2 = latitude2 * kRadPerDeg;
    const double sinHalfLat = std::sin((p2 - p1) / 2.0);
    const double sinHalfLon = std::sin((longitude2 - longitude1) * kRadPerDeg / 2.0);
    // Rounding can carry a hair past 1 for antipodal points, where the root of 1 - a would fail.
    const double a =
        std::min(1.0, sinHalfLat * sinHalfLat + std::cos(p2) * std::cos(p1) * sinHalfLon * sinHalfLon);
    return std::atan2(std::sqrt(a), std::sqrt(1.0 - a)) * kTwoRadiiNm;
}

double gf_initialBearing(double latitude1, double longitude1, double latitude2, double longitude2) {
    const double p1 = latitude1 * kRadPerDeg;
    const double p2 = latitude2 * kRadPerDeg;
    const double d = (longitude2 - longitude1) * kRadPerDeg;
    const double x = std::sin(d) * std::cos(p2);
    const double y = std::sin(p2) * std::cos(p1) - std::sin(p1) * std::cos(p2) * std::cos(d);
    const double b = std::atan2(x, y);
    return b < 0.0 ? b + 2.0 * std::numbers::pi : b;
}

GeoPosition gf_destinationPoint(double latitude, double longitude, double bearing, double distanceFeet) {
    const double delta = distanceFeet * kRadPerFoot;
    const double p1 = latitude * kRadPerDeg;
    const double p2 = std::asin(std::cos(bearing) * std::sin(delta) * std::cos(p1) + std::cos(delta) * std::sin(p1));
    const double lon = longitude * kRadPerDeg + std::atan2(std::sin(bearing) * std::sin(delta) * std::cos(p1),
                                                           std::cos(delta) - std::sin(p1) * std::sin(p2));
    return {p2 * kDegPerRad, std::remainder(lon, 2.0 * std::numbers::pi) * kDegPerRad};
}

bool gf_isRealPosition(double latitude, double longitude) {
    return !(latitude >= 0.0 && latitude <= 0.0009 && longitude >= 0.0 && longitude <= 0.05);
}
