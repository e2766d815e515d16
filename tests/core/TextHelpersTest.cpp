#include "core/reception/ChunkText.h"
#include "core/text/Cp932.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
constexpr auto NPOS = std::string_view::npos;

TEST(Cp932, LeadBytesAreTheDoubleByteRanges) {
    for (int byte = 0; byte < 256; ++byte) {
        const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        EXPECT_EQ(cp932::IsLeadByte(static_cast<unsigned char>(byte)), lead) << byte;
    }
}

struct FindCase {
    const char* what;
    std::string haystack, needle;
    std::size_t from, found;
};

TEST(Cp932, FindNeverMatchesOnATrailByte) {
    const FindCase cases[] = {
        {"CR LF in ASCII", "AB\r\nC", "\r\n", 0, 2},
        {"lone lead byte swallows the CR", "\x81\r\nA\r\n", "\r\n", 0, 4},
        {"lone lead byte 0xFC swallows the CR", "\xFC\r\n", "\r\n", 0, NPOS},
        {"0xFD is no lead byte", "\xFD\r\n", "\r\n", 0, 1},
        {"0xA0 is no lead byte", "\xA0\r\n", "\r\n", 0, 1},
        {"half-width katakana is single", "\xB1\xB2\r\n", "\r\n", 0, 2},
        {"trail byte equal to the needle", "\x82\x61", "\x61", 0, NPOS},
        {"same byte after the pair", "\x82\x61\x61", "\x61", 0, 2},
        {"marker after a lead byte", "\x82*****", "****", 0, 2},
        {"marker half inside a character", "\x82****", "****", 0, NPOS},
        {"double-byte needle", "A\x82\x60\x82\x61", "\x82\x61", 0, 3},
        {"double-byte needle out of step", "\x88\x82\x61", "\x82\x61", 0, NPOS},
        {"lead byte in the last place", "AB\x81", "\x81", 0, 2},
        {"search from a later character",
         "a\x82\x61"
         "a",
         "a", 1, 3},
        {"needle longer than the text", "AB", "ABC", 0, NPOS},
        {"empty needle", "AB", "", 1, 1},
        {"from past the end", "AB", "A", 3, NPOS},
        {"empty text", "", "\r\n", 0, NPOS},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cp932::Find(c.haystack, c.needle, c.from), c.found) << c.what;
    }
    EXPECT_TRUE(cp932::Contains("x****y", "****"));
    EXPECT_FALSE(cp932::Contains("\x82***", "***"));
}

// The start found by looking back only at the lead bytes before a position is the one found
// by reading the text from its start, whatever the bytes.
TEST(Cp932, CharStartAgreesWithReadingFromTheStart) {
    std::uint32_t seed = 7;
    const unsigned char alphabet[] = {'A', ' ', 0x82, 0xA0, 0x88, 0x9F, 0xE0, 0xFC, 0x40, 0x0D};
    for (int round = 0; round < 200; ++round) {
        std::string text;
        for (int i = 0; i < 40; ++i) {
            seed = seed * 1103515245 + 12345;
            text += static_cast<char>(alphabet[(seed >> 16) % std::size(alphabet)]);
        }
        for (std::size_t pos = 0; pos < text.size();) {
            char32_t ignored = 0;
            const std::size_t width = cp932::DecodeChar(text, pos, ignored);
            for (std::size_t inside = pos; inside < pos + width; ++inside) {
                ASSERT_EQ(cp932::CharStart(text, inside), pos) << round << " at " << inside;
            }
            pos += width;
        }
    }
    EXPECT_EQ(cp932::CharStart("\x82\xA0", 5), 5u) << "past the end";
}

TEST(ChunkText, ZeroBytesAreRemovedNotCutAt) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"ABC", "ABC"},
        {"\0"s, ""},
        {"A\0B"s, "AB"},
        {"\x1b!\0TEXT\r\n"s, "\x1b!TEXT\r\n"},
        {"\0\0A\0\0"s, "A"},
        {"\x82\0\x61"s, "\x82\x61"},
    };
    for (const auto& [input, expected] : cases) {
        std::string chunk = input;
        const std::size_t length =
            RemoveZeroBytes(reinterpret_cast<std::uint8_t*>(chunk.data()), chunk.size());
        EXPECT_EQ(chunk.substr(0, length), expected);
    }
}

} // namespace
