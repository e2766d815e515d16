// The history view on a display scaled by 2 (this test's environment sets QT_SCALE_FACTOR).

#include "GuiTestSupport.h"

#include "core/document/KLTDoc.h"
#include "gui/print/CellText.h"
#include "gui/view/KLTView.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace {

TEST(ViewOnAScaledDisplay, GlyphsAreDrawnAtFullResolutionInCellsOfEightBySixteenUnits) {
    CKLTDoc doc;
    doc.AppendText("AB \x91\x80\x8D\xEC\x97\x9A\x97\xF0 xyz\r\n 12:34\r\n");
    CKLTView view;
    view.SetDocument(&doc);
    view.resize(300, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    ASSERT_EQ(view.devicePixelRatioF(), 2.0) << "run with QT_SCALE_FACTOR=2";
    view.Invalidate(true);
    Flush();

    // The same lines drawn straight onto an image of the screen's pixels: the font at twice
    // the size, every cell at twice its place.
    const QSize units = view.viewport()->size();
    QImage direct(units * 2, QImage::Format_RGB32);
    direct.setDevicePixelRatio(2.0);
    direct.fill(Qt::white);
    {
        QPainter painter(&direct);
        const CCellTextPainter cells(CreateHistoryFont(16, 8), 8, 16);
        for (std::size_t i = 0; i < doc.GetLineCount(); ++i) {
            cells.Draw(painter, 4, static_cast<int>(16 * i), doc.GetLine(i), true);
        }
    }

    EXPECT_EQ(view.ScreenImage().size(), units * 2);
    EXPECT_EQ(view.ScreenImage(), direct);
    // What reaches the window (a grab goes through the paint) has the same pixels: nothing
    // stretched, so no grey steps that the direct drawing lacks.
    const QImage grabbed = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(grabbed.size(), units * 2);
    EXPECT_EQ(grabbed, direct);
    // The extent is still counted in the window's units.
    EXPECT_EQ(view.GetTotalSize(), (viewgeom::Size{8 * 15 + 4, 32}));
}

} // namespace
