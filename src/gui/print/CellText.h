#pragma once

#include <QFont>
#include <QRawFont>

#include <cstdint>
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
    void Draw(QPainter& painter, int x, int y, std::string_view text, bool opaque) const {
        DrawCells(painter, x, y, text, opaque, 0, text.size());
    }

    // Draws only the characters of text that cover cells [firstCell, endCell), each at its
    // own place: the rest of the text is neither converted nor measured, so a part of a long
    // line costs what that part holds. x may lie far left of the painter's area.
    void DrawCells(QPainter& painter, qint64 x, int y, std::string_view text, bool opaque,
                   std::size_t firstCell, std::size_t endCell) const;

    // Bytes converted to characters since construction, for tests and benchmarks that check
    // a paint's cost.
    std::uint64_t ConvertedBytes() const { return m_nConvertedBytes; }

    int CellWidth() const { return m_nCellWidth; }
    int CellHeight() const { return m_nCellHeight; }

private:
    QFont m_font;
    QRawFont m_rawFont;
    int m_nCellWidth;
    int m_nCellHeight;
    qreal m_ascent;
    mutable std::uint64_t m_nConvertedBytes = 0;
};
