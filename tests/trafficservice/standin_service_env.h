// The client against the live-traffic stand-in: the service world of ServiceEnv plus the stand-in on
// loopback, playing the synthetic scenario frozen at one minute with a fixed wall clock, at a fast pace, and
// the program pointed at it.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "frame/timeutil.h"
#include "service/service_standin.h"
#include "service_test_env.h"

namespace service_test {

inline constexpr double kNow = 1733580000.0;  // Sat 7 Dec 2024 14:00:00 UTC, half-hour slot 28
inline constexpr double kLszhLat = 47.4647, kLszhLon = 8.5492;

// What one hand-over of the traffic loop brought.
struct Batch {
    std::int32_t delay = 0;
    std::set<std::uint32_t> hexIds;
};

class StandinServiceEnv : public ServiceEnv {
protected:
    void SetUp() override {
        ServiceEnv::SetUp();
        live().setScenario(standin::gf_loadScenario(std::filesystem::path(ZNTV_SOURCE_DIR) /
                                                    "testbed/fixtures/synthetic_scenario.json"));
        live().setTimeScale(0);
        live().setScenarioTime(60);
        live().setWallClock(kNow);
        live().setPace(20, 20);
        m_service.start();
        m_url.emplace("ZNTV_SERVICE_URL", m_service.serviceRoot());
        g_rtLicense = "LIC-1";
        // The pace until a reply gives one (a refused first request gives none).
        g_weatherClient.wrrl = 20;
        g_trafficClient.rrl = 20;
        placeUser(kLszhLat, kLszhLon, 1416);
        gf_setTrafficBox();
    }

    void TearDown() override {
        stopThreads();
        m_service.stop();
        gf_setSlotClock({});
        ServiceEnv::TearDown();
    }

    standin::LiveTrafficServer& live() { return m_service.live(); }
    std::vector<standin::RecordedRequest> requestsTo(const std::string& endpoint) {
        std::vector<standin::RecordedRequest> found;
        for (auto& r : m_service.requests().all()) {
            if (r.path == "/v4/" + endpoint) found.push_back(std::move(r));
        }
        return found;
    }
    std::size_t countOf(const std::string& endpoint) { return m_service.requests().count("/v4/" + endpoint); }

    // Logs both clients in as the start-up does.
    void login() {
        gf_authenticateOrThrow();
        ASSERT_TRUE(g_trafficClient.loggedIn());
    }

    // Every batch the traffic loop hands over, recorded instead of going to the injection.
    void recordBatches() {
        gf_setTrafficBatchHandOver([this](TrafficClient& client, std::int32_t delay) {
            Batch b{delay, {}};
            for (const TrafficRecord& r : client.liveRecords) b.hexIds.insert(r.hexId);
            std::lock_guard lock(m_batchMutex);
            m_batches.push_back(std::move(b));
        });
    }
    std::vector<Batch> batches() {
        std::lock_guard lock(m_batchMutex);
        return m_batches;
    }
    std::size_t batchCount() {
        std::lock_guard lock(m_batchMutex);
        return m_batches.size();
    }

    // The readers as the run-time runs them: joinable threads with a stop token; each marks when it ended.
    void startReaders(bool weather = true, bool traffic = true) {
        if (weather) {
            m_weatherDone = false;
            m_weatherThread = std::jthread([this](std::stop_token stop) {
                gf_weatherReader(stop);
                m_weatherDone = true;
            });
        }
        if (traffic) {
            m_trafficDone = false;
            m_trafficThread = std::jthread([this](std::stop_token stop) {
                gf_trafficReader(stop);
                m_trafficDone = true;
            });
        }
    }
    void stopThreads() {
        for (std::jthread* t : {&m_weatherThread, &m_trafficThread}) {
            if (t->joinable()) {
                t->request_stop();
                t->join();
            }
        }
    }
    bool bothEnded() {
        return waitFor([&] { return m_weatherDone.load() && m_trafficDone.load(); });
    }

    standin::ServiceStandin m_service;
    std::optional<testing_support::ScopedEnv> m_url;
    std::mutex m_batchMutex;
    std::vector<Batch> m_batches;
    std::atomic<bool> m_weatherDone{true}, m_trafficDone{true};
    std::jthread m_weatherThread, m_trafficThread;
};

// A logged-in world in which a test runs one loop of a client (the weather loop or the traffic loop) on a
// thread of its own; TearDown stops it through the client's stop flag.
template <class Client, Client& client, bool (Client::*loop)(std::int32_t&)>
class ClientLoopEnv : public StandinServiceEnv {
protected:
    void SetUp() override {
        StandinServiceEnv::SetUp();
        login();
    }
    void TearDown() override {
        stopLoop();
        StandinServiceEnv::TearDown();
    }

    void startLoop() {
        m_status = 0;
        m_done = false;
        m_loop = std::jthread([this] {
            (client.*loop)(m_status);
            m_done = true;
        });
    }
    void stopLoop() {
        if (!m_loop.joinable()) return;
        client.stop = true;
        m_loop.join();
    }
    bool loopEnded() { return waitFor([&] { return m_done.load(); }); }

    std::int32_t m_status = 0;
    std::atomic<bool> m_done{true};
    std::jthread m_loop;
};

}  // namespace service_test
