#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// Screen layout of the history: one 16-pixel row per line, text from x = 4, one 8-pixel cell
// per byte (a double-byte character covers two cells). Sizes are in pixels.
namespace viewgeom {

constexpr int ROW_HEIGHT = 16;
constexpr int TEXT_X = 4;
constexpr int CELL_WIDTH = 8;

struct Size {
    std::int64_t cx = 0;
    std::int64_t cy = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// The scrollable extent, with the page step (a tenth of it) and the line step (a tenth of
// the page step) a scroll view takes when given no steps of its own.
struct ScrollSizes {
    Size total;
    Size page;
    Size line;
};

constexpr Size TotalSize(int maxLength, std::size_t lineCount) {
    return {std::int64_t{CELL_WIDTH} * std::max(maxLength, 0) + TEXT_X,
            std::int64_t{ROW_HEIGHT} * static_cast<std::int64_t>(lineCount)};
}

constexpr ScrollSizes DefaultScrollSizes(Size total) {
    const Size page{total.cx / 10, total.cy / 10};
    return {total, page, {page.cx / 10, page.cy / 10}};
}

constexpr std::int64_t LineTop(std::size_t index) {
    return std::int64_t{ROW_HEIGHT} * static_cast<std::int64_t>(index);
}

// The lines [first, last) that intersect the rows top..bottom (bottom exclusive) of the
// document's coordinates. Only these need drawing.
struct LineRange {
    std::size_t first = 0;
    std::size_t last = 0;
};

constexpr LineRange LinesIntersecting(std::int64_t top, std::int64_t bottom,
                                      std::size_t lineCount) {
    if (bottom <= top || bottom <= 0) {
        return {};
    }
    const std::int64_t first = std::max<std::int64_t>(top, 0) / ROW_HEIGHT;
    const std::int64_t last = (bottom + ROW_HEIGHT - 1) / ROW_HEIGHT;
    const auto clamp = [lineCount](std::int64_t value) {
        return static_cast<std::size_t>(
            std::min<std::int64_t>(value, static_cast<std::int64_t>(lineCount)));
    };
    return {clamp(first), clamp(last)};
}

// The cells [first, last) of any line that intersect the columns left..right (right
// exclusive) of the document's coordinates. Only these need drawing.
struct CellRange {
    std::size_t first = 0;
    std::size_t last = 0;
};

constexpr CellRange CellsIntersecting(std::int64_t left, std::int64_t right) {
    if (right <= left || right <= TEXT_X) {
        return {};
    }
    const std::int64_t first = std::max<std::int64_t>(left - TEXT_X, 0) / CELL_WIDTH;
    const std::int64_t last = (right - TEXT_X + CELL_WIDTH - 1) / CELL_WIDTH;
    return {static_cast<std::size_t>(first), static_cast<std::size_t>(last)};
}

// Largest scroll position along one axis: the extent beyond what the window shows.
constexpr std::int64_t ScrollLimit(std::int64_t total, std::int64_t client) {
    return std::max<std::int64_t>(total - client, 0);
}

} // namespace viewgeom
