// The IO object's data operations: positioned reads and writes, size,
// flush, attributes, times, the DACL, and the asynchronous reader.
#include "plugin/io/IoRecord.h"

#include "plugin/frame/BoundTables.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/Impersonation.h"
#include "plugin/fs/KernelCalls.h"
#include "plugin/fs/WinErrorMap.h"
#include "plugin/io/IoFlags.h"
#include "plugin/io/PropertyValue.h"

#include <cstring>

namespace zev::wfsys {

using namespace zev::frame;

std::uint32_t g_bytesWritten = 0;

Result TotalBytesWritten(std::uint32_t* out) {
    if (out)
        *out = g_bytesWritten;
    return errOK;
}

namespace {

constexpr std::uint64_t kMaxOffset = 0x7FFFFFFFFFFFFFFFull;
constexpr std::size_t kSmallGap = 1000;
constexpr std::size_t kStackZeros = 100;
constexpr std::size_t kHeapZeros = 512;
constexpr std::uint32_t kRequestCountMask = 0x1FFFFFFF;
constexpr std::uint32_t kRequestPending = 0x20000000;
constexpr std::uint32_t kRequestFailed = 0x40000000;
constexpr std::uint32_t kRequestKeptBits = 0xC0000000;
constexpr NTSTATUS kStatusEndOfFile = static_cast<NTSTATUS>(0xC0000011);

bool ValidHandle(HANDLE h) {
    return h != INVALID_HANDLE_VALUE && h != nullptr;
}

/// Seeks to `offset`; false with a nonzero last error is a failure.
bool Seek(HANDLE h, std::uint64_t offset, DWORD method = FILE_BEGIN) {
    LONG high = static_cast<LONG>(offset >> 32);
    ::SetLastError(NO_ERROR);
    const DWORD low = ::SetFilePointer(h, static_cast<LONG>(offset), &high, method);
    return !(low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR);
}

std::uint64_t CurrentPointer(HANDLE h) {
    LONG high = 0;
    const DWORD low = ::SetFilePointer(h, 0, &high, FILE_CURRENT);
    return (std::uint64_t(static_cast<DWORD>(high)) << 32) | low;
}

class LockScope {
public:
    explicit LockScope(hOBJ lock) : m_lock(lock) {
        if (m_lock)
            reinterpret_cast<LockMethodFn>(m_lock->methods[kLockSlotLock - 1])(m_lock, 1);
    }
    ~LockScope() {
        if (m_lock)
            reinterpret_cast<LockMethodFn>(m_lock->methods[kLockSlotUnlock - 1])(m_lock, 0);
    }
    LockScope(const LockScope&) = delete;
    LockScope& operator=(const LockScope&) = delete;

private:
    hOBJ m_lock;
};

bool ForcedReadAllowed(const Win32IOData* d) {
    return (d->access_mode & fACCESS_FORCE_READ) && g_wideMode && g_fsDirect && FSDirectOpen;
}

void OpenDirect(Win32IOData* d) {
    if (d->forced_read == 1 || !ForcedReadAllowed(d))
        return;
    std::uint64_t handle = 0;
    if (Succeeded(FSDirectOpen(&handle, StoredWide(d)))) {
        if (d->direct_handle && FSDirectClose)
            FSDirectClose(d->direct_handle);
        d->direct_handle = handle;
        d->forced_read = 1;
    }
}

Result OverlappedRead(OverlappedReader* reader, std::uint32_t* read, std::uint64_t offset,
                      void* buffer, std::uint32_t count) {
    reader->overlapped.Offset = static_cast<DWORD>(offset);
    reader->overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    reader->overlapped.Internal = 0;
    reader->overlapped.InternalHigh = 0;
    ::InterlockedIncrement(&reader->inUse);
    ::ResetEvent(reader->overlapped.hEvent);
    DWORD done = 0;
    DWORD error = NO_ERROR;
    NTSTATUS status = 0;
    if (!::ReadFile(*reader->handle, buffer, count, &done, &reader->overlapped)) {
        error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            ::WaitForSingleObject(reader->overlapped.hEvent, INFINITE);
            status = static_cast<NTSTATUS>(reader->overlapped.Internal);
            done = static_cast<DWORD>(reader->overlapped.InternalHigh);
            error = NO_ERROR;
        }
    } else {
        done = static_cast<DWORD>(reader->overlapped.InternalHigh);
    }
    ::InterlockedDecrement(&reader->inUse);
    *read = done;
    if ((error == NO_ERROR && status == 0) || error == ERROR_HANDLE_EOF ||
        status == kStatusEndOfFile)
        return done < count ? warnEOF : errOK;
    if (error == ERROR_LOCK_VIOLATION)
        return errLOCKED;
    return errOBJECT_READ;
}

/// Fills the file with zero bytes from its end up to `target`.
Result ZeroExtend(hOBJ obj, std::uint64_t target) {
    Win32IOData* d = Io(obj);
    if (!Seek(d->handle, 0, FILE_END))
        return errOBJECT_SEEK;
    const std::uint64_t end = CurrentPointer(d->handle);
    std::uint64_t gap = target > end ? target - end : 0;
    unsigned char stackZeros[kStackZeros] = {};
    void* heapZeros = nullptr;
    unsigned char* zeros = stackZeros;
    std::size_t chunk = sizeof stackZeros;
    if (gap > kSmallGap && Succeeded(HeapAlloc(obj, &heapZeros, kHeapZeros))) {
        std::memset(heapZeros, 0, kHeapZeros);
        zeros = static_cast<unsigned char*>(heapZeros);
        chunk = kHeapZeros;
    }
    Result r = errOK;
    while (gap) {
        const DWORD piece = static_cast<DWORD>(gap < chunk ? gap : chunk);
        DWORD done = 0;
        if (!::WriteFile(d->handle, zeros, piece, &done, nullptr) || done != piece) {
            d->win_error = ::GetLastError();
            r = errOBJECT_WRITE;
            break;
        }
        gap -= piece;
    }
    HeapFree(obj, heapZeros);
    d->position = CurrentPointer(d->handle);
    d->size = d->position;
    return r;
}

/// The reader-side handle of the object: its Windows handle or its direct-read one.
bool HasFile(const Win32IOData* d) {
    return d->forced_read == 1 ? d->direct_handle != 0 : ValidHandle(d->handle);
}

/// Without a buffer the size given must still hold the value.
Result CopyDWord(std::uint32_t value, std::uint32_t* count, void* buffer, std::uint32_t size) {
    if (!buffer && size < sizeof value) {
        *count = sizeof value;
        return errBUFFER_TOO_SMALL;
    }
    return CopyValue(&value, sizeof value, count, buffer, size);
}

Result SecurityError(DWORD e) {
    return static_cast<Result>(0xA0000000u | (e & 0x0FFFFFFFu) | ((e >> 4) & 0x0F000000u));
}

void WINAPI AsyncCompletion(DWORD error, DWORD transferred, LPOVERLAPPED overlapped) {
    auto* block = reinterpret_cast<unsigned char*>(overlapped);
    std::uint32_t* control = nullptr;
    std::memcpy(&control, block + sizeof(OVERLAPPED), sizeof control);
    std::uint32_t word = *control & kRequestKeptBits;
    if (error != NO_ERROR && error != ERROR_HANDLE_EOF)
        word |= kRequestFailed;
    word |= transferred & kRequestCountMask;
    *control = word;
    ::HeapFree(::GetProcessHeap(), 0, block);
}

/// The client's asynchronous read request.
struct AsyncRequest {
    std::uint64_t offset;
    void* buffer;
    std::uint32_t control;
};

} // namespace

Result ReadAt(hOBJ obj, std::uint32_t* read, std::uint64_t offset, void* buffer,
              std::uint32_t count) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    std::uint32_t got = 0;
    auto finish = [&](Result r) {
        if (read)
            *read = got;
        return r;
    };
    if (count == 0)
        return finish(errOK);
    if (!buffer)
        return finish(errPARAMETER_INVALID);
    if (offset > kMaxOffset)
        return finish(errOBJECT_SEEK);
    if (d->handle == INVALID_HANDLE_VALUE && d->forced_read != 1)
        return finish(errOBJECT_NOT_OPENED);
    if (d->clamp_reads && offset > d->size)
        return finish(errOUT_OF_RANGE);

    Result result = errOK;
    if (d->overlapped_reader && ValidHandle(d->handle)) {
        result = OverlappedRead(d->overlapped_reader, &got, offset, buffer, count);
        if (result == errLOCKED) {
            result = errOBJECT_READ;
            OpenDirect(d);
        }
        if (Succeeded(result))
            d->position = offset + got;
    } else {
        LockScope lock(d->lock_object);
        std::uint32_t asked = count;
        if (d->clamp_reads && offset + count > d->size) {
            if (!(d->access_mode & fACCESS_NO_BUFFERING))
                asked = static_cast<std::uint32_t>(d->size - offset);
            result = warnEOF;
        }
        bool readIt = true;
        if (!ValidHandle(d->handle)) {
            result = errOBJECT_READ; // forced reading only
            readIt = false;
        } else if (offset != d->position || (d->open_mode & kOpenSeekAlways)) {
            if (!Seek(d->handle, offset)) {
                d->win_error = ::GetLastError();
                OpenDirect(d);
                result = d->forced_read == 1 ? errOBJECT_READ : errOBJECT_SEEK;
                readIt = false;
            }
        }
        if (readIt) {
            DWORD done = 0;
            if (::ReadFile(d->handle, buffer, asked, &done, nullptr)) {
                got = done;
                d->position = offset + done;
                if (done < count)
                    result = warnEOF;
            } else {
                d->win_error = ::GetLastError();
                d->position = CurrentPointer(d->handle);
                result = errOBJECT_READ;
                if (d->win_error == ERROR_LOCK_VIOLATION)
                    OpenDirect(d);
            }
        }
    }
    // Forced-read fallback.
    if (Failed(result) && result != errOUT_OF_RANGE && result != errOBJECT_SEEK && d->forced_read &&
        FSDirectRead) {
        std::uint32_t direct = 0;
        const Result r = FSDirectRead(d->direct_handle, offset, buffer, count, &direct);
        if (Succeeded(r)) {
            PluginTrace(obj, kTraceInfo, "wfsys\tIO:force read ok size %d", direct);
            d->win_error = 0;
            got = direct;
            d->position = offset + got;
            result = r == warnEOF ? warnEOF : errOK;
        } else {
            PluginTrace(obj, kTraceInfo,
                        "wfsys\tIO:force read result %terr (returned %terr), size %d", r, result,
                        count);
            if (r == errLOCKED) {
                d->win_error = ERROR_LOCK_VIOLATION;
                result = errLOCKED;
            }
        }
    }
    return finish(result);
}

Result WriteAt(hOBJ obj, std::uint32_t* written, std::uint64_t offset, const void* buffer,
               std::uint32_t count) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    std::uint32_t done = 0;
    Result result = errOK;
    {
        LockScope lock(d->lock_object);
        if (d->open_mode & kOpenSeekAlways) {
            std::uint64_t ignored = 0;
            QuerySize(obj, &ignored, 0);
            d->win_error = 0;
        }
        if (!buffer)
            result = errPARAMETER_INVALID;
        else if (offset > kMaxOffset)
            result = errOBJECT_SEEK;
        else if (!ValidHandle(d->handle))
            result = errOBJECT_NOT_OPENED;
        else if (!(d->access_mode & fACCESS_WRITE))
            result = errOBJECT_READ_ONLY;
        std::uint64_t room = 0;
        if (Succeeded(result)) {
            if (offset == d->size) {
                if ((d->access_mode & fACCESS_NO_GROW) && count)
                    result = errOBJECT_RESIZE;
                else if (d->position != offset && !Seek(d->handle, 0, FILE_END))
                    result = errOBJECT_SEEK;
            } else if (offset < d->size) {
                room = d->size - offset;
                if ((offset != d->position || (d->open_mode & kOpenSeekAlways)) &&
                    !Seek(d->handle, offset))
                    result = errOBJECT_SEEK;
            } else if (d->access_mode & (fACCESS_NO_EXTEND | fACCESS_NO_GROW)) {
                result = errOBJECT_RESIZE;
            } else if (!(d->access_mode & fACCESS_NO_BUFFERING)) {
                result = ZeroExtend(obj, offset);
            } else if (!Seek(d->handle, offset)) {
                result = errOBJECT_SEEK;
            } else {
                d->position = d->size = offset;
            }
        }
        if (Succeeded(result) && count) {
            std::uint64_t growth = 0;
            DWORD asked = count;
            if (count > room) {
                if (d->access_mode & fACCESS_NO_GROW)
                    asked = static_cast<DWORD>(room);
                else
                    growth = count - room;
            }
            DWORD wrote = 0;
            if (::WriteFile(d->handle, buffer, asked, &wrote, nullptr)) {
                const std::uint64_t shortfall = asked - wrote;
                d->size += growth > shortfall ? growth - shortfall : 0;
                if (wrote)
                    d->written = 1;
                d->position = offset + wrote;
                g_bytesWritten += wrote;
                done = wrote;
                result = errOK;
            } else {
                d->win_error = ::GetLastError();
                result = MapWin32Error(d->win_error);
                if (result == errUNEXPECTED)
                    result = errOBJECT_WRITE;
            }
        }
    }
    if (written)
        *written = done;
    return result;
}

Result QuerySize(hOBJ obj, std::uint64_t* size, std::uint32_t) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    if (!size)
        return errUNEXPECTED;
    Result result = errOK;
    if (d->direct_handle && FSDirectGetFileSize) {
        std::uint32_t high = 0;
        std::uint32_t low = 0;
        result = FSDirectGetFileSize(d->direct_handle, &high, &low);
        if (Succeeded(result))
            d->size = (std::uint64_t(high) << 32) | low;
    } else if (!ValidHandle(d->handle)) {
        result = errUNEXPECTED;
    } else if ((d->open_mode & kOpenSeekAlways) || d->size == 0) {
        DWORD high = 0;
        ::SetLastError(NO_ERROR);
        const DWORD low = ::GetFileSize(d->handle, &high);
        if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) {
            d->size = 0;
            d->win_error = ::GetLastError();
            PluginTrace(obj, kTraceError, "wfsys\tGetFileSize failed(0x%08x)", d->win_error);
            result = errUNEXPECTED;
        } else {
            d->size = (std::uint64_t(high) << 32) | low;
        }
    }
    *size = d->size;
    return result;
}

Result Resize(hOBJ obj, std::uint64_t newSize) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    if (!ValidHandle(d->handle))
        return errOBJECT_NOT_OPENED;
    if (!(d->access_mode & fACCESS_WRITE))
        return errOBJECT_READ_ONLY;
    if (newSize > kMaxOffset)
        return errOBJECT_SEEK;
    if (newSize == d->size)
        return errOK;
    if (newSize > d->size)
        return (d->access_mode & fACCESS_NO_GROW) ? errOBJECT_BAD_STATE : ZeroExtend(obj, newSize);
    if (d->access_mode & fACCESS_NO_SHRINK)
        return errOBJECT_BAD_STATE;
    if (!Seek(d->handle, newSize))
        return errOBJECT_SEEK;
    d->position = newSize;
    if (!::SetEndOfFile(d->handle)) {
        d->win_error = ::GetLastError();
        return errOBJECT_RESIZE;
    }
    d->size = newSize;
    return errOK;
}

Result FlushBuffers(hOBJ obj) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    if (!ValidHandle(d->handle))
        return errOK;
    if (::FlushFileBuffers(d->handle))
        return errOK;
    d->win_error = ::GetLastError();
    const Result r = MapWin32Error(d->win_error);
    return r == errUNEXPECTED ? errFLUSH_FAILED : r;
}

Result GetAttributes(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                     std::uint32_t size) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    return CopyDWord(d->file_information.dwFileAttributes, count, buffer, size);
}

Result SetAttributes(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
                     std::uint32_t size) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    *count = 0;
    if (size != 4 || !buffer)
        return errPARAMETER_INVALID;
    if (!HasName(d))
        return errOBJECT_NOT_INITIALIZED;
    if (!(d->access_mode & fACCESS_WRITE))
        return errACCESS_DENIED;
    DWORD value = 0;
    std::memcpy(&value, buffer, 4);
    if (!SetAttributesOf(d->name_buffer, value))
        return MapLastError(&d->win_error);
    d->file_information.dwFileAttributes = value;
    return errOK;
}

namespace {

FILETIME* TimeSlot(Win32IOData* d, std::uint32_t id) {
    switch (id) {
    case kPropCreationTime:
        return &d->file_information.ftCreationTime;
    case kPropLastWriteTime:
        return &d->file_information.ftLastWriteTime;
    case kPropLastAccessTime:
        return &d->file_information.ftLastAccessTime;
    default:
        return nullptr;
    }
}

} // namespace

Result GetTime(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer, std::uint32_t size) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    FILETIME* slot = TimeSlot(d, id);
    if (!slot) {
        *count = 0;
        return errPROPERTY_NOT_IMPLEMENTED;
    }
    *count = 8;
    if (!HasFile(d))
        return errOBJECT_NOT_INITIALIZED;
    if (!buffer)
        return errOK;
    if (size < 8)
        return errBUFFER_TOO_SMALL;
    const std::uint64_t ft = (std::uint64_t(slot->dwHighDateTime) << 32) | slot->dwLowDateTime;
    const std::uint64_t value = DateTimeFromFileTime(ft);
    std::memcpy(buffer, &value, 8);
    return errOK;
}

Result SetTime(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* buffer,
               std::uint32_t size) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    *count = 0;
    if (!ValidHandle(d->handle))
        return errOBJECT_NOT_INITIALIZED;
    if (size < 8 || !buffer)
        return errPARAMETER_INVALID;
    if (!g_dateTimeCreate)
        return errFUNCTION_NOT_FOUND;
    FILETIME* slot = TimeSlot(d, id);
    if (!slot)
        return errPROPERTY_NOT_IMPLEMENTED;
    std::uint64_t value = 0;
    std::memcpy(&value, buffer, 8);
    const std::uint64_t ft = FileTimeFromDateTime(value);
    const FILETIME time{static_cast<DWORD>(ft), static_cast<DWORD>(ft >> 32)};
    const bool creation = id == kPropCreationTime;
    const bool access = id == kPropLastAccessTime;
    const bool write = id == kPropLastWriteTime;
    if (!::SetFileTime(d->handle, creation ? &time : nullptr, access ? &time : nullptr,
                       write ? &time : nullptr))
        return MapLastError(&d->win_error);
    *slot = time;
    return errOK;
}

Result GetSecurity(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                   std::uint32_t size) {
    Win32IOData* d = Io(obj);
    *count = 0;
    d->win_error = 0;
    auto get = Fn<decltype(&::GetFileSecurityW)>(g_security.GetFileSecurityW);
    if (!get)
        return errNOT_SUPPORTED;
    const bool both = buffer && size;
    DWORD needed = 0;
    const BOOL ok =
        get(StoredWide(d), DACL_SECURITY_INFORMATION,
            both ? static_cast<PSECURITY_DESCRIPTOR>(buffer) : nullptr, both ? size : 0, &needed);
    *count = needed;
    if (!ok) {
        d->win_error = ::GetLastError();
        if (d->win_error == ERROR_INSUFFICIENT_BUFFER)
            return errBUFFER_TOO_SMALL;
        if (d->win_error)
            return SecurityError(d->win_error);
    }
    if (ok && needed == 0)
        return errNOT_FOUND;
    return errOK;
}

Result SetSecurity(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
                   std::uint32_t size) {
    Win32IOData* d = Io(obj);
    *count = 0;
    d->win_error = 0;
    auto set = Fn<decltype(&::SetFileSecurityW)>(g_security.SetFileSecurityW);
    if (!set)
        return errNOT_SUPPORTED;
    if (!buffer || size == 0)
        return errPARAMETER_INVALID;
    auto* descriptor = const_cast<PSECURITY_DESCRIPTOR>(buffer);
    if (set(StoredWide(d), DACL_SECURITY_INFORMATION, descriptor)) {
        *count = size;
        return errOK;
    }
    d->win_error = ::GetLastError();
    if (d->win_error == ERROR_ACCESS_DENIED) {
        CThreadTokenSuspension suspension;
        if (!suspension.HadToken())
            return errOK;
        if (set(StoredWide(d), DACL_SECURITY_INFORMATION, descriptor)) {
            *count = size;
            return errOK;
        }
        d->win_error = ::GetLastError();
    }
    return SecurityError(d->win_error);
}

Result GetSavedAttributes(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                          std::uint32_t size) {
    Win32IOData* d = Io(obj);
    if (d->saved_attributes == INVALID_FILE_ATTRIBUTES)
        return errUNEXPECTED;
    return CopyDWord(d->saved_attributes, count, buffer, size);
}

Result StartAsyncRead(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
                      std::uint32_t) {
    Win32IOData* d = Io(obj);
    *count = 0;
    if (!d->overlapped_reader)
        return errOBJECT_BAD_STATE;
    if (!buffer)
        return errPARAMETER_INVALID;
    AsyncRequest* request = nullptr;
    std::memcpy(&request, buffer, sizeof request);
    if (!request)
        return errPARAMETER_INVALID;
    request->control = (request->control & ~kRequestFailed) | kRequestPending;
    auto* block = static_cast<unsigned char*>(
        ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(OVERLAPPED) + sizeof(void*)));
    if (!block)
        return errNOT_ENOUGH_MEMORY;
    auto* overlapped = reinterpret_cast<OVERLAPPED*>(block);
    overlapped->Offset = static_cast<DWORD>(request->offset);
    overlapped->OffsetHigh = static_cast<DWORD>(request->offset >> 32);
    std::uint32_t* control = &request->control;
    std::memcpy(block + sizeof(OVERLAPPED), &control, sizeof control);
    if (::ReadFileEx(d->handle, request->buffer, request->control & kRequestCountMask, overlapped,
                     AsyncCompletion))
        return errOK;
    const DWORD error = ::GetLastError();
    ::HeapFree(::GetProcessHeap(), 0, block);
    if (error == ERROR_HANDLE_EOF) {
        request->control &= ~(kRequestPending | kRequestCountMask);
        return warnEOF;
    }
    request->control = (request->control & kRequestKeptBits) | kRequestFailed;
    return error == ERROR_LOCK_VIOLATION ? errLOCKED : errUNEXPECTED;
}

} // namespace zev::wfsys
