#pragma once

// klt-sim (KLT_SIM_PATH) started by a test as a real process, with a plain fork and exec so
// that the sanitizers follow it.

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace simulator_process {

using Clock = std::chrono::steady_clock;
constexpr auto ENOUGH_TIME = std::chrono::seconds(10);

// The next line a child writes to fd, without its line end; empty when none came in time or
// the child closed its end.
inline std::string ReadLine(int fd, Clock::duration timeout) {
    std::string line;
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0) {
            continue;
        }
        char c;
        if (::read(fd, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return {};
}

// klt-sim as a child process. Its standard output is read here (the port name); its
// standard error is read too when asked for, else it goes to the test's log.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> arguments, bool captureErrors = false) {
        int out[2];
        int err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            // Ends with the test even when the test dies before it can stop the simulator.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(out[1], STDOUT_FILENO);
            if (captureErrors) {
                ::dup2(err[1], STDERR_FILENO);
            }
            for (int fd : {out[0], out[1], err[0], err[1]}) {
                ::close(fd);
            }
            std::vector<char*> argv{const_cast<char*>(KLT_SIM_PATH)};
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execv(KLT_SIM_PATH, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }

    // Asked to end like Ctrl+C would (it removes its port from the registry); killed if it
    // does not.
    ~Simulator() {
        if (m_pid > 0 && !m_exited && Terminate() == -1 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
        ::close(m_err);
    }

    pid_t Pid() const { return m_pid; }

    // The first line of its output: the port it plays into. Empty when none came.
    std::string PortName() { return ReadLine(m_out, ENOUGH_TIME); }

    // Its exit status, or -1 when it has not ended in time (or ended by a signal).
    int WaitForExit() {
        const auto deadline = Clock::now() + ENOUGH_TIME;
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    int Terminate() {
        ::kill(m_pid, SIGTERM);
        return WaitForExit();
    }

    std::string ErrorOutput() {
        std::string text;
        char buffer[256];
        ssize_t count;
        while ((count = ::read(m_err, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
        return text;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    bool m_exited = false;
};

} // namespace simulator_process
