#include "gui/view/KLTView.h"

#include "core/document/KLTDoc.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <climits>

namespace {

int ToScrollRange(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX));
}

} // namespace

CKLTView::CKLTView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // The view paints every pixel itself from its screen image; Qt must not clear it first.
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    // The scroll bars' page step sizes the thumb to the window; a page click moves by the
    // view's own page step, a tenth of the extent.
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(horizontalScrollBar(), action, m_sizes.page.cx); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(verticalScrollBar(), action, m_sizes.page.cy); });
}

CKLTView::~CKLTView() = default;

std::uint64_t CKLTView::ConvertedBytes() const {
    return m_pCellPainter ? m_pCellPainter->ConvertedBytes() : 0;
}

void CKLTView::OnScrollAction(QScrollBar* bar, int action, std::int64_t pageStep) {
    const std::int64_t step = std::max<std::int64_t>(pageStep, 1);
    if (action == QAbstractSlider::SliderPageStepAdd) {
        bar->setSliderPosition(ToScrollRange(bar->value() + step));
    } else if (action == QAbstractSlider::SliderPageStepSub) {
        bar->setSliderPosition(ToScrollRange(bar->value() - step));
    }
}

void CKLTView::OnInitialUpdate() {
    Invalidate(true);
    if (m_pDocument) {
        SetScrollSizes(
            viewgeom::TotalSize(m_pDocument->GetMaxLength(), m_pDocument->GetLineCount()));
    }
}

void CKLTView::ClearView() {
    EnsureScreenSize();
    m_screen.fill(Qt::white);
    if (viewport()->isVisible()) {
        m_bShowOnly = true;
        viewport()->repaint();
        m_bShowOnly = false;
    }
    m_bIgnoreScroll = true;
    verticalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setPageStep(0);
    verticalScrollBar()->setValue(0);
    m_bIgnoreScroll = false;
}

void CKLTView::Invalidate(bool bErase) {
    const QRegion all(viewport()->rect());
    if (bErase) {
        m_eraseRegion += all;
    } else {
        m_noEraseRegion += all;
    }
    viewport()->update();
}

void CKLTView::CheckScrollBars(bool& bHasHorzBar, bool& bHasVertBar) const {
    const QSize client = viewport()->size();
    bHasHorzBar = m_sizes.total.cx > client.width();
    bHasVertBar = m_sizes.total.cy > client.height();
}

void CKLTView::ScrollToPosition(std::int64_t x, std::int64_t y) {
    horizontalScrollBar()->setValue(ToScrollRange(x));
    verticalScrollBar()->setValue(ToScrollRange(y));
}

QPoint CKLTView::GetScrollPosition() const {
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void CKLTView::SetScrollSizes(viewgeom::Size total) {
    m_sizes = viewgeom::DefaultScrollSizes(total);
    UpdateBars();
}

void CKLTView::UpdateBars() {
    const QSize client = viewport()->size();
    QScrollBar* horz = horizontalScrollBar();
    horz->setRange(0, ToScrollRange(viewgeom::ScrollLimit(m_sizes.total.cx, client.width())));
    horz->setPageStep(client.width());
    horz->setSingleStep(ToScrollRange(std::max<std::int64_t>(m_sizes.line.cx, 1)));
    QScrollBar* vert = verticalScrollBar();
    vert->setRange(0, ToScrollRange(viewgeom::ScrollLimit(m_sizes.total.cy, client.height())));
    vert->setPageStep(client.height());
    vert->setSingleStep(ToScrollRange(std::max<std::int64_t>(m_sizes.line.cy, 1)));
}

void CKLTView::EnsureScreenSize() {
    // The image has the screen's own pixels (the window's size times the device pixel ratio),
    // so on a scaled display the glyphs are drawn at full resolution, not stretched; it is
    // painted in the window's units, where a cell stays 8 x 16.
    const qreal ratio = viewport()->devicePixelRatioF();
    const QSize size = (QSizeF(viewport()->size()) * ratio).toSize().expandedTo(QSize(1, 1));
    if (m_screen.size() == size && m_screen.devicePixelRatio() == ratio) {
        return;
    }
    QImage screen(size, QImage::Format_RGB32);
    screen.setDevicePixelRatio(ratio);
    screen.fill(Qt::white);
    if (!m_screen.isNull()) {
        QPainter painter(&screen);
        painter.drawImage(0, 0, m_screen);
    }
    m_screen = std::move(screen);
}

void CKLTView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    m_eraseRegion += QRegion(viewport()->rect());
    UpdateBars();
}

void CKLTView::scrollContentsBy(int, int) {
    if (m_bIgnoreScroll) {
        return;
    }
    Invalidate(true);
}

void CKLTView::paintEvent(QPaintEvent* event) {
    EnsureScreenSize();
    const QRegion region = event->region();
    if (!m_bShowOnly) {
        const QRegion erase = (region - m_noEraseRegion) + (region & m_eraseRegion);
        m_eraseRegion -= region;
        m_noEraseRegion -= region;
        QPainter painter(&m_screen);
        painter.setClipRegion(region);
        for (const QRect& rect : erase) {
            painter.fillRect(rect, Qt::white);
        }
        OnDraw(painter, region.boundingRect());
    }
    QPainter window(viewport());
    const qreal ratio = m_screen.devicePixelRatio();
    for (const QRect& rect : region) {
        window.drawImage(QRectF(rect), m_screen,
                         QRectF(rect.x() * ratio, rect.y() * ratio, rect.width() * ratio,
                                rect.height() * ratio));
    }
}

void CKLTView::OnDraw(QPainter& painter, const QRect& updateRect) {
    if (!m_pDocument) {
        return;
    }
    if (!m_pCellPainter) {
        m_pCellPainter = std::make_unique<CCellTextPainter>(
            CreateHistoryFont(viewgeom::ROW_HEIGHT, viewgeom::CELL_WIDTH), viewgeom::CELL_WIDTH,
            viewgeom::ROW_HEIGHT);
    }
    const QPoint origin = GetScrollPosition();
    const viewgeom::LineRange lines = viewgeom::LinesIntersecting(
        std::int64_t{updateRect.top()} + origin.y(),
        std::int64_t{updateRect.bottom()} + 1 + origin.y(), m_pDocument->GetLineCount());
    const viewgeom::CellRange cells =
        viewgeom::CellsIntersecting(std::int64_t{updateRect.left()} + origin.x(),
                                    std::int64_t{updateRect.right()} + 1 + origin.x());
    for (std::size_t i = lines.first; i < lines.last; ++i) {
        m_pCellPainter->DrawCells(painter, viewgeom::TEXT_X - origin.x(),
                                  static_cast<int>(viewgeom::LineTop(i) - origin.y()),
                                  m_pDocument->GetLine(i), true, cells.first, cells.last);
    }
    SetScrollSizes(viewgeom::TotalSize(m_pDocument->GetMaxLength(), m_pDocument->GetLineCount()));
}
