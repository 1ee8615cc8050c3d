// Great-circle geodesy on a sphere whose radius makes one minute of arc one nautical mile: distance, initial
// bearing and the point reached along a bearing. Positions are latitude and longitude in degrees; bearings
// are true, in radians, clockwise from north. Pure functions: no state, no allocation, any thread.
#pragma once

struct GroundCurve;

struct GeoPosition {
    double latitude = 0.0;   // degrees
    double longitude = 0.0;  // degrees
};

// Great-circle distance in nautical miles (haversine; 0 or more).
// An angle as a heading or bearing: 0 up to below 2 pi (a hair below 0 plus 2 pi rounds to 2 pi itself,
// which is north: 0).
double gf_headingOf(double angle);
// The turn from heading a to heading b (radians), the shorter way round: positive clockwise.
double gf_angleDiff(double a, double b);

double gf_distanceNM(double latitude1, double longitude1, double latitude2, double longitude2);

// Initial bearing from the first position to the second, in radians, 0 up to below 2 pi (due north is 0).
double gf_initialBearing(double latitude1, double longitude1, double latitude2, double longitude2);

// The point reached from a position along a great circle at a true bearing (radians) over a distance in
// feet. The longitude is brought into -180..180; the latitude is not folded.
GeoPosition gf_destinationPoint(double latitude, double longitude, double bearing, double distanceFeet);

// The point and heading (radians, 0 up to below 2 pi) on a quadratic ground curve at parameter s: true and
// both written; false, writing nothing, when no curve is set or s lies outside its bounds. The parameter runs
// linearly from the origin to the end point, so the speed along the curve varies with its shape.
bool gf_bezierPoint(const GroundCurve& curve, double s, GeoPosition& position, double& heading);

// North and east offsets in metres of a position from an origin nearby, on the plane around the origin (for the
// few kilometres of an airport: a ground curve, the places of a roll).
struct LocalOffset {
    double north = 0.0, east = 0.0;
};
LocalOffset gf_offsetMetres(double originLat, double originLon, double latitude, double longitude);

// Longitudes wrap at the date line: the difference from the first to the second (-180..180 degrees), and
// the longitude half way between them on the shorter way (-180..180).
double gf_longitudeDiff(double from, double to);
double gf_midLongitude(double a, double b);

// False for a position in the box around 0/0 where the simulator, before it has placed the user aircraft,
// and the service, for what it does not know, put their positions: latitude 0..0.0009 and longitude
// 0..0.05, both limits included.
bool gf_isRealPosition(double latitude, double longitude);
