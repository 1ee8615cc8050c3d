#include "frame/task_pool.h"

#include <algorithm>

TaskPool::TaskPool(std::uint32_t workers, std::size_t queued)
    : m_capacity(queued > 0 ? queued : std::max<std::uint32_t>(1, workers)) {
    const std::uint32_t count = std::max<std::uint32_t>(1, workers);
    m_workers.reserve(count);
    try {
        for (std::uint32_t i = 0; i < count; ++i) m_workers.emplace_back([this] { lf_work(); });
    } catch (...) {
        // A thread that could not be made: the ones already running must not be left behind unjoined.
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_ready.notify_all();
        for (std::jthread& t : m_workers) t.join();
        throw;
    }
}

TaskPool::~TaskPool() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_ready.notify_all();
    for (std::jthread& t : m_workers) t.join();
}

void TaskPool::lf_push(std::unique_ptr<TaskBase> task) {
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [this] { return m_queue.size() < m_capacity; });
        m_queue.push_back(std::move(task));
    }
    m_ready.notify_one();
}

void TaskPool::lf_work() {
    for (;;) {
        std::unique_ptr<TaskBase> task;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_closing || !m_queue.empty(); });
            // Closing still drains the queue: every future handed out gets its answer.
            if (m_queue.empty()) return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_room.notify_one();
        task->run(m_stop.get_token());
    }
}
