#include "core/layout/PageLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

int PlaceToDevice(int resolution, double inches, int physicalOffset) {
    // The conversion to int truncates toward zero, also for a place left of the printable area.
    return static_cast<int>(static_cast<double>(resolution) * inches -
                            static_cast<double>(physicalOffset));
}

int PrintPageCount(std::size_t lineCount) {
    if (lineCount == 0) {
        return 1;
    }
    return static_cast<int>(std::ceil(static_cast<double>(lineCount) / LINES_PER_PAGE));
}

int LastPrintablePage(int pageCount) {
    return std::clamp(pageCount, 1, MAX_PRINTABLE_PAGE);
}

PageLineRange PageLines(int page, std::size_t lineCount) {
    const std::int64_t first = (static_cast<std::int64_t>(page) - 1) * LINES_PER_PAGE;
    const std::int64_t end =
        std::min<std::int64_t>(first + LINES_PER_PAGE, static_cast<std::int64_t>(lineCount));
    PageLineRange range;
    range.nFirstLine = static_cast<int>(std::clamp<std::int64_t>(first, 0, INT32_MAX));
    range.nEndLine = static_cast<int>(std::clamp<std::int64_t>(end, 0, INT32_MAX));
    return range;
}

PagePlaces ComputePagePlaces(const PrinterMetrics& m) {
    PagePlaces places;
    places.nTopY = PlaceToDevice(m.nLogPixelsY, page_place::TOP_15MM, m.nPhysicalOffsetY);
    places.nColumnX[0] = PlaceToDevice(m.nLogPixelsX, page_place::COLUMN1_30MM, m.nPhysicalOffsetX);
    places.nColumnX[1] = PlaceToDevice(m.nLogPixelsX, page_place::COLUMN2_86MM, m.nPhysicalOffsetX);
    places.nColumnX[2] =
        PlaceToDevice(m.nLogPixelsX, page_place::COLUMN3_141MM, m.nPhysicalOffsetX);
    places.nFooterY =
        PlaceToDevice(m.nLogPixelsY, page_place::FOOTER_TOP_280MM, m.nPhysicalOffsetY);
    places.nFooterX =
        PlaceToDevice(m.nLogPixelsX, page_place::FOOTER_LEFT_105MM, m.nPhysicalOffsetX);

    // Whole device units per point: 600 dpi gives 8, not 8.33, so rows sit 64/600 inch apart.
    const int unitsPerPointY = m.nLogPixelsY / 72;
    const int unitsPerPointX = m.nLogPixelsX / 72;
    places.nFontHeight = 8 * unitsPerPointY;
    places.nFontWidth = 4 * unitsPerPointX;
    places.nLineStep = 8 * unitsPerPointY;
    return places;
}

DevicePoint PlaceOfLine(const PagePlaces& places, int lineIndex) {
    const int column = (lineIndex / LINES_PER_COLUMN) % COLUMNS_PER_PAGE;
    const int row = lineIndex % LINES_PER_COLUMN;
    return {places.nColumnX[column], places.nTopY + row * places.nLineStep};
}

std::string FormatPageCounter(int page, int pageCount) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d / %02d", page, pageCount);
    return text;
}
