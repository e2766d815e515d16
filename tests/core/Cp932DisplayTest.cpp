#include "core/text/Cp932.h"

#include <gtest/gtest.h>

#include <string>

TEST(Cp932Display, EachCharacterTakesOneCellPerByte) {
    struct Case {
        std::string bytes;
        std::size_t width;
        char32_t codePoint;
    };
    const Case cases[] = {
        {"A", 1, U'A'},
        {"\xB1", 1, U'\uFF71'},         // half-width katakana
        {"\x88\x9F", 2, U'\u4E9C'},     // level-1 kanji
        {"\x82\x4F", 2, U'\uFF10'},     // full-width digit zero
        {"\x81\x40", 2, U'\u3000'},     // ideographic space
        {"\xE0\x40", 2, U'\u6F3E'},     // level-2 kanji
        {"\x1B", 1, 0},                 // ESC: nothing to draw
        {"\x88", 1, 0},                 // lone lead byte at the end
        {std::string("\x88\x0D"), 2, 0} // a lead byte swallows the next byte, as in the document
    };
    for (const auto& c : cases) {
        char32_t codePoint = 0xFFFF;
        EXPECT_EQ(cp932::DecodeChar(c.bytes, 0, codePoint), c.width) << c.bytes;
        EXPECT_EQ(codePoint, c.codePoint) << c.bytes;
    }
}
