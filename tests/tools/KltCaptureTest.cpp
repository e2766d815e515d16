// klt-capture end to end: the real binary receiving from klt-sim on virtual ports, into real
// files.
#include "common/SimulatorProcess.h"
#include "common/TempFolder.h"
#include "core/text/Cp932Utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
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

// A port's name as history files carry it: pts/3 gives pts-3.
std::string FileStem(std::string port) {
    std::replace(port.begin(), port.end(), '/', '-');
    return port;
}

// The history of a sample as klt-decode writes it from the same stream.
std::string Decoded(const std::string& stream, const fs::path& folder) {
    const std::string out = (folder / "decoded.txt").string();
    const std::string command = std::string(KLT_DECODE) + " '" + stream + "' '" + out + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::string text = ReadAll(out);
    fs::remove(out);
    return text;
}

// Simulator options that play fast, yet keep the marker's chunk within the 511 bytes the
// wait keeps even when a loaded machine delays the reader.
std::vector<std::string> FastPlay(const std::string& stream, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments{"--rate", "1000", "--delay", "0.2"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.push_back(stream);
    return arguments;
}

// The history files of a watch folder, oldest name first (names carry the time).
std::vector<std::string> HistoryFiles(const fs::path& folder, const std::string& suffix) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            name[0] != '.') {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool WaitForFiles(const fs::path& folder, std::size_t count,
                  std::chrono::seconds timeout = std::chrono::seconds(90)) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (HistoryFiles(folder, ".txt").size() >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Once: the file (or standard output) holds what klt-decode makes of the same stream, and
// the UTF-8 copy is its conversion.
TEST_F(KltCapture, OnceWritesTheHistoryAsKltDecodeDoes) {
    const std::string stream = SAMPLES + "operation-history.prn";
    const std::string expected = Decoded(stream, m_folder);
    ASSERT_FALSE(expected.empty());
    {
        Simulator simulator(FastPlay(stream));
        const std::string port = simulator.PortName();
        ASSERT_FALSE(port.empty());
        EXPECT_EQ(Run({"--utf8", port, PathOf("history.txt")}), 0) << m_stderr;
        EXPECT_TRUE(ReadAll(PathOf("history.txt")) == expected);
        EXPECT_TRUE(ReadAll(PathOf("history.utf8.txt")) == cp932::ToUtf8(expected));
        EXPECT_EQ(m_stdout, "");
        // Not a terminal: one line per event.
        EXPECT_NE(m_stderr.find("marker seen"), std::string::npos) << m_stderr;
        EXPECT_NE(m_stderr.find("saved " + PathOf("history.txt") + " with "), std::string::npos)
            << m_stderr;
    }
    {
        Simulator simulator(FastPlay(stream));
        const std::string port = simulator.PortName();
        EXPECT_EQ(Run({port}), 0) << m_stderr;
        EXPECT_TRUE(m_stdout == expected);
    }
}

// No marker in time: status 3, and no file.
TEST_F(KltCapture, NoMarkerInTimeExitsWithThree) {
    Simulator simulator({"--delay", "60", SAMPLES + "operation-history.prn"});
    const std::string port = simulator.PortName();
    const auto start = Clock::now();
    EXPECT_EQ(Run({"--marker-timeout", "1", port, PathOf("history.txt")}), 3) << m_stderr;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(fs::exists(PathOf("history.txt")));
    EXPECT_NE(m_stderr.find("受信タイムアウトしました。"), std::string::npos) << m_stderr;
}

// A port that cannot be had: the app's refusal on standard error, status 1. So is a folder
// as the output, before anything is received.
TEST_F(KltCapture, RefusalsExitWithOne) {
    EXPECT_EQ(Run({"/dev/klt-no-such-port", PathOf("h.txt")}), 1);
    EXPECT_NE(m_stderr.find("klt-no-such-port"), std::string::npos) << m_stderr;

    Simulator simulator({"--delay", "60", SAMPLES + "operation-history.prn"});
    const std::string port = simulator.PortName();
    fs::create_directory(PathOf("holder"));
    Capture holder({port, PathOf("first.txt")}, m_folder / "holder");
    ASSERT_TRUE(holder.WaitForError("waiting for the marker"));
    EXPECT_EQ(Run({port, PathOf("second.txt")}), 1);
    EXPECT_NE(m_stderr.find(port + ": "), std::string::npos) << m_stderr;

    fs::create_directory(PathOf("folder"));
    EXPECT_EQ(Run({port, PathOf("folder")}), 1);
    EXPECT_TRUE(fs::is_directory(PathOf("folder")));
}

// Unattended: three histories in a row, three files, each byte for byte; SIGTERM ends it
// with status 0.
TEST_F(KltCapture, WatchWritesEveryHistoryToItsOwnFile) {
    const std::string stream = SAMPLES + "operation-history.prn";
    const std::string expected = Decoded(stream, m_folder);
    fs::create_directory(PathOf("out"));
    Simulator simulator(FastPlay(stream, {"--repeat"}));
    const std::string port = simulator.PortName();
    ASSERT_FALSE(port.empty());
    Capture capture({"--watch", PathOf("out"), "--utf8", port}, m_folder);
    ASSERT_TRUE(WaitForFiles(m_folder / "out", 6)) << capture.Errors();
    capture.Signal(SIGTERM);
    EXPECT_EQ(capture.WaitForExit(), 0) << capture.Errors();

    const std::vector<std::string> files = HistoryFiles(m_folder / "out", ".txt");
    std::vector<std::string> histories;
    for (const std::string& file : files) {
        if (file.find(".utf8.txt") == std::string::npos) {
            histories.push_back(file);
            EXPECT_TRUE(ReadAll(file) == expected) << file;
            EXPECT_NE(fs::path(file).filename().string().find(FileStem(port) + "-"),
                      std::string::npos)
                << file;
        }
    }
    EXPECT_GE(histories.size(), 3u);
}

// The device goes away (the simulator ends and its port with it) and comes back under the
// same name (a link, as udev keeps for an adapter): the next history is captured.
TEST_F(KltCapture, WatchWaitsForTheDeviceToReturn) {
    const std::string stream = SAMPLES + "operation-history.prn";
    const std::string expected = Decoded(stream, m_folder);
    fs::create_directory(PathOf("out"));
    const std::string link = PathOf("machine");
    auto first = std::make_unique<Simulator>(FastPlay(stream, {"--repeat"}));
    fs::create_symlink("/dev/" + first->PortName(), link);
    Capture capture({"--watch", PathOf("out"), link}, m_folder);
    ASSERT_TRUE(WaitForFiles(m_folder / "out", 1)) << capture.Errors();

    first.reset(); // unplugged
    ASSERT_TRUE(capture.WaitForError("to return")) << capture.Errors();
    // Seen by the reader as a lost line while the port is open, or by the check of the
    // device while it is not.
    const std::string errors = capture.Errors();
    EXPECT_TRUE(errors.find("connection lost") != std::string::npos ||
                errors.find("is gone") != std::string::npos)
        << errors;

    Simulator second(FastPlay(stream));
    const std::string port = second.PortName();
    fs::remove(link);
    fs::create_symlink("/dev/" + port, link);
    ASSERT_TRUE(capture.WaitForError("is back")) << capture.Errors();
    ASSERT_TRUE(WaitForFiles(m_folder / "out", 2)) << capture.Errors();
    capture.Signal(SIGTERM);
    EXPECT_EQ(capture.WaitForExit(), 0);

    for (const std::string& file : HistoryFiles(m_folder / "out", ".txt")) {
        EXPECT_TRUE(ReadAll(file) == expected) << file;
        EXPECT_EQ(fs::path(file).filename().string().rfind("machine-", 0), 0u) << file;
    }
}

// SIGTERM in the middle of a history: the lines so far are written, with a note. A watch
// ends with status 0; a single capture with the signal's status, 128 + 15.
TEST_F(KltCapture, SigtermMidHistoryWritesTheLinesSoFar) {
    const std::string stream = SAMPLES + "operation-history.prn";
    const std::string expected = Decoded(stream, m_folder);
    fs::create_directory(PathOf("out"));
    for (const bool watch : {true, false}) {
        Simulator simulator({"--delay", "0.2", stream}); // the line's speed: about 20 s
        const std::string port = simulator.PortName();
        const std::vector<std::string> arguments =
            watch ? std::vector<std::string>{"--watch", PathOf("out"), port}
                  : std::vector<std::string>{port, PathOf("out/once.txt")};
        Capture capture(arguments, m_folder);
        ASSERT_TRUE(capture.WaitForError("marker seen")) << capture.Errors();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        capture.Signal(SIGTERM);
        EXPECT_EQ(capture.WaitForExit(), watch ? 0 : 128 + SIGTERM) << capture.Errors();
        EXPECT_NE(capture.Errors().find("lines received so far"), std::string::npos);

        const std::vector<std::string> files = HistoryFiles(m_folder / "out", ".txt");
        ASSERT_EQ(files.size(), 1u);
        const std::string partial = ReadAll(files[0]);
        EXPECT_GT(partial.size(), 0u);
        EXPECT_LT(partial.size(), expected.size());
        EXPECT_EQ(expected.compare(0, partial.size(), partial), 0) << "not a prefix";
        fs::remove(files[0]);
    }
}

// The machine's side goes away in the middle of a history: a single capture writes the lines
// so far and ends with status 4 at once, not after the second of silence.
TEST_F(KltCapture, ALostLineEndsASingleCaptureWithTheLinesSoFar) {
    const std::string stream = SAMPLES + "operation-history.prn";
    const std::string expected = Decoded(stream, m_folder);
    auto simulator = std::make_unique<Simulator>(
        std::vector<std::string>{"--delay", "0.2", stream}); // the line's speed: about 20 s
    const std::string port = simulator->PortName();
    Capture capture({port, PathOf("once.txt")}, m_folder);
    ASSERT_TRUE(capture.WaitForError("marker seen")) << capture.Errors();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    simulator.reset(); // the cable pulled
    EXPECT_EQ(capture.WaitForExit(), 4) << capture.Errors();

    const std::string partial = ReadAll(PathOf("once.txt"));
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), expected.size());
    EXPECT_EQ(expected.compare(0, partial.size(), partial), 0) << "not a prefix";
}

// Unattended, text without a marker followed by a second of silence is line noise: the wait
// starts afresh instead of keeping it, which would fill the marker search's 511 bytes for
// good. The history after it is captured whole.
TEST_F(KltCapture, WatchDropsNoiseBeforeASilence) {
    const std::string stream = ReadAll(SAMPLES + "operation-history.prn");
    const std::string expected = Decoded(SAMPLES + "operation-history.prn", m_folder);
    fs::create_directory(PathOf("out"));
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    // At 1000 bytes a second, as a machine sends; the reader takes 100 bytes a poll.
    const auto send = [&](const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += 20) {
            const std::string piece = bytes.substr(at, 20);
            ASSERT_EQ(::write(master, piece.data(), piece.size()),
                      static_cast<ssize_t>(piece.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    Capture capture({"--watch", PathOf("out"), slave}, m_folder);
    ASSERT_TRUE(capture.WaitForError("waiting for the marker")) << capture.Errors();
    std::string noise;
    for (int i = 0; i < 30; ++i) {
        noise += "BOOT " + std::to_string(i) + " OK\r";
    }
    send(noise);
    ASSERT_TRUE(capture.WaitForError("waiting afresh")) << capture.Errors();
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the port is reopened
    send(stream);
    ASSERT_TRUE(WaitForFiles(m_folder / "out", 1)) << capture.Errors();
    capture.Signal(SIGTERM);
    EXPECT_EQ(capture.WaitForExit(), 0);
    const std::vector<std::string> files = HistoryFiles(m_folder / "out", ".txt");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(ReadAll(files[0]) == expected);
    ::close(master);
}

} // namespace
