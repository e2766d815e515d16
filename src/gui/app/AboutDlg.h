#pragma once

#include "gui/framework/Dialog.h"

// The About box: the app's icon, its name and version, and a notice line.
class CAboutDlg : public CDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
