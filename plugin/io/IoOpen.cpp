// The IO object's open: how its open and access modes become a Windows
// open, and the retries (identities, backup semantics, long and short
// names, attribute clearing, elevated identity, security change, forced
// reading) it goes through before it gives up.
#include "plugin/io/IoRecord.h"

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
#include "plugin/io/IoTraceFlags.h"

#include <boost/regex.hpp>
#include <boost/regex/v5/w32_regex_traits.hpp>

#include <winternl.h>

#include <cstring>
#include <mutex>
#include <string>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr wchar_t kExplorer[] = L"explorer.exe";
constexpr DWORD kHideProtectMask =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kTemporaryFlags = FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY;
constexpr DWORD kElevatedMajorVersion = 6;
constexpr std::size_t kUserNameChars = 257;
constexpr DWORD kSecurityTokenAccess = 0xF00FF;
constexpr int kIoPriorityHintClass = 12;

/// Two backslashes and then no "<", ">", ":", "|", backslash or quote.
bool IsNetworkPath(const wchar_t* name) {
    using Regex = boost::basic_regex<wchar_t, boost::w32_regex_traits<wchar_t>>;
    static std::once_flag once;
    static Regex* pattern = nullptr;
    std::call_once(once, [] {
        static Regex compiled(L"\\\\\\\\[^<>:|\\\\\"]*", boost::regex_constants::icase);
        pattern = &compiled;
    });
    try {
        return boost::regex_match(name, name + std::wcslen(name), *pattern);
    } catch (...) {
        return false;
    }
}

/// The first and second arguments of a "%s%S" name pair.
const void* NarrowPart(const void* name) {
    return g_wideMode ? static_cast<const void*>("") : name;
}
const void* WidePart(const void* name) {
    return g_wideMode ? name : static_cast<const void*>(L"");
}

void SendIoMessage(hOBJ obj, std::uint32_t id, Result code) {
    std::uint32_t size = sizeof code;
    obj->sys->sysSendMsg(obj, kMsgClassIo, id, nullptr, &code, &size);
}

bool ValidHandle(HANDLE h) {
    return h != INVALID_HANDLE_VALUE && h != nullptr;
}

/// A framework-heap block the open owns for a while.
struct HeapBlock {
    hOBJ owner;
    void* block = nullptr;
    ~HeapBlock() { HeapFree(owner, block); }
};

/// Step 1: lets the product replace environment names in the stored name.
Result ResolveProductNames(hOBJ obj) {
    Win32IOData* d = Io(obj);
    TextConvertFn convert = HostTextConversion();
    if (!convert)
        return errOK;
    ConvertedText converted{};
    if (Failed(convert(&converted, 0, 0xFFFF, d->name_buffer, 0, g_codePage)) || !converted.text)
        return errOK;
    HeapBlock text{g_root, converted.text};
    ChildObject string;
    if (Failed(g_root->sys->ObjectCreateQuick(g_root, &string.obj, kIidString, 0, 0)) ||
        !string.obj) {
        string.obj = nullptr;
        return errOK;
    }
    auto setText = reinterpret_cast<StringSetTextFn>(string.obj->methods[kStringSlotSetText - 1]);
    auto getText = reinterpret_cast<StringGetTextFn>(string.obj->methods[kStringSlotGetText - 1]);
    std::uint32_t count = 0;
    setText(string.obj, &count, converted.text, 0, kCodePageUtf16, kStringFlagWhole);
    const Result answer = obj->sys->sysSendMsg(obj, kMsgClassProductEnv, kMsgResolveEnvNames,
                                               string.obj, nullptr, nullptr);
    std::uint32_t needed = 0;
    getText(string.obj, &needed, nullptr, 0, kCodePageUtf16, kStringFlagWhole);
    std::wstring resolved(needed / sizeof(wchar_t) + 1, L'\0');
    getText(string.obj, &needed, resolved.data(),
            static_cast<std::uint32_t>(resolved.size() * sizeof(wchar_t)), kCodePageUtf16,
            kStringFlagWhole);
    resolved.resize(std::wcslen(resolved.c_str()));
    if (answer != kAnswerResolved) {
        PluginTrace(obj, kTraceError,
                    "wfsys\tIO::ObjectInitDone -- could not resolve product environment name (%S)",
                    converted.text);
        return errOK;
    }
    std::uint32_t stored = 0;
    const Result r = SetNameWide(obj, &stored, kPropFullName, resolved.c_str(),
                                 static_cast<std::uint32_t>((resolved.size() + 1) * 2));
    if (Failed(r))
        PluginTrace(obj, kTraceError,
                    "wfsys\tIO::ObjectInitDone -- could not set resolved name (%S)",
                    resolved.c_str());
    return r;
}

/// The forced-read open: the direct-read driver reads files that others lock.
Result ForcedReadOpen(hOBJ obj, Result keep) {
    Win32IOData* d = Io(obj);
    if (!g_wideMode || !g_fsDirect || !FSDirectOpen)
        return keep;
    if (d->forced_read && (d->access_mode & fACCESS_WRITE)) {
        d->win_error = ERROR_SHARING_VIOLATION;
        PluginTrace(obj, kTraceInfo, "wfsys\tIO::force read and write: object locked!");
        return errLOCKED;
    }
    if (!(d->access_mode & fACCESS_FORCE_READ) || (d->access_mode & fACCESS_WRITE))
        return keep;
    PluginTrace(obj, kTraceProgress, "wfsys\tIO::force read open request");
    const std::uint64_t old = d->direct_handle;
    d->direct_handle = 0;
    const Result r = FSDirectOpen(&d->direct_handle, StoredWide(d));
    if (Failed(r)) {
        PluginTrace(obj, kTraceError, "wfsys\tIO::force read open FAILED \"%S\" with %terr",
                    StoredWide(d), keep);
        d->direct_handle = old;
        return keep;
    }
    if (old && FSDirectClose)
        FSDirectClose(old);
    d->win_error = 0;
    PluginTrace(obj, kTraceProgress, "wfsys\tIO::force read open granted \"%S\"", StoredWide(d));
    d->forced_read = 1;
    if (d->overlapped_reader) {
        d->access_mode &= ~fACCESS_ASYNC_READ;
        DropOverlappedReader(obj);
    }
    return errOK;
}

/// The elevated-identity step: the device form of the name (in
/// `*nameBuffer`, `*havePath` true when it is there) and a token object
/// that has assumed the elevated identity.
Result ElevatedStep(hOBJ obj, void** nameBuffer, std::uint32_t* nameSize, HeapBlock& grown,
                    bool* havePath, ChildObject& token) {
    std::uint32_t count = 0;
    Result r = GetDeviceForm(obj, &count, ioprop::kDeviceForm, *nameBuffer, *nameSize);
    if (r == errBUFFER_TOO_SMALL && count) {
        void* block = nullptr;
        if (Succeeded(HeapAlloc(obj, &block, count))) {
            HeapFree(obj, grown.block);
            grown.block = block;
            *nameBuffer = block;
            *nameSize = count;
            r = GetDeviceForm(obj, &count, ioprop::kDeviceForm, block, count);
        }
    }
    *havePath = Succeeded(r);
    if (Failed(r))
        PluginTrace(obj, kTraceError,
                    "wfsys\tprepareElevatedToken GetNativePath failed, error = %terr", r);
    else
        PluginTrace(obj, kTraceProgress, "wfsys\tprepareElevatedToken new path - \"%S\"",
                    *nameBuffer);
    r = obj->sys->ObjectCreateQuick(obj, &token.obj, kIidToken, 0, 0);
    if (r == errOBJECT_INCOMPATIBLE)
        r = g_root->sys->ObjectCreateQuick(g_root, &token.obj, kIidToken, 0, 0);
    if (Succeeded(r) && token.obj)
        r = reinterpret_cast<TokenIdentityFn>(token.obj->methods[kTokenSlotIdentity - 1])(
            token.obj, kTokenAssume);
    if (Failed(r)) {
        PluginTrace(obj, kTraceError,
                    "wfsys\tprepareElevatedToken token impersonation failed, error = %terr", r);
        if (token.obj)
            token.obj->sys->ObjectClose(token.obj);
        token.obj = nullptr;
        return r;
    }
    return errOK;
}

/// The security step: gives the token owner full control of the file.
Result SecurityStep(hOBJ obj) {
    Win32IOData* d = Io(obj);
    if (!g_wideMode)
        return errNOT_SUPPORTED;
    if (d->saved_security)
        return errOK;
    auto getSecurity = Fn<decltype(&::GetFileSecurityW)>(g_security.GetFileSecurityW);
    auto setSecurity = Fn<decltype(&::SetFileSecurityW)>(g_security.SetFileSecurityW);
    if (!getSecurity || !setSecurity)
        return errUNEXPECTED;
    {
        UniqueFile probe(OpenByMode(d, d->name_buffer, GENERIC_EXECUTE, 0, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL));
        if (!probe)
            return errUNEXPECTED;
    }
    UniqueKernelHandle processToken;
    UniqueKernelHandle threadToken;
    ::OpenProcessToken(::GetCurrentProcess(), kSecurityTokenAccess, processToken.put());
    ::OpenThreadToken(::GetCurrentThread(), kSecurityTokenAccess, TRUE, threadToken.put());
    HANDLE token = threadToken ? threadToken.get() : processToken.get();
    if (!token)
        return errUNEXPECTED;
    DWORD ownerSize = 0;
    ::GetTokenInformation(token, TokenOwner, nullptr, 0, &ownerSize);
    HeapBlock owner{obj};
    if (!ownerSize || Failed(HeapAlloc(obj, &owner.block, ownerSize)) ||
        !::GetTokenInformation(token, TokenOwner, owner.block, ownerSize, &ownerSize))
        return errUNEXPECTED;
    PSID sid = static_cast<TOKEN_OWNER*>(owner.block)->Owner;
    const DWORD aclSize = ::GetLengthSid(sid) + 16;
    HeapBlock acl{obj};
    SECURITY_DESCRIPTOR descriptor{};
    if (Failed(HeapAlloc(obj, &acl.block, aclSize)) ||
        !::InitializeAcl(static_cast<ACL*>(acl.block), aclSize, ACL_REVISION) ||
        !::AddAccessAllowedAce(static_cast<ACL*>(acl.block), ACL_REVISION, GENERIC_ALL, sid) ||
        !::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, static_cast<ACL*>(acl.block), FALSE))
        return errUNEXPECTED;
    const auto* name = StoredWide(d);
    DWORD needed = 0;
    getSecurity(name, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    void* saved = nullptr;
    if (!needed || Failed(HeapAlloc(obj, &saved, needed)))
        return errUNEXPECTED;
    if (!getSecurity(name, DACL_SECURITY_INFORMATION, saved, needed, &needed)) {
        HeapFree(obj, saved);
        return errUNEXPECTED;
    }
    d->saved_security = saved;
    if (!setSecurity(name, DACL_SECURITY_INFORMATION, &descriptor))
        return errUNEXPECTED;
    return errOK;
}

void SetLowIoPriority(hOBJ obj, HANDLE handle) {
    using SetInfoFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
    static SetInfoFn setInfo = Fn<SetInfoFn>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle"));
    DWORD hint = 0;
    if (setInfo && setInfo(handle, kIoPriorityHintClass, &hint, sizeof hint) == 1)
        PluginTrace(obj, kTraceInfo, "wfsys\tSetIoPriority OK.");
    else
        PluginTrace(obj, kTraceInfo, "wfsys\tSetIoPriority Error.");
}

/// Steps 10.9: proves on a removable or network drive that writing works.
void WriteCheck(hOBJ obj) {
    Win32IOData* d = Io(obj);
    std::uint32_t count = 0;
    std::uint32_t driveType = 0;
    GetDriveTypeProp(obj, &count, ioprop::kDriveType, &driveType, sizeof driveType);
    if (driveType == DRIVE_FIXED || !ValidHandle(d->handle))
        return;
    auto step = [&](bool ok) {
        if (!ok && d->win_error == 0)
            d->win_error = ::GetLastError();
        return d->win_error == 0;
    };
    auto seekStart = [&] {
        return ::SetFilePointer(d->handle, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
               ::GetLastError() == NO_ERROR;
    };
    DWORD done = 0;
    unsigned char byte = 0;
    if (d->file_information.nFileSizeLow == 0 && d->file_information.nFileSizeHigh == 0) {
        const unsigned char probe = 0x5A;
        unsigned char back = 0;
        step(::WriteFile(d->handle, &probe, 1, &done, nullptr)) && step(seekStart()) &&
            step(::ReadFile(d->handle, &back, 1, &done, nullptr)) && step(seekStart()) &&
            step(::SetEndOfFile(d->handle));
        if (d->win_error == 0 && back != probe)
            d->win_error = ERROR_ACCESS_DENIED;
    } else {
        step(::ReadFile(d->handle, &byte, 1, &done, nullptr)) && step(seekStart()) &&
            step(::WriteFile(d->handle, &byte, 1, &done, nullptr)) && step(seekStart());
    }
}

} // namespace

HANDLE OpenByMode(const Win32IOData* d, const void* name, DWORD access, DWORD share, DWORD creation,
                  DWORD flags) {
    if (d->native_open && g_wideMode)
        return NativeOpen(static_cast<const wchar_t*>(name), access, share, nullptr, creation,
                          flags, nullptr);
    return CreateFileByName(name, access, share, creation, flags);
}

void DropOverlappedReader(hOBJ obj) {
    Win32IOData* d = Io(obj);
    if (!d->overlapped_reader)
        return;
    if (d->overlapped_reader->overlapped.hEvent)
        ::CloseHandle(d->overlapped_reader->overlapped.hEvent);
    HeapFree(obj, d->overlapped_reader);
    d->overlapped_reader = nullptr;
}

HANDLE NativeOpen(const wchar_t* name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                  DWORD creation, DWORD flags, HANDLE) {
    using NtCreateFileFn =
        NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                         ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
    using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);
    auto ntCreate = Fn<NtCreateFileFn>(g_native.NtCreateFile);
    if (!ntCreate || !name) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring native;
    if (std::wcsncmp(name, kNativePrefix, kNativePrefixChars) == 0) {
        native = name;
    } else {
        std::wstring path = name;
        if (g_kernel.fGetFullPathName) {
            auto full = Fn<decltype(&::GetFullPathNameW)>(g_kernel.fGetFullPathName);
            const DWORD needed = full(name, 0, nullptr, nullptr);
            if (needed) {
                std::wstring expanded(needed, L'\0');
                const DWORD got = full(name, needed, expanded.data(), nullptr);
                if (got && got < needed) {
                    expanded.resize(got);
                    path = expanded;
                }
            }
        }
        if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0)
            native = kNativePrefix + path.substr(4);
        else if (path.compare(0, 2, L"\\\\") == 0)
            native = std::wstring(kNativePrefix) + L"UNC" + path.substr(1);
        else
            native = kNativePrefix + path;
    }
    UNICODE_STRING text{};
    text.Buffer = native.data();
    text.Length = static_cast<USHORT>(native.size() * sizeof(wchar_t));
    text.MaximumLength = static_cast<USHORT>(text.Length + sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &text;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    if (security && security->bInheritHandle)
        attributes.Attributes |= OBJ_INHERIT;
    attributes.SecurityDescriptor = security ? security->lpSecurityDescriptor : nullptr;

    ULONG disposition = 0;
    switch (creation) {
    case CREATE_NEW:
        disposition = FILE_CREATE;
        break;
    case CREATE_ALWAYS:
        disposition = FILE_OVERWRITE_IF;
        break;
    case OPEN_EXISTING:
        disposition = FILE_OPEN;
        break;
    case OPEN_ALWAYS:
        disposition = FILE_OPEN_IF;
        break;
    case TRUNCATE_EXISTING:
        disposition = FILE_OVERWRITE;
        break;
    default:
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    ULONG options = FILE_COMPLETE_IF_OPLOCKED;
    struct FlagOption {
        DWORD flag;
        ULONG option;
    };
    static constexpr FlagOption kOptions[] = {
        {FILE_FLAG_WRITE_THROUGH, FILE_WRITE_THROUGH},
        {FILE_FLAG_NO_BUFFERING, FILE_NO_INTERMEDIATE_BUFFERING},
        {FILE_FLAG_RANDOM_ACCESS, FILE_RANDOM_ACCESS},
        {FILE_FLAG_SEQUENTIAL_SCAN, FILE_SEQUENTIAL_ONLY},
        {FILE_FLAG_DELETE_ON_CLOSE, FILE_DELETE_ON_CLOSE},
        {FILE_FLAG_BACKUP_SEMANTICS, FILE_OPEN_FOR_BACKUP_INTENT},
        {FILE_FLAG_OPEN_REPARSE_POINT, FILE_OPEN_REPARSE_POINT},
        {FILE_FLAG_OPEN_NO_RECALL, FILE_OPEN_NO_RECALL},
    };
    for (const FlagOption& o : kOptions)
        if (flags & o.flag)
            options |= o.option;
    if (!(flags & FILE_FLAG_OVERLAPPED))
        options |= FILE_SYNCHRONOUS_IO_NONALERT;
    ACCESS_MASK desired = access | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    if (options & FILE_DELETE_ON_CLOSE)
        desired |= DELETE;
    HANDLE handle = nullptr;
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ntCreate(&handle, desired, &attributes, &io, nullptr, flags & 0x7FFF,
                                     share, disposition, options, nullptr, 0);
    PluginTrace(g_root, kTraceInfo, "wfsys\tNtCreateFile \"%S\", NTSTATUS %X", native.c_str(),
                status);
    if (status < 0) {
        auto toError = Fn<StatusToErrorFn>(g_native.RtlNtStatusToDosError);
        ::SetLastError(toError ? toError(status) : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (status == static_cast<NTSTATUS>(0x108)) { // oplock break in progress
        ::CloseHandle(handle);
        ::SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

Result ObjectInitDone(hOBJ obj) {
    Win32IOData* d = Io(obj);
    Result result = errOK;
    d->handle = INVALID_HANDLE_VALUE;
    d->win_error = 0;

    // 1. Product environment names.
    if ((d->open_mode & kOpenProductEnvNames) && HasName(d)) {
        if (Result r = ResolveProductNames(obj); Failed(r))
            return r;
    }
    // 2, 3. A name and consistent access flags.
    if (!HasName(d)) {
        d->handle = INVALID_HANDLE_VALUE;
        const void* full = d->full_name ? d->full_name : (g_wideMode ? (const void*)L"" : "");
        PluginTrace(obj, kTraceError,
                    "wfsys\tIO::ObjectInitDone -- err=errOBJECT_NOT_INITIALIZED, bad object name "
                    "(%s%S)",
                    NarrowPart(full), WidePart(full));
        return errOBJECT_NOT_INITIALIZED;
    }
    if ((d->access_mode & fACCESS_CHECK_WRITE) && !(d->access_mode & fACCESS_WRITE)) {
        d->handle = INVALID_HANDLE_VALUE;
        PluginTrace(obj, kTraceError,
                    "wfsys\tIO::ObjectInitDone(%s%S) -- err=errPARAMETER_INVALID, bad access flags "
                    "- fACCESS_CHECK_WRITE set without fACCESS_WRITE",
                    NarrowPart(d->full_name), WidePart(d->full_name));
        return errPARAMETER_INVALID;
    }
    // 4. The long form first.
    if (g_wideMode && d->reparse_name && d->name_buffer != d->full_name &&
        g_kernel.fGetFullPathName) {
        int unchanged = 1;
        void* block = nullptr;
        std::uint32_t capacity = 0;
        void* full = nullptr;
        if (Result r = GetFullLongName(obj, &unchanged, &block, &capacity, &full); Failed(r))
            return r;
        if (unchanged) {
            HeapFree(obj, block);
        } else {
            HeapFree(obj, d->name_buffer);
            d->name_buffer = block;
            d->name_capacity = capacity;
            d->full_name = full;
            LocateFileName(d);
            NormaliseName(d);
        }
    }
    // 5. Open parameters.
    const bool completed = obj->sys->ObjectCheckState(obj, kPropCreationCompleted) == 1;
    DWORD creation = 0;
    DWORD flags = FILE_FLAG_RANDOM_ACCESS;
    const std::uint32_t om = d->open_mode;
    if (om & kOpenBackupSemantics) {
        creation = OPEN_EXISTING;
        flags |= FILE_FLAG_BACKUP_SEMANTICS;
    } else if (completed) {
        creation = OPEN_EXISTING;
    } else if (om & kOpenTruncateVariant) {
        static constexpr DWORD kTruncating[] = {0, TRUNCATE_EXISTING, CREATE_NEW, CREATE_ALWAYS};
        creation = kTruncating[om & kOpenCreationMask];
    } else {
        static constexpr DWORD kPlain[] = {0, OPEN_EXISTING, CREATE_NEW, OPEN_ALWAYS};
        creation = kPlain[om & kOpenCreationMask];
    }
    if (om & kOpenHidden)
        flags |= FILE_ATTRIBUTE_HIDDEN;
    if (om & kOpenTemporary)
        flags |= kTemporaryFlags;
    DWORD share = 0;
    if (!(om & kOpenNoShareRead))
        share |= FILE_SHARE_READ;
    if (!(om & kOpenNoShareWrite))
        share |= FILE_SHARE_WRITE;
    if (g_wideMode && !(om & kOpenNoShareDelete))
        share |= FILE_SHARE_DELETE;
    DWORD access = 0;
    if (d->access_mode & fACCESS_READ)
        access |= GENERIC_READ;
    if (d->access_mode & fACCESS_WRITE)
        access |= GENERIC_WRITE;
    if (d->access_mode & fACCESS_DELETE)
        access |= DELETE;
    if (d->access_mode & fACCESS_NO_BUFFERING)
        flags |= FILE_FLAG_NO_BUFFERING;
    const bool asyncRead =
        (d->access_mode & fACCESS_ASYNC_READ) && !(d->access_mode & fACCESS_WRITE);
    if (asyncRead) {
        flags |= FILE_FLAG_OVERLAPPED;
        if (!d->overlapped_reader) {
            void* block = nullptr;
            if (Succeeded(HeapAlloc(obj, &block, sizeof(OverlappedReader)))) {
                auto* reader = static_cast<OverlappedReader*>(block);
                std::memset(reader, 0, sizeof *reader);
                reader->overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
                reader->handle = &d->handle;
                d->overlapped_reader = reader;
            }
        }
    }

    ChildObject elevatedToken;
    if (!(d->access_mode & fACCESS_NO_OPEN)) {
        // 7. Retry switches.
        bool tryLong = g_wideMode != 0;
        bool tryShort = !g_wideMode;
        bool tryClear = d->may_clear_attributes && (access & GENERIC_WRITE);
        bool trySecurity = (om & kOpenAllowSecurityRetry) != 0;
        bool tryElevated = (g_versionQuery() & 0xFF) >= kElevatedMajorVersion;
        bool tryBackup = true;
        const void* nameUsed = d->name_buffer;
        unsigned char shortInitial[kNameBufferBytes] = {};
        HeapBlock shortGrown{obj};
        void* shortBuffer = shortInitial;
        std::uint32_t shortSize = sizeof shortInitial;
        int attempts = 0;
        UniqueKernelHandle keptThreadToken;
        // The stored name as it was before a long form replaced it.
        struct SavedName {
            void* buffer = nullptr;
            std::uint32_t capacity = 0;
            void* full = nullptr;
            void* file = nullptr;
        } before;
        HANDLE opened = INVALID_HANDLE_VALUE;
        bool skipLoop = false;

        // 8. Forced reading first.
        if ((om & kOpenForceReadFirst) && (d->access_mode & kAccessReadWriteMask) == fACCESS_READ) {
            const Result forced = ForcedReadOpen(obj, errUNEXPECTED);
            if (Succeeded(forced)) {
                skipLoop = true;
                result = forced;
            }
        }
        // 9. The open loop.
        while (!skipLoop) {
            bool network = false;
            {
                CProcessImpersonizer impersonation(obj);
                if (g_wideMode && IsNetworkPath(StoredWide(d))) {
                    network = true;
                    PluginTrace(obj, kTraceInfo,
                                "wfsys\tNetwork path detected, impersonate to local user");
                    if (!impersonation.ImpersonateByProcessName(kExplorer))
                        PluginTrace(obj, kTraceError,
                                    "\x01\xD8\xAD\xFE\x9F\xDA\xC9\xBF?\twfsys\tFailed to "
                                    "impersonate by process explorer.exe");
                }
                opened = OpenByMode(d, nameUsed, access, share, creation, flags);
            }
            (void)network;
            if (ValidHandle(opened))
                break;
            d->win_error = ::GetLastError();
            if (d->win_error == ERROR_ACCESS_DENIED) {
                CProcessImpersonizer impersonation(obj);
                if (impersonation.ImpersonateByProcessName(kExplorer)) {
                    wchar_t user[kUserNameChars] = {};
                    DWORD chars = kUserNameChars;
                    if (::GetUserNameW(user, &chars))
                        PluginTrace(obj, kTraceInfo, "wfsys\tImpersonated to user %S", user);
                    else
                        PluginTrace(obj, kTraceInfo,
                                    "wfsys\tImpersonated to current user, GetUserNameW failed");
                } else {
                    PluginTrace(obj, kTraceError,
                                "\x01\xD8\xAD\xFE\x9F\xDA\xC9\xBF?\twfsys\tFailed to impersonate "
                                "by process explorer.exe");
                }
                opened = OpenByMode(d, nameUsed, access, share, creation, flags);
                const DWORD error = ::GetLastError();
                impersonation.Revert();
                ::SetLastError(error);
                if (ValidHandle(opened))
                    break;
            }
            d->win_error = ::GetLastError();
            result = MapWin32Error(d->win_error);
            {
                TraceFlags a{NameAccessFlag, access}, s{NameShareFlag, share},
                    c{NameCreation, creation}, f{NameFileFlag, flags};
                PluginTrace(obj, kTraceInfo,
                            "wfsys\tCreateFile failed (0x%08x) - \"%s%S\" (access=%tflags, "
                            "share=%tflags, creation=%tenum, flags=%tflags)",
                            d->win_error, NarrowPart(nameUsed), WidePart(nameUsed), &a, &s, &c, &f);
            }
            if (d->win_error == ERROR_FILE_NOT_FOUND || d->win_error == ERROR_PATH_NOT_FOUND) {
                PluginTrace(obj, kTraceProgress, "wfsys\tfile not found - try to reopen");
                if (tryLong) {
                    tryLong = false;
                    if (!d->reparse_name) {
                        PluginTrace(obj, kTraceProgress, "wfsys\tfile name already preparsed");
                    } else if (!g_kernel.fGetFullPathName) {
                        PluginTrace(obj, kTraceProgress,
                                    "wfsys\thas no fGetFullPathName pointer (to get long name)");
                    } else if (d->name_buffer == d->full_name) {
                        PluginTrace(obj, kTraceProgress,
                                    "wfsys\tfile name seems to be the same as parsed");
                    } else {
                        int unchanged = 1;
                        void* block = nullptr;
                        std::uint32_t capacity = 0;
                        void* full = nullptr;
                        const Result r = GetFullLongName(obj, &unchanged, &block, &capacity, &full);
                        if (Failed(r)) {
                            PluginTrace(obj, kTraceProgress,
                                        "wfsys\terror (%terr) getting long name", r);
                        } else if (unchanged) {
                            HeapFree(obj, block);
                            PluginTrace(obj, kTraceProgress, "wfsys\tlong name is the same");
                        } else {
                            if (!before.buffer)
                                before = {d->name_buffer, d->name_capacity, d->full_name,
                                          d->file_name};
                            else
                                HeapFree(obj, d->name_buffer);
                            d->name_buffer = block;
                            d->name_capacity = capacity;
                            d->full_name = full;
                            LocateFileName(d);
                            nameUsed = d->name_buffer;
                            tryShort = false;
                            PluginTrace(obj, kTraceProgress,
                                        "wfsys\ttry to reopen by long name \"%S\"", d->full_name);
                            ++attempts;
                            continue;
                        }
                    }
                }
                if (tryShort) {
                    tryShort = false;
                    PluginTrace(obj, kTraceProgress, "wfsys\ttry to reopen by short name");
                    std::uint32_t count = 0;
                    Result r = GetShortFullName(obj, &count, ioprop::kShortFullName, shortBuffer,
                                                shortSize);
                    if (r == errBUFFER_TOO_SMALL && count &&
                        Succeeded(HeapAlloc(obj, &shortGrown.block, count))) {
                        shortBuffer = shortGrown.block;
                        shortSize = count;
                        r = GetShortFullName(obj, &count, ioprop::kShortFullName, shortBuffer,
                                             shortSize);
                    }
                    if (Succeeded(r)) {
                        nameUsed = shortBuffer;
                        PluginTrace(obj, kTraceProgress, "wfsys\tshort name - \"%s%S\"",
                                    NarrowPart(nameUsed), WidePart(nameUsed));
                        ++attempts;
                        continue;
                    }
                    PluginTrace(obj, kTraceInfo,
                                "wfsys\tget short name failed %terr(%d,0x%08x) - \"%s%S\"", r,
                                d->win_error, d->win_error, NarrowPart(d->name_buffer),
                                WidePart(d->name_buffer));
                }
                break;
            }
            if (d->win_error != ERROR_ACCESS_DENIED)
                break;
            // Access denied.
            if (Succeeded(IsExistingFolder(d->name_buffer)))
                break;
            if (tryBackup) {
                tryBackup = false;
                flags |= FILE_FLAG_BACKUP_SEMANTICS;
                PluginTrace(obj, kTraceInfo, "wfsys\tCreateFile added flag BACKUP_SEMANTICS");
                if (::OpenThreadToken(::GetCurrentThread(), kTokenAccess, TRUE,
                                      keptThreadToken.put())) {
                    ::RevertToSelf();
                    PluginTrace(obj, kTraceInfo,
                                "wfsys\tCreateFile revert impersonation to process");
                } else {
                    PluginTrace(obj, kTraceInfo,
                                "wfsys\tCreateFile can't revert to system, OpenThreadToken failed, "
                                "win_err = 0x%08X",
                                ::GetLastError());
                }
                ++attempts;
                continue;
            }
            bool goOn = true;
            if (tryClear) {
                tryClear = false;
                if (d->saved_attributes == INVALID_FILE_ATTRIBUTES)
                    d->saved_attributes = AttributesOf(d->name_buffer);
                if (d->saved_attributes != INVALID_FILE_ATTRIBUTES &&
                    (d->saved_attributes & kHideProtectMask)) {
                    if (SetAttributesOf(d->name_buffer, d->saved_attributes & ~kHideProtectMask)) {
                        if (!(om & kOpenLowThreeBits))
                            d->restore_attributes = 1;
                        ++attempts;
                        continue;
                    }
                    if (!tryElevated) {
                        d->win_error = ::GetLastError();
                        result = MapWin32Error(d->win_error);
                        SendIoMessage(obj, kMsgIoClearAttributesFailed, result);
                        goOn = false;
                    }
                }
            }
            if (!goOn)
                break;
            if (tryElevated) {
                tryElevated = false;
                bool havePath = false;
                const Result r = ElevatedStep(obj, &shortBuffer, &shortSize, shortGrown, &havePath,
                                              elevatedToken);
                if (havePath)
                    nameUsed = shortBuffer;
                if (Succeeded(r)) {
                    tryClear = d->may_clear_attributes && (access & GENERIC_WRITE);
                    ++attempts;
                    continue;
                }
            }
            if (trySecurity) {
                trySecurity = false;
                if (g_security.GetFileSecurityW && Succeeded(SecurityStep(obj))) {
                    ++attempts;
                    continue;
                }
            }
            break;
        }

        // 10. After the loop.
        if (!skipLoop && ValidHandle(opened)) {
            d->handle = opened;
            d->win_error = 0;
            result = errOK;
            TraceFlags a{NameAccessFlag, access}, s{NameShareFlag, share},
                c{NameCreation, creation}, f{NameFileFlag, flags};
            if (attempts == 0)
                PluginTrace(obj, kTraceProgress,
                            "wfsys\tCreateFile succeeded - \"%s%S\" (access=%tflags, "
                            "share=%tflags, creation=%tenum, flags=%tflags) (%08X)",
                            NarrowPart(nameUsed), WidePart(nameUsed), &a, &s, &c, &f, opened);
            else
                PluginTrace(obj, kTraceInfo,
                            "wfsys\tCreateFile reopen succeeded - attempt(%d) - \"%s%S\" "
                            "(access=%tflags, share=%tflags, creation=%tenum, flags=%tflags) "
                            "(%08X)",
                            attempts, NarrowPart(nameUsed), WidePart(nameUsed), &a, &s, &c, &f,
                            opened);
            if (om & kOpenLowPriority)
                SetLowIoPriority(obj, opened);
        }
        if (keptThreadToken) {
            ::SetThreadToken(nullptr, keptThreadToken.get());
            keptThreadToken.reset();
            PluginTrace(obj, kTraceInfo, "wfsys\tCreateFile revert to user");
        }
        if (elevatedToken.obj)
            reinterpret_cast<TokenIdentityFn>(elevatedToken.obj->methods[kTokenSlotIdentity - 1])(
                elevatedToken.obj, kTokenRevert);
        if (before.buffer) {
            if (Failed(result)) {
                HeapFree(obj, d->name_buffer);
                d->name_buffer = before.buffer;
                d->name_capacity = before.capacity;
                d->full_name = before.full;
                d->file_name = before.file;
            } else {
                HeapFree(obj, before.buffer);
            }
        }
        if (Failed(result)) {
            const Result forced = ForcedReadOpen(obj, result);
            if (Succeeded(forced)) {
                result = errOK;
            } else {
                if ((d->win_error == ERROR_ACCESS_DENIED || d->win_error == ERROR_PATH_NOT_FOUND) &&
                    Succeeded(IsExistingFolder(d->name_buffer)))
                    result = errIS_FOLDER;
                else
                    result = forced;
                SendIoMessage(obj, d->reopening ? kMsgIoReopenCheckFailed : kMsgIoOpenFailed,
                              result);
                return result;
            }
        }
        // 10.6 What the file is.
        d->written = 0;
        if (ValidHandle(d->handle) &&
            ::GetFileInformationByHandle(d->handle, &d->file_information)) {
            d->size = (std::uint64_t(d->file_information.nFileSizeHigh) << 32) |
                      d->file_information.nFileSizeLow;
            d->file_index = (std::uint64_t(d->file_information.nFileIndexHigh) << 32) |
                            d->file_information.nFileIndexLow;
            d->volume_serial = d->file_information.dwVolumeSerialNumber;
        } else {
            if (ValidHandle(d->handle))
                PluginTrace(obj, kTraceError, "wfsys\tGetFileInformationByHandle failed(0x%08x)",
                            ::GetLastError());
            DirectFileInfo info{};
            if (d->direct_handle && FSDirectGetFileInfo &&
                Succeeded(FSDirectGetFileInfo(d->direct_handle, &info))) {
                auto toFileTime = [](std::uint64_t value) {
                    const std::uint64_t ft = FileTimeFromDateTime(value);
                    return FILETIME{static_cast<DWORD>(ft), static_cast<DWORD>(ft >> 32)};
                };
                d->file_information.dwFileAttributes = info.attributes;
                d->file_information.nFileSizeLow = static_cast<DWORD>(info.size);
                d->file_information.nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
                d->file_information.ftCreationTime = toFileTime(info.creationTime);
                d->file_information.ftLastAccessTime = toFileTime(info.lastAccessTime);
                d->file_information.ftLastWriteTime = toFileTime(info.lastWriteTime);
                d->size = info.size;
            } else {
                PluginTrace(obj, kTraceError, "wfsys\tFSDirectGetFileInfo failed");
            }
        }
        std::memset(&d->times_record, 0, sizeof d->times_record);
        d->times_record.inactive = 1;
        // 10.7 Lock probe.
        if (d->size && ValidHandle(d->handle) && (access & GENERIC_WRITE)) {
            const DWORD low = static_cast<DWORD>(d->size);
            const DWORD high = static_cast<DWORD>(d->size >> 32);
            if (::LockFile(d->handle, 0, 0, low, high)) {
                ::UnlockFile(d->handle, 0, 0, low, high);
            } else {
                ::CloseHandle(d->handle);
                d->handle = INVALID_HANDLE_VALUE;
                result = errLOCKED;
                d->win_error = ERROR_LOCK_VIOLATION;
            }
        }
        // 10.8 Attributes back at once.
        if (d->restore_attributes) {
            if (SetAttributesOf(d->name_buffer, d->saved_attributes)) {
                d->restore_attributes = 0;
            } else {
                d->win_error = ::GetLastError();
                SendIoMessage(obj, kMsgIoRestoreAttributesFailed, MapWin32Error(d->win_error));
            }
        }
        // 10.9 Write check.
        if ((d->access_mode & fACCESS_CHECK_WRITE) && (d->access_mode & fACCESS_WRITE)) {
            WriteCheck(obj);
            if (d->win_error) {
                result = MapWin32Error(d->win_error);
                SendIoMessage(obj, d->reopening ? kMsgIoReopenCheckFailed : kMsgIoOpenFailed,
                              result);
            }
        }
    }
    // 11.
    if (Failed(result))
        return result;
    // 12. Shared objects.
    if (d->open_mode & kOpenShared) {
        d->open_mode |= kOpenSeekAlways;
        if (!d->lock_object) {
            hOBJ lock = nullptr;
            result = obj->sys->ObjectCreateQuick(obj, &lock, kIidLock, 0, 0);
            if (Failed(result))
                return result;
            d->lock_object = lock;
        }
    }
    // 13. A reader that the access does not use.
    if (d->overlapped_reader &&
        !((d->access_mode & fACCESS_ASYNC_READ) && !(d->access_mode & fACCESS_WRITE)))
        DropOverlappedReader(obj);
    return result;
}

} // namespace zev::wfsys
