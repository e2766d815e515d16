#pragma once

#include <QString>
#include <QVector>

class QPrinter;
class QWidget;

namespace klt {

// Shows the print dialog for pages minPage … maxPage and leaves the user's choices (printer,
// page range, file for printing to a file) in printer. Returns false if the user cancelled.
bool RunPrintDialog(QPrinter& printer, int minPage, int maxPage, QWidget* parent);

// Test seam. While answers are queued, the print dialog takes the next one instead of
// showing a window; every dialog, answered or shown, is recorded with the pages it offered.
struct PrintDialogAnswer {
    bool accepted = true;
    int fromPage = 0; // 0 and 0: all pages
    int toPage = 0;
    QString outputFileName; // print to this PDF file instead of a printer
};

struct ShownPrintDialog {
    int minPage;
    int maxPage;
};

class PrintDialogSeam {
public:
    static void SetNextAnswer(const PrintDialogAnswer& answer);
    static bool HasQueuedAnswers();
    static const QVector<ShownPrintDialog>& Shown();
    static void Reset(); // forgets queued answers and the record
};

} // namespace klt
