#pragma once

#include "core/reception/ComAPI.h"
#include "core/reception/ReceiveRing.h"
#include "gui/framework/WindowTimers.h"
#include "gui/reception/MwaitDlg.h"

#include <QMainWindow>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

class CKLTDoc;
class CKLTView;
class CMySingleDocTemplate;
class QAction;
class QLabel;
class QToolBar;

// The main window: menu, the labelled toolbar along the right edge, the two-pane status
// bar and the history view. It also hosts the reception controller: a state machine whose
// states decide whether the window is shown, which commands are enabled and whether files
// may be dropped on it.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // Reception states; the values index s_stateTable.
    static constexpr int STATE_STARTUP = 0;
    static constexpr int STATE_WAIT_MARKER = 1;
    static constexpr int STATE_RECEIVING = 2;
    static constexpr int STATE_READY = 3;

    static constexpr unsigned FLAG_VISIBLE = 1;
    static constexpr unsigned FLAG_ENABLED = 2;

    static constexpr unsigned TIMER_STARTUP = 1;        // 10 ms
    static constexpr unsigned TIMER_OPEN_PORT = 2;      // 10 ms
    static constexpr unsigned TIMER_MARKER_TIMEOUT = 3; // 30000 ms, armed by the reader
    static constexpr unsigned TIMER_RX_SILENCE = 4;     // 1000 ms, armed by the reader
    static constexpr unsigned TIMER_VIEW_REFRESH = 5;   // 100 ms

    CMainFrame(CMySingleDocTemplate& docTemplate, CKLTDoc& document);
    ~CMainFrame() override;

    CKLTDoc* GetActiveDocument() const { return m_pDocument; }
    CKLTView* GetActiveView() const { return m_pView; }
    CMySingleDocTemplate& GetDocTemplate() const { return m_docTemplate; }

    // Window timers and posted messages; both may be used from any thread.
    void SetTimer(unsigned id, unsigned periodMs) { m_timers.SetTimer(id, periodMs); }
    void KillTimer(unsigned id) { m_timers.KillTimer(id); }
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

    int GetState() const { return m_nState; }
    unsigned GetFlags() const { return m_flags; }

    // The reception controller.
    void OnTimer(unsigned nIDEvent);
    long OnRxData(std::uintptr_t wParam, std::intptr_t lParam);
    void OnReceiveStart();
    void OnReceiveStop();
    void OnPortSettings();
    bool OnUpdateReadyCommand() const;
    bool OnUpdateReceiveStop() const;
    void ChangeState(int nState);
    bool StartReader(); // false when no thread could be started
    void StopReader();

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
    void ApplyFlags();

    // The state operations.
    void EnterStartup();
    void LeaveStartup();
    void OnTimerStartup(unsigned id);
    void EnterWaitMarker();
    void LeaveWaitMarker();
    void OnDataWaitMarker(const char* text);
    void OnTimerWaitMarker(unsigned id);
    void EnterReceiving();
    void LeaveReceiving();
    void OnDataReceiving(const char* text);
    void OnTimerReceiving(unsigned id);
    void EnterReady();
    void StateNoOp();
    void StateNoOp(const char* text);
    void StateNoOp(unsigned id);

    static void ReaderThreadProc(CMainFrame* frame);

    struct StateRow {
        void (CMainFrame::*enter)();
        void (CMainFrame::*leave)();
        void (CMainFrame::*onData)(const char* text);
        void (CMainFrame::*onTimer)(unsigned id);
    };
    static const StateRow s_stateTable[4];
    const StateRow& CurrentState() const;

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

public:
    // The reception controller's members.
    bool m_bShownOnce = false;
    char m_szPortName[260] = {};
    CComAPI m_com;
    CReceiveRing m_ring; // its lock guards its bytes and both of its indices
    char m_szMarkerText[4096] = {};
    CMwaitDlg m_waitDlg;
    unsigned m_flags = 0;
    int m_nState = STATE_STARTUP;
    std::thread m_readerThread;
    std::atomic<bool> m_bReaderRunning{false};
    // The generation the running reader tags its timer arms with
    // (m_timers.SetTimer(id, period, generation)); StopReader starts a new one, so arms that a
    // stopped reader posted late are dropped.
    std::uint64_t m_nReaderGeneration = 0;
    unsigned m_nReaderTimerId = 0;
    unsigned m_nReaderPeriod = 0;
    bool m_bRearmOnData = false;
    std::mutex m_readerWakeLock; // with m_readerWake, ends the reader's poll pause at once
    std::condition_variable m_readerWake;
    // Decoded bytes that did not fit into the ring yet: the reader's own while it runs, and
    // handed on to the next reader of the same reception.
    std::uint8_t m_pending[CComAPI::DECODED_BUFFER_SIZE] = {};
    std::size_t m_nPendingLength = 0;
    std::size_t m_nPendingOffset = 0;
};
