#pragma once

#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// Another process, sleeping until the test ends it. With a path it holds that file open
// first, as a logger or a terminal program that takes no lock would.
class OtherProcess {
public:
    explicit OtherProcess(const std::string& openPath = {}) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            if (!openPath.empty() &&
                ::open(openPath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK) < 0) {
                ::_exit(1);
            }
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = ::write(ready[1], &byte, 1);
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char byte = 0;
        m_bReady = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~OtherProcess() { End(); }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

    void End() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    bool Ready() const { return m_bReady; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    bool m_bReady = false;
};
