#pragma once

#include <QDialog>

// A modal dialog run the way the app's dialogs expect: OnInitDialog prepares it before it is
// shown, EndDialog may be called at any time (also from OnInitDialog, in which case the
// dialog never becomes visible, or from a handler nested in its message loop), and DoModal
// returns the value given to EndDialog.
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
