#pragma once

#include "core/reception/PortTable.h"
#include "gui/framework/Dialog.h"
#include "gui/reception/PortEnumeration.h"

class QPushButton;
class QTableWidget;

// The port selection dialog: lists the serial ports present, and on OK copies the chosen
// port's name into the caller's 260-byte buffer. Without any port it shows why and ends as
// cancelled before it is ever visible. A new dialog is made for every use. Its list is
// "portList", its buttons "okButton" and "cancelButton".
class CComSelectDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 130;
    static constexpr int IDC_PORT_LIST = 1002;

    // listPorts gives the ports to offer (the ones present on this computer by default).
    explicit CComSelectDlg(char* pszPortName, QWidget* parent = nullptr,
                           PortLister listPorts = EnumerateSerialPorts);

protected:
    bool OnInitDialog() override;
    void OnOK() override { OnBnClickedOk(); }

private:
    void EnumComPorts();
    void OnBnClickedOk();

    int m_nPortCount = 0;
    COMPORT_ENTRY m_aPorts[MAX_COM_PORTS];
    char* m_pszPortName;
    PortLister m_listPorts;

    QTableWidget* m_pList;
    QPushButton* m_pOk;
    QPushButton* m_pCancel;
};
