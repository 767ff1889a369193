#include "signature/Crc32.h"

namespace zsig {
namespace {

struct CrcTable {
    uint32_t t[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
    }
};

} // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
    static const CrcTable table;
    for (size_t i = 0; i < size; ++i)
        crc = table.t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

} // namespace zsig
