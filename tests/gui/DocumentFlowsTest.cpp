#include "GuiTestSupport.h"

#include "core/document/KLTDoc.h"
#include "core/res/Strings.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/KLTApp.h"
#include "gui/app/MainFrame.h"
#include "gui/framework/FileDialog.h"
#include "gui/framework/MessageBox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using klt::FileDialogSeam;
using klt::MessageBoxSeam;

QString Text(unsigned id, const QString& argument = QString()) {
    return QString::fromUtf8(res::LoadString(id)).replace(QStringLiteral("%1"), argument);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class DocumentFlowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBoxSeam::Reset();
        FileDialogSeam::Reset();
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_app.OnFileNew());
        m_frame = m_app.GetMainWnd();
        m_doc = m_frame->GetActiveDocument();
        m_template = m_app.GetDocTemplate();
    }
    void TearDown() override {
        EXPECT_FALSE(MessageBoxSeam::HasQueuedAnswers()) << "a message box expected but not shown";
        EXPECT_FALSE(FileDialogSeam::HasQueuedAnswers()) << "a file dialog expected but not shown";
        MessageBoxSeam::Reset();
        FileDialogSeam::Reset();
        m_doc->SetModifiedFlag(false); // the fixture's window closes without asking
    }

    QString Path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    void Receive(const char* text) { m_doc->AppendText(text); }

    // The one message box shown since the last call, as (text, icon).
    void ExpectOneMessage(const QString& text, klt::MsgIcon icon) {
        ASSERT_EQ(MessageBoxSeam::Shown().size(), 1);
        EXPECT_EQ(MessageBoxSeam::Shown()[0].text, text);
        EXPECT_EQ(MessageBoxSeam::Shown()[0].icon, icon);
        MessageBoxSeam::Reset();
    }

    QTemporaryDir m_dir;
    CKLTApp m_app;
    CMainFrame* m_frame = nullptr;
    CKLTDoc* m_doc = nullptr;
    CMySingleDocTemplate* m_template = nullptr;
};

TEST_F(DocumentFlowsTest, SaveAsProposesTheTitleAndTakesTheNewName) {
    ASSERT_TRUE(WaitUntil([this] { return m_frame->IsCommandEnabled(res::ID_FILE_SAVE_AS); }));
    Receive("A\r\n\r\n\x82\x61\x82\x62\r\nEND");
    FileDialogSeam::SetNextFileName(Path("history.txt"));
    m_frame->OnCommand(res::ID_FILE_SAVE_AS);

    ASSERT_EQ(FileDialogSeam::Shown().size(), 1);
    const klt::ShownFileDialog& dialog = FileDialogSeam::Shown()[0];
    EXPECT_EQ(dialog.title, QStringLiteral("名前を付けて保存"));
    EXPECT_EQ(dialog.proposedName, QStringLiteral("無題.txt"));
    EXPECT_EQ(dialog.filters, (QStringList{QStringLiteral("KLT Files (*.txt)"),
                                           QStringLiteral("すべてのファイル (*.*)")}));

    EXPECT_EQ(ReadAll(Path("history.txt")), QByteArray("A\r\n\r\n\x82\x61\x82\x62\r\n"));
    EXPECT_FALSE(m_doc->IsModified());
    EXPECT_EQ(m_doc->GetTitle(), "history.txt");
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("history.txt - KLT"));

    // The next save as proposes the path it was saved to.
    FileDialogSeam::Reset();
    FileDialogSeam::SetNextCancel();
    m_template->OnFileSaveAs();
    EXPECT_EQ(FileDialogSeam::Shown()[0].proposedName,
              QDir::toNativeSeparators(Path("history.txt")));
}

TEST_F(DocumentFlowsTest, ProposedNameIsTheTitleCutBeforeColonOrSlash) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM3: 受信", "COM3.txt"}, {"a/b", "a.txt"}, {"x\\y", "x.txt"}, {"plain", "plain.txt"}};
    for (const auto& [title, proposed] : cases) {
        m_doc->SetTitle(title);
        FileDialogSeam::Reset();
        FileDialogSeam::SetNextCancel();
        EXPECT_FALSE(m_template->DoSave(nullptr));
        EXPECT_EQ(FileDialogSeam::Shown()[0].proposedName, QString::fromUtf8(proposed)) << title;
    }
}

TEST_F(DocumentFlowsTest, CancelledSaveAsWritesNothingAndKeepsTheDocumentModified) {
    Receive("X\r\n");
    FileDialogSeam::SetNextCancel();
    m_template->OnFileSaveAs();
    EXPECT_TRUE(m_doc->IsModified());
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty());
    EXPECT_TRUE(MessageBoxSeam::Shown().isEmpty());
}

TEST_F(DocumentFlowsTest, FailedSavesSayWhyAndLeaveTheOldFileAlone) {
    Receive("new\r\n");
    Write(Path("kept.txt"), "old\r\n");
    struct Case {
        QString target;
        QString message;
    };
    const Case cases[] = {
        {Path("no-such-folder/h.txt"),
         Text(res::AFX_IDP_FILE_NOT_FOUND, QDir::toNativeSeparators(Path("no-such-folder/h.txt")))},
        {m_dir.path(), Text(res::AFX_IDP_INVALID_FILENAME)},
    };
    for (const Case& c : cases) {
        FileDialogSeam::SetNextFileName(c.target);
        MessageBoxSeam::SetNextAnswer(klt::IDOK);
        m_template->OnFileSaveAs();
        ExpectOneMessage(c.message, klt::MsgIcon::Exclamation);
        EXPECT_TRUE(m_doc->IsModified());
        EXPECT_EQ(m_doc->GetTitle(), "無題");
    }
    EXPECT_EQ(ReadAll(Path("kept.txt")), QByteArray("old\r\n"));
}

TEST_F(DocumentFlowsTest, OpenReadsTheChosenFile) {
    Write(Path("h.txt"), "one\nTWO\r\nthree");
    FileDialogSeam::SetNextFileName(Path("h.txt"));
    m_app.OnFileOpen();
    EXPECT_EQ(FileDialogSeam::Shown()[0].title, QStringLiteral("開く"));
    ASSERT_EQ(m_doc->GetLineCount(), 3u);
    EXPECT_EQ(m_doc->GetLine(2), "three");
    EXPECT_FALSE(m_doc->IsModified());
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("h.txt - KLT"));
    EXPECT_TRUE(MessageBoxSeam::Shown().isEmpty());

    FileDialogSeam::SetNextCancel();
    m_app.OnFileOpen();
    EXPECT_EQ(m_doc->GetLineCount(), 3u) << "a cancelled dialog changes nothing";
}

TEST_F(DocumentFlowsTest, TheSaveQuestionComesFirstAndItsAnswersDecide) {
    Write(Path("h.txt"), "from file\r\n");
    const QString question = Text(res::AFX_IDP_ASK_TO_SAVE, QStringLiteral("無題"));

    // Cancel: the received history stays as it is.
    Receive("received\r\n");
    MessageBoxSeam::SetNextAnswer(klt::IDCANCEL);
    EXPECT_EQ(m_app.OpenDocumentFile(Path("h.txt")), nullptr);
    ASSERT_EQ(MessageBoxSeam::Shown().size(), 1);
    EXPECT_EQ(MessageBoxSeam::Shown()[0].buttons, klt::MsgButtons::YesNoCancel);
    ExpectOneMessage(question, klt::MsgIcon::Question);
    EXPECT_EQ(m_doc->GetLine(0), "received");
    EXPECT_TRUE(m_doc->IsModified());

    // Yes for an untitled history asks for a name; cancelling that cancels the open.
    MessageBoxSeam::SetNextAnswer(klt::IDYES);
    FileDialogSeam::SetNextCancel();
    EXPECT_EQ(m_app.OpenDocumentFile(Path("h.txt")), nullptr);
    EXPECT_EQ(m_doc->GetLine(0), "received");
    MessageBoxSeam::Reset();

    // Yes and a name: saved there, then the file is opened.
    MessageBoxSeam::SetNextAnswer(klt::IDYES);
    FileDialogSeam::SetNextFileName(Path("saved.txt"));
    EXPECT_NE(m_app.OpenDocumentFile(Path("h.txt")), nullptr);
    EXPECT_EQ(ReadAll(Path("saved.txt")), QByteArray("received\r\n"));
    EXPECT_EQ(m_doc->GetLine(0), "from file");
    MessageBoxSeam::Reset();

    // With a path name, Yes writes over that file without a dialog.
    Receive("more\r\n");
    MessageBoxSeam::SetNextAnswer(klt::IDYES);
    EXPECT_NE(m_app.OpenDocumentFile(Path("saved.txt")), nullptr);
    EXPECT_EQ(FileDialogSeam::Shown().size(), 2) << "no dialog for the save";
    ExpectOneMessage(Text(res::AFX_IDP_ASK_TO_SAVE, QStringLiteral("h.txt")),
                     klt::MsgIcon::Question);
    EXPECT_EQ(ReadAll(Path("h.txt")), QByteArray("from file\r\nmore\r\n"));
}

TEST_F(DocumentFlowsTest, OpeningTheOpenFileReadsItAgainFromDisk) {
    Write(Path("h.txt"), "first\r\n");
    ASSERT_NE(m_app.OpenDocumentFile(Path("h.txt")), nullptr);
    CKLTDoc* match = m_doc;
    EXPECT_EQ(m_template->MatchDocType(QFile::encodeName(Path("h.txt")).toStdString(), match),
              CMySingleDocTemplate::yesAttemptNative);
    EXPECT_EQ(match, nullptr);
    EXPECT_EQ(m_template->MatchDocType("/elsewhere/h.log", match),
              CMySingleDocTemplate::yesAttemptForeign);

    Write(Path("h.txt"), "second\r\n");
    Receive("unsaved\r\n");
    MessageBoxSeam::SetNextAnswer(klt::IDNO);
    ASSERT_NE(m_app.OpenDocumentFile(Path("h.txt")), nullptr);
    EXPECT_EQ(MessageBoxSeam::Shown().size(), 1);
    ASSERT_EQ(m_doc->GetLineCount(), 1u);
    EXPECT_EQ(m_doc->GetLine(0), "second");
}

TEST_F(DocumentFlowsTest, FilesThatCannotBeReadAreRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
    QDir(m_dir.path()).mkdir(QStringLiteral("folder"));
    const QString missing = QDir::toNativeSeparators(Path("missing.txt"));
    struct Case {
        QString path;
        QString message;
    };
    const Case cases[] = {
        {Path("missing.txt"), Text(res::AFX_IDP_FILE_NOT_FOUND, missing)},
        {Path("folder"), Text(res::IDS_NOT_A_FILE, QDir::toNativeSeparators(Path("folder")))},
        {Path("fifo"), Text(res::IDS_NOT_A_FILE, QDir::toNativeSeparators(Path("fifo")))},
        {QStringLiteral("/dev/null"), Text(res::IDS_NOT_A_FILE, QStringLiteral("/dev/null"))},
    };
    Receive("kept\r\n");
    for (const Case& c : cases) {
        MessageBoxSeam::SetNextAnswer(klt::IDNO); // do not save the history
        MessageBoxSeam::SetNextAnswer(klt::IDOK); // the failure
        EXPECT_EQ(m_app.OpenDocumentFile(c.path), nullptr);
        ASSERT_EQ(MessageBoxSeam::Shown().size(), 2) << c.path.toStdString();
        EXPECT_EQ(MessageBoxSeam::Shown()[1].text, c.message);
        EXPECT_EQ(MessageBoxSeam::Shown()[1].icon, klt::MsgIcon::Exclamation);
        MessageBoxSeam::Reset();
        // The document is untouched, and stays modified as it was after the question.
        EXPECT_EQ(m_doc->GetLine(0), "kept");
        EXPECT_TRUE(m_doc->IsModified());
        EXPECT_EQ(m_doc->GetTitle(), "無題");
    }
}

TEST_F(DocumentFlowsTest, AReadThatFailsPartWayEmptiesTheHistoryAndSaysSo) {
    // A regular file whose read fails: this process's memory from address 0 gives EIO.
    const QString failing = QStringLiteral("/proc/self/mem");
    Receive("received\r\n");
    MessageBoxSeam::SetNextAnswer(klt::IDNO);
    MessageBoxSeam::SetNextAnswer(klt::IDOK);
    EXPECT_EQ(m_app.OpenDocumentFile(failing), nullptr);
    ASSERT_EQ(MessageBoxSeam::Shown().size(), 2);
    EXPECT_EQ(MessageBoxSeam::Shown()[1].text, Text(res::AFX_IDP_FAILED_TO_OPEN_DOC));
    EXPECT_EQ(MessageBoxSeam::Shown()[1].icon, klt::MsgIcon::Exclamation);
    EXPECT_EQ(m_doc->GetLineCount(), 0u);
    EXPECT_TRUE(m_doc->IsModified()) << "as it was after the question";
    EXPECT_EQ(m_doc->GetTitle(), "無題");
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("無題 - KLT"));
}

TEST_F(DocumentFlowsTest, AnUnreadableFileIsReportedAsAccessDenied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "file permissions do not bind root";
    }
    Write(Path("locked.txt"), "x\r\n");
    ::chmod(QFile::encodeName(Path("locked.txt")).constData(), 0);
    MessageBoxSeam::SetNextAnswer(klt::IDOK);
    EXPECT_EQ(m_app.OpenDocumentFile(Path("locked.txt")), nullptr);
    ExpectOneMessage(
        Text(res::AFX_IDP_FILE_ACCESS_DENIED, QDir::toNativeSeparators(Path("locked.txt"))),
        klt::MsgIcon::Exclamation);
}

TEST_F(DocumentFlowsTest, ClosingTheWindowAsksFirstAndCancelKeepsItOpen) {
    ASSERT_TRUE(WaitUntil([this] { return m_frame->isVisible(); }));
    Receive("unsaved\r\n");
    MessageBoxSeam::SetNextAnswer(klt::IDCANCEL);
    EXPECT_FALSE(m_frame->close());
    EXPECT_TRUE(m_frame->isVisible());
    EXPECT_EQ(MessageBoxSeam::Shown().size(), 1);
    MessageBoxSeam::Reset();

    MessageBoxSeam::SetNextAnswer(klt::IDNO);
    m_frame->OnCommand(res::ID_APP_EXIT);
    EXPECT_FALSE(m_frame->isVisible());
}

} // namespace
