#include "tests/support/TempDir.h"

#include <windows.h>
#include <rpc.h>

#include <stdexcept>
#include <vector>

#include "common/UniqueHandle.h"

namespace zev::test {

std::wstring UniqueName() {
    UUID id;
    ::UuidCreate(&id);
    RPC_WSTR text = nullptr;
    ::UuidToStringW(&id, &text);
    std::wstring name(reinterpret_cast<wchar_t*>(text));
    ::RpcStringFreeW(&text);
    return name;
}

// Absolute drive paths get the long-path prefix; others stay as they are.
static std::wstring LongForm(const std::wstring& path) {
    if (path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
        return L"\\\\?\\" + path;
    return path;
}

void RemoveTree(const std::wstring& path) {
    const std::wstring lp = LongForm(path);
    const DWORD attrs = ::GetFileAttributesW(lp.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return;
    if (attrs & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(lp.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileW(lp.c_str());
        return;
    }
    WIN32_FIND_DATAW fd;
    UniqueFind find(::FindFirstFileW((lp + L"\\*").c_str(), &fd));
    if (find) {
        do {
            const std::wstring name = fd.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(path + L"\\" + name);
        } while (::FindNextFileW(find.get(), &fd));
    }
    find.reset();
    ::RemoveDirectoryW(lp.c_str());
}

TempDir::TempDir() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH)
        throw std::runtime_error("TempDir: GetTempPathW failed");
    m_path = std::wstring(temp) + L"zevtest-" + UniqueName();
    if (!::CreateDirectoryW(m_path.c_str(), nullptr))
        throw std::runtime_error("TempDir: CreateDirectoryW failed");
}

TempDir::~TempDir() {
    RemoveTree(m_path);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFile f(::CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f)
        throw std::runtime_error("WriteFileBytes: cannot create file");
    DWORD written = 0;
    if (!bytes.empty() &&
        (!::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
         written != bytes.size()))
        throw std::runtime_error("WriteFileBytes: write failed");
}

std::string ReadFileBytes(const std::wstring& path) {
    UniqueFile f(::CreateFileW(LongForm(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f)
        throw std::runtime_error("ReadFileBytes: cannot open file");
    std::string out;
    std::vector<char> buf(65536);
    DWORD got = 0;
    while (::ReadFile(f.get(), buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) && got)
        out.append(buf.data(), got);
    return out;
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(LongForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace zev::test
