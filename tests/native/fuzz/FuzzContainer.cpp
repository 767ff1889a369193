// libFuzzer: a whole container (header, blocks, tree streams).
#include <cstddef>
#include <cstdint>
#include <optional>

#include "signature/Container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zsig::Node out;
    zsig::ReadContainer(data, size, std::nullopt, out);
    return 0;
}
