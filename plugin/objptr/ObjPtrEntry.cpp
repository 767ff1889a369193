// ObjPtr: operations on the entry the cursor stands on, and its computed
// properties (size, attributes, times, name forms, identifiers).
#include "plugin/frame/BoundTables.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/FileOps.h"
#include "plugin/fs/PathComponents.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"
#include "plugin/io/IoFlags.h"
#include "plugin/io/IoRecord.h"
#include "plugin/io/PropertyValue.h"
#include "plugin/objptr/ObjPtrRecord.h"

#include <winternl.h>

#include <cwchar>
#include <string>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr DWORD kFolderHandleShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::uint32_t kVolumeNameChars = 50;
constexpr std::uint32_t kVolumePathChars = 260;
constexpr std::uint32_t kLongVolumePathChars = 0x7FFF;

bool OnEntry(const ObjPtrData* d) {
    return d->state == kStatePtr;
}
bool EntryIsFolder(const ObjPtrData* d) {
    return (d->find_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

/// Text of a string object, measured and exported through its methods.
Result StringObjectText(hOBJ str, std::wstring* out) {
    std::uint32_t count = 0;
    auto getText = reinterpret_cast<StringGetTextFn>(str->methods[kStringSlotGetText - 1]);
    Result r = getText(str, &count, nullptr, 0, kCodePageUtf16, kStringFlagWhole);
    if (Failed(r) && r != errBUFFER_TOO_SMALL)
        return r;
    std::wstring text(count / sizeof(wchar_t) + 1, L'\0');
    r = getText(str, &count, text.data(), static_cast<std::uint32_t>(text.size() * sizeof(wchar_t)),
                kCodePageUtf16, kStringFlagWhole);
    if (Failed(r))
        return r;
    out->assign(text.c_str());
    return errOK;
}

Result SetIoName(hOBJ io, const std::wstring& name) {
    std::uint32_t count = 0;
    return io->sys->PropSetStr(io, &count, kPropName, name.c_str(),
                               static_cast<std::uint32_t>(name.size() * sizeof(wchar_t)),
                               g_codePage);
}

HANDLE OpenFolderHandle(const ObjPtrData* d) {
    const std::wstring folder = FolderText(d);
    return Fn<decltype(&::CreateFileW)>(g_kernel.fCreateFile)(folder.c_str(), 0, kFolderHandleShare,
                                                              nullptr, OPEN_EXISTING,
                                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

/// Opens the folder handle once; kept in `object_handle` (also an invalid one).
HANDLE FolderHandle(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    if (d->object_handle)
        return d->object_handle;
    if (!g_kernel.fCreateFile)
        return INVALID_HANDLE_VALUE;
    HANDLE h = OpenFolderHandle(d);
    if (h == INVALID_HANDLE_VALUE) {
        d->win_error = ::GetLastError();
        if (d->win_error == ERROR_ACCESS_DENIED)
            RetryWithIdentity(obj, [&] {
                h = OpenFolderHandle(d);
                return h != INVALID_HANDLE_VALUE;
            });
        if (h == INVALID_HANDLE_VALUE) {
            d->win_error = ::GetLastError();
            PluginTrace(obj, kTraceError, "wfsys\tCan't get handle - system error: %08X",
                        d->win_error);
        }
    }
    d->object_handle = h;
    return h;
}

bool ValidHandle(HANDLE h) {
    return h && h != INVALID_HANDLE_VALUE;
}

Result ComputeVolumeId(hOBJ obj, std::uint32_t* id) {
    ObjPtrData* d = Ptr(obj);
    using HashFn = NTSTATUS(NTAPI*)(PCUNICODE_STRING, BOOLEAN, ULONG, PULONG);
    if (!g_wideMode || !g_kernel.fGetVolumePathName ||
        !g_kernel.fGetVolumeNameForVolumeMountPoint || !g_native.RtlHashUnicodeString)
        return errNOT_SUPPORTED;
    const std::wstring folder = FolderText(d);
    auto volumePath = Fn<decltype(&::GetVolumePathNameW)>(g_kernel.fGetVolumePathName);
    std::wstring path(kVolumePathChars, L'\0');
    auto query = [&] {
        return volumePath(folder.c_str(), path.data(), static_cast<DWORD>(path.size())) != FALSE;
    };
    bool ok = query();
    if (!ok && ::GetLastError() == ERROR_FILENAME_EXCED_RANGE) {
        path.assign(kLongVolumePathChars, L'\0');
        ok = query();
    }
    if (!ok && (::GetLastError() == ERROR_ACCESS_DENIED || ::GetLastError() == ERROR_INVALID_NAME))
        ok = RetryWithIdentity(obj, query);
    if (!ok)
        return MapLastError(&d->win_error);
    path.resize(std::wcslen(path.c_str()));
    if (path.empty())
        return errRECORD_TYPE_LENIENT;
    if (path.back() != L'\\')
        path += L'\\';
    wchar_t name[kVolumeNameChars] = {};
    if (!Fn<decltype(&::GetVolumeNameForVolumeMountPointW)>(
            g_kernel.fGetVolumeNameForVolumeMountPoint)(path.c_str(), name, kVolumeNameChars))
        return MapLastError(&d->win_error);
    // \\?\Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\ (the second
    // character may also be a backslash).
    const bool form = name[0] == L'\\' && (name[1] == L'\\' || name[1] == L'?') &&
                      name[2] == L'?' && name[3] == L'\\' &&
                      std::wcsncmp(name + 4, L"Volume{", 7) == 0 && name[19] == L'-' &&
                      name[24] == L'-' && name[29] == L'-' && name[34] == L'-' && name[47] == L'}';
    if (!form)
        return errUNEXPECTED;
    name[1] = L'?';
    name[48] = L'\0';
    UNICODE_STRING text{};
    text.Buffer = name;
    text.Length = 48 * sizeof(wchar_t);
    text.MaximumLength = text.Length;
    ULONG hash = 0;
    if (Fn<HashFn>(g_native.RtlHashUnicodeString)(&text, TRUE, 0, &hash) != 0)
        return errUNEXPECTED;
    *id = hash;
    return errOK;
}

} // namespace

Result IOCreate(hOBJ obj, hOBJ* out, hOBJ nameObject, std::uint32_t access,
                std::uint32_t openMode) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    if (out)
        *out = nullptr;
    Result r = errOK;
    std::wstring name;
    if (!nameObject && !OnEntry(d)) {
        r = errOBJECT_NOT_OPENED;
    } else if (nameObject) {
        r = StringObjectText(nameObject, &name);
        name = std::wstring(d->folder_buffer ? d->folder_buffer : L"") + name;
    } else {
        name = EntryPath(d);
    }
    hOBJ io = nullptr;
    if (Succeeded(r))
        r = obj->sys->ObjectCreate(obj, &io, IID_IO, kPidWfsys, 0);
    if (Succeeded(r)) {
        const std::uint32_t mode =
            openMode + (EntryIsFolder(d) && OnEntry(d) && !nameObject ? kOpenBackupSemantics : 0);
        io->sys->PropSetDWord(io, kPropOpenMode, mode);
        io->sys->PropSetDWord(io, kPropAccessMode, access);
        r = SetIoName(io, name);
        if (Succeeded(r))
            r = io->sys->ObjectCreateDone(io);
        if (Failed(r)) {
            if (nameObject) {
                PluginTrace(obj, kTraceError, "wfsys\tobjptr:CreateIO failed (%terr) by \"%s%S\"",
                            r, "", name.c_str());
            } else if (r == errOBJECT_NOT_FOUND) {
                const std::wstring shortPath = EntryPath(d, true);
                PluginTrace(obj, kTraceInfo,
                            "wfsys\tobjptr:CreateIO failed (errOBJECT_NOT_FOUND), try open by "
                            "short name \"%s%S\"",
                            "", shortPath.c_str());
                r = SetIoName(io, shortPath);
                if (Succeeded(r)) {
                    io->sys->PropSetDWord(io, ioprop::kReopenByShortName, 1);
                    r = io->sys->ObjectCreateDone(io);
                }
                PluginTrace(obj, Failed(r) ? kTraceError : kTraceInfo,
                            "wfsys\tobjptr:CreateIO by short_name %terr - \"%s%S\"", r, "",
                            shortPath.c_str());
            } else {
                PluginTrace(obj, kTraceError, "wfsys\tobjptr:CreateIO failed (%terr) by \"%s%S\"",
                            r, "", name.c_str());
            }
        }
    }
    if (Failed(r) && io) {
        io->sys->ObjectClose(io);
        io = nullptr;
    }
    if (out)
        *out = io;
    LogOperation(obj, r, kTraceDetail, "IOCreate");
    return r;
}

namespace {

/// What Copy and Rename check first: the cursor on an entry, the Windows
/// function `needed` present (else the trace `missing`), and the
/// destination's full name in `*target`.
Result DestinationOfEntry(hOBJ obj, FARPROC needed, const char* missing, hOBJ destination,
                          std::wstring* target) {
    if (!OnEntry(Ptr(obj)))
        return errOBJECT_NOT_OPENED;
    if (!needed) {
        PluginTrace(obj, kTraceError, missing);
        return errFUNCTION_NOT_FOUND;
    }
    if (!destination)
        return errPARAMETER_INVALID;
    return ReadObjectFullName(obj, destination, target);
}

} // namespace

Result Copy(hOBJ obj, hOBJ destination, std::uint32_t overwrite) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    std::wstring target;
    Result r = DestinationOfEntry(
        obj, g_kernel.fCopyFile,
        "wfsys\tCopyFile export pointer cannot be imported from the Windows kernel", destination,
        &target);
    if (Succeeded(r)) {
        const std::wstring source = EntryPath(d);
        if (!Fn<decltype(&::CopyFileW)>(g_kernel.fCopyFile)(source.c_str(), target.c_str(),
                                                            overwrite ? FALSE : TRUE))
            r = MapLastError(&d->win_error);
    }
    LogOperation(obj, r, kTraceDetail, "copy");
    return r;
}

Result Rename(hOBJ obj, hOBJ destination, std::uint32_t replace) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    std::wstring target;
    Result r = DestinationOfEntry(
        obj, g_kernel.fMoveFile,
        "wfsys\tMoveFile export pointer cannot be imported from the Windows kernel", destination,
        &target);
    if (Succeeded(r)) {
        const std::wstring source = EntryPath(d);
        r = MoveOrCopyFile(obj, source.c_str(), target.c_str(), replace != 0, &d->win_error);
        if (Succeeded(r)) {
            // The cursor follows the entry to its new folder and name. A
            // destination that names a folder now is the moved folder entry
            // itself, so it is split like any other name.
            std::wstring moved = target;
            while (moved.size() > 1 && (moved.back() == L'\\' || moved.back() == L'/'))
                moved.pop_back();
            const wchar_t* tail = nullptr;
            r = SplitIntoFolder(obj, moved.c_str(), &tail);
            const std::wstring name = tail;
            if (Succeeded(r))
                r = OP_ChangeTo(obj, name.c_str());
        }
    }
    LogOperation(obj, r, kTraceDetail, "rename");
    return r;
}

Result Delete(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    Result r = errOK;
    if (!g_kernel.fDeleteFile) {
        r = errFUNCTION_NOT_FOUND;
    } else {
        const std::wstring path = EntryPath(d);
        BOOL ok = FALSE;
        if (EntryIsFolder(d) && OnEntry(d)) {
            PluginTrace(obj, kTraceProgress, "wfsys\tobjptr: going to delete folder \"%s%S\"", "",
                        path.c_str());
            ok = g_kernel.fRemoveDirectory &&
                 Fn<decltype(&::RemoveDirectoryW)>(g_kernel.fRemoveDirectory)(path.c_str());
        } else {
            PluginTrace(obj, kTraceProgress, "wfsys\tobjptr: going to delete file \"%s%S\"", "",
                        path.c_str());
            ok = Fn<decltype(&::DeleteFileW)>(g_kernel.fDeleteFile)(path.c_str());
        }
        if (ok) {
            PluginTrace(obj, kTraceProgress, "wfsys\tobjptr: deleted:\"%s%S\"", "", path.c_str());
            Next(obj);
        } else {
            r = MapLastError(&d->win_error);
            PluginTrace(obj, kTraceError, "wfsys\tobjptr: %terr(winerr=%d) cannot delete \"%s%S\"",
                        r, static_cast<int>(d->win_error), "", path.c_str());
        }
    }
    LogOperation(obj, r, kTraceDetail, "delete");
    return r;
}

// ---- computed properties ----------------------------------------------------------

Result GetSize(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer, std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 0;
    if (!OnEntry(d))
        return errOBJECT_NOT_OPENED;
    const std::uint64_t value =
        (static_cast<std::uint64_t>(d->find_data.nFileSizeHigh) << 32) | d->find_data.nFileSizeLow;
    if (id == objprop::kSize32) {
        if (d->find_data.nFileSizeHigh)
            return errBUFFER_TOO_SMALL;
        const std::uint32_t low = d->find_data.nFileSizeLow;
        return CopyValue(&low, sizeof low, count, buffer, size);
    }
    const Result r = CopyValue(&value, sizeof value, count, buffer, size);
    LogOperation(obj, r, kTraceDetail, "get_size");
    return r;
}

Result SetSize(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* source, std::uint32_t) {
    Ptr(obj)->win_error = 0;
    *count = 0;
    return source ? errOPERATION_REFUSED : errPARAMETER_INVALID;
}

Result GetEntryAttributes(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                          std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 0;
    if (!OnEntry(d))
        return errOBJECT_NOT_OPENED;
    if (buffer && size < 4)
        return errBUFFER_TOO_SMALL;
    return CopyValue(&d->find_data.dwFileAttributes, 4, count, buffer, size);
}

Result SetEntryAttributes(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* source,
                          std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 0;
    if (!g_kernel.fSetFileAttributes)
        return errFUNCTION_NOT_FOUND;
    if (!source || size < 4)
        return errPARAMETER_INVALID;
    if (!OnEntry(d))
        return errOBJECT_NOT_OPENED;
    DWORD value = 0;
    std::memcpy(&value, source, 4);
    const std::wstring path = EntryPath(d);
    if (!Fn<decltype(&::SetFileAttributesW)>(g_kernel.fSetFileAttributes)(path.c_str(), value))
        return MapLastError(&d->win_error);
    d->find_data.dwFileAttributes = value;
    *count = 4;
    return errOK;
}

Result GetEntryTime(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer,
                    std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 8;
    if (size == 0)
        return buffer ? errBUFFER_TOO_SMALL : errOK;
    if (buffer && size < 8)
        return errBUFFER_TOO_SMALL;
    if (!g_kernel.fGetFileAttributesEx || !g_dateTimeCalendar)
        return errFUNCTION_NOT_FOUND;
    if (!OnEntry(d))
        return errOBJECT_NOT_OPENED;
    WIN32_FILE_ATTRIBUTE_DATA info{};
    const std::wstring path = EntryPath(d);
    if (!Fn<decltype(&::GetFileAttributesExW)>(g_kernel.fGetFileAttributesEx)(
            path.c_str(), GetFileExInfoStandard, &info))
        return MapLastError(&d->win_error);
    FILETIME chosen{};
    switch (id) {
    case kPropCreationTime:
        chosen = info.ftCreationTime;
        break;
    case kPropLastWriteTime:
        chosen = info.ftLastWriteTime;
        break;
    case kPropLastAccessTime:
        chosen = info.ftLastAccessTime;
        break;
    default:
        *count = 0;
        return errPROPERTY_NOT_IMPLEMENTED;
    }
    SYSTEMTIME st{};
    if (!::FileTimeToSystemTime(&chosen, &st))
        return MapLastError(&d->win_error);
    std::uint64_t value = 0;
    const Result r = g_dateTimeCalendar(&value, st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                                        st.wSecond, st.wMilliseconds * 1000000u);
    if (Failed(r))
        return r;
    return CopyValue(&value, sizeof value, count, buffer, size);
}

Result SetEntryTime(hOBJ obj, std::uint32_t* count, std::uint32_t, const void*, std::uint32_t) {
    Ptr(obj)->win_error = 0;
    *count = 0;
    return errOPERATION_REFUSED;
}

Result GetShortName(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                    std::uint32_t size) {
    const ObjPtrData* d = Ptr(obj);
    *count = 0;
    if (!OnEntry(d))
        return errOBJECT_NOT_OPENED;
    const wchar_t* name = d->find_data.cAlternateFileName[0] ? d->find_data.cAlternateFileName
                                                             : d->find_data.cFileName;
    return CopyTextOut(name, count, buffer, size);
}

Result GetShortFullNameProp(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                            std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 0;
    const std::wstring full = FolderText(d) + EntryName(d);
    wchar_t shortForm[kComponentBufferChars] = {};
    const Result r = ShortPathByComponents(full.c_str(), shortForm, &d->win_error);
    if (Failed(r))
        return r;
    return CopyTextOut(shortForm, count, buffer, size);
}

Result GetLongFullNameProp(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                           std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 0;
    const std::wstring full = FolderText(d) + EntryName(d);
    Result r = errOK;
    std::wstring longForm;
    if (g_kernel.fGetLongPathName) {
        auto longPath = Fn<decltype(&::GetLongPathNameW)>(g_kernel.fGetLongPathName);
        const DWORD chars = size / sizeof(wchar_t);
        const DWORD got = longPath(full.c_str(), buffer ? static_cast<wchar_t*>(buffer) : nullptr,
                                   buffer ? chars : 0);
        if (got == 0) {
            r = MapLastError(&d->win_error);
        } else if (buffer && got < chars) {
            if (!g_caseSensitiveNames)
                ::_wcslwr_s(static_cast<wchar_t*>(buffer), chars);
            *count = (got + 1) * sizeof(wchar_t);
        } else {
            *count = got * sizeof(wchar_t);
        }
    } else {
        wchar_t initial[kNameBufferBytes / sizeof(wchar_t)];
        wchar_t* out = initial;
        std::uint32_t outSize = sizeof initial;
        std::uint32_t length = 0;
        r = LongPathByComponents(obj, full.c_str(), &out, &outSize, &length, &d->win_error);
        if (Succeeded(r))
            r = CopyTextOut(out, count, buffer, size);
        if (out != initial)
            obj->sys->ObjHeapFree(obj, out);
    }
    if (Failed(r))
        PluginTrace(obj, kTraceError, "wfsys\tObjPtr:GetLongFullName error %x", r);
    else if (buffer && *count <= size)
        PluginTrace(obj, kTraceProgress, "wfsys\tIO:GetLongFullName succeeded %S",
                    static_cast<const wchar_t*>(buffer));
    return r;
}

Result GetFolderHandle(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                       std::uint32_t size) {
    Ptr(obj)->win_error = 0;
    HANDLE h = FolderHandle(obj);
    CopyValue(&h, sizeof h, count, buffer, size);
    return errOK;
}

Result GetFolderFileIndex(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                          std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    if (d->file_index == 0) {
        HANDLE h = FolderHandle(obj);
        BY_HANDLE_FILE_INFORMATION info{};
        if (ValidHandle(h)) {
            if (::GetFileInformationByHandle(h, &info)) {
                d->file_index =
                    (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
            } else {
                d->win_error = ::GetLastError();
                PluginTrace(obj, kTraceError,
                            "wfsys\tCan't get info by handle - system error: %08X", d->win_error);
            }
        }
    }
    CopyValue(&d->file_index, 8, count, buffer, size);
    return errOK;
}

Result GetEntryFileId(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                      std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    if (d->file_id == 0) {
        hOBJ io = nullptr;
        if (Succeeded(IOCreate(obj, &io, nullptr, fACCESS_READ, kOpenExisting)) && io) {
            d->file_id = io->sys->PropGetQWord(io, kPropFileIndex);
            io->sys->ObjectClose(io);
        }
    }
    CopyValue(&d->file_id, 8, count, buffer, size);
    return errOK;
}

Result GetVolumeId(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                   std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 0;
    if (d->volume_id == 0) {
        std::uint32_t id = 0;
        if (Result r = ComputeVolumeId(obj, &id); Failed(r))
            return r;
        d->volume_id = id;
    }
    return CopyValue(&d->volume_id, 4, count, buffer, size);
}

} // namespace zev::wfsys
