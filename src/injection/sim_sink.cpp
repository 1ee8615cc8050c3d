#include "injection/sim_sink.h"

#include <array>
#include <mutex>

#include "simlink/link.h"

namespace {

// The simulator link: positions into its double buffer, events, creations and removals into the queues it
// sends with the next frame, and the direct requests on the connection under the queue lock.
class LinkSink final : public SimSink {
public:
    void position(const AircraftUpdate& update) override { gf_updateAircraft(update); }
    void clientEvents(std::span<const ClientEventRequest> events) override {
        std::lock_guard lock(g_simQueueMutex);
        g_clientEventQueue.insert(g_clientEventQueue.end(), events.begin(), events.end());
    }
    SimResult clientEventNow(const ClientEventRequest& event) override {
        return request([&](SimConnectHandle h) { return gf_transmitClientEvent(h, event); });
    }
    SimResult flightPlan(std::uint32_t objectId, const std::string& path) override {
        return request([&](SimConnectHandle h) { return gf_setAiFlightPlan(h, objectId, path.c_str()); });
    }
    SimResult staticData(std::uint32_t objectId) override {
        return request([&](SimConnectHandle h) { return gf_requestStaticData(h, objectId); });
    }
    SimResult aircraftInRange(std::uint32_t radiusMeters) override {
        // Before the link is up there is nobody to ask, and that is no failed request.
        if (g_simConnect.load() == SimConnectHandle::None) return kSimOk;
        return request([&](SimConnectHandle h) { return gf_requestAircraftInRange(h, radiusMeters); });
    }
    SimResult engineControls(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) override {
        return request([&](SimConnectHandle h) { return gf_sendEngineControls(h, objectId, spoilers, throttle1, throttle2); });
    }
    void create(const CreateAircraftRequest& request) override { gf_queueCreateAircraft(request); }
    void remove(std::uint32_t objectId) override { gf_queueRemoveAircraft(objectId); }

private:
    template <typename Request>
    static SimResult request(Request&& r) {
        std::lock_guard lock(g_simQueueMutex);
        return gf_withSimConnect(r);
    }
};

LinkSink g_linkSink;
SimSink* g_sink = &g_linkSink;

}  // namespace

SimSink& gf_simSink() { return *g_sink; }

void gf_setSimSink(SimSink* sink) { g_sink = sink != nullptr ? sink : &g_linkSink; }

void gf_sendClientEvents(std::span<const ClientEventRequest> events) { gf_simSink().clientEvents(events); }

void gf_sendLights(std::uint32_t objectId, const LightPattern& p) {
    const auto on = [](bool b) { return b ? 1u : 0u; };
    const std::array<ClientEventRequest, 7> lights{{
        {objectId, kEventNavLightsSet, on(p.nav)},
        {objectId, kEventBeaconLightsSet, on(p.beacon)},
        {objectId, kEventLandingLightsSet, on(p.landing)},
        {objectId, kEventTaxiLightsSet, on(p.taxi)},
        {objectId, kEventStrobesSet, on(p.strobes)},
        {objectId, kEventLogoLightsSet, on(p.logo)},
        {objectId, kEventCabinLightsSet, on(p.cabin)},
    }};
    gf_sendClientEvents(lights);
}
