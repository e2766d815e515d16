// The app ended from outside during a reception: by a termination request (it stops the
// reception and keeps the history for the next start) or by SIGKILL (the last periodic write
// is all there is). The app runs as a process of its own (klt_reception_child).
#include "common/SimulatorProcess.h"
#include "core/reception/ComAPI.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string SamplePath(const char* name) {
    return std::string(KLT_SOURCE_DIR) + "/samples/" + name;
}

// The child app, its output read line by line.
class ChildApp {
public:
    ChildApp(const std::string& stateHome, std::vector<std::string> arguments) {
        const std::string command = "XDG_STATE_HOME='" + stateHome +
                                    "' QT_QPA_PLATFORM=offscreen exec '" KLT_RECEPTION_CHILD "'";
        std::string line = command;
        for (const std::string& argument : arguments) {
            line += " '" + argument + "'";
        }
        int out[2];
        if (::pipe(out) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        m_out = out[0];
    }
    ~ChildApp() {
        if (m_pid > 0 && !m_bExited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
    }

    pid_t Pid() const { return m_pid; }

    // The next line of output; empty when none came in time.
    std::string NextLine(int timeoutMs = 30000) {
        return simulator_process::ReadLine(m_out, std::chrono::milliseconds(timeoutMs));
    }

    // Waits for a line "lines N" with N at least count.
    bool WaitForLines(std::size_t count) {
        for (std::string line = NextLine(); !line.empty(); line = NextLine()) {
            std::size_t lines = 0;
            if (std::sscanf(line.c_str(), "lines %zu", &lines) == 1 && lines >= count) {
                return true;
            }
        }
        return false;
    }

    // The raw wait status, or -1 when it has not ended in time.
    int Wait() {
        const auto deadline = simulator_process::Clock::now() + std::chrono::seconds(30);
        while (simulator_process::Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_bExited = true;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_bExited = false;
};

// Whole lines of the full history, from its start.
bool IsLinePrefix(const std::string& part, const std::string& whole) {
    return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0 &&
           (part.empty() || part.compare(part.size() - 2, 2, "\r\n") == 0);
}

class Termination : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_state.isValid());
        m_recoveryPath = StatePath("klt/unsaved-history.txt");
    }
    std::string StatePath(const char* name) const { return m_state.filePath(name).toStdString(); }

    QTemporaryDir m_state;
    std::string m_recoveryPath;
    const std::string m_full = ReadFile(SamplePath("long-history.txt"));
};

TEST_F(Termination, ARequestDuringAReceptionKeepsTheHistoryForTheNextStart) {
    simulator_process::Simulator simulator(
        {"--rate", "1000", "--delay", "0.2", SamplePath("long-history.prn")});
    const std::string port = simulator.PortName();
    ASSERT_FALSE(port.empty());
    const std::string atExit = StatePath("at-exit.txt");
    {
        // A period far longer than the test: only the termination writes the file.
        ChildApp app(m_state.path().toStdString(), {"receive", port, atExit, "600000"});
        ASSERT_TRUE(app.WaitForLines(20));
        ASSERT_EQ(::kill(app.Pid(), SIGTERM), 0);
        EXPECT_EQ(app.NextLine(), "ended port 0 reader 0");
        const int status = app.Wait();
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    }
    // What a save would have written, and a start of the history.
    const std::string kept = ReadFile(m_recoveryPath);
    EXPECT_TRUE(kept == ReadFile(atExit));
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), m_full.size());
    EXPECT_TRUE(IsLinePrefix(kept, m_full));
    struct stat status {};
    ASSERT_EQ(::stat(m_recoveryPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // The port is free again (the app's exclusive use ended with it).
    CComAPI other;
    EXPECT_EQ(other.OpenAndDrain(port.c_str()), 1);
    other.ClosePort();
    simulator.Terminate();

    // The next start offers it; taken, it is an unsaved untitled history.
    const std::string reopened = StatePath("reopened.txt");
    {
        ChildApp app(m_state.path().toStdString(), {"recover", "yes", reopened});
        EXPECT_EQ(app.NextLine(), "asked 1 modified 1 title 無題");
        const int status = app.Wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_TRUE(ReadFile(reopened) == kept);
    EXPECT_TRUE(ReadFile(m_recoveryPath) == kept) << "kept until saved or given up";

    // Declined, it is gone, and the start after that asks nothing.
    for (const char* expected :
         {"asked 1 modified 0 title 無題", "asked 0 modified 0 title 無題"}) {
        ChildApp app(m_state.path().toStdString(), {"recover", "no", StatePath("empty.txt")});
        EXPECT_EQ(app.NextLine(), expected);
        app.Wait();
        EXPECT_FALSE(std::ifstream(m_recoveryPath).good());
    }
}

TEST_F(Termination, SigkillLosesAtMostWhatCameSinceTheLastPeriodicWrite) {
    simulator_process::Simulator simulator(
        {"--rate", "1000", "--delay", "0.2", SamplePath("long-history.prn")});
    const std::string port = simulator.PortName();
    ASSERT_FALSE(port.empty());
    ChildApp app(m_state.path().toStdString(), {"receive", port, StatePath("unused.txt"), "300"});
    // Several periods of receiving.
    ASSERT_TRUE(app.WaitForLines(60));
    ASSERT_EQ(::kill(app.Pid(), SIGKILL), 0);
    const int status = app.Wait();
    ASSERT_TRUE(WIFSIGNALED(status));
    // A killed app leaves its port lock behind; the next opener takes it for stale.
    std::remove(("/var/lock/LCK.." + port.substr(port.rfind('/') + 1)).c_str());
    const std::string kept = ReadFile(m_recoveryPath);
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), m_full.size());
    EXPECT_TRUE(IsLinePrefix(kept, m_full));
    // No half-written temporary file is taken for it: only the file itself is there.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(StatePath("klt"))) {
        entries += entry.path().filename().string().rfind(".unsaved-history.txt.", 0) == 0 ? 0 : 1;
    }
    EXPECT_EQ(entries, 1);
}

} // namespace
