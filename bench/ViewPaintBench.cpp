// Repaint cost of the history view for a 2-million-line history against a 30-line one,
// on Qt's offscreen platform. The view draws only the lines in the area being painted, so
// the ratio should stay near 1 wherever the window is scrolled to.
#include "core/document/KLTDoc.h"
#include "gui/view/KLTView.h"

#include <QApplication>
#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<CKLTDoc> MakeHistory(std::size_t lines) {
    auto doc = std::make_unique<CKLTDoc>();
    std::string block;
    for (std::size_t i = 0; i < lines; ++i) {
        block +=
            "2026/12/10 09:15 \x89\x5E\x93\x5D\x8A\x4A\x8E\x6E No." + std::to_string(i) + "\r\n";
        if (block.size() > (1 << 20)) {
            doc->AppendText(block);
            block.clear();
        }
    }
    doc->AppendText(block);
    return doc;
}

void BM_RepaintView(benchmark::State& state) {
    const auto lines = static_cast<std::size_t>(state.range(0));
    const std::unique_ptr<CKLTDoc> doc = MakeHistory(lines);
    CKLTView view;
    view.SetDocument(doc.get());
    view.resize(280, 420);
    view.show();
    view.OnInitialUpdate();
    QCoreApplication::processEvents();
    view.ScrollToPosition(0, view.GetTotalSize().cy / 2);
    QCoreApplication::processEvents();
    for (auto _ : state) {
        view.Invalidate(false);
        view.viewport()->repaint();
    }
    state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_RepaintView)->Arg(30)->Arg(2000000)->Unit(benchmark::kMicrosecond);

// Prints each run as usual, then the large history's time as a ratio to the small one's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto small = m_times.find("BM_RepaintView/30");
        const auto large = m_times.find("BM_RepaintView/2000000");
        if (small != m_times.end() && large != m_times.end() && small->second > 0) {
            std::printf("repaint 2000000 lines / 30 lines: %.2f\n", large->second / small->second);
        }
    }

private:
    std::map<std::string, double> m_times;
};

} // namespace

int main(int argc, char* argv[]) {
    benchmark::Initialize(&argc, argv);
    std::vector<char*> qtArgs(argv, argv + argc);
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    qtArgs.push_back(platform);
    qtArgs.push_back(offscreen);
    int qtArgc = static_cast<int>(qtArgs.size());
    QApplication application(qtArgc, qtArgs.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
