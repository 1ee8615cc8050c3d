// A sink that keeps everything the injection sends towards the simulator, in order, as short text lines
// ("event 101 207 1", "plan 101 <path>", "static 101", "range 18520", "create SWR100", "remove 101",
// "now 101 214 0", "engine 101 100 100 100") and the positions apart. Installed for the life of the object.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "injection/sim_sink.h"

class RecordingSink final : public SimSink {
public:
    RecordingSink() { gf_setSimSink(this); }
    ~RecordingSink() override { gf_setSimSink(nullptr); }
    RecordingSink(const RecordingSink&) = delete;
    RecordingSink& operator=(const RecordingSink&) = delete;

    void position(const AircraftUpdate& update) override { positions.push_back(update); }
    void clientEvents(std::span<const ClientEventRequest> events) override {
        for (const ClientEventRequest& e : events) lines.push_back(fmt::format("event {} {} {}", e.objectID, e.eventID, e.data));
    }
    SimResult clientEventNow(const ClientEventRequest& e) override {
        lines.push_back(fmt::format("now {} {} {}", e.objectID, e.eventID, e.data));
        return result;
    }
    SimResult flightPlan(std::uint32_t objectId, const std::string& path) override {
        lines.push_back(fmt::format("plan {} {}", objectId, path));
        return result;
    }
    SimResult staticData(std::uint32_t objectId) override {
        lines.push_back(fmt::format("static {}", objectId));
        return result;
    }
    SimResult aircraftInRange(std::uint32_t radiusMeters) override {
        lines.push_back(fmt::format("range {}", radiusMeters));
        return result;
    }
    SimResult engineControls(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) override {
        lines.push_back(fmt::format("engine {} {} {} {}", objectId, spoilers, throttle1, throttle2));
        return result;
    }
    void create(const CreateAircraftRequest& request) override {
        lines.push_back(fmt::format("create {}", request.callsign));
        creations.push_back(request);
    }
    void remove(std::uint32_t objectId) override { lines.push_back(fmt::format("remove {}", objectId)); }

    // The lines that start with `prefix`.
    std::vector<std::string> with(const std::string& prefix) const {
        std::vector<std::string> out;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                     [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
        return out;
    }
    void clear() {
        lines.clear();
        positions.clear();
        creations.clear();
    }

    SimResult result = kSimOk;  // what the direct requests answer
    std::vector<std::string> lines;
    std::vector<AircraftUpdate> positions;
    std::vector<CreateAircraftRequest> creations;
};
