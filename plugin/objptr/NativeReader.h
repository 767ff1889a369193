// Reading folders through the native directory query of ntdll, with the
// contract of FindFirstFileW/FindNextFileW/FindClose (an invalid handle or
// FALSE with the thread's last error on failure) plus each entry's 64-bit
// file identifier. Used only when the native set was resolved at load.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace zev::wfsys {

/// Opens the folder of `pattern` (folder and name pattern) and reads its
/// first matching entry into `data` and `*fileId`. Returns the read's
/// context, or INVALID_HANDLE_VALUE with the last error set.
HANDLE NativeFindFirst(const wchar_t* pattern, WIN32_FIND_DATAW* data, std::uint64_t* fileId);
/// The next entry of the read; FALSE with the last error (18 at the end).
BOOL NativeFindNext(HANDLE context, WIN32_FIND_DATAW* data, std::uint64_t* fileId);
/// Ends the read; clears `*fileId` when given.
BOOL NativeFindClose(HANDLE context, std::uint64_t* fileId = nullptr);

/// The Windows error for an NTSTATUS.
DWORD MapNtStatus(LONG status);

/// The name pattern as the file system's matching reads it: "*.*" is "*",
/// "*." becomes "<", "?" becomes ">", "." before a wildcard becomes '"';
/// `endedWithDot` tells that the caller's pattern ended with "." (which the
/// conversion to a native path strips).
std::wstring RewriteNamePattern(std::wstring_view pattern, bool endedWithDot);

/// Replaces the directory query for tests (null puts ntdll's back).
using DirectoryQueryFn = LONG(NTAPI*)(HANDLE, HANDLE, void*, void*, void*, void*, ULONG, int,
                                      BOOLEAN, void*, BOOLEAN);
void SetDirectoryQueryForTest(DirectoryQueryFn query);

} // namespace zev::wfsys
