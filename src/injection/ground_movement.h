// The movement on the ground and the per-tick mover of every live aircraft in the simulator: quadratic
// curves through the corners of a taxi, turns at the category's rate, legs re-timed so that turns take the
// time they need, the stop that hands a landed or taxiing aircraft to the stand search, the taxi to the
// stand, and the way out of a stand (pull-out or push-back with a turn to the side the data shows).
//
// Work thread only.
#pragma once

#include "injection/records.h"

// One tick of movement and attitude of an aircraft in the simulator.
void lf_followCurve(LiveAc& a);
// On the ground while its data still had it flying (no approach to land from) and its next point a stop: it
// rolls on like a taxiing aircraft (a rotorcraft hovers down where it is), braking to a stop where it can
// along its nose instead of where it is.
void gf_rollOnToStop(LiveAc& a);
// Taxiing or on a runway roll: its ground speed is decided by the ground movement, every tick.
bool gf_rollsOnGround(const LiveAc& a);
// Rolling on the ground and not yet standing where its track stops it.
bool gf_stillRolling(const LiveAc& a);
// The ground specifics of a new leg.
void nextPosGround(LiveAc& a);
// Re-times the second point of a ground leg and scales the turn rate to the turn.
void adjustTimeGround(LiveAc& a);
// Appends the taxi to the stand: the stand point and a stop half a second later.
void drive2Stand(LiveAc& a, double standLat, double standLon, double standHeading);
void lf_pullOut(LiveAc& a);
void lf_pushBack(LiveAc& a);
// A curve from the current position through the second point to the third; the second point goes.
void lf_setCurveThroughPoint(LiveAc& a);
// A long leg with a large change of speed gets a midpoint.
void lf_smoothSpeedChange(LiveAc& a);
// Clears the ground curve (no curve set).
void gf_clearGroundCurve(LiveAc& a);
// The taxi-out light pattern.
void lf_taxiOutLights(const LiveAc& a);
