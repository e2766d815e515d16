#include "GuiTestSupport.h"

#include "gui/app/KLTApp.h"
#include "gui/app/SingleInstance.h"

#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString NAME = QStringLiteral("6677573A-8BFD-4004-A828-89B9293A706A");

TEST(SingleInstance, ASecondStartOfTheAppAsksTheRunningCopyToComeForwardAndEnds) {
    QTemporaryDir runtime; // private to the user, like the runtime folder
    CSingleInstance first(NAME, runtime.path());
    ASSERT_EQ(first.Acquire(), CSingleInstance::Result::First);
    int requests = 0;
    first.SetComeForwardHandler([&requests] { ++requests; });

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(KLT_APP_BINARY), {QStringLiteral("ignored-file.txt")});
    ASSERT_TRUE(second.waitForStarted());

    ASSERT_TRUE(
        WaitUntil([&] { return second.state() == QProcess::NotRunning && requests == 1; }, 30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
}

TEST(SingleInstance, TheLockBelongsToOneHolderAtATime) {
    QTemporaryDir runtime;
    {
        CSingleInstance first(NAME, runtime.path());
        ASSERT_EQ(first.Acquire(), CSingleInstance::Result::First);
        int requests = 0;
        first.SetComeForwardHandler([&requests] { ++requests; });

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

TEST(SingleInstance, AFolderOthersCanReachIsNotUsed) {
    QTemporaryDir shared;
    QFile::setPermissions(shared.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                             QFileDevice::ExeOther | QFileDevice::WriteOther);
    CSingleInstance instance(NAME, shared.path());
    EXPECT_EQ(instance.Acquire(), CSingleInstance::Result::Failed);
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

} // namespace
