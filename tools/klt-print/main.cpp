// klt-print: prints a history text file with the app's page layout, to a PDF or a printer.

#include "core/io/FileIO.h"
#include "core/res/Version.h"
#include "gui/print/PrintPage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr const char* USAGE =
    "Usage: klt-print HISTORY.txt -o OUT.pdf [--pages FROM-TO]\n"
    "       klt-print HISTORY.txt -P PRINTER [--pages FROM-TO]\n"
    "\n"
    "Prints a KLT history file (Shift-JIS lines) in three columns of 95 lines to a page,\n"
    "with a page counter at the foot of every page, exactly as the KLT app prints it.\n"
    "HISTORY.txt may be - for standard input; a device is refused.\n"
    "\n"
    "  -o, --output OUT.pdf    write a PDF on A4 portrait (- for standard output); an\n"
    "                          existing file is replaced only once the whole PDF has\n"
    "                          been written, a device or a FIFO is written as it stands\n"
    "  -P, --printer PRINTER   send the pages to the named printer, on its own paper\n"
    "      --pages FROM-TO     print only pages FROM to TO (from 1; either end may be left\n"
    "                          out: 3-, -2)\n"
    "  -h, --help              show this help\n"
    "      --version           show the version\n"
    "\n"
    "Histories of more than 65535 pages print their first 65535 pages, each with its true\n"
    "page counter. Without a display, Qt's offscreen platform is used.\n";

struct Options {
    std::string input;
    std::string output;
    std::string printer;
    int fromPage = 1;
    int toPage = 0; // 0: the last page
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "klt-print: %s\n", message.c_str());
    return 1;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "klt-print: %s\nTry 'klt-print --help'.\n", message.c_str());
    return 2;
}

std::optional<int> ParsePageNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value >= 1 ? std::optional<int>(value) : std::nullopt;
}

bool ParsePages(std::string_view text, Options& options) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        const std::optional<int> page = ParsePageNumber(text);
        if (!page) {
            return false;
        }
        options.fromPage = options.toPage = *page;
        return true;
    }
    const std::string_view from = text.substr(0, dash);
    const std::string_view to = text.substr(dash + 1);
    const std::optional<int> fromPage = from.empty() ? 1 : ParsePageNumber(from);
    const std::optional<int> toPage = to.empty() ? 0 : ParsePageNumber(to);
    if (!fromPage || !toPage || (*toPage != 0 && *toPage < *fromPage)) {
        return false;
    }
    options.fromPage = *fromPage;
    options.toPage = *toPage;
    return true;
}

// Returns an exit code if the program should stop (help shown, or a usage error).
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc) {
                return false;
            }
            target = argv[++i];
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("klt-print " KLT_VERSION);
            return 0;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(options.output)) {
                return UsageError("option " + std::string(arg) + " needs a file name");
            }
        } else if (arg == "-P" || arg == "--printer") {
            if (!value(options.printer)) {
                return UsageError("option " + std::string(arg) + " needs a printer name");
            }
        } else if (arg == "-platform") {
            std::string platform; // Qt's own option, left for the application object
            if (!value(platform)) {
                return UsageError("option -platform needs a platform name");
            }
        } else if (arg == "--pages") {
            std::string range;
            if (!value(range) || !ParsePages(range, options)) {
                return UsageError("--pages needs a page range such as 2-5, 3- or -2");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + std::string(arg));
        } else if (options.input.empty()) {
            options.input = arg;
        } else {
            return UsageError("more than one history file given");
        }
    }
    if (options.input.empty()) {
        return UsageError("no history file given");
    }
    if (options.output.empty() == options.printer.empty()) {
        return UsageError("give either -o OUT.pdf or -P PRINTER");
    }
    return std::nullopt;
}

// Qt needs a platform even to write a PDF; on a machine without a display use the offscreen
// one, unless the caller chose a platform.
void ChooseOffscreenWithoutDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0) {
            return;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

// Qt's notes about the session it runs in (no runtime directory on a headless machine, say)
// are no business of a command-line tool's user; real problems still get through.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg ||
        (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths:")))) {
        return;
    }
    std::fprintf(stderr, "klt-print: %s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// Reads a history file's lines as the document does (LF or CR LF ends a line, zero bytes are
// dropped, the last line needs no line end), keeping of each line only its first `keep`
// bytes: a page never shows more, so memory follows the page, not the longest line.
class CLineReader {
public:
    CLineReader(kltio::CByteReader& in, std::size_t keep) : m_in(in), m_nKeep(keep) {}

    // The next line into line; false at the end of the input or on a read error (error set).
    bool Next(std::string& line, std::error_code& error) {
        line.clear();
        bool longer = false; // bytes beyond the kept part
        char last = 0;       // the line's last byte that is not zero
        for (;;) {
            if (m_nPos == m_nGot) {
                m_nPos = 0;
                if (!m_in.Read(m_block.data(), m_block.size(), m_nGot, error)) {
                    m_nGot = 0;
                    return false;
                }
                if (m_nGot == 0) {
                    return !line.empty() || longer;
                }
            }
            const char* at = m_block.data() + m_nPos;
            const char* end = m_block.data() + m_nGot;
            const char* lf = static_cast<const char*>(std::memchr(at, '\n', end - at));
            const char* stop = lf ? lf : end;
            for (; at < stop && line.size() < m_nKeep; ++at) {
                if (*at != 0) {
                    line.push_back(*at);
                    last = *at;
                }
            }
            // Past the kept part only the last byte matters (is it the CR of a CR LF?).
            for (const char* back = stop; back > at;) {
                if (*--back != 0) {
                    last = *back;
                    longer = true;
                    break;
                }
            }
            m_nPos = static_cast<std::size_t>(stop - m_block.data());
            if (lf) {
                ++m_nPos;
                if (last == '\r' && !longer) {
                    line.pop_back(); // CR LF ends the line like LF alone
                }
                return true;
            }
        }
    }

private:
    kltio::CByteReader& m_in;
    std::size_t m_nKeep;
    std::vector<char> m_block = std::vector<char>(64 << 10);
    std::size_t m_nPos = 0;
    std::size_t m_nGot = 0;
};

// Where the lines come from: a regular file is read twice (once to count its lines for the
// page counter, once to draw its pages one at a time); a pipe is read once, keeping only the
// lines of the chosen pages.
struct HistorySource {
    std::string name; // as given: a path, or "-"
    bool regular = false;
    std::unique_ptr<kltio::CByteReader> in;
};

std::string DisplayName(const std::string& name) {
    return name == "-" ? std::string("standard input") : name;
}

// Bytes of a line that can reach the paper: the printable width from the leftmost column,
// with a cell to spare for a double-byte character cut by the edge.
std::size_t VisibleBytes(const QPrinter& printer) {
    const PagePlaces places = ComputePagePlaces(PrinterMetricsOf(printer));
    const int width = printer.width();
    const int left = std::min({places.nColumnX[0], places.nColumnX[1], places.nColumnX[2]});
    if (places.nFontWidth <= 0 || width <= left) {
        return 2;
    }
    return static_cast<std::size_t>((width - left) / places.nFontWidth) + 2;
}

// Prints the chosen pages; on failure returns the reason.
std::optional<std::string> PrintHistory(QPrinter& printer, HistorySource& source,
                                        const Options& options) {
    const std::size_t keep = VisibleBytes(printer);
    const auto readFailed = [&](const std::error_code& error) {
        return "cannot read " + DisplayName(source.name) + ": " + error.message();
    };

    // The page counter needs the line count before the first page is drawn.
    std::error_code error;
    std::size_t lineCount = 0;
    std::vector<std::string> kept; // a pipe's lines from keptFrom on, as far as printed
    std::size_t keptFrom = 0;
    std::string line;
    {
        CLineReader reader(*source.in, source.regular ? 0 : keep);
        const std::size_t firstKept =
            static_cast<std::size_t>(options.fromPage - 1) * LINES_PER_PAGE;
        const std::size_t endKept =
            static_cast<std::size_t>(options.toPage == 0 ? MAX_PRINTABLE_PAGE : options.toPage) *
            LINES_PER_PAGE;
        keptFrom = firstKept;
        while (reader.Next(line, error)) {
            if (!source.regular && lineCount >= firstKept && lineCount < endKept) {
                kept.push_back(line);
            }
            ++lineCount;
        }
        if (error) {
            return readFailed(error);
        }
    }

    CHistoryPrinter pages;
    pages.m_nPageCount = PrintPageCount(lineCount);
    const int lastPage = LastPrintablePage(pages.m_nPageCount);
    const int fromPage = options.fromPage;
    const int toPage = options.toPage == 0 ? lastPage : std::min(options.toPage, lastPage);
    if (fromPage > toPage) {
        return "the history has only " + std::to_string(pages.m_nPageCount) + " page(s)";
    }
    if (pages.m_nPageCount > lastPage && options.toPage == 0) {
        std::fprintf(stderr, "klt-print: the history has %d pages; printing pages %d to %d only\n",
                     pages.m_nPageCount, fromPage, toPage);
    }
    printer.setFromTo(fromPage, toPage);

    std::unique_ptr<CLineReader> reader;
    std::size_t readLines = 0;
    if (source.regular) {
        bool notAFile = false;
        source.in = kltio::OpenForReading(source.name, false, notAFile, error);
        if (!source.in) {
            return readFailed(error);
        }
        reader = std::make_unique<CLineReader>(*source.in, keep);
    }

    QPainter painter;
    if (!painter.begin(&printer)) {
        return std::string("the printer could not be started");
    }
    const PrinterMetrics metrics = PrinterMetricsOf(printer);
    for (int page = fromPage; page <= toPage; ++page) {
        if (page > fromPage && !printer.newPage()) {
            painter.end();
            return std::string("the printer reported an error");
        }
        pages.PreparePage(page, lineCount);
        if (reader) {
            // One page of a file in memory at a time.
            kept.clear();
            keptFrom = static_cast<std::size_t>(pages.m_nFirstLine);
            while (readLines < static_cast<std::size_t>(pages.m_nEndLine) &&
                   reader->Next(line, error)) {
                if (readLines++ >= keptFrom) {
                    kept.push_back(line);
                }
            }
            if (error) {
                painter.end();
                return readFailed(error);
            }
        }
        pages.DrawPage(
            painter,
            [&](int index) {
                const auto at = static_cast<std::size_t>(index);
                return at >= keptFrom && at - keptFrom < kept.size()
                           ? std::string_view(kept[at - keptFrom])
                           : std::string_view();
            },
            metrics);
    }
    painter.end();
    if (printer.printerState() == QPrinter::Error) {
        return std::string("the printer reported an error");
    }
    return std::nullopt;
}

// Copies a finished file into the output.
bool CopyInto(const QString& path, kltio::COutput& out, std::error_code& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = std::make_error_code(std::errc::io_error);
        return false;
    }
    std::vector<char> block(1 << 20);
    for (;;) {
        const qint64 got = file.read(block.data(), static_cast<qint64>(block.size()));
        if (got < 0) {
            error = std::make_error_code(std::errc::io_error);
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (!out.Write(block.data(), static_cast<std::size_t>(got), error)) {
            return false;
        }
    }
}

int PrintToPdf(HistorySource& source, const Options& options) {
    // The output rule: a regular file (or a new name) is replaced only once the whole PDF is
    // in it; a device or a FIFO is written as it stands.
    std::error_code error;
    bool notAFile = false;
    const std::unique_ptr<kltio::COutput> out =
        kltio::OpenForWriting(options.output, kltio::OtherNodes::WriteInPlace, notAFile, error);
    const std::string outputName =
        options.output == "-" ? std::string("standard output") : options.output;
    if (!out) {
        return Fail("cannot write " + outputName + ": " + error.message());
    }
    // Qt writes a PDF only to a named file: a private one, copied into the output at the end.
    QTemporaryFile temporary(QDir::tempPath() + QStringLiteral("/klt-print-XXXXXX.pdf"));
    if (!temporary.open()) {
        return Fail("cannot write a temporary file in " + QDir::tempPath().toStdString());
    }
    temporary.close();

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(temporary.fileName());
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      printer.pageLayout().margins()));
    printer.setCreator(QStringLiteral("klt-print"));
    printer.setDocName(QFileInfo(QString::fromLocal8Bit(options.input.c_str())).fileName());

    if (const std::optional<std::string> problem = PrintHistory(printer, source, options)) {
        return Fail("cannot write " + outputName + ": " + *problem);
    }
    if (QFileInfo(temporary.fileName()).size() == 0) {
        return Fail("cannot write " + outputName + ": nothing was written (disk full?)");
    }
    if (!CopyInto(temporary.fileName(), *out, error) || !out->Commit(error)) {
        return Fail("cannot write " + outputName + ": " + error.message());
    }
    return 0;
}

int PrintToPrinter(HistorySource& source, const Options& options) {
    const QString name = QString::fromLocal8Bit(options.printer.c_str());
    if (QPrinterInfo::printerInfo(name).isNull()) {
        return Fail("no printer named " + options.printer);
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(name);
    printer.setDocName(QFileInfo(QString::fromLocal8Bit(options.input.c_str())).fileName());
    if (!printer.isValid()) {
        return Fail("printer " + options.printer + " cannot be used");
    }
    if (const std::optional<std::string> problem = PrintHistory(printer, source, options)) {
        return Fail("cannot print to " + options.printer + ": " + *problem);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> exitCode = ParseArguments(argc, argv, options)) {
        return *exitCode;
    }

    // Open the history first: a bad input file must not cost a platform start.
    HistorySource source;
    source.name = options.input;
    std::error_code error;
    {
        // Standard input is looked at through its name, so `- < /dev/urandom` is caught too
        // (where the name does not exist, it classifies as missing and is read).
        switch (kltio::ClassifyPath(options.input == "-" ? "/dev/stdin" : options.input)) {
        case kltio::NodeKind::Regular:
            // Standard input is read once even when it is a file: it cannot be opened again.
            source.regular = options.input != "-";
            break;
        case kltio::NodeKind::Device:
            // A device may never end, and every line counts for the page counter.
            return Fail("cannot read " + DisplayName(options.input) +
                        ": a device is not a history file (copy what it gives into a file)");
        default:
            break;
        }
    }
    bool notAFile = false;
    source.in = kltio::OpenForReading(options.input, false, notAFile, error);
    if (!source.in) {
        return Fail("cannot read " + DisplayName(options.input) + ": " + error.message());
    }

    ChooseOffscreenWithoutDisplay(argc, argv);
    qInstallMessageHandler(QuietMessages);
    QGuiApplication app(argc, argv);
    return options.output.empty() ? PrintToPrinter(source, options) : PrintToPdf(source, options);
}
