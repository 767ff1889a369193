#include "testbed/msi/InstallerState.h"

#include <cwctype>

#include "common/UniqueHandle.h"

namespace zev::msistate {

namespace {

constexpr wchar_t kProductsKey[] = L"Products";
constexpr wchar_t kPatchesKey[] = L"Patches";
constexpr wchar_t kUpgradeCodeValue[] = L"UpgradeCode";
constexpr wchar_t kTransformsValue[] = L"Transforms";
constexpr wchar_t kExitCodeValue[] = L"ExitCode";
constexpr wchar_t kPatchXmlValue[] = L"PatchXml";
constexpr size_t kGuidChars = 38;

std::wstring Join(std::initializer_list<std::wstring> parts) {
    std::wstring out = StateKeyPath();
    for (const std::wstring& p : parts)
        out += L"\\" + p;
    return out;
}

UniqueHKey OpenKey(const std::wstring& path, bool create) {
    UniqueHKey key;
    if (create)
        ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          key.put(), nullptr);
    else
        ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put());
    return key;
}

std::vector<std::wstring> Subkeys(const std::wstring& path) {
    std::vector<std::wstring> names;
    const UniqueHKey key = OpenKey(path, false);
    if (!key)
        return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

std::optional<std::wstring> ReadString(const std::wstring& path, const wchar_t* value) {
    const UniqueHKey key = OpenKey(path, false);
    DWORD type = 0, bytes = 0;
    if (!key ||
        ::RegQueryValueExW(key.get(), value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()),
                           &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(text.find(L'\0'));
    return text;
}

LSTATUS WriteString(const std::wstring& path, const wchar_t* value, const std::wstring& text) {
    const UniqueHKey key = OpenKey(path, true);
    if (!key)
        return ERROR_ACCESS_DENIED;
    return ::RegSetValueExW(key.get(), value, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Widen(const std::string& text) {
    // The summary information's text is in code page 1252; GUIDs and
    // transform names are ASCII.
    std::wstring out;
    for (unsigned char c : text)
        out += static_cast<wchar_t>(c);
    return out;
}

} // namespace

std::wstring StateKeyPath() {
    wchar_t buffer[512];
    const DWORD n = ::GetEnvironmentVariableW(kStateKeyVariable, buffer, 512);
    return (n > 0 && n < 512) ? std::wstring(buffer, n) : std::wstring(kDefaultStateKey);
}

LSTATUS InstallProduct(const std::wstring& productCode, const std::wstring& upgradeCode) {
    return WriteString(Join({kProductsKey, productCode}), kUpgradeCodeValue, upgradeCode);
}

std::vector<std::wstring> Products(const std::wstring* upgradeCode) {
    std::vector<std::wstring> out;
    for (const std::wstring& product : Subkeys(Join({kProductsKey}))) {
        const auto code = ReadString(Join({kProductsKey, product}), kUpgradeCodeValue);
        if (!upgradeCode || (code && SameText(*code, *upgradeCode)))
            out.push_back(product);
    }
    return out;
}

bool ProductInstalled(const std::wstring& productCode) {
    for (const std::wstring& p : Products())
        if (SameText(p, productCode))
            return true;
    return false;
}

std::vector<AppliedPatch> Patches(const std::wstring& productCode) {
    std::vector<AppliedPatch> out;
    for (const std::wstring& guid : Subkeys(Join({kProductsKey, productCode, kPatchesKey})))
        out.push_back({guid, ReadString(Join({kProductsKey, productCode, kPatchesKey, guid}),
                                        kTransformsValue)
                                 .value_or(L"")});
    return out;
}

LSTATUS ApplyPatch(const std::wstring& productCode, const AppliedPatch& patch) {
    return WriteString(Join({kProductsKey, productCode, kPatchesKey, patch.guid}), kTransformsValue,
                       patch.transforms);
}

LSTATUS RemovePatch(const std::wstring& productCode, const std::wstring& patchGuid) {
    return ::RegDeleteTreeW(HKEY_CURRENT_USER,
                            Join({kProductsKey, productCode, kPatchesKey, patchGuid}).c_str());
}

DWORD InjectedExitCode() {
    const UniqueHKey key = OpenKey(StateKeyPath(), false);
    DWORD value = 0, bytes = sizeof(value), type = 0;
    if (!key ||
        ::RegQueryValueExW(key.get(), kExitCodeValue, nullptr, &type,
                           reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

LSTATUS SetInjectedExitCode(DWORD code) {
    const UniqueHKey key = OpenKey(StateKeyPath(), true);
    if (!key)
        return ERROR_ACCESS_DENIED;
    return ::RegSetValueExW(key.get(), kExitCodeValue, 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&code), sizeof(code));
}

std::optional<std::wstring> PatchXmlOverride() {
    return ReadString(StateKeyPath(), kPatchXmlValue);
}

LSTATUS SetPatchXmlOverride(const std::wstring& xml) {
    return WriteString(StateKeyPath(), kPatchXmlValue, xml);
}

LSTATUS ClearPatchXmlOverride() {
    return ::RegDeleteKeyValueW(HKEY_CURRENT_USER, StateKeyPath().c_str(), kPatchXmlValue);
}

LSTATUS ClearState() {
    return ::RegDeleteTreeW(HKEY_CURRENT_USER, StateKeyPath().c_str());
}

bool IsBracedGuid(const std::wstring& text) {
    if (text.size() != kGuidChars || text.front() != L'{' || text.back() != L'}')
        return false;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != L'-' : !std::iswxdigit(text[i]))
            return false;
    }
    return true;
}

std::vector<std::wstring> SplitList(const std::wstring& text) {
    std::vector<std::wstring> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring::npos)
            end = text.size();
        if (end > start)
            items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

UINT ReadPackageInfo(const std::wstring& path, PackageInfo& info) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x10000000)
        return ERROR_PATCH_PACKAGE_OPEN_FAILED;
    cfb::Bytes bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
         got != bytes.size()))
        return ERROR_PATCH_PACKAGE_OPEN_FAILED;

    cfb::Bytes stream;
    cfb::SummaryInfo summary;
    if (!cfb::ReadRootStream(bytes, cfb::kSummaryStreamName, stream) ||
        !cfb::DecodeSummaryInfo(stream, summary))
        return ERROR_PATCH_PACKAGE_INVALID;
    // The revision number holds the patch GUID, then the GUIDs it replaces.
    const std::wstring revision = Widen(summary.strings[cfb::kPidRevision]);
    if (revision.size() < kGuidChars || !IsBracedGuid(revision.substr(0, kGuidChars)))
        return ERROR_PATCH_PACKAGE_INVALID;
    info.patchGuid = revision.substr(0, kGuidChars);
    info.targetProducts = SplitList(Widen(summary.strings[cfb::kPidTemplate]));
    info.transforms = Widen(summary.strings[cfb::kPidLastAuthor]);
    return ERROR_SUCCESS;
}

std::wstring PatchXml(const PackageInfo& info) {
    std::wstring xml = L"<?xml version=\"1.0\" encoding=\"utf-16\"?>"
                       L"<MsiPatch SchemaVersion=\"1.0.0.0\" PatchGUID=\"" +
                       info.patchGuid + L"\" MinMsiVersion=\"300\">";
    for (const std::wstring& product : info.targetProducts)
        xml += L"<TargetProduct><TargetProductCode Validate=\"true\">" + product +
               L"</TargetProductCode></TargetProduct>";
    xml += L"</MsiPatch>";
    return xml;
}

} // namespace zev::msistate
