#include "plugin/fs/FileOps.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/Impersonation.h"
#include "plugin/fs/KernelCalls.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr DWORD kHideProtectMask =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

/// "%S" in wide mode, "%s" in narrow mode, spliced into a format.
const char* NameFormat(const char* wide, const char* narrow) {
    return g_wideMode ? wide : narrow;
}

} // namespace

Result VlDeleteFile(hOBJ obj, std::uint32_t flags) {
    if (!g_kernel.fDeleteFile)
        return errNOT_SUPPORTED;
    if (!obj)
        return errPARAMETER_INVALID;
    unsigned char initial[kNameBufferBytes] = {};
    void* name = initial;
    std::uint32_t count = 0;
    Result result = ReadTextProperty(obj, &name, sizeof initial, 0, &count, nullptr);
    struct Release {
        hOBJ obj;
        void*& name;
        void* initial;
        ~Release() {
            if (name != initial)
                obj->sys->ObjHeapFree(obj, name);
        }
    } release{obj, name, initial};
    if (Failed(result)) {
        // The name could not be read: the line shows an empty one.
        PluginTrace(obj, kTraceError,
                    NameFormat("wfsys\tFailed to extract file name \"%S\" with err=0x%08x",
                               "wfsys\tFailed to extract file name \"%s\" with err=0x%08x"),
                    g_wideMode ? static_cast<const void*>(L"") : "", result);
        return result;
    }
    PluginTrace(
        obj, kTraceError,
        NameFormat("wfsys\tVlDeleteFile: filename = %S", "wfsys\tVlDeleteFile: filename = %s"),
        name);

    if ((flags & kDeleteClearAttributes) && g_kernel.fGetFileAttributes &&
        g_kernel.fSetFileAttributes) {
        const DWORD attributes = AttributesOf(name);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            PluginTrace(
                obj, kTraceError,
                NameFormat("wfsys\tFailed to get file Attributes for file %S with err=0x%08x",
                           "wfsys\tFailed to get file Attributes for file %s with err=0x%08x"),
                name, MapWin32Error(::GetLastError()));
        if (attributes & kHideProtectMask) {
            if (SetAttributesOf(name, FILE_ATTRIBUTE_NORMAL))
                PluginTrace(
                    obj, kTraceError,
                    NameFormat("wfsys\tFailed to call SetFillAttributes for file %S, file's "
                               "readonly|system|hidden. File's attrs=%lu",
                               "wfsys\tFailed to call SetFillAttributes for file %s, file's "
                               "readonly|system|hidden. File's attrs=%lu"),
                    name, attributes);
            else
                PluginTrace(
                    obj, kTraceError,
                    NameFormat("wfsys\tFailed to set file Attributes for file %S with err=0x%08x",
                               "wfsys\tFailed to set file Attributes for file %s with err=0x%08x"),
                    name, MapWin32Error(::GetLastError()));
        }
    }

    if (DeleteByName(name))
        return result;
    result = MapWin32Error(::GetLastError());
    PluginTrace(obj, kTraceError, "wfsys\tVlDeleteFile: fDeleteFile first attempt failed, %terr",
                result);
    if (result == errACCESS_DENIED) {
        PluginTrace(obj, kTraceProgress,
                    "wfsys\tVlDeleteFile: trying to delete file under default thread token..");
        HANDLE raw = nullptr;
        if (!::OpenThreadToken(::GetCurrentThread(), kTokenAccess, TRUE, &raw)) {
            PluginTrace(obj, kTraceProgress, "wfsys\tVlDeleteFile: no impersonation detected");
        } else {
            UniqueKernelHandle token(raw);
            if (!::RevertToSelf())
                PluginTrace(obj, kTraceWarning,
                            "wfsys\tVlDeleteFile: RevertToSelf failed, win_err = 0x%08X",
                            ::GetLastError());
            if (DeleteByName(name)) {
                PluginTrace(obj, kTraceProgress,
                            "wfsys\tVlDeleteFile: fDeleteFile second attempt succeeded");
                result = errOK;
            } else {
                result = MapWin32Error(::GetLastError());
                PluginTrace(obj, kTraceError,
                            "wfsys\tVlDeleteFile: fDeleteFile second attempt failed: %terr",
                            result);
            }
            if (!::SetThreadToken(nullptr, token.get()))
                PluginTrace(obj, kTraceError,
                            "wfsys\tVlDeleteFile: impersonation restore failed, SetThreadToken "
                            "win_err = 0x%08X",
                            ::GetLastError());
        }
    }
    PluginTrace(obj, kTraceError, "wfsys\tfDeleteFile failed with err=0x%08x", result);
    return result;
}

Result MoveOrCopyFile(hOBJ traceObject, const wchar_t* source, const wchar_t* destination,
                      bool replace, std::uint32_t* winError) {
    std::uint32_t ignored = 0;
    std::uint32_t* error = winError ? winError : &ignored;
    *error = 0;
    auto fail = [&](const char* format) {
        *error = ::GetLastError();
        PluginTrace(traceObject, kTraceError, format, *error);
        return MapWin32Error(*error);
    };
    if (g_kernel.fMoveFileEx && g_wideMode) {
        DWORD flags = MOVEFILE_COPY_ALLOWED | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (Fn<decltype(&::MoveFileExW)>(g_kernel.fMoveFileEx)(source, destination, flags))
            return errOK;
        return fail("MoveFileEx returns error %d");
    }
    auto moveFile = Fn<decltype(&::MoveFileW)>(g_kernel.fMoveFile);
    auto deleteFile = Fn<decltype(&::DeleteFileW)>(g_kernel.fDeleteFile);
    if (IsSameDrive(source, destination)) {
        if (!moveFile) {
            PluginTrace(traceObject, kTraceError,
                        "MoveFile export pointer cannot be imported from the Windows kernel");
            return errFUNCTION_NOT_FOUND;
        }
        if (moveFile(source, destination))
            return errOK;
        *error = ::GetLastError();
        if (*error != ERROR_ALREADY_EXISTS) {
            PluginTrace(traceObject, kTraceError, "MoveFile returns error %d", *error);
            return MapWin32Error(*error);
        }
        if (!deleteFile) {
            PluginTrace(traceObject, kTraceError,
                        "DeleteFile export pointer cannot be imported from the Windows kernel");
            return errFUNCTION_NOT_FOUND;
        }
        if (!deleteFile(destination))
            return fail("DeleteFile returns error %d");
        if (!moveFile(source, destination))
            return fail("MoveFile returns error %d");
        *error = 0;
        return errOK;
    }
    auto copyFile = Fn<decltype(&::CopyFileW)>(g_kernel.fCopyFile);
    if (!copyFile || !deleteFile) {
        PluginTrace(traceObject, kTraceError,
                    !copyFile
                        ? "CopyFile export pointer cannot be imported from the Windows kernel"
                        : "DeleteFile export pointer cannot be imported from the Windows kernel");
        return errFUNCTION_NOT_FOUND;
    }
    if (!copyFile(source, destination, replace ? FALSE : TRUE))
        return fail("CopyFile returns error %d");
    if (!deleteFile(source))
        return fail("DeleteFile returns error %d");
    return errOK;
}

} // namespace zev::wfsys
