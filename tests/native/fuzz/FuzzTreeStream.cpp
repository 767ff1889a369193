// libFuzzer: a tree stream with its CRC chunks; a decoded tree must encode
// and decode again to the same records.
#include <cstddef>
#include <cstdint>

#include "signature/TreeStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zsig::Node out;
    size_t used = 0;
    if (zsig::DecodeTreeStream(data, size, out, used) != zsig::kOk)
        return 0;
    if (used > size)
        __builtin_trap();
    const auto again = zsig::EncodeTreeStream(out);
    zsig::Node back;
    if (zsig::DecodeTreeStream(again.data(), again.size(), back, used) != zsig::kOk ||
        zsig::EncodeNodeRecord(back) != zsig::EncodeNodeRecord(out))
        __builtin_trap();
    return 0;
}
