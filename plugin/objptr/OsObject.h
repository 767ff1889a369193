// The OS object: the plug-in's object system. It creates ObjPtr objects on
// folders and IO objects on files, and copies, renames and deletes objects
// named by other framework objects (string, IO and ObjPtr objects).
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <cstdint>

namespace zev::wfsys {

/// The data record: the last Windows error (property 0x20400020).
struct OsData {
    std::uint32_t win_error;
};

frame::Result OsPtrCreate(frame::hOBJ os, frame::hOBJ* out, frame::hOBJ folder);
frame::Result OsIOCreate(frame::hOBJ os, frame::hOBJ* out, frame::hOBJ file, std::uint32_t access,
                         std::uint32_t openMode);
frame::Result OsCopy(frame::hOBJ os, frame::hOBJ source, frame::hOBJ destination,
                     std::uint32_t overwrite);
frame::Result OsRename(frame::hOBJ os, frame::hOBJ source, frame::hOBJ destination,
                       std::uint32_t replace);
frame::Result OsDelete(frame::hOBJ os, frame::hOBJ obj);

} // namespace zev::wfsys
