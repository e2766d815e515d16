#include "gui/view/PrintDialog.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QQueue>

namespace klt {
namespace {

QQueue<PrintDialogAnswer>& QueuedAnswers() {
    static QQueue<PrintDialogAnswer> answers;
    return answers;
}

QVector<ShownPrintDialog>& Record() {
    static QVector<ShownPrintDialog> record;
    return record;
}

} // namespace

bool RunPrintDialog(QPrinter& printer, int minPage, int maxPage, QWidget* parent) {
    Record().append({minPage, maxPage});
    printer.setFromTo(0, 0);
    if (!QueuedAnswers().isEmpty()) {
        // The choices are made in the dialog even when it is then cancelled.
        const PrintDialogAnswer answer = QueuedAnswers().dequeue();
        if (!answer.outputFileName.isEmpty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(answer.outputFileName);
        }
        if (answer.fromPage > 0 || answer.toPage > 0) {
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(answer.fromPage, answer.toPage);
        }
        return answer.accepted;
    }

    QPrintDialog dialog(&printer, parent);
    dialog.setMinMax(minPage, maxPage);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
}

void PrintDialogSeam::SetNextAnswer(const PrintDialogAnswer& answer) {
    QueuedAnswers().enqueue(answer);
}

bool PrintDialogSeam::HasQueuedAnswers() {
    return !QueuedAnswers().isEmpty();
}

const QVector<ShownPrintDialog>& PrintDialogSeam::Shown() {
    return Record();
}

void PrintDialogSeam::Reset() {
    QueuedAnswers().clear();
    Record().clear();
}

} // namespace klt
