#pragma once

#include "core/reception/ComAPI.h"
#include "core/reception/SerialDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// What the reception controller needs of time: timers told apart by a number. A timer fires
// every period until it is killed; setting a timer that is already set restarts its period.
// The controller arms and kills timers on its own (the UI) thread only, and the clock calls
// CReceptionController::OnTimer back on that thread.
class IReceptionClock {
public:
    virtual ~IReceptionClock() = default;
    virtual void SetTimer(unsigned id, unsigned periodMs) = 0;
    virtual void KillTimer(unsigned id) = 0; // a timer that is not set is no error
};

// The icon a message of the controller is shown with.
enum class ReceptionIcon { Stop, Information };

// What the reception controller needs of its shell: the window, the history document, the
// view and the dialogs. Everything except PostToUiThread is called on the UI thread.
class IReceptionSink {
public:
    virtual ~IReceptionSink() = default;

    // Runs task on the UI thread, after everything posted before it. Called by the reader
    // thread. A shell that goes away with the controller may drop tasks not yet run.
    virtual void PostToUiThread(std::function<void()> task) = 0;

    // The window: shown while FLAG_VISIBLE is set; the commands enabled and files accepted
    // while FLAG_ENABLED is set.
    virtual void ApplyFlags(unsigned flags) = 0;
    // Shows the chosen port's name (CP932) in the window's status bar.
    virtual void ShowPortName(const char* portName) = 0;

    // The history document: lets the user save unsaved history first (false: cancelled or
    // the save failed, so the history must stay), empties it, appends received text.
    virtual bool SaveModified() = 0;
    virtual void ClearHistory() = 0;
    virtual void AppendText(std::string_view text) = 0;

    // The view: blank it at once; repaint it without erasing; scroll to the end and repaint.
    virtual void ClearView() = 0;
    virtual void InvalidateView() = 0;
    virtual void FollowTheEnd() = 0;

    // Shows message stringId with an OK button and returns once the user has answered.
    virtual void ShowMessage(unsigned stringId, ReceptionIcon icon) = 0;

    // The port selection dialog: true when the user chose a port, whose name (at most 259
    // bytes) it has written to portName with its terminator; otherwise portName is unchanged.
    virtual bool ChoosePort(char* portName) = 0;

    // The wait dialog, modal: RunWaitDialog returns what EndWaitDialog was given (1 marker
    // seen, 0 time-out) or 2 when the user cancelled. While it runs, the shell keeps running
    // posted tasks and timers, which is how EndWaitDialog is reached.
    virtual int RunWaitDialog() = 0;
    virtual void EndWaitDialog(int result) = 0;
};

// The periods of the reception controller's timers and of the reader's polls, in ms.
struct ReceptionTimings {
    unsigned startupMs = 10;
    unsigned openPortMs = 10;
    unsigned markerTimeoutMs = 30000;
    unsigned rxSilenceMs = 1000;
    unsigned viewRefreshMs = 100;
    unsigned readerPollMs = 100;
};

// One reception of the machine's operation history, from the start command until the line
// has been silent for a second, the stop command, the 30-second wait for the marker running
// out or the port failing to open. A state machine of four states on the UI thread, fed by a
// reader thread that reads the serial link every 100 ms while input comes and sleeps until
// the next input while the line is quiet.
//
// The road of one reception: OnReceiveStart (a port chosen, the old history saved or given
// up) empties the document and arms TIMER_OPEN_PORT; that timer opens the port, starts the
// first reader with the 30 s TIMER_MARKER_TIMEOUT and runs the wait dialog; text accumulates
// (at most 511 bytes) until it holds "****", which ends the dialog; then the accumulated
// text starts the document, a second reader runs with TIMER_RX_SILENCE (1 s, re-armed by
// every chunk) and TIMER_VIEW_REFRESH keeps the view at the end every 100 ms, until the
// silence shows message 105 and the controller is READY again: reader ended, port closed.
//
// Threads: every member function runs on the UI thread. The reader thread only reads the
// serial link and hands each chunk to the UI thread in one posted task that carries it; it
// never touches timers, the document or the shell's windows. At most 2047 handed-over bytes
// wait to be taken; beyond that the reader keeps what it has and reads no more, so a busy UI
// thread slows the transfer down but loses nothing. The reader is stopped by a flag, woken
// and joined before the port is closed or another reader starts.
class CReceptionController {
public:
    // States; the values index the state table.
    static constexpr int STATE_STARTUP = 0;     // just created, window hidden, all withheld
    static constexpr int STATE_WAIT_MARKER = 1; // port being opened, then the wait dialog
    static constexpr int STATE_RECEIVING = 2;   // marker seen, text captured until silence
    static constexpr int STATE_READY = 3;       // idle: no reader, port closed

    static constexpr unsigned FLAG_VISIBLE = 1;
    static constexpr unsigned FLAG_ENABLED = 2;

    static constexpr unsigned TIMER_STARTUP = 1;
    static constexpr unsigned TIMER_OPEN_PORT = 2;
    static constexpr unsigned TIMER_MARKER_TIMEOUT = 3;
    static constexpr unsigned TIMER_RX_SILENCE = 4;
    static constexpr unsigned TIMER_VIEW_REFRESH = 5;

    // The marker accumulation never holds more text than this.
    static constexpr std::size_t MARKER_TEXT_LIMIT = 511;
    // Room for a port name and its terminator.
    static constexpr std::size_t PORT_NAME_SIZE = 260;
    // Handed-over bytes that may wait for the UI thread.
    static constexpr std::size_t MAX_BYTES_IN_FLIGHT = 2047;

    // While no input arrives the reader sleeps this long at most before it reads anyway;
    // its stop, input and a lost line end the sleep at once on devices that can wait.
    static constexpr int READER_IDLE_WAIT_MS = 10000;

    using Timings = ReceptionTimings;

    // Starts a thread running body; throws std::system_error when none can be started.
    using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

    // Nothing happens until Start. An empty startThread starts a plain std::thread.
    CReceptionController(IReceptionClock& clock, IReceptionSink& sink, Timings timings = {},
                         ThreadStarter startThread = {},
                         CComAPI::DeviceOpener openDevice = OpenSerialDevice);
    // Stops a reader still running; the port is released.
    ~CReceptionController();
    CReceptionController(const CReceptionController&) = delete;
    CReceptionController& operator=(const CReceptionController&) = delete;

    // Enters STATE_STARTUP (window hidden, everything withheld); TIMER_STARTUP then moves on
    // to STATE_READY, which shows the window. Call once the shell can take calls.
    void Start();

    // Before the shell goes away: stops the reader, closes the port and kills the timers.
    // No operation runs afterwards, also not when a dialog nested in one returns.
    void Shutdown();

    // The shell's timer events, by id. An id the current state does not handle is ignored.
    void OnTimer(unsigned nIDEvent);

    // The commands: start receiving (107 without a port), stop receiving, choose the port.
    void OnReceiveStart();
    void OnReceiveStop();
    void OnPortSettings();
    // Whether the commands withheld during a reception (open, save as, print, start, port
    // settings) are enabled, and whether stop is.
    bool OnUpdateReadyCommand() const { return (m_flags & FLAG_ENABLED) != 0; }
    bool OnUpdateReceiveStop() const { return (m_flags & FLAG_ENABLED) == 0; }

    // Received text as the reader hands it over: passed to the current state (appended while
    // receiving, searched for the marker while waiting, dropped otherwise).
    void OnRxData(std::string_view text);

    // The one way of changing the state: the current state's leave, then the new one's enter.
    void ChangeState(int nState);

    int GetState() const { return m_nState; }
    unsigned GetFlags() const { return m_flags; }
    bool IsShownOnce() const { return m_bShownOnce; }
    const char* PortName() const { return m_szPortName; }
    // Sets the port (CP932, cut at PORT_NAME_SIZE - 1 bytes); empty means none chosen.
    void SetPortName(std::string_view portName);
    // The text received so far while waiting for the marker.
    std::string_view MarkerText() const { return m_strMarkerText; }
    bool IsPortOpen() const { return m_com.IsOpen(); }
    bool IsReaderRunning() const { return m_readerThread.joinable(); }
    // Bytes the reader has handed over that the UI thread has not taken yet.
    std::size_t BytesInFlight() const { return m_nBytesInFlight.load(); }

private:
    // Starts the reader with the timer id, period and re-arm rule stored before; false when
    // no thread could be started. The reader's timer is armed here, on the UI thread.
    bool StartReader();
    // Asks the reader to stop, wakes it and waits until it has ended. Returns at once when
    // none runs.
    void StopReader();
    void ReaderThreadProc(std::uint64_t reception, std::uint64_t reader);
    void HandOver(std::uint64_t reception, std::uint64_t reader, std::string text, bool received);
    void OnReaderChunk(std::uint64_t reception, std::uint64_t reader, std::string_view text,
                       bool received);
    // The reader found the line gone (after handing over all it had read): the reception
    // ends at once with message 110, keeping what was received.
    void OnLineLost(std::uint64_t reception, std::uint64_t reader);

    void ApplyFlags();
    int ReturnState() const { return m_bShownOnce ? STATE_READY : STATE_STARTUP; }

    // The state operations.
    void EnterStartup();
    void LeaveStartup();
    void OnTimerStartup(unsigned id);
    void EnterWaitMarker();
    void LeaveWaitMarker();
    void OnDataWaitMarker(std::string_view text);
    void OnTimerWaitMarker(unsigned id);
    void EnterReceiving();
    void LeaveReceiving();
    void OnDataReceiving(std::string_view text);
    void OnTimerReceiving(unsigned id);
    void EnterReady();
    void StateNoOp() {}
    void StateNoOp(std::string_view) {}
    void StateNoOp(unsigned) {}

    struct StateRow {
        void (CReceptionController::*enter)();
        void (CReceptionController::*leave)();
        void (CReceptionController::*onData)(std::string_view text);
        void (CReceptionController::*onTimer)(unsigned id);
    };
    static const StateRow s_stateTable[4];

    IReceptionClock& m_clock;
    IReceptionSink& m_sink;
    const Timings m_timings;
    const ThreadStarter m_startThread;

    bool m_bShownOnce = false;
    bool m_bShutDown = false;
    char m_szPortName[PORT_NAME_SIZE] = {};
    CComAPI m_com;
    std::string m_strMarkerText;
    unsigned m_flags = 0;
    int m_nState = STATE_STARTUP;

    // The reader: its thread, the timer it keeps armed and whether chunks re-arm it.
    std::thread m_readerThread;
    unsigned m_nReaderTimerId = 0;
    unsigned m_nReaderPeriod = 0;
    bool m_bRearmOnData = false;
    // Chunks are tagged with the reception and the reader that read them: a chunk of an
    // earlier reception is dropped, and only the running reader's chunks re-arm its timer.
    std::uint64_t m_nReception = 0;
    std::uint64_t m_nReader = 0;
    std::atomic<bool> m_bReaderRunning{false};
    // With m_readerWake and the link's CancelWait, ends the reader's pause at once.
    std::mutex m_readerWakeLock;
    std::condition_variable m_readerWake;
    std::atomic<std::size_t> m_nBytesInFlight{0};
};
