// msi.dll stand-in: the three Windows Installer queries the installer
// makes, answered from the installed-products state (InstallerState.h).
// Used in place of the system's msi.dll when it lies beside the program
// and WINEDLLOVERRIDES has "msi=n,b".
#include <windows.h>
#include <msi.h>

#include <cwchar>

#include "testbed/msi/InstallerState.h"

namespace {

constexpr size_t kGuidChars = 38;

void CopyGuid(const std::wstring& guid, wchar_t* out) {
    wmemcpy(out, guid.c_str(), kGuidChars);
    out[kGuidChars] = L'\0';
}

} // namespace

extern "C" {

__declspec(dllexport) UINT WINAPI MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved,
                                                          DWORD index, LPWSTR productBuffer) {
    using namespace zev::msistate;
    if (!upgradeCode || reserved != 0 || !productBuffer || !IsBracedGuid(upgradeCode))
        return ERROR_INVALID_PARAMETER;
    const std::wstring code = upgradeCode;
    const std::vector<std::wstring> products = Products(&code);
    if (index >= products.size())
        return ERROR_NO_MORE_ITEMS;
    CopyGuid(products[index], productBuffer);
    return ERROR_SUCCESS;
}

__declspec(dllexport) UINT WINAPI
    MsiEnumPatchesW(LPCWSTR product, DWORD index, LPWSTR patchBuffer, LPWSTR transformsBuffer,
                    DWORD* transformsLength) {
    using namespace zev::msistate;
    if (!product || !IsBracedGuid(product) || !patchBuffer || !transformsBuffer ||
        !transformsLength)
        return ERROR_INVALID_PARAMETER;
    if (!ProductInstalled(product))
        return ERROR_UNKNOWN_PRODUCT;
    const std::vector<AppliedPatch> patches = Patches(product);
    if (index >= patches.size())
        return ERROR_NO_MORE_ITEMS;
    const AppliedPatch& patch = patches[index];
    const DWORD needed = static_cast<DWORD>(patch.transforms.size());
    if (needed >= *transformsLength) {
        *transformsLength = needed;
        return ERROR_MORE_DATA;
    }
    CopyGuid(patch.guid, patchBuffer);
    wmemcpy(transformsBuffer, patch.transforms.c_str(), needed + 1);
    *transformsLength = needed;
    return ERROR_SUCCESS;
}

__declspec(dllexport) UINT WINAPI
    MsiExtractPatchXMLDataW(LPCWSTR patchPath, DWORD reserved, LPWSTR xmlBuffer, DWORD* xmlLength) {
    using namespace zev::msistate;
    if (!patchPath || reserved != 0 || (xmlBuffer && !xmlLength))
        return ERROR_INVALID_PARAMETER;
    std::wstring xml;
    if (const auto forced = PatchXmlOverride()) {
        xml = *forced;
    } else {
        PackageInfo info;
        if (const UINT result = ReadPackageInfo(patchPath, info); result != ERROR_SUCCESS)
            return result;
        xml = PatchXml(info);
    }
    const DWORD needed = static_cast<DWORD>(xml.size());
    if (!xmlBuffer) {
        if (xmlLength)
            *xmlLength = needed;
        return ERROR_SUCCESS;
    }
    if (needed >= *xmlLength) {
        *xmlLength = needed;
        return ERROR_MORE_DATA;
    }
    wmemcpy(xmlBuffer, xml.c_str(), needed + 1);
    *xmlLength = needed;
    return ERROR_SUCCESS;
}

} // extern "C"
