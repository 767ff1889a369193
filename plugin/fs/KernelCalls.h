// Calls through the kernel function table in the plug-in's character mode:
// `name` is UTF-16 text in wide mode and 8-bit text in narrow mode. Each
// fails with ERROR_PROC_NOT_FOUND when its function was not found at load.
#pragma once

#include <windows.h>

namespace zev::wfsys {

DWORD AttributesOf(const void* name);
BOOL SetAttributesOf(const void* name, DWORD attributes);
BOOL DeleteByName(const void* name);
BOOL CopyByName(const void* from, const void* to, BOOL failIfExists);
HANDLE CreateFileByName(const void* name, DWORD access, DWORD share, DWORD creation, DWORD flags);

} // namespace zev::wfsys
