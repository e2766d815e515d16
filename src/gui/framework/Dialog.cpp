#include "gui/framework/Dialog.h"

#include <QApplication>
#include <QMainWindow>

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
    const bool borrowOwner = parentWidget() == nullptr;
    if (borrowOwner) {
        if (QWidget* owner = klt::GetSafeOwner(); owner && owner != this) {
            setParent(owner, windowFlags());
        }
    }
    m_bRunning = true;
    exec();
    m_bRunning = false;
    if (borrowOwner && parentWidget()) {
        // The dialog may outlive this owner (a member of another window).
        setParent(nullptr, windowFlags());
    }
    return m_nResult;
}

void CDialog::EndDialog(int result) {
    m_nResult = result;
    m_bEnded = true;
    if (m_bRunning) {
        QDialog::done(result);
    }
}

namespace klt {

QWidget* AfxGetMainWnd() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* main = qobject_cast<QMainWindow*>(widget)) {
            return main;
        }
    }
    return nullptr;
}

QWidget* GetSafeOwner() {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    return AfxGetMainWnd();
}

} // namespace klt
