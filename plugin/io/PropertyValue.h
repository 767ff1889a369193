// How IO property getters hand a value to the caller.
#pragma once

#include "plugin/frame/ResultCodes.h"

#include <cstdint>
#include <cstring>

namespace zev::wfsys {

/// `*count` = `bytes`; without a buffer the count alone is the answer; a
/// buffer smaller than the value gets nothing and errBUFFER_TOO_SMALL.
inline frame::Result CopyValue(const void* value, std::size_t bytes, std::uint32_t* count,
                               void* buffer, std::uint32_t size) {
    *count = static_cast<std::uint32_t>(bytes);
    if (!buffer)
        return frame::errOK;
    if (size < bytes)
        return frame::errBUFFER_TOO_SMALL;
    std::memcpy(buffer, value, bytes);
    return frame::errOK;
}

} // namespace zev::wfsys
