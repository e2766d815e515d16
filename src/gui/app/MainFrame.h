#pragma once

#include "core/reception/ReceptionController.h"
#include "gui/framework/WindowTimers.h"
#include "gui/reception/MwaitDlg.h"

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <map>
#include <string_view>

class CKLTDoc;
class CKLTView;
class CMySingleDocTemplate;
class QAction;
class QLabel;
class QToolBar;

// The main window: menu, the labelled toolbar along the right edge, the two-pane status
// bar and the history view. It is the shell of the reception controller: its states decide
// whether the window is shown, which commands are enabled and whether files may be dropped
// on it, and the window gives it timers, the document, the view and the dialogs.
class CMainFrame : public QMainWindow, private IReceptionClock, private IReceptionSink {
    Q_OBJECT
public:
    static constexpr int STATE_STARTUP = CReceptionController::STATE_STARTUP;
    static constexpr int STATE_WAIT_MARKER = CReceptionController::STATE_WAIT_MARKER;
    static constexpr int STATE_RECEIVING = CReceptionController::STATE_RECEIVING;
    static constexpr int STATE_READY = CReceptionController::STATE_READY;

    static constexpr unsigned FLAG_VISIBLE = CReceptionController::FLAG_VISIBLE;
    static constexpr unsigned FLAG_ENABLED = CReceptionController::FLAG_ENABLED;

    static constexpr unsigned TIMER_STARTUP = CReceptionController::TIMER_STARTUP;
    static constexpr unsigned TIMER_OPEN_PORT = CReceptionController::TIMER_OPEN_PORT;
    static constexpr unsigned TIMER_MARKER_TIMEOUT = CReceptionController::TIMER_MARKER_TIMEOUT;
    static constexpr unsigned TIMER_RX_SILENCE = CReceptionController::TIMER_RX_SILENCE;
    static constexpr unsigned TIMER_VIEW_REFRESH = CReceptionController::TIMER_VIEW_REFRESH;

    // timings and startThread go to the reception controller (defaults: the real ones).
    CMainFrame(CMySingleDocTemplate& docTemplate, CKLTDoc& document,
               CReceptionController::Timings timings = {},
               CReceptionController::ThreadStarter startThread = {});
    ~CMainFrame() override;

    CKLTDoc* GetActiveDocument() const { return m_pDocument; }
    CKLTView* GetActiveView() const { return m_pView; }
    CMySingleDocTemplate& GetDocTemplate() const { return m_docTemplate; }

    // The window's timers, UI thread only; posted messages, from any thread.
    CWindowTimers& Timers() { return m_timers; }
    void PostMessage(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    // Commands by id, routed like the menu and the toolbar do; a disabled command is ignored.
    void OnCommand(unsigned id);
    bool IsCommandEnabled(unsigned id) const;
    QAction* MenuAction(unsigned id) const;
    QAction* ToolBarAction(unsigned id) const;
    QToolBar* ToolBar() const { return m_pToolBar; }

    void SetPaneText(int pane, const QString& text);
    QString GetPaneText(int pane) const;

    // The caption: the document's title and " - KLT".
    void OnUpdateFrameTitle();

    CReceptionController& Controller() { return m_controller; }
    int GetState() const { return m_controller.GetState(); }
    unsigned GetFlags() const { return m_controller.GetFlags(); }

    // The reception commands and timer events, handled by the controller.
    void OnTimer(unsigned nIDEvent) { m_controller.OnTimer(nIDEvent); }
    void OnReceiveStart() { m_controller.OnReceiveStart(); }
    void OnReceiveStop() { m_controller.OnReceiveStop(); }
    void OnPortSettings() { m_controller.OnPortSettings(); }
    bool OnUpdateReadyCommand() const { return m_controller.OnUpdateReadyCommand(); }
    bool OnUpdateReceiveStop() const { return m_controller.OnUpdateReceiveStop(); }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateMenu();
    void CreateToolBar();
    void CreateStatusBar();
    void RecalcLayout();
    void UpdateCommandUI();

    // The controller's clock: the window's timers.
    void SetTimer(unsigned id, unsigned periodMs) override { m_timers.SetTimer(id, periodMs); }
    void KillTimer(unsigned id) override { m_timers.KillTimer(id); }

    // The controller's sink (defined with the reception's Qt side).
    void PostToUiThread(std::function<void()> task) override;
    void ApplyFlags(unsigned flags) override;
    void ShowPortName(const char* portName) override;
    bool SaveModified() override;
    void ClearHistory() override;
    void AppendText(std::string_view text) override;
    void ClearView() override;
    void InvalidateView() override;
    void FollowTheEnd() override;
    void ShowMessage(unsigned stringId, ReceptionIcon icon) override;
    bool ChoosePort(char* portName) override;
    int RunWaitDialog() override;
    void EndWaitDialog(int result) override;

    CMySingleDocTemplate& m_docTemplate;
    CKLTDoc* m_pDocument;
    CKLTView* m_pView = nullptr;
    CWindowTimers m_timers;
    bool m_bOuterSizeFitted = false;

    QToolBar* m_pToolBar = nullptr;
    QLabel* m_pPane0 = nullptr;
    QLabel* m_pPane1 = nullptr;
    std::map<unsigned, QAction*> m_menuActions;
    std::map<unsigned, QAction*> m_toolBarActions;

    CMwaitDlg m_waitDlg;
    // The document's line count at the last refresh that repainted the view.
    std::size_t m_nLinesAtRefresh = 0;
    // Last: it calls back into everything above until it is shut down.
    CReceptionController m_controller;
};
