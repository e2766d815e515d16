#pragma once

#include <QFont>
#include <QRawFont>

#include <string_view>

class QPainter;

// The fixed-pitch Japanese face for history text, cellHeight pixels (device units) high with
// half-width cells cellWidth wide: "ＭＳ ゴシック" where installed, else IPAGothic, else any
// fixed-pitch font with Japanese glyphs.
QFont CreateHistoryFont(int cellHeight, int cellWidth);

// Draws Shift-JIS text one character per cell: each byte is one cell of cellWidth, so a
// double-byte character covers two. Characters are placed at their cells whatever the
// font's own advances, so the layout is the same on every font, screen and paper.
class CCellTextPainter {
public:
    CCellTextPainter(const QFont& font, int cellWidth, int cellHeight);

    // Draws text with its cells' top left corner at (x, y). With opaque set, the cells the
    // text covers are first filled white (the text itself is black).
    void Draw(QPainter& painter, int x, int y, std::string_view text, bool opaque) const;

    int CellWidth() const { return m_nCellWidth; }
    int CellHeight() const { return m_nCellHeight; }

private:
    QFont m_font;
    QRawFont m_rawFont;
    int m_nCellWidth;
    int m_nCellHeight;
    qreal m_ascent;
};
