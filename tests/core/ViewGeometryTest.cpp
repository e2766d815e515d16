#include "core/layout/ViewGeometry.h"

#include <gtest/gtest.h>

namespace {

using viewgeom::Size;

TEST(ViewGeometry, TotalSizeFollowsLongestLineAndLineCount) {
    struct Case {
        int maxLength;
        std::size_t lines;
        Size expected;
    };
    const Case cases[] = {
        {0, 0, {4, 0}},     // an empty history: 4 x 0, no scroll bars
        {40, 3, {324, 48}}, // 40 bytes wide, 3 lines tall
        {20, 1, {164, 16}}, // ten double-byte characters are 20 cells
        {0, 1, {4, 16}},    // one empty line
        {80, 2000000, {644, 32000000}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(viewgeom::TotalSize(c.maxLength, c.lines), c.expected)
            << c.maxLength << " bytes, " << c.lines << " lines";
    }
}

TEST(ViewGeometry, PageIsATenthOfTheTotalAndLineATenthOfThePage) {
    const viewgeom::ScrollSizes sizes = viewgeom::DefaultScrollSizes(viewgeom::TotalSize(40, 1000));
    EXPECT_EQ(sizes.total, (Size{324, 16000}));
    EXPECT_EQ(sizes.page, (Size{32, 1600}));
    EXPECT_EQ(sizes.line, (Size{3, 160}));

    // Integer division on both steps: a short history has steps of 0.
    const viewgeom::ScrollSizes small = viewgeom::DefaultScrollSizes(viewgeom::TotalSize(0, 3));
    EXPECT_EQ(small.page, (Size{0, 4}));
    EXPECT_EQ(small.line, (Size{0, 0}));
}

TEST(ViewGeometry, OnlyTheLinesInTheUpdatedRowsAreDrawn) {
    struct Case {
        std::int64_t top;
        std::int64_t bottom;
        std::size_t lines;
        std::size_t first;
        std::size_t last;
    };
    const Case cases[] = {
        {0, 16, 10, 0, 1},  // exactly the first row
        {0, 17, 10, 0, 2},  // one pixel of the second row
        {15, 16, 10, 0, 1}, // the last pixel row of line 0
        {16, 32, 10, 1, 2},
        {-40, 8, 10, 0, 1},     // above the text
        {150, 400, 10, 9, 10},  // past the end: clamped to the count
        {200, 400, 10, 10, 10}, // wholly below the text
        {32, 32, 10, 0, 0},     // an empty area
        {16000000, 16000480, 2000000, 1000000, 1000030},
    };
    for (const Case& c : cases) {
        const viewgeom::LineRange range = viewgeom::LinesIntersecting(c.top, c.bottom, c.lines);
        EXPECT_EQ(range.first, c.first) << c.top << ".." << c.bottom;
        EXPECT_EQ(range.last, c.last) << c.top << ".." << c.bottom;
    }
}

TEST(ViewGeometry, OnlyTheCellsInTheUpdatedColumnsAreDrawn) {
    struct Case {
        std::int64_t left;
        std::int64_t right;
        std::size_t first;
        std::size_t last;
    };
    const Case cases[] = {
        {0, 4, 0, 0},   // the margin left of the text
        {0, 5, 0, 1},   // one pixel of the first cell
        {11, 12, 0, 1}, // its last pixel column
        {12, 13, 1, 2},
        {13, 300, 1, 37},
        {-50, 20, 0, 2},
        {20, 20, 0, 0}, // an empty area
        {1600000004, 1600000364, 200000000, 200000045},
    };
    for (const Case& c : cases) {
        const viewgeom::CellRange range = viewgeom::CellsIntersecting(c.left, c.right);
        EXPECT_EQ(range.first, c.first) << c.left << ".." << c.right;
        EXPECT_EQ(range.last, c.last) << c.left << ".." << c.right;
    }
}

TEST(ViewGeometry, ScrollLimitKeepsTheEndAtTheWindowsEdge) {
    EXPECT_EQ(viewgeom::ScrollLimit(16000, 400), 15600);
    EXPECT_EQ(viewgeom::ScrollLimit(48, 400), 0);
    EXPECT_EQ(viewgeom::ScrollLimit(400, 400), 0);
}

} // namespace
