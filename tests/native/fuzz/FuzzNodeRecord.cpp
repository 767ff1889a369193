// libFuzzer: bare node records (values, attributes, children, siblings).
#include <cstddef>
#include <cstdint>

#include "signature/TreeStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zsig::Node out;
    size_t used = 0;
    if (zsig::DecodeNodeRecord(data, size, out, used) == zsig::kOk && used > size)
        __builtin_trap();
    return 0;
}
