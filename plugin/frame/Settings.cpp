#include "plugin/frame/Settings.h"

#include "common/UniqueHandle.h"
#include "plugin/frame/Identifiers.h"

namespace zev::wfsys {

frame::hOBJ g_root = nullptr;
std::uint32_t g_wideMode = 0;
std::int32_t g_codePage = 0;
std::uint32_t g_caseSensitiveNames = 0;
std::uint32_t g_nativeApi = 0;
std::uint32_t g_fsDirect = 0;
VersionQuery g_versionQuery = ::GetVersion;

std::uint32_t ReadCaseSensitivity() {
    DWORD value = 1; // a missing value means case-insensitive names
    UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKernelSettingsKey, 0, KEY_QUERY_VALUE, key.put()) ==
        ERROR_SUCCESS) {
        DWORD size = sizeof value;
        // Read as 4 bytes whatever the value's type.
        if (::RegQueryValueExW(key.get(), kCaseInsensitiveValue, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
            value = 1;
    }
    return value == 0 ? 1 : 0;
}

void LoadSettings() {
    g_wideMode = (g_versionQuery() & 0x80000000u) ? 0 : 1;
    if (g_wideMode) {
        g_codePage = frame::kCodePageUtf16;
        g_caseSensitiveNames = ReadCaseSensitivity();
    } else {
        g_codePage = frame::kCodePageSystem;
        g_caseSensitiveNames = 0;
    }
}

} // namespace zev::wfsys
