// Deleting and moving files with the plug-in's identity fallbacks.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <cstdint>

namespace zev::wfsys {

/// VlDeleteFile flag: clear read-only, hidden and system attributes first.
constexpr std::uint32_t kDeleteClearAttributes = 0x1;

/// Export 0xF207330E: deletes the file named by the object's full name;
/// a delete refused to an impersonating thread is retried under the
/// process's own identity.
frame::Result VlDeleteFile(frame::hOBJ obj, std::uint32_t flags);

/// Moves `source` to `destination` (a copy and delete between drives when
/// the system cannot move); `*winError` receives the Windows error.
frame::Result MoveOrCopyFile(frame::hOBJ traceObject, const wchar_t* source,
                             const wchar_t* destination, bool replace, std::uint32_t* winError);

} // namespace zev::wfsys
