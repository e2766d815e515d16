#include "core/document/KLTDoc.h"
#include "core/reception/ChunkText.h"
#include "core/res/Strings.h"
#include "core/text/Cp932.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/MainFrame.h"
#include "gui/framework/MessageBox.h"
#include "gui/framework/PostedMessage.h"
#include "gui/reception/ComSelectDlg.h"
#include "gui/reception/PortEnumeration.h"
#include "gui/reception/ReceptionTesting.h"
#include "gui/view/KLTView.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

// The reception controller's operations of the main window: the two phases of a reception
// (waiting for the marker, receiving), the reader thread that feeds them, and the commands
// that start and stop a reception or choose the port.

namespace {

constexpr unsigned OPEN_PORT_DELAY_MS = 10;
constexpr unsigned VIEW_REFRESH_MS = 100;
constexpr unsigned RX_SILENCE_MS = 1000;
constexpr unsigned MARKER_TIMEOUT_MS = 30000;
constexpr auto READER_POLL_INTERVAL = std::chrono::milliseconds(100);

// The marker accumulation holds at most this many bytes of text; a chunk that would take it
// past the limit is dropped.
constexpr std::size_t MARKER_TEXT_LIMIT = 511;
constexpr std::string_view MARKER = "****";

unsigned g_nMarkerTimeoutMs = MARKER_TIMEOUT_MS;
bool g_bFailNextReaderStart = false;

// After a failed open: when the device is there but this user may not read and write it,
// the usual advice (close the other program) does not fit, so say what does.
unsigned OpenFailureMessage(const char* portName) {
    char path[CComAPI::DEVICE_PATH_SIZE];
    if (!CComAPI::BuildDevicePath(portName, path, sizeof path)) {
        return res::IDS_PORT_OPEN_FAILED;
    }
    struct stat status {};
    if (::stat(path, &status) != 0) {
        return res::IDS_PORT_OPEN_FAILED;
    }
    if (::access(path, R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
        return res::IDS_PORT_PERMISSION_DENIED;
    }
    return res::IDS_PORT_OPEN_FAILED;
}

// While text arrives the view keeps its end in sight: scrolled to the bottom when the text
// is taller than the window, and repainted without erasing.
void FollowTheEnd(CKLTView& view) {
    bool hasHorzBar = false;
    bool hasVertBar = false;
    view.CheckScrollBars(hasHorzBar, hasVertBar);
    if (hasVertBar) {
        view.ScrollToPosition(0, view.GetTotalSize().cy);
    }
    view.Invalidate(false);
}

} // namespace

namespace reception_testing {

unsigned SetMarkerTimeout(unsigned milliseconds) {
    const unsigned previous = g_nMarkerTimeoutMs;
    g_nMarkerTimeoutMs = milliseconds;
    return previous;
}

void FailNextReaderStart() {
    g_bFailNextReaderStart = true;
}

} // namespace reception_testing

void CMainFrame::OnReceiveStart() {
    if (m_szPortName[0] == '\0') {
        klt::AfxMessageBox(res::IDS_NO_PORT_CHOSEN, klt::MsgIcon::Stop);
        return;
    }
    if (!m_docTemplate.SaveModified()) {
        return;
    }
    ChangeState(STATE_WAIT_MARKER);
}

void CMainFrame::OnPortSettings() {
    CComSelectDlg dlg(m_szPortName, this);
    if (dlg.DoModal() == klt::IDOK) {
        SetPaneText(1, Cp932ToQString(m_szPortName));
    }
}

void CMainFrame::EnterWaitMarker() {
    if (m_flags & FLAG_VISIBLE) {
        m_flags &= ~FLAG_ENABLED;
    } else {
        m_flags &= ~(FLAG_VISIBLE | FLAG_ENABLED);
    }
    ApplyFlags();
    // The port is opened from the message loop, after the command has returned, so the
    // blanked window is painted before the wait dialog comes up.
    SetTimer(TIMER_OPEN_PORT, OPEN_PORT_DELAY_MS);
    std::memset(m_szMarkerText, 0, sizeof m_szMarkerText);
    m_ring.Reset(); // no reader runs here
    m_nPendingLength = 0;
    m_nPendingOffset = 0;
    m_pView->ClearView();
    m_pDocument->ClearHistory();
    m_pView->Invalidate(false);
}

void CMainFrame::LeaveWaitMarker() {
    KillTimer(TIMER_OPEN_PORT);
    KillTimer(TIMER_MARKER_TIMEOUT);
}

void CMainFrame::OnDataWaitMarker(const char* text) {
    const std::size_t accumulated = std::strlen(m_szMarkerText);
    const std::size_t length = std::strlen(text);
    if (accumulated + length > MARKER_TEXT_LIMIT) {
        return;
    }
    std::memcpy(m_szMarkerText + accumulated, text, length);
    // Searched over everything so far, so a marker split across chunks is found too.
    if (cp932::Find(std::string_view(m_szMarkerText, accumulated + length), MARKER) !=
        std::string_view::npos) {
        m_waitDlg.EndDialog(1);
    }
}

void CMainFrame::OnTimerWaitMarker(unsigned id) {
    if (id == TIMER_OPEN_PORT) {
        KillTimer(TIMER_OPEN_PORT);
        const int nReturnState = m_bShownOnce ? STATE_READY : STATE_STARTUP;
        if (!m_com.IsOpen() && !m_com.OpenAndDrain(m_szPortName)) {
            klt::AfxMessageBox(OpenFailureMessage(m_szPortName), klt::MsgIcon::Stop);
            ChangeState(nReturnState);
            return;
        }
        m_nReaderTimerId = TIMER_MARKER_TIMEOUT;
        m_nReaderPeriod = g_nMarkerTimeoutMs;
        m_bRearmOnData = false;
        if (!StartReader()) {
            klt::AfxMessageBox(res::IDS_PORT_OPEN_FAILED, klt::MsgIcon::Stop);
            m_com.ClosePort();
            ChangeState(nReturnState);
            return;
        }
        // The dialog's message loop runs the marker search and the time-out below.
        const int result = m_waitDlg.DoModal();
        if (m_nState != STATE_WAIT_MARKER) {
            return; // the window went away while the dialog was up
        }
        if (result == 1) {
            ChangeState(STATE_RECEIVING);
            return;
        }
        StopReader();
        m_com.ClosePort();
        ChangeState(m_bShownOnce ? STATE_READY : STATE_STARTUP);
        return;
    }
    if (id == TIMER_MARKER_TIMEOUT) {
        KillTimer(TIMER_MARKER_TIMEOUT);
        StopReader();
        // Shown over the wait dialog, which ends only after the user has read it.
        klt::AfxMessageBox(res::IDS_RECEIVE_TIMEOUT, klt::MsgIcon::Stop);
        m_waitDlg.EndDialog(0);
    }
}

void CMainFrame::EnterReceiving() {
    m_flags = (m_flags & ~FLAG_ENABLED) | FLAG_VISIBLE;
    m_bShownOnce = true;
    ApplyFlags();
    SetPaneText(1, Cp932ToQString(m_szPortName));
    m_pDocument->AppendText(m_szMarkerText);
    SetTimer(TIMER_VIEW_REFRESH, VIEW_REFRESH_MS);
    // The waiting phase's reader still runs; what it left in the ring stays there and
    // reaches the document through the WM_RXDATA messages still queued.
    StopReader();
    m_nReaderTimerId = TIMER_RX_SILENCE;
    m_nReaderPeriod = RX_SILENCE_MS;
    m_bRearmOnData = true;
    if (!StartReader()) {
        klt::AfxMessageBox(res::IDS_PORT_OPEN_FAILED, klt::MsgIcon::Stop);
        ChangeState(STATE_READY);
    }
}

void CMainFrame::LeaveReceiving() {
    KillTimer(TIMER_RX_SILENCE);
    KillTimer(TIMER_VIEW_REFRESH);
}

void CMainFrame::OnDataReceiving(const char* text) {
    m_pDocument->AppendText(text);
}

void CMainFrame::OnTimerReceiving(unsigned id) {
    if (id == TIMER_RX_SILENCE) {
        StopReader();
        KillTimer(TIMER_RX_SILENCE);
        // Still receiving behind the message: queued text is appended, the view follows.
        klt::AfxMessageBox(res::IDS_RECEIVE_FINISHED, klt::MsgIcon::Information);
        if (m_nState == STATE_RECEIVING) {
            ChangeState(STATE_READY);
        }
        return;
    }
    if (id == TIMER_VIEW_REFRESH) {
        FollowTheEnd(*m_pView);
    }
}

bool CMainFrame::StartReader() {
    m_bReaderRunning = true;
    m_nReaderGeneration = m_timers.Generation();
    if (g_bFailNextReaderStart) {
        g_bFailNextReaderStart = false;
        m_bReaderRunning = false;
        return false;
    }
    try {
        m_readerThread = std::thread(&CMainFrame::ReaderThreadProc, this);
    } catch (const std::system_error&) {
        m_bReaderRunning = false;
        return false;
    }
    return true;
}

void CMainFrame::StopReader() {
    if (!m_readerThread.joinable()) {
        m_bReaderRunning = false;
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_readerWakeLock);
        m_bReaderRunning = false;
    }
    m_readerWake.notify_all();
    // Wait until it has really ended: no late read may touch a port about to be closed.
    m_readerThread.join();
    // Timer arms it made that have not reached the UI thread yet are void from here on.
    m_nReaderGeneration = m_timers.NewGeneration();
}

void CMainFrame::ReaderThreadProc(CMainFrame* frame) {
    const std::uint64_t generation = frame->m_nReaderGeneration;
    const unsigned timerId = frame->m_nReaderTimerId;
    const unsigned period = frame->m_nReaderPeriod;
    const bool rearmOnData = frame->m_bRearmOnData;
    frame->m_timers.SetTimer(timerId, period, generation);

    while (frame->m_bReaderRunning.load()) {
        {
            std::unique_lock<std::mutex> lock(frame->m_readerWakeLock);
            frame->m_readerWake.wait_for(lock, READER_POLL_INTERVAL,
                                         [frame] { return !frame->m_bReaderRunning.load(); });
        }
        if (!frame->m_bReaderRunning.load()) {
            break;
        }
        bool received = false;
        // Bytes that did not fit into the ring last time go first; until they are in, the
        // port is not read, and the driver keeps what arrives meanwhile.
        if (frame->m_nPendingLength == frame->m_nPendingOffset) {
            std::size_t decoded = 0;
            if (frame->m_com.ReadAndDecode(frame->m_pending, decoded) != 1) {
                continue;
            }
            received = true;
            frame->m_nPendingLength = RemoveZeroBytes(frame->m_pending, decoded);
            frame->m_nPendingOffset = 0;
        }
        const std::size_t taken =
            frame->m_ring.Put(frame->m_pending + frame->m_nPendingOffset,
                              frame->m_nPendingLength - frame->m_nPendingOffset);
        frame->m_nPendingOffset += taken;
        if (received && rearmOnData) {
            frame->m_timers.SetTimer(timerId, period, generation);
        }
        if (received || taken != 0) {
            frame->PostMessage(klt::WM_RXDATA, 0, 0);
        }
    }
}
