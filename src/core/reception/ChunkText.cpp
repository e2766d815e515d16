#include "core/reception/ChunkText.h"

#include <algorithm>

std::size_t RemoveZeroBytes(std::uint8_t* data, std::size_t length) {
    return static_cast<std::size_t>(std::remove(data, data + length, std::uint8_t{0}) - data);
}
