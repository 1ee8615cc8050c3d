#include "run/subsystems.h"

#include "frame/download.h"
#include "frame/simulator.h"
#include "liveries/services.h"
#include "simlink/link.h"
#include "trafficservice/runtime_services.h"

namespace {

Subsystems g_subsystems = gf_defaultSubsystems();

template <class F>
void lf_fill(F& member, const F& fallback) {
    if (!member) member = fallback;
}

}  // namespace

Subsystems gf_defaultSubsystems() {
    Subsystems s;
    s.checkForUpdate = gf_checkForUpdate;
    s.detectSimulator = lf_detectSimulator;

    s.simClient = SimClient;
    s.requestUserOnGround = [] { return gf_requestUserOnGround(g_simConnect.load()); };
    s.requestUserTitleAndModel = [] { return gf_requestUserTitleAndModel(g_simConnect.load()); };
    s.getUserPosition = gf_getUserPosition;
    s.createFlightPlanFolder = gf_createFlightPlanFolder;
    s.removeFlightPlanFolder = [] { gf_removeFlightPlanFolder(); };

    s.findRTLicense = gf_findRTLicense;
    s.setTrafficBox = gf_setTrafficBox;
    s.authenticateOrThrow = gf_authenticateOrThrow;
    s.deauthenticate = [] { g_trafficClient.deauthenticate(); };
    s.refreshConnectionIndicators = gf_refreshConnectionIndicators;
    s.weatherReader = gf_weatherReader;
    s.trafficReader = gf_trafficReader;

    s.liveriesScan = gf_liveriesScan;
    s.readDataBase = gf_readDataBase;
    s.liveryMatchingSummary = gf_liveryMatchingSummary;
    s.logUnmatchedAircraft = gf_logUnmatchedAircraft;

    s.updateAI = gf_updateAI;
    s.simCommands = gf_SimCommands;
    s.removeAllLiveAc = gf_removeAllLiveAc;
    s.removeAllStaticAc = gf_removeAllStaticAc;
    s.removeAcAtReservedStand = gf_removeAcAtReservedStand;
    s.autoTrafficRange = gf_autoTrafficRange;
    s.enforceMaxLive = gf_enforceMaxLive;
    s.checkDuplicates = gf_checkDuplicates;
    s.removeLiveConflictingWithUser = lf_removeLiveConflictingWithUser;
    s.removeStaticForCollisionAvoidance = lf_removeStaticForCollisionAvoidance;

    s.checkForParkAirportUpdates = gf_checkForParkAirportUpdates;
    s.scanAddOnAirports = gf_scanAddOnAirports;
    s.readAirports = gf_readAirports;
    s.readMyParkAirports = lf_readMyParkAirports;
    s.checkReservedStand = lf_checkReservedStand;
    s.adjustParking = lf_adjustParking;
    s.searchForCoupledCs = lf_searchForCoupledCsAroundThisTime;
    s.clearStaticParking = lf_clearStaticParking;
    s.disableParkingControls = gf_disableParkingControls;
    s.enableParkingControls = gf_enableParkingControls;
    return s;
}

void gf_setSubsystems(Subsystems s) {
    const Subsystems d = gf_defaultSubsystems();
    lf_fill(s.checkForUpdate, d.checkForUpdate);
    lf_fill(s.detectSimulator, d.detectSimulator);
    lf_fill(s.simClient, d.simClient);
    lf_fill(s.requestUserOnGround, d.requestUserOnGround);
    lf_fill(s.requestUserTitleAndModel, d.requestUserTitleAndModel);
    lf_fill(s.getUserPosition, d.getUserPosition);
    lf_fill(s.createFlightPlanFolder, d.createFlightPlanFolder);
    lf_fill(s.removeFlightPlanFolder, d.removeFlightPlanFolder);
    lf_fill(s.findRTLicense, d.findRTLicense);
    lf_fill(s.setTrafficBox, d.setTrafficBox);
    lf_fill(s.authenticateOrThrow, d.authenticateOrThrow);
    lf_fill(s.deauthenticate, d.deauthenticate);
    lf_fill(s.refreshConnectionIndicators, d.refreshConnectionIndicators);
    lf_fill(s.weatherReader, d.weatherReader);
    lf_fill(s.trafficReader, d.trafficReader);
    lf_fill(s.liveriesScan, d.liveriesScan);
    lf_fill(s.readDataBase, d.readDataBase);
    lf_fill(s.liveryMatchingSummary, d.liveryMatchingSummary);
    lf_fill(s.logUnmatchedAircraft, d.logUnmatchedAircraft);
    lf_fill(s.updateAI, d.updateAI);
    lf_fill(s.simCommands, d.simCommands);
    lf_fill(s.removeAllLiveAc, d.removeAllLiveAc);
    lf_fill(s.removeAllStaticAc, d.removeAllStaticAc);
    lf_fill(s.removeAcAtReservedStand, d.removeAcAtReservedStand);
    lf_fill(s.autoTrafficRange, d.autoTrafficRange);
    lf_fill(s.enforceMaxLive, d.enforceMaxLive);
    lf_fill(s.checkDuplicates, d.checkDuplicates);
    lf_fill(s.removeLiveConflictingWithUser, d.removeLiveConflictingWithUser);
    lf_fill(s.removeStaticForCollisionAvoidance, d.removeStaticForCollisionAvoidance);
    lf_fill(s.checkForParkAirportUpdates, d.checkForParkAirportUpdates);
    lf_fill(s.scanAddOnAirports, d.scanAddOnAirports);
    lf_fill(s.readAirports, d.readAirports);
    lf_fill(s.readMyParkAirports, d.readMyParkAirports);
    lf_fill(s.checkReservedStand, d.checkReservedStand);
    lf_fill(s.adjustParking, d.adjustParking);
    lf_fill(s.searchForCoupledCs, d.searchForCoupledCs);
    lf_fill(s.clearStaticParking, d.clearStaticParking);
    lf_fill(s.disableParkingControls, d.disableParkingControls);
    lf_fill(s.enableParkingControls, d.enableParkingControls);
    g_subsystems = std::move(s);
}

const Subsystems& gf_subsystems() { return g_subsystems; }
