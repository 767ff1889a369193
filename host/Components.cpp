// Exports of the framework components the plug-ins bind or look up: the
// kernel's trace formatter and date-time functions, the platform query, the
// text conversion and the direct-read driver (ordinary reads, switchable by
// tests).
#include "host/HostInternal.h"

#include "common/UniqueHandle.h"
#include "plugin/frame/Identifiers.h"

#include <cstring>

namespace zev::host {

using namespace zev::frame;

namespace {

Result Trace(hOBJ obj, std::uint32_t level, const char* format, va_list args) {
    Host* host = Host::Current();
    if (!host || !format)
        return errPARAMETER_INVALID;
    bool tagged = std::memcmp(format, kTraceTag, sizeof kTraceTag) == 0;
    if (tagged) {
        format += sizeof kTraceTag;
        if (*format == '\t')
            ++format;
    }
    host->AddTrace(obj, level, FormatTrace(format, args), tagged);
    return errOK;
}

Result TextConvert(ConvertedText* dest, std::uint32_t flags, std::uint32_t maxChars,
                   const void* source, std::uint32_t sourceSize, std::int32_t codePage) {
    (void)flags;
    Host* host = Host::Current();
    if (!host || !dest || !source)
        return errPARAMETER_INVALID;
    std::wstring wide;
    const std::size_t size = sourceSize ? sourceSize : MeasureText(source, codePage);
    if (!DecodeText(source, size, codePage, wide))
        return errPARAMETER_INVALID;
    while (!wide.empty() && wide.back() == L'\0')
        wide.pop_back();
    if (maxChars && wide.size() > maxChars)
        return errBUFFER_TOO_SMALL;
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    void* block = nullptr;
    const Result r = host->Alloc(&block, bytes);
    if (Failed(r))
        return r;
    std::memcpy(block, wide.c_str(), bytes);
    dest->text = static_cast<wchar_t*>(block);
    dest->size = static_cast<std::uint32_t>(bytes);
    return errOK;
}

Result DateTimeCreate(std::uint64_t* out, std::uint64_t fileTime) {
    if (!out)
        return errPARAMETER_INVALID;
    *out = DateTimeFromFileTime(fileTime);
    return errOK;
}

Result DateTimeCalendar(std::uint64_t* out, std::uint32_t year, std::uint32_t month,
                        std::uint32_t day, std::uint32_t hour, std::uint32_t minute,
                        std::uint32_t second, std::uint32_t nanoseconds) {
    if (!out || nanoseconds >= 1000000000u)
        return errPARAMETER_INVALID;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME ft{};
    if (!::SystemTimeToFileTime(&st, &ft))
        return errPARAMETER_INVALID;
    const std::uint64_t value = (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    *out = DateTimeFromFileTime(value) + nanoseconds / 10;
    return errOK;
}

std::uint32_t PlatformQuery() {
    return (::GetVersion() & 0x80000000u) ? 1 : kPlatformWindowsNt;
}

// ---- direct-read driver ----------------------------------------------------------

Host* DriverHost(Result* failure) {
    Host* host = Host::Current();
    if (!host) {
        *failure = errUNEXPECTED;
        return nullptr;
    }
    if (host->DirectRead() != DirectReadMode::Available) {
        *failure = host->DirectFailure();
        return nullptr;
    }
    return host;
}

/// The file behind a driver handle, or null with the failure to answer.
HANDLE DriverFile(std::uint64_t handle, Result* failure) {
    Host* host = DriverHost(failure);
    if (!host)
        return nullptr;
    HANDLE file = host->DirectHandle(handle);
    if (!file)
        *failure = errPARAMETER_INVALID;
    return file;
}

Result FSDirectOpen(std::uint64_t* handle, const wchar_t* name) {
    Result failure = errOK;
    Host* host = DriverHost(&failure);
    if (!host)
        return failure;
    if (!handle || !name)
        return errPARAMETER_INVALID;
    UniqueFile file(::CreateFileW(name, GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? errOBJECT_NOT_FOUND
                                                                              : errOBJECT_READ;
    }
    *handle = host->DirectOpen(std::move(file));
    return errOK;
}

Result FSDirectClose(std::uint64_t handle) {
    Host* host = Host::Current();
    if (!host)
        return errUNEXPECTED;
    return host->DirectClose(handle) ? errOK : errPARAMETER_INVALID;
}

Result FSDirectRead(std::uint64_t handle, std::uint64_t offset, void* buffer, std::uint32_t count,
                    std::uint32_t* read) {
    if (read)
        *read = 0;
    Result failure = errOK;
    HANDLE file = DriverFile(handle, &failure);
    if (!file)
        return failure;
    if (!buffer && count)
        return errPARAMETER_INVALID;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (!::ReadFile(file, buffer, count, &done, &at) && ::GetLastError() != ERROR_HANDLE_EOF)
        return errOBJECT_READ;
    if (read)
        *read = done;
    return done < count ? warnEOF : errOK;
}

Result FSDirectGetFileSize(std::uint64_t handle, std::uint32_t* high, std::uint32_t* low) {
    Result failure = errOK;
    HANDLE file = DriverFile(handle, &failure);
    if (!file)
        return failure;
    LARGE_INTEGER size{};
    if (!high || !low)
        return errPARAMETER_INVALID;
    if (!::GetFileSizeEx(file, &size))
        return errOBJECT_READ;
    *high = static_cast<std::uint32_t>(size.QuadPart >> 32);
    *low = static_cast<std::uint32_t>(size.QuadPart);
    return errOK;
}

std::uint64_t FromFileTime(const FILETIME& ft) {
    return DateTimeFromFileTime((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
}

Result FSDirectGetFileInfo(std::uint64_t handle, DirectFileInfo* info) {
    Result failure = errOK;
    HANDLE file = DriverFile(handle, &failure);
    if (!file)
        return failure;
    BY_HANDLE_FILE_INFORMATION fi{};
    if (!info)
        return errPARAMETER_INVALID;
    if (!::GetFileInformationByHandle(file, &fi))
        return errOBJECT_READ;
    info->attributes = fi.dwFileAttributes;
    info->size = (std::uint64_t{fi.nFileSizeHigh} << 32) | fi.nFileSizeLow;
    info->creationTime = FromFileTime(fi.ftCreationTime);
    info->lastAccessTime = FromFileTime(fi.ftLastAccessTime);
    info->lastWriteTime = FromFileTime(fi.ftLastWriteTime);
    return errOK;
}

template <typename F> void* Address(F f) {
    return reinterpret_cast<void*>(f);
}

} // namespace

std::vector<BuiltInExport> ComponentExports() {
    return {
        {kPidKernel, kFidTraceFormatter, Address(Trace)},
        {kPidKernel, kFidDateTimeCreate, Address(DateTimeCreate)},
        {kPidKernel, kFidDateTimeCalendar, Address(DateTimeCalendar)},
        {kPidPlatform, kFidPlatformQuery, Address(PlatformQuery)},
        {kPidTextConversion, kFidTextConvert, Address(TextConvert)},
        {kPidDirectRead, kFidFSDirectOpen, Address(FSDirectOpen)},
        {kPidDirectRead, kFidFSDirectClose, Address(FSDirectClose)},
        {kPidDirectRead, kFidFSDirectRead, Address(FSDirectRead)},
        {kPidDirectRead, kFidFSDirectGetFileSize, Address(FSDirectGetFileSize)},
        {kPidDirectRead, kFidFSDirectGetFileInfo, Address(FSDirectGetFileInfo)},
    };
}

// ---- driver handles ----------------------------------------------------------------

void Host::SetDirectRead(DirectReadMode mode, Result failure) {
    m_directMode = mode;
    m_directFailure = failure;
}

std::uint64_t Host::DirectOpen(UniqueFile file) {
    const std::uint64_t handle = m_nextDirectHandle++;
    m_directHandles[handle] = std::move(file);
    return handle;
}

HANDLE Host::DirectHandle(std::uint64_t handle) const {
    auto it = m_directHandles.find(handle);
    return it == m_directHandles.end() ? nullptr : it->second.get();
}

bool Host::DirectClose(std::uint64_t handle) {
    auto it = m_directHandles.find(handle);
    if (it == m_directHandles.end())
        return false;
    m_directHandles.erase(it);
    return true;
}

std::size_t Host::DirectHandlesOpen() const {
    return m_directHandles.size();
}

} // namespace zev::host
