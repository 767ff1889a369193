#include "installer/PatchRunner.h"

#include <windows.h>

#include <vector>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "installer/SystemUtils.h"

namespace hotfixer {

std::wstring GetProductFolder() {
    zev::UniqueHKey key;
    LSTATUS rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, zev::product::kEnvironmentKey, 0,
                                 KEY_QUERY_VALUE, key.put());
    std::vector<wchar_t> buffer;
    if (rc == ERROR_SUCCESS)
        rc = RegQueryStringValue(key.get(), zev::product::kProductRoot, buffer);
    ThrowIfFailed(rc, "GetProductFolder");
    std::wstring folder = buffer.data();
    if (folder.empty() || (folder.back() != L'\\' && folder.back() != L'/'))
        folder += L'\\';
    return folder;
}

std::wstring GetPatchesFolder(const std::wstring& productFolder) {
    return productFolder + L"Patches";
}

} // namespace hotfixer
