// Exported helpers that belong to the frame itself.
#pragma once

#include <cstdint>

namespace zev::wfsys {

/// Export 0xD457C4FF: passes `mode` to SetErrorMode and returns the
/// previous mode.
std::uint32_t SetProcessErrorMode(std::uint32_t mode);

} // namespace zev::wfsys
