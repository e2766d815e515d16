#pragma once

#include <cstddef>
#include <cstdint>

// A decoded chunk reaches the document without its zero bytes. Printer streams carry 0x00
// parameter bytes all the time (ESC '!' 0x00), so the text after a zero byte in the same
// read is kept, not cut off. Compacts data in place and returns the new length.
std::size_t RemoveZeroBytes(std::uint8_t* data, std::size_t length);
