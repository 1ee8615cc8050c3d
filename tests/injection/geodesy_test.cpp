#include "injection/geodesy.h"

#include <cmath>
#include <limits>
#include <numbers>

#include <gtest/gtest.h>

#include "injection/records.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kFeetPerNm = 6076.11549;

TEST(Geodesy, BearingAndDistanceOfKnownPairs) {
    struct Case {
        const char* name;
        double lat1, lon1, lat2, lon2;
        double bearing, nm;
    };
    const Case cases[] = {
        {"due north is 0, not 2 pi", 0.0, 0.0, 1.0, 0.0, 0.0, 60.0},
        {"due east", 0.0, 0.0, 0.0, 1.0, kPi / 2, 60.0},
        {"due south", 1.0, 0.0, 0.0, 0.0, kPi, 60.0},
        {"due west is 3 pi / 2", 0.0, 0.0, 0.0, -1.0, 3 * kPi / 2, 60.0},
        {"over the date line eastwards", 0.0, 179.5, 0.0, -179.5, kPi / 2, 60.0},
        {"a quarter of the globe", 0.0, 0.0, 0.0, 90.0, kPi / 2, 5400.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(gf_initialBearing(c.lat1, c.lon1, c.lat2, c.lon2), c.bearing, 1e-12);
        EXPECT_NEAR(gf_distanceNM(c.lat1, c.lon1, c.lat2, c.lon2), c.nm, 1e-9);
    }
    EXPECT_EQ(gf_distanceNM(47.45, 8.56, 47.45, 8.56), 0.0);
    // Antipodes, where rounding carries the haversine a hair past 1: half the circumference, not NaN.
    EXPECT_NEAR(gf_distanceNM(-87.5, 0.0, 87.5, -180.0), 10800.0, 1e-3);
}

TEST(Geodesy, DestinationPointLiesWhereBearingAndDistanceSay) {
    for (const double nm : {0.05, 12.0, 80.0}) {
        const GeoPosition to = gf_destinationPoint(-33.94, 151.17, 3.9, nm * kFeetPerNm);
        EXPECT_NEAR(gf_distanceNM(-33.94, 151.17, to.latitude, to.longitude), nm, 1e-9);
        EXPECT_NEAR(gf_initialBearing(-33.94, 151.17, to.latitude, to.longitude), 3.9, 1e-9);
    }
    const GeoPosition same = gf_destinationPoint(47.45, 8.56, 2.0, 0.0);
    EXPECT_DOUBLE_EQ(same.latitude, 47.45);
    EXPECT_DOUBLE_EQ(same.longitude, 8.56);
    // Eastwards over the date line the longitude comes out negative, not beyond 180.
    EXPECT_NEAR(gf_destinationPoint(0.0, 179.9, kPi / 2, 20.0 * kFeetPerNm).longitude, 179.9 + 20.0 / 60.0 - 360.0,
                1e-9);
}

TEST(Geodesy, ABearingAHairWestOfNorthIsZeroNot2Pi) {
    const double b = gf_initialBearing(0.0, 0.0, 1.0, -1e-16);
    EXPECT_GE(b, 0.0);
    EXPECT_LT(b, 2 * kPi);
    EXPECT_EQ(b, 0.0);
}

TEST(Geodesy, AngleDiffTurnsTheShorterWayRound) {
    EXPECT_NEAR(gf_angleDiff(3.0, -3.0), 2 * kPi - 6.0, 1e-12);
    EXPECT_NEAR(gf_angleDiff(3.0, -3.0), 0.283, 1e-3);
    EXPECT_NEAR(gf_angleDiff(-3.0, 3.0), -0.283, 1e-3);
    EXPECT_DOUBLE_EQ(gf_angleDiff(0.5, 1.0), 0.5);
    EXPECT_DOUBLE_EQ(gf_angleDiff(1.0, 0.5), -0.5);
    EXPECT_EQ(gf_angleDiff(1.0, 1.0), 0.0);
}

TEST(Geodesy, BezierPointAtTheEndsAndOutside) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double kLat = 47.45, kLon = 8.56;
    const double metresPerDegLon = 111132.95 * std::cos(kLat * kPi / 180.0);
    // From the origin 100 m north to the control point, then 100 m east to the end point; the parameter runs
    // from 2 to 4.
    GroundCurve corner{kLat, kLon, 2.0, 100.0, 100.0, 4.0, 0.0, 100.0};
    GroundCurve unset = corner;
    unset.controlNorth = nan;
    GroundCurve cleared = corner;  // what clearing a curve leaves when only the bounds are gone
    cleared.sLow = cleared.sHigh = nan;
    // Straight north with a hair of west in the tangent: north is 0, not 2 pi.
    GroundCurve north{kLat, kLon, 0.0, 100.0, -1e-300, 1.0, -1e-300, 50.0};
    struct Case {
        const char* name;
        const GroundCurve* curve;
        double s;
        bool found;
        double lat, lon, heading;
    };
    const Case cases[] = {
        {"start: the origin, towards the control point", &corner, 2.0, true, kLat, kLon, 0.0},
        {"end: the end point, along control to end", &corner, 4.0, true, kLat + 100.0 / 111132.95,
         kLon + 100.0 / metresPerDegLon, kPi / 2},
        {"half way: inside the corner, heading north-east", &corner, 3.0, true, kLat + 75.0 / 111132.95,
         kLon + 25.0 / metresPerDegLon, kPi / 4},
        {"heading north", &north, 0.5, true, kLat + 50.0 / 111132.95, kLon, 0.0},
        {"no curve set", &unset, 3.0, false, 0, 0, 0},
        {"beyond the upper bound", &corner, 4.0001, false, 0, 0, 0},
        {"before the lower bound", &corner, 1.9999, false, 0, 0, 0},
        {"bounds cleared", &cleared, 3.0, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GeoPosition p{-1.0, -1.0};
        double heading = -1.0;
        ASSERT_EQ(gf_bezierPoint(*c.curve, c.s, p, heading), c.found);
        if (!c.found) {
            EXPECT_EQ(p.latitude, -1.0);
            EXPECT_EQ(p.longitude, -1.0);
            EXPECT_EQ(heading, -1.0);
            continue;
        }
        EXPECT_NEAR(p.latitude, c.lat, 1e-12);
        EXPECT_NEAR(p.longitude, c.lon, 1e-12);
        EXPECT_NEAR(heading, c.heading, 1e-12);
        EXPECT_LT(heading, 2 * kPi);
    }
}

}  // namespace
