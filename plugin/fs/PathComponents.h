// Short (8.3) and long forms of a full path, built one component at a time
// where the whole-path Windows conversion is missing or fails.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <cstdint>

namespace zev::wfsys {

inline constexpr std::uint32_t kComponentBufferChars = 260;

/// The short form of `full` in `out` (kComponentBufferChars characters).
/// A Windows failure goes to `*winError` (when given) and is mapped.
frame::Result ShortPathByComponents(const wchar_t* full, wchar_t* out,
                                    std::uint32_t* winError = nullptr);

/// The long form of `full` in `*buffer` (`*size` bytes). When the text
/// does not fit, a framework-heap block of `heapOwner` replaces `*buffer`
/// (the caller frees it when it differs from its own) and `*size` grows.
/// `*length` receives the characters of the result with its terminator.
frame::Result LongPathByComponents(frame::hOBJ heapOwner, const wchar_t* full, wchar_t** buffer,
                                   std::uint32_t* size, std::uint32_t* length,
                                   std::uint32_t* winError);

} // namespace zev::wfsys
