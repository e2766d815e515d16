// Printing through the history view: the print dialog's choices, the pages, and preview.

#include "core/document/KLTDoc.h"
#include "gui/framework/MessageBox.h"
#include "gui/view/KLTView.h"
#include "gui/view/PrintDialog.h"

#include <QApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// "L0001 操作履歴 end" in Shift-JIS, one line per index.
std::string HistoryLine(int index) {
    char id[16];
    std::snprintf(id, sizeof id, "L%04d ", index);
    return std::string(id) + "\x91\x80\x8D\xEC\x97\x9A\x97\xF0 \xB6\xC5 end";
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The pages and words of a PDF as pdftotext places them, one "page"/"word" line each, so
// that two PDFs can be compared for layout and nothing else (not their dates or titles).
std::vector<std::string> Layout(const fs::path& pdf) {
    const fs::path html = fs::path(pdf).replace_extension(".html");
    const std::string command = "pdftotext -bbox '" + pdf.string() + "' '" + html.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const std::string text = ReadAll(html);
    std::vector<std::string> layout;
    const std::regex element(R"re(<page [^>]*>|<word [^>]*>[^<]*</word>)re");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), element);
         it != std::sregex_iterator(); ++it) {
        layout.push_back(it->str());
    }
    return layout;
}

class ViewPrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_dir = fs::path(KLT_BINARY_DIR) / "tests" / "view-print" / name;
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        klt::PrintDialogSeam::Reset();
        m_view.SetDocument(&m_doc);
    }

    void TearDown() override {
        EXPECT_FALSE(klt::PrintDialogSeam::HasQueuedAnswers());
        klt::PrintDialogSeam::Reset();
        if (!HasFailure()) {
            fs::remove_all(m_dir);
        }
    }

    // The same history in the document and in a file for klt-print.
    fs::path MakeHistory(int lineCount) {
        std::string text;
        for (int i = 0; i < lineCount; ++i) {
            text += HistoryLine(i) + "\r\n";
        }
        m_doc.ClearHistory();
        m_doc.AppendText(text);
        const fs::path path = m_dir / "history.txt";
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    fs::path PrintWithTool(const fs::path& history, const std::string& extra) {
        const fs::path pdf = m_dir / "tool.pdf";
        const std::string command = "'" + std::string(KLT_PRINT_EXE) + "' '" + history.string() +
                                    "' -o '" + pdf.string() + "' " + extra;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return pdf;
    }

    fs::path m_dir;
    CKLTDoc m_doc;
    CKLTView m_view;
};

TEST_F(ViewPrintTest, PrintingFromTheViewGivesTheToolsPages) {
    const struct {
        int lines;
        int fromPage;
        int toPage;
        const char* toolPages;
        int pages;
    } cases[] = {
        {600, 0, 0, "", 3},            // all pages
        {600, 2, 3, "--pages 2-3", 2}, // a range chosen in the dialog
        {0, 0, 0, "", 1},              // an empty history: the counter alone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lines) + " lines, pages " + std::to_string(c.fromPage) + "-" +
                     std::to_string(c.toPage));
        klt::PrintDialogSeam::Reset();
        const fs::path history = MakeHistory(c.lines);
        const fs::path pdf = m_dir / "view.pdf";
        klt::PrintDialogSeam::SetNextAnswer(
            {true, c.fromPage, c.toPage, QString::fromStdString(pdf.string())});

        m_view.OnFilePrint();

        ASSERT_EQ(klt::PrintDialogSeam::Shown().size(), 1);
        EXPECT_EQ(klt::PrintDialogSeam::Shown()[0].minPage, 1);
        EXPECT_EQ(klt::PrintDialogSeam::Shown()[0].maxPage, c.lines == 0 ? 1 : 3);
        const std::vector<std::string> printed = Layout(pdf);
        EXPECT_EQ(std::count_if(printed.begin(), printed.end(),
                                [](const std::string& e) { return e.rfind("<page", 0) == 0; }),
                  c.pages);
        EXPECT_EQ(printed, Layout(PrintWithTool(history, c.toolPages)));
    }
}

TEST_F(ViewPrintTest, CancellingThePrintDialogPrintsNothing) {
    MakeHistory(10);
    const fs::path pdf = m_dir / "view.pdf";
    klt::PrintDialogSeam::SetNextAnswer({false, 0, 0, QString::fromStdString(pdf.string())});

    m_view.OnFilePrint();

    EXPECT_EQ(klt::PrintDialogSeam::Shown().size(), 1);
    EXPECT_FALSE(fs::exists(pdf));
}

TEST_F(ViewPrintTest, APrinterThatCannotStartIsReported) {
    MakeHistory(10);
    const fs::path pdf = m_dir / "no-such-folder" / "view.pdf";
    klt::PrintDialogSeam::SetNextAnswer({true, 0, 0, QString::fromStdString(pdf.string())});
    klt::MessageBoxSeam::Reset();
    klt::MessageBoxSeam::SetNextAnswer(klt::IDOK);

    m_view.OnFilePrint();

    ASSERT_EQ(klt::MessageBoxSeam::Shown().size(), 1);
    EXPECT_TRUE(
        klt::MessageBoxSeam::Shown()[0].text.contains(QStringLiteral("印刷できませんでした")));
    EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].icon, klt::MsgIcon::Exclamation);
    EXPECT_FALSE(klt::MessageBoxSeam::HasQueuedAnswers());
    klt::MessageBoxSeam::Reset();
}

TEST_F(ViewPrintTest, PreviewShowsEveryPageWithoutAPrintDialog) {
    MakeHistory(600);
    int previewPages = -1;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* preview = qobject_cast<QPrintPreviewDialog*>(modal)) {
            if (auto* pages = preview->findChild<QPrintPreviewWidget*>()) {
                previewPages = pages->pageCount();
            }
        }
        if (modal) {
            modal->close();
        }
    });

    m_view.OnFilePrintPreview();

    EXPECT_EQ(previewPages, 3);
    EXPECT_TRUE(klt::PrintDialogSeam::Shown().isEmpty());
}

} // namespace
