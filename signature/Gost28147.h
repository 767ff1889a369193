// GOST 28147-89 block cipher core: the eight 4-bit substitution boxes are
// expanded once into four 256-entry tables that already include the
// 11-bit rotation, so one round costs four table look-ups.
#pragma once

#include <cstdint>

namespace zsig {

/// Eight S-boxes of 16 nibbles; box 0 substitutes the lowest nibble.
using SBoxes = uint8_t[8][16];

struct Gost28147Tables {
    uint32_t t[4][256];
};

/// Builds the four expanded tables from the eight S-boxes.
void ExpandSBoxes(const SBoxes& sbox, Gost28147Tables& out);

inline uint32_t GostRound(const Gost28147Tables& t, uint32_t x) {
    return t.t[0][x & 0xFF] ^ t.t[1][(x >> 8) & 0xFF] ^ t.t[2][(x >> 16) & 0xFF] ^ t.t[3][x >> 24];
}

/// Encrypts one 64-bit block (n1 the low half, n2 the high half) in simple
/// substitution mode with the 256-bit key k[0..7]; 32 rounds.
inline void GostEncrypt(const Gost28147Tables& t, const uint32_t k[8], uint32_t& lo, uint32_t& hi) {
    uint32_t n1 = lo, n2 = hi;
    for (int r = 0; r < 3; ++r) {
        n2 ^= GostRound(t, n1 + k[0]);
        n1 ^= GostRound(t, n2 + k[1]);
        n2 ^= GostRound(t, n1 + k[2]);
        n1 ^= GostRound(t, n2 + k[3]);
        n2 ^= GostRound(t, n1 + k[4]);
        n1 ^= GostRound(t, n2 + k[5]);
        n2 ^= GostRound(t, n1 + k[6]);
        n1 ^= GostRound(t, n2 + k[7]);
    }
    n2 ^= GostRound(t, n1 + k[7]);
    n1 ^= GostRound(t, n2 + k[6]);
    n2 ^= GostRound(t, n1 + k[5]);
    n1 ^= GostRound(t, n2 + k[4]);
    n2 ^= GostRound(t, n1 + k[3]);
    n1 ^= GostRound(t, n2 + k[2]);
    n2 ^= GostRound(t, n1 + k[1]);
    n1 ^= GostRound(t, n2 + k[0]);
    lo = n2;
    hi = n1;
}

/// Four independent encryptions at once: block i (b[2i] low, b[2i+1]
/// high) with key k[i]. Same results as four GostEncrypt calls, but the
/// rounds of the four blocks overlap in the processor.
inline void GostEncrypt4(const Gost28147Tables& t, const uint32_t k[4][8], uint32_t b[8]) {
    uint32_t a1 = b[0], a2 = b[1], b1 = b[2], b2 = b[3], c1 = b[4], c2 = b[5], d1 = b[6], d2 = b[7];
#define ZSIG_ROUND4(i, j)                                                                          \
    a2 ^= GostRound(t, a1 + k[0][i]);                                                              \
    b2 ^= GostRound(t, b1 + k[1][i]);                                                              \
    c2 ^= GostRound(t, c1 + k[2][i]);                                                              \
    d2 ^= GostRound(t, d1 + k[3][i]);                                                              \
    a1 ^= GostRound(t, a2 + k[0][j]);                                                              \
    b1 ^= GostRound(t, b2 + k[1][j]);                                                              \
    c1 ^= GostRound(t, c2 + k[2][j]);                                                              \
    d1 ^= GostRound(t, d2 + k[3][j]);
    for (int r = 0; r < 3; ++r) {
        ZSIG_ROUND4(0, 1)
        ZSIG_ROUND4(2, 3)
        ZSIG_ROUND4(4, 5)
        ZSIG_ROUND4(6, 7)
    }
    ZSIG_ROUND4(7, 6)
    ZSIG_ROUND4(5, 4)
    ZSIG_ROUND4(3, 2)
    ZSIG_ROUND4(1, 0)
#undef ZSIG_ROUND4
    b[0] = a2;
    b[1] = a1;
    b[2] = b2;
    b[3] = b1;
    b[4] = c2;
    b[5] = c1;
    b[6] = d2;
    b[7] = d1;
}

} // namespace zsig
