// Every call the run-time makes into the other parts of the program, gathered in one table. The program
// runs with the parts' own functions; tests put in their own, to see what the start-up, the work loop and
// the exit sequence ask for and to stand in for a simulator or a service that is not there.
//
// The table is read by the run-time's threads without a lock: set it only while none of them runs.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "airports/services.h"
#include "frame/timeutil.h"
#include "injection/services.h"
#include "simlink/simids.h"

struct Subsystems {
    // ---- the update check and the simulator's registry entry ----
    std::function<void()> checkForUpdate;   // gf_checkForUpdate
    std::function<void()> detectSimulator;  // lf_detectSimulator

    // ---- simulator link ----
    std::function<void(std::stop_token)> simClient;  // SimClient, the link thread's procedure
    std::function<SimResult()> requestUserOnGround;  // request 108 on the current connection
    std::function<int()> requestUserTitleAndModel;   // requests 106 and 107; the count of failures
    std::function<UserAcData()> getUserPosition;     // gf_getUserPosition
    std::function<void()> createFlightPlanFolder;
    std::function<void()> removeFlightPlanFolder;

    // ---- traffic service ----
    std::function<void()> findRTLicense;
    std::function<void()> setTrafficBox;
    std::function<void()> authenticateOrThrow;
    std::function<void()> deauthenticate;
    std::function<void()> refreshConnectionIndicators;
    std::function<void(std::stop_token)> weatherReader;
    std::function<void(std::stop_token)> trafficReader;

    // ---- aircraft models and liveries ----
    std::function<void()> liveriesScan;
    std::function<void()> readDataBase;
    std::function<void()> liveryMatchingSummary;
    std::function<void()> logUnmatchedAircraft;

    // ---- live traffic injection ----
    std::function<void()> updateAI;
    std::function<void()> simCommands;
    std::function<void()> removeAllLiveAc;
    std::function<void()> removeAllStaticAc;
    std::function<void()> removeAcAtReservedStand;
    std::function<void()> autoTrafficRange;
    std::function<void()> enforceMaxLive;
    std::function<bool(const DuplicateContext& context, const AiAc& staticAc)> checkDuplicates;
    std::function<bool(int flags, LiveAc& ac)> removeLiveConflictingWithUser;
    std::function<void(bool& removed, int flags, LiveAc& copy)> removeStaticForCollisionAvoidance;

    // ---- airports and static parking ----
    std::function<void(bool firstCall)> checkForParkAirportUpdates;
    std::function<void()> scanAddOnAirports;
    std::function<void()> readAirports;
    std::function<bool()> readMyParkAirports;
    std::function<bool(bool reRead, std::string& message)> checkReservedStand;
    std::function<void(bool parkingModeChanged)> adjustParking;
    std::function<void(WeekSlot slot, LiveAc& ac)> searchForCoupledCs;
    std::function<void()> clearStaticParking;
    std::function<void()> disableParkingControls;
    std::function<void()> enableParkingControls;
};

// The parts' own functions.
Subsystems gf_defaultSubsystems();
// Installs the table; empty members take the parts' own functions.
void gf_setSubsystems(Subsystems subsystems);
// The table in force.
const Subsystems& gf_subsystems();
