#include "gui/framework/MessageBox.h"

#include "core/res/Strings.h"
#include "gui/framework/Dialog.h"

#include <QMessageBox>
#include <QQueue>

namespace klt {
namespace {

QQueue<int>& QueuedAnswers() {
    static QQueue<int> answers;
    return answers;
}

QVector<ShownMessage>& Record() {
    static QVector<ShownMessage> record;
    return record;
}

QMessageBox::Icon ToQtIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Stop:
        return QMessageBox::Critical;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

int AfxMessageBox(unsigned stringId, MsgIcon icon, MsgButtons buttons) {
    return AfxMessageBox(QString::fromUtf8(res::LoadString(stringId)), icon, buttons);
}

int AfxMessageBox(const QString& text, MsgIcon icon, MsgButtons buttons) {
    QWidget* owner = GetSafeOwner();
    Record().append({text, icon, buttons, owner});
    if (!QueuedAnswers().isEmpty()) {
        return QueuedAnswers().dequeue();
    }

    QMessageBox box(ToQtIcon(icon), QString::fromUtf8(res::LoadString(res::AFX_IDS_APP_TITLE)),
                    text, QMessageBox::NoButton, owner);
    switch (buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    case QMessageBox::Cancel:
        return IDCANCEL;
    default:
        // An OK-only box closed by Esc or its close box still counts as acknowledged.
        return buttons == MsgButtons::Ok ? IDOK : IDCANCEL;
    }
}

void MessageBoxSeam::SetNextAnswer(int answer) {
    QueuedAnswers().enqueue(answer);
}
bool MessageBoxSeam::HasQueuedAnswers() {
    return !QueuedAnswers().isEmpty();
}
const QVector<ShownMessage>& MessageBoxSeam::Shown() {
    return Record();
}

void MessageBoxSeam::Reset() {
    QueuedAnswers().clear();
    Record().clear();
}

} // namespace klt
