// The end of an IO object's life: closing its handles, deleting its file
// when the client asked for it (with retries, identity changes and a last
// delete through the process's own identity), putting back attributes and
// the DACL the open changed; the reopen data by which a client recreates
// the object; and the removal of a folder with everything in it.
#include "plugin/io/IoRecord.h"

#include "plugin/io/IoClose.h"

#include "common/Wow64Redirector.h"
#include "plugin/frame/BoundTables.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/MessageIds.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/HostCalls.h"
#include "plugin/fs/Impersonation.h"
#include "plugin/fs/KernelCalls.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"
#include "plugin/io/IoFlags.h"

#include <cstring>
#include <vector>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr DWORD kUnknownAttributes = INVALID_FILE_ATTRIBUTES;
constexpr int kDeletePasses = 15;
constexpr DWORD kDeleteRetryPauseMs = 100;
constexpr DWORD kElevatedMajorVersion = 6;
constexpr char kFileWord[] = "File";
constexpr std::uint32_t kFolderAttribute = FILE_ATTRIBUTE_DIRECTORY;

bool ValidHandle(HANDLE h) {
    return h != INVALID_HANDLE_VALUE && h != nullptr;
}

void SendIoMessage(hOBJ obj, std::uint32_t id, Result code) {
    std::uint32_t size = sizeof code;
    obj->sys->sysSendMsg(obj, kMsgClassIo, id, nullptr, &code, &size);
}

/// "%S" in wide mode, "%s" in narrow mode.
const char* ByMode(const char* wide, const char* narrow) {
    return g_wideMode ? wide : narrow;
}

/// The redirector's lines go to the plug-in's trace.
void RedirectorTrace(int level, const char* text) {
    PluginTrace(g_root, static_cast<std::uint32_t>(level), "wfsys\t%s", text);
}
Wow64TraceFn g_redirectorTrace = &RedirectorTrace;

void TraceDeleted(hOBJ obj, std::uint32_t level, const void* name) {
    PluginTrace(obj, level,
                ByMode("wfsys\t%s \"%S\" has been deleted on close",
                       "wfsys\t%s \"%s\" has been deleted on close"),
                kFileWord, name);
}

void TraceNotDeleted(hOBJ obj, const void* name, DWORD error) {
    PluginTrace(obj, kTraceProgress,
                ByMode("wfsys\t%s \"%S\" cannot be deleted on close. Win error is -- %d",
                       "wfsys\t%s \"%s\" cannot be deleted on close. Win error is -- %d"),
                kFileWord, name, error);
}

/// The device form of the stored name and a token object that has assumed
/// the elevated identity; both are given back by the destructor.
class ElevatedIdentity {
public:
    explicit ElevatedIdentity(hOBJ obj) : m_obj(obj) {}
    ~ElevatedIdentity() {
        if (m_token) {
            reinterpret_cast<TokenIdentityFn>(m_token->methods[kTokenSlotIdentity - 1])(
                m_token, kTokenRevert);
            m_token->sys->ObjectClose(m_token);
        }
        HeapFree(m_obj, m_name);
    }
    ElevatedIdentity(const ElevatedIdentity&) = delete;
    ElevatedIdentity& operator=(const ElevatedIdentity&) = delete;

    /// Runs the step; the device-form name (or null) is `Name()`.
    void Take() {
        std::uint32_t count = 0;
        Result r = GetDeviceForm(m_obj, &count, ioprop::kDeviceForm, nullptr, 0);
        if ((Succeeded(r) || r == errBUFFER_TOO_SMALL) && count &&
            Succeeded(HeapAlloc(m_obj, &m_name, count))) {
            r = GetDeviceForm(m_obj, &count, ioprop::kDeviceForm, m_name, count);
            if (Failed(r)) {
                HeapFree(m_obj, m_name);
                m_name = nullptr;
            }
        }
        if (!m_name)
            PluginTrace(m_obj, kTraceError,
                        "wfsys\tprepareElevatedToken GetNativePath failed, error = %terr", r);
        else
            PluginTrace(m_obj, kTraceProgress, "wfsys\tprepareElevatedToken new path - \"%S\"",
                        m_name);
        r = m_obj->sys->ObjectCreateQuick(m_obj, &m_token, kIidToken, 0, 0);
        if (r == errOBJECT_INCOMPATIBLE)
            r = g_root->sys->ObjectCreateQuick(g_root, &m_token, kIidToken, 0, 0);
        if (Succeeded(r) && m_token)
            r = reinterpret_cast<TokenIdentityFn>(m_token->methods[kTokenSlotIdentity - 1])(
                m_token, kTokenAssume);
        if (Failed(r)) {
            PluginTrace(m_obj, kTraceError,
                        "wfsys\tprepareElevatedToken token impersonation failed, error = %terr", r);
            if (m_token)
                m_token->sys->ObjectClose(m_token);
            m_token = nullptr;
        }
    }
    const void* Name() const { return m_name; }

private:
    hOBJ m_obj;
    void* m_name = nullptr;
    hOBJ m_token = nullptr;
};

/// Deletes the object's file at close; sends the outcome and returns the
/// close's result.
Result DeleteOnClose(hOBJ obj) {
    Win32IOData* d = Io(obj);
    const void* stored = d->name_buffer;
    std::uint32_t outcome = kMsgIoDeleteOnCloseFailed;
    Result code = errOK;
    Result result = errOK;

    if (d->open_mode & kOpenTemporary) {
        TraceDeleted(obj, kTraceVerbose, stored);
        SendIoMessage(obj, kMsgIoDeletedOnClose, errOK);
        return errOK;
    }
    if (d->saved_attributes != kUnknownAttributes &&
        (d->saved_attributes & FILE_ATTRIBUTE_READONLY) &&
        !SetAttributesOf(stored, d->saved_attributes & ~FILE_ATTRIBUTE_READONLY)) {
        d->win_error = ::GetLastError();
        SendIoMessage(obj, kMsgIoClearAttributesFailed, MapWin32Error(d->win_error));
    }
    if (!g_kernel.fDeleteFile) {
        d->win_error = ERROR_PROC_NOT_FOUND;
        PluginTrace(obj, kTraceError,
                    "wfsys\tDeleteFile export pointer cannot be imported from the Windows kernel");
        SendIoMessage(obj, kMsgIoDeleteOnCloseFailed, errNO_DELETE_FUNCTION);
        return errDELETE_ON_CLOSE_FAILED;
    }

    Wow64Redirector redirector(&g_redirectorTrace);
    void* redirection = nullptr;
    bool redirectionOff = false;
    auto redirectionOn = [&] {
        if (redirectionOff)
            redirector.Revert(redirection);
        redirectionOff = false;
    };
    ElevatedIdentity elevated(obj);
    bool tryElevated = (g_versionQuery() & 0xFF) >= kElevatedMajorVersion;
    const void* name = stored;
    auto succeeded = [&](std::uint32_t level) {
        d->win_error = 0;
        code = errOK;
        outcome = kMsgIoDeletedOnClose;
        result = errOK;
        TraceDeleted(obj, level, stored);
    };

    for (int pass = 0; pass < kDeletePasses; ++pass) {
        if (DeleteByName(name)) {
            redirectionOn();
            succeeded(kTraceProgress);
            break;
        }
        d->win_error = ::GetLastError();
        code = MapWin32Error(d->win_error);
        outcome = kMsgIoDeleteOnCloseFailed;
        result = errDELETE_ON_CLOSE_FAILED;
        if (d->win_error == ERROR_FILE_NOT_FOUND || d->win_error == ERROR_PATH_NOT_FOUND) {
            if (redirectionOff) {
                redirectionOn();
            } else if (redirector.IsWow64() && redirector.Disable(&redirection)) {
                redirectionOff = true;
                continue;
            }
        }
        if (d->win_error == ERROR_ACCESS_DENIED) {
            if (tryElevated) {
                tryElevated = false;
                elevated.Take();
                if (elevated.Name())
                    name = elevated.Name();
            }
            if (pass != 0) {
                ::Sleep(kDeleteRetryPauseMs);
                continue;
            }
        }
        DWORD attributes = d->saved_attributes;
        if (attributes == kUnknownAttributes)
            attributes = AttributesOf(name);
        if (attributes == kUnknownAttributes) {
            TraceNotDeleted(obj, name, d->win_error);
        } else if (attributes & FILE_ATTRIBUTE_READONLY) {
            if (SetAttributesOf(stored, attributes & ~FILE_ATTRIBUTE_READONLY) &&
                DeleteByName(name)) {
                succeeded(kTraceProgress);
                break;
            }
            TraceNotDeleted(obj, name, d->win_error);
        } else {
            TraceNotDeleted(obj, name, d->win_error);
        }
        if (d->win_error != ERROR_ACCESS_DENIED)
            break;
    }

    if (outcome != kMsgIoDeletedOnClose && d->win_error == ERROR_ACCESS_DENIED) {
        // The last resort: the process's own identity.
        CThreadTokenSuspension suspended;
        if (suspended.HadToken()) {
            const HANDLE h = OpenByMode(d, stored, 0, 0, OPEN_EXISTING,
                                        FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_BACKUP_SEMANTICS);
            if (ValidHandle(h)) {
                ::CloseHandle(h);
                d->win_error = 0;
                code = errOK;
                outcome = kMsgIoDeletedOnClose;
                result = errOK;
                PluginTrace(obj, kTraceProgress,
                            ByMode("wfsys\t%s \"%S\" has been deleted on close (system)",
                                   "wfsys\t%s \"%s\" has been deleted on close (system)"),
                            kFileWord, stored);
            }
        }
    }
    redirectionOn();
    SendIoMessage(obj, outcome, code);
    return result;
}

/// The stored name as the "%s%S" pair of a trace line.
const void* NarrowPart(const void* name) {
    return g_wideMode ? static_cast<const void*>("") : name;
}
const void* WidePart(const void* name) {
    return g_wideMode ? name : static_cast<const void*>(L"");
}

} // namespace

Result ObjectClose(hOBJ obj) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    DropOverlappedReader(obj);
    const void* name = d->name_buffer ? d->name_buffer : static_cast<const void*>(L"");
    if (ValidHandle(d->handle)) {
        if (::CloseHandle(d->handle)) {
            PluginTrace(obj, kTraceDetail,
                        ByMode("wfsys\t\"%S\" has been closed (%08X)",
                               "wfsys\t\"%s\" has been closed (%08X)"),
                        name, d->handle);
        } else {
            d->win_error = ::GetLastError();
            PluginTrace(obj, kTraceDetail,
                        ByMode("wfsys\t\"%S\" has not been closed, win err is - %d(0x%08x)",
                               "wfsys\t\"%s\" has not been closed, win err is - %d(0x%08x)"),
                        name, d->win_error, d->win_error);
        }
        d->handle = INVALID_HANDLE_VALUE;
        if (FSDirectClose && d->direct_handle) {
            const Result r = FSDirectClose(d->direct_handle);
            d->direct_handle = 0;
            PluginTrace(obj, kTraceDetail, "wfsys\tcall FSDirectClose err is - %d(0x%08x)", r, r);
        }
    } else if (d->direct_handle) {
        if (FSDirectClose)
            FSDirectClose(d->direct_handle);
        d->direct_handle = 0;
    }

    Result result = errOK;
    if (d->delete_on_close && HasName(d)) {
        result = DeleteOnClose(obj);
    } else if ((d->restore_attributes || d->restore_on_close) &&
               d->saved_attributes != kUnknownAttributes && HasName(d)) {
        if (!SetAttributesOf(d->name_buffer, d->saved_attributes)) {
            d->win_error = ::GetLastError();
            SendIoMessage(obj, kMsgIoRestoreAttributesFailed, MapWin32Error(d->win_error));
        }
    }
    if (d->saved_security) {
        if (g_security.SetFileSecurityW && g_wideMode && HasName(d))
            Fn<decltype(&::SetFileSecurityW)>(g_security.SetFileSecurityW)(
                StoredWide(d), DACL_SECURITY_INFORMATION, d->saved_security);
        HeapFree(obj, d->saved_security);
        d->saved_security = nullptr;
    }
    HeapFree(obj, d->name_buffer);
    d->name_buffer = d->full_name = d->file_name = nullptr;
    d->name_capacity = 0;
    return result;
}

// ---- reopen data ------------------------------------------------------------

Result GetReopenData(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                     std::uint32_t size) {
    Win32IOData* d = Io(obj);
    *count = 0;
    wchar_t target[MAX_PATH + 1] = {};
    std::size_t extra = 0;
    const std::size_t targetBytes = SubstTarget(obj, target, &extra, 0);
    const std::size_t drive = targetBytes ? targetBytes - extra : 0;

    const bool shortForm = d->reopen_by_short_name != 0;
    const bool noOpen = !shortForm && (d->access_mode & fACCESS_NO_OPEN);
    const bool hasKind = shortForm || noOpen;
    PropGetter getter = shortForm ? &GetShortFullName
                        : noOpen  ? &GetNameProperty
                                  : &GetLongFullName;
    const std::uint32_t nameId = shortForm ? ioprop::kShortFullName
                                 : noOpen  ? kPropFullName
                                           : ioprop::kLongFullName;

    unsigned char* out = static_cast<unsigned char*>(buffer);
    std::uint32_t space = size;
    if (buffer && hasKind) {
        if (space < 1)
            return errBUFFER_TOO_SMALL;
        out[0] = shortForm ? 0 : 1;
        ++out;
        --space;
    }
    const std::uint32_t kindBytes = hasKind ? 1 : 0;
    space = space > extra ? static_cast<std::uint32_t>(space - extra) : 0;
    std::uint32_t nameBytes = 0;
    Result r = getter(obj, &nameBytes, nameId, buffer ? out : nullptr, buffer ? space : 0);
    if (Succeeded(r) || r == errBUFFER_TOO_SMALL) {
        nameBytes += static_cast<std::uint32_t>(extra);
        if (Succeeded(r) && buffer && targetBytes) {
            // The drive letter and colon give way to the substitution's target.
            std::memmove(out + targetBytes, out + drive, nameBytes - targetBytes);
            std::memcpy(out, target, targetBytes);
        }
    }
    *count = nameBytes + kindBytes;
    if (buffer || Failed(r))
        PluginTrace(obj, Succeeded(r) ? kTraceProgress : kTraceError,
                    "wfsys\tget %s reopen data %terr - \"%s%S\"", hasKind ? "short" : "long", r,
                    NarrowPart(buffer ? static_cast<const void*>(out) : ""),
                    WidePart(buffer ? static_cast<const void*>(out) : L""));
    if (r == errBUFFER_TOO_SMALL && !size)
        return errOK;
    return r;
}

Result SetReopenData(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
                     std::uint32_t size) {
    Win32IOData* d = Io(obj);
    *count = 0;
    PluginTrace(obj, kTraceInfo, "wfsys\tset reopen data \"%s%S\"",
                NarrowPart(buffer ? buffer : ""), WidePart(buffer ? buffer : L""));
    if (!buffer || !size)
        return errPARAMETER_INVALID;
    const auto* data = static_cast<const unsigned char*>(buffer);
    std::size_t skip = 0;
    if (data[0] > 1) {
        d->reopen_by_short_name = 0;
    } else {
        if (data[0] == 0)
            d->reopen_by_short_name = 1;
        else
            d->access_mode = fACCESS_NO_OPEN;
        skip = 1;
    }
    // The name behind a kind byte is copied to an aligned buffer.
    std::vector<wchar_t> name((size - skip) / sizeof(wchar_t) + 2, L'\0');
    std::memcpy(name.data(), data + skip, size - skip);
    const PropSetter setter = g_wideMode ? &SetNameWide : &SetNameNarrow;
    const Result r =
        setter(obj, count, kPropName, name.data(), size - static_cast<std::uint32_t>(skip));
    if (Failed(r)) {
        PluginTrace(obj, kTraceError, "wfsys\tset reopen data failed %terr", r);
        return r;
    }
    unsigned char readBack[kNameBufferBytes] = {};
    std::uint32_t readCount = 0;
    if (Succeeded(obj->sys->PropGetStr(obj, &readCount, kPropFullName, readBack, sizeof readBack,
                                       g_codePage)))
        PluginTrace(obj, kTraceProgress, "wfsys\tset reopen data succeeded (%s) \"%s%S\"",
                    "int name", NarrowPart(readBack), WidePart(readBack));
    else
        PluginTrace(obj, kTraceProgress, "wfsys\tset reopen data succeeded (%s) \"%s%S\"",
                    "ext param", NarrowPart(name.data()), WidePart(name.data()));
    return r;
}

// ---- folder removal -----------------------------------------------------------

Result RemoveDir(const void* text, std::int32_t codePage) {
    if (!g_root || !text)
        return errPARAMETER_INVALID;
    ConvertedText converted{};
    TextConvertFn convert = HostTextConversion();
    if (!convert)
        return errUNEXPECTED;
    Result r = convert(&converted, 0, 0xFFFF, text, 0, codePage);
    if (Failed(r))
        return r;
    HostBlock convertedBlock{g_root, converted.text};
    ChildObject pointer;
    r = g_root->sys->ObjectCreateQuick(g_root, &pointer.obj, IID_OBJPTR, kPidWfsys, 0);
    if (Failed(r)) {
        pointer.obj = nullptr;
        return r;
    }
    ChildObject folder;
    r = NewStringObject(&folder.obj, converted.text);
    if (Failed(r))
        return r;
    r = objptr::ChangeTo(pointer.obj, folder.obj);
    if (Succeeded(r))
        r = objptr::StepDown(pointer.obj);
    if (Failed(r)) // a missing folder is "not found", not the end of a listing
        return r == errEND_OF_THE_LIST ? errOBJECT_NOT_FOUND : r;

    while (Succeeded(objptr::Next(pointer.obj))) {
        const auto entry = pointer.obj->sys->PropGetDWord(pointer.obj, kPropAttributes);
        std::vector<wchar_t> entryName(MAX_PATH + 1);
        std::uint32_t entryBytes = 0;
        r = pointer.obj->sys->PropGetStr(
            pointer.obj, &entryBytes, kPropFullName, entryName.data(),
            static_cast<std::uint32_t>(entryName.size() * sizeof(wchar_t)), kCodePageUtf16);
        if (r == errBUFFER_TOO_SMALL) {
            entryName.resize(entryBytes / sizeof(wchar_t) + 1);
            r = pointer.obj->sys->PropGetStr(
                pointer.obj, &entryBytes, kPropFullName, entryName.data(),
                static_cast<std::uint32_t>(entryName.size() * sizeof(wchar_t)), kCodePageUtf16);
        }
        if (Failed(r))
            return r;
        if (entry & kFolderAttribute) {
            r = RemoveDir(entryName.data(), kCodePageUtf16);
            if (Failed(r)) {
                PluginTrace(g_root, kTraceError, "wfsys\tRemoveDir: subdir %S, %terr",
                            entryName.data(), r);
                return r;
            }
        } else {
            pointer.obj->sys->PropSetDWord(pointer.obj, kPropAttributes, 0);
            r = objptr::Delete(pointer.obj);
            if (Failed(r)) {
                PluginTrace(g_root, kTraceError, "wfsys\tRemoveDir: file %S, %terr",
                            entryName.data(), r);
                return r;
            }
        }
        objptr::Reset(pointer.obj, 0);
    }

    r = objptr::ChangeTo(pointer.obj, folder.obj);
    if (Failed(r))
        return r == errEND_OF_THE_LIST ? errOBJECT_NOT_FOUND : r;
    const std::uint32_t attributes = pointer.obj->sys->PropGetDWord(pointer.obj, kPropAttributes);
    pointer.obj->sys->PropSetDWord(pointer.obj, kPropAttributes, attributes & kFolderAttribute);
    r = objptr::Delete(pointer.obj);
    if (Failed(r))
        PluginTrace(g_root, kTraceError, "wfsys\tRemoveDir: dir %S, %terr", converted.text, r);
    return r;
}

Result RemoveFolderOfObject(hOBJ obj) {
    if (!obj)
        return errPARAMETER_INVALID;
    unsigned char initial[kNameBufferBytes] = {};
    void* text = initial;
    std::uint32_t count = 0;
    Result r = ReadTextProperty(obj, &text, sizeof initial, kPropFolder, &count, nullptr);
    if (Succeeded(r))
        r = RemoveDir(text, g_codePage);
    if (text != initial)
        obj->sys->ObjHeapFree(obj, text);
    return r;
}

} // namespace zev::wfsys
