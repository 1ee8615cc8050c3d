#include "injection/records.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <numbers>

#include <fmt/format.h>

#include "frame/settings.h"

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;

// How far the two pitches of a model may lie from their table values, in percent either way: enough that a
// line of departing aircraft of one type does not rotate in lockstep.
constexpr double kRotationPitchSpreadPercent = 2.5;
constexpr double kClimbPitchSpreadPercent = 5.0;

// The value plus or minus exactly that share of it, the sign from one bit of the engine.
double lf_randomPercent(double value, double percent, std::mt19937& random) {
    if (percent <= 0) return value;
    const double delta = value * percent / 100.0;
    return random() % 2 == 0 ? value + delta : value - delta;
}

}  // namespace

// Ground turn rate, initial climb step and taxi-in speed by category.
const CategoryTable<double> g_groundTurnRateDeg{{0, 0.15}, {1, 0.10}, {2, 0.07}, {3, 0.05}, {4, 0.10}, {5, 0.20}};
const CategoryTable<double> g_climbAltitudeStep{{0, 0.5}, {1, 0.75}, {2, 0.6}, {3, 0.5}, {4, 1.0}, {5, 0.75}};
const CategoryTable<double> g_taxiInSpeed{{0, 5.0}, {1, 4.5}, {2, 4.0}, {3, 3.0}, {4, 4.5}, {5, 5.0}};
// On the ground: the fastest taxi, and how fast the speed grows taxiing and on the take-off roll (an airliner
// reaches its rotation speed in 25 to 40 s).
const CategoryTable<double> g_taxiSpeedKt{{0, 20.0}, {1, 25.0}, {2, 30.0}, {3, 25.0}, {4, 25.0}, {5, 20.0}};
const CategoryTable<double> g_taxiAccelG{{0, 0.1}, {1, 0.1}, {2, 0.08}, {3, 0.06}, {4, 0.1}, {5, 0.1}};
const CategoryTable<double> g_takeOffAccelG{{0, 0.2}, {1, 0.3}, {2, 0.3}, {3, 0.25}, {4, 0.4}, {5, 0.2}};

// ---- Records ----

void AiAc::copyModelPart(const AiAc& model) {
    static_cast<AcIdentity&>(*this) = static_cast<const AcIdentity&>(model);
    category = model.category;
    halfSpan = model.halfSpan;
    staticCgHeight = model.staticCgHeight;
    staticPitch = model.staticPitch;
    rotationPitch = model.rotationPitch;
    climbPitch = model.climbPitch;
    groundTurnRate = model.groundTurnRate;
    turnRate = model.turnRate;
    climbAltitudeStep = model.climbAltitudeStep;
    taxiInSpeed = model.taxiInSpeed;
    taxiSpeedKt = model.taxiSpeedKt;
    taxiAccelG = model.taxiAccelG;
    takeOffAccelG = model.takeOffAccelG;
    title = model.title;
    hexId = model.hexId;
    flareTicks = model.flareTicks;
    derotationTicks = model.derotationTicks;
    rotationTicks = model.rotationTicks;
    climbTicks = model.climbTicks;
    cargo = model.cargo;
    fsltlTitle = model.fsltlTitle;
}

AiAc::AiAc(const AiAc& model, std::uint32_t standIndex_, const StandPlace& stand, bool standCargo_) {
    copyModelPart(model);
    standLat = stand.lat;
    standLon = stand.lon;
    standHeading = stand.heading;
    standIndex = standIndex_;
    standCargo = standCargo_;
}

LiveAc::LiveAc() {
    // No ground curve until a manoeuvre sets one.
    groundCurve.controlEast = std::numeric_limits<double>::quiet_NaN();
    groundCurve.controlNorth = std::numeric_limits<double>::quiet_NaN();
}

LiveAc::LiveAc(const TrackPoint& first, const AiAc& model, double recordTime) : LiveAc() {
    copyModelPart(model);
    lastRecordTime = recordTime;
    track.push_back(first);
}

// ---- Tables ----

std::mt19937& gf_workRandom() {
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

void gf_seedWorkRandom(std::uint32_t seed) { gf_workRandom().seed(seed); }

void gf_applyModelTables(AiAc& ac, std::mt19937& random) {
    const int category = static_cast<int>(ac.category);
    ac.flareTicks = static_cast<std::uint32_t>(g_flareTicks.at(category));
    ac.derotationTicks = static_cast<std::uint32_t>(g_derotationTicks.at(category));
    ac.rotationTicks = static_cast<std::uint32_t>(g_rotationTicks.at(category));
    ac.climbTicks = static_cast<std::uint32_t>(g_climbTicks.at(category));
    ac.rotationPitch =
        lf_randomPercent(g_rotationPitchDeg.at(category), kRotationPitchSpreadPercent, random) * kRadPerDeg;
    ac.climbPitch = lf_randomPercent(g_climbPitchDeg.at(category), kClimbPitchSpreadPercent, random) * kRadPerDeg;
}

void gf_applyLiveTables(AiAc& ac) {
    const int category = static_cast<int>(ac.category);
    ac.groundTurnRate = g_groundTurnRateDeg.at(category) * kRadPerDeg;
    ac.turnRate = ac.groundTurnRate;
    ac.climbAltitudeStep = g_climbAltitudeStep.at(category);
    ac.taxiInSpeed = g_taxiInSpeed.at(category);
    ac.taxiSpeedKt = g_taxiSpeedKt.at(category);
    ac.taxiAccelG = g_taxiAccelG.at(category);
    ac.takeOffAccelG = g_takeOffAccelG.at(category);
}

AiAc gf_makeModelRecord(const TrafficRecord& record, std::mt19937& random) {
    AiAc ac;
    static_cast<AcIdentity&>(ac) = static_cast<const AcIdentity&>(record);
    ac.halfSpan = gf_wingspanOfModel(ac.type);
    ac.category = gf_categoryOfModel(ac.type);
    gf_applyModelTables(ac, random);
    return ac;
}

// ---- Identity and text ----

std::string gf_aimo(const AiAc& ac) { return fmt::format("{:3} {:4}", ac.airline, ac.type); }

bool gf_sameAimo(const AiAc& a, const AiAc& b) { return a.airline == b.airline && a.type == b.type; }

std::string gf_routeText(const AiAc& ac) {
    if (ac.origin.empty() && ac.destination.empty()) return std::string(8, ' ');
    return fmt::format("{:3}->{:3}", ac.origin, ac.destination);
}

std::string gf_callsignText(const AiAc& ac) { return fmt::format("{:8}", ac.callsign); }

std::string gf_acRouteCsRegText(const AiAc& ac) {
    return fmt::format("{} {:8} {}", gf_routeText(ac), ac.callsign, ac.registration);
}

std::string gf_acText(const AiAc& ac) { return fmt::format("{} {}", gf_acRouteCsRegText(ac), gf_aimo(ac)); }

std::string gf_acCsRegText(const AiAc& ac) {
    return fmt::format("{} {} {}", gf_callsignText(ac), ac.registration, gf_aimo(ac));
}

std::string gf_aimoRegText(const AiAc& ac) { return gf_aimo(ac) + " " + ac.registration; }

bool gf_validCallsign(const AiAc& ac) {
    return !ac.callsign.empty() && ac.callsign != "@@@@@@@@" && ac.callsign.size() <= 8;
}

std::optional<std::string> gf_airlineCodeOfCallsign(std::string_view callsign) {
    const auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    if (callsign.size() < 4 || !letter(callsign[0]) || !letter(callsign[1]) || !letter(callsign[2]) ||
        std::isdigit(static_cast<unsigned char>(callsign[3])) == 0)
        return std::nullopt;
    std::string code(callsign.substr(0, 3));
    for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return code;
}

bool gf_airlineFromCallsign(AiAc& ac) {
    std::optional<std::string> code = gf_airlineCodeOfCallsign(ac.callsign);
    if (!code) return false;
    ac.airline = std::move(*code);
    return true;
}

const std::string& gf_categoryName(ModelCategory category) {
    static const CategoryTable<std::string> names{
        {0, "Light"}, {1, "Buzjets"}, {2, "Large"}, {3, "Heavy"}, {4, "HighPerf"}, {5, "Rotorcraft"},
    };
    return names.at(static_cast<int>(category));
}

bool gf_categorySwitchedOn(ModelCategory category) {
    switch (category) {
        case kCatLight: return g_LIGHT_AIRCRAFT.value();
        case kCatBuzjets:
        case kCatLarge:
        case kCatHeavy: return true;
        case kCatHighPerf: return g_HIGH_PERF_AIRCRAFT.value();
        case kCatRotorcraft: return g_HELICOPTERS.value();
        default: return false;
    }
}
