// libFuzzer: one "ALsw" block.
#include <cstddef>
#include <cstdint>

#include "signature/Container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zsig::Node out;
    size_t used = 0;
    if (zsig::DecodeBlock(data, size, out, used) == zsig::kOk && used > size)
        __builtin_trap();
    return 0;
}
