#pragma once

#include <QString>
#include <QVector>

#include <optional>

class QWidget;

// The open and save-as file dialogs of the document flows: title "開く" or "名前を付けて
//保存", the filters "KLT Files (*.txt)" and "すべてのファイル (*.*)"; open takes existing
// files only, save as proposes a name, adds ".txt" to a name typed without one and asks
// before replacing a file. Returns the chosen path, or nothing when the user cancelled.
namespace klt {

enum class FileDialogKind { Open, SaveAs };

std::optional<QString> DoPromptFileName(FileDialogKind kind, const QString& proposedName,
                                        QWidget* parent);

// Test seam. While answers are queued, a file dialog takes the next one instead of showing
// a window (an empty optional is Cancel); every dialog, answered or shown, is recorded.
struct ShownFileDialog {
    FileDialogKind kind;
    QString title;
    QString proposedName;
    QStringList filters;
};

class FileDialogSeam {
public:
    static void SetNextFileName(const QString& path);
    static void SetNextCancel();
    static bool HasQueuedAnswers();
    static const QVector<ShownFileDialog>& Shown();
    static void Reset();
};

} // namespace klt
