#pragma once

#include <string>
#include <string_view>

// Conversions at the edges of KLT, where text leaves for or comes from systems that speak
// UTF-8 (terminals, sysfs, readers of a copy). The history itself stays CP932.
namespace cp932 {

// CP932 text as UTF-8. ASCII bytes, control bytes included, stay as they are; every other
// character CP932 defines becomes its Unicode character; a byte or pair it leaves undefined
// becomes U+FFFD, so nothing is dropped without a trace.
std::string ToUtf8(std::string_view text);

// UTF-8 text as CP932. Characters CP932 lacks and malformed UTF-8 become '?'.
std::string FromUtf8(std::string_view text);

} // namespace cp932
