#include "signature/Gost28147.h"

namespace zsig {

void ExpandSBoxes(const SBoxes& sbox, Gost28147Tables& out) {
    for (int b = 0; b < 4; ++b) {
        for (uint32_t x = 0; x < 256; ++x) {
            const uint32_t v =
                (uint32_t(sbox[2 * b][x & 0x0F]) | uint32_t(sbox[2 * b + 1][x >> 4]) << 4)
                << (8 * b);
            out.t[b][x] = (v << 11) | (v >> 21);
        }
    }
}

} // namespace zsig
