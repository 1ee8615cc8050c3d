#include "injection/geodesy.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "injection/records.h"

namespace {

constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kDegPerRad = 57.29577951308232;
// Twice the earth radius of 10800 / pi nm.
constexpr double kTwoRadiiNm = 6875.493541569878;
// One over the earth radius in feet: feet to an angle in radians.
constexpr double kRadPerFoot = 4.787404208238998e-8;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kMetresPerDegLat = 111132.95;

}  // namespace

double gf_headingOf(double angle) {
    angle = std::fmod(angle, kTwoPi);
    if (angle < 0.0) angle += kTwoPi;
    return angle >= kTwoPi ? 0.0 : angle;
}

double gf_angleDiff(double a, double b) {
    if (b > a) {
        double d = b - a;
        if (d > std::numbers::pi) d -= kTwoPi;
        return d;
    }
    if (a > b) return -gf_angleDiff(b, a);
    return 0.0;
}

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
    return gf_headingOf(std::atan2(x, y));
}

GeoPosition gf_destinationPoint(double latitude, double longitude, double bearing, double distanceFeet) {
    const double delta = distanceFeet * kRadPerFoot;
    const double p1 = latitude * kRadPerDeg;
    const double p2 = std::asin(std::cos(bearing) * std::sin(delta) * std::cos(p1) + std::cos(delta) * std::sin(p1));
    const double lon = longitude * kRadPerDeg + std::atan2(std::sin(bearing) * std::sin(delta) * std::cos(p1),
                                                           std::cos(delta) - std::sin(p1) * std::sin(p2));
    return {p2 * kDegPerRad, std::remainder(lon, 2.0 * std::numbers::pi) * kDegPerRad};
}

bool gf_bezierPoint(const GroundCurve& curve, double s, GeoPosition& position, double& heading) {
    if (std::isnan(curve.controlEast) || std::isnan(curve.controlNorth)) return false;
    if (s < curve.sLow || s > curve.sHigh) return false;
    const double t = (s - curve.sLow) / (curve.sHigh - curve.sLow);
    // Written so that NaN bounds fail as well.
    if (!(t >= 0.0 && t <= 1.0)) return false;
    const double u = 1.0 - t;
    const double north = 2.0 * u * t * curve.controlNorth + t * t * curve.endNorth;
    const double east = 2.0 * u * t * curve.controlEast + t * t * curve.endEast;
    const double tangentEast = 2.0 * u * curve.controlEast + 2.0 * t * (curve.endEast - curve.controlEast);
    const double tangentNorth = 2.0 * u * curve.controlNorth + 2.0 * t * (curve.endNorth - curve.controlNorth);
    double originLat = curve.originLat;
    if (originLat > 180.0) originLat -= 360.0;
    position.latitude = curve.originLat + north / kMetresPerDegLat;
    position.longitude = curve.originLon + east / (kMetresPerDegLat * std::cos(originLat * kRadPerDeg));
    heading = gf_headingOf(std::atan2(tangentEast, tangentNorth));
    return true;
}

double gf_longitudeDiff(double from, double to) { return std::remainder(to - from, 360.0); }

LocalOffset gf_offsetMetres(double originLat, double originLon, double latitude, double longitude) {
    return {(latitude - originLat) * kMetresPerDegLat,
            gf_longitudeDiff(originLon, longitude) * kMetresPerDegLat * std::cos(originLat * kRadPerDeg)};
}

double gf_midLongitude(double a, double b) { return std::remainder(a + gf_longitudeDiff(a, b) / 2.0, 360.0); }

bool gf_isRealPosition(double latitude, double longitude) {
    return !(latitude >= 0.0 && latitude <= 0.0009 && longitude >= 0.0 && longitude <= 0.05);
}
