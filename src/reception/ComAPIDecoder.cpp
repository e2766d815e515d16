#include "reception/ComAPI.h"

namespace {
constexpr std::uint8_t FS = 0x1C;
constexpr std::uint8_t AMPERSAND = 0x26;
constexpr std::uint8_t CR = 0x0D;
constexpr std::uint8_t LF = 0x0A;
} // namespace

std::uint8_t CComAPI::DecodeByte(std::uint8_t byte, std::uint8_t* out) {
    switch (m_nDecodeMode) {
    case DECODE_TEXT:
        if (byte == CR) {
            out[0] = CR;
            out[1] = LF;
            return 2;
        }
        if (byte == LF || byte >= 0xE0) {
            return 0;
        }
        if (byte == FS) {
            m_nDecodeMode = DECODE_AFTER_FS;
            return 0;
        }
        out[0] = byte;
        return 1;

    case DECODE_AFTER_FS:
        // The byte after an FS only chooses the mode; it is never output.
        m_nDecodeMode = byte == AMPERSAND ? DECODE_KANJI : DECODE_TEXT;
        return 0;

    case DECODE_KANJI: {
        if (byte == FS) {
            // A waiting first byte survives the FS and pairs up when kanji mode returns.
            m_nDecodeMode = DECODE_AFTER_FS;
            return 0;
        }
        if (m_byJisHigh == 0) {
            m_byJisHigh = byte; // a 0x00 stored here reads as "none waiting"
            return 0;
        }
        // JIS X 0208 to Shift-JIS. Bytes outside 0x21-0x7E are not rejected: the same 8-bit
        // arithmetic applies to every value and its result is emitted as it comes out.
        const std::uint8_t high = m_byJisHigh;
        std::uint8_t low = static_cast<std::uint8_t>(byte + ((high & 1) ? 0x1F : 0x7D));
        if (low >= 0x7F) {
            ++low;
        }
        m_byJisLow = low;
        const int rowPair = (static_cast<int>(high) - 0x21) / 2; // truncates toward zero
        std::uint8_t lead = static_cast<std::uint8_t>(rowPair + 0x81);
        if (lead > 0x9F) {
            lead = static_cast<std::uint8_t>(lead + 0x40);
        }
        out[0] = lead;
        out[1] = m_byJisLow;
        m_byJisHigh = 0;
        m_byJisLow = 0;
        return 2;
    }

    default:
        return 0;
    }
}

std::size_t CComAPI::DecodeBytes(const std::uint8_t* in, std::size_t length, std::uint8_t* out) {
    std::size_t written = 0;
    for (std::size_t i = 0; i < length; ++i) {
        written += DecodeByte(in[i], out + written);
    }
    return written;
}

void CComAPI::ResetDecoder() {
    m_nDecodeMode = DECODE_TEXT;
    m_byJisHigh = 0;
    m_byJisLow = 0;
}
