#include "plugin/fs/PathForms.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/WinErrorMap.h"
#include "plugin/io/IoRecord.h"

#include <winnetwk.h>

#include <array>
#include <cstring>
#include <cwctype>
#include <string>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

bool StartsWithNoCase(const wchar_t* text, std::size_t chars, const wchar_t* prefix) {
    const std::size_t n = std::wcslen(prefix);
    return chars >= n && ::_wcsnicmp(text, prefix, n) == 0;
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

} // namespace

const wchar_t* LongPathPrefix(const wchar_t* text, std::size_t bytes, std::size_t* skip,
                              std::size_t* prefixBytes) {
    *skip = 0;
    *prefixBytes = 0;
    if (!text || bytes == 0 || text[0] == L'\0')
        return nullptr;
    const std::size_t chars = bytes / sizeof(wchar_t);
    if (bytes > 3 && text[1] == L':') {
        *prefixBytes = kLongPrefixChars * sizeof(wchar_t);
        return kLongPrefix;
    }
    if (bytes > 16 && StartsWithNoCase(text, chars, kLongUncPrefix)) {
        *skip = kLongUncPrefixChars;
        *prefixBytes = kLongUncPrefixChars * sizeof(wchar_t);
        return kLongUncPrefix;
    }
    if (bytes >= 9 && StartsWithNoCase(text, chars, kLongPrefix)) {
        *skip = kLongPrefixChars;
        *prefixBytes = kLongPrefixChars * sizeof(wchar_t);
        return kLongPrefix;
    }
    // "\\.\" names a device, which has no long form.
    if (bytes > 4 && text[0] == L'\\' && text[1] == L'\\' && !(chars > 2 && text[2] == L'.')) {
        *skip = 2;
        *prefixBytes = kLongUncPrefixChars * sizeof(wchar_t);
        return kLongUncPrefix;
    }
    return nullptr;
}

std::size_t IsUncLongForm(const void* start, const void* full, std::size_t bytes, int* addSlashes) {
    *addSlashes = 0;
    const auto offset = static_cast<const char*>(full) - static_cast<const char*>(start);
    if (g_wideMode && offset >= 16 &&
        StartsWithNoCase(static_cast<const wchar_t*>(start), kLongUncPrefixChars, kLongUncPrefix)) {
        *addSlashes = 1;
        return bytes + 6;
    }
    return bytes + (g_wideMode ? 2 : 1);
}

int IsRelativePath(const void* text, std::size_t bytes) {
    if (g_wideMode) {
        const auto* t = static_cast<const wchar_t*>(text);
        if (bytes > 1 && IsSeparator(t[0]))
            return 0;
        return (bytes < 4 || t[1] != L':') ? 1 : 0;
    }
    const auto* t = static_cast<const char*>(text);
    if (bytes > 1 && (t[0] == '\\' || t[0] == '/'))
        return 0;
    return (bytes < 2 || t[1] != ':') ? 1 : 0;
}

Result IsExistingFolder(const void* text, std::uint32_t* winError) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (g_kernel.fGetFileAttributes) {
        attributes = g_wideMode ? Fn<decltype(&::GetFileAttributesW)>(g_kernel.fGetFileAttributes)(
                                      static_cast<const wchar_t*>(text))
                                : Fn<decltype(&::GetFileAttributesA)>(g_kernel.fGetFileAttributes)(
                                      static_cast<const char*>(text));
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!g_kernel.fFindFirstFile || !g_kernel.fFindClose)
            return MapLastError(winError);
        HANDLE find = INVALID_HANDLE_VALUE;
        if (g_wideMode) {
            WIN32_FIND_DATAW data{};
            find = Fn<decltype(&::FindFirstFileW)>(g_kernel.fFindFirstFile)(
                static_cast<const wchar_t*>(text), &data);
            attributes = data.dwFileAttributes;
        } else {
            WIN32_FIND_DATAA data{};
            find = Fn<decltype(&::FindFirstFileA)>(g_kernel.fFindFirstFile)(
                static_cast<const char*>(text), &data);
            attributes = data.dwFileAttributes;
        }
        if (find == INVALID_HANDLE_VALUE)
            return MapLastError(winError);
        Fn<decltype(&::FindClose)>(g_kernel.fFindClose)(find);
    }
    if (winError)
        *winError = 0;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? errOK : errOBJECT_NOT_FOUND;
}

bool IsSameDrive(const wchar_t* path1, const wchar_t* path2) {
    if (!path1 || !path2 || path1[0] == L'\\')
        return false;
    for (int i = 0; i < 2; ++i) {
        if (path1[i] == L'\0' || path2[i] == L'\0')
            return path1[i] == path2[i] && i > 0;
        if (std::towlower(path1[i]) != std::towlower(path2[i]))
            return false;
    }
    return true;
}

namespace {

template <typename C>
std::ptrdiff_t ShareRootEndOf(const C* text, std::size_t bytes, int flag, bool wide) {
    const std::size_t chars = bytes / sizeof(C);
    std::size_t i = 0;
    if (flag == 0) {
        if (bytes <= 4 || chars < 2 || text[0] != C('\\') || text[1] != C('\\'))
            return -1;
        i = 2;
        if (wide && i < chars && text[i] == C('?'))
            return -1;
    }
    auto find = [&](std::size_t from) -> std::ptrdiff_t {
        for (std::size_t k = from; k < chars && text[k]; ++k)
            if (text[k] == C('\\'))
                return static_cast<std::ptrdiff_t>(k);
        for (std::size_t k = from; k < chars && text[k]; ++k)
            if (text[k] == C('/'))
                return static_cast<std::ptrdiff_t>(k);
        return -1;
    };
    const std::ptrdiff_t first = find(i);
    if (first < 0)
        return -1;
    const std::ptrdiff_t second = find(static_cast<std::size_t>(first) + 1);
    if (second >= 0)
        return second;
    std::size_t end = static_cast<std::size_t>(first) + 1;
    while (end < chars && text[end])
        ++end;
    return static_cast<std::ptrdiff_t>(end);
}

} // namespace

std::ptrdiff_t ShareRootEnd(const wchar_t* text, std::size_t bytes, int flag) {
    return text ? ShareRootEndOf(text, bytes, flag, true) : -1;
}

std::ptrdiff_t ShareRootEndNarrow(const char* text, std::size_t bytes, int flag) {
    return text ? ShareRootEndOf(text, bytes, flag, false) : -1;
}

std::size_t BoundedTextLength(const void* text, std::size_t limit) {
    if (!text)
        return 0;
    const std::size_t step = g_wideMode ? 2 : 1;
    const auto* bytes = static_cast<const unsigned char*>(text);
    auto isZero = [&](std::size_t at) {
        return bytes[at] == 0 && (step == 1 || bytes[at + 1] == 0);
    };
    if (limit < step || isZero(0))
        return 0;
    std::size_t n = step;
    while (n + step <= limit && !isZero(n))
        n += step;
    return (n + step <= limit) ? n + step : limit;
}

Result ReadTextProperty(hOBJ obj, void** buffer, std::uint32_t size, std::uint32_t propId,
                        std::uint32_t* count, std::uint32_t* interfaceId) {
    std::uint32_t local = 0;
    std::uint32_t* out = count ? count : &local;
    const std::uint32_t iid = obj->sys->PropGetDWord(obj, kPropInterfaceId);
    if (interfaceId)
        *interfaceId = iid;
    if (propId == 0 || iid == kIidString)
        propId = kPropFullName;
    *out = 0;
    Result r = obj->sys->PropGetStr(obj, out, propId, *buffer, size, g_codePage);
    if (r != errBUFFER_TOO_SMALL)
        return r;
    if (*out == 0) {
        r = obj->sys->PropGetStr(obj, out, propId, nullptr, 0, g_codePage);
        if (Failed(r))
            return r;
    }
    void* grown = nullptr;
    r = obj->sys->ObjHeapAlloc(obj, &grown, *out);
    if (Failed(r))
        return r;
    *buffer = grown;
    return obj->sys->PropGetStr(obj, out, propId, grown, *out, g_codePage);
}

namespace {

/// The full path of `name` in a new framework-heap block of `io`.
template <typename C, typename FullPathFn, typename CompareFn>
Result FullPathBlock(hOBJ io, const C* name, FullPathFn full, CompareFn compare, int* unchanged,
                     void** buffer, std::uint32_t* capacity) {
    const DWORD needed = full(name, 0, nullptr, nullptr);
    if (needed == 0)
        return MapLastError();
    // Two spare characters (wide) or one (narrow) past the terminator.
    const std::size_t chars = needed + (sizeof(C) == 1 ? 1 : 2);
    void* block = nullptr;
    if (Result r = HeapAlloc(io, &block, chars * sizeof(C)); Failed(r))
        return r;
    if (full(name, static_cast<DWORD>(chars), static_cast<C*>(block), nullptr) == 0) {
        const Result r = MapLastError();
        HeapFree(io, block);
        return r;
    }
    *unchanged = compare(static_cast<C*>(block), name) == 0;
    *buffer = block;
    *capacity = static_cast<std::uint32_t>(chars * sizeof(C));
    return errOK;
}

} // namespace

Result GetFullLongName(hOBJ io, int* unchanged, void** buffer, std::uint32_t* capacity,
                       void** fullName) {
    Win32IOData* d = Io(io);
    *buffer = nullptr;
    if (!g_kernel.fGetFullPathName)
        return errNOT_SUPPORTED;
    const std::size_t offset =
        static_cast<const char*>(d->full_name) - static_cast<const char*>(d->name_buffer);
    const Result r =
        g_wideMode ? FullPathBlock(io, static_cast<const wchar_t*>(d->name_buffer),
                                   Fn<decltype(&::GetFullPathNameW)>(g_kernel.fGetFullPathName),
                                   ::lstrcmpW, unchanged, buffer, capacity)
                   : FullPathBlock(io, static_cast<const char*>(d->name_buffer),
                                   Fn<decltype(&::GetFullPathNameA)>(g_kernel.fGetFullPathName),
                                   ::lstrcmpA, unchanged, buffer, capacity);
    if (Succeeded(r))
        *fullName = static_cast<char*>(*buffer) + offset;
    return r;
}

std::size_t SubstTarget(hOBJ io, void* buffer, std::size_t* offset, int keepDevice) {
    Win32IOData* d = Io(io);
    *offset = 0;
    if (!d->full_name)
        return 0;
    if (g_wideMode) {
        const auto* full = static_cast<const wchar_t*>(d->full_name);
        if (full[0] == L'\0' || full[1] != L':')
            return 0;
        const wchar_t drive[3] = {full[0], L':', L'\0'};
        auto* out = static_cast<wchar_t*>(buffer);
        if (::QueryDosDeviceW(drive, out, MAX_PATH) == 0 ||
            std::wcsncmp(out, kNativePrefix, kNativePrefixChars) != 0)
            return 0;
        ::CharLowerW(out);
        if (!keepDevice) {
            std::wstring rest(out + kNativePrefixChars);
            if (rest.compare(0, 4, L"unc\\") == 0)
                rest = L"\\" + rest.substr(3);
            std::wmemcpy(out, rest.c_str(), rest.size() + 1);
        }
        const std::size_t bytes = std::wcslen(out) * sizeof(wchar_t);
        *offset = bytes - 4;
        return bytes;
    }
    const auto* full = static_cast<const char*>(d->full_name);
    if (full[0] == '\0' || full[1] != ':')
        return 0;
    const char drive[3] = {full[0], ':', '\0'};
    auto* out = static_cast<char*>(buffer);
    if (::QueryDosDeviceA(drive, out, MAX_PATH) == 0 || out[0] == full[0])
        return 0;
    ::CharLowerA(out);
    std::size_t bytes = std::strlen(out);
    if (bytes == 3)
        bytes = 2;
    *offset = bytes >= 2 ? bytes - 2 : 0;
    return bytes;
}

Result PrefixStringObject(hOBJ stringObject) {
    if (!g_wideMode)
        return errOK;
    if (!stringObject)
        return errPARAMETER_INVALID;
    auto getText = reinterpret_cast<StringGetTextFn>(stringObject->methods[kStringSlotGetText - 1]);
    auto setText = reinterpret_cast<StringSetTextFn>(stringObject->methods[kStringSlotSetText - 1]);
    wchar_t head[20] = {};
    std::uint32_t count = 0;
    Result r = getText(stringObject, &count, head, sizeof head, kCodePageUtf16, kStringFlagWhole);
    if (Failed(r) && r != errBUFFER_TOO_SMALL)
        return r;
    std::size_t skip = 0;
    std::size_t prefixBytes = 0;
    const std::size_t headBytes = std::wcslen(head) * sizeof(wchar_t);
    const wchar_t* prefix = LongPathPrefix(head, headBytes, &skip, &prefixBytes);
    if (!prefix || skip != 0)
        return errOK;
    // Read the whole text and put the prefix in front of it.
    count = 0;
    getText(stringObject, &count, nullptr, 0, kCodePageUtf16, kStringFlagWhole);
    std::wstring text(count / sizeof(wchar_t) + 1, L'\0');
    r = getText(stringObject, &count, text.data(),
                static_cast<std::uint32_t>(text.size() * sizeof(wchar_t)), kCodePageUtf16,
                kStringFlagWhole);
    if (Failed(r))
        return r;
    text.resize(std::wcslen(text.c_str()));
    text.insert(0, prefix);
    return setText(stringObject, &count, text.c_str(),
                   static_cast<std::uint32_t>((text.size() + 1) * sizeof(wchar_t)), kCodePageUtf16,
                   kStringFlagWhole);
}

// ---- universal names ------------------------------------------------------------

UniversalNameQuery g_universalNameQuery = ::WNetGetUniversalNameW;

namespace {

enum DriveState : std::uint32_t { kDriveUnknown = 0, kDriveKnown = 1, kDriveNotNetwork = 2 };
constexpr DWORD kRetryAfterMs = 900000;
constexpr DWORD kNeverRetry = 0xFFFFFFFF;

struct DriveEntry {
    wchar_t* text;
    std::uint32_t chars; ///< with the terminator
    volatile std::uint32_t state;
    DWORD retryAt;
};

struct DriveMap {
    std::array<DriveEntry, 26> entries{};
    CRITICAL_SECTION lock{};
    bool ready = false;
} g_driveMap;

void ClearEntries() {
    for (DriveEntry& e : g_driveMap.entries) {
        if (e.text)
            ::HeapFree(::GetProcessHeap(), 0, e.text);
        e = {};
    }
}

class DriveMapLock {
public:
    DriveMapLock() { ::EnterCriticalSection(&g_driveMap.lock); }
    ~DriveMapLock() { ::LeaveCriticalSection(&g_driveMap.lock); }
    DriveMapLock(const DriveMapLock&) = delete;
    DriveMapLock& operator=(const DriveMapLock&) = delete;
};

/// `head` followed by the path after its drive letter and colon.
Result Compose(const wchar_t* head, const wchar_t* path, wchar_t* buffer, std::uint32_t* size) {
    const std::size_t need = std::wcslen(head) + std::wcslen(path + 2) + 1;
    if (!buffer || *size < need) {
        *size = static_cast<std::uint32_t>(need);
        return errBUFFER_TOO_SMALL;
    }
    std::wstring text = std::wstring(head) + (path + 2);
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return 1;
}

} // namespace

void InitDriveMap() {
    if (g_driveMap.ready)
        return;
    ::InitializeCriticalSection(&g_driveMap.lock);
    g_driveMap.entries = {};
    g_driveMap.ready = true;
}

void FreeDriveMap() {
    if (!g_driveMap.ready)
        return;
    ClearEntries();
    ::DeleteCriticalSection(&g_driveMap.lock);
    g_driveMap.ready = false;
}

void ResetDriveMap() {
    if (!g_driveMap.ready)
        return;
    DriveMapLock lock;
    ClearEntries();
}

Result UniversalName(const wchar_t* path, wchar_t* buffer, std::uint32_t* size) {
    if (!path || !size || path[0] == L'\0' || path[1] != L':' || !std::iswalpha(path[0]) ||
        std::towupper(path[0]) < L'A' || std::towupper(path[0]) > L'Z')
        return errPARAMETER_INVALID;
    InitDriveMap();
    const wchar_t letter = static_cast<wchar_t>(std::towupper(path[0]));
    DriveEntry& entry = g_driveMap.entries[letter - L'A'];
    if (entry.state == kDriveNotNetwork)
        return errOK;
    if (entry.state == kDriveUnknown) {
        const DWORD now = ::GetTickCount();
        DriveMapLock lock;
        if (entry.state == kDriveUnknown) {
            if (entry.retryAt != 0 && static_cast<LONG>(now - entry.retryAt) < 0)
                return errOK;
            const wchar_t drive[3] = {letter, L':', L'\0'};
            wchar_t target[MAX_PATH] = {};
            Result stepResult = errOK;
            bool substituted = false;
            std::wstring asked = drive;
            if (::QueryDosDeviceW(drive, target, MAX_PATH) &&
                std::wcsncmp(target, kNativePrefix, kNativePrefixChars) == 0) {
                substituted = true;
                stepResult = Compose(target + kNativePrefixChars, path, buffer, size);
                if (Failed(stepResult))
                    return stepResult;
                asked = buffer;
            }
            DWORD needed = 0;
            DWORD error =
                g_universalNameQuery(asked.c_str(), UNIVERSAL_NAME_INFO_LEVEL, nullptr, &needed);
            std::string block;
            if (error == ERROR_MORE_DATA && needed) {
                block.assign(needed, '\0');
                error = g_universalNameQuery(asked.c_str(), UNIVERSAL_NAME_INFO_LEVEL, block.data(),
                                             &needed);
            }
            std::wstring universal;
            if (error == NO_ERROR) {
                const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(block.data());
                universal = info->lpUniversalName;
                if (universal.size() + 1 > *size || !buffer) {
                    *size = static_cast<std::uint32_t>(universal.size() + 1);
                    return errBUFFER_TOO_SMALL;
                }
                std::wmemcpy(buffer, universal.c_str(), universal.size() + 1);
            } else if (error == ERROR_MORE_DATA) {
                return errBUFFER_TOO_SMALL;
            } else if (error == ERROR_NOT_CONNECTED && !substituted) {
                entry.state = kDriveNotNetwork;
                entry.retryAt = kNeverRetry;
                entry.chars = 0;
                return errOK;
            } else if (error != ERROR_NOT_CONNECTED) {
                entry.retryAt = now + kRetryAfterMs;
                if (entry.retryAt == 0)
                    entry.retryAt = 1;
                return stepResult;
            }
            // Remember the drive's universal head: the text before the path's rest.
            std::wstring head = error == NO_ERROR ? universal : std::wstring(buffer);
            const std::size_t rest = std::wcslen(path + 2);
            if (substituted && head.size() >= rest)
                head.resize(head.size() - rest);
            const std::size_t bytes = (head.size() + 1) * sizeof(wchar_t);
            entry.text = static_cast<wchar_t*>(::HeapAlloc(::GetProcessHeap(), 0, bytes));
            if (!entry.text)
                return errNOT_ENOUGH_MEMORY;
            std::wmemcpy(entry.text, head.c_str(), head.size() + 1);
            entry.chars = static_cast<std::uint32_t>(head.size() + 1);
            entry.state = kDriveKnown;
        }
    }
    if (entry.state != kDriveKnown)
        return errOK;
    return Compose(entry.text, path, buffer, size);
}

} // namespace zev::wfsys
