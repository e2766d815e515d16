#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

// The tool's UI thread without a window: tasks posted from any thread and timers by id, run
// one at a time on the thread that calls Run. Timers repeat every period until killed, and
// setting a timer that is already set restarts its period, as window timers do. Nothing
// wakes the thread while there is nothing to do: with no task and no timer it sleeps until
// one is posted.
class CEventLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Task = std::function<void()>;
    using TimerHandler = std::function<void(unsigned id)>;

    explicit CEventLoop(TimerHandler onTimer) : m_onTimer(std::move(onTimer)) {}

    // From any thread.
    void Post(Task task);

    // From any thread; the handler runs on the loop's thread.
    void SetTimer(unsigned id, unsigned periodMs);
    void KillTimer(unsigned id);
    bool IsTimerSet(unsigned id);

    // Runs tasks and timers until done() is true after one of them; done is checked on the
    // loop's thread only, so a nested Run (a modal wait) ends where its own condition holds.
    void Run(const std::function<bool()>& done);

    // Runs the tasks posted so far, and no timer: what a message box's loop would handle
    // before the code that showed it goes on.
    void RunPending();

private:
    struct Timer {
        Clock::time_point due;
        Clock::duration period;
    };

    // Takes the next thing to do: a posted task, or the id of a timer that is due.
    bool Next(Task& task, unsigned& timerId);

    TimerHandler m_onTimer;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;           // guarded by m_lock
    std::map<unsigned, Timer> m_timers; // guarded by m_lock
};
