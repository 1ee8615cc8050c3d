#include "injection/geodesy.h"

#include <numbers>

#include <gtest/gtest.h>

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

}  // namespace
