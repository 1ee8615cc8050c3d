#include "airports/services.h"

#include <algorithm>

#include "frame/settings.h"
#include "platform/ui.h"
#include "window/controls.h"
#include "window/main_window.h"

std::vector<AirportData> g_airports;
std::vector<ParkAirport> g_parkAirports;
std::string g_parkAirportCode;
std::string g_reservedStand;
std::atomic<bool> g_standFileLoaded{false};
std::atomic<std::int16_t> g_parkingBusy{0};
std::atomic<std::int32_t> g_maxLiveInForce{-1};
GeoPosition g_parkAirportPos;
double g_parkAirportElevation = 0.0;
std::set<std::string> g_seenCallsigns;
std::set<std::uint32_t> g_seenHexIds;

namespace {

// The controls a parking calculation must not see changed under it.
const std::vector<ParameterControl*>& lf_parkingControls() {
    static const std::vector<ParameterControl*> controls{
        &g_parking_percentage, &g_CUSTOM_MAX_PARK, &g_MAX_FIT_FL,  &g_INITIAL_LOAD_ONLY, &g_PARK_FAKE,
        &g_PARK_SOFT,          &g_RT_PARKTRAFFIC_ONLY, &g_WEEK,    &g_Re_read,           &g_Flush_static,
    };
    return controls;
}

}  // namespace

void gf_checkForParkAirportUpdates(bool) {}
void gf_scanAddOnAirports() {}
void gf_readAirports() {}

std::optional<AirportData> gf_findAirport(const std::string& code) {
    const auto it = std::find_if(g_airports.begin(), g_airports.end(),
                                 [&](const AirportData& a) { return a.icao == code; });
    if (it == g_airports.end()) return std::nullopt;
    return *it;
}

bool lf_readMyParkAirports() { return true; }
bool lf_checkReservedStand(bool, std::string&) { return false; }

void lf_adjustParking(bool) { gf_enableParkingControls(); }

void lf_searchForCoupledCsAroundThisTime(WeekSlot, LiveAc&) {}

std::string gf_userStand(double latitude, double longitude) {
    // The nearest stand of the active park airport within 55 m (0.0297 nm) of the position.
    constexpr double kReachNm = 55.0 / 1852.0;
    const ParkPos* nearest = nullptr;
    double best = kReachNm;
    for (const ParkPos& stand : g_parkPositions) {
        const double d = gf_distanceNM(latitude, longitude, stand.latitude, stand.longitude);
        if (d <= best) {
            best = d;
            nearest = &stand;
        }
    }
    return nearest != nullptr ? nearest->id : std::string();
}

void gf_updateMyParkAirportsFile() {}

void lf_clearStaticParking() {
    gf_removeAllStaticAc();
    g_parkPositions.clear();
}

void gf_disableParkingControls() {
    g_parkingBusy = 1;
    for (ParameterControl* c : lf_parkingControls()) {
        if (c->created) ui::backend().setEnabled(c->controlId, false);
    }
    ui::backend().invalidate(kMiddleBand);
}

void gf_enableParkingControls() {
    g_parkingBusy = 0;
    gf_updateParkingControls();
    ui::backend().setEnabled(g_Re_read.controlId, true);
    ui::backend().setEnabled(g_CUSTOM_MAX_PARK.controlId, true);
    // "Flush static" has something to flush only with a park airport.
    ui::backend().setEnabled(g_Flush_static.controlId, !g_parkAirportCode.empty());
    ui::backend().invalidate(kParkingBand);
}

void lf_setParkAirport(const std::string& code, const AirportData& airport) {
    auto it = std::find_if(g_parkAirports.begin(), g_parkAirports.end(),
                           [&](const ParkAirport& p) { return p.code == code; });
    ParkAirport entry = it != g_parkAirports.end() ? *it : ParkAirport{code, {}, airport.latitude, airport.longitude, 0};
    if (it != g_parkAirports.end()) g_parkAirports.erase(it);
    g_parkAirports.insert(g_parkAirports.begin(), std::move(entry));
}

std::uint64_t lf_countStaticAc(bool) {
    return static_cast<std::uint64_t>(std::count_if(g_staticAc.begin(), g_staticAc.end(), [](const AiAc& ac) {
        return ac.status == kAcInSim || ac.status == kAcRemovalRequested;
    }));
}
