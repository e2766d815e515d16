#include "ReceptionHarness.h"
#include "common/OtherProcess.h"
#include "common/SimulatorProcess.h"

#include "core/reception/ComAPI.h"
#include "core/res/Strings.h"
#include "gui/reception/ComSelectDlg.h"
#include "gui/reception/PortEnumeration.h"
#include "gui/view/KLTView.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string SamplePath(const char* name) {
    return std::string(KLT_SOURCE_DIR) + "/samples/" + name;
}

// The lines of a history file: its text cut at every CR LF.
Lines FileLines(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// Runs the current test again in a child process under the unprivileged user nobody and
// returns its exit status, or EXIT_NOT_RUN when it could not be started.
constexpr int EXIT_NOT_RUN = 125;

int RunThisTestAsNobody() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return EXIT_NOT_RUN;
    }
    // Everything the child needs is made before the fork: it only switches user and execs.
    std::vector<std::string> environment = {"HOME=/tmp", "LANG=C.UTF-8",
                                            "QT_QPA_PLATFORM=offscreen"};
    // A sanitizer build's child must run under the same sanitizer settings as this run.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    char* argv[] = {self, const_cast<char*>(filter.c_str()), nullptr};
    const uid_t nobody = 65534;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
            ::_exit(EXIT_NOT_RUN);
        }
        ::execve(self, argv, envp.data());
        ::_exit(EXIT_NOT_RUN);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

class ReceptionTest : public ReceptionFixture {
protected:
    void StartReception() { Frame().OnCommand(res::ID_RECEIVE_START); }

    bool PortOpenAndWaiting() { return Frame().Controller().IsPortOpen() && WaitDialogUp(); }

    bool IsReady() { return Frame().GetState() == CMainFrame::STATE_READY; }

    std::string MarkerText() { return std::string(Frame().Controller().MarkerText()); }

    // Waits until the reception has ended, the normal end's message answered.
    bool WaitForReady(int timeoutMs = 15000) {
        return WaitFor([this] { return IsReady(); }, timeoutMs);
    }

    std::vector<QString> BoxTexts() {
        std::vector<QString> texts;
        for (const auto& seen : m_boxes->SeenBoxes()) {
            texts.push_back(seen.text);
        }
        return texts;
    }
};

} // namespace

TEST_F(ReceptionTest, MarkerSplitAcrossChunksAndTheLineBeforeItAreKept) {
    ChoosePort(m_line.PortName());
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write("ABC\r**"); });
    steps.When([&] { return MarkerText() == "ABC\r\n**"; }, [&] { m_line.Write("**\rDEF\r"); });
    StartReception();
    EXPECT_TRUE(WaitFor([&] { return Frame().GetState() == CMainFrame::STATE_RECEIVING; }));
    ASSERT_TRUE(WaitForReady());
    EXPECT_TRUE(steps.AllDone());
    EXPECT_EQ(DocLines(), (Lines{"ABC", "****", "DEF"}));
    EXPECT_TRUE(Doc().IsModified());
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Text(res::IDS_RECEIVE_FINISHED)});
    EXPECT_EQ(Frame().GetPaneText(1), QString::fromStdString(m_line.PortName()));
}

TEST_F(ReceptionTest, AChunkThatWouldPassTheLimitIsDroppedAndALaterOneFits) {
    ChoosePort(m_line.PortName());
    const std::string first(500, 'a');
    const std::string withMarker = "bbbbbbbb****bbbbbbbb"; // 20 bytes
    bool stillWaiting = false;
    // Opened before the app takes the port, which then refuses further opens.
    const int observer = m_line.OpenObserver();
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write(first); });
    steps.When([&] { return MarkerText().size() == 500; }, [&] { m_line.Write(withMarker); });
    // Once the line's queue is empty and the ring drained, the 20 bytes have been handled.
    steps.When(
        [&] {
            int waiting = 1;
            return ::ioctl(observer, FIONREAD, &waiting) == 0 && waiting == 0 &&
                   Frame().Controller().BytesInFlight() == 0;
        },
        [&] { QTimer::singleShot(300, [&] { m_line.Write("ccccc"); }); });
    steps.When([&] { return MarkerText().size() == 505; },
               [&] {
                   stillWaiting = WaitDialogUp();
                   WaitDialogOf(Frame())->findChild<QPushButton*>("cancelButton")->click();
               });
    StartReception();
    ASSERT_TRUE(WaitForReady());
    EXPECT_TRUE(steps.AllDone());
    EXPECT_TRUE(stillWaiting);
    EXPECT_EQ(MarkerText(), first + "ccccc");
}

TEST_F(ReceptionTest, NoMarkerInTimeShowsTheTimeOutOverTheWaitDialogThenReady) {
    CReceptionController::Timings timings;
    timings.markerTimeoutMs = 400;
    Recreate(timings);
    ChoosePort(m_line.PortName());
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write("no marker here\r"); });
    StartReception();
    ASSERT_TRUE(WaitForReady());
    ASSERT_EQ(m_boxes->SeenBoxes().size(), 1u);
    EXPECT_EQ(m_boxes->SeenBoxes()[0].text, Text(res::IDS_RECEIVE_TIMEOUT));
    EXPECT_TRUE(m_boxes->SeenBoxes()[0].overWaitDialog);
    EXPECT_FALSE(WaitDialogUp());
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
    EXPECT_FALSE(Frame().Controller().IsReaderRunning());
    EXPECT_EQ(Doc().GetLineCount(), 0u);
    EXPECT_FALSE(Doc().IsModified());
    EXPECT_TRUE(Frame().IsCommandEnabled(res::ID_RECEIVE_START));
}

TEST_F(ReceptionTest, CancelInTheWaitDialogClosesThePortWithoutAMessage) {
    ChoosePort(m_line.PortName());
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write("XYZ\r"); });
    steps.When([&] { return MarkerText() == "XYZ\r\n"; },
               [&] { QTest::keyClick(WaitDialogOf(Frame()), Qt::Key_Escape); });
    StartReception();
    ASSERT_TRUE(WaitForReady());
    EXPECT_TRUE(steps.AllDone());
    EXPECT_TRUE(ShownTexts().empty());
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
    EXPECT_EQ(Doc().GetLineCount(), 0u);
    EXPECT_FALSE(Doc().IsModified());
}

TEST_F(ReceptionTest, StartWithoutAPortShowsMessage107AndChangesNothing) {
    Doc().AppendText("KEEP\r\n");
    Doc().SetModifiedFlag(false);
    StartReception();
    QTest::qWait(50);
    EXPECT_EQ(ShownTexts(), std::vector<QString>{Text(res::IDS_NO_PORT_CHOSEN)});
    EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].icon, klt::MsgIcon::Stop);
    EXPECT_TRUE(IsReady());
    EXPECT_EQ(DocLines(), Lines{"KEEP"});
}

TEST_F(ReceptionTest, UnsavedHistoryIsAskedAboutFirstAndCancelChangesNothing) {
    ChoosePort(m_line.PortName());
    Doc().AppendText("UNSAVED\r\n");
    klt::MessageBoxSeam::SetNextAnswer(klt::IDCANCEL);
    StartReception();
    QTest::qWait(50);
    ASSERT_EQ(klt::MessageBoxSeam::Shown().size(), 1);
    EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].buttons, klt::MsgButtons::YesNoCancel);
    EXPECT_TRUE(IsReady());
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
    EXPECT_EQ(DocLines(), Lines{"UNSAVED"});
    EXPECT_TRUE(Doc().IsModified());
}

TEST_F(ReceptionTest, APortThatCannotBeOpenedSaysWhyAndLeavesAnEmptyDocument) {
    CComAPI holder; // a port this app holds already
    PseudoTerminal held;
    ASSERT_EQ(holder.OpenAndDrain(held.PortName().c_str()), 1);
    PseudoTerminal logged; // held by a program that takes no lock
    OtherProcess logger(logged.SlavePath());
    ASSERT_TRUE(logger.Ready());
    // A terminal program's UUCP lock, in the usual folder when this user may write there.
    PseudoTerminal locked;
    // An adapter's stable name (a link, as udev keeps one) left behind when it was pulled
    // out. Not a closed pseudo-terminal's number: tests running beside this one may take it.
    const std::filesystem::path unpluggedLink =
        std::filesystem::temp_directory_path() /
        ("klt-unplugged-" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::remove(unpluggedLink);
    std::filesystem::create_symlink("/dev/pts/999998", unpluggedLink);
    const std::string unpluggedName = unpluggedLink.string();
    OtherProcess lockOwner;
    const std::string lockPath =
        "/var/lock/LCK.." + locked.SlavePath().substr(locked.SlavePath().rfind('/') + 1);
    char lockText[16];
    std::snprintf(lockText, sizeof lockText, "%10d\n", static_cast<int>(lockOwner.Pid()));
    const bool lockWritten = static_cast<bool>(std::ofstream(lockPath) << lockText);

    struct Case {
        const char* what;
        std::string port;
        unsigned message;
    };
    std::vector<Case> cases = {
        {"missing", "pts/999999", res::IDS_PORT_NOT_CONNECTED},
        {"unplugged", unpluggedName, res::IDS_PORT_NOT_CONNECTED},
        {"held by this app", held.PortName(), res::IDS_PORT_OPEN_FAILED},
        {"open in another program", logged.PortName(), res::IDS_PORT_OPEN_FAILED},
    };
    if (lockWritten) {
        cases.push_back({"locked by a live process", locked.PortName(), res::IDS_PORT_OPEN_FAILED});
    }
    for (const auto& [what, port, message] : cases) {
        klt::MessageBoxSeam::Reset();
        Doc().AppendText("OLD\r\n");
        Doc().SetModifiedFlag(false);
        ChoosePort(port);
        StartReception();
        ASSERT_TRUE(WaitForReady()) << what;
        EXPECT_EQ(ShownTexts(), std::vector<QString>{Text(message)}) << what;
        EXPECT_EQ(Doc().GetLineCount(), 0u) << what;
        EXPECT_FALSE(Doc().IsModified()) << what;
        EXPECT_FALSE(Frame().Controller().IsPortOpen()) << what;
    }
    std::filesystem::remove(unpluggedLink);
    if (lockWritten) {
        std::remove(lockPath.c_str());
        // A stale lock (its owner gone) does not stand in the way, and ours goes on close.
        const pid_t gone = ::fork();
        if (gone == 0) {
            ::_exit(0);
        }
        ::waitpid(gone, nullptr, 0);
        std::snprintf(lockText, sizeof lockText, "%10d\n", static_cast<int>(gone));
        std::ofstream(lockPath) << lockText;
        ChoosePort(locked.PortName());
        bool ourLock = false;
        CTestSteps steps;
        steps.When([&] { return PortOpenAndWaiting(); },
                   [&] {
                       char own[16];
                       std::snprintf(own, sizeof own, "%10d\n", static_cast<int>(::getpid()));
                       ourLock = ReadFile(lockPath) == own;
                       WaitDialogOf(Frame())->findChild<QPushButton*>("cancelButton")->click();
                   });
        StartReception();
        ASSERT_TRUE(WaitForReady());
        EXPECT_TRUE(ourLock);
        EXPECT_FALSE(std::ifstream(lockPath).good());
    }
}

// The machine's end goes away mid-stream (the simulator killed, as an adapter pulled out):
// the reception ends at once with its own message, keeping every line received.
TEST_F(ReceptionTest, ALostLineEndsTheReceptionAtOnceKeepingTheLines) {
    simulator_process::Simulator simulator(
        {"--rate", "1000", "--delay", "0.2", SamplePath("long-history.prn")});
    const std::string port = simulator.PortName();
    ASSERT_FALSE(port.empty());
    ChoosePort(port);
    CTestSteps steps;
    steps.When([&] { return Doc().GetLineCount() > 20; },
               [&] { ::kill(simulator.Pid(), SIGKILL); });
    StartReception();
    // Far sooner than the silence would end it: nothing waits for a second of quiet.
    ASSERT_TRUE(WaitForReady());
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Text(res::IDS_CONNECTION_LOST)});
    EXPECT_TRUE(Doc().IsModified());
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
    EXPECT_FALSE(Frame().Controller().IsReaderRunning());
    const Lines expected = FileLines(ReadFile(SamplePath("long-history.txt")));
    const Lines received = DocLines();
    ASSERT_GT(received.size(), 20u);
    ASSERT_LT(received.size(), expected.size());
    EXPECT_TRUE(std::equal(received.begin(), received.end(), expected.begin()));
}

// While a reception runs, its history goes to the recovery file at every period, whole
// lines only; once more at the end; and the file goes when the history is saved or given up.
TEST_F(ReceptionTest, TheRecoveryFileFollowsTheReceptionUntilSavedOrGivenUp) {
    Recreate({}, 200);
    const std::string recoveryPath = Frame().Recovery().File().Path();
    simulator_process::Simulator simulator(
        {"--rate", "1000", "--delay", "0.2", "--repeat", SamplePath("operation-history.prn")});
    const std::string port = simulator.PortName();
    ASSERT_FALSE(port.empty());
    ChoosePort(port);
    const std::string expected = ReadFile(SamplePath("operation-history.txt"));
    std::string duringReception;
    CTestSteps steps;
    steps.When([&] { return std::ifstream(recoveryPath).good(); },
               [&] {
                   duringReception = ReadFile(recoveryPath);
                   EXPECT_EQ(Frame().GetState(), CMainFrame::STATE_RECEIVING);
               });
    StartReception();
    ASSERT_TRUE(WaitForReady(60000));
    ASSERT_TRUE(steps.AllDone());
    EXPECT_FALSE(duringReception.empty());
    EXPECT_LT(duringReception.size(), expected.size());
    EXPECT_EQ(expected.compare(0, duringReception.size(), duringReception), 0);
    EXPECT_TRUE(ReadFile(recoveryPath) == expected);
    struct stat status {};
    ASSERT_EQ(::stat(recoveryPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // Given up at the next start's save question: gone, and a new one is written.
    klt::MessageBoxSeam::SetNextAnswer(klt::IDNO);
    CTestSteps cancel;
    cancel.When([&] { return PortOpenAndWaiting(); },
                [&] {
                    EXPECT_FALSE(std::ifstream(recoveryPath).good());
                    WaitDialogOf(Frame())->findChild<QPushButton*>("cancelButton")->click();
                });
    StartReception();
    ASSERT_TRUE(WaitForReady());
    EXPECT_TRUE(cancel.AllDone());

    // Saved: gone.
    Doc().AppendText("SAVED\r\n");
    Frame().Recovery().WriteNow();
    ASSERT_TRUE(std::ifstream(recoveryPath).good());
    const std::string saved = m_stateFolder.path().toStdString() + "/saved.txt";
    ASSERT_TRUE(m_template->DoSave(&saved));
    EXPECT_FALSE(std::ifstream(recoveryPath).good());
}

TEST_F(ReceptionTest, APortThisUserMayNotOpenGetsThePermissionMessage) {
    if (::geteuid() == 0) {
        // Root may open any device: this test runs again as an unprivileged user.
        const int status = RunThisTestAsNobody();
        if (status == EXIT_NOT_RUN) {
            GTEST_SKIP() << "cannot run as an unprivileged user here";
        }
        EXPECT_EQ(status, 0) << "the unprivileged run failed";
        return;
    }
    ASSERT_EQ(::chmod(m_line.SlavePath().c_str(), 0), 0);
    ChoosePort(m_line.PortName());
    StartReception();
    ASSERT_TRUE(WaitForReady());
    EXPECT_EQ(ShownTexts(), std::vector<QString>{Text(res::IDS_PORT_PERMISSION_DENIED)});
}

TEST_F(ReceptionTest, AReaderThatCannotStartShowsMessage103AndClosesThePort) {
    ChoosePort(m_line.PortName());
    // The first reader, for the marker.
    m_bFailNextReaderStart = true;
    StartReception();
    ASSERT_TRUE(WaitForReady());
    EXPECT_EQ(ShownTexts(), std::vector<QString>{Text(res::IDS_PORT_OPEN_FAILED)});
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
    EXPECT_FALSE(WaitDialogUp());

    // The second reader, once the marker is in: what came so far stays.
    klt::MessageBoxSeam::Reset();
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); },
               [&] {
                   m_bFailNextReaderStart = true;
                   m_line.Write("****\r");
               });
    StartReception();
    ASSERT_TRUE(WaitFor([&] { return steps.AllDone(); }));
    ASSERT_TRUE(WaitForReady());
    EXPECT_EQ(ShownTexts(), std::vector<QString>{Text(res::IDS_PORT_OPEN_FAILED)});
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
    EXPECT_EQ(DocLines(), Lines{"****"});
}

TEST_F(ReceptionTest, StopWhileReceivingKeepsTheTextAndClosesThePort) {
    ChoosePort(m_line.PortName());
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write("****\rLINE 1\r"); });
    // Bytes that decode to nothing (kanji mode on) keep the reception alive; stop it then.
    for (int i = 0; i < 4; ++i) {
        steps.When([&] { return Frame().GetState() == CMainFrame::STATE_RECEIVING; },
                   [&] { QTimer::singleShot(400, [&] { m_line.Write("\x1c&"); }); });
        steps.When([&] { return Frame().Controller().BytesInFlight() == 0; },
                   [] { QTest::qWait(400); });
    }
    StartReception();
    ASSERT_TRUE(WaitFor([&] { return steps.AllDone(); }));
    // 1.6 s after the marker and still receiving: the FS '&' pairs re-armed the silence timer.
    EXPECT_EQ(Frame().GetState(), CMainFrame::STATE_RECEIVING);
    EXPECT_FALSE(Frame().IsCommandEnabled(res::ID_RECEIVE_START));
    Frame().OnCommand(res::ID_RECEIVE_STOP);
    EXPECT_TRUE(IsReady());
    EXPECT_TRUE(ShownTexts().empty());
    EXPECT_EQ(DocLines(), (Lines{"****", "LINE 1"}));
    EXPECT_TRUE(Doc().IsModified());
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
}

TEST_F(ReceptionTest, SilenceAfterTheMarkerChunkEndsTheReception) {
    ChoosePort(m_line.PortName());
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write("*****\r"); });
    StartReception();
    ASSERT_TRUE(WaitForReady());
    EXPECT_EQ(DocLines(), Lines{"*****"});
    ASSERT_EQ(m_boxes->SeenBoxes().size(), 1u);
    EXPECT_EQ(m_boxes->SeenBoxes()[0].text, Text(res::IDS_RECEIVE_FINISHED));
    // The message comes while the reception is still on; READY only after it.
    EXPECT_EQ(m_boxes->SeenBoxes()[0].state, CMainFrame::STATE_RECEIVING);
}

TEST_F(ReceptionTest, TheOtherEndVanishingEndsAtOnceWithTheTextKept) {
    ChoosePort(m_line.PortName());
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write("****\rPART\r"); });
    steps.When([&] { return Doc().GetLineCount() == 2; }, [&] { m_line.CloseMaster(); });
    StartReception();
    ASSERT_TRUE(WaitForReady());
    EXPECT_EQ(DocLines(), (Lines{"****", "PART"}));
    EXPECT_TRUE(Doc().IsModified());
    ASSERT_EQ(m_boxes->SeenBoxes().size(), 1u);
    EXPECT_EQ(m_boxes->SeenBoxes()[0].text, Text(res::IDS_CONNECTION_LOST));
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
    EXPECT_TRUE(Frame().IsCommandEnabled(res::ID_RECEIVE_START));
}

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

// While receiving, the view follows the end; a refresh that finds no new line while the view
// already shows the end paints nothing, and the screen stays as it was.
TEST_F(ReceptionTest, RefreshesWithNothingNewPaintNothing) {
    CReceptionController::Timings timings;
    timings.rxSilenceMs = 5000; // room for the quiet spells below on a loaded machine
    Recreate(timings);
    ChoosePort(m_line.PortName());
    CKLTView& view = *Frame().GetActiveView();
    std::string lines = "****\r";
    for (int i = 0; i < 40; ++i) {
        lines += "LINE " + std::to_string(i) + "\r";
    }
    const auto quietSpell = [&] {
        PaintCounter counter(view.viewport());
        const QImage before = view.ScreenImage().copy();
        QTest::qWait(450); // four refreshes
        return std::make_pair(counter.paints, view.ScreenImage() == before);
    };
    const auto showsTheEnd = [&] {
        return view.verticalScrollBar()->maximum() > 0 &&
               view.verticalScrollBar()->value() == view.verticalScrollBar()->maximum();
    };
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write(lines); });
    StartReception();
    ASSERT_TRUE(WaitFor([&] { return Doc().GetLineCount() == 41 && showsTheEnd(); }));
    QTest::qWait(250); // the refreshes that catch up with the last paint
    const auto [paintsWhileQuiet, unchanged] = quietSpell();
    EXPECT_EQ(paintsWhileQuiet, 0);
    EXPECT_TRUE(unchanged);
    EXPECT_TRUE(showsTheEnd());

    // A new line is painted and scrolled into view at the next refreshes.
    PaintCounter counter(view.viewport());
    const int maximumBefore = view.verticalScrollBar()->maximum();
    m_line.Write("ONE MORE\r");
    ASSERT_TRUE(WaitFor([&] {
        return Doc().GetLineCount() == 42 && counter.paints > 0 &&
               view.verticalScrollBar()->maximum() > maximumBefore && showsTheEnd();
    }));
    EXPECT_EQ(Frame().GetState(), CMainFrame::STATE_RECEIVING);
    Frame().OnCommand(res::ID_RECEIVE_STOP);
}

// Stopped while the machine is still sending as fast as it can: the stop waits for the reader,
// so no read reaches the closed port (the sanitizer builds watch this too).
TEST_F(ReceptionTest, StoppingDuringReadsNeverTouchesAClosedPort) {
    ChoosePort(m_line.PortName());
    for (const std::size_t stopAfter : {1u, 40u, 200u}) {
        std::atomic<bool> sending{true};
        std::thread machine;
        CTestSteps steps;
        steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write("****\r"); });
        steps.When([&] { return Frame().GetState() == CMainFrame::STATE_RECEIVING; },
                   [&] {
                       // Bounded, so that what nobody reads after the stop still fits in
                       // the line's buffers and no write waits for room for ever.
                       machine = std::thread([&] {
                           for (int i = 0; sending && i < 4000; ++i) {
                               m_line.Write("LINE " + std::to_string(i) + "\r");
                           }
                       });
                   });
        steps.When([&] { return Doc().GetLineCount() > stopAfter; },
                   [&] { Frame().OnCommand(res::ID_RECEIVE_STOP); });
        StartReception();
        ASSERT_TRUE(WaitForReady()) << stopAfter;
        sending = false;
        machine.join();
        EXPECT_FALSE(Frame().Controller().IsPortOpen());
        EXPECT_FALSE(Frame().Controller().IsReaderRunning());
        EXPECT_GT(Doc().GetLineCount(), stopAfter);
        EXPECT_TRUE(ShownTexts().empty());
        Doc().SetModifiedFlag(false);
        m_line.ReadWritten();
    }
}

TEST_F(ReceptionTest, ClosingTheWindowWhileReceivingStopsTheReaderAndClosesThePort) {
    ChoosePort(m_line.PortName());
    CTestSteps steps;
    steps.When([&] { return PortOpenAndWaiting(); }, [&] { m_line.Write("****\rA\r"); });
    StartReception();
    ASSERT_TRUE(WaitFor([&] { return Doc().GetLineCount() == 2; }));
    klt::MessageBoxSeam::SetNextAnswer(klt::IDNO); // do not save
    Frame().close();
    EXPECT_FALSE(Frame().isVisible());
    EXPECT_FALSE(Frame().Controller().IsReaderRunning());
    EXPECT_FALSE(Frame().Controller().IsPortOpen());
}

// klt-sim plays the sample on its own virtual port, chosen through the port dialog: the
// history arrives whole, and the saved file equals the sample's decoded history.
TEST_F(ReceptionTest, AWholeReceptionFromTheSimulatorMatchesTheDecodedHistory) {
    struct Sample {
        const char* stream;
        const char* history;
        std::vector<std::string> options;
        bool busyUi;
    };
    const Sample samples[] = {
        // Fast, but slow enough that the marker's chunk stays within the 511 bytes that the
        // wait keeps even when a loaded machine delays the reader by several polls.
        {"operation-history.prn", "operation-history.txt", {"--rate", "1000"}, false},
        // 18 KB as fast as the line takes it while the UI thread is stuck for 1.5 s.
        {"long-history.prn", "long-history.txt", {"--burst"}, true},
    };
    for (const Sample& sample : samples) {
        std::vector<std::string> arguments(sample.options.begin(), sample.options.end());
        arguments.insert(arguments.end(), {"--delay", "0.2", SamplePath(sample.stream)});
        simulator_process::Simulator simulator(arguments);
        const QString port = QString::fromStdString(simulator.PortName());
        ASSERT_FALSE(port.isEmpty());

        klt::MessageBoxSeam::Reset();
        // The port is chosen in the dialog, where the simulator's port is listed.
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<CComSelectDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            auto* list = dlg->findChild<QTableWidget*>(QStringLiteral("portList"));
            for (int row = 0; row < list->rowCount(); ++row) {
                if (list->item(row, 0)->text() == port) {
                    list->selectRow(row);
                }
            }
            dlg->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        Frame().OnCommand(res::ID_PORT_SETTINGS);
        ASSERT_EQ(QString::fromLatin1(Frame().Controller().PortName()), port);
        EXPECT_EQ(Frame().GetPaneText(1), port);

        CTestSteps steps;
        if (sample.busyUi) {
            steps.When([&] { return Doc().GetLineCount() > 3; },
                       [] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); });
        }
        StartReception();
        ASSERT_TRUE(WaitForReady(60000)) << sample.stream;

        const std::string expected = ReadFile(SamplePath(sample.history));
        EXPECT_EQ(DocLines(), FileLines(expected)) << sample.stream;
        const std::string saved = ::testing::TempDir() + "klt-reception-saved.txt";
        std::error_code error;
        ASSERT_TRUE(Doc().SaveToFile(saved, error)) << error.message();
        EXPECT_TRUE(ReadFile(saved) == expected) << sample.stream;
        std::remove(saved.c_str());
        EXPECT_EQ(BoxTexts().back(), Text(res::IDS_RECEIVE_FINISHED));
        Doc().SetModifiedFlag(false);
    }
}
