// Windows functions the plug-in calls through pointers, resolved at load.
// Every user checks its pointer for null first. In narrow mode the kernel
// pointers hold the A variants: call them through Fn<> with the A type.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zev::wfsys {

template <typename F> F Fn(FARPROC p) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(p)); // through void*: no cast warning
}

/// Kernel function table, named after the functions without A/W suffix.
struct KernelFunctions {
    FARPROC fCreateFile;
    FARPROC fDeleteFile;
    FARPROC fGetFileAttributes;
    FARPROC fGetFileAttributesEx;
    FARPROC fSetFileAttributes;
    FARPROC fFindFirstFile;
    FARPROC fFindNextFile;
    FARPROC fFindClose;
    FARPROC fCopyFile;
    FARPROC fMoveFileEx;
    FARPROC fMoveFile;
    FARPROC fCreateDirectory;
    FARPROC fRemoveDirectory;
    FARPROC fGetTempPath;
    FARPROC fGetTempFileName;
    FARPROC fGetDriveType;
    FARPROC fGetFullPathName;
    FARPROC fGetLongPathName;
    FARPROC fGetShortPathName;
    FARPROC fGetVolumePathName;
    FARPROC fGetVolumeNameForVolumeMountPoint;
};

/// Native functions of ntdll (wide mode only).
struct NativeFunctions {
    FARPROC NtQueryDirectoryFile;
    FARPROC RtlInitUnicodeString;
    FARPROC RtlDosPathNameToNtPathName_U;
    FARPROC NtCreateFile;
    FARPROC NtOpenFile;
    FARPROC NtClose;
    FARPROC RtlAllocateHeap;
    FARPROC RtlFreeHeap;
    FARPROC RtlHashUnicodeString; ///< optional: its users check it
    FARPROC RtlNtStatusToDosError;
};

/// File security functions of advapi32 (wide mode, when already loaded).
struct SecurityFunctions {
    FARPROC GetFileSecurityW;
    FARPROC SetFileSecurityW;
};

extern KernelFunctions g_kernel;
extern NativeFunctions g_native;
extern SecurityFunctions g_security;

/// Step 4: loads kernel32.dll; false (with the trace) when it cannot.
bool LoadKernel();
/// Step 5: fills g_kernel for the current character mode.
void ResolveKernelFunctions();
/// Step 6: ntdll's native set (sets g_nativeApi) and the security pair.
void ResolveNativeFunctions();
/// Reason 101: releases the kernel32.dll reference taken at load.
void ReleaseKernel();
/// Whether the load holds a kernel32.dll reference now.
bool HoldsKernel();
/// Clears every pointer (a load that could not load kernel32.dll).
void ClearSystemFunctions();

} // namespace zev::wfsys
