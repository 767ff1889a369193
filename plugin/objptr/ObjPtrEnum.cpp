// ObjPtr: the data record's lifecycle, folder and mask, the file and folder
// passes over the Windows find functions or the native reader, and the
// operation log.
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/Impersonation.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"
#include "plugin/io/PropertyValue.h"
#include "plugin/objptr/NativeReader.h"
#include "plugin/objptr/ObjPtrRecord.h"

#include <algorithm>
#include <cstring>
#include <cstddef>
#include <cwchar>
#include <cwctype>
#include <utility>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr wchar_t kAllMask[] = L"*";
constexpr wchar_t kNameTerminatorOnly = L'\0';
constexpr std::uint32_t kNoNameLength = sizeof(wchar_t);
constexpr DWORD kElevatedMajorVersion = 6;

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

Result HeapAllocBlock(hOBJ obj, void** out, std::size_t size) {
    return obj->sys->ObjHeapAlloc(obj, out, size);
}
void HeapFreeBlock(hOBJ obj, void* block) {
    if (block)
        obj->sys->ObjHeapFree(obj, block);
}

bool NativeSelected(const ObjPtrData* d) {
    return d->native_enum == kNativeEnumOn;
}

/// Closes an open read; the Windows error of the close (0 when fine).
DWORD CloseRead(ObjPtrData* d) {
    if (!d->find_context)
        return 0;
    HANDLE context = std::exchange(d->find_context, nullptr);
    if (NativeSelected(d))
        return NativeFindClose(context, &d->file_id) ? 0 : ::GetLastError();
    if (!g_kernel.fFindClose)
        return 0;
    return Fn<decltype(&::FindClose)>(g_kernel.fFindClose)(context) ? 0 : ::GetLastError();
}

const char* StateName(const ObjPtrData* d) {
    static const char* const kFile[] = {"und,file", "bef,file", "ptr,file", "aft,file"};
    static const char* const kFolder[] = {"und,fold", "bef,fold", "ptr,fold", "aft,fold"};
    if (d->state > kStateAft)
        return d->pass ? "unk,fold" : "unk,file";
    return d->pass ? kFolder[d->state] : kFile[d->state];
}

const wchar_t* TextOrEmpty(const wchar_t* text) {
    return text ? text : L"";
}

/// Cuts the folder back to its root; errBAD_PATH when it has none.
Result TruncateToRoot(ObjPtrData* d) {
    if (!d->folder_buffer || !d->folder_buffer[0])
        return errBAD_PATH;
    wchar_t* text = d->folder_buffer;
    const std::size_t chars = std::wcslen(text);
    std::ptrdiff_t keep = -1;
    if (ShareRootEnd(text, chars * sizeof(wchar_t), 0) >= 0) {
        const std::ptrdiff_t end = ShareRootEnd(text, chars * sizeof(wchar_t), 0);
        keep = (static_cast<std::size_t>(end) < chars) ? end + 1 : end;
    } else {
        const wchar_t* drive = text;
        if (std::wcsncmp(text, kLongPrefix, kLongPrefixChars) == 0)
            drive = text + kLongPrefixChars;
        if (std::iswalpha(drive[0]) && drive[1] == L':' && IsSeparator(drive[2]))
            keep = (drive - text) + 3;
    }
    if (keep < 0)
        return errBAD_PATH;
    text[keep] = L'\0';
    d->folder_capacity = static_cast<std::uint32_t>((keep + 1) * sizeof(wchar_t));
    return errOK;
}

/// Copies the mask the pass was started with into `used_mask`.
void RememberUsedMask(hOBJ obj, const wchar_t* mask) {
    ObjPtrData* d = Ptr(obj);
    const std::size_t bytes = (std::wcslen(mask) + 1) * sizeof(wchar_t);
    if (d->used_mask_capacity < bytes || !d->used_mask) {
        HeapFreeBlock(obj, d->used_mask);
        d->used_mask = nullptr;
        d->used_mask_capacity = 0;
        void* block = nullptr;
        if (Failed(HeapAllocBlock(obj, &block, bytes)))
            return;
        d->used_mask = static_cast<wchar_t*>(block);
        d->used_mask_capacity = static_cast<std::uint32_t>(bytes);
    }
    std::memcpy(d->used_mask, mask, bytes);
}

Result FetchFirst(hOBJ obj);
Result FetchReplay(hOBJ obj);

constexpr std::uint32_t kReplayFirstCapacity = 16;

std::size_t ReplayBytes(std::uint32_t capacity) {
    return offsetof(FolderReplay, entries) + capacity * sizeof(FolderReplay::Entry);
}

/// Starts recording for a file pass whose folder pass would read the same
/// listing again; without a block (no memory) the folder pass lists anew.
void StartRecording(hOBJ obj, const wchar_t* fileMask, const wchar_t* folderMask) {
    ObjPtrData* d = Ptr(obj);
    if (d->replay) {
        d->replay->recording = 0;
        d->replay->count = 0;
    }
    if (std::wcscmp(fileMask, folderMask) != 0)
        return;
    if (!d->replay) {
        void* block = nullptr;
        if (Failed(obj->sys->ObjHeapAlloc(obj, &block, ReplayBytes(kReplayFirstCapacity))))
            return;
        d->replay = static_cast<FolderReplay*>(block);
        d->replay->capacity = kReplayFirstCapacity;
    }
    d->replay->recording = 1;
}

/// Keeps the folder the file pass stands on; when the block cannot grow,
/// recording stops and the folder pass lists the folder again.
void RecordFolder(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    FolderReplay* replay = d->replay;
    if (replay->count == replay->capacity) {
        void* block = nullptr;
        const std::uint32_t capacity = replay->capacity * 2;
        if (Failed(obj->sys->ObjHeapRealloc(obj, &block, replay, ReplayBytes(capacity)))) {
            replay->recording = 0;
            return;
        }
        replay = d->replay = static_cast<FolderReplay*>(block);
        replay->capacity = capacity;
    }
    FolderReplay::Entry& e = replay->entries[replay->count++];
    e.index = d->entry_index;
    e.fileId = d->file_id;
    e.data = d->find_data;
}

/// Turns the read's Windows error into the cursor's state and result.
Result TranslateFindResult(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    if (d->win_error == ERROR_SUCCESS) {
        if (d->pass == 0 && d->replay && d->replay->recording &&
            (d->find_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            RecordFolder(obj);
        d->name_length =
            static_cast<std::uint32_t>((std::wcslen(d->find_data.cFileName) + 1) * sizeof(wchar_t));
        d->state = kStatePtr;
        return errOK;
    }
    d->find_data.cFileName[0] = kNameTerminatorOnly;
    d->name_length = kNoNameLength;
    if (d->win_error == ERROR_FILE_NOT_FOUND || d->win_error == ERROR_NO_MORE_FILES) {
        if (d->pass == 0) {
            d->pass = 1;
            if (d->replay && d->replay->recording) {
                d->win_error = CloseRead(d);
                d->replay->recording = 0;
                d->replay->position = 0;
                d->fetch = kFetchReplay;
                return FetchReplay(obj);
            }
            return FetchFirst(obj);
        }
        d->state = kStateAft;
        LogOperation(obj, errEND_OF_THE_LIST, kTraceDetail, "end_of_the_list");
        return errEND_OF_THE_LIST;
    }
    d->state = kStateUnd;
    return MapFindError(d->win_error);
}

HANDLE OpenRead(ObjPtrData* d, const wchar_t* pattern) {
    if (NativeSelected(d))
        return NativeFindFirst(pattern, &d->find_data, &d->file_id);
    return Fn<decltype(&::FindFirstFileW)>(g_kernel.fFindFirstFile)(pattern, &d->find_data);
}

Result FetchFirst(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = CloseRead(d);
    d->entry_index = 0;
    d->find_data.cFileName[0] = kNameTerminatorOnly;
    d->name_length = kNoNameLength;
    if (d->pass > 1)
        return errEND_OF_THE_LIST;

    const wchar_t* mask = (d->pass == 0 || d->mask_folders_active) ? d->mask : kAllMask;
    if (d->pass == 0)
        StartRecording(obj, mask, d->mask_folders_active ? d->mask : kAllMask);
    std::wstring pattern = TextOrEmpty(d->folder_buffer);
    pattern += mask;
    if ((pattern.size() + 1) * sizeof(wchar_t) >= kMaxPatternBytes)
        return errBUFFER_TOO_SMALL;

    HANDLE context = OpenRead(d, pattern.c_str());
    if (context == INVALID_HANDLE_VALUE) {
        context = nullptr;
        d->win_error = ::GetLastError();
        if (d->win_error == ERROR_ACCESS_DENIED && RetryWithIdentity(obj, [&] {
                context = OpenRead(d, pattern.c_str());
                return context != INVALID_HANDLE_VALUE;
            }))
            d->win_error = 0;
        if (context == INVALID_HANDLE_VALUE)
            context = nullptr;
    } else {
        d->win_error = 0;
    }
    d->find_context = context;
    RememberUsedMask(obj, mask);
    LogOperation(obj, errOK, kTraceDetail, "init_enum");
    d->fetch = kFetchContinue;
    return TranslateFindResult(obj);
}

Result FetchReplay(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    FolderReplay* replay = d->replay;
    if (replay && replay->position < replay->count) {
        const FolderReplay::Entry& e = replay->entries[replay->position++];
        d->find_data = e.data;
        d->file_id = e.fileId;
        d->entry_index = e.index;
        d->win_error = 0;
    } else {
        d->win_error = ERROR_NO_MORE_FILES;
    }
    return TranslateFindResult(obj);
}

BOOL ReadNext(ObjPtrData* d) {
    if (NativeSelected(d))
        return NativeFindNext(d->find_context, &d->find_data, &d->file_id);
    return Fn<decltype(&::FindNextFileW)>(g_kernel.fFindNextFile)(d->find_context, &d->find_data);
}

Result FetchContinue(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    if (ReadNext(d)) {
        ++d->entry_index;
        d->win_error = 0;
    } else {
        d->win_error = ::GetLastError();
        if (d->win_error == ERROR_ACCESS_DENIED) {
            CThreadTokenSuspension suspended;
            if (suspended.HadToken() && ReadNext(d)) {
                ++d->entry_index;
                d->win_error = 0;
            }
        }
    }
    return TranslateFindResult(obj);
}

bool IsDotEntry(ObjPtrData* d) {
    const wchar_t* name = d->find_data.cFileName;
    if (d->entry_index == 0 && std::wcscmp(name, L".") == 0) {
        d->dot_seen = 1;
        return true;
    }
    return d->dot_seen && d->entry_index == 1 && std::wcscmp(name, L"..") == 0;
}

/// Measured length of `text` in bytes without terminator, bounded by `bytes`.
std::size_t MeasuredBytes(const wchar_t* text, std::size_t bytes) {
    return text ? ::wcsnlen(text, bytes / sizeof(wchar_t)) * sizeof(wchar_t) : 0;
}

} // namespace

Result MapFindError(DWORD error) {
    return MapWin32Error(error);
}

const wchar_t* EntryName(const ObjPtrData* d) {
    return d->state == kStatePtr ? d->find_data.cFileName : L"";
}

std::wstring FolderText(const ObjPtrData* d) {
    if (!d->folder)
        return {};
    int addSlashes = 0;
    IsUncLongForm(d->folder_buffer, d->folder, 0, &addSlashes);
    std::wstring text = addSlashes ? L"\\\\" : L"";
    return text + d->folder;
}

std::wstring EntryPath(const ObjPtrData* d, bool shortName) {
    std::wstring path = TextOrEmpty(d->folder_buffer);
    if (d->state == kStatePtr) {
        const wchar_t* name = d->find_data.cFileName;
        if (shortName)
            name = d->find_data.cAlternateFileName;
        path += name;
    }
    return path;
}

Result CopyTextOut(const std::wstring& text, std::uint32_t* count, void* buffer,
                   std::uint32_t size) {
    return CopyValue(text.c_str(), (text.size() + 1) * sizeof(wchar_t), count, buffer, size);
}

bool RetryWithIdentity(hOBJ obj, const std::function<bool()>& call) {
    if ((g_versionQuery() & 0xFF) >= kElevatedMajorVersion) {
        hOBJ token = nullptr;
        Result r = obj->sys->ObjectCreateQuick(obj, &token, kIidToken, 0, 0);
        if (r == errOBJECT_INCOMPATIBLE)
            r = g_root->sys->ObjectCreateQuick(g_root, &token, kIidToken, 0, 0);
        if (Succeeded(r) && token) {
            auto identity =
                reinterpret_cast<TokenIdentityFn>(token->methods[kTokenSlotIdentity - 1]);
            bool done = false;
            if (Succeeded(identity(token, kTokenAssume))) {
                done = call();
                identity(token, kTokenRevert);
            }
            token->sys->ObjectClose(token);
            if (done)
                return true;
        }
    }
    CThreadTokenSuspension suspended;
    return suspended.HadToken() && call();
}

void LogOperation(hOBJ obj, Result result, std::uint32_t level, const char* name) {
    static const std::uint32_t* traceLevel = nullptr;
    if (!traceLevel && g_root)
        traceLevel =
            static_cast<const std::uint32_t*>(g_root->sys->PropGetPtr(g_root, kPropTraceLevelPtr));
    if (!traceLevel || *traceLevel < level)
        return;
    const DWORD keep = ::GetLastError();
    const ObjPtrData* d = Ptr(obj);
    const int size = static_cast<int>(d->state == kStatePtr ? d->find_data.nFileSizeLow : 0);
    if (Failed(result))
        PluginTrace(obj, kTraceError,
                    "wfsys\tobjptr: operation(%s), %terr, winerr(%d), state(%s), obj(%S), "
                    "size(%d), mask(%S)(%S), folder(%S)",
                    name, result, static_cast<int>(d->win_error), StateName(d), EntryName(d), size,
                    TextOrEmpty(d->used_mask), TextOrEmpty(d->mask), TextOrEmpty(d->folder_buffer));
    else
        PluginTrace(obj, level,
                    "wfsys\tobjptr: operation(%s), winerr(%d), state(%s), obj(%S), size(%d), "
                    "mask(%S)(%S), folder(%S)",
                    name, static_cast<int>(d->win_error), StateName(d), EntryName(d), size,
                    TextOrEmpty(d->used_mask), TextOrEmpty(d->mask), TextOrEmpty(d->folder_buffer));
    ::SetLastError(keep);
}

Result SetFolder(hOBJ obj, const wchar_t* text, std::size_t bytes, std::size_t* stored) {
    ObjPtrData* d = Ptr(obj);
    // The text may live in the folder buffer itself: work on a copy.
    std::wstring input(text ? text : L"", MeasuredBytes(text, bytes) / sizeof(wchar_t));
    if (stored)
        *stored = 0;
    if (input.empty()) {
        d->folder = d->folder_buffer;
        if (d->folder_buffer)
            d->folder_buffer[0] = L'\0';
        return errOK;
    }
    std::size_t skip = 0;
    std::size_t prefixBytes = 0;
    const wchar_t* prefix =
        LongPathPrefix(input.c_str(), input.size() * sizeof(wchar_t), &skip, &prefixBytes);
    input.erase(0, skip);
    const bool endsWithSeparator = !input.empty() && IsSeparator(input.back());
    const std::size_t needed =
        prefixBytes + (input.size() + (endsWithSeparator ? 0 : 1) + 1) * sizeof(wchar_t);
    if (d->folder_capacity < needed || !d->folder_buffer) {
        void* block = nullptr;
        if (Result r = HeapAllocBlock(obj, &block, needed); Failed(r))
            return r;
        HeapFreeBlock(obj, d->folder_buffer);
        d->folder_buffer = static_cast<wchar_t*>(block);
        d->folder_capacity = static_cast<std::uint32_t>(needed);
    }
    wchar_t* out = d->folder_buffer;
    const std::size_t prefixChars = prefixBytes / sizeof(wchar_t);
    if (prefix)
        std::wmemcpy(out, prefix, prefixChars);
    std::wmemcpy(out + prefixChars, input.data(), input.size());
    std::size_t chars = input.size();
    if (!endsWithSeparator)
        out[prefixChars + chars++] = L'\\';
    out[prefixChars + chars] = L'\0';
    d->folder = out + prefixChars;
    if (stored)
        *stored = chars * sizeof(wchar_t);
    return errOK;
}

Result JoinFolder(hOBJ obj, const wchar_t* text, std::size_t bytes) {
    const ObjPtrData* d = Ptr(obj);
    // The joined text keeps the network form of the current folder.
    const std::wstring joined =
        FolderText(d) + std::wstring(text, MeasuredBytes(text, bytes) / sizeof(wchar_t));
    if ((joined.size() + 1) * sizeof(wchar_t) > kMaxJoinedFolderBytes)
        return errBUFFER_TOO_SMALL;
    return SetFolder(obj, joined.c_str(), joined.size() * sizeof(wchar_t));
}

Result SetMask(hOBJ obj, const wchar_t* text, std::size_t bytes) {
    ObjPtrData* d = Ptr(obj);
    const std::wstring input(text ? text : L"", MeasuredBytes(text, bytes) / sizeof(wchar_t));
    if (input.empty()) {
        d->mask[0] = L'*';
        d->mask[1] = L'\0';
        return errOK;
    }
    const std::size_t needed = (input.size() + 1) * sizeof(wchar_t);
    const bool inlineMask = d->mask == d->mask_inline;
    const std::size_t capacity =
        inlineMask ? std::max<std::size_t>(d->mask_capacity, kMaskInlineBytes) : d->mask_capacity;
    if (capacity < needed) {
        void* block = nullptr;
        const Result r = inlineMask ? HeapAllocBlock(obj, &block, needed)
                                    : obj->sys->ObjHeapRealloc(obj, &block, d->mask, needed);
        if (Failed(r))
            return r;
        d->mask = static_cast<wchar_t*>(block);
        d->mask_capacity = static_cast<std::uint32_t>(needed);
    }
    std::memcpy(d->mask, input.c_str(), needed);
    return errOK;
}

Result SplitIntoFolder(hOBJ obj, const wchar_t* path, const wchar_t** name) {
    const wchar_t* last = nullptr;
    for (const wchar_t* p = path; *p; ++p)
        if (IsSeparator(*p) || *p == L':')
            last = p;
    *name = last ? last + 1 : path;
    if (!last)
        return errOK;
    const std::size_t bytes = (last + 1 - path) * sizeof(wchar_t);
    if (IsRelativePath(path, bytes))
        return JoinFolder(obj, path, bytes);
    return SetFolder(obj, path, bytes);
}

// ---- lifecycle ------------------------------------------------------------------

Result ObjPtrInit(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    d->file_id = 0;
    d->volume_id = 0;
    if (!g_kernel.fFindFirstFile || !g_kernel.fFindNextFile) {
        PluginTrace(obj, kTraceError,
                    "wfsys\tFindFirstFile and/or FindNextFile export pointer(s) cannot be "
                    "exported from the Windows kernel");
        return errOBJECT_NOT_CREATED;
    }
    // The cursor keeps UTF-16 texts; the 8-bit mode is not served.
    if (!g_wideMode)
        return errNOT_SUPPORTED;
    if (hOBJ parent = obj->sys->ObjectParent(obj);
        parent && obj->sys->PropGetDWord(parent, kPropInterfaceId) == IID_OS &&
        obj->sys->PropGetDWord(parent, kPropPluginId) == kPidWfsys)
        d->os_object = parent;
    d->mask = d->mask_inline;
    d->mask[0] = L'*';
    d->mask[1] = L'\0';
    d->name_length = kNoNameLength;
    return errOK;
}

Result ObjPtrInitDone(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    Result r = errOK;
    if (!d->find_context) {
        d->win_error = 0;
        r = Reset(obj, 0);
    }
    LogOperation(obj, r, kTraceDetail, "init_done");
    return r;
}

Result ObjPtrClose(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    LogOperation(obj, errOK, kTraceDetail, "close");
    if (d->object_handle && d->object_handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(d->object_handle);
    d->object_handle = nullptr;
    d->win_error = CloseRead(d);
    d->name_length = 0;
    HeapFreeBlock(obj, d->used_mask);
    d->used_mask = nullptr;
    d->used_mask_capacity = 0;
    HeapFreeBlock(obj, d->folder_buffer);
    d->folder_buffer = nullptr;
    d->folder = nullptr;
    HeapFreeBlock(obj, d->replay);
    d->replay = nullptr;
    d->folder_capacity = 0;
    if (d->mask && d->mask != d->mask_inline) {
        HeapFreeBlock(obj, d->mask);
        d->mask = d->mask_inline;
        d->mask_capacity = kMaskCapacityAfterClose;
    }
    return errOK;
}

// ---- methods --------------------------------------------------------------------

Result Reset(hOBJ obj, std::uint32_t root) {
    ObjPtrData* d = Ptr(obj);
    d->state = kStateBef;
    d->mask_folders_active = d->mask_folders;
    d->win_error = CloseRead(d);
    d->name_length = 0;
    d->dot_seen = 0;
    d->entry_index = 0;
    d->pass = 0;
    d->fetch = kFetchFirst;
    if (root)
        TruncateToRoot(d);
    LogOperation(obj, errOK, kTraceDetail, "reset");
    return errOK;
}

Result Next(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    if (d->state == kStateAft)
        return errEND_OF_THE_LIST;
    if (d->state == kStateUnd)
        return errOBJECT_NOT_OPENED;
    Result r = errOK;
    for (;;) {
        switch (d->fetch) {
        case kFetchFirst:
            r = FetchFirst(obj);
            break;
        case kFetchReplay:
            r = FetchReplay(obj);
            break;
        default:
            r = FetchContinue(obj);
            break;
        }
        if (Failed(r))
            break;
        const bool folder = (d->find_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!folder && d->pass == 0)
            break;
        if (folder && d->pass == 1 && !IsDotEntry(d))
            break;
    }
    LogOperation(obj, r, kTraceInfo, "next");
    return r;
}

// ---- properties -----------------------------------------------------------------

Result GetEntryName(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                    std::uint32_t size) {
    return CopyTextOut(EntryName(Ptr(obj)), count, buffer, size);
}

Result GetFolderProp(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                     std::uint32_t size) {
    return CopyTextOut(FolderText(Ptr(obj)), count, buffer, size);
}

Result GetFullNameProp(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                       std::uint32_t size) {
    const ObjPtrData* d = Ptr(obj);
    return CopyTextOut(FolderText(d) + EntryName(d), count, buffer, size);
}

Result GetIsFolder(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                   std::uint32_t size) {
    const ObjPtrData* d = Ptr(obj);
    const std::uint32_t value =
        d->state == kStatePtr && (d->find_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    return CopyValue(&value, sizeof value, count, buffer, size);
}

Result SetFolderProp(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* text,
                     std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    if (!text) {
        *count = kMaxMaskBytes;
        return errOK;
    }
    std::size_t stored = 0;
    const Result r =
        SetFolder(obj, static_cast<const wchar_t*>(text), size ? size : kMaxPatternBytes, &stored);
    if (Succeeded(r) && d->find_context)
        Reset(obj, 0);
    *count = static_cast<std::uint32_t>(stored);
    return r;
}

Result SetMaskProp(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* source,
                   std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 0;
    if (!source)
        return errOK;
    if (size > kMaxMaskBytes)
        return errBUFFER_TOO_SMALL;
    const auto* text = static_cast<const wchar_t*>(source);
    const std::size_t bytes = MeasuredBytes(text, size ? size : kMaxMaskBytes);
    const std::wstring whole(text, bytes / sizeof(wchar_t));
    const std::size_t last = whole.find_last_of(L"\\/:");
    Result r = errOK;
    if (last == std::wstring::npos) {
        r = SetMask(obj, whole.c_str(), bytes);
    } else {
        r = SetFolder(obj, whole.c_str(), (last + 1) * sizeof(wchar_t));
        if (Succeeded(r) && last + 1 < whole.size())
            r = SetMask(obj, whole.c_str() + last + 1, (whole.size() - last - 1) * sizeof(wchar_t));
    }
    if (Succeeded(r) && d->find_context)
        Reset(obj, 0);
    *count = static_cast<std::uint32_t>(bytes);
    return r;
}

Result GetNativeEnum(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                     std::uint32_t size) {
    return CopyValue(&Ptr(obj)->native_enum, 4, count, buffer, size);
}

Result SetNativeEnum(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* source,
                     std::uint32_t size) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    *count = 0;
    if (!source || size < 4)
        return errPARAMETER_INVALID;
    std::uint32_t value = 0;
    std::memcpy(&value, source, 4);
    if (value == kNativeEnumOn && !g_nativeApi)
        return errNOT_SUPPORTED;
    // An open read is closed by the reader that opened it.
    if (d->find_context && (value == kNativeEnumOn) != NativeSelected(d))
        Reset(obj, 0);
    d->native_enum = value;
    *count = 4;
    return errOK;
}

Result RefuseProperty(hOBJ, std::uint32_t* count, std::uint32_t, void*, std::uint32_t) {
    *count = 0;
    return errPROPERTY_NOT_IMPLEMENTED;
}

Result RefusePropertySet(hOBJ, std::uint32_t* count, std::uint32_t, const void*, std::uint32_t) {
    *count = 0;
    return errPROPERTY_NOT_IMPLEMENTED;
}

} // namespace zev::wfsys
