#include "core/text/Cp932Utf8.h"

#include "core/text/Cp932.h"

#include <unordered_map>

namespace cp932 {
namespace {

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Reads one UTF-8 character at pos; returns its length, or 0 when the bytes there are no
// well-formed character (codePoint is then unset).
std::size_t ReadUtf8(std::string_view text, std::size_t pos, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (pos + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    codePoint = value;
    return length;
}

// Unicode to CP932, built once from the decoding table so both directions agree; where
// CP932 has two codes for one character, the first wins.
const std::unordered_map<char32_t, std::string>& EncodingTable() {
    static const std::unordered_map<char32_t, std::string> table = [] {
        std::unordered_map<char32_t, std::string> map;
        std::string bytes(2, '\0');
        for (int lead = 0x80; lead < 0x100; ++lead) {
            bytes[0] = static_cast<char>(lead);
            char32_t codePoint = 0;
            if (!IsLeadByte(static_cast<unsigned char>(lead))) {
                if (DecodeChar(std::string_view(bytes.data(), 1), 0, codePoint) == 1 &&
                    codePoint != 0) {
                    map.emplace(codePoint, std::string(1, static_cast<char>(lead)));
                }
                continue;
            }
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                bytes[1] = static_cast<char>(trail);
                DecodeChar(bytes, 0, codePoint);
                if (codePoint != 0) {
                    map.emplace(codePoint, bytes);
                }
            }
        }
        return map;
    }();
    return table;
}

} // namespace

std::string ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
            ++pos;
            continue;
        }
        char32_t codePoint = 0;
        pos += DecodeChar(text, pos, codePoint);
        AppendUtf8(out, codePoint != 0 ? codePoint : U'\uFFFD');
    }
    return out;
}

std::string FromUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t codePoint = 0;
        const std::size_t length = ReadUtf8(text, pos, codePoint);
        if (length == 0) {
            out.push_back('?');
            ++pos;
            continue;
        }
        pos += length;
        if (codePoint < 0x80) {
            out.push_back(static_cast<char>(codePoint));
            continue;
        }
        const auto& table = EncodingTable();
        const auto found = table.find(codePoint);
        out += found != table.end() ? found->second : std::string("?");
    }
    return out;
}

} // namespace cp932
