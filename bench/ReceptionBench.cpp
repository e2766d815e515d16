// The reception end to end, in the app itself on a real pseudo-terminal, against baselines
// measured in the same run:
//   latency from a line written by the machine to that line being painted (p50, p95; goal
//     p95 <= 250 ms) vs the floor of the design: a bare 100 ms poll feeding a bare 100 ms
//     repaint, with no document, view or state machine
//   CPU time idle in READY for 10 s vs an empty window's event loop for 10 s (goal ~ 0)
//   CPU time while receiving at the line's speed (200 bytes/s) vs the same floor design
#include "core/document/KLTDoc.h"
#include "core/res/Strings.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/MainFrame.h"
#include "gui/framework/MessageBox.h"
#include "gui/view/KLTView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LINES = 100;
constexpr double RECEIVE_SECONDS = LINES * 20 * 0.005; // about 20 bytes a line at 200 bytes/s
constexpr int IDLE_SECONDS = 10;

double CpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}

void RunEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop (asleep between events, as the app normally is) until done holds.
template <typename Predicate> bool RunEventLoopUntil(Predicate done, int timeoutMs) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start(20);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// A pseudo-terminal whose master side plays the machine.
struct Line {
    int master = -1;
    std::string portName;
    Line() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
        portName = std::string(::ptsname(master)).substr(5);
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
};

// Writes LINES lines of 20 bytes at the line's speed and notes when each was written.
class Machine {
public:
    explicit Machine(const Line& line) : m_line(line), m_written(LINES) {}
    void Start() {
        m_thread = std::thread([this] {
            // Lines of 8 to 32 bytes, each taking its time on the line (5 ms a byte), so the
            // lines arrive at every phase of the receiver's polls.
            std::srand(7);
            auto next = Clock::now();
            for (int i = 0; i < LINES; ++i) {
                const int length = 8 + std::rand() % 25;
                std::string text = "LINE " + std::to_string(i) + " ";
                text.resize(static_cast<std::size_t>(length - 1), '.');
                text += '\r';
                std::this_thread::sleep_until(next);
                m_line.Write(text);
                m_written[i] = Clock::now();
                next += std::chrono::milliseconds(5 * length);
            }
            m_done = true;
        });
    }
    ~Machine() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool Done() const { return m_done; }
    Clock::time_point WrittenAt(int i) const { return m_written[i]; }

private:
    const Line& m_line;
    std::vector<Clock::time_point> m_written;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Notes, for every paint of a widget, how many lines were there to paint.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget* widget, std::function<int()> lineCount)
        : m_lineCount(std::move(lineCount)) {
        widget->installEventFilter(this);
    }
    // When line i (0-based, counted from the first machine line) was first painted.
    std::vector<Clock::time_point> painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const int lines = m_lineCount();
            const auto now = Clock::now();
            while (static_cast<int>(painted.size()) < std::min(lines, LINES)) {
                painted.push_back(now);
            }
        }
        return false;
    }

private:
    std::function<int()> m_lineCount;
};

void ReportLatency(benchmark::State& state, const Machine& machine,
                   const std::vector<Clock::time_point>& painted, const char* prefix) {
    std::vector<double> latencies;
    for (int i = 0; i < static_cast<int>(painted.size()); ++i) {
        latencies.push_back(
            std::chrono::duration<double, std::milli>(painted[i] - machine.WrittenAt(i)).count());
    }
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) {
        state.SkipWithError("nothing was painted");
        return;
    }
    const auto at = [&](double q) {
        return latencies[static_cast<std::size_t>(q * (latencies.size() - 1))];
    };
    state.counters[std::string(prefix) + "p50_ms"] = at(0.5);
    state.counters[std::string(prefix) + "p95_ms"] = at(0.95);
}

// The app: document, main window and view, started up to READY.
struct App {
    CMySingleDocTemplate docTemplate;
    CMainFrame* frame = nullptr;
    App() {
        docTemplate.OpenDocumentFile(nullptr);
        frame = docTemplate.GetMainFrame();
        RunEventLoopUntil([&] { return frame->GetState() == CMainFrame::STATE_READY; }, 5000);
    }
    ~App() { frame->GetActiveDocument()->SetModifiedFlag(false); }
};

// The floor of the design without the app: a reader polling every 100 ms into a buffer, and
// a plain widget repainted every 100 ms.
class FloorDesign : public QWidget {
public:
    explicit FloorDesign(const Line& line) {
        m_fd = ::open(("/dev/" + line.portName).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios attributes{};
        ::tcgetattr(m_fd, &attributes);
        ::cfmakeraw(&attributes);
        ::tcsetattr(m_fd, TCSANOW, &attributes);
        resize(360, 480);
        show();
        m_reader = std::thread([this] {
            while (m_running) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                char buffer[512];
                const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
                if (count > 0) {
                    const std::lock_guard<std::mutex> lock(m_lock);
                    m_lines += static_cast<int>(std::count(buffer, buffer + count, '\r'));
                }
            }
        });
        m_refresh.setInterval(100);
        QObject::connect(&m_refresh, &QTimer::timeout, this, [this] { update(); });
        m_refresh.start();
    }
    ~FloorDesign() override {
        m_running = false;
        m_reader.join();
        ::close(m_fd);
    }
    int Lines() {
        const std::lock_guard<std::mutex> lock(m_lock);
        return m_lines;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawText(10, 20, QString::number(Lines()));
    }

private:
    int m_fd = -1;
    std::atomic<bool> m_running{true};
    std::thread m_reader;
    std::mutex m_lock;
    int m_lines = 0;
    QTimer m_refresh;
};

void BM_LineToScreenLatency(benchmark::State& state) {
    for (auto _ : state) {
        {
            Line line;
            FloorDesign floor(line);
            Machine machine(line);
            PaintWatch watch(&floor, [&] { return floor.Lines(); });
            const double cpuBefore = CpuMs();
            machine.Start();
            RunEventLoopUntil([&] { return machine.Done(); }, 60000);
            RunEventLoopFor(500);
            state.counters["floor_cpu_ms_per_s"] = (CpuMs() - cpuBefore) / (RECEIVE_SECONDS + 0.5);
            ReportLatency(state, machine, watch.painted, "floor_");
        }
        {
            App app;
            Line line;
            app.frame->Controller().SetPortName(line.portName);
            CKLTDoc& doc = *app.frame->GetActiveDocument();
            // The first line is the marker; the machine's lines follow it.
            PaintWatch watch(app.frame->GetActiveView()->viewport(),
                             [&] { return static_cast<int>(doc.GetLineCount()) - 1; });
            app.frame->OnCommand(res::ID_RECEIVE_START);
            Machine machine(line);
            double cpuBefore = 0;
            // Runs inside the wait dialog's loop: the marker, then the lines.
            QTimer::singleShot(200, [&] {
                line.Write("****\r");
                cpuBefore = CpuMs();
                machine.Start();
            });
            klt::MessageBoxSeam::SetNextAnswer(klt::IDOK); // the normal end's message
            RunEventLoopUntil(
                [&] { return machine.Done() && app.frame->GetState() == CMainFrame::STATE_READY; },
                60000);
            state.counters["app_cpu_ms_per_s"] = (CpuMs() - cpuBefore) / (RECEIVE_SECONDS + 1.0);
            ReportLatency(state, machine, watch.painted, "app_");
        }
        state.counters["p95_vs_floor"] =
            state.counters["app_p95_ms"] / state.counters["floor_p95_ms"];
        state.counters["p95_vs_goal_250ms"] = state.counters["app_p95_ms"] / 250.0;
        state.counters["cpu_vs_floor"] =
            state.counters["app_cpu_ms_per_s"] / state.counters["floor_cpu_ms_per_s"];
    }
}
BENCHMARK(BM_LineToScreenLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_IdleInReady(benchmark::State& state) {
    for (auto _ : state) {
        double baseline = 0;
        {
            QWidget empty;
            empty.resize(360, 480);
            empty.show();
            const double before = CpuMs();
            RunEventLoopFor(IDLE_SECONDS * 1000);
            baseline = CpuMs() - before;
        }
        App app;
        const double before = CpuMs();
        RunEventLoopFor(IDLE_SECONDS * 1000);
        const double idle = CpuMs() - before;
        state.counters["empty_window_cpu_ms"] = baseline;
        state.counters["ready_cpu_ms"] = idle;
        state.counters["ready_vs_empty_window"] = baseline > 0 ? idle / baseline : idle;
    }
}
BENCHMARK(BM_IdleInReady)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
