// klt-print: prints a history text file with the app's page layout, to a PDF or a printer.

#include "core/document/KLTDoc.h"
#include "core/io/FileIO.h"
#include "core/res/Version.h"
#include "gui/print/PrintPage.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr const char* USAGE =
    "Usage: klt-print HISTORY.txt -o OUT.pdf [--pages FROM-TO]\n"
    "       klt-print HISTORY.txt -P PRINTER [--pages FROM-TO]\n"
    "\n"
    "Prints a KLT history file (Shift-JIS lines) in three columns of 95 lines to a page,\n"
    "with a page counter at the foot of every page, exactly as the KLT app prints it.\n"
    "HISTORY.txt may be - for standard input.\n"
    "\n"
    "  -o, --output OUT.pdf    write a PDF on A4 portrait; an existing file is replaced\n"
    "                          only once the whole PDF has been written\n"
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

// Prints the chosen pages; on failure returns the reason.
std::optional<std::string> PrintHistory(QPrinter& printer, const CKLTDoc& doc,
                                        const Options& options) {
    CHistoryPrinter pages;
    pages.PreparePrinting(&doc);
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

    QPainter painter;
    if (!painter.begin(&printer)) {
        return std::string("the printer could not be started");
    }
    const bool printed = pages.PrintPages(painter, printer, &doc, fromPage, toPage);
    painter.end();
    if (!printed || printer.printerState() == QPrinter::Error) {
        return std::string("the printer reported an error");
    }
    return std::nullopt;
}

int PrintToPdf(const CKLTDoc& doc, const Options& options) {
    // Write beside the target and rename over it at the end, so that a failed run never
    // leaves a damaged or half-written PDF behind.
    const QString target = QString::fromLocal8Bit(options.output.c_str());
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir()) {
        return Fail("cannot write " + options.output + ": Is a directory");
    }
    QTemporaryFile temporary(targetInfo.absolutePath() + QStringLiteral("/.klt-print-XXXXXX.pdf"));
    if (!temporary.open()) {
        const QFileInfo dir(targetInfo.absolutePath());
        const char* reason = !dir.exists()  ? "No such file or directory"
                             : !dir.isDir() ? "Not a directory"
                                            : "Permission denied";
        return Fail("cannot write " + options.output + ": " + reason);
    }
    temporary.close();

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(temporary.fileName());
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      printer.pageLayout().margins()));
    printer.setCreator(QStringLiteral("klt-print"));
    printer.setDocName(QFileInfo(QString::fromLocal8Bit(options.input.c_str())).fileName());

    if (const std::optional<std::string> error = PrintHistory(printer, doc, options)) {
        return Fail("cannot write " + options.output + ": " + *error);
    }
    if (QFileInfo(temporary.fileName()).size() == 0) {
        return Fail("cannot write " + options.output + ": nothing was written (disk full?)");
    }

    // A temporary file is private to its owner; the PDF gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(QFile::encodeName(temporary.fileName()).constData(), 0666 & ~mask);

    if (std::rename(QFile::encodeName(temporary.fileName()).constData(), options.output.c_str()) !=
        0) {
        return Fail("cannot write " + options.output + ": " + std::strerror(errno));
    }
    temporary.setAutoRemove(false);
    return 0;
}

int PrintToPrinter(const CKLTDoc& doc, const Options& options) {
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
    if (const std::optional<std::string> error = PrintHistory(printer, doc, options)) {
        return Fail("cannot print to " + options.printer + ": " + *error);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> exitCode = ParseArguments(argc, argv, options)) {
        return *exitCode;
    }

    // Read the history first: a bad input file must not cost a platform start.
    CKLTDoc doc;
    std::error_code error;
    const bool loaded = options.input == "-" ? doc.ReadFrom(*kltio::StandardInput(), error)
                                             : doc.LoadFromFile(options.input, error);
    if (!loaded) {
        return Fail("cannot read " + options.input + ": " + error.message());
    }

    ChooseOffscreenWithoutDisplay(argc, argv);
    qInstallMessageHandler(QuietMessages);
    QGuiApplication app(argc, argv);
    return options.output.empty() ? PrintToPrinter(doc, options) : PrintToPdf(doc, options);
}
