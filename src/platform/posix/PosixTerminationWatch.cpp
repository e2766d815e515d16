#include "core/app/TerminationWatch.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kltapp {
namespace {

constexpr int WATCHED_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT};

// The handler's only way out: the write end of the watch's pipe. A handler can reach no
// object, so this one descriptor is all the state it has.
std::atomic<int> g_notifyFd{-1};

extern "C" void OnTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = g_notifyFd.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

// Byte that asks the watch thread to end; no signal has number 0.
constexpr unsigned char STOP = 0;

class CPosixTerminationWatch final : public CTerminationWatch {
public:
    bool Start(std::function<void(int)> onRequest) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        m_readFd = fds[0];
        m_writeFd = fds[1];
        // A burst of signals must never block the handler.
        ::fcntl(m_writeFd, F_SETFL, O_NONBLOCK);
        int expected = -1;
        if (!g_notifyFd.compare_exchange_strong(expected, m_writeFd)) {
            return false; // another watch is active
        }
        m_bInstalled = true;
        m_thread = std::thread([this, onRequest = std::move(onRequest)] { Run(onRequest); });
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        ::sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(WATCHED_SIGNALS); ++i) {
            ::sigaction(WATCHED_SIGNALS[i], &action, &m_previous[i]);
        }
        return true;
    }

    ~CPosixTerminationWatch() override {
        if (m_bInstalled) {
            for (std::size_t i = 0; i < std::size(WATCHED_SIGNALS); ++i) {
                ::sigaction(WATCHED_SIGNALS[i], &m_previous[i], nullptr);
            }
            g_notifyFd.store(-1);
            // The pipe may be full of signal bytes; the thread drains it, so keep trying.
            while (::write(m_writeFd, &STOP, 1) != 1 && (errno == EAGAIN || errno == EINTR)) {
                ::usleep(1000);
            }
            m_thread.join();
        }
        if (m_readFd >= 0) {
            ::close(m_readFd);
        }
        if (m_writeFd >= 0) {
            ::close(m_writeFd);
        }
    }

private:
    void Run(const std::function<void(int)>& onRequest) {
        for (;;) {
            unsigned char number = STOP;
            const ssize_t count = ::read(m_readFd, &number, 1);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count != 1 || number == STOP) {
                return;
            }
            onRequest(number);
        }
    }

    int m_readFd = -1;
    int m_writeFd = -1;
    bool m_bInstalled = false;
    std::thread m_thread;
    struct sigaction m_previous[std::size(WATCHED_SIGNALS)]{};
};

} // namespace

std::unique_ptr<CTerminationWatch> WatchTermination(std::function<void(int)> onRequest) {
    auto watch = std::make_unique<CPosixTerminationWatch>();
    if (!watch->Start(std::move(onRequest))) {
        return nullptr;
    }
    return watch;
}

} // namespace kltapp
