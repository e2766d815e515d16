#include "core/document/KLTDoc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines LinesOf(const CKLTDoc& doc) {
    Lines lines;
    for (std::size_t i = 0; i < doc.GetLineCount(); ++i) {
        lines.emplace_back(doc.GetLine(i));
    }
    return lines;
}

struct AppendCase {
    const char* what;
    std::vector<std::string> chunks; // one AppendText call each
    Lines lines;
    std::string pending;
    int maxLength;
};

const AppendCase APPEND_CASES[] = {
    {"tail stays pending", {"AB\r\nXY"}, {"AB"}, "XY", 2},
    {"next chunk completes the tail", {"AB\r\nXY", "Z\r\n"}, {"AB", "XYZ"}, "", 3},
    {"CR LF alone is an empty line", {"\r\n"}, {""}, "", 0},
    {"empty line between lines", {"A\r\n\r\nB\r\n"}, {"A", "", "B"}, "", 1},
    {"CR and LF in different chunks", {"AB\r", "\nX"}, {"AB"}, "X", 2},
    {"CR, empty chunk, LF", {"AB\r", "", "\nX"}, {"AB"}, "X", 2},
    {"CR without LF stays in the line", {"A\r", "\r\n"}, {"A\r"}, "", 2},
    {"lone LF stays in the line", {"A\nB\r\n"}, {"A\nB"}, "", 3},
    {"lone lead byte swallows the CR", {"\x81\r\nB\r\n"}, {"\x81\r\nB"}, "", 4},
    {"lone lead byte at a chunk end", {"\x81", "\r\nB\r\n"}, {"\x81\r\nB"}, "", 4},
    {"lone lead byte, CR at a chunk end", {"\x81\r", "\nB\r\n"}, {"\x81\r\nB"}, "", 4},
    {"lone lead byte 0xFC", {"\xFC\r\n\r\n"}, {"\xFC\r\n"}, "", 3},
    {"lone lead byte before CR CR LF", {"\x81\r\r\n"}, {"\x81\r"}, "", 2},
    {"lead byte and its trail in two chunks", {"A\x82", "\x61\r\n"}, {"A\x82\x61"}, "", 3},
    {"pair ending in a CR-like trail", {"\x82\r", "\r\n"}, {"\x82\r"}, "", 2},
    {"half-width katakana are single bytes", {"\xB1\xB2\r\n"}, {"\xB1\xB2"}, "", 2},
    {"five double-byte characters are 10 bytes",
     {"\x91\x80\x8D\xEC\x97\x9A\x97\xF0\x82\x50\r\n"},
     {"\x91\x80\x8D\xEC\x97\x9A\x97\xF0\x82\x50"},
     "",
     10},
    {"text after the last line end is never a line", {"A\r\nEND"}, {"A"}, "END", 1},
    {"many lines in one chunk", {"1\r\n22\r\n333\r\n4"}, {"1", "22", "333"}, "4", 3},
    {"a line built from many chunks", {"A", "B", "C", "\r", "\n"}, {"ABC"}, "", 3},
};

TEST(Document, AppendTextSplitsLinesByShiftJisCharacters) {
    for (const auto& c : APPEND_CASES) {
        CKLTDoc doc;
        for (const auto& chunk : c.chunks) {
            doc.AppendText(std::string_view(chunk));
        }
        EXPECT_EQ(LinesOf(doc), c.lines) << c.what;
        EXPECT_EQ(doc.m_strPending, c.pending) << c.what;
        EXPECT_EQ(doc.m_nMaxLength, c.maxLength) << c.what;
        EXPECT_TRUE(doc.IsModified()) << c.what;
    }
}

TEST(Document, EmptyTextStillMarksModified) {
    for (const char* text : {"", static_cast<const char*>(nullptr)}) {
        CKLTDoc doc;
        ASSERT_FALSE(doc.IsModified());
        doc.AppendText(text);
        EXPECT_TRUE(doc.IsModified());
        EXPECT_EQ(doc.GetLineCount(), 0u);
        EXPECT_EQ(doc.m_strPending, "");
    }
}

TEST(Document, MaxLengthIsOnlyRaisedUntilCleared) {
    CKLTDoc doc;
    doc.AppendText("0123456789\r\n");
    doc.AppendText("abc\r\n\r\n");
    EXPECT_EQ(doc.m_nMaxLength, 10);
    doc.AppendText("0123456789AB\r\nx\r\n");
    EXPECT_EQ(doc.m_nMaxLength, 12);

    doc.ClearHistory();
    EXPECT_EQ(doc.m_nMaxLength, 0);
    EXPECT_EQ(doc.GetLineCount(), 0u);
    doc.AppendText("xy\r\n");
    EXPECT_EQ(doc.m_nMaxLength, 2);
}

TEST(Document, ClearHistoryDropsPendingTextButKeepsTheName) {
    CKLTDoc doc;
    EXPECT_EQ(doc.GetTitle(), "無題");
    EXPECT_EQ(doc.GetPathName(), "");
    doc.SetPathName("/data/history/2024-05-13.txt");
    doc.AppendText("A\r\nhalf a line");
    doc.ClearHistory();
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.m_strPending, "");
    EXPECT_EQ(doc.GetPathName(), "/data/history/2024-05-13.txt");
    EXPECT_EQ(doc.GetTitle(), "2024-05-13.txt");

    // The old tail must not join the next reception's first line.
    doc.AppendText("B\r\n");
    EXPECT_EQ(LinesOf(doc), Lines{"B"});

    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.GetTitle(), "無題");
    EXPECT_EQ(doc.GetPathName(), "");
    EXPECT_EQ(doc.GetLineCount(), 0u);
}

} // namespace
