#include "app/DocTemplate.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "res/Strings.h"

// The reception's side of the main window. Until the serial link can open ports and the
// port can be chosen, a reception cannot start: the start command reports that no port is
// chosen, and the phases of a reception are never entered.

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

void CMainFrame::OnPortSettings() {}

void CMainFrame::EnterWaitMarker() {
    m_flags &= (m_flags & FLAG_VISIBLE) ? ~FLAG_ENABLED : 0u;
    ApplyFlags();
}

void CMainFrame::LeaveWaitMarker() {
    KillTimer(TIMER_OPEN_PORT);
    KillTimer(TIMER_MARKER_TIMEOUT);
}

void CMainFrame::OnDataWaitMarker(const char*) {}

void CMainFrame::OnTimerWaitMarker(unsigned) {}

void CMainFrame::EnterReceiving() {
    m_flags = (m_flags & ~FLAG_ENABLED) | FLAG_VISIBLE;
    m_bShownOnce = true;
    ApplyFlags();
}

void CMainFrame::LeaveReceiving() {
    KillTimer(TIMER_RX_SILENCE);
    KillTimer(TIMER_VIEW_REFRESH);
}

void CMainFrame::OnDataReceiving(const char*) {}

void CMainFrame::OnTimerReceiving(unsigned) {}

void CMainFrame::StartReader() {}

void CMainFrame::StopReader() {
    m_bReaderRunning = false;
    m_nReaderGeneration = m_timers.NewGeneration();
    if (m_readerThread.joinable()) {
        m_readerThread.join();
    }
}

void CMainFrame::ReaderThreadProc(CMainFrame*) {}
