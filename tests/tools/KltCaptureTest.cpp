// klt-capture end to end: the real binary receiving from klt-sim on virtual ports, into real
// files.
#include "common/SimulatorProcess.h"
#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using simulator_process::Simulator;
using Clock = std::chrono::steady_clock;

const std::string SAMPLES = KLT_SOURCE_DIR "/samples/";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// klt-capture as a child process, its standard output and error going into files.
class Capture {
public:
    Capture(const std::vector<std::string>& arguments, const fs::path& folder)
        : m_out((folder / "capture.out").string()), m_err((folder / "capture.err").string()) {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(KLT_CAPTURE)};
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(KLT_CAPTURE, argv.data());
            ::_exit(127);
        }
    }

    ~Capture() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // The exit status, or -1 when it has not ended within timeout (or died by a signal).
    int WaitForExit(std::chrono::seconds timeout = std::chrono::seconds(60)) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    void Signal(int signal) { ::kill(m_pid, signal); }

    std::string Output() const { return ReadAll(m_out); }
    std::string Errors() const { return ReadAll(m_err); }

    // Waits until standard error holds text (for timeout at most).
    bool WaitForError(const std::string& text,
                      std::chrono::seconds timeout = std::chrono::seconds(30)) const {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            if (Errors().find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    std::string m_out, m_err;
};

class KltCapture : public TempFolderTest {
protected:
    int Run(const std::vector<std::string>& arguments) {
        Capture capture(arguments, m_folder);
        const int status = capture.WaitForExit();
        m_stdout = capture.Output();
        m_stderr = capture.Errors();
        return status;
    }

    std::string m_stdout, m_stderr;
};

TEST_F(KltCapture, WrongUsageExitsWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--bogus", "ttyS0"},
        {"ttyS0", "a.txt", "b.txt"},
        {"--watch", PathOf("w"), "ttyS0", "out.txt"},
        {"--list", "ttyS0"},
        {"--marker-timeout", "soon", "ttyS0"},
        {"ttyS0", "--watch"},
    };
    for (const auto& arguments : cases) {
        EXPECT_EQ(Run(arguments), 2) << testing::PrintToString(arguments);
        EXPECT_NE(m_stderr.find("Try 'klt-capture --help'"), std::string::npos) << m_stderr;
        EXPECT_EQ(m_stdout, "");
    }
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(m_stdout.find("Usage: klt-capture"), std::string::npos);
}

// The list is the app's port list: a running simulator's port is on it with its description.
TEST_F(KltCapture, ListShowsTheSimulatorsPort) {
    Simulator simulator({SAMPLES + "operation-history.prn"});
    const std::string port = simulator.PortName();
    ASSERT_FALSE(port.empty());
    EXPECT_EQ(Run({"--list"}), 0) << m_stderr;
    bool found = false;
    std::size_t start = 0;
    for (std::size_t end; (end = m_stdout.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = m_stdout.substr(start, end - start);
        if (line.rfind(port + " ", 0) == 0) {
            found = line.find("KLT machine simulator") != std::string::npos;
        }
    }
    EXPECT_TRUE(found) << m_stdout;
}

} // namespace
