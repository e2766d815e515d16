#pragma once

#include "core/layout/ViewGeometry.h"
#include "gui/print/CellText.h"
#include "gui/print/PrintPage.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QRegion>

#include <memory>

class CKLTDoc;

// The history view: the document's lines top to bottom, one 16-pixel row each, in the
// fixed-pitch history font, in a scrolling window whose extent follows the document as of
// the latest paint.
//
// Painting works like a window that keeps its pixels: a repaint asked for without erasing
// draws the text cells over what is already on screen, so only ClearView's white fill (or
// an erasing repaint) removes old text. The screen is kept in an image of the window's size
// (in device pixels) that every paint updates and then shows.
//
// It also prints the history (the printing members come from CHistoryPrinter).
class CKLTView : public QAbstractScrollArea, public CHistoryPrinter {
    Q_OBJECT
public:
    explicit CKLTView(QWidget* parent = nullptr);
    ~CKLTView() override;

    void SetDocument(CKLTDoc* document) { m_pDocument = document; }
    CKLTDoc* GetDocument() const { return m_pDocument; }

    // After the document was made new or opened: repaint everything with erasing, and take
    // the document's extent.
    void OnInitialUpdate();

    // Blanks the window at once (white) and resets the vertical scroll bar to an empty range;
    // the stored extent stays until the next paint.
    void ClearView();

    // Asks for a repaint of the whole window, with or without erasing the background first.
    void Invalidate(bool bErase = true);

    // The scroll view's operations used to follow the end of the text.
    viewgeom::Size GetTotalSize() const { return m_sizes.total; }
    viewgeom::ScrollSizes GetScrollSizes() const { return m_sizes; }
    void CheckScrollBars(bool& bHasHorzBar, bool& bHasVertBar) const;
    void ScrollToPosition(std::int64_t x, std::int64_t y);
    QPoint GetScrollPosition() const;
    void SetScrollSizes(viewgeom::Size total);

    // What the window shows right now, at the screen's device pixel ratio.
    const QImage& ScreenImage() const { return m_screen; }

    // Bytes of history text converted for painting so far: a paint converts only the cells
    // it shows.
    std::uint64_t ConvertedBytes() const;

    // Printing and its preview.
    void OnFilePrint();
    void OnFilePrintPreview();

    // The print loop's calls, in their order: OnPreparePrinting once (false: the user
    // cancelled, nothing is printed), OnBeginPrinting, then for every page of the chosen range
    // OnPrepareDC and OnPrint (the printing branch of drawing), last OnEndPrinting.
    bool OnPreparePrinting(CPrintInfo* pInfo);
    void OnBeginPrinting(QPainter* pDC, CPrintInfo* pInfo);
    void OnPrepareDC(QPainter* pDC, CPrintInfo* pInfo);
    void OnPrint(QPainter* pDC, CPrintInfo* pInfo);
    void OnEndPrinting(QPainter* pDC, CPrintInfo* pInfo);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

    // Draws the lines that intersect updateRect (window coordinates) and renews the extent.
    void OnDraw(QPainter& painter, const QRect& updateRect);

private:
    bool DoPreparePrinting(CPrintInfo* pInfo);
    static void TakeChosenRange(const QPrinter& printer, CPrintInfo* pInfo);
    bool RunPrintLoop(CPrintInfo* pInfo);

    void UpdateBars();
    void EnsureScreenSize();
    void OnScrollAction(QScrollBar* bar, int action, std::int64_t pageStep);

    CKLTDoc* m_pDocument = nullptr;
    viewgeom::ScrollSizes m_sizes;
    std::unique_ptr<CCellTextPainter> m_pCellPainter;

    QImage m_screen;
    QRegion m_eraseRegion;    // invalidated with erasing since the last paint
    QRegion m_noEraseRegion;  // invalidated without erasing since the last paint
    bool m_bShowOnly = false; // the next paint only shows the screen image
    bool m_bIgnoreScroll = false;
};
