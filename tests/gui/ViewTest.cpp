#include "GuiTestSupport.h"

#include "core/document/KLTDoc.h"
#include "gui/print/CellText.h"
#include "gui/view/KLTView.h"

#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace {

// A view on its own window, shown on the offscreen screen.
class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_view.SetDocument(&m_doc);
        m_view.resize(300, 200);
        m_view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));
        Repaint(true);
    }

    void Append(const std::string& text) { m_doc.AppendText(text); }

    void Repaint(bool erase) {
        m_view.Invalidate(erase);
        Flush();
    }

    // What the screen must show: the document drawn line by line on white, every line at
    // x = 4 and y = 16 i, shifted by the scroll position.
    QImage Expected() const {
        QImage image(m_view.ScreenImage().size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        const CCellTextPainter cells(CreateHistoryFont(16, 8), 8, 16);
        const QPoint origin = m_view.GetScrollPosition();
        for (std::size_t i = 0; i < m_doc.GetLineCount(); ++i) {
            cells.Draw(painter, 4 - origin.x(), static_cast<int>(16 * i) - origin.y(),
                       m_doc.GetLine(i), true);
        }
        return image;
    }

    static bool HasInk(const QImage& image, const QRect& wanted) {
        const QRect area = wanted & image.rect();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (qGray(image.pixel(x, y)) < 128) {
                    return true;
                }
            }
        }
        return false;
    }

    static bool IsWhite(const QImage& image) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if ((image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) {
                    return false;
                }
            }
        }
        return true;
    }

    CKLTDoc m_doc;
    CKLTView m_view;
};

TEST_F(ViewTest, EachByteOfALineTakesItsOwnEightPixelCell) {
    // Line 0: "A", a double-byte character (two cells), "B"; line 1: a blank, then "C".
    Append("A\x82\xA0"
           "B\r\n C\r\n");
    Repaint(true);
    const QImage& screen = m_view.ScreenImage();

    EXPECT_FALSE(HasInk(screen, QRect(0, 0, 4, 32))) << "left margin";
    EXPECT_TRUE(HasInk(screen, QRect(4, 0, 8, 16))) << "A in cell 0";
    EXPECT_TRUE(HasInk(screen, QRect(12, 0, 16, 16))) << "the kana over cells 1 and 2";
    EXPECT_TRUE(HasInk(screen, QRect(28, 0, 8, 16))) << "B in cell 3";
    EXPECT_FALSE(HasInk(screen, QRect(36, 0, 100, 16))) << "nothing after the line";
    EXPECT_FALSE(HasInk(screen, QRect(4, 16, 8, 16))) << "the blank of line 1";
    EXPECT_TRUE(HasInk(screen, QRect(12, 16, 8, 16))) << "C of line 1";
    EXPECT_FALSE(HasInk(screen, QRect(0, 32, 300, 100))) << "below the text";
    EXPECT_EQ(screen, Expected());
}

TEST_F(ViewTest, APartialRepaintAtAnyScrollPositionShowsTheSamePixels) {
    for (int i = 0; i < 200; ++i) {
        Append(std::to_string(i) + " \x97\x9A\x97\xF0 line with some width to scroll across\r\n");
    }
    Repaint(true);
    m_view.ScrollToPosition(13, 16 * 57 + 7); // not on a row or cell boundary
    Flush();
    EXPECT_EQ(m_view.ScreenImage(), Expected());

    // A repaint of a small strip draws only the lines crossing it, onto what is there.
    m_view.viewport()->update(QRect(0, 50, 120, 9));
    Flush();
    EXPECT_EQ(m_view.ScreenImage(), Expected());
}

// A paint converts only the cells it shows; a double-byte character cut by the window's
// edge or by a run of lead bytes still lands on its own cells.
TEST_F(ViewTest, APaintDrawsTheShownCellsOfLongLinesAtTheirPlaces) {
    std::string leads, mixed;
    for (int i = 0; i < 400; ++i) {
        leads += "\x88\x9F"; // two lead bytes: one character
        mixed += i % 3 == 0 ? "A" : "\x82\xA0";
    }
    Append(leads + "\r\n" + "x" + leads + "\r\n" + mixed + "\r\n");
    Repaint(true);
    for (const int x : {0, 5, 8, 13, 16, 3003, 3011, 3016}) {
        SCOPED_TRACE(x);
        m_view.ScrollToPosition(x, 0);
        Flush();
        EXPECT_EQ(m_view.ScreenImage(), Expected());
    }
    const std::uint64_t before = m_view.ConvertedBytes();
    Repaint(true);
    EXPECT_LE(m_view.ConvertedBytes() - before, 3u * (300 / 8 + 3));
}

TEST_F(ViewTest, ClearViewBlanksAtOnceAndANonErasingRepaintKeepsItBlank) {
    Append("ABC\r\nDEF\r\n");
    Repaint(true);
    ASSERT_FALSE(IsWhite(m_view.ScreenImage()));

    // The order a reception starts with: blank, empty the document, repaint without erasing.
    m_view.ClearView();
    EXPECT_TRUE(IsWhite(m_view.ScreenImage())) << "white before any paint";
    m_doc.ClearHistory();
    Repaint(false);
    EXPECT_TRUE(IsWhite(m_view.ScreenImage()));
    EXPECT_EQ(m_view.GetTotalSize(), (viewgeom::Size{4, 0}));
}

TEST_F(ViewTest, OnlyAnErasingRepaintRemovesTextThatIsNoLongerInTheDocument) {
    Append("ABC\r\n");
    Repaint(true);
    const QImage withText = m_view.ScreenImage();
    m_doc.ClearHistory();

    Repaint(false);
    EXPECT_EQ(m_view.ScreenImage(), withText) << "no erase: the old cells stay on screen";

    m_view.OnInitialUpdate();
    Flush();
    EXPECT_TRUE(IsWhite(m_view.ScreenImage()));
}

TEST_F(ViewTest, ScrollSizesFollowTheDocumentAtEachPaint) {
    for (int i = 0; i < 1000; ++i) {
        Append(std::string(40, 'x') + "\r\n");
    }
    EXPECT_EQ(m_view.GetTotalSize(), (viewgeom::Size{4, 0})) << "appending alone does not";
    Repaint(false);
    const viewgeom::ScrollSizes sizes = m_view.GetScrollSizes();
    EXPECT_EQ(sizes.total, (viewgeom::Size{324, 16000}));
    EXPECT_EQ(sizes.page, (viewgeom::Size{32, 1600}));
    EXPECT_EQ(sizes.line, (viewgeom::Size{3, 160}));

    QScrollBar* vertical = m_view.verticalScrollBar();
    EXPECT_EQ(vertical->maximum(), 16000 - m_view.viewport()->height());
    vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(vertical->value(), 1600);
    vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(vertical->value(), 1760);
}

TEST_F(ViewTest, FollowingTheEndScrollsOnlyWhenTheTextIsTallerThanTheWindow) {
    const auto followTheEnd = [this] {
        bool horizontal = false;
        bool vertical = false;
        m_view.CheckScrollBars(horizontal, vertical);
        if (vertical) {
            m_view.ScrollToPosition(0, m_view.GetTotalSize().cy);
        }
        Repaint(false);
    };

    Append(std::string(60, 'w') + "\r\n");
    Repaint(false);
    m_view.horizontalScrollBar()->setValue(50);
    followTheEnd();
    EXPECT_EQ(m_view.GetScrollPosition(), QPoint(50, 0)) << "short text: repaint only";

    for (int i = 0; i < 100; ++i) {
        Append("line\r\n");
    }
    followTheEnd(); // scrolls to the end as of the previous paint
    followTheEnd();
    EXPECT_EQ(m_view.GetScrollPosition(), QPoint(0, 101 * 16 - m_view.viewport()->height()));
    EXPECT_EQ(m_view.ScreenImage(), Expected());
}

TEST_F(ViewTest, ClearViewEmptiesTheVerticalBarButKeepsTheStoredExtent) {
    for (int i = 0; i < 100; ++i) {
        Append("line\r\n");
    }
    Repaint(false);
    m_view.ScrollToPosition(0, 500);
    m_view.ClearView();
    EXPECT_EQ(m_view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(m_view.verticalScrollBar()->value(), 0);
    EXPECT_EQ(m_view.GetTotalSize().cy, 1600);
}

} // namespace
