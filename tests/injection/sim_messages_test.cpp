#include "injection/sim_messages.h"

#include <filesystem>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/display.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/timeutil.h"
#include "injection/aircraft_lists.h"
#include "injection/removal.h"
#include "injection/stand_hooks.h"
#include "recording_sink.h"
#include "simlink/flight_plan.h"
#include "simlink/link.h"
#include "simlink/refused_liveries.h"
#include "support/test_support.h"

namespace {

constexpr std::uint32_t kHex = 0x4B0001, kObj = 101;
std::vector<std::uint32_t> g_freedStands;
int g_errorsShown = 0;

LiveAc live(bool airborne, std::uint32_t state = kMoveFollowing, std::uint32_t hexId = kHex) {
    LiveAc ac;
    ac.hexId = hexId;
    ac.callsign = "SWR12";
    ac.status = kAcCreationQueued;
    ac.state = state;
    ac.track.emplace_back().airborne = airborne;
    return ac;
}

void post(std::uint32_t type, std::uint32_t objectId, std::uint32_t id, double a = 0.0, double b = 0.0) {
    gf_postSimMessage(SimMessage{objectId, id, 0, type, a, b});
}

void ticks(int n) {
    for (int i = 0; i < n; ++i) gf_SimCommands();
}

std::vector<std::uint32_t> removals() { return {g_removals.begin(), g_removals.end()}; }

class SimMessages : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        gf_resetLinkState();
        gf_clearRefusedLiveries();
        gf_openLog(m_dir / "Log.txt");
        g_flightPlanFolder = m_dir.path();
        g_LOG.set(true);
        g_NAV_LIGHTS_WHILE_PARKED.set(false);
        g_freedStands.clear();
        g_errorsShown = 0;
        g_standHooks = {};
        g_standHooks.markLive = [](std::uint32_t i, bool on) { if (!on) g_freedStands.push_back(i); };
        gf_setStatusLineHooks({nullptr, [](std::string_view) { ++g_errorsShown; }});
        sink.clear();
    }
    void TearDown() override {
        gf_setStatusLineHooks({});
        g_standHooks = {};
        gf_closeLog();
        lf_clearAiLists();
        gf_clearRefusedLiveries();
        g_flightPlanFolder.clear();
        g_LOG.reset();
        g_NAV_LIGHTS_WHILE_PARKED.reset();
    }
    std::string log() {
        std::ifstream in(m_dir / "Log.txt");
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // The client events sent, as "event:data" in order.
    std::string events() {
        std::string out;
        for (const std::string& l : sink.with("event")) out += l.substr(l.find(' ', 6) + 1).replace(3, 1, ":") + " ";
        return out;
    }

    testing_support::TempDir m_dir;
    RecordingSink sink;
};

TEST_F(SimMessages, CreationMessagesBringTheAircraftIntoTheSimulatorAfter200TicksUnlessItIsToGo) {
    struct Case {
        const char* name;
        std::uint32_t type, objectId;
        bool exists;
        std::uint32_t statusBefore;
        int atTick10;  // 1 removal asked, 2 remove-when-created set, 3 record erased
        std::uint32_t statusAfter;  // before that, after 199 ticks, it is statusBefore
        std::vector<std::uint32_t> removals;
    };
    const Case cases[] = {
        {"live", 0, kObj, true, 1, 0, 2, {}},
        {"live, object id 2 ignored", 0, 2, true, 1, 0, 1, {}},
        {"live, record gone", 0, kObj, false, 0, 0, 0, {kObj}},
        {"live, removal asked while queued", 0, kObj, true, 4, 0, 4, {kObj}},
        {"live, removal asked meanwhile", 0, kObj, true, 1, 1, 4, {kObj}},
        {"live, remove when created", 0, kObj, true, 1, 2, 4, {kObj}},
        {"live, erased meanwhile", 0, kObj, true, 1, 3, 0, {}},
        {"static", 1, kObj, true, 1, 0, 2, {}},
        {"static, removal asked while queued", 1, kObj, true, 4, 0, 4, {kObj}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        AiAc* ac = nullptr;
        if (c.exists && c.type == 0) ac = &g_liveAc.emplace_back(live(true));
        if (c.exists && c.type == 1) ac = &g_staticAc.emplace_back(live(true, kMoveParked, 7));
        if (ac != nullptr) ac->status = c.statusBefore;
        post(c.type, c.objectId, c.type == 0 ? kHex : 7);
        ticks(10);
        if (c.atTick10 == 1) removeAircraftFromSim(*ac);
        if (c.atTick10 == 2) ac->removeWhenCreated = true;
        if (c.atTick10 == 3) {
            g_liveAc.clear();
            ac = nullptr;
        }
        ticks(189);
        if (ac != nullptr && c.atTick10 == 0) {
            EXPECT_EQ(ac->status, c.statusBefore);
        }
        ticks(1);
        if (ac != nullptr) {
            EXPECT_EQ(ac->status, c.statusAfter);
        }
        EXPECT_EQ(removals(), c.removals);
        EXPECT_EQ(events().empty(), c.statusAfter != 2);
        if (c.atTick10 == 3) {
            EXPECT_TRUE(sink.with("now").empty());  // the command ended with its aircraft
        }
        if (ac != nullptr && c.type == 0 && ac->status == kAcRemovalRequested) {
            lf_setFlyingStateInSim(g_liveAc[0]);  // as the movement may: no way back into the simulator
            EXPECT_EQ(ac->status, kAcRemovalRequested);
        }
        TearDown();
    }
}

TEST_F(SimMessages, LightsToggleAtTick50And100ThenTheStateIsSetOnce) {
    g_liveAc.push_back(live(true));
    post(0, kObj, kHex);
    ticks(49);
    EXPECT_EQ(sink.with("static"), std::vector<std::string>{"static 101"});
    EXPECT_TRUE(sink.with("now").empty());
    ticks(51);
    EXPECT_EQ(sink.with("now"), (std::vector<std::string>{"now 101 214 0", "now 101 214 0"}));
    ticks(100);
    const std::string set = events();
    ticks(300);
    EXPECT_FALSE(set.empty());
    EXPECT_EQ(events(), set);
    EXPECT_EQ(sink.with("now").size(), 2u);
}

TEST_F(SimMessages, TheStateAt200MatchesWhereTheAircraftIs) {
    struct Case {
        const char* name;
        bool airborne;
        std::uint32_t state, category, throttle, flaps;
        double altitude, height;
        const char* events;
    };
    const Case cases[] = {
        {"high", true, 4, kCatLarge, 5, 4, 12000, 2500, "221:0 219:0 208:1 207:1 211:0 209:0 210:1 213:0 212:1 "},
        {"low", true, 4, kCatLarge, 5, 4, 3000, 1500, "221:0 219:0 208:1 207:1 211:1 209:0 210:1 213:1 212:0 "},
        {"parked", false, 6, kCatLarge, 5, 4, 0, 0,
         "219:0 222:0 208:0 207:0 211:0 209:0 210:0 213:1 212:1 223:0 218:0 "},
        {"taxiing, unchanged", false, 2, kCatLarge, 0, 1, 0, 0, "219:0 221:0 208:1 207:1 211:0 209:1 210:0 213:1 212:1 "},
        {"taxiing, flaps 1", false, 2, kCatHeavy, 0, 0, 0, 0,
         "219:0 221:0 208:1 207:1 211:0 209:1 210:0 213:1 212:1 218:3072 "},
        {"rotorcraft", false, 2, kCatRotorcraft, 5, 4, 0, 0, "221:0 208:1 207:1 211:0 209:1 210:0 213:1 212:1 223:16383 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        LiveAc& ac = g_liveAc.emplace_back(live(c.airborne, c.state));
        ac.category = c.category;
        ac.throttleState = c.throttle;
        ac.flapsState = c.flaps;
        ac.altitude = c.altitude;
        post(0, kObj, kHex, 0.0, c.height);
        ticks(200);
        EXPECT_EQ(events(), c.events);
        TearDown();
    }
    // A static aircraft at a cargo stand: parked, its cabin dark.
    SetUp();
    AiAc& s = g_staticAc.emplace_back(live(false, kMoveParked, 7));
    s.standCargo = true;
    post(1, kObj, 7);
    ticks(200);
    EXPECT_EQ(events(), "223:0 218:0 222:0 208:0 207:0 211:0 209:0 210:0 213:1 212:0 ");
}

TEST_F(SimMessages, ARemovedObjectEndsItsRecordUnlessItIsToBeCreatedAgain) {
    LiveAc& respawn = g_liveAc.emplace_back(live(true, kMoveFollowing, kHex));
    respawn.objectId = 11;
    respawn.status = kAcRespawn;
    respawn.throttleState = 2;
    respawn.title = "AI Airbus A320 Swiss";
    for (std::uint32_t n : {12u, 13u}) {
        LiveAc& planned = g_liveAc.emplace_back(live(true, kMoveFollowing, kHex + n));
        planned.objectId = n;
        planned.flightPlanWritten = true;
    }
    g_staticAc.emplace_back().objectId = 14;
    testing_support::writeWholeFile(m_dir / "12.pln", "plan");
    std::filesystem::create_directories(m_dir / "13.pln" / "x");  // cannot be deleted
    for (std::uint32_t id : {0u, 11u, 12u, 13u, 14u}) post(2, id, 0);
    ticks(1);
    ASSERT_EQ(g_liveAc.size(), 1u);
    EXPECT_EQ(g_liveAc[0].status, kAcNotInSim);
    EXPECT_EQ(g_liveAc[0].objectId, 0u);
    EXPECT_EQ(g_liveAc[0].throttleState, 5u);
    EXPECT_EQ(g_liveAc[0].flapsState, 4u);
    EXPECT_EQ(g_liveAc[0].title, "AI Airbus A320 Swiss");
    EXPECT_TRUE(g_staticAc.empty());
    EXPECT_FALSE(std::filesystem::exists(m_dir / "12.pln"));
    EXPECT_NE(log().find("13.pln"), std::string::npos);
}

TEST_F(SimMessages, ReportsStaticDataAndBlockingChangeTheAircraft) {
    struct Case {
        double cg, pitchDeg, cgAfter, pitchAfterDeg;
        std::uint32_t status, statusAfter;  // blocked
    };
    const Case cases[] = {{0.5, 0.0, 0.0, 0.0, 0, 0},     {1.0, -0.99, 1.0, -0.99, 1, 1},
                          {35.0, 2.5, 35.0, 2.5, 2, 4},   {40.0, -1.0, 0.0, 0.7, 2, 4},
                          {12.0, 2.51, 12.0, 0.7, 2, 4}};
    constexpr double deg = std::numbers::pi / 180.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cg);
        SetUp();
        LiveAc& ac = g_liveAc.emplace_back(live(false));
        ac.objectId = kObj;
        ac.onGround = true;
        ac.status = c.status;
        post(4, kObj, 0, c.cg, c.pitchDeg * deg);
        post(3, kObj, 1, 1400.0, 3.0);
        post(5, 0, kHex);
        ticks(1);
        EXPECT_DOUBLE_EQ(ac.staticCgHeight, c.cgAfter);
        EXPECT_NEAR(ac.staticPitch, c.pitchAfterDeg * deg, 1e-12);
        EXPECT_DOUBLE_EQ(ac.altitude, c.cgAfter + 1400.0);
        EXPECT_DOUBLE_EQ(ac.heightAboveGround, 3.0);
        EXPECT_EQ(ac.status, c.statusAfter);
        EXPECT_EQ(ac.eraseRequested, c.status == 0);
        TearDown();
    }
}

TEST_F(SimMessages, RefusedCreationsFreeTheStandAndTooManyAreShownOnceWithoutStoppingTheTick) {
    g_liveriesNotCreated.assign(18, "refused before");
    for (std::uint32_t n = 0; n < 3; ++n) {  // the 19th to 21st refusal
        g_liveAc.emplace_back(live(true, kMoveFollowing, kHex + n)).standIndex = 20 + n;
        post(6, 0, kHex + n);
    }
    g_staticAc.emplace_back().hexId = 7;
    post(6, 0, 7);
    g_liveAc.emplace_back(live(true, kMoveFollowing, kHex + 9)).objectId = kObj;
    post(4, kObj, 0, 5.0, 0.0);
    ASSERT_NO_THROW(ticks(1));
    EXPECT_EQ(g_errorsShown, 1);
    ASSERT_EQ(g_liveAc.size(), 1u);
    EXPECT_DOUBLE_EQ(g_liveAc[0].staticCgHeight, 5.0);
    EXPECT_TRUE(g_staticAc.empty());
    EXPECT_EQ(g_freedStands, (std::vector<std::uint32_t>{20, 21, 22}));
}

TEST_F(SimMessages, ACreationNeverAnsweredFreesItsRecordAndStandButNotItsLivery) {
    struct Case {
        const char* name;
        std::uint32_t status, objectId;
        bool removeWhenCreated, isStatic, erased;
    };
    const Case cases[] = {
        {"live, waiting", kAcCreationQueued, 0, false, false, true},
        {"live, removal asked meanwhile", kAcRemovalRequested, 0, true, false, true},
        {"live, answered after all", kAcCreationQueued, kObj, false, false, false},
        {"static, waiting", kAcCreationQueued, 0, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        AiAc& ac = c.isStatic ? g_staticAc.emplace_back(live(false, kMoveParked, 7))
                              : static_cast<AiAc&>(g_liveAc.emplace_back(live(true)));
        ac.status = c.status;
        ac.objectId = c.objectId;
        ac.removeWhenCreated = c.removeWhenCreated;
        ac.standIndex = 20;
        post(kSimMsgCreationUnanswered, 0, ac.hexId);
        ticks(1);
        EXPECT_EQ(g_liveAc.size() + g_staticAc.size(), c.erased ? 0u : 1u);
        EXPECT_EQ(g_freedStands.size(), c.erased && !c.isStatic ? 1u : 0u);
        EXPECT_EQ(log().find("not created by the simulator in time") != std::string::npos, c.erased);
        EXPECT_TRUE(g_liveriesNotCreated.empty());
        TearDown();
    }
}

TEST_F(SimMessages, ASecondObjectForAnAircraftIsRemovedAndTheFirstKept) {
    for (const std::uint32_t type : {kSimMsgLiveCreated, kSimMsgStaticCreated}) {
        SCOPED_TRACE(type);
        SetUp();
        const bool isLive = type == kSimMsgLiveCreated;
        AiAc& ac = isLive ? static_cast<AiAc&>(g_liveAc.emplace_back(live(true)))
                          : g_staticAc.emplace_back(live(false, kMoveParked, 7));
        post(type, kObj, ac.hexId);
        ticks(1);
        post(type, kObj + 1, ac.hexId);
        post(type, kObj, ac.hexId);  // the same object told twice changes nothing
        ticks(1);
        EXPECT_EQ(ac.objectId, kObj);
        EXPECT_EQ(removals(), std::vector<std::uint32_t>{kObj + 1});
        EXPECT_NE(log().find("created twice: object 101 kept, object 102 removed"), std::string::npos);
        EXPECT_EQ(sink.with("static").size(), isLive ? 1u : 0u);  // one creation handled
        TearDown();
    }
}

TEST_F(SimMessages, AFailingMessageIsLoggedAndTheOthersAreHandled) {
    // The parking hook posts a message of its own (posting while handling must not wait), then throws.
    g_standHooks.dropParkingEntries = [](std::uint32_t) {
        post(4, kObj, 0, 6.0, 0.0);
        throw std::runtime_error("parking list gone");
    };
    g_weekSlotNow.store(77);
    g_liveAc.push_back(live(false, kMoveParked));
    g_liveAc.push_back(live(true, kMoveFollowing, kHex + 1));
    post(0, kObj, kHex);
    post(0, kObj + 1, kHex + 1);
    ticks(2);
    EXPECT_NE(log().find("gf_SimCommands: parking list gone"), std::string::npos);
    EXPECT_EQ(g_liveAc[0].placedSlot, 77u);
    EXPECT_DOUBLE_EQ(g_liveAc[0].staticCgHeight, 6.0);
    EXPECT_EQ(sink.with("static"), std::vector<std::string>{"static 102"});
}

}  // namespace
