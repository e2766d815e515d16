// Printing a long history to PDF: time per 100 pages, and peak memory against the PDF's size.
// Baseline, in the same run: a PDF of as many empty pages, written by the same printer.

#include "core/document/KLTDoc.h"
#include "gui/print/PrintPage.h"

#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

namespace {

constexpr int HISTORY_LINES = 100000; // 351 pages

// One kilobyte-scale figure from /proc/self/status ("VmHWM", "VmRSS").
long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return 0;
}

// Makes VmHWM start again from the current resident size.
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

const CKLTDoc& History() {
    static const CKLTDoc* doc = [] {
        auto* history = new CKLTDoc;
        // "0001 操作履歴 12:34 ｶﾅ": digits, kanji and half-width kana, as the machine sends.
        const std::string kanji = "\x91\x80\x8D\xEC\x97\x9A\x97\xF0";
        const std::string kana = "\xB6\xC5";
        std::string text;
        for (int i = 0; i < HISTORY_LINES; ++i) {
            char number[16];
            std::snprintf(number, sizeof number, "%06d ", i);
            text += number + kanji + " 2026/12/10 12:34 " + kana + " OK\r\n";
        }
        history->AppendText(text);
        return history;
    }();
    return *doc;
}

std::string PdfPath() {
    return (std::filesystem::temp_directory_path() /
            ("klt-print-bench-" + std::to_string(::getpid()) + ".pdf"))
        .string();
}

struct Figures {
    double secondsPer100Pages = 0;
    double peakGrowthMb = 0;
    double pdfMb = 0;
};
std::map<std::string, Figures> g_figures;

// Prints pages 1 … pages of the history (or as many empty pages) to a PDF at path.
void WritePdf(const std::string& path, int pages, bool drawHistory) {
    const CKLTDoc& doc = History();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(path));
    printer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&printer);
    if (drawHistory) {
        CHistoryPrinter history;
        history.PreparePrinting(&doc);
        history.PrintPages(painter, printer, &doc, 1, pages);
    } else {
        for (int page = 2; page <= pages; ++page) {
            printer.newPage();
        }
    }
}

const char* const PEAK_MODE = "--measure-peak";

// In a fresh process (this program run with PEAK_MODE), so that memory freed by earlier runs
// cannot hide growth: the rise of the peak resident size while printing, in kB.
long PeakGrowthKbOfFreshRun(int pages, bool drawHistory, const std::string& path) {
    const std::string command = "'" + std::filesystem::read_symlink("/proc/self/exe").string() +
                                "' " + PEAK_MODE + " " + std::to_string(pages) + " " +
                                (drawHistory ? "history" : "empty") + " '" + path + "'";
    FILE* child = ::popen(command.c_str(), "r");
    long growthKb = -1;
    if (child) {
        if (std::fscanf(child, "%ld", &growthKb) != 1) {
            growthKb = -1;
        }
        ::pclose(child);
    }
    return growthKb;
}

int MeasurePeak(int pages, bool drawHistory, const std::string& path) {
    History(); // the document is not part of the printing's memory
    ResetPeakMemory();
    const long residentBefore = StatusKb("VmRSS");
    WritePdf(path, pages, drawHistory);
    std::printf("%ld\n", StatusKb("VmHWM") - residentBefore);
    return 0;
}

void PrintToPdf(benchmark::State& state, bool drawHistory) {
    const int pages = static_cast<int>(state.range(0));
    const std::string path = PdfPath();
    for (auto _ : state) {
        WritePdf(path, pages, drawHistory);
    }
    const double pdfBytes = static_cast<double>(std::filesystem::file_size(path));
    const long peakGrowthKb = PeakGrowthKbOfFreshRun(pages, drawHistory, path);
    std::filesystem::remove(path);

    state.counters["s_per_100_pages"] = benchmark::Counter(
        pages / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["peak_growth_MB"] = peakGrowthKb / 1024.0;
    state.counters["pdf_MB"] = pdfBytes / (1024.0 * 1024.0);
}

void BM_EmptyPagesPdf(benchmark::State& state) {
    PrintToPdf(state, false);
}
void BM_HistoryPdf(benchmark::State& state) {
    PrintToPdf(state, true);
}

BENCHMARK(BM_EmptyPagesPdf)
    ->Arg(100)
    ->Arg(351)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(BM_HistoryPdf)
    ->Arg(100)
    ->Arg(351)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// Prints the comparisons the figures are wanted for, after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            Figures& figures = g_figures[run.benchmark_name()];
            const auto get = [&](const char* name) {
                const auto it = run.counters.find(name);
                return it == run.counters.end() ? 0.0 : static_cast<double>(it->second);
            };
            figures.secondsPer100Pages = get("s_per_100_pages");
            figures.peakGrowthMb = get("peak_growth_MB");
            figures.pdfMb = get("pdf_MB");
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto& empty351 = g_figures["BM_EmptyPagesPdf/351/iterations:3/real_time"];
        const auto& history100 = g_figures["BM_HistoryPdf/100/iterations:3/real_time"];
        const auto& history351 = g_figures["BM_HistoryPdf/351/iterations:3/real_time"];
        std::printf("\nhistory vs empty pages, 351 pages: %.3f s vs %.3f s per 100 pages "
                    "(ratio %.1f)\n",
                    history351.secondsPer100Pages, empty351.secondsPer100Pages,
                    empty351.secondsPer100Pages > 0
                        ? history351.secondsPer100Pages / empty351.secondsPer100Pages
                        : 0.0);
        const auto& empty100 = g_figures["BM_EmptyPagesPdf/100/iterations:3/real_time"];
        std::printf("peak memory growth, empty pages: 100 pages %.1f MB, 351 pages %.1f MB\n",
                    empty100.peakGrowthMb, empty351.peakGrowthMb);
        std::printf("peak memory growth: 100 pages %.1f MB (PDF %.2f MB), 351 pages %.1f MB "
                    "(PDF %.2f MB)\n",
                    history100.peakGrowthMb, history100.pdfMb, history351.peakGrowthMb,
                    history351.pdfMb);
        const double extraPages = history351.peakGrowthMb - history100.peakGrowthMb;
        const double extraPdf = history351.pdfMb - history100.pdfMb;
        std::printf("251 more pages: peak memory %+.2f MB, PDF %+.2f MB\n", extraPages, extraPdf);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    if (argc == 5 && std::string(argv[1]) == PEAK_MODE) {
        return MeasurePeak(std::atoi(argv[2]), std::string(argv[3]) == "history", argv[4]);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
