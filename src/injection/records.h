// The aircraft records of the injection: a static parked aircraft (`AiAc`), a live aircraft (`LiveAc`, the
// same first part followed by what moves it), their status and movement states, the per-category performance
// tables, and the small identity and text functions that log lines and matching use.
//
// The records are plain data owned by the work thread: no virtual operations, no locks. Units: degrees for
// latitude and longitude, radians for headings and attitudes unless a name says degrees, feet, knots,
// nautical miles, seconds; ticks are AI ticks of 10 ms.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "frame/paths.h"
#include "liveries/database.h"
#include "trafficservice/records.h"

// ---- Status of an aircraft towards the simulator ----
inline constexpr std::uint32_t kAcNotInSim = 0;
inline constexpr std::uint32_t kAcCreationQueued = 1;
inline constexpr std::uint32_t kAcInSim = 2;
inline constexpr std::uint32_t kAcRespawn = 3;  // removed so that it is created again
inline constexpr std::uint32_t kAcRemovalRequested = 4;

// ---- Movement state of a live aircraft ----
inline constexpr std::uint32_t kMoveAfterPushback = 0;
inline constexpr std::uint32_t kMoveEnginesStarted = 1;  // engines started at the stand
inline constexpr std::uint32_t kMoveFollowing = 2;       // follows the received positions
inline constexpr std::uint32_t kMoveTakeOff = 3;
inline constexpr std::uint32_t kMoveAirborne = 4;
inline constexpr std::uint32_t kMoveToStand = 5;  // drives to a stand
inline constexpr std::uint32_t kMoveParked = 6;   // parked at a stand
inline constexpr std::uint32_t kMoveNew = 7;      // not yet placed

// ---- Model categories ----
inline constexpr ModelCategory kCatLight = 0;
inline constexpr ModelCategory kCatBuzjets = 1;
inline constexpr ModelCategory kCatLarge = 2;
inline constexpr ModelCategory kCatHeavy = 3;
inline constexpr ModelCategory kCatHighPerf = 4;
inline constexpr ModelCategory kCatRotorcraft = 5;

// A quadratic ground path: it starts at the origin; the end and control points are offsets in metres from it.
// A NaN control-point coordinate means no curve is set.
struct GroundCurve {
    double originLat = 0.0, originLon = 0.0;
    double sLow = 0.0;  // parameter at the origin
    double endNorth = 0.0, endEast = 0.0;
    double sHigh = 0.0;  // parameter at the end point
    double controlEast = 0.0, controlNorth = 0.0;
    double length = 0.0;  // m, measured as the aircraft enters it (0 until then)
};

// Where a stand lies and which way it points.
struct StandPlace {
    double lat = 0.0, lon = 0.0;
    double heading = 0.0;  // radians
};

// A static parked aircraft, and the first part of every live one.
struct AiAc : AcIdentity {
    // ---- identity and model part: what gf_makeModelRecord builds and both constructors copy ----
    ModelCategory category = kCatLarge;
    double halfSpan = 0.0;        // nm
    double staticCgHeight = 0.0;  // ft, the simulator's "Static CG to Ground" once it replied
    double staticPitch = 0.0;     // rad, the simulator's "Static Pitch"
    double rotationPitch = 0.0;   // rad, end of the take-off rotation (negative = nose up)
    double climbPitch = 0.0;      // rad, initial climb
    double groundTurnRate = 0.0;  // rad per tick, base rate of a ground turn (live aircraft)
    double turnRate = 0.0;        // rad per tick, rescaled for each ground leg
    // rad per tick: the fastest its reports turn on the ground leg it follows (0: they do not tell)
    double reportedTurnRate = 0.0;
    // The take-off roll's acceleration of the last tick (kt a tick); 0 before the roll.
    double rollAccel = 0.0;
    // The landing roll's deceleration of the last tick (kt a tick); 0 before the roll.
    double rollOutDecel = 0.0;
    double climbAltitudeStep = 0.0;  // ft per tick in the initial climb (live aircraft)
    double taxiInSpeed = 0.0;        // kt, taxi to a stand (live aircraft)
    // Ground speed limits (live aircraft): the fastest taxi (kt), and how fast it speeds up taxiing and on a
    // take-off roll (g).
    double taxiSpeedKt = 0.0, taxiAccelG = 0.0, takeOffAccelG = 0.0;
    // Title of the chosen livery, empty for none; the text belongs to the livery lists for the whole run.
    std::string_view title;
    // A live aircraft's 24-bit address (above kMaxStaticHexId); a static aircraft's creation id.
    std::uint32_t hexId = 0;
    std::uint32_t flareTicks = 0;
    std::uint32_t derotationTicks = 0;
    std::uint32_t rotationTicks = 0;
    std::uint32_t climbTicks = 0;
    bool cargo = false;       // a cargo livery is wanted
    bool fsltlTitle = false;  // the livery title contains "FSLTL_"

    // ---- simulator object, stand and bookkeeping ----
    std::uint32_t objectId = 0;  // 0 while it has none
    double standLat = 0.0, standLon = 0.0;
    double standHeading = 0.0;
    std::uint64_t placedSlot = 0;   // week slot of its placement or arrival at the stand
    std::uint32_t parkedHexId = 0;  // the service's parked aircraft a static one stands for; 0 otherwise
    std::uint32_t standIndex = 0;   // index into the stands; 0 = none
    std::uint32_t status = kAcNotInSim;
    std::uint32_t throttleState = 5;  // last throttle stage commanded
    std::uint32_t flapsState = 4;     // last flaps stage commanded
    bool standCargo = false;
    std::uint32_t placementKind = 1;
    bool removeWhenCreated = false;  // removal asked while the creation was queued
    bool eraseRequested = false;     // erased at the end of this tick's update pass
    bool creationWithdrawn = false;  // taken back from the creation queue

    AiAc() = default;
    // A static aircraft of the model at its stand.
    AiAc(const AiAc& model, std::uint32_t standIndex, const StandPlace& stand, bool standCargo);

    // Takes over the identity and model part of another record; the rest stays as it is.
    void copyModelPart(const AiAc& model);
};

// A live aircraft: the AI part, then the position sent to the simulator each tick, its track and its
// movement state.
struct LiveAc : AiAc {
    // The values of this tick's position update.
    double latitude = 0.0, longitude = 0.0;
    double pitch = 0.0;  // negative = nose up
    double bank = 0.0;
    double heading = 0.0;  // true, 0..2 pi
    double altitude = 0.0;
    double verticalSpeedFps = 0.0;
    double trueAirspeed = 0.0;

    // Received and predicted points in time order; the front is the point being moved to.
    std::deque<TrackPoint> track;
    // Where its last reports placed it (every report of a new time, taken or not), oldest first: the speed
    // and track that its positions show.
    struct ReportedPlace {
        double time, lat, lon;
        bool airborne;
        // In the air: the height as reported and as taken (a misread one gives way to its neighbours').
        double reportedAlt = 0.0, alt = 0.0;
    };
    std::deque<ReportedPlace> reportedPlaces;
    double lastRecordTime = 0.0;  // s
    double collisionCheckLat = 0.0, collisionCheckLon = 0.0;  // position at the last check against statics
    std::uint64_t parkedSince = 0;  // steady clock, 100 ns units
    std::int32_t extendSteps = 0;   // predicted points still to append; -1 exhausted
    std::uint32_t holdStartTick = 0;
    std::uint32_t state = kMoveNew;
    std::uint32_t previousState = kMoveNew;
    bool standConfirmed = false;
    bool onGround = false;
    bool flightPlanWritten = false;
    bool spawnHold = false;  // creation held back because of the user aircraft
    bool holding = false;    // a ground hold runs

    // Per-tick rates of the current leg.
    double latStep = 0.0, lonStep = 0.0, pitchStep = 0.0, bankStep = 0.0, headingStep = 0.0;
    double altitudeStep = 0.0;
    double verticalSpeed = 0.0;  // ft/min
    double speedKt = 0.0;
    // The speed it moves at over the ground (kt): on the ground the one speed a taxi or a runway roll is
    // driven at, changing within its limits; elsewhere the speed it moved at in the last tick.
    double groundSpeedKt = 0.0;
    // The nose steers onto the ground leg this leg (it rolls where its nose points, re-aimed every tick).
    bool steeringOntoLeg = false;

    GroundCurve groundCurve;
    double curveParam = 0.0, curveParamStep = 0.0, curveTurnDeg = 0.0;
    // The speed (kt) reported at the corner the curve runs through; 0 when none was.
    double curveCornerKt = 0.0;
    TrackPoint pushbackAltPoint;
    double lastParkTryLat = 0.0, lastParkTryLon = 0.0;
    std::int32_t maxAdvanceTicks = 1000, maxDelayTicks = 1000;
    // Ticks left for the pitch and bank rates; 1 = none. Signed: after a rotation the climb ramp counts on
    // below 0.
    std::int32_t rateTicks = 1;
    std::uint32_t standExitTicks = 0;
    std::uint32_t standDriftCount = 0;
    double targetHeading = 0.0;
    double heightAboveGround = 2500.0;  // ft, until the simulator reports it
    double flareHeight = 0.0, runwayHeading = 0.0, departureDistanceRef = 0.0;
    double standDistanceFirst = 0.0, standDistanceLast = 0.0, turnRemainingDeg = 0.0;
    std::optional<double> respawnHeading;
    bool pushbackToAlt = false, pushbackSideKnown = false;
    std::optional<double> fieldElevation;  // ft
    std::uint32_t flareStage = 0;
    bool flareCounted = false;  // counted in g_flareActive
    bool approach = false, landed = false, towed = false, climbConfigured = false, takeOffRoll = false;
    bool highLightsSet = false, lowLightsSet = false, derotating = false, braking = false;
    bool leaveStand = false, turning = false;
    // The data's take-off roll starts at the point of this time (s since 1970; 0: none ahead): the aircraft,
    // shown behind its reports, taxis until its leg leads there.
    double takeOffRollFrom = 0.0;

    LiveAc();
    // A new live aircraft of the model at its first received point.
    LiveAc(const TrackPoint& first, const AiAc& model, double recordTime);
};

// ---- Per-category tables ----

// The flare, rotation and climb tables (g_flareTicks ... g_climbPitchDeg) are the frame's, built when the
// program starts. These are the ground performance tables that only a live aircraft needs.
extern const CategoryTable<double> g_groundTurnRateDeg;  // degrees per tick
extern const CategoryTable<double> g_climbAltitudeStep;  // ft per tick
extern const CategoryTable<double> g_taxiInSpeed;        // kt
extern const CategoryTable<double> g_taxiSpeedKt;        // kt, the fastest taxi
extern const CategoryTable<double> g_taxiAccelG;         // g, speeding up taxiing
extern const CategoryTable<double> g_takeOffAccelG;      // g, speeding up on a take-off roll

// The work thread's random engine for the randomised performance values; tests seed it.
std::mt19937& gf_workRandom();
void gf_seedWorkRandom(std::uint32_t seed);

// The flare, rotation and climb values of the record's category; the two pitches vary by a fixed share up or
// down, drawn from the engine.
void gf_applyModelTables(AiAc& ac, std::mt19937& random);
// The ground turn rate (also as the current turn rate), climb step, taxi speeds and accelerations of the
// record's category.
void gf_applyLiveTables(AiAc& ac);

// The identity and model part of a new aircraft from a received record: its identity, the type's half span
// and category from the database, and the category's tables.
AiAc gf_makeModelRecord(const TrafficRecord& record, std::mt19937& random = gf_workRandom());

// ---- Identity and text ----

// "{:3} {:4}" of airline and type.
std::string gf_aimo(const AiAc& ac);
bool gf_sameAimo(const AiAc& a, const AiAc& b);
// "ORG->DST" when either end is known, else eight blanks.
std::string gf_routeText(const AiAc& ac);
// The callsign padded to 8.
std::string gf_callsignText(const AiAc& ac);
std::string gf_acRouteCsRegText(const AiAc& ac);
// An aircraft as the log lines describe it: route, callsign, registration, airline and type.
std::string gf_acText(const AiAc& ac);
std::string gf_acCsRegText(const AiAc& ac);
std::string gf_aimoRegText(const AiAc& ac);
// Not empty, not eight at signs, at most 8 characters.
bool gf_validCallsign(const AiAc& ac);
// The upper-cased first three characters of a callsign like "abc123"; nothing for any other.
std::optional<std::string> gf_airlineCodeOfCallsign(std::string_view callsign);
// Sets the airline from the callsign when it gives one; true when it did.
bool gf_airlineFromCallsign(AiAc& ac);
// Light aircraft, HighPerf and Rotorcraft are taken (and predicted) only while LIGHT_AIRCRAFT,
// HIGH_PERF_AIRCRAFT and HELICOPTERS are on; Buzjets, Large and Heavy always; no other category.
bool gf_categorySwitchedOn(ModelCategory category);
// "Light", "Buzjets", "Large", "Heavy", "HighPerf" or "Rotorcraft" for 0 to 5; another number throws
// std::out_of_range "invalid unordered_map<K, T> key".
const std::string& gf_categoryName(ModelCategory category);
