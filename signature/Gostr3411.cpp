#include "signature/Gostr3411.h"

#include <cstring>

namespace zsig {
namespace {

// GOST R 34.11-94 test parameter set ("GostR3411_94_TestParamSet").
constexpr SBoxes kTestSBoxes = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

// The constant C3 of the key generation, least significant word first.
constexpr uint32_t kC3[8] = {0xff00ff00, 0xff00ff00, 0x00ff00ff, 0x00ff00ff,
                             0x00ffff00, 0xff0000ff, 0x000000ff, 0xff00ffff};

inline uint32_t Load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void Store32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// A(Y) = (y1 ^ y2) || y4 || y3 || y2 on 64-bit blocks, y1 the least significant.
inline void TransformA(uint32_t y[8]) {
    const uint32_t a0 = y[0] ^ y[2], a1 = y[1] ^ y[3];
    y[0] = y[2];
    y[1] = y[3];
    y[2] = y[4];
    y[3] = y[5];
    y[4] = y[6];
    y[5] = y[7];
    y[6] = a0;
    y[7] = a1;
}

// P: byte i + 4k of the key is byte 8i + k of the input.
inline void TransformP(const uint32_t w[8], uint32_t key[8]) {
    for (int k = 0; k < 8; ++k) {
        const int shift = 8 * (k & 3);
        const int word = k >> 2;
        key[k] = ((w[word] >> shift) & 0xFF) | ((w[word + 2] >> shift) & 0xFF) << 8 |
                 ((w[word + 4] >> shift) & 0xFF) << 16 | ((w[word + 6] >> shift) & 0xFF) << 24;
    }
}

// psi^n on 16-bit words as a running sequence: z[i+16] is the mix of
// z[i], z[i+1], z[i+2], z[i+3], z[i+12] and z[i+15]; psi^n(Y) is z[n..n+15].
inline void Psi(uint16_t* z, int n) {
    for (int i = 0; i < n; ++i)
        z[i + 16] = z[i] ^ z[i + 1] ^ z[i + 2] ^ z[i + 3] ^ z[i + 12] ^ z[i + 15];
}

inline void ToWords16(const uint32_t w[8], uint16_t* z) {
    for (int i = 0; i < 8; ++i) {
        z[2 * i] = uint16_t(w[i]);
        z[2 * i + 1] = uint16_t(w[i] >> 16);
    }
}

void Add256(uint32_t sum[8], const uint32_t m[8]) {
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        carry += uint64_t(sum[i]) + m[i];
        sum[i] = uint32_t(carry);
        carry >>= 32;
    }
}

} // namespace

const Gost28147Tables& HashTables() {
    static const Gost28147Tables tables = [] {
        Gost28147Tables t;
        ExpandSBoxes(kTestSBoxes, t);
        return t;
    }();
    return tables;
}

Gostr3411::Gostr3411(const uint8_t* startValue) : m_tables(HashTables()) {
    for (int i = 0; i < 8; ++i) {
        m_h[i] = startValue ? Load32(startValue + 4 * i) : 0;
        m_sum[i] = 0;
    }
}

// H = f(H, M): key generation, encryption of the four 64-bit parts of H,
// and the mixing transform psi^61(H ^ psi(M ^ psi^12(S))).
void Gostr3411::Compress(const uint32_t m[8]) {
    uint32_t u[8], v[8], w[8], key[4][8], s[8];
    for (int i = 0; i < 8; ++i) {
        u[i] = m_h[i];
        v[i] = m[i];
        s[i] = m_h[i];
    }
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            TransformA(u);
            if (part == 2) {
                for (int i = 0; i < 8; ++i)
                    u[i] ^= kC3[i];
            }
            TransformA(v);
            TransformA(v);
        }
        for (int i = 0; i < 8; ++i)
            w[i] = u[i] ^ v[i];
        TransformP(w, key[part]);
    }
    // The four encryptions are independent: interleaved, they overlap.
    GostEncrypt4(m_tables, key, s);

    uint16_t z[16 + 61];
    ToWords16(s, z);
    Psi(z, 12);
    uint16_t mw[16], hw[16];
    ToWords16(m, mw);
    ToWords16(m_h, hw);
    for (int i = 0; i < 16; ++i)
        z[i] = z[i + 12] ^ mw[i];
    Psi(z, 1);
    for (int i = 0; i < 16; ++i)
        z[i] = z[i + 1] ^ hw[i];
    Psi(z, 61);
    for (int i = 0; i < 8; ++i)
        m_h[i] = uint32_t(z[61 + 2 * i]) | uint32_t(z[61 + 2 * i + 1]) << 16;
}

void Gostr3411::Block(const uint8_t* block) {
    uint32_t m[8];
    for (int i = 0; i < 8; ++i)
        m[i] = Load32(block + 4 * i);
    Compress(m);
    Add256(m_sum, m);
}

// A full block stays buffered until more data arrives, because the last
// block of the message (full or not) is processed by Final.
void Gostr3411::Update(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    m_length += size;
    if (m_fill == 32 && size > 0) {
        Block(m_buffer);
        m_fill = 0;
    }
    if (m_fill > 0) {
        const size_t take = size < 32 - m_fill ? size : 32 - m_fill;
        std::memcpy(m_buffer + m_fill, p, take);
        m_fill += take;
        p += take;
        size -= take;
        if (size == 0)
            return;
        Block(m_buffer);
        m_fill = 0;
    }
    while (size > 32) {
        Block(p);
        p += 32;
        size -= 32;
    }
    std::memcpy(m_buffer, p, size);
    m_fill = size;
}

void Gostr3411::Final(uint8_t digest[kDigestSize]) {
    // The last block, zero-padded. An empty message has no block at all, so
    // its digest is the standard's (ce85b99c...), the one other tools give.
    if (m_fill > 0) {
        std::memset(m_buffer + m_fill, 0, 32 - m_fill);
        Block(m_buffer);
    }
    const uint64_t bits = m_length * 8;
    uint32_t len[8] = {uint32_t(bits), uint32_t(bits >> 32), 0, 0, 0, 0, 0, 0};
    Compress(len);
    Compress(m_sum);
    for (int i = 0; i < 8; ++i)
        Store32(digest + 4 * i, m_h[i]);
}

void Gostr3411::Digest(const void* data, size_t size, uint8_t digest[kDigestSize]) {
    Gostr3411 h;
    h.Update(data, size);
    h.Final(digest);
}

} // namespace zsig
