// The public root container built in at compile time (identifier 0x7FFFFE,
// holding the root public key). The build generates its definition from
// the key set chosen by the CMake option ZEV_KEYS_DIR.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zsig {

extern const uint8_t kBuiltinRootContainer[];
extern const size_t kBuiltinRootContainerSize;

} // namespace zsig
