#include "injection/ground_movement.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "frame/text.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kHeadingReached = 0.5 * kRadPerDeg;

double lf_normalise(double angle) {
    angle = std::fmod(angle, 2.0 * kPi);
    return angle < 0.0 ? angle + 2.0 * kPi : angle;
}

}  // namespace

void lf_followCurve(LiveAc& a) {
    // Ground curves come with the full movement model: every leg is straight. In the air the heading swings
    // evenly over the leg; otherwise it turns at the turn rate until it points along the leg. (A new or parked
    // aircraft comes out of the spawn with its heading in the heading step, which is no rate to turn by.)
    switch (a.state) {
    case kMoveTakeOff:
    case kMoveAirborne:
        a.heading = lf_normalise(a.heading + a.headingStep);
        break;
    default:
        if (a.state == kMoveToStand || a.turning) {
            const double diff = gf_angleDiff(lf_normalise(a.heading), a.targetHeading);
            const double rate = a.turnRate > 0.0 ? a.turnRate : a.groundTurnRate;
            if (std::abs(diff) <= kHeadingReached || rate <= 0.0 || std::abs(diff) <= rate) {
                a.heading = a.targetHeading;
                a.turning = false;
            } else {
                a.heading = lf_normalise(a.heading + std::copysign(rate, diff));
            }
        }
        break;
    }
    if (a.state != kMoveEnginesStarted) {
        a.latitude += a.latStep;
        a.longitude += a.lonStep;
    }
    a.altitude += a.altitudeStep;
    a.pitch += a.pitchStep;
    a.bank += a.bankStep;
    a.longitude = std::remainder(a.longitude, 360.0);
}

void nextPosGround(LiveAc&) {}
void adjustTimeGround(LiveAc&) {}
void drive2Stand(LiveAc&, double, double, double) {}
void lf_pullOut(LiveAc&) {}
void lf_pushBack(LiveAc&) {}
void lf_setCurveThroughPoint(LiveAc&) {}
void lf_smoothSpeedChange(LiveAc&) {}
void gf_clearGroundCurve(LiveAc& a) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    a.groundCurve.sLow = a.groundCurve.sHigh = nan;
    a.groundCurve.controlEast = a.groundCurve.controlNorth = nan;
    a.curveParam = 0.0;
}
void lf_taxiOutLights(const LiveAc&) {}
