#pragma once

#include <QDialog>

// A modal dialog run the way the app's dialogs expect: OnInitDialog prepares it before it is
// shown, EndDialog may be called at any time (also from OnInitDialog, in which case the
// dialog never becomes visible, or from a handler nested in its message loop), and DoModal
// returns the value given to EndDialog. A dialog made without a parent is owned by the main
// window while it runs.
class CDialog : public QDialog {
    Q_OBJECT
public:
    explicit CDialog(QWidget* parent = nullptr);

    int DoModal();
    void EndDialog(int result);
    bool IsRunning() const { return m_bRunning; }

protected:
    // Returns true to put the focus on the first control.
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(1); }
    virtual void OnCancel() { EndDialog(2); }

    // QDialog's accept/reject (Enter, Esc, the close box) go through OnOK and OnCancel.
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

private:
    bool m_bRunning = false;
    bool m_bEnded = false;
    int m_nResult = 0;
};

namespace klt {

// The app's main window: its one top-level QMainWindow, shown or not; null before it exists.
QWidget* AfxGetMainWnd();

// The owner of a dialog or message box about to be shown: the modal dialog in front when
// there is one (itself owned by the main window), else the main window. Never the active
// window, which is null while another program has the focus, so boxes stay centred on and
// above the main window and come forward with it.
QWidget* GetSafeOwner();

} // namespace klt
