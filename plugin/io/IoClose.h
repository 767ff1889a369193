// The IO object's reopen data and the folder removal built on the close.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <cstdint>

namespace zev::wfsys {

/// Property 0x23000056: [kind byte] name. Kind 0: the short full name
/// follows; kind 1: the object opens no file; no kind: the long full name.
frame::Result GetReopenData(frame::hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer,
                            std::uint32_t size);
frame::Result SetReopenData(frame::hOBJ obj, std::uint32_t* count, std::uint32_t id,
                            const void* buffer, std::uint32_t size);

/// Removes the folder named by `text` (in `codePage`) with everything in
/// it, bottom-up; a file that cannot be deleted stops the removal.
frame::Result RemoveDir(const void* text, std::int32_t codePage);
/// Export 0x31249954: RemoveDir on the object's folder property.
frame::Result RemoveFolderOfObject(frame::hOBJ obj);

} // namespace zev::wfsys
