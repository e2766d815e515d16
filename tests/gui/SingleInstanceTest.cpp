#include "GuiTestSupport.h"

#include "core/document/KLTDoc.h"
#include "core/res/Strings.h"
#include "gui/app/AboutDlg.h"
#include "gui/app/KLTApp.h"
#include "gui/app/MainFrame.h"
#include "gui/app/SingleInstance.h"
#include "gui/framework/MessageBox.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>

namespace {

const QString NAME = QStringLiteral("6677573A-8BFD-4004-A828-89B9293A706A");

// The app as a later start, or a start after su, runs it: in its own process.
QProcessEnvironment AppEnvironment(const QString& runtimeDir) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

TEST(SingleInstance, ASecondStartHandsItsFileToTheRunningCopyAndEnds) {
    QTemporaryDir runtime; // private to the user, like the runtime folder
    QTemporaryDir work;
    CSingleInstance first(NAME, runtime.path());
    ASSERT_EQ(first.Acquire(), CSingleInstance::Result::First);
    QStringList requests;
    first.SetComeForwardHandler([&requests](const QString& file) { requests.append(file); });

    const struct {
        QStringList arguments;
        QString request;
    } cases[] = {
        {{}, QString()},                                         // only come forward
        {{QStringLiteral("h 1.txt")}, work.filePath("h 1.txt")}, // made absolute here
        {{QStringLiteral("--"), QStringLiteral("-dash\nline.txt")},
         work.filePath("-dash\nline.txt")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        requests.clear();
        QProcess second;
        second.setProcessEnvironment(AppEnvironment(runtime.path()));
        second.setWorkingDirectory(work.path());
        second.start(QStringLiteral(KLT_APP_BINARY), c.arguments);
        ASSERT_TRUE(second.waitForStarted());
        ASSERT_TRUE(WaitUntil(
            [&] { return second.state() == QProcess::NotRunning && requests.size() == 1; }, 30000));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_EQ(requests.front(), c.request);
    }
}

TEST(SingleInstance, TheLockBelongsToOneHolderAtATime) {
    QTemporaryDir runtime;
    {
        CSingleInstance first(NAME, runtime.path());
        ASSERT_EQ(first.Acquire(), CSingleInstance::Result::First);
        int requests = 0;
        first.SetComeForwardHandler([&requests](const QString&) { ++requests; });

        CSingleInstance later(NAME, runtime.path());
        EXPECT_EQ(later.Acquire(), CSingleInstance::Result::AnotherRuns);
        EXPECT_TRUE(later.AskRunningCopyToComeForward());
        EXPECT_TRUE(WaitUntil([&requests] { return requests == 1; }));
    }
    CSingleInstance next(NAME, runtime.path());
    EXPECT_EQ(next.Acquire(), CSingleInstance::Result::First) << "released when the copy ended";
}

TEST(SingleInstance, ACrashedCopysLeftoversDoNotBlockTheNextStart) {
    QTemporaryDir runtime;
    CSingleInstance probe(NAME, runtime.path());
    // What a killed copy leaves: the lock file and a socket file nobody listens on.
    QFile(runtime.filePath(QStringLiteral("klt-%1.lock").arg(NAME))).open(QIODevice::WriteOnly);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(probe.SocketPath());
    ASSERT_LT(socketPath.size(), static_cast<int>(sizeof address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), socketPath.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    CSingleInstance next(NAME, runtime.path());
    ASSERT_EQ(next.Acquire(), CSingleInstance::Result::First);
    CSingleInstance later(NAME, runtime.path());
    EXPECT_EQ(later.Acquire(), CSingleInstance::Result::AnotherRuns);
    EXPECT_TRUE(later.AskRunningCopyToComeForward()) << "listening again on the same name";
}

TEST(SingleInstance, ARuntimeFolderThatIsNotPrivatelyOursGivesWayToAFolderOfOurOwn) {
    QTemporaryDir parent;
    const QString fallback = parent.filePath(QStringLiteral("own"));
    const QString runtime = parent.filePath(QStringLiteral("runtime"));
    const auto makeRuntime = [&](QFile::Permissions permissions) {
        QDir(runtime).removeRecursively();
        QFile::remove(runtime);
        QDir().mkdir(runtime);
        QFile::setPermissions(runtime, permissions);
    };
    const QFile::Permissions owner =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QFile::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                      QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                      QFileDevice::WriteOther | QFileDevice::ExeOther;
    const struct {
        const char* what;
        std::function<void()> make;
    } cases[] = {
        {"open to others",
         [&] {
             makeRuntime(owner | QFileDevice::ReadOther | QFileDevice::WriteOther |
                         QFileDevice::ExeOther);
         }},
        {"readable by the group",
         [&] { makeRuntime(owner | QFileDevice::ReadGroup | QFileDevice::ExeGroup); }},
        {"missing", [&] { QDir(runtime).removeRecursively(); }},
        {"a file",
         [&] {
             QDir(runtime).removeRecursively();
             QFile(runtime).open(QIODevice::WriteOnly);
         }},
        {"another user's (after su)",
         [&] {
             makeRuntime(owner);
             if (::geteuid() == 0) {
                 ASSERT_EQ(::chown(QFile::encodeName(runtime).constData(), 65534, 65534), 0);
             } else {
                 QFile::setPermissions(runtime, owner | QFileDevice::WriteOther);
             }
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        CSingleInstance instance(NAME, runtime, fallback);
        EXPECT_EQ(instance.Folder(), fallback);
        EXPECT_EQ(instance.Acquire(), CSingleInstance::Result::First);
        EXPECT_EQ(QFile::permissions(fallback) & others, QFile::Permissions()) << "private";
    }

    // With no private folder at all the app still runs, only without the rule.
    QFile::setPermissions(fallback, owner | QFileDevice::WriteOther);
    CSingleInstance alone(NAME, runtime, fallback);
    EXPECT_EQ(alone.Acquire(), CSingleInstance::Result::Alone);
}

TEST(SingleInstance, TheAppStartedWithAForeignRuntimeFolderRunsAndStaysTheOnlyCopy) {
    QTemporaryDir foreign;
    QFile::setPermissions(foreign.path(), QFile::Permissions(0x7777));
    QTemporaryDir temp; // the app's own folder goes under the temporary folder
    QProcessEnvironment environment = AppEnvironment(foreign.path());
    environment.insert(QStringLiteral("TMPDIR"), temp.path());

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(KLT_APP_BINARY), QStringList());
    ASSERT_TRUE(first.waitForStarted());
    const QString lock =
        temp.filePath(QStringLiteral("klt-%1/klt-%2.lock").arg(::geteuid()).arg(NAME));
    ASSERT_TRUE(WaitUntil(
        [&] { return QFile::exists(lock) || first.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(first.state(), QProcess::Running) << "exit code " << first.exitCode();

    // A later start in the same situation finds it there, hands over and ends.
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(KLT_APP_BINARY), QStringList());
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

TEST(SingleInstance, ComingForwardRestoresAMinimisedWindow) {
    QWidget window;
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());
    CKLTApp::BringForward(&window);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
}

TEST(SingleInstance, ComingForwardPutsAnOpenModalBoxInFront) {
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QMessageBox box(QMessageBox::Information, QStringLiteral("KLT"), QStringLiteral("..."),
                    QMessageBox::Ok, &window);
    box.setWindowModality(Qt::ApplicationModal); // like a box shown during a reception
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QWidget otherProgram; // stands in for whatever the user was working in
    otherProgram.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&otherProgram));
    otherProgram.activateWindow();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &otherProgram; }));
    CKLTApp::BringForward(&window);
    EXPECT_TRUE(WaitUntil([&box] { return QApplication::activeWindow() == &box; }));
}

// "klt FILE", as the desktop entry starts it: the app opens the file like the open command,
// and a later start hands its file to the running copy.
class OpenFromTheFileManager : public ::testing::Test {
protected:
    void SetUp() override {
        klt::MessageBoxSeam::Reset();
        Write(QStringLiteral("h.txt"), "one\r\ntwo\r\n");
        QDir(m_files.path()).mkdir(QStringLiteral("folder"));
    }
    void TearDown() override {
        EXPECT_FALSE(klt::MessageBoxSeam::HasQueuedAnswers()) << "a message box expected";
        klt::MessageBoxSeam::Reset();
        if (CMainFrame* frame = m_app.GetMainWnd()) {
            frame->GetActiveDocument()->SetModifiedFlag(false);
        }
    }

    void Write(const QString& name, const QByteArray& bytes) {
        QFile file(m_files.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    CKLTDoc* Doc() const { return m_app.GetMainWnd()->GetActiveDocument(); }

    // The bad files and what the open command says about them.
    struct BadFile {
        QString path;
        QString message;
    };
    std::vector<BadFile> BadFiles() const {
        const auto text = [](unsigned id, const QString& path) {
            return QString::fromUtf8(res::LoadString(id))
                .replace(QStringLiteral("%1"), QDir::toNativeSeparators(path));
        };
        const QString missing = m_files.filePath(QStringLiteral("missing.txt"));
        const QString folder = m_files.filePath(QStringLiteral("folder"));
        return {{missing, text(res::AFX_IDP_FILE_NOT_FOUND, missing)},
                {folder, text(res::IDS_NOT_A_FILE, folder)}};
    }

    // A later start, "klt FILE", in its own process.
    void StartSecondCopy(const QString& file) {
        QProcess second;
        second.setProcessEnvironment(AppEnvironment(m_runtime.path()));
        second.start(QStringLiteral(KLT_APP_BINARY), {file});
        ASSERT_TRUE(second.waitForStarted());
        ASSERT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }, 30000));
        EXPECT_EQ(second.exitCode(), 0);
    }

    QTemporaryDir m_runtime;
    QTemporaryDir m_files;
    CKLTApp m_app;
};

TEST_F(OpenFromTheFileManager, TheFileNamedAtStartIsOpenedOnceTheWindowIsReady) {
    const QString path = m_files.filePath(QStringLiteral("h.txt"));
    ASSERT_TRUE(m_app.InitInstance({QStringLiteral("klt"), path}, m_runtime.path()));
    EXPECT_EQ(Doc()->GetLineCount(), 0u) << "not before the window is ready";
    ASSERT_TRUE(WaitUntil([this] { return Doc()->GetLineCount() == 2; }));
    EXPECT_EQ(Doc()->GetLine(1), "two");
    EXPECT_EQ(m_app.GetMainWnd()->windowTitle(), QStringLiteral("h.txt - KLT"));
    EXPECT_TRUE(m_app.GetMainWnd()->isVisible());
}

TEST_F(OpenFromTheFileManager, ABadFileNamedAtStartGetsTheOpenCommandsMessage) {
    for (const BadFile& bad : BadFiles()) {
        SCOPED_TRACE(bad.path.toStdString());
        CKLTApp app;
        klt::MessageBoxSeam::SetNextAnswer(klt::IDOK);
        QTemporaryDir runtime;
        ASSERT_TRUE(app.InitInstance({QStringLiteral("klt"), bad.path}, runtime.path()));
        ASSERT_TRUE(WaitUntil([] { return !klt::MessageBoxSeam::Shown().isEmpty(); }));
        EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].text, bad.message);
        EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].owner, app.GetMainWnd());
        EXPECT_EQ(app.GetMainWnd()->GetActiveDocument()->GetTitle(), "無題");
        klt::MessageBoxSeam::Reset();
    }
}

TEST_F(OpenFromTheFileManager, ALaterStartsFileIsOpenedByTheRunningCopyAfterTheSaveQuestion) {
    ASSERT_TRUE(m_app.InitInstance({QStringLiteral("klt")}, m_runtime.path()));
    ASSERT_TRUE(
        WaitUntil([this] { return m_app.GetMainWnd()->IsCommandEnabled(res::ID_FILE_OPEN); }));
    EXPECT_EQ(Doc()->GetTitle(), "無題") << "no file: an empty untitled history";
    Doc()->AppendText("received\r\n");

    for (const BadFile& bad : BadFiles()) {
        SCOPED_TRACE(bad.path.toStdString());
        klt::MessageBoxSeam::SetNextAnswer(klt::IDNO); // keep the history unsaved
        klt::MessageBoxSeam::SetNextAnswer(klt::IDOK);
        StartSecondCopy(bad.path);
        ASSERT_TRUE(WaitUntil([] { return klt::MessageBoxSeam::Shown().size() == 2; }));
        EXPECT_EQ(klt::MessageBoxSeam::Shown()[1].text, bad.message);
        EXPECT_EQ(Doc()->GetLine(0), "received");
        klt::MessageBoxSeam::Reset();
    }

    klt::MessageBoxSeam::SetNextAnswer(klt::IDNO);
    StartSecondCopy(m_files.filePath(QStringLiteral("h.txt")));
    ASSERT_TRUE(WaitUntil([this] { return Doc()->GetLineCount() == 2; }));
    ASSERT_EQ(klt::MessageBoxSeam::Shown().size(), 1);
    EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].icon, klt::MsgIcon::Question) << "save question";
    EXPECT_EQ(m_app.GetMainWnd()->windowTitle(), QStringLiteral("h.txt - KLT"));

    // While a dialog is up the file waits for it to close, as a dropped file would.
    Write(QStringLiteral("h.txt"), "again\r\n");
    CAboutDlg about(m_app.GetMainWnd());
    std::size_t linesWhileUp = 0;
    QTimer::singleShot(0, &about, [&] {
        StartSecondCopy(m_files.filePath(QStringLiteral("h.txt")));
        QTest::qWait(500);
        linesWhileUp = Doc()->GetLineCount();
        about.EndDialog(klt::IDOK);
    });
    about.DoModal();
    EXPECT_EQ(linesWhileUp, 2u);
    ASSERT_TRUE(WaitUntil([this] { return Doc()->GetLineCount() == 1; }));
    EXPECT_EQ(Doc()->GetLine(0), "again");
}

} // namespace
