#include "gui/print/PrintPage.h"

#include "core/document/KLTDoc.h"
#include "gui/print/CellText.h"

#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <climits>

PrinterMetrics PrinterMetricsOf(const QPrinter& printer) {
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    const QRectF printable = printer.pageRect(QPrinter::DevicePixel);
    PrinterMetrics metrics;
    metrics.nLogPixelsX = printer.logicalDpiX();
    metrics.nLogPixelsY = printer.logicalDpiY();
    metrics.nPhysicalOffsetX = qRound(printable.left() - paper.left());
    metrics.nPhysicalOffsetY = qRound(printable.top() - paper.top());
    return metrics;
}

void CHistoryPrinter::PreparePrinting(const CKLTDoc* doc) {
    m_nPageCount = PrintPageCount(doc ? doc->GetLineCount() : 0);
}

void CHistoryPrinter::PreparePage(int page, const CKLTDoc* doc) {
    PreparePage(page, doc ? doc->GetLineCount() : 0);
}

void CHistoryPrinter::PreparePage(int page, std::size_t lineCount) {
    m_nPrintPage = page;
    const PageLineRange range = PageLines(page, lineCount);
    m_nFirstLine = range.nFirstLine;
    m_nEndLine = range.nEndLine;
}

void CHistoryPrinter::DrawPage(QPainter& painter, const CKLTDoc* doc,
                               const PrinterMetrics& metrics) {
    if (!doc) {
        return;
    }
    DrawPage(
        painter,
        [doc](int line) {
            const auto index = static_cast<std::size_t>(line);
            return index < doc->GetLineCount() ? doc->GetLine(index) : std::string_view();
        },
        metrics);
}

void CHistoryPrinter::DrawPage(QPainter& painter,
                               const std::function<std::string_view(int)>& lineAt,
                               const PrinterMetrics& metrics) {
    const PagePlaces places = ComputePagePlaces(metrics);
    m_nTopY = places.nTopY;
    for (int column = 0; column < COLUMNS_PER_PAGE; ++column) {
        m_nColumnX[column] = places.nColumnX[column];
    }
    m_nFooterY = places.nFooterY;
    m_nFooterX = places.nFooterX;

    // The print font lives for one page only.
    const CCellTextPainter text(CreateHistoryFont(places.nFontHeight, places.nFontWidth),
                                places.nFontWidth, places.nFontHeight);
    // Lines neither clipped to their column nor wrapped: a long line runs into the next
    // column's area. Every text is drawn on a white box of its own cells, so that column's
    // text, drawn later, covers it (and the counter covers what lies under it) instead of
    // printing over it. Cells right of the printable area never reach the paper.
    const int rightEdge = painter.device() ? painter.device()->width() : INT_MAX;
    for (int line = m_nFirstLine; line < m_nEndLine; ++line) {
        const DevicePoint at = PlaceOfLine(places, line);
        const std::size_t cells =
            rightEdge > at.x && places.nFontWidth > 0
                ? static_cast<std::size_t>((rightEdge - at.x) / places.nFontWidth) + 1
                : 0;
        text.DrawCells(painter, at.x, at.y, lineAt(line), true, 0, cells);
    }
    text.Draw(painter, m_nFooterX, m_nFooterY, FormatPageCounter(m_nPrintPage, m_nPageCount),
              true);
    m_nConvertedBytes += text.ConvertedBytes();
}

bool CHistoryPrinter::PrintPages(QPainter& painter, QPrinter& printer, const CKLTDoc* doc,
                                 int fromPage, int toPage) {
    const PrinterMetrics metrics = PrinterMetricsOf(printer);
    for (int page = fromPage; page <= toPage; ++page) {
        if (page > fromPage && !printer.newPage()) {
            return false;
        }
        PreparePage(page, doc);
        DrawPage(painter, doc, metrics);
    }
    return true;
}
