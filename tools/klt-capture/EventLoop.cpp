#include "EventLoop.h"

#include <algorithm>

void CEventLoop::Post(Task task) {
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void CEventLoop::SetTimer(unsigned id, unsigned periodMs) {
    const Clock::duration period = std::chrono::milliseconds(periodMs);
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_timers[id] = {Clock::now() + period, period};
    }
    m_wake.notify_one();
}

void CEventLoop::KillTimer(unsigned id) {
    const std::lock_guard<std::mutex> lock(m_lock);
    m_timers.erase(id);
}

bool CEventLoop::IsTimerSet(unsigned id) {
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_timers.count(id) != 0;
}

bool CEventLoop::Next(Task& task, unsigned& timerId) {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        // Tasks first: data posted before a timer fell due is handled before it, as a
        // message queue handles posted messages before WM_TIMER.
        if (!m_tasks.empty()) {
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
            return true;
        }
        const auto earliest =
            std::min_element(m_timers.begin(), m_timers.end(), [](const auto& a, const auto& b) {
                return a.second.due < b.second.due;
            });
        if (earliest == m_timers.end()) {
            m_wake.wait(lock);
            continue;
        }
        if (Clock::now() >= earliest->second.due) {
            timerId = earliest->first;
            earliest->second.due += earliest->second.period;
            // A loop that fell behind does not fire a burst to catch up.
            if (earliest->second.due < Clock::now()) {
                earliest->second.due = Clock::now() + earliest->second.period;
            }
            return false;
        }
        m_wake.wait_until(lock, earliest->second.due);
    }
}

void CEventLoop::Run(const std::function<bool()>& done) {
    while (!done()) {
        Task task;
        unsigned timerId = 0;
        if (Next(task, timerId)) {
            task();
        } else {
            m_onTimer(timerId);
        }
    }
}

void CEventLoop::RunPending() {
    std::deque<Task> tasks;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        tasks.swap(m_tasks);
    }
    for (Task& task : tasks) {
        task();
    }
}
