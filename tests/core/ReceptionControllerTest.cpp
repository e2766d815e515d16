// The reception controller's rules without any window: a real pseudo-terminal plays the
// machine, a virtual clock stands in for the 30-second and one-second waits, and a small
// event loop runs what the reader hands over.
#include "core/reception/ReceptionController.h"
#include "core/res/Strings.h"

#include "platform/PseudoTerminal.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using Controller = CReceptionController;
using SteadyClock = std::chrono::steady_clock;

// Timers on virtual time, which moves only when the test says so, and a queue of tasks
// posted by the reader, together the event loop of a shell without windows.
class VirtualShell : public IReceptionClock, public IReceptionSink {
public:
    // A step of the test: run once, in order, when its condition holds, also inside the
    // nested loop of the wait dialog.
    void When(std::function<bool()> condition, std::function<void()> action) {
        m_steps.push_back({std::move(condition), std::move(action)});
    }
    bool AllStepsDone() const { return m_nNextStep == m_steps.size(); }

    // Runs posted tasks and steps until done holds; false after a few real seconds.
    bool RunUntil(const std::function<bool()>& done) {
        const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (SteadyClock::now() > deadline) {
                return false;
            }
            if (RunPostedTasks() || RunNextStep()) {
                continue;
            }
            std::unique_lock<std::mutex> lock(m_postedLock);
            m_posted.wait_for(lock, std::chrono::milliseconds(5),
                              [this] { return !m_tasks.empty(); });
        }
        return true;
    }

    // Moves virtual time on by ms, firing every timer that falls due, in order.
    void Advance(unsigned ms) {
        const std::uint64_t target = m_now + ms;
        for (;;) {
            auto next = m_timers.end();
            for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
                if (next == m_timers.end() || it->second.due < next->second.due) {
                    next = it;
                }
            }
            if (next == m_timers.end() || next->second.due > target) {
                break;
            }
            m_now = std::max(m_now, next->second.due);
            const unsigned id = next->first;
            next->second.due = m_now + next->second.period;
            m_fired.push_back(id);
            m_controller->OnTimer(id);
        }
        m_now = std::max(m_now, target);
    }

    void Attach(Controller& controller) { m_controller = &controller; }

    // IReceptionClock
    void SetTimer(unsigned id, unsigned periodMs) override {
        m_timers[id] = {m_now + periodMs, periodMs};
    }
    void KillTimer(unsigned id) override { m_timers.erase(id); }
    bool IsTimerSet(unsigned id) const { return m_timers.count(id) != 0; }
    // Virtual ms until the timer fires next; -1 when it is not set.
    long long DueIn(unsigned id) const {
        const auto found = m_timers.find(id);
        return found == m_timers.end() ? -1 : static_cast<long long>(found->second.due - m_now);
    }

    // IReceptionSink
    void PostToUiThread(std::function<void()> task) override {
        {
            const std::lock_guard<std::mutex> lock(m_postedLock);
            m_tasks.push_back(std::move(task));
        }
        m_posted.notify_all();
    }
    void ApplyFlags(unsigned flags) override { appliedFlags.push_back(flags); }
    void ShowPortName(const char* portName) override { shownPort = portName; }
    bool SaveModified() override { return saveModifiedAnswer; }
    void ClearHistory() override {
        document.clear();
        calls.push_back("ClearHistory");
    }
    void AppendText(std::string_view text) override { document += text; }
    void ClearView() override { calls.push_back("ClearView"); }
    void InvalidateView() override { calls.push_back("InvalidateView"); }
    void FollowTheEnd() override { ++refreshes; }
    void ShowMessage(unsigned stringId, ReceptionIcon icon) override {
        messages.push_back({stringId, icon, m_bWaitDialogUp, m_controller->GetState()});
    }
    bool ChoosePort(char*) override { return false; }
    int RunWaitDialog() override {
        m_bWaitDialogUp = true;
        m_nWaitResult = -1;
        const bool ended = RunUntil([this] { return m_nWaitResult >= 0; });
        m_bWaitDialogUp = false;
        return ended ? m_nWaitResult : 2;
    }
    void EndWaitDialog(int result) override {
        if (m_bWaitDialogUp) {
            m_nWaitResult = result;
        }
    }
    bool WaitDialogUp() const { return m_bWaitDialogUp; }
    void CancelWaitDialog() { EndWaitDialog(2); }

    struct Message {
        unsigned id;
        ReceptionIcon icon;
        bool overWaitDialog;
        int state;
    };
    std::vector<Message> messages;
    std::vector<unsigned> appliedFlags;
    std::vector<std::string> calls;
    std::string document;
    std::string shownPort;
    bool saveModifiedAnswer = true;
    int refreshes = 0;

private:
    bool RunPostedTasks() {
        std::deque<std::function<void()>> tasks;
        {
            const std::lock_guard<std::mutex> lock(m_postedLock);
            tasks.swap(m_tasks);
        }
        for (auto& task : tasks) {
            task();
        }
        return !tasks.empty();
    }
    bool RunNextStep() {
        if (m_nNextStep == m_steps.size() || !m_steps[m_nNextStep].condition()) {
            return false;
        }
        // Taken before it runs: its action may nest a loop that runs the steps after it.
        auto action = m_steps[m_nNextStep++].action;
        action();
        return true;
    }

    struct Timer {
        std::uint64_t due;
        unsigned period;
    };
    struct Step {
        std::function<bool()> condition;
        std::function<void()> action;
    };
    Controller* m_controller = nullptr;
    std::uint64_t m_now = 0;
    std::map<unsigned, Timer> m_timers;
    std::vector<unsigned> m_fired;
    std::mutex m_postedLock;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
    std::vector<Step> m_steps;
    std::size_t m_nNextStep = 0;
    bool m_bWaitDialogUp = false;
    int m_nWaitResult = -1;
};

class ReceptionControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_line.IsValid());
        MakeController({});
    }

    void MakeController(Controller::ThreadStarter startThread) {
        m_controller = std::make_unique<Controller>(m_shell, m_shell, Controller::Timings{},
                                                    std::move(startThread));
        m_shell.Attach(*m_controller);
        m_controller->Start();
        m_shell.Advance(10); // the start-up timer
        ASSERT_EQ(m_controller->GetState(), Controller::STATE_READY);
        m_controller->SetPortName(m_line.PortName());
    }

    // The start command, then the 10 ms open-port timer, which runs the wait dialog: the
    // test's steps run inside it.
    void StartReception() {
        m_controller->OnReceiveStart();
        m_shell.When([] { return true; }, [this] { m_shell.Advance(10); });
    }

    bool Waiting() { return m_shell.WaitDialogUp() && m_controller->IsPortOpen(); }
    int State() { return m_controller->GetState(); }
    std::vector<unsigned> MessageIds() {
        std::vector<unsigned> ids;
        for (const auto& message : m_shell.messages) {
            ids.push_back(message.id);
        }
        return ids;
    }
    bool RunUntilReady() {
        return m_shell.RunUntil([this] { return m_shell.AllStepsDone() && State() == 3; });
    }

    PseudoTerminal m_line;
    VirtualShell m_shell;
    std::unique_ptr<Controller> m_controller;
};

TEST_F(ReceptionControllerTest, MarkerSplitAcrossChunksWithTheLineBeforeItThenSilenceEndsIt) {
    StartReception();
    m_shell.When([&] { return Waiting(); }, [&] { m_line.Write("ABC\r**"); });
    m_shell.When([&] { return m_controller->MarkerText() == "ABC\r\n**"; },
                 [&] { m_line.Write("**\rDEF\r"); });
    // Receiving: the marker's chunk started the document; more text follows.
    m_shell.When([&] { return m_shell.document.find("DEF\r\n") != std::string::npos; },
                 [&] {
                     EXPECT_EQ(State(), Controller::STATE_RECEIVING);
                     EXPECT_EQ(m_shell.document, "ABC\r\n****\r\nDEF\r\n");
                     EXPECT_EQ(m_shell.shownPort, m_line.PortName());
                     EXPECT_EQ(m_shell.appliedFlags.back(), Controller::FLAG_VISIBLE);
                     m_shell.Advance(999);
                     EXPECT_EQ(State(), Controller::STATE_RECEIVING);
                     EXPECT_GE(m_shell.refreshes, 9);
                     m_shell.Advance(1);
                 });
    ASSERT_TRUE(RunUntilReady());
    ASSERT_EQ(m_shell.messages.size(), 1u);
    EXPECT_EQ(m_shell.messages[0].id, res::IDS_RECEIVE_FINISHED);
    EXPECT_EQ(m_shell.messages[0].icon, ReceptionIcon::Information);
    // The message comes while the reception is still on; READY only after it.
    EXPECT_EQ(m_shell.messages[0].state, Controller::STATE_RECEIVING);
    EXPECT_FALSE(m_controller->IsPortOpen());
    EXPECT_FALSE(m_controller->IsReaderRunning());
    EXPECT_EQ(m_shell.appliedFlags.back(), Controller::FLAG_VISIBLE | Controller::FLAG_ENABLED);
    for (unsigned id = Controller::TIMER_STARTUP; id <= Controller::TIMER_VIEW_REFRESH; ++id) {
        EXPECT_FALSE(m_shell.IsTimerSet(id)) << id;
    }
}

TEST_F(ReceptionControllerTest, TheMarkerMustArriveWithin511Bytes) {
    const std::string first(500, 'a');
    // Opened before the controller takes the port, to watch the line's input queue.
    const int observer = m_line.OpenObserver();
    SteadyClock::time_point written;
    bool stillWaiting = false;
    StartReception();
    m_shell.When([&] { return Waiting(); }, [&] { m_line.Write(first); });
    // 500 + 20 would pass 511: the chunk with the marker is dropped and the wait goes on.
    m_shell.When([&] { return m_controller->MarkerText().size() == 500; },
                 [&] {
                     m_line.Write("bbbbbbbb****bbbbbbbb");
                     written = SteadyClock::now();
                 });
    // Read from the line and handed over: then a later chunk that fits is kept.
    m_shell.When(
        [&] {
            int waiting = 1;
            return SteadyClock::now() - written > std::chrono::milliseconds(50) &&
                   ::ioctl(observer, FIONREAD, &waiting) == 0 && waiting == 0 &&
                   m_controller->BytesInFlight() == 0;
        },
        [&] { m_line.Write("ccccc"); });
    m_shell.When([&] { return m_controller->MarkerText().size() == 505; },
                 [&] {
                     stillWaiting = m_shell.WaitDialogUp();
                     m_shell.CancelWaitDialog();
                 });
    ASSERT_TRUE(RunUntilReady());
    EXPECT_TRUE(stillWaiting);
    EXPECT_EQ(m_controller->MarkerText(), first + "ccccc");
    EXPECT_TRUE(m_shell.messages.empty());
}

TEST_F(ReceptionControllerTest, NoMarkerWithin30SecondsTimesOutOverTheWaitDialog) {
    StartReception();
    m_shell.When([&] { return Waiting(); }, [&] { m_line.Write("no marker here\r"); });
    m_shell.When([&] { return m_controller->MarkerText() == "no marker here\r\n"; },
                 [&] {
                     m_shell.Advance(29999);
                     EXPECT_TRUE(m_shell.messages.empty());
                     EXPECT_TRUE(m_shell.WaitDialogUp());
                     m_shell.Advance(1);
                 });
    ASSERT_TRUE(RunUntilReady());
    ASSERT_EQ(m_shell.messages.size(), 1u);
    EXPECT_EQ(m_shell.messages[0].id, res::IDS_RECEIVE_TIMEOUT);
    EXPECT_EQ(m_shell.messages[0].icon, ReceptionIcon::Stop);
    EXPECT_TRUE(m_shell.messages[0].overWaitDialog);
    EXPECT_FALSE(m_shell.WaitDialogUp());
    EXPECT_FALSE(m_controller->IsPortOpen());
    EXPECT_FALSE(m_controller->IsReaderRunning());
    EXPECT_TRUE(m_shell.document.empty());
    EXPECT_TRUE(m_controller->OnUpdateReadyCommand());
}

TEST_F(ReceptionControllerTest, CancelClosesThePortWithoutAMessageAndTheDocumentStaysEmpty) {
    m_shell.document = "OLD\r\n";
    StartReception();
    m_shell.When([&] { return Waiting(); }, [&] { m_line.Write("XYZ\r"); });
    m_shell.When([&] { return m_controller->MarkerText() == "XYZ\r\n"; },
                 [&] { m_shell.CancelWaitDialog(); });
    ASSERT_TRUE(RunUntilReady());
    EXPECT_TRUE(m_shell.messages.empty());
    EXPECT_FALSE(m_controller->IsPortOpen());
    EXPECT_TRUE(m_shell.document.empty());
    // The view was blanked and the document emptied before the port was opened.
    EXPECT_EQ(m_shell.calls,
              (std::vector<std::string>{"InvalidateView", "ClearView", "ClearHistory",
                                        "InvalidateView", "InvalidateView"}));
}

TEST_F(ReceptionControllerTest, InputKeepsTheReceptionGoingAndStopKeepsTheText) {
    StartReception();
    m_shell.When([&] { return Waiting(); }, [&] { m_line.Write("****\rLINE 1\r"); });
    // Bytes that decode to nothing (kanji mode on) re-arm the silence timer like text does.
    for (int i = 0; i < 3; ++i) {
        m_shell.When([&] { return m_shell.document.find("LINE 1\r\n") != std::string::npos; },
                     [&] {
                         m_shell.Advance(900);
                         m_line.Write("\x1c&");
                     });
        m_shell.When([&] { return m_shell.DueIn(Controller::TIMER_RX_SILENCE) == 1000; }, [] {});
    }
    ASSERT_TRUE(m_shell.RunUntil([&] { return m_shell.AllStepsDone(); }));
    EXPECT_EQ(State(), Controller::STATE_RECEIVING);
    EXPECT_FALSE(m_controller->OnUpdateReadyCommand());
    m_controller->OnReceiveStop();
    EXPECT_EQ(State(), Controller::STATE_READY);
    EXPECT_TRUE(m_shell.messages.empty());
    EXPECT_EQ(m_shell.document, "****\r\nLINE 1\r\n");
    EXPECT_FALSE(m_controller->IsPortOpen());
    EXPECT_FALSE(m_controller->IsReaderRunning());
}

// The machine's end goes away (an adapter pulled out): the reception ends at once with a
// message of its own, not a second later as if the history were complete, and what arrived
// before stays.
TEST_F(ReceptionControllerTest, ALostLineEndsTheReceptionAtOnceKeepingTheText) {
    StartReception();
    m_shell.When([&] { return Waiting(); }, [&] { m_line.Write("****\rPART\r"); });
    m_shell.When([&] { return m_shell.document == "****\r\nPART\r\n"; },
                 [&] { m_line.CloseMaster(); });
    // No virtual time passes: neither the silence nor the time-out can end it.
    ASSERT_TRUE(RunUntilReady());
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{res::IDS_CONNECTION_LOST});
    EXPECT_EQ(m_shell.messages[0].icon, ReceptionIcon::Stop);
    EXPECT_EQ(m_shell.document, "****\r\nPART\r\n");
    EXPECT_FALSE(m_controller->IsPortOpen());
    EXPECT_FALSE(m_controller->IsReaderRunning());
    for (unsigned id = Controller::TIMER_STARTUP; id <= Controller::TIMER_VIEW_REFRESH; ++id) {
        EXPECT_FALSE(m_shell.IsTimerSet(id)) << id;
    }
}

TEST_F(ReceptionControllerTest, ALostLineWhileWaitingForTheMarkerEndsTheWait) {
    StartReception();
    m_shell.When([&] { return Waiting(); }, [&] { m_line.Write("BOOT\r"); });
    m_shell.When([&] { return !m_controller->MarkerText().empty(); },
                 [&] { m_line.CloseMaster(); });
    ASSERT_TRUE(RunUntilReady());
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{res::IDS_CONNECTION_LOST});
    // Shown over the wait dialog, which closes after it.
    EXPECT_TRUE(m_shell.messages[0].overWaitDialog);
    EXPECT_FALSE(m_shell.WaitDialogUp());
    EXPECT_TRUE(m_shell.document.empty());
    EXPECT_FALSE(m_controller->IsPortOpen());
    EXPECT_FALSE(m_shell.IsTimerSet(Controller::TIMER_MARKER_TIMEOUT));
}

// A UI thread that does not get round to the handed-over text for a while: the reader holds
// what does not fit and reads on once it has been taken, so nothing is lost.
TEST_F(ReceptionControllerTest, ABusyUiThreadSlowsTheTransferButLosesNothing) {
    std::string lines;
    for (int i = 0; i < 400; ++i) {
        lines += "LINE " + std::to_string(1000 + i) + "\r";
    }
    std::string expected = "****\r\n";
    for (int i = 0; i < 400; ++i) {
        expected += "LINE " + std::to_string(1000 + i) + "\r\n";
    }
    std::size_t inFlightWhileBusy = 0;
    StartReception();
    m_shell.When([&] { return Waiting(); }, [&] { m_line.Write("****\r"); });
    m_shell.When([&] { return State() == Controller::STATE_RECEIVING; },
                 [&] {
                     m_line.Write(lines);
                     // Busy: nothing runs on the UI thread for a while.
                     std::this_thread::sleep_for(std::chrono::milliseconds(600));
                     inFlightWhileBusy = m_controller->BytesInFlight();
                 });
    ASSERT_TRUE(m_shell.RunUntil([&] { return m_shell.document == expected; }))
        << m_shell.document.size();
    EXPECT_GT(inFlightWhileBusy, 0u);
    EXPECT_LE(inFlightWhileBusy, Controller::MAX_BYTES_IN_FLIGHT);
    m_controller->OnReceiveStop();
}

TEST_F(ReceptionControllerTest, APortThatCannotBeOpenedSaysWhyAndLeavesAnEmptyDocument) {
    PseudoTerminal held;
    CComAPI holder; // another program holding the line
    ASSERT_EQ(holder.OpenAndDrain(held.PortName().c_str()), 1);
    struct Case {
        const char* what;
        std::string port;
        unsigned message;
    };
    const Case cases[] = {
        {"missing", "pts/999999", res::IDS_PORT_NOT_CONNECTED},
        {"busy", held.PortName(), res::IDS_PORT_OPEN_FAILED},
    };
    for (const auto& [what, port, message] : cases) {
        m_shell.messages.clear();
        m_shell.document = "OLD\r\n";
        m_controller->SetPortName(port);
        m_controller->OnReceiveStart();
        m_shell.Advance(10);
        EXPECT_EQ(MessageIds(), std::vector<unsigned>{message}) << what;
        EXPECT_EQ(State(), Controller::STATE_READY) << what;
        EXPECT_TRUE(m_shell.document.empty()) << what;
        EXPECT_FALSE(m_controller->IsPortOpen()) << what;
    }
}

TEST_F(ReceptionControllerTest, AReaderThatCannotStartShows103AndClosesThePort) {
    bool failNext = true;
    MakeController([&failNext](std::function<void()> body) {
        if (failNext) {
            failNext = false;
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return std::thread(std::move(body));
    });
    // The first reader, for the marker.
    m_controller->OnReceiveStart();
    m_shell.Advance(10);
    EXPECT_EQ(MessageIds(), std::vector<unsigned>{res::IDS_PORT_OPEN_FAILED});
    EXPECT_EQ(State(), Controller::STATE_READY);
    EXPECT_FALSE(m_controller->IsPortOpen());
    EXPECT_FALSE(m_shell.WaitDialogUp());
    EXPECT_FALSE(m_shell.IsTimerSet(Controller::TIMER_MARKER_TIMEOUT));

    // The second reader, once the marker is in: what came so far stays.
    m_shell.messages.clear();
    StartReception();
    m_shell.When([&] { return Waiting(); },
                 [&] {
                     failNext = true;
                     m_line.Write("****\r");
                 });
    ASSERT_TRUE(RunUntilReady());
    EXPECT_EQ(MessageIds(), std::vector<unsigned>{res::IDS_PORT_OPEN_FAILED});
    EXPECT_FALSE(m_controller->IsPortOpen());
    EXPECT_EQ(m_shell.document, "****\r\n");
}

// A port on which nothing arrives and whose wait for input lasts until it is cancelled (or,
// should nothing cancel it, a few real seconds), counting what the reader asks of it.
struct QuietPort {
    std::mutex lock;
    std::condition_variable changed;
    int reads = 0;
    int waits = 0;
    int readsWhenFirstWaiting = -1;
    bool cancelPending = false;
    int cancelledWaits = 0;
    int timedOutWaits = 0;
};
QuietPort* g_quietPort = nullptr; // the port of the test running

class QuietDevice : public CSerialDevice {
public:
    bool ClearLineErrors() override { return true; }
    bool SetQueueSizes(std::size_t, std::size_t) override { return true; }
    bool Purge() override { return true; }
    bool MakeReadsReturnAtOnce() override { return true; }
    bool ApplyLineSettings(const SerialLineSettings&) override { return true; }
    bool StopEventNotification() override { return true; }
    bool DropDtr() override { return true; }
    SerialRead Read(std::uint8_t*, std::size_t, std::size_t& received) override {
        const std::lock_guard<std::mutex> lock(m_port.lock);
        ++m_port.reads;
        received = 0;
        return SerialRead::Done;
    }
    SerialWait WaitForInput(int) override {
        std::unique_lock<std::mutex> lock(m_port.lock);
        if (m_port.waits++ == 0) {
            m_port.readsWhenFirstWaiting = m_port.reads;
        }
        m_port.changed.notify_all();
        if (!m_port.changed.wait_for(lock, std::chrono::seconds(5),
                                     [this] { return m_port.cancelPending; })) {
            ++m_port.timedOutWaits;
            return SerialWait::TimedOut;
        }
        m_port.cancelPending = false;
        ++m_port.cancelledWaits;
        return SerialWait::Cancelled;
    }
    void CancelWait() override {
        const std::lock_guard<std::mutex> lock(m_port.lock);
        m_port.cancelPending = true;
        m_port.changed.notify_all();
    }

private:
    QuietPort& m_port = *g_quietPort;
};

std::unique_ptr<CSerialDevice> OpenQuietPort(const char*, SerialOpenError& error) {
    error = SerialOpenError::None;
    return std::make_unique<QuietDevice>();
}

// While nothing arrives the reader sleeps in the port's wait instead of reading it every
// 100 ms, and stopping it ends that wait at once.
TEST_F(ReceptionControllerTest, AReaderOnAQuietLineWaitsWithoutReadingUntilStopped) {
    QuietPort port;
    g_quietPort = &port;
    Controller controller(m_shell, m_shell, Controller::Timings{}, {}, OpenQuietPort);
    m_shell.Attach(controller);
    controller.Start();
    m_shell.Advance(10);
    controller.SetPortName("quiet");
    controller.OnReceiveStart();
    m_shell.When([] { return true; }, [&] { m_shell.Advance(10); });
    m_shell.When(
        [&] {
            const std::lock_guard<std::mutex> lock(port.lock);
            return port.waits > 0;
        },
        [&] { m_shell.CancelWaitDialog(); });
    ASSERT_TRUE(m_shell.RunUntil([&] {
        return m_shell.AllStepsDone() && controller.GetState() == Controller::STATE_READY;
    }));
    EXPECT_FALSE(controller.IsReaderRunning());
    EXPECT_FALSE(controller.IsPortOpen());
    const std::lock_guard<std::mutex> lock(port.lock);
    EXPECT_EQ(port.reads, port.readsWhenFirstWaiting); // none after the open's drain
    EXPECT_EQ(port.waits, 1);
    EXPECT_EQ(port.cancelledWaits, 1);
    EXPECT_EQ(port.timedOutWaits, 0);
    g_quietPort = nullptr;
}

TEST_F(ReceptionControllerTest, StartWithoutAPortOrWithTheSaveCancelledChangesNothing) {
    m_shell.document = "KEEP\r\n";
    m_controller->SetPortName("");
    m_controller->OnReceiveStart();
    EXPECT_EQ(MessageIds(), std::vector<unsigned>{res::IDS_NO_PORT_CHOSEN});
    EXPECT_EQ(m_shell.messages[0].icon, ReceptionIcon::Stop);

    m_shell.messages.clear();
    m_controller->SetPortName(m_line.PortName());
    m_shell.saveModifiedAnswer = false;
    m_controller->OnReceiveStart();
    EXPECT_TRUE(m_shell.messages.empty());
    EXPECT_EQ(State(), Controller::STATE_READY);
    EXPECT_FALSE(m_shell.IsTimerSet(Controller::TIMER_OPEN_PORT));

    // Text handed over late, in READY, is dropped.
    m_controller->OnRxData("late\r\n");
    EXPECT_EQ(m_shell.document, "KEEP\r\n");
}

} // namespace
