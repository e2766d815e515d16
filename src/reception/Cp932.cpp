#include "reception/Cp932.h"

namespace cp932 {

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
