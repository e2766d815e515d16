#include "core/text/Cp932.h"

namespace cp932 {
namespace {
#include "core/text/Cp932Table.inc"

char32_t SingleByte(unsigned char byte) {
    if (byte >= 0x20 && byte < 0x7F) {
        return byte;
    }
    if (byte >= 0xA1 && byte <= 0xDF) {
        return 0xFF61 + (byte - 0xA1); // half-width katakana
    }
    return 0;
}

char32_t DoubleByte(unsigned char lead, unsigned char trail) {
    if (trail < 0x40 || trail > 0xFC || trail == 0x7F) {
        return 0;
    }
    const int row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + (0x9F - 0x81 + 1);
    const int column = trail < 0x7F ? trail - 0x40 : trail - 0x41;
    return kDoubleByteTable[row][column];
}
} // namespace

std::size_t DecodeChar(std::string_view text, std::size_t pos, char32_t& codePoint) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (IsLeadByte(byte) && pos + 1 < text.size()) {
        codePoint = DoubleByte(byte, static_cast<unsigned char>(text[pos + 1]));
        return 2;
    }
    codePoint = IsLeadByte(byte) ? 0 : SingleByte(byte);
    return 1;
}

std::size_t CharStart(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) {
        return pos;
    }
    // After a byte that is not a lead byte a new character begins; from there every lead
    // byte takes the byte after it, so an odd run of lead bytes before pos makes pos the
    // second byte of a pair.
    std::size_t run = 0;
    while (run < pos && IsLeadByte(static_cast<unsigned char>(text[pos - run - 1]))) {
        ++run;
    }
    return run % 2 == 0 ? pos : pos - 1;
}

std::size_t Find(std::string_view haystack, std::string_view needle, std::size_t from) {
    if (needle.empty()) {
        return from <= haystack.size() ? from : std::string_view::npos;
    }
    std::size_t pos = from;
    while (pos < haystack.size()) {
        if (haystack.size() - pos < needle.size()) {
            break;
        }
        if (haystack.compare(pos, needle.size(), needle) == 0) {
            return pos;
        }
        pos += IsLeadByte(static_cast<unsigned char>(haystack[pos])) ? 2 : 1;
    }
    return std::string_view::npos;
}

} // namespace cp932
