#include "view/KLTView.h"

#include "document/KLTDoc.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace {

constexpr int COLUMNS = 3;
constexpr int LINES_PER_COLUMN = 95;

// Three columns of 95 lines a page, the page counter at the foot.
void PrintHistory(const CKLTDoc& document, QPrinter& printer) {
    QPainter painter(&printer);
    const int width = painter.device()->width();
    const int height = painter.device()->height();
    const int rowHeight = std::max(2, height / (LINES_PER_COLUMN + 2));
    const int cellWidth = std::max(1, rowHeight / 2);
    const CCellTextPainter cells(CreateHistoryFont(rowHeight, cellWidth), cellWidth, rowHeight);
    const std::size_t perPage = COLUMNS * LINES_PER_COLUMN;
    const std::size_t lines = document.GetLineCount();
    const std::size_t pages = std::max<std::size_t>(1, (lines + perPage - 1) / perPage);
    for (std::size_t page = 0; page < pages; ++page) {
        if (page > 0) {
            printer.newPage();
        }
        for (std::size_t slot = 0; slot < perPage; ++slot) {
            const std::size_t index = page * perPage + slot;
            if (index >= lines) {
                break;
            }
            const int column = static_cast<int>(slot / LINES_PER_COLUMN);
            const int row = static_cast<int>(slot % LINES_PER_COLUMN);
            cells.Draw(painter, column * width / COLUMNS, row * rowHeight, document.GetLine(index),
                       false);
        }
        const QString counter =
            QString::asprintf("%02d / %02d", static_cast<int>(page + 1), static_cast<int>(pages));
        painter.drawText(QRect(0, height - rowHeight, width, rowHeight), Qt::AlignCenter, counter);
    }
}

} // namespace

void CKLTView::OnFilePrint() {
    if (!m_pDocument) {
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted) {
        PrintHistory(*m_pDocument, printer);
    }
}

void CKLTView::OnFilePrintPreview() {
    if (!m_pDocument) {
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { PrintHistory(*m_pDocument, *target); });
    preview.exec();
}
