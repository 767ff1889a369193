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

} // namespace zsig
