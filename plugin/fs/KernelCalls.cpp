#include "plugin/fs/KernelCalls.h"

#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"

namespace zev::wfsys {

namespace {

/// Calls the W variant `wide` or the A variant `narrow` of the function in `slot`.
template <typename W, typename A, typename R, typename... Args>
R CallByMode(FARPROC slot, R missing, const void* name, Args... args) {
    if (!slot) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return missing;
    }
    if (g_wideMode)
        return Fn<W>(slot)(static_cast<const wchar_t*>(name), args...);
    return Fn<A>(slot)(static_cast<const char*>(name), args...);
}

} // namespace

DWORD AttributesOf(const void* name) {
    return CallByMode<decltype(&::GetFileAttributesW), decltype(&::GetFileAttributesA)>(
        g_kernel.fGetFileAttributes, DWORD{INVALID_FILE_ATTRIBUTES}, name);
}

BOOL SetAttributesOf(const void* name, DWORD attributes) {
    return CallByMode<decltype(&::SetFileAttributesW), decltype(&::SetFileAttributesA)>(
        g_kernel.fSetFileAttributes, BOOL{FALSE}, name, attributes);
}

BOOL DeleteByName(const void* name) {
    return CallByMode<decltype(&::DeleteFileW), decltype(&::DeleteFileA)>(g_kernel.fDeleteFile,
                                                                          BOOL{FALSE}, name);
}

BOOL CopyByName(const void* from, const void* to, BOOL failIfExists) {
    if (!g_kernel.fCopyFile) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    if (g_wideMode)
        return Fn<decltype(&::CopyFileW)>(g_kernel.fCopyFile)(
            static_cast<const wchar_t*>(from), static_cast<const wchar_t*>(to), failIfExists);
    return Fn<decltype(&::CopyFileA)>(g_kernel.fCopyFile)(
        static_cast<const char*>(from), static_cast<const char*>(to), failIfExists);
}

HANDLE CreateFileByName(const void* name, DWORD access, DWORD share, DWORD creation, DWORD flags) {
    return CallByMode<decltype(&::CreateFileW), decltype(&::CreateFileA)>(
        g_kernel.fCreateFile, INVALID_HANDLE_VALUE, name, access, share,
        static_cast<LPSECURITY_ATTRIBUTES>(nullptr), creation, flags, HANDLE{nullptr});
}

} // namespace zev::wfsys
