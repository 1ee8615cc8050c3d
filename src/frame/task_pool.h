// A small fixed set of worker threads for the parallel parts of the start-up scans (one task per livery
// configuration file, one per scenery file). Every worker is joined before the pool is gone, so no task can
// outlive the lists it fills; a stop reaches the tasks that have not started yet, which then end at once.
//
// One thread drives a pool: it submits and it destroys. Tasks may run on any worker, in any order; the
// driver collects their futures in the order it submitted them, which is what keeps a scan's result
// independent of the order in which the tasks finish.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

class TaskPool {
public:
    // At least one worker. The queue holds at most `queued` waiting tasks (at least one; by default as many
    // as there are workers): a driver that submits faster than the workers can run waits in submit.
    explicit TaskPool(std::uint32_t workers, std::size_t queued = 0);
    // Runs what is still queued (after a stop the tasks see it and end at once), then joins every worker.
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // Queues f(stop_token); its result or its exception comes through the future.
    template <class F>
    auto submit(F f) -> std::future<std::invoke_result_t<F&, std::stop_token>> {
        using R = std::invoke_result_t<F&, std::stop_token>;
        auto task = std::make_unique<Task<F, R>>(std::move(f));
        std::future<R> result = task->promise.get_future();
        lf_push(std::move(task));
        return result;
    }

    void requestStop() { m_stop.request_stop(); }
    std::stop_token stopToken() const { return m_stop.get_token(); }
    std::uint32_t workers() const { return static_cast<std::uint32_t>(m_workers.size()); }

private:
    struct TaskBase {
        virtual ~TaskBase() = default;
        virtual void run(std::stop_token stop) = 0;
    };
    template <class F, class R>
    struct Task final : TaskBase {
        explicit Task(F f) : fn(std::move(f)) {}
        void run(std::stop_token stop) override {
            try {
                if constexpr (std::is_void_v<R>) {
                    fn(stop);
                    promise.set_value();
                } else {
                    promise.set_value(fn(stop));
                }
            } catch (...) {
                promise.set_exception(std::current_exception());
            }
        }
        F fn;
        std::promise<R> promise;
    };

    void lf_push(std::unique_ptr<TaskBase> task);
    void lf_work();

    std::mutex m_mutex;
    std::condition_variable m_ready;  // a task was queued, or the pool closes
    std::condition_variable m_room;   // a task was taken from the queue
    std::deque<std::unique_ptr<TaskBase>> m_queue;
    std::size_t m_capacity;
    bool m_closing = false;
    std::stop_source m_stop;
    std::vector<std::jthread> m_workers;
};
