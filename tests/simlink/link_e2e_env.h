// The link thread against the in-process simulator stand-in, reached over the default pipe: no
// SimConnect.cfg anywhere, the shell folders and the pipe folder in temporary folders, the retry of the
// open shortened, and a fast simulator (50 frames and 25 "seconds" a second).
#pragma once

#include <memory>

#include "link_test_env.h"
#include "sim_messages.h"
#include "standin.h"

namespace link_test {

class LinkE2E : public LinkEnv {
protected:
    void SetUp() override {
        LinkEnv::SetUp();
        gf_setLinkRetryInterval(std::chrono::milliseconds(20));
        sim_msg::posted();
    }
    void TearDown() override {
        gf_stopLinkThread();
        if (sim) sim->stop();
        sim.reset();
        sim_msg::posted();
        gf_setLinkRetryInterval(std::chrono::milliseconds(1000));
        LinkEnv::TearDown();
    }

    static standin::Options fastOptions() {
        standin::Options o = standin::defaultOptions();
        o.listenIPv4 = o.listenIPv6 = false;
        o.frameRate = 50;
        o.secondInterval = std::chrono::milliseconds(40);
        return o;
    }
    void startSim(standin::Options o = fastOptions()) {
        sim = std::make_unique<standin::SimulatorStandIn>(std::move(o));
        ASSERT_TRUE(sim->start());
    }
    void startLink() { gf_startLinkThread(SimClient); }
    // The stand-in and the link, connected and past the simulator's name check.
    void connect(standin::Options o = fastOptions()) {
        startSim(std::move(o));
        startLink();
        ASSERT_TRUE(eventually([] { return g_simConnected.load() && g_simConnect.load() != SimConnectHandle::None; }));
        // The registration has arrived (the group's priority is its last request): the simulator now sends
        // what the program subscribed to.
        ASSERT_TRUE(eventually([&] {
            const auto s = sim->lastSession();
            return s && s->groupPriorities.count(kAiEventGroup) == 1;
        }));
    }
    // A request as the work thread makes it: under the queue lock, on the current connection.
    template <typename Request>
    SimResult request(Request&& r) {
        std::lock_guard lock(g_simQueueMutex);
        return gf_withSimConnect(std::forward<Request>(r));
    }
    // The user aircraft's position asked for and arrived: the link knows the user's object from then on.
    void placeUser() {
        gf_getUserPosition();
        ASSERT_TRUE(eventually([] { return gf_getUserPosition().latitude > 1.0 && g_userObjectId.load() == 1; }));
    }
    std::uint32_t exitReason() { return caught().exitRequests > 0 ? g_exitReason.load() : 0u; }

    testing_support::TempDir runtime, docs, publicDocs;
    testing_support::ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", runtime.path().string()};
    testing_support::ScopedEnv docsEnv{"XDG_DOCUMENTS_DIR", docs.path().string()};
    testing_support::ScopedEnv publicEnv{"XDG_PUBLICSHARE_DIR", publicDocs.path().string()};
    std::unique_ptr<standin::SimulatorStandIn> sim;
};

}  // namespace link_test
