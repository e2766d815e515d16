#include "core/app/TerminationWatch.h"

#include <windows.h>

#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>

namespace kltapp {
namespace {

class CWin32TerminationWatch;

// The console's handler can reach no object but this one, which the lock keeps alive while
// the handler reports to it.
std::mutex g_watchLock;
CWin32TerminationWatch* g_watch = nullptr; // guarded by g_watchLock

// The requests of a console program. Ctrl+C and Ctrl+Break are reported as SIGINT; closing
// the console window, logging off and shutting down as SIGTERM, the numbers that the C
// library gives them.
int RequestNumber(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return SIGINT;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return SIGTERM;
    default:
        return 0;
    }
}

class CWin32TerminationWatch final : public CTerminationWatch {
public:
    bool Start(std::function<void(int)> onRequest) {
        {
            const std::lock_guard<std::mutex> lock(g_watchLock);
            if (g_watch != nullptr) {
                return false; // another watch is active
            }
            g_watch = this;
        }
        m_thread = std::thread([this, onRequest = std::move(onRequest)] { Run(onRequest); });
        if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
            Stop();
            return false;
        }
        m_bInstalled = true;
        return true;
    }

    ~CWin32TerminationWatch() override {
        if (m_bInstalled) {
            ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
            Stop();
        }
    }

private:
    // Runs on a thread that the system starts for each event.
    static BOOL WINAPI OnConsoleEvent(DWORD event) {
        const int number = RequestNumber(event);
        {
            const std::lock_guard<std::mutex> lock(g_watchLock);
            if (number == 0 || g_watch == nullptr) {
                return FALSE; // the next handler, in the end the system's: the process ends
            }
            g_watch->Report(number);
        }
        if (number == SIGTERM) {
            // The system ends the process as soon as this returns (or after a few seconds):
            // holding it here gives the process that time to make its data safe and end
            // itself.
            ::Sleep(INFINITE);
        }
        return TRUE;
    }

    void Report(int number) {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_requests.push_back(number);
        }
        m_wake.notify_one();
    }

    void Stop() {
        {
            const std::lock_guard<std::mutex> lock(g_watchLock);
            g_watch = nullptr;
        }
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_bStopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void Run(const std::function<void(int)>& onRequest) {
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return m_bStopping || !m_requests.empty(); });
            if (m_bStopping) {
                return;
            }
            const int number = m_requests.front();
            m_requests.pop_front();
            lock.unlock();
            onRequest(number);
            lock.lock();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<int> m_requests; // guarded by m_lock
    bool m_bStopping = false;   // guarded by m_lock
    bool m_bInstalled = false;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<CTerminationWatch> WatchTermination(std::function<void(int)> onRequest) {
    auto watch = std::make_unique<CWin32TerminationWatch>();
    if (!watch->Start(std::move(onRequest))) {
        return nullptr;
    }
    return watch;
}

} // namespace kltapp
