#pragma once

#include "gui/framework/Dialog.h"

class QLabel;
class QPushButton;

// The dialog that asks the user to press the machine's "M" button while the reception waits
// for the marker. Only Cancel (or Esc, or the close box) ends it from the user's side; the
// reception ends it with 1 when the marker arrives and with 0 on the time-out.
class CMwaitDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 132;

    // Its text is "prompt", its button "cancelButton".
    explicit CMwaitDlg(QWidget* parent = nullptr);

protected:
    bool OnInitDialog() override;
    // Enter must not end the dialog as if the marker had been seen; it presses Cancel.
    void OnOK() override {}

private:
    QLabel* m_pPrompt;
    QPushButton* m_pCancel;
};
