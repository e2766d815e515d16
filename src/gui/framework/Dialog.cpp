#include "gui/framework/Dialog.h"

CDialog::CDialog(QWidget* parent) : QDialog(parent) {}

int CDialog::DoModal() {
    m_bEnded = false;
    m_nResult = 0;
    const bool focusFirst = OnInitDialog();
    if (m_bEnded) {
        return m_nResult;
    }
    if (focusFirst) {
        if (QWidget* first = nextInFocusChain(); first && first != this) {
            first->setFocus();
        }
    }
    m_bRunning = true;
    exec();
    m_bRunning = false;
    return m_nResult;
}

void CDialog::EndDialog(int result) {
    m_nResult = result;
    m_bEnded = true;
    if (m_bRunning) {
        QDialog::done(result);
    }
}
