#include "core/reception/ComAPI.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t FS = 0x1C;
constexpr std::uint8_t AMPERSAND = 0x26;
constexpr std::uint8_t CR = 0x0D;
constexpr std::uint8_t LF = 0x0A;

// JIS X 0208 to Shift-JIS. Bytes outside 0x21-0x7E are not rejected: the same 8-bit
// arithmetic applies to every value and its result is emitted as it comes out.
constexpr std::uint8_t ShiftJisTrail(std::uint8_t high, std::uint8_t low) {
    auto trail = static_cast<std::uint8_t>(low + ((high & 1) ? 0x1F : 0x7D));
    if (trail >= 0x7F) {
        ++trail;
    }
    return trail;
}

constexpr std::uint8_t ShiftJisLead(std::uint8_t high) {
    const int rowPair = (static_cast<int>(high) - 0x21) / 2; // truncates toward zero
    auto lead = static_cast<std::uint8_t>(rowPair + 0x81);
    if (lead > 0x9F) {
        lead = static_cast<std::uint8_t>(lead + 0x40);
    }
    return lead;
}

// Bytes that text mode copies unchanged: everything but CR, LF, FS and 0xE0-0xFF.
constexpr bool PassesInText(std::uint8_t byte) {
    return byte != CR && byte != LF && byte != FS && byte < 0xE0;
}

// How far text mode advances the output for each byte but FS: LF and 0xE0-0xFF are
// dropped, CR becomes CR LF, the rest is copied.
struct TextAdvance {
    std::uint8_t step[256]{};
};

constexpr TextAdvance MakeTextAdvance() {
    TextAdvance advance;
    for (int byte = 0; byte < 256; ++byte) {
        const auto b = static_cast<std::uint8_t>(byte);
        advance.step[byte] = b == CR ? 2 : PassesInText(b) ? 1 : 0;
    }
    return advance;
}

constexpr TextAdvance TEXT_ADVANCE = MakeTextAdvance();

// The same conversion as tables, for the bulk path of DecodeBytes.
struct ConversionTables {
    std::uint8_t lead[256]{};
    std::uint8_t trail[2][256]{};
};

constexpr ConversionTables MakeConversionTables() {
    ConversionTables tables;
    for (int byte = 0; byte < 256; ++byte) {
        tables.lead[byte] = ShiftJisLead(static_cast<std::uint8_t>(byte));
        tables.trail[0][byte] = ShiftJisTrail(2, static_cast<std::uint8_t>(byte));
        tables.trail[1][byte] = ShiftJisTrail(1, static_cast<std::uint8_t>(byte));
    }
    return tables;
}

constexpr ConversionTables CONVERSION = MakeConversionTables();

constexpr std::uint64_t EveryByte(std::uint8_t byte) {
    return 0x0101010101010101ull * byte;
}

// Non-zero when one of the eight bytes of word is zero.
constexpr std::uint64_t ZeroByteIn(std::uint64_t word) {
    return (word - EveryByte(0x01)) & ~word & EveryByte(0x80);
}

// Whether any of eight bytes needs more than copying in text mode.
constexpr bool NeedsDecoding(std::uint64_t word) {
    return (ZeroByteIn(word ^ EveryByte(CR)) | ZeroByteIn(word ^ EveryByte(LF)) |
            ZeroByteIn(word ^ EveryByte(FS)) |
            ZeroByteIn((word & EveryByte(0xE0)) ^ EveryByte(0xE0))) != 0;
}

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

    case DECODE_KANJI:
        if (byte == FS) {
            // A waiting first byte survives the FS and pairs up when kanji mode returns.
            m_nDecodeMode = DECODE_AFTER_FS;
            return 0;
        }
        if (m_byJisHigh == 0) {
            m_byJisHigh = byte; // a 0x00 stored here reads as "none waiting"
            return 0;
        }
        m_byJisLow = ShiftJisTrail(m_byJisHigh, byte);
        out[0] = ShiftJisLead(m_byJisHigh);
        out[1] = m_byJisLow;
        m_byJisHigh = 0;
        m_byJisLow = 0;
        return 2;

    default:
        return 0;
    }
}

// Gives exactly the output and the state of DecodeByte called for every byte in turn, but
// copies runs of text and converts runs of JIS pairs in bulk, taking FS and the byte after
// it together when both are at hand. Uses the 2 * length bytes of out as scratch room.
std::size_t CComAPI::DecodeBytes(const std::uint8_t* in, std::size_t length, std::uint8_t* out) {
    std::size_t read = 0;
    std::size_t written = 0;
    while (read < length) {
        if (m_nDecodeMode == DECODE_TEXT) {
            // Eight bytes at a time: a word of plain text is copied whole; any other word is
            // done byte by byte without a branch per byte (each byte is written with an LF
            // behind it, and the output advances past none, the byte, or both), up to an FS.
            while (read < length) {
                std::uint64_t word;
                if (read + 8 <= length) {
                    std::memcpy(&word, in + read, 8);
                    if (!NeedsDecoding(word)) {
                        std::memcpy(out + written, &word, 8);
                        read += 8;
                        written += 8;
                        continue;
                    }
                }
                const std::size_t stop = std::min(read + 8, length);
                while (read < stop && in[read] != FS) {
                    out[written] = in[read];
                    out[written + 1] = LF;
                    written += TEXT_ADVANCE.step[in[read]];
                    ++read;
                }
                if (read < stop) {
                    break; // at an FS
                }
            }
            if (read + 1 < length) {
                m_nDecodeMode = in[read + 1] == AMPERSAND ? DECODE_KANJI : DECODE_TEXT;
                read += 2;
                continue;
            }
        } else if (m_nDecodeMode == DECODE_KANJI && m_byJisHigh == 0) {
            while (read + 1 < length) {
                const std::uint8_t high = in[read];
                const std::uint8_t low = in[read + 1];
                if (high == FS) {
                    m_nDecodeMode = low == AMPERSAND ? DECODE_KANJI : DECODE_TEXT;
                    read += 2;
                    if (m_nDecodeMode == DECODE_TEXT) {
                        break;
                    }
                    continue;
                }
                if (high == 0 || low == FS) {
                    break;
                }
                out[written] = CONVERSION.lead[high];
                out[written + 1] = CONVERSION.trail[high & 1][low];
                read += 2;
                written += 2;
            }
            if (m_nDecodeMode == DECODE_TEXT) {
                continue;
            }
        }
        if (read < length) {
            written += DecodeByte(in[read++], out + written);
        }
    }
    return written;
}

void CComAPI::ResetDecoder() {
    m_nDecodeMode = DECODE_TEXT;
    m_byJisHigh = 0;
    m_byJisLow = 0;
}
