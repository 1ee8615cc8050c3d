#include "injection/flight_phases.h"

void nextPosAir(LiveAc&) {}
void lf_airVerticalProfile(LiveAc&) {}
void lf_takeOff(LiveAc&) {}
void lf_startTakeOffRoll(LiveAc&) {}
void lf_rotate(LiveAc&) {}
void lf_climb(LiveAc&) {}
void lf_flare(LiveAc&) {}
void lf_landingRoll(LiveAc&) {}
void lf_onAircraftReport(LiveAc&) {}
void lf_configAbove10000(LiveAc&) {}
void lf_configHigh(LiveAc&) {}
void lf_configLow(LiveAc&) {}
double lf_approachVs(const LiveAc&) { return -601.0; }
void lf_altitudeRateToPoint(LiveAc&) {}
void lf_airAltitudeRate(LiveAc&) {}
void lf_groundPointsAloft(LiveAc&) {}
bool lf_retimePoint(LiveAc&, std::size_t) { return false; }
void lf_retimeNext(LiveAc&, std::int64_t) {}
void lf_insertMidpoint(LiveAc&) {}
void lf_setThrottle(AiAc&, std::uint32_t) {}
void lf_setFlaps(AiAc&, std::uint32_t) {}
