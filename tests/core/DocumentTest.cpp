#include "document/KLTDoc.h"

#include <gtest/gtest.h>

TEST(Document, AppendSplitsLinesAndKeepsTheTail) {
    CKLTDoc doc;
    doc.AppendText("AB\r\nXY");
    ASSERT_EQ(doc.GetLineCount(), 1u);
    EXPECT_EQ(doc.GetLine(0), "AB");
    doc.AppendText("Z\r\n");
    ASSERT_EQ(doc.GetLineCount(), 2u);
    EXPECT_EQ(doc.GetLine(1), "XYZ");
    EXPECT_TRUE(doc.IsModified());
}
