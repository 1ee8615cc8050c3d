#include <gtest/gtest.h>

#include <future>
#include <latch>
#include <stdexcept>
#include <vector>

#include "frame/task_pool.h"

namespace {

// A stop reaches the tasks still queued, which then end at once; the ones running finish; every future gets
// its answer, failures included; and the pool is gone only when every worker is.
TEST(TaskPool, AStopEndsTheQueuedTasksAndEveryFutureIsAnswered) {
    std::latch running(2);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::vector<std::future<int>> results;
    std::future<int> failing;
    {
        TaskPool pool(2);
        for (int i = 0; i < 2; ++i) {
            results.push_back(pool.submit([&, i](std::stop_token) {
                running.count_down();
                released.wait();
                return i;
            }));
        }
        running.wait();  // both workers busy: what follows waits in the queue
        for (int i = 2; i < 4; ++i) {
            results.push_back(pool.submit([i](std::stop_token stop) { return stop.stop_requested() ? -1 : i; }));
        }
        pool.requestStop();
        release.set_value();
        failing = pool.submit([](std::stop_token) -> int { throw std::runtime_error("parse failed"); });
    }
    std::vector<int> answers;
    for (auto& r : results) {
        ASSERT_EQ(r.wait_for(std::chrono::seconds(0)), std::future_status::ready);
        answers.push_back(r.get());
    }
    EXPECT_EQ(answers, (std::vector<int>{0, 1, -1, -1}));
    EXPECT_THROW(failing.get(), std::runtime_error);
}

}  // namespace
