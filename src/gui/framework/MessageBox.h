#pragma once

#include <QString>
#include <QVector>

class QWidget;

// Message boxes as the app shows them: a text by string id (or a formatted text), caption
// "KLT", one of the standard icons, and the standard buttons in Japanese, owned by the main
// window (or the dialog in front of it).
namespace klt {

// Results, as dialogs and message boxes return them.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

enum class MsgIcon { None, Stop, Information, Exclamation, Question };
enum class MsgButtons { Ok, YesNoCancel, YesNo };

int AfxMessageBox(unsigned stringId, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok);
int AfxMessageBox(const QString& text, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok);

// Test seam. While answers are queued, a message box takes the next one instead of showing a
// window; every message box, answered or shown, is recorded.
struct ShownMessage {
    QString text;
    MsgIcon icon;
    MsgButtons buttons;
    QWidget* owner; // the window the box belongs to
};

class MessageBoxSeam {
public:
    static void SetNextAnswer(int answer);
    static bool HasQueuedAnswers();
    static const QVector<ShownMessage>& Shown();
    static void Reset(); // forgets queued answers and the record
};

} // namespace klt
