#pragma once

#include <gtest/gtest.h>

#include "platform/PseudoTerminal.h"

#include "core/document/KLTDoc.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/MainFrame.h"
#include "gui/framework/MessageBox.h"

#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Steps a test takes while the app runs, each when its condition holds. They are driven by a
// timer, so they also run inside the nested loops of the wait dialog and the message boxes,
// where the test's own code is not on the stack.
class CTestSteps : public QObject {
public:
    CTestSteps();
    // Adds a step; steps run in the order added, each once, when its condition holds.
    void When(std::function<bool()> condition, std::function<void()> action);
    bool AllDone() const { return m_nNext == m_steps.size(); }

private:
    void Poll();
    struct Step {
        std::function<bool()> condition;
        std::function<void()> action;
    };
    std::vector<Step> m_steps;
    std::size_t m_nNext = 0;
    bool m_bBusy = false;
    QTimer m_timer;
};

// The main window's wait dialog, found by its name.
CMwaitDlg* WaitDialogOf(CMainFrame& frame);

// Answers every message box that comes up on screen with OK, remembering what it said and
// whether the wait dialog was still up behind it.
class CMessageBoxWatcher : public QObject {
public:
    struct Seen {
        QString text;
        bool overWaitDialog;
        int state;
    };
    explicit CMessageBoxWatcher(CMainFrame& frame);
    const std::vector<Seen>& SeenBoxes() const { return m_seen; }

private:
    void Poll();
    CMainFrame& m_frame;
    std::vector<Seen> m_seen;
    QTimer m_timer;
};

// One app (document, main window, view) per test, started up to STATE_READY, with a real
// pseudo-terminal as the machine's line.
class ReceptionFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The app again, with these timings for its reception controller.
    void Recreate(const CReceptionController::Timings& timings);

    // Runs the event loop until condition holds or a few seconds have passed.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

    CMainFrame& Frame() { return *m_frame; }
    CKLTDoc& Doc() { return *m_frame->GetActiveDocument(); }
    std::vector<std::string> DocLines();
    void ChoosePort(const std::string& name);
    bool WaitDialogUp();
    // The message texts shown so far, by string id.
    static QString Text(unsigned stringId);
    std::vector<QString> ShownTexts() const;

    // The next reader thread to be started fails, as if the system had no thread left.
    bool m_bFailNextReaderStart = false;
    std::unique_ptr<CMySingleDocTemplate> m_template;
    CMainFrame* m_frame = nullptr;
    PseudoTerminal m_line;
    std::unique_ptr<CMessageBoxWatcher> m_boxes;
};
