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
// is taller than the window, and repainted without erasing. A refresh that finds no new
// line while the view already shows the end would paint the same pixels again, so it paints
// nothing.
void CMainFrame::FollowTheEnd() {
    CKLTView& view = *m_pView;
    const std::size_t lines = m_pDocument->GetLineCount();
    bool hasHorzBar = false;
    bool hasVertBar = false;
    view.CheckScrollBars(hasHorzBar, hasVertBar);
    // The last paint saw every line, and the scroll below would not move the view.
    const bool paintedAll =
        lines == m_nLinesAtRefresh &&
        view.GetTotalSize() == viewgeom::TotalSize(m_pDocument->GetMaxLength(), lines);
    const bool showsTheEnd =
        !hasVertBar || (view.horizontalScrollBar()->value() == 0 &&
                        view.verticalScrollBar()->value() == view.verticalScrollBar()->maximum());
    if (paintedAll && showsTheEnd) {
        return;
    }
    m_nLinesAtRefresh = lines;
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
