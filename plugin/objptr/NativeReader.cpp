#include "plugin/objptr/NativeReader.h"

#include "plugin/frame/SystemFunctions.h"

#include <winternl.h>

#include <cstddef>
#include <algorithm>
#include <cstring>
#include <utility>

namespace zev::wfsys {

namespace {

constexpr ULONG kClassBothDirectory = 3;
constexpr ULONG kClassIdBothDirectory = 37;
constexpr ACCESS_MASK kListAccess = SYNCHRONIZE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr ULONG kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kOpenDirectoryOptions = 0x4021; // directory, synchronous, backup intent
constexpr ULONG kFirstBufferBytes = 632;
constexpr ULONG kFallbackBufferBytes = 616;
constexpr ULONG kBatchBufferBytes = 4096;

constexpr LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
constexpr LONG kStatusAccessViolation = static_cast<LONG>(0xC0000005);
constexpr LONG kStatusInvalidParameter = static_cast<LONG>(0xC000000D);
constexpr LONG kStatusNotADirectory = static_cast<LONG>(0xC0000103);
constexpr LONG kStatusNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG kStatusObjectTypeMismatch = static_cast<LONG>(0xC0000024);
constexpr LONG kStatusPathNotFound = static_cast<LONG>(0xC000003A);

/// FileIdBothDirectoryInformation (class 37).
struct IdBothDirRecord {
    ULONG nextEntryOffset;
    ULONG fileIndex;
    LARGE_INTEGER creationTime;
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    LARGE_INTEGER endOfFile;
    LARGE_INTEGER allocationSize;
    ULONG attributes;
    ULONG nameLength;
    ULONG eaSize;
    CCHAR shortNameLength;
    WCHAR shortName[12];
    LARGE_INTEGER fileId;
    WCHAR name[1];
};
/// FileBothDirectoryInformation (class 3) has the same fields up to the
/// short name; its name follows at once, where class 37 has the identifier.
constexpr std::size_t kBothDirNameOffset = 94;
static_assert(offsetof(IdBothDirRecord, fileId) == 96 && offsetof(IdBothDirRecord, name) == 104);
static_assert(offsetof(IdBothDirRecord, shortName) + sizeof(IdBothDirRecord::shortName) ==
              kBothDirNameOffset);

/// One open read (32 bytes from the process heap).
struct NativeEnumContext {
    HANDLE directory;
    unsigned char* buffer;
    unsigned char* cursor;
    ULONG bufferSize;
    ULONG spare;
};
static_assert(sizeof(NativeEnumContext) == 32);

using RtlDosPathFn = BOOLEAN(NTAPI*)(PCWSTR, PUNICODE_STRING, PWSTR*, void*);
using RtlInitStringFn = void(NTAPI*)(PUNICODE_STRING, PCWSTR);
using NtOpenFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                      ULONG, ULONG);
using NtCloseFn = NTSTATUS(NTAPI*)(HANDLE);
using RtlAllocFn = PVOID(NTAPI*)(PVOID, ULONG, SIZE_T);
using RtlFreeFn = BOOLEAN(NTAPI*)(PVOID, ULONG, PVOID);
using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);

DirectoryQueryFn g_queryOverride = nullptr;

DirectoryQueryFn Query() {
    return g_queryOverride ? g_queryOverride : Fn<DirectoryQueryFn>(g_native.NtQueryDirectoryFile);
}

void* ProcessHeapAlloc(SIZE_T bytes) {
    return Fn<RtlAllocFn>(g_native.RtlAllocateHeap)(::GetProcessHeap(), 0, bytes);
}
void ProcessHeapFree(void* block) {
    if (block)
        Fn<RtlFreeFn>(g_native.RtlFreeHeap)(::GetProcessHeap(), 0, block);
}

/// The NT path from RtlDosPathNameToNtPathName_U, freed on the process heap.
struct NtPath {
    UNICODE_STRING text{};
    ~NtPath() { ProcessHeapFree(text.Buffer); }
};

/// A directory handle closed by NtClose unless released.
struct DirectoryHandle {
    HANDLE h = nullptr;
    ~DirectoryHandle() {
        if (h)
            Fn<NtCloseFn>(g_native.NtClose)(h);
    }
    HANDLE Release() { return std::exchange(h, nullptr); }
};

bool NativeSetPresent() {
    return g_native.RtlDosPathNameToNtPathName_U && g_native.NtOpenFile &&
           g_native.NtQueryDirectoryFile && g_native.NtClose && g_native.RtlAllocateHeap &&
           g_native.RtlFreeHeap;
}

BOOL FailWith(DWORD error) {
    ::SetLastError(error);
    return FALSE;
}
HANDLE FailFirst(DWORD error) {
    ::SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

void CopyName(WCHAR* dest, std::size_t destChars, const WCHAR* source, std::size_t bytes) {
    std::size_t chars = bytes / sizeof(WCHAR);
    if (chars >= destChars)
        chars = destChars - 1;
    std::memcpy(dest, source, chars * sizeof(WCHAR));
    dest[chars] = L'\0';
}

void FillFindData(const IdBothDirRecord& r, WIN32_FIND_DATAW* data, std::uint64_t* fileId) {
    data->dwFileAttributes = r.attributes;
    data->ftCreationTime = {r.creationTime.LowPart, static_cast<DWORD>(r.creationTime.HighPart)};
    data->ftLastAccessTime = {r.lastAccessTime.LowPart,
                              static_cast<DWORD>(r.lastAccessTime.HighPart)};
    data->ftLastWriteTime = {r.lastWriteTime.LowPart, static_cast<DWORD>(r.lastWriteTime.HighPart)};
    data->nFileSizeHigh = static_cast<DWORD>(r.endOfFile.HighPart);
    data->nFileSizeLow = r.endOfFile.LowPart;
    CopyName(data->cFileName, MAX_PATH, r.name, r.nameLength);
    CopyName(data->cAlternateFileName, 14, r.shortName,
             static_cast<unsigned char>(r.shortNameLength));
    if (r.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        data->dwReserved0 = r.eaSize; // the reparse tag
    if (fileId)
        *fileId = static_cast<std::uint64_t>(r.fileId.QuadPart);
}

/// The first query of a read: one entry with the pattern, class 37, or
/// class 3 for a file system that refuses class 37.
LONG QueryFirst(HANDLE directory, UNICODE_STRING* pattern, IdBothDirRecord* out) {
    IO_STATUS_BLOCK io{};
    alignas(8) unsigned char first[kFirstBufferBytes];
    LONG status = Query()(directory, nullptr, nullptr, nullptr, &io, first, sizeof first,
                          kClassIdBothDirectory, TRUE, pattern, FALSE);
    if (status >= 0) {
        std::memcpy(out, first, sizeof first);
        return status;
    }
    if (status != kStatusAccessViolation)
        return status;
    alignas(8) unsigned char fallback[kFallbackBufferBytes];
    status = Query()(directory, nullptr, nullptr, nullptr, &io, fallback, sizeof fallback,
                     kClassBothDirectory, TRUE, pattern, FALSE);
    if (status < 0)
        return status;
    const auto* both = reinterpret_cast<const IdBothDirRecord*>(fallback);
    const auto* bothName = reinterpret_cast<const WCHAR*>(fallback + kBothDirNameOffset);
    BY_HANDLE_FILE_INFORMATION info{};
    if (both->nameLength == sizeof(WCHAR) && bothName[0] == L'.' &&
        ::GetFileInformationByHandle(directory, &info)) {
        std::memcpy(out, both, kBothDirNameOffset);
        out->fileId.QuadPart = static_cast<LONGLONG>(
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
        const std::size_t room = kFirstBufferBytes - offsetof(IdBothDirRecord, name);
        out->nameLength = std::min<ULONG>(both->nameLength, static_cast<ULONG>(room));
        std::memcpy(out->name, bothName, out->nameLength);
        return status;
    }
    // Another entry cannot be given an identifier: the read is refused as
    // the class-37 query refused it.
    return kStatusAccessViolation;
}

} // namespace

DWORD MapNtStatus(LONG status) {
    if (g_native.RtlNtStatusToDosError)
        return Fn<StatusToErrorFn>(g_native.RtlNtStatusToDosError)(status);
    switch (static_cast<std::uint32_t>(status)) {
    case 0:
        return ERROR_SUCCESS;
    case 0x80000005:
        return ERROR_MORE_DATA;
    case 0xC000000E:
    case 0xC000000F:
    case 0xC0000034:
        return ERROR_FILE_NOT_FOUND;
    case 0xC000001E:
    case 0xC000001F:
    case 0xC0000021:
    case 0xC0000022:
    case 0xC0000056:
    case 0xC00000BA:
    case 0xC00000D5:
    case 0xC0000121:
    case 0xC0000123:
        return ERROR_ACCESS_DENIED;
    case 0xC0000024:
        return ERROR_INVALID_HANDLE;
    case 0xC0000033:
        return ERROR_INVALID_NAME;
    case 0xC000003A:
        return ERROR_PATH_NOT_FOUND;
    case 0xC0000103:
        return ERROR_DIRECTORY;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

std::wstring RewriteNamePattern(std::wstring_view pattern, bool endedWithDot) {
    if (pattern == L"*.*")
        return L"*";
    std::wstring out(pattern);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = pattern[i];
        if (c == L'?') {
            out[i] = L'>';
        } else if (c == L'.') {
            if (i > 0 && pattern[i - 1] == L'*')
                out[i - 1] = L'<';
            if (i + 1 < pattern.size() && (pattern[i + 1] == L'?' || pattern[i + 1] == L'*'))
                out[i] = L'"';
        }
    }
    if (endedWithDot && !out.empty() && out.back() == L'*')
        out.back() = L'<';
    return out;
}

void SetDirectoryQueryForTest(DirectoryQueryFn query) {
    g_queryOverride = query;
}

HANDLE NativeFindFirst(const wchar_t* pattern, WIN32_FIND_DATAW* data, std::uint64_t* fileId) {
    if (fileId)
        *fileId = 0;
    if (!NativeSetPresent())
        return FailFirst(ERROR_PROC_NOT_FOUND);
    const std::size_t patternChars = pattern ? std::wcslen(pattern) : 0;
    const bool endedWithDot = patternChars && pattern[patternChars - 1] == L'.';

    NtPath path;
    PWSTR filePart = nullptr;
    if (!pattern || !Fn<RtlDosPathFn>(g_native.RtlDosPathNameToNtPathName_U)(pattern, &path.text,
                                                                             &filePart, nullptr))
        return FailFirst(ERROR_PATH_NOT_FOUND);

    const std::size_t totalChars = path.text.Length / sizeof(WCHAR);
    const std::size_t dirChars =
        filePart ? static_cast<std::size_t>(filePart - path.text.Buffer) : totalChars;
    const std::wstring_view namePattern(path.text.Buffer + dirChars, totalChars - dirChars);

    UNICODE_STRING directoryName{};
    directoryName.Buffer = path.text.Buffer;
    directoryName.Length = static_cast<USHORT>(dirChars * sizeof(WCHAR));
    directoryName.MaximumLength = directoryName.Length;
    bool dropped = false;
    if (dirChars >= 2 && path.text.Buffer[dirChars - 1] == L'\\' &&
        path.text.Buffer[dirChars - 2] != L':') {
        directoryName.Length -= sizeof(WCHAR);
        dropped = true;
    }

    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &directoryName;
    IO_STATUS_BLOCK io{};
    DirectoryHandle directory;
    auto open = Fn<NtOpenFileFn>(g_native.NtOpenFile);
    LONG status =
        open(&directory.h, kListAccess, &attributes, &io, kShareReadWrite, kOpenDirectoryOptions);
    if ((status == kStatusInvalidParameter || status == kStatusNotADirectory) && dropped) {
        directoryName.Length += sizeof(WCHAR);
        status = open(&directory.h, kListAccess, &attributes, &io, kShareReadWrite,
                      kOpenDirectoryOptions);
    }
    if (status < 0) {
        directory.h = nullptr;
        if (status == kStatusNameNotFound || status == kStatusObjectTypeMismatch)
            status = kStatusPathNotFound;
        return FailFirst(MapNtStatus(status));
    }
    if (namePattern.empty())
        return FailFirst(ERROR_FILE_NOT_FOUND);

    std::wstring rewritten = RewriteNamePattern(namePattern, endedWithDot);
    UNICODE_STRING queryPattern{};
    queryPattern.Buffer = rewritten.data();
    queryPattern.Length = static_cast<USHORT>(rewritten.size() * sizeof(WCHAR));
    queryPattern.MaximumLength = queryPattern.Length;

    alignas(8) unsigned char record[kFirstBufferBytes];
    auto* entry = reinterpret_cast<IdBothDirRecord*>(record);
    status = QueryFirst(directory.h, &queryPattern, entry);
    if (status < 0)
        return FailFirst(MapNtStatus(status));

    FillFindData(*entry, data, fileId);
    auto* context = static_cast<NativeEnumContext*>(ProcessHeapAlloc(sizeof(NativeEnumContext)));
    if (!context)
        return FailFirst(ERROR_NOT_ENOUGH_MEMORY);
    *context = {directory.Release(), nullptr, nullptr, kBatchBufferBytes, 0};
    return context;
}

BOOL NativeFindNext(HANDLE handle, WIN32_FIND_DATAW* data, std::uint64_t* fileId) {
    auto* context = static_cast<NativeEnumContext*>(handle);
    if (!context || handle == INVALID_HANDLE_VALUE || !NativeSetPresent())
        return FailWith(ERROR_INVALID_HANDLE);
    if (!context->buffer) {
        context->buffer = static_cast<unsigned char*>(ProcessHeapAlloc(kBatchBufferBytes));
        if (!context->buffer)
            return FailWith(ERROR_NOT_ENOUGH_MEMORY);
        context->bufferSize = kBatchBufferBytes;
        context->cursor = context->buffer;
    }
    if (context->cursor == context->buffer) {
        IO_STATUS_BLOCK io{};
        const LONG status =
            Query()(context->directory, nullptr, nullptr, nullptr, &io, context->buffer,
                    context->bufferSize, kClassIdBothDirectory, FALSE, nullptr, FALSE);
        if (status == kStatusBufferOverflow) {
            // Only whole records are handed out: a cut last record is dropped.
            auto* previous = reinterpret_cast<IdBothDirRecord*>(context->buffer);
            if (previous->nextEntryOffset) {
                for (;;) {
                    auto* next = reinterpret_cast<IdBothDirRecord*>(
                        reinterpret_cast<unsigned char*>(previous) + previous->nextEntryOffset);
                    if (!next->nextEntryOffset)
                        break;
                    previous = next;
                }
                previous->nextEntryOffset = 0;
            }
        } else if (status < 0) {
            return FailWith(MapNtStatus(status));
        }
    }
    const auto* entry = reinterpret_cast<const IdBothDirRecord*>(context->cursor);
    context->cursor =
        entry->nextEntryOffset ? context->cursor + entry->nextEntryOffset : context->buffer;
    FillFindData(*entry, data, fileId);
    return TRUE;
}

BOOL NativeFindClose(HANDLE handle, std::uint64_t* fileId) {
    auto* context = static_cast<NativeEnumContext*>(handle);
    if (!context || handle == INVALID_HANDLE_VALUE || !NativeSetPresent())
        return FailWith(ERROR_INVALID_HANDLE);
    if (fileId)
        *fileId = 0;
    const LONG status = Fn<NtCloseFn>(g_native.NtClose)(context->directory);
    ProcessHeapFree(context->buffer);
    ProcessHeapFree(context);
    if (status < 0)
        return FailWith(MapNtStatus(status));
    return TRUE;
}

} // namespace zev::wfsys
