// CRC-32 of the tree stream's check chunks: the reflected table of the
// polynomial 0xEDB88320, initial value 0xFFFFFFFF, no final inversion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zsig {

inline constexpr uint32_t kCrcInitial = 0xFFFFFFFF;

/// Continues `crc` over the bytes.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size);

} // namespace zsig
