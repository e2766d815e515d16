#include "gui/framework/FileDialog.h"

#include "core/res/Strings.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QQueue>

namespace klt {
namespace {

QQueue<std::optional<QString>>& QueuedAnswers() {
    static QQueue<std::optional<QString>> answers;
    return answers;
}

QVector<ShownFileDialog>& Record() {
    static QVector<ShownFileDialog> record;
    return record;
}

// The document template's string: "window\ndoc\nnew\nfilter name\nextension\n...".
QString TemplateField(int index) {
    return QString::fromUtf8(res::LoadString(res::IDR_MAINFRAME))
        .split(QLatin1Char('\n'))
        .value(index);
}

} // namespace

std::optional<QString> DoPromptFileName(FileDialogKind kind, const QString& proposedName,
                                        QWidget* parent) {
    const QString title = QString::fromUtf8(res::LoadString(
        kind == FileDialogKind::Open ? res::AFX_IDS_OPENFILE : res::AFX_IDS_SAVEFILE));
    const QStringList filters = {TemplateField(3),
                                 QString::fromUtf8(res::LoadString(res::AFX_IDS_ALLFILTER))};
    Record().append({kind, title, proposedName, filters});
    if (!QueuedAnswers().isEmpty()) {
        return QueuedAnswers().dequeue();
    }

    QFileDialog dialog(parent, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(filters);
    // "*.*" means every file, also those without a dot in their names.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, allFiles = filters.constLast()](const QString& filter) {
                         if (filter != allFiles) {
                             return;
                         }
                         if (auto* model = dialog.findChild<QFileSystemModel*>()) {
                             model->setNameFilters({QStringLiteral("*")});
                         }
                     });
    if (kind == FileDialogKind::Open) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(TemplateField(4).mid(1));
        if (!proposedName.isEmpty()) {
            dialog.selectFile(proposedName);
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

void FileDialogSeam::SetNextFileName(const QString& path) {
    QueuedAnswers().enqueue(path);
}
void FileDialogSeam::SetNextCancel() {
    QueuedAnswers().enqueue(std::nullopt);
}
bool FileDialogSeam::HasQueuedAnswers() {
    return !QueuedAnswers().isEmpty();
}
const QVector<ShownFileDialog>& FileDialogSeam::Shown() {
    return Record();
}
void FileDialogSeam::Reset() {
    QueuedAnswers().clear();
    Record().clear();
}

} // namespace klt
