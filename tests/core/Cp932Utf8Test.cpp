#include "core/text/Cp932Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ConversionCase {
    const char* what;
    std::string cp932, utf8;
};

// Both directions agree wherever CP932 defines the character.
TEST(Cp932Utf8, CharactersConvertBothWays) {
    const ConversionCase cases[] = {
        {"ASCII and CR LF stay", "AB 12\r\n", "AB 12\r\n"},
        {"control bytes stay", "\x1b\x07\t", "\x1b\x07\t"},
        {"kanji", "\x91\x80\x8d\xec", "操作"},
        {"full-width digit", "\x82\x50", "１"},
        {"half-width katakana", "\xb1\xdd", "ｱﾝ"},
        {"CP932 0x5C is the backslash", "\\", "\\"},
    };
    for (const ConversionCase& c : cases) {
        EXPECT_EQ(cp932::ToUtf8(c.cp932), c.utf8) << c.what;
        EXPECT_EQ(cp932::FromUtf8(c.utf8), c.cp932) << c.what;
    }
}

// Nothing vanishes: an undefined byte is shown as U+FFFD, a character CP932 lacks as '?'.
TEST(Cp932Utf8, WhatCannotBeConvertedIsMarked) {
    const ConversionCase toUtf8[] = {
        {"undefined single byte",
         "A\x80"
         "B",
         "A\xEF\xBF\xBD"
         "B"},
        {"lone lead byte at the end", "A\x82", "A\xEF\xBF\xBD"},
        {"lead byte with an invalid trail", "\x82\x20", "\xEF\xBF\xBD"},
    };
    for (const ConversionCase& c : toUtf8) {
        EXPECT_EQ(cp932::ToUtf8(c.cp932), c.utf8) << c.what;
    }
    const ConversionCase fromUtf8[] = {
        {"character outside CP932", "?", "€"},
        {"cut sequence, a mark per byte", "A??", "A\xE6\x93"},
        {"stray continuation byte", "?A",
         "\x80"
         "A"},
        {"overlong encoding", "??", "\xC0\xAF"},
    };
    for (const ConversionCase& c : fromUtf8) {
        EXPECT_EQ(cp932::FromUtf8(c.utf8), c.cp932) << c.what;
    }
}

} // namespace
