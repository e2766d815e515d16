#pragma once

#include <cstddef>
#include <string>

// Printed pages: three columns of 95 history lines, 285 lines to a page, at fixed places on
// the sheet given in millimetres, with a page counter at the foot of every page. Everything
// here is a pure function of the printer's metrics, the line count and the page number, so
// the layout is the same on paper, in the preview and in a PDF.

constexpr int LINES_PER_COLUMN = 95;
constexpr int COLUMNS_PER_PAGE = 3;
constexpr int LINES_PER_PAGE = LINES_PER_COLUMN * COLUMNS_PER_PAGE;

// The print loop keeps the last page in 16 bits: longer histories print their first 65535
// pages (each with its true counter, "65535 / 70000") rather than stopping early.
constexpr int MAX_PRINTABLE_PAGE = 65535;

// What the layout needs from the printer, per axis: resolution in dots per inch, and the
// distance of the printable area from the paper's top left corner in device units. Device
// coordinates have their origin at the printable area's top left corner.
struct PrinterMetrics {
    int nLogPixelsX = 0;
    int nLogPixelsY = 0;
    int nPhysicalOffsetX = 0;
    int nPhysicalOffsetY = 0;
};

// Places of one page in device units, and the print font's cell size.
struct PagePlaces {
    int nTopY = 0;                              // top of the first row of every column
    int nColumnX[COLUMNS_PER_PAGE] = {0, 0, 0}; // left edge of each column
    int nFooterY = 0;                           // top of the page counter
    int nFooterX = 0;                           // left edge of the page counter
    int nFontHeight = 0;                        // 8 points, in whole device units per point
    int nFontWidth = 0;                         // half-width cell: 4 points
    int nLineStep = 0;                          // distance between the tops of two rows
};

// Millimetres from the paper's edge, each divided by 25.4 once so that every printer gets
// the same double values.
namespace page_place {
constexpr double TOP_15MM = 0.5905511811023623;
constexpr double COLUMN1_30MM = 1.1811023622047245;
constexpr double COLUMN2_86MM = 3.3858267716535435;
constexpr double COLUMN3_141MM = 5.551181102362205;
constexpr double FOOTER_TOP_280MM = 11.023622047244094;
constexpr double FOOTER_LEFT_105MM = 4.133858267716536;
} // namespace page_place

// A place in inches from the paper's edge, as a device coordinate of the printable area:
// resolution × inches − offset, truncated toward zero.
int PlaceToDevice(int resolution, double inches, int physicalOffset);

// 1 for an empty history, else ceil(lineCount / 285).
int PrintPageCount(std::size_t lineCount);

// The last page the print loop can reach for a page count.
int LastPrintablePage(int pageCount);

// Lines [nFirstLine, nEndLine) of page nPage (from 1) of a history of lineCount lines. A page
// past the history's end gets an empty range and prints only its counter.
struct PageLineRange {
    int nFirstLine = 0;
    int nEndLine = 0;
};
PageLineRange PageLines(int page, std::size_t lineCount);

PagePlaces ComputePagePlaces(const PrinterMetrics& metrics);

// Top left corner of line lineIndex's first cell. Pages begin at multiples of 285, so a
// page's lines fill column 1 from top to bottom, then column 2, then column 3.
struct DevicePoint {
    int x = 0;
    int y = 0;
};
DevicePoint PlaceOfLine(const PagePlaces& places, int lineIndex);

// "01 / 03"; widens past two digits ("100 / 120") without cutting anything.
std::string FormatPageCounter(int page, int pageCount);
