#include "plugin/frame/SystemFunctions.h"

#include "common/UniqueHandle.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/Settings.h"

#include <iterator>

namespace zev::wfsys {

KernelFunctions g_kernel{};
NativeFunctions g_native{};
SecurityFunctions g_security{};

namespace {

UniqueModule g_kernel32;
/// The ntdll.dll reference taken at load is kept until the process ends.
HMODULE g_ntdll = nullptr;

struct KernelRow {
    FARPROC KernelFunctions::*slot;
    const char* wide;
    const char* narrow; ///< null: not resolved in narrow mode
};

constexpr KernelRow kKernelRows[] = {
    {&KernelFunctions::fCreateFile, "CreateFileW", "CreateFileA"},
    {&KernelFunctions::fDeleteFile, "DeleteFileW", "DeleteFileA"},
    {&KernelFunctions::fGetFileAttributes, "GetFileAttributesW", "GetFileAttributesA"},
    {&KernelFunctions::fGetFileAttributesEx, "GetFileAttributesExW", "GetFileAttributesExA"},
    {&KernelFunctions::fSetFileAttributes, "SetFileAttributesW", "SetFileAttributesA"},
    {&KernelFunctions::fFindFirstFile, "FindFirstFileW", "FindFirstFileA"},
    {&KernelFunctions::fFindNextFile, "FindNextFileW", "FindNextFileA"},
    {&KernelFunctions::fFindClose, "FindClose", "FindClose"},
    {&KernelFunctions::fCopyFile, "CopyFileW", "CopyFileA"},
    {&KernelFunctions::fMoveFileEx, "MoveFileExW", nullptr},
    {&KernelFunctions::fMoveFile, "MoveFileW", "MoveFileA"},
    {&KernelFunctions::fCreateDirectory, "CreateDirectoryW", "CreateDirectoryA"},
    {&KernelFunctions::fRemoveDirectory, "RemoveDirectoryW", "RemoveDirectoryA"},
    {&KernelFunctions::fGetTempPath, "GetTempPathW", "GetTempPathA"},
    {&KernelFunctions::fGetTempFileName, "GetTempFileNameW", "GetTempFileNameA"},
    {&KernelFunctions::fGetDriveType, "GetDriveTypeW", "GetDriveTypeA"},
    {&KernelFunctions::fGetFullPathName, "GetFullPathNameW", "GetFullPathNameA"},
    {&KernelFunctions::fGetLongPathName, "GetLongPathNameW", "GetLongPathNameA"},
    {&KernelFunctions::fGetShortPathName, "GetShortPathNameW", "GetShortPathNameA"},
    {&KernelFunctions::fGetVolumePathName, "GetVolumePathNameW", nullptr},
    {&KernelFunctions::fGetVolumeNameForVolumeMountPoint, "GetVolumeNameForVolumeMountPointW",
     nullptr},
};

struct NativeRow {
    FARPROC NativeFunctions::*slot;
    const char* name;
    bool required;
};

constexpr NativeRow kNativeRows[] = {
    {&NativeFunctions::NtQueryDirectoryFile, "NtQueryDirectoryFile", true},
    {&NativeFunctions::RtlInitUnicodeString, "RtlInitUnicodeString", true},
    {&NativeFunctions::RtlDosPathNameToNtPathName_U, "RtlDosPathNameToNtPathName_U", true},
    {&NativeFunctions::NtCreateFile, "NtCreateFile", true},
    {&NativeFunctions::NtOpenFile, "NtOpenFile", true},
    {&NativeFunctions::NtClose, "NtClose", true},
    {&NativeFunctions::RtlAllocateHeap, "RtlAllocateHeap", true},
    {&NativeFunctions::RtlFreeHeap, "RtlFreeHeap", true},
    {&NativeFunctions::RtlHashUnicodeString, "RtlHashUnicodeString", false},
    {&NativeFunctions::RtlNtStatusToDosError, "RtlNtStatusToDosError", true},
};

} // namespace

bool LoadKernel() {
    g_kernel32.reset(::LoadLibraryW(L"kernel32.dll"));
    if (!g_kernel32) {
        PluginTrace(g_root, frame::kTraceError, "wfsys\tCannot load Windows kernel32.dll");
        return false;
    }
    return true;
}

void ResolveKernelFunctions() {
    for (const KernelRow& row : kKernelRows) {
        const char* name = g_wideMode ? row.wide : row.narrow;
        g_kernel.*row.slot = name ? ::GetProcAddress(g_kernel32.get(), name) : nullptr;
    }
}

void ResolveNativeFunctions() {
    g_ntdll = ::LoadLibraryW(L"ntdll.dll");
    if (!g_ntdll) {
        PluginTrace(g_root, frame::kTraceError, "wfsys\tCannot load Windows ntdll.dll");
    } else {
        bool complete = true;
        for (const NativeRow& row : kNativeRows) {
            g_native.*row.slot = ::GetProcAddress(g_ntdll, row.name);
            if (row.required && !(g_native.*row.slot))
                complete = false;
        }
        g_nativeApi = complete ? 1 : 0;
    }
    // advapi32.dll is not loaded for this purpose.
    if (HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll")) {
        g_security.GetFileSecurityW = ::GetProcAddress(advapi, "GetFileSecurityW");
        g_security.SetFileSecurityW = ::GetProcAddress(advapi, "SetFileSecurityW");
    }
}

void ReleaseKernel() {
    g_kernel32.reset();
}

bool HoldsKernel() {
    return g_kernel32.valid();
}

void ClearSystemFunctions() {
    g_kernel = {};
    g_native = {};
    g_security = {};
    g_nativeApi = 0;
}

} // namespace zev::wfsys
