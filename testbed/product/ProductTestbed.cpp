#include "testbed/product/ProductTestbed.h"

#include <cstdarg>
#include <cstdio>
#include <cwctype>

#include "common/UniqueHandle.h"

namespace zev::testbed {

std::wstring ModuleFolder(const void* address) {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCWSTR>(address), &module);
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH * 4);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring PipeName(const std::wstring& folder) {
    std::uint32_t hash = 2166136261u; // FNV-1a over the lower-cased folder
    for (wchar_t c : folder) {
        hash ^= static_cast<std::uint32_t>(std::towlower(c));
        hash *= 16777619u;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"\\\\.\\pipe\\zev-grd-%08x", hash);
    return name;
}

void AppendLine(const std::wstring& path, const std::string& line) {
    UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::wstring Setting(const std::wstring& folder, const wchar_t* section, const wchar_t* name) {
    wchar_t value[512] = {};
    const std::wstring ini = folder + L"\\" + kSettingsFile;
    ::GetPrivateProfileStringW(section, name, L"", value, 512, ini.c_str());
    return value;
}

std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

} // namespace zev::testbed
