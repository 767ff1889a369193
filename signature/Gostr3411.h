// GOST R 34.11-94 hash with the standard's test parameter set.
//
// Byte conventions: the message is read as a sequence of 256-bit
// little-endian numbers (its first byte is the least significant), and the
// 32-byte digest is written the same way, least significant byte first.
// This is the byte order other GOST tools print ("This is message,
// length=32 bytes" hashes to b1c466d3...).
#pragma once

#include <cstddef>
#include <cstdint>

#include "signature/Gost28147.h"

namespace zsig {

inline constexpr size_t kDigestSize = 32;

/// The test parameter set's S-boxes and their expanded tables, built once.
const Gost28147Tables& HashTables();

class Gostr3411 {
public:
    /// Starts a hash from the 32-byte starting value, or from zero.
    explicit Gostr3411(const uint8_t* startValue = nullptr);

    void Update(const void* data, size_t size);
    /// Pads and closes the hash; the object must not be updated afterwards.
    void Final(uint8_t digest[kDigestSize]);

    /// One-shot helper.
    static void Digest(const void* data, size_t size, uint8_t digest[kDigestSize]);

private:
    void Compress(const uint32_t m[8]);
    void Block(const uint8_t* block);

    const Gost28147Tables& m_tables;
    uint32_t m_h[8];
    uint32_t m_sum[8];
    uint64_t m_length = 0; // bytes
    uint8_t m_buffer[32];
    size_t m_fill = 0;
};

} // namespace zsig
