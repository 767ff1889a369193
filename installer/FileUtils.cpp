#include "installer/FileUtils.h"

#include <rpc.h>
#include <shellapi.h>

#include "common/UniqueHandle.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"
#include "signature/FileSignChecker.h"

namespace hotfixer {

namespace {

constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr DWORD kPathChunk = MAX_PATH;
// FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI.
constexpr FILEOP_FLAGS kQuietDelete =
    FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;

DWORD CreateLongPathDirectory(const std::wstring& path) {
    const std::wstring longPath = kLongPathPrefix + path;
    return ::CreateDirectoryW(longPath.c_str(), nullptr) ? ERROR_SUCCESS : ::GetLastError();
}

struct RpcStringTraits {
    using Type = RPC_WSTR;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::RpcStringFreeW(&h); }
};

} // namespace

DWORD CreateDirRecurs(const wchar_t* path) {
    static constexpr wchar_t kOperation[] = L"CreateDirRecurs";
    if (!path)
        return ERROR_INVALID_PARAMETER;
    const std::wstring dir = path;
    DWORD result = CreateLongPathDirectory(dir);
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) {
        const size_t cut = dir.rfind(L'\\');
        if (cut == std::wstring::npos) {
            TraceLine(kTraceError, L"%s: incorrect path %s", kOperation, path);
            return ERROR_BAD_PATHNAME;
        }
        const DWORD parent = CreateDirRecurs(dir.substr(0, cut).c_str());
        if (parent != ERROR_SUCCESS)
            return parent;
        result = CreateLongPathDirectory(dir);
        if (result != ERROR_SUCCESS && result != ERROR_ALREADY_EXISTS)
            TraceLine(kTraceError, L"%s", ErrorText(result, std::wstring(kOperation)).c_str());
    }
    return result == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : result;
}

std::wstring GetTempDirPath() {
    std::wstring buffer(kPathChunk, L'\0');
    DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    while (length > buffer.size()) {
        buffer.assign(length + 1, L'\0');
        length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0) {
        TraceLine(kTraceError, L"%s",
                  ErrorText(::GetLastError(), std::wstring(L"GetTempDirPath")).c_str());
        return {};
    }
    buffer.resize(length);
    return buffer;
}

bool DeleteDirRecurs(const std::wstring& path) {
    std::wstring from = path;
    from.push_back(L'\0');
    from.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = kQuietDelete;
    if (::SHFileOperationW(&op) != 0) {
        TraceLine(kTraceError, L"%s: Cann't delete directory %s", L"DeleteDirRecurs", path.c_str());
        return false;
    }
    return true;
}

std::wstring NewGuidString() {
    UUID uuid;
    ::UuidCreate(&uuid);
    zev::UniqueHandle<RpcStringTraits> text;
    ::UuidToStringW(&uuid, text.put());
    if (!text)
        return {};
    return L"{" + std::wstring(reinterpret_cast<const wchar_t*>(text.get())) + L"}";
}

bool IsFileSigned(const std::wstring& filePath, const std::wstring& productFolder) {
    FileSignChecker checker(productFolder);
    return checker.CheckFileSign(filePath);
}

void FindMspFiles(const std::wstring& folder, std::vector<std::wstring>& names,
                  const std::wstring& productFolder, bool checkSignatures) {
    const std::wstring pattern = folder + L"\\*.msp";
    WIN32_FIND_DATAW entry;
    zev::UniqueFind find(::FindFirstFileW(pattern.c_str(), &entry));
    if (!find)
        return;
    do {
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (!checkSignatures || IsFileSigned(folder + L"\\" + entry.cFileName, productFolder))
            names.push_back(entry.cFileName);
    } while (::FindNextFileW(find.get(), &entry));
}

std::wstring GetModulePath() {
    std::wstring buffer;
    DWORD length = 0;
    do {
        buffer.assign(buffer.size() + kPathChunk, L'\0');
        length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    } while (length == buffer.size());
    buffer.resize(length);
    return buffer;
}

std::wstring GetModuleName() {
    const std::wstring path = GetModulePath();
    const size_t cut = path.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : path.substr(cut + 1);
}

} // namespace hotfixer
