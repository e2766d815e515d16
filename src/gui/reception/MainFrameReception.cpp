#include "core/document/KLTDoc.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/MainFrame.h"
#include "gui/framework/MessageBox.h"
#include "gui/reception/ComSelectDlg.h"
#include "gui/reception/PortEnumeration.h"
#include "gui/view/KLTView.h"

#include <QMetaObject>
#include <QScrollBar>

// The Qt side of the reception controller: the main window as its clock and sink.

void CMainFrame::PostToUiThread(std::function<void()> task) {
    // Tasks still queued when the window goes away are dropped with it.
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void CMainFrame::ApplyFlags(unsigned flags) {
    if (flags & FLAG_VISIBLE) {
        if (!isVisible()) {
            show();
        }
    } else {
        hide();
    }
    setAcceptDrops((flags & FLAG_ENABLED) != 0);
    UpdateCommandUI();
    // A reception's history is kept for recovery from its start until it is saved.
    const int state = m_controller.GetState();
    if (state == STATE_WAIT_MARKER || state == STATE_RECEIVING) {
        m_recovery.ReceptionBegins();
    } else {
        m_recovery.ReceptionEnds();
    }
}

void CMainFrame::EndForTermination() {
    m_controller.Shutdown();
    m_recovery.ReceptionEnds();
    m_recovery.WriteNow();
}

void CMainFrame::ShowPortName(const char* portName) {
    SetPaneText(1, Cp932ToQString(portName));
}

bool CMainFrame::SaveModified() {
    return m_docTemplate.SaveModified();
}

void CMainFrame::ClearHistory() {
    m_pDocument->ClearHistory();
    m_nLinesAtRefresh = 0;
}

void CMainFrame::AppendText(std::string_view text) {
    m_pDocument->AppendText(text);
}

void CMainFrame::ClearView() {
    m_pView->ClearView();
}

void CMainFrame::InvalidateView() {
    m_pView->Invalidate(false);
}

// While text arrives the view keeps its end in sight: scrolled to the bottom when the text
// is taller than the window, and repainted without erasing. The extent is taken from the
// document first, so one refresh brings the newest line into view. A refresh that finds no
// new line while the view already shows the end would paint the same pixels again, so it
// paints nothing.
void CMainFrame::FollowTheEnd() {
    CKLTView& view = *m_pView;
    const std::size_t lines = m_pDocument->GetLineCount();
    const viewgeom::Size extent = viewgeom::TotalSize(m_pDocument->GetMaxLength(), lines);
    bool hasHorzBar = false;
    bool hasVertBar = false;
    if (lines == m_nLinesAtRefresh && view.GetTotalSize() == extent) {
        view.CheckScrollBars(hasHorzBar, hasVertBar);
        const QScrollBar* vert = view.verticalScrollBar();
        if (!hasVertBar ||
            (view.horizontalScrollBar()->value() == 0 && vert->value() == vert->maximum())) {
            return;
        }
    }
    m_nLinesAtRefresh = lines;
    if (view.GetTotalSize() != extent) {
        view.SetScrollSizes(extent);
    }
    view.CheckScrollBars(hasHorzBar, hasVertBar);
    if (hasVertBar) {
        view.ScrollToPosition(0, view.GetTotalSize().cy);
    }
    view.Invalidate(false);
}

void CMainFrame::ShowMessage(unsigned stringId, ReceptionIcon icon) {
    klt::AfxMessageBox(stringId, icon == ReceptionIcon::Stop ? klt::MsgIcon::Stop
                                                             : klt::MsgIcon::Information);
}

bool CMainFrame::ChoosePort(char* portName) {
    CComSelectDlg dlg(portName, this);
    return dlg.DoModal() == klt::IDOK;
}

int CMainFrame::RunWaitDialog() {
    return m_waitDlg.DoModal();
}

void CMainFrame::EndWaitDialog(int result) {
    m_waitDlg.EndDialog(result);
}
