#pragma once

#include "app/Dialog.h"

// The wait dialog of a reception: asks the user to press the machine's "M" button. Only
// Cancel (also Esc and the close box) ends it from the user's side; the reception ends it
// with 1 when the marker arrives and with 0 on the time-out.
class CMwaitDlg : public CDialog {
    Q_OBJECT
public:
    CMwaitDlg();

protected:
    bool OnInitDialog() override;
};
