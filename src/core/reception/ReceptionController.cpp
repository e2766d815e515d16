#include "core/reception/ReceptionController.h"

#include "core/reception/ChunkText.h"
#include "core/res/Strings.h"
#include "core/text/Cp932.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

namespace {

constexpr std::string_view MARKER = "****";

// A device this user may not use, or one that is not plugged in, needs other advice than
// closing other programs.
unsigned OpenFailureMessage(SerialOpenError error) {
    switch (error) {
    case SerialOpenError::PermissionDenied:
        return res::IDS_PORT_PERMISSION_DENIED;
    case SerialOpenError::Missing:
        return res::IDS_PORT_NOT_CONNECTED;
    default:
        return res::IDS_PORT_OPEN_FAILED;
    }
}

std::thread StartPlainThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

} // namespace

const CReceptionController::StateRow CReceptionController::s_stateTable[4] = {
    {&CReceptionController::EnterStartup, &CReceptionController::LeaveStartup,
     &CReceptionController::StateNoOp, &CReceptionController::OnTimerStartup},
    {&CReceptionController::EnterWaitMarker, &CReceptionController::LeaveWaitMarker,
     &CReceptionController::OnDataWaitMarker, &CReceptionController::OnTimerWaitMarker},
    {&CReceptionController::EnterReceiving, &CReceptionController::LeaveReceiving,
     &CReceptionController::OnDataReceiving, &CReceptionController::OnTimerReceiving},
    {&CReceptionController::EnterReady, &CReceptionController::StateNoOp,
     &CReceptionController::StateNoOp, &CReceptionController::StateNoOp},
};

CReceptionController::CReceptionController(IReceptionClock& clock, IReceptionSink& sink,
                                           Timings timings, ThreadStarter startThread,
                                           CComAPI::DeviceOpener openDevice)
    : m_clock(clock), m_sink(sink), m_timings(timings),
      m_startThread(startThread ? std::move(startThread) : ThreadStarter(StartPlainThread)),
      m_com(openDevice) {}

CReceptionController::~CReceptionController() {
    StopReader();
}

void CReceptionController::Start() {
    m_nState = STATE_STARTUP;
    LeaveStartup();
    EnterStartup();
}

void CReceptionController::Shutdown() {
    m_bShutDown = true;
    // The reader goes before the port it reads, and the port is closed properly.
    StopReader();
    m_com.ClosePort();
    for (unsigned id = TIMER_STARTUP; id <= TIMER_VIEW_REFRESH; ++id) {
        m_clock.KillTimer(id);
    }
}

void CReceptionController::SetPortName(std::string_view portName) {
    std::fill(std::begin(m_szPortName), std::end(m_szPortName), '\0');
    portName.copy(m_szPortName, std::min(portName.size(), PORT_NAME_SIZE - 1));
}

void CReceptionController::ChangeState(int nState) {
    // Called through a row reference: GCC's bounds check misreads a member call on an
    // indexed array element.
    const StateRow& leaving = s_stateTable[m_nState];
    (this->*leaving.leave)();
    m_nState = nState;
    const StateRow& entering = s_stateTable[m_nState];
    (this->*entering.enter)();
}

void CReceptionController::OnTimer(unsigned nIDEvent) {
    if (m_bShutDown) {
        return;
    }
    const StateRow& row = s_stateTable[m_nState];
    (this->*row.onTimer)(nIDEvent);
}

void CReceptionController::OnRxData(std::string_view text) {
    if (m_bShutDown) {
        return;
    }
    const StateRow& row = s_stateTable[m_nState];
    (this->*row.onData)(text);
}

void CReceptionController::ApplyFlags() {
    m_sink.ApplyFlags(m_flags);
}

void CReceptionController::OnReceiveStart() {
    if (m_szPortName[0] == '\0') {
        m_sink.ShowMessage(res::IDS_NO_PORT_CHOSEN, ReceptionIcon::Stop);
        return;
    }
    if (!m_sink.SaveModified()) {
        return;
    }
    ChangeState(STATE_WAIT_MARKER);
}

void CReceptionController::OnReceiveStop() {
    ChangeState(STATE_READY);
}

void CReceptionController::OnPortSettings() {
    if (m_sink.ChoosePort(m_szPortName)) {
        m_sink.ShowPortName(m_szPortName);
    }
}

void CReceptionController::EnterStartup() {
    m_flags &= ~(FLAG_VISIBLE | FLAG_ENABLED);
    ApplyFlags();
    m_clock.SetTimer(TIMER_STARTUP, m_timings.startupMs);
}

void CReceptionController::LeaveStartup() {
    m_clock.KillTimer(TIMER_STARTUP);
}

void CReceptionController::OnTimerStartup(unsigned id) {
    if (id != TIMER_STARTUP) {
        return;
    }
    m_clock.KillTimer(TIMER_STARTUP);
    m_bShownOnce = true;
    ChangeState(STATE_READY);
}

void CReceptionController::EnterWaitMarker() {
    if (m_flags & FLAG_VISIBLE) {
        m_flags &= ~FLAG_ENABLED;
    } else {
        m_flags &= ~(FLAG_VISIBLE | FLAG_ENABLED);
    }
    ApplyFlags();
    // The port is opened from the event loop, after the command has returned, so the
    // blanked window is painted before the wait dialog comes up.
    m_clock.SetTimer(TIMER_OPEN_PORT, m_timings.openPortMs);
    m_strMarkerText.clear();
    ++m_nReception; // what earlier receptions' readers still hand over is dropped
    m_sink.ClearView();
    m_sink.ClearHistory();
    m_sink.InvalidateView();
}

void CReceptionController::LeaveWaitMarker() {
    m_clock.KillTimer(TIMER_OPEN_PORT);
    m_clock.KillTimer(TIMER_MARKER_TIMEOUT);
}

void CReceptionController::OnDataWaitMarker(std::string_view text) {
    if (m_strMarkerText.size() + text.size() > MARKER_TEXT_LIMIT) {
        return;
    }
    m_strMarkerText += text;
    // Searched over everything so far, so a marker split across chunks is found too.
    if (cp932::Find(m_strMarkerText, MARKER) != std::string_view::npos) {
        m_sink.EndWaitDialog(1);
    }
}

void CReceptionController::OnTimerWaitMarker(unsigned id) {
    if (id == TIMER_OPEN_PORT) {
        m_clock.KillTimer(TIMER_OPEN_PORT);
        if (!m_com.IsOpen() && !m_com.OpenAndDrain(m_szPortName)) {
            m_sink.ShowMessage(OpenFailureMessage(m_com.LastOpenError()), ReceptionIcon::Stop);
            ChangeState(ReturnState());
            return;
        }
        m_nReaderTimerId = TIMER_MARKER_TIMEOUT;
        m_nReaderPeriod = m_timings.markerTimeoutMs;
        m_bRearmOnData = false;
        if (!StartReader()) {
            m_sink.ShowMessage(res::IDS_PORT_OPEN_FAILED, ReceptionIcon::Stop);
            m_com.ClosePort();
            ChangeState(ReturnState());
            return;
        }
        // The dialog's event loop runs the marker search and the time-out below.
        const int result = m_sink.RunWaitDialog();
        if (m_bShutDown || m_nState != STATE_WAIT_MARKER) {
            return;
        }
        if (result == 1) {
            ChangeState(STATE_RECEIVING);
            return;
        }
        StopReader();
        m_com.ClosePort();
        ChangeState(ReturnState());
        return;
    }
    if (id == TIMER_MARKER_TIMEOUT) {
        m_clock.KillTimer(TIMER_MARKER_TIMEOUT);
        StopReader();
        // Shown over the wait dialog, which ends only after the user has read it.
        m_sink.ShowMessage(res::IDS_RECEIVE_TIMEOUT, ReceptionIcon::Stop);
        m_sink.EndWaitDialog(0);
    }
}

void CReceptionController::EnterReceiving() {
    m_flags = (m_flags & ~FLAG_ENABLED) | FLAG_VISIBLE;
    m_bShownOnce = true;
    ApplyFlags();
    m_sink.ShowPortName(m_szPortName);
    m_sink.AppendText(m_strMarkerText);
    m_clock.SetTimer(TIMER_VIEW_REFRESH, m_timings.viewRefreshMs);
    // The waiting phase's reader still runs; what it has handed over and not yet delivered
    // reaches the document in this state.
    StopReader();
    m_nReaderTimerId = TIMER_RX_SILENCE;
    m_nReaderPeriod = m_timings.rxSilenceMs;
    m_bRearmOnData = true;
    if (!StartReader()) {
        m_sink.ShowMessage(res::IDS_PORT_OPEN_FAILED, ReceptionIcon::Stop);
        ChangeState(STATE_READY);
    }
}

void CReceptionController::LeaveReceiving() {
    m_clock.KillTimer(TIMER_RX_SILENCE);
    m_clock.KillTimer(TIMER_VIEW_REFRESH);
}

void CReceptionController::OnDataReceiving(std::string_view text) {
    m_sink.AppendText(text);
}

void CReceptionController::OnTimerReceiving(unsigned id) {
    if (id == TIMER_RX_SILENCE) {
        StopReader();
        m_clock.KillTimer(TIMER_RX_SILENCE);
        // Still receiving behind the message: delivered text is appended, the view follows.
        m_sink.ShowMessage(res::IDS_RECEIVE_FINISHED, ReceptionIcon::Information);
        if (!m_bShutDown && m_nState == STATE_RECEIVING) {
            ChangeState(STATE_READY);
        }
        return;
    }
    if (id == TIMER_VIEW_REFRESH) {
        m_sink.FollowTheEnd();
    }
}

void CReceptionController::EnterReady() {
    StopReader();
    m_com.ClosePort();
    m_flags |= FLAG_VISIBLE | FLAG_ENABLED;
    ApplyFlags();
    m_sink.InvalidateView();
}

bool CReceptionController::StartReader() {
    StopReader(); // never two readers
    const std::uint64_t reception = m_nReception;
    const std::uint64_t reader = ++m_nReader;
    m_bReaderRunning = true;
    try {
        m_readerThread =
            m_startThread([this, reception, reader] { ReaderThreadProc(reception, reader); });
    } catch (const std::system_error&) {
        m_readerThread = std::thread();
    }
    if (!m_readerThread.joinable()) {
        m_bReaderRunning = false;
        return false;
    }
    m_clock.SetTimer(m_nReaderTimerId, m_nReaderPeriod);
    return true;
}

void CReceptionController::StopReader() {
    if (!m_readerThread.joinable()) {
        m_bReaderRunning = false;
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_readerWakeLock);
        m_bReaderRunning = false;
    }
    m_readerWake.notify_all();
    m_com.CancelWait();
    // Until it has really ended: no late read may reach a port about to be closed.
    m_readerThread.join();
}

void CReceptionController::ReaderThreadProc(std::uint64_t reception, std::uint64_t reader) {
    const auto poll = std::chrono::milliseconds(m_timings.readerPollMs);
    std::uint8_t chunk[CComAPI::DECODED_BUFFER_SIZE];
    std::size_t length = 0; // decoded bytes in chunk
    std::size_t offset = 0; // of which handed over
    bool lineLost = false;
    bool inputSeen = false; // the last read delivered bytes, so more may be on their way
    while (m_bReaderRunning.load()) {
        // A quiet line costs nothing: the reader sleeps until input arrives (or the line is
        // lost, or it is stopped) instead of polling. After that it reads every 100 ms while
        // input comes, so a reception still arrives in chunks of up to 100 ms.
        if (!inputSeen && offset == length &&
            m_com.WaitForInput(READER_IDLE_WAIT_MS) == SerialWait::Cancelled) {
            continue;
        }
        {
            std::unique_lock<std::mutex> lock(m_readerWakeLock);
            m_readerWake.wait_for(lock, poll, [this] { return !m_bReaderRunning.load(); });
        }
        if (!m_bReaderRunning.load()) {
            break;
        }
        bool received = false;
        // Until the bytes held back are handed over, the port is not read: the driver keeps
        // what arrives meanwhile.
        if (offset == length) {
            std::size_t decoded = 0;
            const int result = m_com.ReadAndDecode(chunk, decoded);
            if (result == CComAPI::READ_LINE_LOST) {
                lineLost = true;
                break;
            }
            inputSeen = result == 1;
            if (result != 1) {
                continue;
            }
            received = true;
            length = RemoveZeroBytes(chunk, decoded);
            offset = 0;
        }
        const std::size_t room =
            MAX_BYTES_IN_FLIGHT - std::min(MAX_BYTES_IN_FLIGHT, m_nBytesInFlight.load());
        const std::size_t taken = std::min(room, length - offset);
        // Also a read that decoded to nothing is handed over: it is input all the same.
        if (received || taken != 0) {
            HandOver(reception, reader,
                     std::string(reinterpret_cast<const char*>(chunk) + offset, taken), received);
            offset += taken;
        }
    }
    // What was held back goes too, so nothing read from the port is lost.
    if (offset < length) {
        HandOver(reception, reader,
                 std::string(reinterpret_cast<const char*>(chunk) + offset, length - offset),
                 false);
    }
    // Nothing more will arrive; said after the last chunk, so that it is all kept.
    if (lineLost) {
        m_sink.PostToUiThread([this, reception, reader] { OnLineLost(reception, reader); });
    }
}

void CReceptionController::HandOver(std::uint64_t reception, std::uint64_t reader, std::string text,
                                    bool received) {
    m_nBytesInFlight += text.size();
    m_sink.PostToUiThread([this, reception, reader, received, text = std::move(text)] {
        OnReaderChunk(reception, reader, text, received);
    });
}

void CReceptionController::OnLineLost(std::uint64_t reception, std::uint64_t reader) {
    if (m_bShutDown || reception != m_nReception || reader != m_nReader ||
        (m_nState != STATE_WAIT_MARKER && m_nState != STATE_RECEIVING)) {
        return;
    }
    const int state = m_nState;
    StopReader();
    m_clock.KillTimer(m_nReaderTimerId);
    // Closed before the message, so the adapter can be plugged in again while it is up.
    m_com.ClosePort();
    m_sink.ShowMessage(res::IDS_CONNECTION_LOST, ReceptionIcon::Stop);
    if (m_bShutDown || m_nState != state) {
        return;
    }
    if (state == STATE_WAIT_MARKER) {
        m_sink.EndWaitDialog(0); // the wait ends as a time-out does, back to READY
    } else {
        ChangeState(STATE_READY);
    }
}

void CReceptionController::OnReaderChunk(std::uint64_t reception, std::uint64_t reader,
                                         std::string_view text, bool received) {
    m_nBytesInFlight -= text.size();
    if (reception != m_nReception) {
        return;
    }
    // Input keeps the running reader's timer from expiring (the silence while receiving).
    if (received && m_bRearmOnData && reader == m_nReader && m_bReaderRunning.load() &&
        !m_bShutDown) {
        m_clock.SetTimer(m_nReaderTimerId, m_nReaderPeriod);
    }
    OnRxData(text);
}
