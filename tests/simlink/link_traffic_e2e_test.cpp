// AI traffic through the link and the simulator stand-in: a creation going out on the next frame and coming
// back matched by its callsign, refused liveries counted up to error 81, flight plans written and deleted,
// the order of the per-frame flush and the frame a busy queue skips, and the user aircraft's title, model,
// category and wing span.
#include <gtest/gtest.h>

#include "frame/errors.h"
#include "injection/services.h"
#include "link_e2e_env.h"
#include "liveries/services.h"

namespace {

using link_test::eventually;
using namespace sim_msg;

CreateAircraftRequest creation(std::string_view title, const std::string& callsign, std::uint32_t hexid) {
    CreateAircraftRequest c;
    c.position.latitude = 47.4600;
    c.position.longitude = 8.5500;
    c.position.altitude = 1416;
    c.position.heading = 140;
    c.position.onGround = 1;
    c.callsign = callsign;
    c.containerTitle = title;
    c.hexid = hexid;
    return c;
}

std::optional<standin::ObjectState> aiObject(standin::SimulatorStandIn& sim, const std::string& atcId) {
    for (const auto& o : sim.aiObjects())
        if (o.atcId == atcId) return o;
    return std::nullopt;
}

std::size_t newlyAdded() {
    std::lock_guard lock(g_simQueueMutex);
    return g_newlyAddedObjects.size();
}

std::size_t pendingCreations() {
    std::lock_guard lock(g_simQueueMutex);
    return g_pendingCreations.size();
}

class LinkTraffic : public link_test::LinkE2E {
protected:
    void TearDown() override {
        g_liveAc.clear();
        LinkE2E::TearDown();
    }
    // As the work thread does every second: which aircraft are around.
    void askWhatIsInRange() {
        ASSERT_EQ(request([](SimConnectHandle h) { return gf_requestAircraftInRange(h, 100000); }), kSimOk);
    }
    // Collects what the link posts until a message satisfies the predicate.
    template <typename Pred>
    std::optional<SimMessage> awaitPosted(Pred pred) {
        std::optional<SimMessage> found;
        eventually([&] {
            for (const SimMessage& m : posted()) {
                all.push_back(m);
                if (!found && pred(m)) found = m;
            }
            return found.has_value();
        });
        return found;
    }
    std::vector<SimMessage> all;
};

TEST_F(LinkTraffic, ACreationGoesOutOnTheNextFrameAndComesBackMatchedByItsCallsign) {
    connect();
    placeUser();
    static const std::string title = "AI Airbus A320 Swiss";
    gf_queueCreateAircraft(creation(title, "SWR100", 0x4B0100));
    ASSERT_TRUE(eventually([&] { return aiObject(*sim, "SWR100").has_value(); }));
    const standin::ObjectState created = *aiObject(*sim, "SWR100");
    EXPECT_EQ(created.title, title);
    ASSERT_TRUE(eventually([] { return newlyAdded() == 1; }));

    askWhatIsInRange();
    const auto m = awaitPosted([](const SimMessage& m) { return m.type == kSimMsgLiveCreated; });
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->objectId, created.id);
    EXPECT_EQ(m->id, 0x4B0100u);
    EXPECT_EQ(pendingCreations(), 0u);
    // Taken over: control released and the object frozen, the freezes going out on a frame.
    ASSERT_TRUE(eventually([&] { return sim->lastSession()->clientEvents.size() >= 3; }));
    const auto session = *sim->lastSession();
    ASSERT_EQ(session.releases.size(), 1u);
    EXPECT_EQ(session.releases[0].objectId, created.id);
    EXPECT_EQ(session.releases[0].requestId, 103u);
    std::vector<std::uint32_t> events;
    for (const auto& e : session.clientEvents) {
        EXPECT_EQ(e.objectId, created.id);
        EXPECT_EQ(e.data, 1u);
        EXPECT_EQ(e.groupId, 301u);
        events.push_back(e.eventId);
    }
    EXPECT_EQ(events, (std::vector<std::uint32_t>{215, 216, 217}));
}

TEST_F(LinkTraffic, RefusedTitlesComeBackAsFailedCreationsAndTheTwentiethShowsError81) {
    connect();
    placeUser();
    static const std::string broken = "AI Broken Livery";
    sim->refuseTitle(broken);
    const auto createAndRefuse = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            LiveAc ac;
            ac.hexId = 0x4C0000 + i;
            ac.callsign = "BRK" + std::to_string(i);
            ac.type = "A320";
            ac.airline = "BRK";
            ac.title = broken;
            ac.status = kAcCreationQueued;
            g_liveAc.push_back(ac);
            gf_queueCreateAircraft(creation(broken, ac.callsign, ac.hexId));
        }
        // Every refusal has found its pending creation.
        ASSERT_TRUE(eventually([&] {
            return sim->lastSession()->creationSendIds.size() == static_cast<std::size_t>(to) && pendingCreations() == 0;
        }));
    };
    createAndRefuse(0, 19);
    ASSERT_NO_THROW(gf_SimCommands());  // the work thread's tick
    EXPECT_EQ(g_liveriesNotCreated.size(), 19u);
    EXPECT_TRUE(g_liveAc.empty());
    EXPECT_TRUE(caught().shown("BRK7 \"AI Broken Livery\" could not be created by your Sim!"));

    createAndRefuse(19, 20);
    // The user must mend the AI packages: said on the error line, while the traffic goes on.
    ASSERT_NO_THROW(gf_SimCommands());
    EXPECT_EQ(caught().errorsCopy(),
              (std::vector<std::string>{"81: there are too many liveries that could not be created by P3D!, see Log.txt"}));
    EXPECT_EQ(g_liveriesNotCreated.size(), 20u);
    EXPECT_EQ(gf_notCreatedLiveries(), (std::vector<std::string>{"  A320 BRK"}));
}

TEST_F(LinkTraffic, AFlightPlanIsWrittenForACreatedAircraftAndDeletedWithIt) {
    gf_createFlightPlanFolder();
    connect();
    placeUser();
    static const std::string title = "AI Boeing 777 Swiss";
    LiveAc ac;
    ac.hexId = 0x4B0200;
    ac.callsign = "SWR40";
    ac.origin = "LSZH";
    ac.destination = "KJFK";
    ac.category = 3;
    ac.title = title;
    ac.status = kAcCreationQueued;
    g_liveAc.push_back(ac);
    gf_queueCreateAircraft(creation(title, "SWR40", ac.hexId));
    ASSERT_TRUE(eventually([] { return newlyAdded() == 1; }));
    askWhatIsInRange();
    ASSERT_TRUE(eventually([] {
        gf_SimCommands();
        return g_liveAc[0].status == kAcInSim;
    }));
    const std::uint32_t id = g_liveAc[0].objectId;
    const auto plan = g_flightPlanFolder / gf_flightPlanFileName(id);
    ASSERT_TRUE(std::filesystem::exists(plan));
    EXPECT_EQ(testing_support::readWholeFile(plan), gf_flightPlanText(g_liveAc[0]));
    ASSERT_TRUE(eventually([&] { return !sim->lastSession()->flightPlans.empty(); }));
    const auto sent = sim->lastSession()->flightPlans[0];
    EXPECT_EQ(sent.objectId, id);
    EXPECT_EQ(sent.requestId, 110u);
    EXPECT_EQ(sent.path, plan.string());

    gf_queueRemoveAircraft(id);
    ASSERT_TRUE(eventually([&] { return !aiObject(*sim, "SWR40").has_value(); }));
    ASSERT_TRUE(eventually([&] {
        gf_SimCommands();
        return !std::filesystem::exists(plan);
    }));
    gf_removeFlightPlanFolder();
}

TEST_F(LinkTraffic, OneFrameSendsPositionsEventsCreationsRemovalsAndABusyQueueWaitsForTheNext) {
    connect();
    placeUser();
    const std::uint32_t other = sim->addForeignAircraft("AI Piper", "HB-PAA", 47.47, 8.56, 1416, true);
    // Its announcement is in (the dispatch takes the queue lock for it, briefly, as for any announcement).
    ASSERT_TRUE(eventually([] { return newlyAdded() == 1; }));
    static const std::string title = "AI Airbus A320 Swiss";
    std::size_t before = 0;
    {
        // Held by the "work thread": the link must skip its frames meanwhile, and wait for nothing.
        std::lock_guard lock(g_simQueueMutex);
        before = sim->requestCount();
        AircraftUpdate u;
        u.latitude = 47.471;
        u.longitude = 8.561;
        u.altitude = 1416;
        u.objectID = other;
        g_aircraftUpdates.read().push_back(u);
        u.objectID = 1;  // the user
        g_aircraftUpdates.read().push_back(u);
        g_clientEventQueue.push_back({other, kEventFlapsSet, 3072});
        g_clientEventQueue.push_back({other, kEventNavLightsSet, 1});
        g_createQueue.push_back(creation(title, "SWR300", 0x4B0300));
        g_removeQueue.push_back(other);
        g_simFrameRate = 0.0f;
        // Thirty frames pass, and the link answers the simulator all the while.
        ASSERT_TRUE(eventually([] { return g_simFrameRate.load() > 0.0f; }));
        EXPECT_EQ(sim->requestCount(), before);
    }
    ASSERT_TRUE(eventually([&] { return sim->requestCount() >= before + 7; }));
    const auto requests = sim->requests();
    std::vector<std::uint32_t> kinds;
    for (std::size_t i = before; i < requests.size(); ++i) kinds.push_back(wireGet32(&requests[i][8]) & 0x0FFFFFFFu);
    EXPECT_EQ(kinds, (std::vector<std::uint32_t>{kReqSetDataOnSimObject, kReqAIReleaseControl, kReqTransmitClientEvent,
                                                  kReqAIReleaseControl, kReqTransmitClientEvent,
                                                  kReqAICreateNonATCAircraft, kReqAIRemoveObject}));
    const auto session = *sim->lastSession();
    ASSERT_EQ(session.setData.size(), 1u);
    EXPECT_EQ(session.setData[0].objectId, other);
    EXPECT_EQ(session.setData[0].defineId, 402u);
}

TEST_F(LinkTraffic, TheUserAircraftsTitleModelCategoryAndWingSpanComeFromTheSimulator) {
    g_wingspans = {{"B738", 35.8 * 0.5 * 0.0005399568034557236}};
    g_largeModels = {"B738"};
    g_maxHalfWingSpan = 0.05;
    connect();
    EXPECT_FALSE(gf_userHalfWingSpanKnown());
    EXPECT_EQ(g_userCategory.load(), 2u);
    int failures = -1;
    {
        std::lock_guard lock(g_simQueueMutex);
        failures = gf_requestUserTitleAndModel(g_simConnect.load());
    }
    EXPECT_EQ(failures, 0);
    ASSERT_TRUE(eventually([] { return gf_userHalfWingSpanKnown(); }));
    EXPECT_EQ(gf_displayText(&MainWindow::userTitle), "Zentavo Test Aircraft");
    EXPECT_DOUBLE_EQ(g_userHalfWingSpan.load(), 35.8 * 0.5 * 0.0005399568034557236);
    EXPECT_EQ(g_userCategory.load(), 2u);
    EXPECT_TRUE(g_mainWindow.userModelKnown.load());
    EXPECT_TRUE(logHas("          SimConnect: User aircraft title: Zentavo Test Aircraft"));
    EXPECT_TRUE(logHas("          SimConnect: User aircraft model: B738, half wing span: 17.9 meter, category: Large"));
    g_wingspans.clear();
    g_largeModels.clear();
    g_maxHalfWingSpan = 0.0;
}

}  // namespace
