#include "reception/ComAPI.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Decode(CComAPI& com, const std::vector<std::uint8_t>& in) {
    std::vector<std::uint8_t> out(2 * in.size() + 2);
    out.resize(com.DecodeBytes(in.data(), in.size(), out.data()));
    return out;
}

struct PairCase {
    std::uint8_t high, low, lead, trail;
};

TEST(Decoder, JisPairsConvertByTheEightBitArithmetic) {
    const PairCase cases[] = {
        {0x21, 0x21, 0x81, 0x40}, {0x23, 0x30, 0x82, 0x4F}, {0x23, 0x41, 0x82, 0x60},
        {0x24, 0x22, 0x82, 0xA0}, {0x30, 0x21, 0x88, 0x9F}, {0x4B, 0x21, 0x96, 0x40},
        {0x5F, 0x21, 0xE0, 0x40}, {0x7E, 0x7E, 0xEF, 0xFC}, {0x0D, 0x0A, 0x77, 0x29},
        {0x9F, 0x21, 0x00, 0x40}, {0x21, 0xE1, 0x81, 0x00}, {0x20, 0x21, 0x81, 0x9F},
        {0xFF, 0xFF, 0x30, 0x1E},
    };
    for (const auto& c : cases) {
        CComAPI com;
        const auto out = Decode(com, {0x1C, 0x26, c.high, c.low});
        EXPECT_EQ(out, (std::vector<std::uint8_t>{c.lead, c.trail}))
            << std::hex << int(c.high) << " " << int(c.low);
        EXPECT_EQ(com.JisHigh(), 0);
        EXPECT_EQ(com.JisLow(), 0);
    }
}

} // namespace
