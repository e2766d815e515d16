// Input and output as a hostile user chooses them: one line of megabytes, endless and random
// bytes, devices and FIFOs as outputs. Work must follow what is shown or written, and a node
// that is not a regular file is never replaced.
#include "GuiTestSupport.h"

#include "core/document/KLTDoc.h"
#include "core/layout/PageLayout.h"
#include "core/reception/ChunkText.h"
#include "core/reception/ComAPI.h"
#include "core/res/Strings.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/KLTApp.h"
#include "gui/app/MainFrame.h"
#include "gui/framework/FileDialog.h"
#include "gui/framework/MessageBox.h"
#include "gui/print/PrintPage.h"
#include "gui/view/KLTView.h"

#include <QDir>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <random>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using klt::FileDialogSeam;
using klt::MessageBoxSeam;

const std::string SAMPLES = KLT_SOURCE_DIR "/samples/";
const std::string DECODE = KLT_DECODE;
const std::string PRINT = KLT_PRINT_EXE;

// Enough to show work that follows the line: a window converts a few hundred cells.
constexpr std::size_t LONG_LINE = 2 << 20;
constexpr std::uint64_t WINDOW_CELLS_BOUND = 64 * 1024;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(20240611);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// "A" then a double-byte character, over and over: one line, no line end.
std::string LongLine() {
    std::string line;
    line.reserve(LONG_LINE);
    while (line.size() + 3 <= LONG_LINE) {
        line += "A\x82\xA0";
    }
    return line;
}

bool IsFifo(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

// Reads a FIFO to its end on another thread, as the program on its other side would.
std::future<std::string> DrainFifo(const std::string& path) {
    return std::async(std::launch::async, [path] { return ReadFile(path); });
}

// Runs a shell command line; returns its exit status.
int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

class HostileInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBoxSeam::Reset();
        FileDialogSeam::Reset();
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override {
        EXPECT_FALSE(MessageBoxSeam::HasQueuedAnswers());
        EXPECT_FALSE(FileDialogSeam::HasQueuedAnswers());
        MessageBoxSeam::Reset();
        FileDialogSeam::Reset();
    }

    std::string Path(const char* name) const {
        return m_dir.filePath(QString::fromUtf8(name)).toStdString();
    }

public:
    // The rows of the table below.

    // Opening the line shows its start; a repaint at its end converts what the window shows.
    void OpenALongLine() {
        CKLTApp app;
        ASSERT_TRUE(app.OnFileNew());
        const std::string path = Path("line.txt");
        WriteFile(path, LongLine());
        CMainFrame* frame = app.GetMainWnd();
        ASSERT_NE(app.GetDocTemplate()->OpenDocumentFile(&path), nullptr);
        CKLTView* view = frame->GetActiveView();
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
        view->viewport()->repaint();
        const std::uint64_t opened = view->ConvertedBytes();
        EXPECT_GT(opened, 0u);
        EXPECT_LT(opened, WINDOW_CELLS_BOUND);
        EXPECT_EQ(view->GetTotalSize().cx, 4 + 8 * std::int64_t(LONG_LINE / 3 * 3));

        view->ScrollToPosition(view->GetTotalSize().cx, 0);
        view->viewport()->repaint();
        const std::uint64_t atEnd = view->ConvertedBytes() - opened;
        EXPECT_GT(atEnd, 0u);
        EXPECT_LT(atEnd, WINDOW_CELLS_BOUND);
        frame->GetActiveDocument()->SetModifiedFlag(false);
    }

    // A page converts what lands on it, in process and through the tool.
    void PrintALongLine() {
        CKLTDoc doc;
        doc.AppendText(LongLine() + "\r\n");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(Path("inprocess.pdf")));
        QPainter painter(&printer);
        CHistoryPrinter pages;
        pages.PreparePrinting(&doc);
        ASSERT_TRUE(pages.PrintPages(painter, printer, &doc, 1, 1));
        painter.end();
        EXPECT_GT(pages.m_nConvertedBytes, 100u);
        EXPECT_LT(pages.m_nConvertedBytes, 1000u);

        WriteFile(Path("line.txt"), LongLine());
        EXPECT_EQ(Shell(PRINT + " " + Quote(Path("line.txt")) + " -o " + Quote(Path("l.pdf"))), 0);
        EXPECT_EQ(ReadFile(Path("l.pdf")).substr(0, 5), "%PDF-");
    }

    void PrintADevice() {
        const std::string errors = Path("errors");
        EXPECT_EQ(Shell("timeout 60 " + PRINT + " /dev/urandom -o " + Quote(Path("r.pdf")) + " 2>" +
                        Quote(errors)),
                  1);
        EXPECT_NE(ReadFile(errors).find("/dev/urandom: a device is not a history file"),
                  std::string::npos)
            << ReadFile(errors);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("r.pdf"))));
        EXPECT_EQ(Shell("timeout 60 " + PRINT + " - -o " + Quote(Path("r.pdf")) +
                        " </dev/urandom 2>" + Quote(errors)),
                  1);
        EXPECT_NE(ReadFile(errors).find("standard input: a device is not a history file"),
                  std::string::npos)
            << ReadFile(errors);
    }

    // Random bytes print every page, from a file and from a pipe alike.
    void PrintRandomBytes() {
        const std::string bytes = RandomBytes(300 << 10);
        WriteFile(Path("random.txt"), bytes);
        CKLTDoc doc;
        std::error_code error;
        ASSERT_TRUE(doc.LoadFromFile(Path("random.txt"), error));
        const int pageCount = PrintPageCount(doc.GetLineCount());
        ASSERT_GT(pageCount, 2);
        const std::string pdfinfo = "pdfinfo " + Quote(Path("r.pdf")) + " | grep -q '^Pages: *" +
                                    std::to_string(pageCount) + "$'";
        EXPECT_EQ(Shell(PRINT + " " + Quote(Path("random.txt")) + " -o " + Quote(Path("r.pdf"))),
                  0);
        EXPECT_EQ(Shell(pdfinfo), 0);
        EXPECT_EQ(
            Shell(PRINT + " - -o " + Quote(Path("r.pdf")) + " < " + Quote(Path("random.txt"))), 0);
        EXPECT_EQ(Shell(pdfinfo), 0);
    }

    // Streaming decodes exactly what decoding the whole stream into a history gives.
    void DecodeRandomBytes() {
        const std::string bytes = RandomBytes(1 << 20);
        WriteFile(Path("random.prn"), bytes);
        CComAPI com;
        CKLTDoc doc;
        std::uint8_t decoded[CComAPI::DECODED_BUFFER_SIZE];
        for (std::size_t pos = 0; pos < bytes.size(); pos += CComAPI::RX_BUFFER_SIZE) {
            const std::size_t length = std::min(CComAPI::RX_BUFFER_SIZE, bytes.size() - pos);
            std::size_t size = com.DecodeBytes(
                reinterpret_cast<const std::uint8_t*>(bytes.data()) + pos, length, decoded);
            size = RemoveZeroBytes(decoded, size);
            doc.AppendText(std::string_view(reinterpret_cast<const char*>(decoded), size));
        }
        std::error_code error;
        ASSERT_TRUE(doc.SaveToFile(Path("expected.txt"), error));
        ASSERT_GT(doc.GetLineCount(), 100u);

        EXPECT_EQ(Shell(DECODE + " " + Quote(Path("random.prn")) + " " + Quote(Path("out.txt"))),
                  0);
        EXPECT_TRUE(ReadFile(Path("out.txt")) == ReadFile(Path("expected.txt")));
    }

    void DecodeIntoAFifo() {
        const std::string fifo = Path("fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::future<std::string> read = DrainFifo(fifo);
        EXPECT_EQ(Shell(DECODE + " " + SAMPLES + "operation-history.prn " + Quote(fifo)), 0);
        EXPECT_TRUE(read.get() == ReadFile(SAMPLES + "operation-history.txt"));
        EXPECT_TRUE(IsFifo(fifo));
    }

    void DecodeIntoStandardOutput() {
        const std::string expected = ReadFile(SAMPLES + "operation-history.txt");
        for (const char* output : {"/dev/stdout", "-"}) {
            SCOPED_TRACE(output);
            EXPECT_EQ(Shell(DECODE + " " + SAMPLES + "operation-history.prn " + output +
                            " | cat > " + Quote(Path("piped.txt"))),
                      0);
            EXPECT_TRUE(ReadFile(Path("piped.txt")) == expected);
        }
    }

    // A link to a regular file: the file gets the new text, the link stays a link.
    void DecodeThroughALink() {
        WriteFile(Path("target.txt"), "old\r\n");
        ASSERT_EQ(::symlink(Path("target.txt").c_str(), Path("link.txt").c_str()), 0);
        EXPECT_EQ(
            Shell(DECODE + " " + SAMPLES + "operation-history.prn " + Quote(Path("link.txt"))), 0);
        EXPECT_TRUE(ReadFile(Path("target.txt")) == ReadFile(SAMPLES + "operation-history.txt"));
        struct stat info {};
        ASSERT_EQ(::lstat(Path("link.txt").c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
    }

    void PrintIntoAFifo() {
        const std::string fifo = Path("fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        WriteFile(Path("h.txt"), "one\r\ntwo\r\n");
        std::future<std::string> read = DrainFifo(fifo);
        EXPECT_EQ(Shell(PRINT + " " + Quote(Path("h.txt")) + " -o " + Quote(fifo)), 0);
        EXPECT_EQ(read.get().substr(0, 5), "%PDF-");
        EXPECT_TRUE(IsFifo(fifo));
    }

    // Refused at once, as opening it is; the FIFO is never opened, so nothing blocks.
    void SaveAsOverAFifo() {
        CKLTApp app;
        ASSERT_TRUE(app.OnFileNew());
        CKLTDoc* doc = app.GetMainWnd()->GetActiveDocument();
        doc->AppendText("kept\r\n");
        const std::string fifo = Path("fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        FileDialogSeam::SetNextFileName(QString::fromStdString(fifo));
        MessageBoxSeam::SetNextAnswer(klt::IDOK);
        app.GetDocTemplate()->OnFileSaveAs();
        ASSERT_EQ(MessageBoxSeam::Shown().size(), 1);
        EXPECT_EQ(MessageBoxSeam::Shown()[0].text,
                  QString::fromUtf8(res::LoadString(res::IDS_NOT_A_FILE))
                      .replace(QStringLiteral("%1"),
                               QDir::toNativeSeparators(QString::fromStdString(fifo))));
        EXPECT_TRUE(IsFifo(fifo));
        EXPECT_TRUE(doc->IsModified());
        doc->SetModifiedFlag(false);
        MessageBoxSeam::Reset();
    }

protected:
    QTemporaryDir m_dir;
};

TEST_F(HostileInputTest, WorkFollowsWhatIsShownAndOnlyFilesAreReplaced) {
    const struct {
        const char* input;
        void (HostileInputTest::*check)();
    } rows[] = {
        {"app: open a 2 MB single line, repaint at its end", &HostileInputTest::OpenALongLine},
        {"klt-print of a 2 MB single line", &HostileInputTest::PrintALongLine},
        {"klt-print /dev/urandom, by name and as -", &HostileInputTest::PrintADevice},
        {"klt-print of random bytes, file and pipe", &HostileInputTest::PrintRandomBytes},
        {"klt-decode of random bytes", &HostileInputTest::DecodeRandomBytes},
        {"klt-decode into a FIFO", &HostileInputTest::DecodeIntoAFifo},
        {"klt-decode into /dev/stdout and -", &HostileInputTest::DecodeIntoStandardOutput},
        {"klt-decode through a symbolic link", &HostileInputTest::DecodeThroughALink},
        {"klt-print -o FIFO", &HostileInputTest::PrintIntoAFifo},
        {"app: save-as over a FIFO", &HostileInputTest::SaveAsOverAFifo},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        (this->*row.check)();
        // Each row starts from an empty folder.
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }
}

} // namespace
