#pragma once

#include "core/layout/PageLayout.h"

#include <cstdint>
#include <functional>
#include <string_view>

class CKLTDoc;
class QPainter;
class QPrinter;

// Resolution per axis and the offset of the printable area from the paper's corner, in
// device units, as the printer (never the screen) reports them. Preview asks the same
// printer, so preview and paper agree.
PrinterMetrics PrinterMetricsOf(const QPrinter& printer);

// What the print loop knows of one print job or preview: the pages it may print, the range
// chosen in the print dialog, the page being printed, and the printer.
struct CPrintInfo {
    void SetMinPage(int page) { m_nMinPage = page; }
    void SetMaxPage(int page) { m_nMaxPage = page; }
    int GetMinPage() const { return m_nMinPage; }
    int GetMaxPage() const { return m_nMaxPage; }
    // The chosen range, or every page from first to last when none was chosen.
    int GetFromPage() const { return m_nFromPage > 0 ? m_nFromPage : m_nMinPage; }
    int GetToPage() const { return m_nToPage > 0 ? m_nToPage : m_nMaxPage; }

    QPrinter* m_pPrinter = nullptr;
    bool m_bPreview = false;
    int m_nCurPage = 1;
    int m_nMinPage = 1;
    int m_nMaxPage = 1;
    int m_nFromPage = 0; // 0: from the first page
    int m_nToPage = 0;   // 0: to the last page
};

// The printing side of the history view: the page count of a job, the line range and places
// of the page being printed, and the drawing of one page. The view prints through it, and so
// does the command-line printer, so both give the same pages.
class CHistoryPrinter {
public:
    // Fixes the page count of a job or preview from the document's lines.
    void PreparePrinting(const CKLTDoc* doc);

    // Sets the line range of page `page` (from 1). Derived from the page number and the
    // document's current line count alone, so calling it twice for a page changes nothing.
    void PreparePage(int page, const CKLTDoc* doc);
    void PreparePage(int page, std::size_t lineCount);

    // Draws the prepared page: its lines, then the counter, also on a page without lines.
    // The painter's origin is the printable area's top left corner. Each line is cut to the
    // characters that can fall inside the printable area before it is converted.
    void DrawPage(QPainter& painter, const CKLTDoc* doc, const PrinterMetrics& metrics);
    // The same, taking the page's lines from lineAt(index) for index in
    // [m_nFirstLine, m_nEndLine), so a caller can hold one page at a time.
    void DrawPage(QPainter& painter, const std::function<std::string_view(int)>& lineAt,
                  const PrinterMetrics& metrics);

    // Prints pages fromPage … toPage in ascending order onto one painter that is already
    // active on the printer, starting a new sheet before every page after the first.
    // Returns false if the printer refused a new page.
    bool PrintPages(QPainter& painter, QPrinter& printer, const CKLTDoc* doc, int fromPage,
                    int toPage);

    int m_nFirstLine = 0; // first document line of the page being printed
    int m_nEndLine = 0;   // one past its last line
    int m_nPrintPage = 0; // number of the page being printed, from 1
    int m_nPageCount = 0; // pages of the job, fixed when printing is prepared
    int m_nTopY = 0;      // device y of the first row of every column
    int m_nColumnX[COLUMNS_PER_PAGE] = {0, 0, 0}; // device x of each column's left edge
    int m_nFooterY = 0;                           // device y of the page counter
    int m_nFooterX = 0;                           // device x of the page counter's left edge
    std::uint64_t m_nConvertedBytes = 0;          // bytes converted by every page drawn
};
