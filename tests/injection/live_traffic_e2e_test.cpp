// Live aircraft from end to end: the program (build/bin/ZNTV_P3D) as a process in a program folder of its
// own, the live-traffic service stand-in as a process playing a scenario written here, and the simulator
// stand-in in this process, so that what the program created, sent and removed can be looked at directly.
//
// The scenario clock stands still at 60 s: the short history the program asks for first (five snapshots six
// seconds apart, 36 s to 60 s) is then the same however long its start-up takes, and an aircraft whose track
// ends at 50 s is seen three times and never again.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "program_run.h"

namespace injection_test {
namespace {

using testing_support::readWholeFile;
using testing_support::writeWholeFile;


// The user aircraft stands at Amsterdam (program_run.h), where the scenario's traffic flies: the program's first
// traffic request, which may go out before it knows the user's position, asks for the box around Amsterdam.
// A fixed traffic radius of 10 nm: an airborne aircraft whose reports end beyond 9.5 nm from the user is
// removed at once, nearer it is flown on for a while on predicted points.
const std::string kRangeParameters =
    "<parameter name=\"AUTO_RANGE\" value=\"false\"/>\n<parameter name=\"LATERAL_RANGE\" value=\"10\"/>\n";

// Client events (the program's own ids).
constexpr std::uint32_t kAllLightsToggle = 214;

// A KLM 737 at 2500 ft flying at 200 kt along `trackDeg`, at `lat`/`lon` at the scenario's 42 s (the middle of
// the history the program gets first); present from `from` to `to` seconds.
nlohmann::json lf_aircraft(int n, double lat, double lon, double trackDeg = 90, double from = 0, double to = 600) {
    constexpr double kNmPerSecond = 200.0 / 3600.0;
    const double rad = trackDeg * std::numbers::pi / 180.0;
    const double latPerSecond = kNmPerSecond * std::cos(rad) / 60.0;
    const double lonPerSecond = kNmPerSecond * std::sin(rad) / 60.0 / std::cos(lat * std::numbers::pi / 180.0);
    auto point = [&](double t) {
        return nlohmann::json{{"t", t},
                              {"lat", lat + (t - 42) * latPerSecond},
                              {"lon", lon + (t - 42) * lonPerSecond},
                              {"alt", 2500},
                              {"gs", 200},
                              {"trk", trackDeg},
                              {"vs", 0},
                              {"gnd", false}};
    };
    char hex[8];
    std::snprintf(hex, sizeof hex, "48c%03d", n);
    return {{"hex", hex},
            {"callsign", "KLM" + std::to_string(100 + n)},
            {"registration", "PH-Z" + std::to_string(10 + n)},
            {"type", "B738"},
            {"airline", "KLM"},
            {"origin", "AMS"},
            {"destination", "LHR"},
            {"flight", "KL" + std::to_string(100 + n)},
            {"category", "A3"},
            {"track", nlohmann::json::array({point(from), point(to)})}};
}

class LiveTraffic : public ProgramRun {
protected:
    // The scenario clock stands still at 60 s.
    void start(const std::vector<nlohmann::json>& aircraft, const std::string& extraParameters = "",
               std::vector<std::string> refusedTitles = {}) {
        Run run;
        run.aircraft = aircraft;
        run.parameters = kRangeParameters + extraParameters;
        run.refusedTitles = std::move(refusedTitles);
        ProgramRun::start(run);
    }

    std::vector<std::uint32_t> eventsOf(std::uint32_t objectId) const {
        std::vector<std::uint32_t> ids;
        for (const standin::ClientEvent& e : all(&standin::SessionView::clientEvents))
            if (e.objectId == objectId) ids.push_back(e.eventId);
        return ids;
    }

    std::size_t creations() const { return all(&standin::SessionView::creationSendIds).size(); }

};

// The 200-tick state of an airborne aircraft: engines and lights after the two toggles.
bool lf_isStateEvent(std::uint32_t id) { return (id >= 207 && id <= 213) || (id >= 218 && id <= 223); }

TEST_F(LiveTraffic, AnAircraftIsCreatedWithItsLiveryAndPlanLitMovedAndRemovedWhenItsReportsEnd) {
    // KLM101 flies east on, 5 nm west of the user; KLM102, 9.7 nm north-west of it, is last reported at 50 s.
    ASSERT_NO_FATAL_FAILURE(
        start({lf_aircraft(1, 52.29, 4.62), lf_aircraft(2, 52.4229, 4.5766, 45, 0, 50)}));
    ASSERT_TRUE(waitWhileRunning(60s, [&] { return aiObject("KLM101") && aiObject("KLM102"); })) << log();
    const auto created = Clock::now();
    const standin::ObjectState stays = *aiObject("KLM101");
    const standin::ObjectState leaves = *aiObject("KLM102");
    EXPECT_EQ(stays.title, kTitle);
    EXPECT_EQ(leaves.title, kTitle);

    // Each has its flight plan, a file the simulator can read.
    std::map<std::uint32_t, fs::path> plans;
    ASSERT_TRUE(lf_waitFor(5s, [&] {
        for (const standin::ObjectRequest& p : all(&standin::SessionView::flightPlans)) plans[p.objectId] = p.path;
        return plans.count(stays.id) && plans.count(leaves.id);
    }));
    for (const std::uint32_t id : {stays.id, leaves.id}) {
        EXPECT_EQ(plans[id].extension(), ".pln");
        EXPECT_TRUE(fs::exists(plans[id])) << plans[id];
    }

    // Lights toggled twice, then engines and lights set for flying.
    EXPECT_TRUE(lf_waitUntil(created + 8s, [&] {
        const auto ids = eventsOf(stays.id);
        return std::count(ids.begin(), ids.end(), kAllLightsToggle) == 2 &&
               std::count_if(ids.begin(), ids.end(), lf_isStateEvent) >= 2;
    }));
    const auto ids = eventsOf(stays.id);
    auto secondToggle = std::find(ids.begin(), ids.end(), kAllLightsToggle);
    if (secondToggle != ids.end()) secondToggle = std::find(secondToggle + 1, ids.end(), kAllLightsToggle);
    EXPECT_EQ(std::find_if(ids.begin(), secondToggle, lf_isStateEvent), secondToggle) << "state before the toggles";
    EXPECT_NE(std::find(ids.begin(), ids.end(), 221u), ids.end()) << "no ENGINE_AUTO_START";

    // It flies east along its track.
    EXPECT_TRUE(lf_waitUntil(created + 10s, [&] {
        const auto now = aiObject("KLM101");
        return now && now->longitude > stays.longitude + 0.001;
    }));

    // Its reports end: it is removed from the simulator and its flight plan goes with it.
    EXPECT_TRUE(lf_waitUntil(created + 25s, [&] { return !aiObject("KLM102"); })) << log();
    const auto removals = all(&standin::SessionView::removals);
    EXPECT_TRUE(std::any_of(removals.begin(), removals.end(),
                            [&](const standin::ObjectRequest& r) { return r.objectId == leaves.id; }));
    EXPECT_TRUE(lf_waitFor(2s, [&] { return !fs::exists(plans[leaves.id]); })) << plans[leaves.id];
    EXPECT_TRUE(aiObject("KLM101")) << "the aircraft still reported was removed";

    // The simulator's trace (the demo's record of what it did) has the aircraft's creation and its moves.
    std::map<std::string, int> traced;
    std::istringstream trace(readWholeFile(m_root / "trace.jsonl"));
    for (std::string line; std::getline(trace, line);) {
        const auto j = nlohmann::json::parse(line);
        if (j.at("id") != stays.id) continue;
        const bool complete = j.value("title", "") == kTitle && j.value("atcId", "") == "KLM101" &&
                              j.contains("time") && j.contains("lat") && j.contains("lon") && j.contains("alt") &&
                              j.contains("heading");
        ++traced[complete ? j.at("event").get<std::string>() : "incomplete: " + line];
    }
    EXPECT_EQ(traced.size(), 2u) << "events other than create and update, or lines without their fields";
    EXPECT_EQ(traced["create"], 1);
    EXPECT_GT(traced["update"], 0);
}

TEST_F(LiveTraffic, MaxLiveLimitsTheAircraftInTheSimulatorAtOnce) {
    std::vector<nlohmann::json> aircraft;
    for (int n = 1; n <= 5; ++n) aircraft.push_back(lf_aircraft(n, 52.27 + 0.02 * n, 4.62));
    ASSERT_NO_FATAL_FAILURE(start(aircraft, "<parameter name=\"MAX_LIVE\" value=\"2\"/>\n"));
    ASSERT_TRUE(waitWhileRunning(60s, [&] { return !m_sim->aiObjects().empty(); })) << log();
    std::size_t most = 0;
    const auto end = Clock::now() + 6s;
    while (Clock::now() < end) {
        most = std::max(most, m_sim->aiObjects().size());
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(most, 2u);
}

TEST_F(LiveTraffic, TheTwentiethRefusedCreationIsError81) {
    std::vector<nlohmann::json> aircraft;
    for (int n = 1; n <= 22; ++n) aircraft.push_back(lf_aircraft(n, 52.25 + 0.005 * n, 4.62));
    ASSERT_NO_FATAL_FAILURE(start(aircraft, "", {kTitle}));
    const std::string error = "===> Error 81, there are too many liveries that could not be created by P3D!";
    ASSERT_TRUE(waitWhileRunning(60s, [&] { return log().find(error) != std::string::npos; })) << log();
    // Twenty refusals, each logged, and the error with the last of them.
    const std::string text = log();
    const std::string before = text.substr(0, text.find(error));
    std::size_t refusals = 0;
    const std::string refusal = " \"" + kTitle + "\" could not be created by your Sim!";
    for (auto at = before.find(refusal); at != std::string::npos; at = before.find(refusal, at + 1)) ++refusals;
    EXPECT_EQ(refusals, 20u) << text;
    EXPECT_GE(creations(), 20u);
    EXPECT_TRUE(m_sim->aiObjects().empty());
}

}  // namespace
}  // namespace injection_test
