// The file-system helpers the plug-in exports to other components of the
// product: folder chains, the temporary folder and temporary names, copies
// between framework objects (at once or at the next restart), moves (at
// once or at the next restart), starting programs and free space. Names
// come in as framework objects (IO, ObjPtr or string objects).
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <windows.h>

#include <cstdint>

// windows.h keeps an old 16-bit GetFreeSpace macro; the helper takes the name.
#undef GetFreeSpace

namespace zev::wfsys {

/// CopyObjectFile flags.
constexpr std::uint32_t kCopyOverwrite = 0x1;
constexpr std::uint32_t kCopyAtRestart = 0x4;
constexpr std::uint32_t kCopyNoPrefix = 0x10;
constexpr std::uint32_t kCopyRetryWithToken = 0x20;
/// RunProgram flags.
constexpr std::uint32_t kRunWait = 0x1;
constexpr std::uint32_t kRunNoWindow = 0x2;
/// CreateDirectoryRecursively: the path or part of it existed already.
constexpr frame::Result kFolderExisted = 3;

/// Creates every missing folder of `path` (text in the current mode,
/// changed in place: "/" become "\", a trailing "\" goes). 0: created,
/// 3: something existed already, negative: failure.
frame::Result CreateDirectoryRecursively(void* path, SECURITY_ATTRIBUTES* security);

/// Export 0x8FC48B23: the folder named by the object's folder property.
frame::Result CreateFolderOfObject(frame::hOBJ obj);
/// Export 0x5BF195C6: the temporary folder (and `subFolder` below it,
/// created) becomes the string object's text.
frame::Result FindTempFolder(frame::hOBJ string, const void* subFolder, std::int32_t codePage);
/// Export 0x31725308: a new empty file in the object's folder (or the
/// temporary folder); its name becomes the string object's text.
frame::Result MakeTempFileName(frame::hOBJ string, const void* prefix, std::int32_t codePage);
/// Export 0xF292D15B.
frame::Result CopyObjectFile(frame::hOBJ source, frame::hOBJ destination, std::uint32_t flags);
/// Export 0x19BAAE35: MoveFileEx with `flags`; no destination deletes.
frame::Result MoveFileDelayed(frame::hOBJ source, frame::hOBJ destination, std::uint32_t flags);
/// Export 0xD79C3509: "program" arguments, in `folder` (may be null);
/// `*exitCode` (may be null) is 0xFFFFFFFF unless the wait gave one.
frame::Result RunProgram(frame::hOBJ program, frame::hOBJ arguments, frame::hOBJ folder,
                         std::uint32_t* exitCode, std::uint32_t flags);
/// Export 0x78931A01: bytes available to the caller on the object's drive.
frame::Result GetFreeSpace(frame::hOBJ obj, std::uint64_t* bytes);

} // namespace zev::wfsys
