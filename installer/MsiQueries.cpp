#include "installer/MsiQueries.h"

#include <msi.h>

#include <cwctype>

#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {

// What the patch XML's root element calls its patch GUID, upper-cased.
constexpr wchar_t kPatchGuidAttribute[] = L"PATCHGUID=";

} // namespace

std::wstring GetProductCodeByUpgradeCode(const std::wstring& upgradeCode) {
    static constexpr wchar_t kOperation[] = L"GetProductCodeByUpgradeCode";
    wchar_t product[kMsiGuidChars] = {};
    const UINT result = ::MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, 0, product);
    if (result != ERROR_SUCCESS) {
        TraceLine(kTraceError, L"%s: Can't get product code by upgrade code = <%s>.", kOperation,
                  upgradeCode.c_str());
        throw SystemError(result, "GetProductCodeByUpgradeCode");
    }
    return product;
}

UINT GetMSPPatchGUID(const std::wstring& packagePath, std::wstring& guid) {
    DWORD length = 0;
    UINT result = ::MsiExtractPatchXMLDataW(packagePath.c_str(), 0, nullptr, &length);
    if (result != ERROR_SUCCESS)
        return result;
    // Room for the terminating NUL and one character more than reported.
    length += 2;
    std::wstring xml(length, L'\0');
    result = ::MsiExtractPatchXMLDataW(packagePath.c_str(), 0, xml.data(), &length);
    if (result != ERROR_SUCCESS)
        return result;

    guid.clear();
    xml.resize(xml.find(L'\0') == std::wstring::npos ? xml.size() : xml.find(L'\0'));
    for (wchar_t& c : xml)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(std::towupper(c));
    const size_t at = xml.find(kPatchGuidAttribute);
    if (at == std::wstring::npos)
        return ERROR_NO_MORE_ITEMS;
    bool inQuotes = false;
    for (size_t i = at + wcslen(kPatchGuidAttribute); i < xml.size(); ++i) {
        if (xml[i] == L'"') {
            if (inQuotes)
                break;
            inQuotes = true;
        } else if (inQuotes) {
            guid += xml[i];
        }
    }
    TraceLine(kTraceNotify, L"%s: Patch %s GUID = %s", L"GetMSPPatchGUID", packagePath.c_str(),
              guid.c_str());
    return ERROR_SUCCESS;
}

UINT GetProductPatches(const std::wstring& productCode, std::vector<std::wstring>& patches) {
    patches.clear();
    wchar_t patch[kMsiGuidChars] = {};
    std::wstring transforms(kMsiTransformsChars, L'\0');
    DWORD transformsLength = kMsiTransformsChars;
    DWORD index = 0;
    for (;;) {
        const UINT result = ::MsiEnumPatchesW(productCode.c_str(), index, patch, transforms.data(),
                                              &transformsLength);
        if (result == ERROR_SUCCESS) {
            patches.push_back(patch);
            ++index;
        } else if (result == ERROR_MORE_DATA) {
            transformsLength += 2;
            transforms.resize(transformsLength);
        } else {
            return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
        }
    }
}

} // namespace hotfixer
