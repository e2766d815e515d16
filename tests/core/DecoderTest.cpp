#include "core/reception/ComAPI.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t FS = 0x1C;
constexpr std::uint8_t CR = 0x0D;
constexpr std::uint8_t LF = 0x0A;
constexpr int TEXT = CComAPI::DECODE_TEXT;
constexpr int AFTER_FS = CComAPI::DECODE_AFTER_FS;
constexpr int KANJI = CComAPI::DECODE_KANJI;

Bytes Decode(CComAPI& com, const Bytes& in) {
    Bytes out(2 * in.size() + 2);
    out.resize(com.DecodeBytes(in.data(), in.size(), out.data()));
    return out;
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char cell[4];
    for (auto b : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", b);
        text += cell;
    }
    return text;
}

struct DecodeCase {
    const char* what;
    Bytes input; // fed to a fresh decoder
    Bytes output;
    int mode;          // mode afterwards
    std::uint8_t held; // m_byJisHigh afterwards
};

// Each row of the dispatch table, its boundaries, and the conversions that the rest of the
// system depends on. A row reaches its start state through the bytes before the last one.
const DecodeCase DECODE_CASES[] = {
    // text mode
    {"CR becomes CR LF", {CR}, {CR, LF}, TEXT, 0},
    {"LF is dropped", {LF}, {}, TEXT, 0},
    {"FS waits for the next byte", {FS}, {}, AFTER_FS, 0},
    {"0xE0 is dropped", {0xE0}, {}, TEXT, 0},
    {"0xE5 is dropped", {0xE5}, {}, TEXT, 0},
    {"0xFF is dropped", {0xFF}, {}, TEXT, 0},
    {"0x00 passes", {0x00}, {0x00}, TEXT, 0},
    {"0x09 passes", {0x09}, {0x09}, TEXT, 0},
    {"0x0B passes", {0x0B}, {0x0B}, TEXT, 0},
    {"0x0C passes", {0x0C}, {0x0C}, TEXT, 0},
    {"0x0E passes", {0x0E}, {0x0E}, TEXT, 0},
    {"ESC passes", {0x1B}, {0x1B}, TEXT, 0},
    {"GS passes", {0x1D}, {0x1D}, TEXT, 0},
    {"'&' alone passes", {0x26}, {0x26}, TEXT, 0},
    {"0x7F passes", {0x7F}, {0x7F}, TEXT, 0},
    {"0x80 passes", {0x80}, {0x80}, TEXT, 0},
    {"lead byte 0x85 passes alone", {0x85}, {0x85}, TEXT, 0},
    {"0x9F passes", {0x9F}, {0x9F}, TEXT, 0},
    {"half-width katakana passes", {0xB1}, {0xB1}, TEXT, 0},
    {"0xDF passes", {0xDF}, {0xDF}, TEXT, 0},
    {"A B CR LF", {0x41, 0x42, CR, LF}, {0x41, 0x42, CR, LF}, TEXT, 0},
    {"A B LF has no line end", {0x41, 0x42, LF}, {0x41, 0x42}, TEXT, 0},
    {"CR CR", {CR, CR}, {CR, LF, CR, LF}, TEXT, 0},
    {"LF CR", {LF, CR}, {CR, LF}, TEXT, 0},
    {"ESC ! 0x00 passes byte by byte", {0x1B, 0x21, 0x00}, {0x1B, 0x21, 0x00}, TEXT, 0},
    // after FS
    {"FS & enters kanji mode", {FS, 0x26}, {}, KANJI, 0},
    {"FS A is swallowed", {FS, 0x41}, {}, TEXT, 0},
    {"FS A then text", {FS, 0x41, 0x42, 0x43}, {0x42, 0x43}, TEXT, 0},
    {"FS CR is swallowed", {FS, CR}, {}, TEXT, 0},
    {"FS FS is swallowed", {FS, FS}, {}, TEXT, 0},
    {"FS FS & yields &", {FS, FS, 0x26}, {0x26}, TEXT, 0},
    // kanji mode
    {"first byte waits", {FS, 0x26, 0x30}, {}, KANJI, 0x30},
    {"0x00 as first byte is ignored", {FS, 0x26, 0x00, 0x30, 0x21}, {0x88, 0x9F}, KANJI, 0},
    {"FS leaves kanji mode", {FS, 0x26, FS}, {}, AFTER_FS, 0},
    {"FS keeps the waiting byte", {FS, 0x26, 0x30, FS}, {}, AFTER_FS, 0x30},
    {"waiting byte survives FS &", {FS, 0x26, 0x30, FS, 0x26, 0x21}, {0x88, 0x9F}, KANJI, 0},
    {"waiting byte survives FS .", {FS, 0x26, 0x30, FS, 0x2E}, {}, TEXT, 0x30},
    {"FS . leaves kanji mode", {FS, 0x26, 0x30, 0x21, FS, 0x2E, CR}, {0x88, 0x9F, CR, LF}, TEXT, 0},
    {"CR LF in kanji mode pair up", {FS, 0x26, CR, LF}, {0x77, 0x29}, KANJI, 0},
    {"ESC in kanji mode pairs", {FS, 0x26, 0x1B, 0x21}, {0x7E, 0x40}, KANJI, 0},
    // conversions: JIS X 0208 codes
    {"ideographic space", {FS, 0x26, 0x21, 0x21}, {0x81, 0x40}, KANJI, 0},
    {"full-width 0", {FS, 0x26, 0x23, 0x30}, {0x82, 0x4F}, KANJI, 0},
    {"full-width A", {FS, 0x26, 0x23, 0x41}, {0x82, 0x60}, KANJI, 0},
    {"hiragana a", {FS, 0x26, 0x24, 0x22}, {0x82, 0xA0}, KANJI, 0},
    {"first level-1 kanji", {FS, 0x26, 0x30, 0x21}, {0x88, 0x9F}, KANJI, 0},
    {"level-1 kanji", {FS, 0x26, 0x4B, 0x21}, {0x96, 0x40}, KANJI, 0},
    {"level-2 kanji moves up", {FS, 0x26, 0x5F, 0x21}, {0xE0, 0x40}, KANJI, 0},
    {"row 94 cell 94", {FS, 0x26, 0x7E, 0x7E}, {0xEF, 0xFC}, KANJI, 0},
    // conversions: out of range, as the 8-bit arithmetic gives them
    {"0x9F 0x21", {FS, 0x26, 0x9F, 0x21}, {0x00, 0x40}, KANJI, 0},
    {"0x21 0xE1", {FS, 0x26, 0x21, 0xE1}, {0x81, 0x00}, KANJI, 0},
    {"0x20 0x21 (quotient truncates)", {FS, 0x26, 0x20, 0x21}, {0x81, 0x9F}, KANJI, 0},
    {"0x01 0x21 (lowest first byte)", {FS, 0x26, 0x01, 0x21}, {0x71, 0x40}, KANJI, 0},
    {"0xFF 0xFF", {FS, 0x26, 0xFF, 0xFF}, {0x30, 0x1E}, KANJI, 0},
    {"0x22 0x02 (second byte at 0x7F moves up)", {FS, 0x26, 0x22, 0x02}, {0x81, 0x80}, KANJI, 0},
    {"0x21 0xE2 (second byte wraps below 0x7F)", {FS, 0x26, 0x21, 0xE2}, {0x81, 0x01}, KANJI, 0},
    {"0x22 0x82 (0xFF moves up to 0x00)", {FS, 0x26, 0x22, 0x82}, {0x81, 0x00}, KANJI, 0},
};

TEST(Decoder, DispatchRowsAndConversions) {
    for (const auto& c : DECODE_CASES) {
        CComAPI com;
        EXPECT_EQ(Hex(Decode(com, c.input)), Hex(c.output)) << c.what;
        EXPECT_EQ(com.DecodeMode(), c.mode) << c.what;
        EXPECT_EQ(com.JisHigh(), c.held) << c.what;
        EXPECT_EQ(com.JisLow(), 0) << c.what;
    }
}

// Within JIS X 0208 the arithmetic must be the standard mapping; checked here against the
// textbook form of it for all 94 x 94 codes.
TEST(Decoder, EveryJisCodeMapsToItsShiftJisCode) {
    CComAPI com;
    Decode(com, {FS, 0x26});
    for (int high = 0x21; high <= 0x7E; ++high) {
        for (int low = 0x21; low <= 0x7E; ++low) {
            const int lead = ((high + 1) >> 1) + (high <= 0x5E ? 0x70 : 0xB0);
            int trail = low + 0x7E;
            if (high & 1) {
                trail = low + (low >= 0x60 ? 0x20 : 0x1F);
            }
            const Bytes out = Decode(com, {std::uint8_t(high), std::uint8_t(low)});
            ASSERT_EQ(Hex(out), Hex({std::uint8_t(lead), std::uint8_t(trail)}))
                << std::hex << high << " " << low;
        }
    }
}

// DecodeByte writes exactly the count it returns, never a terminator or anything beyond.
TEST(Decoder, WritesNothingBeyondItsCount) {
    const Bytes prefixes[] = {{}, {FS}, {FS, 0x26}, {FS, 0x26, 0x30}};
    for (const auto& prefix : prefixes) {
        for (int byte = 0; byte < 256; ++byte) {
            CComAPI com;
            Decode(com, prefix);
            std::uint8_t out[4];
            std::memset(out, 0xEE, sizeof out);
            const int count = com.DecodeByte(std::uint8_t(byte), out);
            ASSERT_LE(count, 2);
            for (int i = count; i < 4; ++i) {
                ASSERT_EQ(out[i], 0xEE) << "byte " << byte << " after " << prefix.size();
            }
        }
    }
}

TEST(Decoder, ResetStartsTheNextStreamInTextMode) {
    CComAPI com;
    EXPECT_TRUE(Decode(com, {FS, 0x26, 0x30}).empty());
    ASSERT_EQ(com.JisHigh(), 0x30);
    com.ResetDecoder();
    EXPECT_EQ(com.DecodeMode(), TEXT);
    EXPECT_EQ(com.JisHigh(), 0);
    EXPECT_EQ(Hex(Decode(com, {0x21, 0x41, CR})), Hex({0x21, 0x41, CR, LF}));
}

} // namespace
