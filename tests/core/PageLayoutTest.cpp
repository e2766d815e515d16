#include "core/layout/PageLayout.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace {

struct PlacesCase {
    PrinterMetrics metrics;
    int topY;
    int columnX[3];
    int footerY;
    int footerX;
    int fontHeight;
    int fontWidth;
    int lineStep;
};

// Hand-computed from the millimetre places: 15 mm top, columns at 30/86/141 mm, counter at
// (105 mm, 280 mm), 8-point rows in whole units per point.
const PlacesCase PLACES_CASES[] = {
    {{600, 600, 100, 150}, 204, {608, 1931, 3230}, 6464, 2380, 64, 32, 64},
    {{300, 300, 50, 75}, 102, {304, 965, 1615}, 3232, 1190, 32, 16, 32},
    {{360, 360, 0, 0}, 212, {425, 1218, 1998}, 3968, 1488, 40, 20, 40},
    {{1200, 1200, 200, 300}, 408, {1217, 3862, 6461}, 12928, 4760, 128, 64, 128},
    // Different resolutions per axis: each place uses its own axis.
    {{600, 300, 100, 75}, 102, {608, 1931, 3230}, 3232, 2380, 32, 32, 32},
    // Offsets larger than a place: truncation goes toward zero (-57.48 becomes -57).
    {{72, 72, 100, 100}, -57, {-14, 143, 299}, 693, 197, 8, 4, 8},
};

TEST(PageLayoutTest, PlacesFollowEachAxisResolutionAndOffset) {
    for (const PlacesCase& c : PLACES_CASES) {
        SCOPED_TRACE(::testing::Message()
                     << c.metrics.nLogPixelsX << "x" << c.metrics.nLogPixelsY << " dpi, offsets "
                     << c.metrics.nPhysicalOffsetX << "/" << c.metrics.nPhysicalOffsetY);
        const PagePlaces places = ComputePagePlaces(c.metrics);
        EXPECT_EQ(places.nTopY, c.topY);
        for (int column = 0; column < 3; ++column) {
            EXPECT_EQ(places.nColumnX[column], c.columnX[column]) << "column " << column + 1;
        }
        EXPECT_EQ(places.nFooterY, c.footerY);
        EXPECT_EQ(places.nFooterX, c.footerX);
        EXPECT_EQ(places.nFontHeight, c.fontHeight);
        EXPECT_EQ(places.nFontWidth, c.fontWidth);
        EXPECT_EQ(places.nLineStep, c.lineStep);
    }
}

TEST(PageLayoutTest, LastRowAt360DpiLiesBelowTheCounterTop) {
    const PagePlaces places = ComputePagePlaces({360, 360, 0, 0});
    EXPECT_EQ(PlaceOfLine(places, 94).y, 3972);
    EXPECT_GT(PlaceOfLine(places, 94).y, places.nFooterY);
}

TEST(PageLayoutTest, PageCount) {
    const struct {
        std::size_t lines;
        int pages;
    } cases[] = {{0, 1},           {1, 1},        {285, 1},          {286, 2},
                 {600, 3},         {100000, 351}, {18677190, 65534}, {18677191, 65535},
                 {19950000, 70000}};
    for (const auto& c : cases) {
        EXPECT_EQ(PrintPageCount(c.lines), c.pages) << c.lines << " lines";
    }
}

TEST(PageLayoutTest, PrintableRangeIsCappedNotTheCount) {
    EXPECT_EQ(LastPrintablePage(1), 1);
    EXPECT_EQ(LastPrintablePage(65534), 65534);
    EXPECT_EQ(LastPrintablePage(65535), 65535);
    EXPECT_EQ(LastPrintablePage(70000), 65535);
    // The last reachable page of a 70000-page history still reads its true count.
    EXPECT_EQ(FormatPageCounter(65535, 70000), "65535 / 70000");
    const PageLineRange last = PageLines(65535, 19950000);
    EXPECT_EQ(last.nFirstLine, 18677190);
    EXPECT_EQ(last.nEndLine, 18677475);
}

TEST(PageLayoutTest, LineRangeOfAPage) {
    const struct {
        int page;
        std::size_t lines;
        int first;
        int end;
    } cases[] = {
        {1, 0, 0, 0},       // empty history: one page with only its counter
        {1, 285, 0, 285},   // exactly one full page
        {2, 286, 285, 286}, // one line on the second page
        {2, 600, 285, 570}, // a middle page
        {3, 600, 570, 600}, // the last page, column 1 only
        {3, 300, 570, 300}, // the history shrank after the count was fixed: nothing to draw
    };
    for (const auto& c : cases) {
        const PageLineRange range = PageLines(c.page, c.lines);
        EXPECT_EQ(range.nFirstLine, c.first) << "page " << c.page << " of " << c.lines;
        EXPECT_EQ(range.nEndLine, c.end) << "page " << c.page << " of " << c.lines;
    }
}

TEST(PageLayoutTest, SecondPageOfThreeAt600Dpi) {
    const PagePlaces places = ComputePagePlaces({600, 600, 100, 150});
    const int pageCount = PrintPageCount(600);
    ASSERT_EQ(pageCount, 3);
    const PageLineRange range = PageLines(2, 600);
    EXPECT_EQ(range.nFirstLine, 285);
    EXPECT_EQ(range.nEndLine, 570);
    EXPECT_EQ(FormatPageCounter(2, pageCount), "02 / 03");

    const struct {
        int line;
        int x;
        int y;
    } lines[] = {{285, 608, 204}, {300, 608, 1164}, {400, 1931, 1484}, {569, 3230, 6220}};
    for (const auto& l : lines) {
        const DevicePoint at = PlaceOfLine(places, l.line);
        EXPECT_EQ(at.x, l.x) << "line " << l.line;
        EXPECT_EQ(at.y, l.y) << "line " << l.line;
    }
}

TEST(PageLayoutTest, NinetySixLinesFillColumnOneAndStartColumnTwo) {
    const PagePlaces places = ComputePagePlaces({600, 600, 100, 150});
    const PageLineRange range = PageLines(1, 96);
    ASSERT_EQ(range.nEndLine, 96);
    for (int line = 0; line < 95; ++line) {
        EXPECT_EQ(PlaceOfLine(places, line).x, 608);
        EXPECT_EQ(PlaceOfLine(places, line).y, 204 + 64 * line);
    }
    EXPECT_EQ(PlaceOfLine(places, 95).x, 1931);
    EXPECT_EQ(PlaceOfLine(places, 95).y, 204);
}

TEST(PageLayoutTest, CounterText) {
    const struct {
        int page;
        int count;
        const char* text;
    } cases[] = {{1, 1, "01 / 01"},
                 {1, 3, "01 / 03"},
                 {9, 10, "09 / 10"},
                 {100, 120, "100 / 120"},
                 {123, 150, "123 / 150"}};
    for (const auto& c : cases) {
        EXPECT_EQ(FormatPageCounter(c.page, c.count), c.text);
    }
}

} // namespace
