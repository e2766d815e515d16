#pragma once

#include <cstddef>
#include <string_view>

// Code page 932 (Shift-JIS) helpers shared by the document, the marker search and the
// port list. Text in KLT stays in CP932 bytes; nothing here converts it.
namespace cp932 {

// 0x81-0x9F and 0xE0-0xFC start a double-byte character.
constexpr bool IsLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Finds needle in haystack, stepping through haystack one character at a time: a lead byte
// and the byte after it are skipped together, so a match never starts on a trail byte.
// A lead byte in the last position counts as one character. Returns npos when not found.
std::size_t Find(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// Reads the character at pos for display: returns its byte count (2 for a lead byte with a
// byte after it, else 1) and its Unicode code point, or 0 where there is nothing to draw
// (control bytes, unassigned pairs, a lone lead byte at the end). Each byte is one cell on
// screen and paper, so the byte count is also the character's width in cells.
std::size_t DecodeChar(std::string_view text, std::size_t pos, char32_t& codePoint);

// The first byte of the character that covers byte pos, found without reading the text
// from its start: only the lead bytes right before pos are looked at (a byte that cannot
// lead a pair always ends a character), so the cost follows that run, not pos.
std::size_t CharStart(std::string_view text, std::size_t pos);

inline bool Contains(std::string_view haystack, std::string_view needle) {
    return Find(haystack, needle) != std::string_view::npos;
}

} // namespace cp932
