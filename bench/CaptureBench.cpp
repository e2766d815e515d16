// klt-capture as a process on a real pseudo-terminal, against baselines measured in the same
// run:
//   CPU time of --watch idle (no data) vs a bare loop that polls the port every 100 ms, the
//     floor of the reception's design (goal: about 0 ms a minute; measured over
//     IDLE_SECONDS and scaled to 60 s)
//   CPU time while receiving at the line's speed (200 bytes/s) vs that bare loop reading and
//     counting the lines (the app's figure, from ReceptionBench, is about the same loop with
//     a window on top; goal: at most half of it)
//   peak resident memory vs the goal of 8 MB
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int IDLE_SECONDS = 10;
constexpr int LINES = 150;
constexpr double GOAL_RSS_KB = 8 * 1024;

// A pseudo-terminal whose master side plays the machine.
struct Line {
    int master = -1;
    std::string portName;
    Line() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
        portName = std::string(::ptsname(master)).substr(5);
        // Opened and closed once, so the slave keeps raw settings for the bare loop.
        const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        termios attributes{};
        ::tcgetattr(slave, &attributes);
        ::cfmakeraw(&attributes);
        ::tcsetattr(slave, TCSANOW, &attributes);
        ::close(slave);
    }
    ~Line() { ::close(master); }
    void Write(const std::string& text) const {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t count = ::write(master, text.data() + done, text.size() - done);
            if (count > 0) {
                done += static_cast<std::size_t>(count);
            }
        }
    }
    // Discards what the receiver wrote (nothing) and what piled up.
    void Drain() const {
        char buffer[256];
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        while (::read(master, buffer, sizeof buffer) > 0) {
        }
    }
};

// The marker, then LINES lines of 8 to 32 bytes paced at 200 bytes a second.
void PlayHistory(const Line& line) {
    std::srand(7);
    line.Write("****\r");
    auto next = Clock::now();
    for (int i = 0; i < LINES; ++i) {
        const int length = 8 + std::rand() % 25;
        std::string text = "LINE " + std::to_string(i) + " ";
        text.resize(static_cast<std::size_t>(length - 1), '.');
        text += '\r';
        std::this_thread::sleep_until(next);
        line.Write(text);
        next += std::chrono::milliseconds(5 * length);
    }
    std::this_thread::sleep_until(next);
}

double ReceiveSeconds() {
    std::srand(7);
    int bytes = 0;
    for (int i = 0; i < LINES; ++i) {
        bytes += 8 + std::rand() % 25;
    }
    return bytes / 200.0;
}

// A child process: klt-capture with arguments, or the bare loop when arguments is empty.
class Child {
public:
    Child(const std::vector<std::string>& arguments, const std::string& portName) {
        m_pid = ::fork();
        if (m_pid != 0) {
            return;
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (arguments.empty()) {
            BareLoop(portName);
        }
        std::vector<char*> argv{const_cast<char*>(KLT_CAPTURE)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(KLT_CAPTURE, argv.data());
        ::_exit(127);
    }

    // CPU time of its live threads so far, in ms, from the scheduler's nanosecond counts
    // (the tick counts of /proc/PID/stat are too coarse for an idle process).
    double CpuMs() const {
        double ns = 0;
        const std::string tasks = "/proc/" + std::to_string(m_pid) + "/task";
        for (const auto& task : std::filesystem::directory_iterator(tasks)) {
            std::ifstream in(task.path() / "schedstat");
            double onCpu = 0;
            if (in >> onCpu) {
                ns += onCpu;
            }
        }
        return ns / 1e6;
    }

    // Ends it (SIGTERM) and returns its peak resident memory in KB.
    long Stop() {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        rusage usage{};
        ::wait4(m_pid, &status, 0, &usage);
        return usage.ru_maxrss;
    }

    // Waits for it to end by itself; returns its peak resident memory in KB, or -1.
    long Wait(double& cpuMs) {
        int status = 0;
        rusage usage{};
        ::wait4(m_pid, &status, 0, &usage);
        cpuMs = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
                usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
    }

private:
    // The floor of the design: poll the port every 100 ms and count the lines, until a
    // second of silence after some text.
    [[noreturn]] static void BareLoop(const std::string& portName) {
        const int fd = ::open(("/dev/" + portName).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        long lines = 0;
        int quietPolls = 0;
        bool seen = false;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            char buffer[512];
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count > 0) {
                seen = true;
                quietPolls = 0;
                for (ssize_t i = 0; i < count; ++i) {
                    lines += buffer[i] == '\r';
                }
            } else if (seen && ++quietPolls == 10) {
                ::_exit(lines > 0 ? 0 : 1);
            }
        }
    }

    pid_t m_pid = -1;
};

std::string TempFolder() {
    std::string pattern = "/tmp/klt-capture-bench-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : "/tmp";
}

void BM_WatchIdle(benchmark::State& state) {
    const std::string folder = TempFolder();
    for (auto _ : state) {
        double bare = 0;
        {
            Line line;
            Child child({}, line.portName);
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const double before = child.CpuMs();
            std::this_thread::sleep_for(std::chrono::seconds(IDLE_SECONDS));
            bare = child.CpuMs() - before;
            child.Stop();
        }
        Line line;
        Child capture({"--watch", folder, line.portName}, line.portName);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double before = capture.CpuMs();
        std::this_thread::sleep_for(std::chrono::seconds(IDLE_SECONDS));
        const double idle = capture.CpuMs() - before;
        const long rss = capture.Stop();
        const double scale = 60.0 / IDLE_SECONDS;
        state.counters["bare_poll_cpu_ms_per_60s"] = bare * scale;
        state.counters["watch_cpu_ms_per_60s"] = idle * scale;
        state.counters["watch_vs_bare_poll"] = bare > 0 ? idle / bare : idle;
        state.counters["watch_peak_rss_kb"] = static_cast<double>(rss);
    }
    std::system(("rm -rf '" + folder + "'").c_str());
}
BENCHMARK(BM_WatchIdle)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ReceiveAtLineSpeed(benchmark::State& state) {
    const std::string folder = TempFolder();
    for (auto _ : state) {
        const double seconds = ReceiveSeconds();
        double bareMs = 0;
        {
            Line line;
            Child child({}, line.portName);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            PlayHistory(line);
            if (child.Wait(bareMs) < 0) {
                state.SkipWithError("the bare loop received nothing");
                return;
            }
        }
        double captureMs = 0;
        long rss = 0;
        {
            Line line;
            Child capture({line.portName, folder + "/history.txt"}, line.portName);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            PlayHistory(line);
            rss = capture.Wait(captureMs);
            if (rss < 0) {
                state.SkipWithError("klt-capture did not receive the history");
                return;
            }
        }
        state.counters["bare_poll_cpu_ms_per_s"] = bareMs / (seconds + 1.0);
        state.counters["capture_cpu_ms_per_s"] = captureMs / (seconds + 1.0);
        state.counters["capture_vs_bare_poll"] = bareMs > 0 ? captureMs / bareMs : captureMs;
        state.counters["capture_peak_rss_kb"] = static_cast<double>(rss);
        state.counters["rss_vs_goal_8MB"] = static_cast<double>(rss) / GOAL_RSS_KB;
    }
    std::system(("rm -rf '" + folder + "'").c_str());
}
BENCHMARK(BM_ReceiveAtLineSpeed)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
