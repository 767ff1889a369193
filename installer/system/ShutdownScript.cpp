#include "installer/system/ShutdownScript.h"

#include <shlobj.h>

#include <cwchar>
#include <stdexcept>
#include <vector>

#include "common/UniqueHandle.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"
#include "installer/system/GroupPolicyKeys.h"
#include "installer/system/Wow64FsRedirectionDisabler.h"

namespace hotfixer {

namespace {

constexpr wchar_t kOpCreate[] = L"CShutdownScript::Create";
constexpr char kOpCreateA[] = "CShutdownScript::Create";
constexpr wchar_t kOpDelete[] = L"CShutdownScript::Delete";
constexpr char kOpDeleteA[] = "CShutdownScript::Delete";
constexpr char kOpCreateScriptA[] = "CShutdownScript::CreateShutdownScript";
constexpr char kOpSyncA[] = "CShutdownScript::SynchronizePoliciesKeys";
constexpr char kOpIniPathA[] = "CShutdownScript::GetScriptsIniPath";
constexpr wchar_t kOpFindFree[] = L"CShutdownScript::FindFreeKeyNumber";
constexpr wchar_t kOpUpdateIni[] = L"CShutdownScript::UpdateScriptIni";
constexpr char kOpUpdateIniA[] = "CShutdownScript::UpdateScriptIni";

constexpr DWORD kKeyNameChars = 260;

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

/// A string value of subkey `name`; nullopt-like empty flag on failure.
bool ReadSubkeyString(HKEY parent, const std::wstring& name, const wchar_t* value,
                      std::wstring& out) {
    zev::UniqueHKey sub;
    if (::RegOpenKeyExW(parent, name.c_str(), 0, KEY_QUERY_VALUE, sub.put()) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> buffer;
    if (RegQueryStringValue(sub.get(), value, buffer) != ERROR_SUCCESS)
        return false;
    out.assign(buffer.data());
    return true;
}

bool IsNewLayoutWindows() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(&info))
        return false;
#pragma GCC diagnostic pop
    return info.dwMajorVersion >= gp::kNewLayoutMajorVersion;
}

} // namespace

LSTATUS EnumScriptKeys(HKEY objectKey, std::map<int, std::wstring>& keys) {
    keys.clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[kKeyNameChars] = {};
        DWORD length = kKeyNameChars;
        const LSTATUS rc =
            ::RegEnumKeyExW(objectKey, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS)
            return rc;
        keys.emplace(HexToInt(name), name);
    }
}

CShutdownScript::CShutdownScript(std::wstring scriptPath)
    : CShutdownScript(std::move(scriptPath), IsNewLayoutWindows()) {}

CShutdownScript::CShutdownScript(std::wstring scriptPath, bool newLayout)
    : m_scriptPath(std::move(scriptPath)), m_newLayout(newLayout) {}

const wchar_t* CShutdownScript::MirrorKey() const {
    return m_newLayout ? gp::kMirrorNewLayout : gp::kMirrorOldLayout;
}

void CShutdownScript::Create(const std::wstring& parameters) {
    try {
        Delete();
    } catch (const std::exception& e) {
        TraceLine(kTraceWarning, L"%S", e.what());
    }

    zev::UniqueHKey objectKey;
    LSTATUS rc =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, gp::kObjectKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, objectKey.put(), nullptr);
    ThrowIfFailed(static_cast<DWORD>(rc), kOpCreateA);

    if (::RegQueryValueExW(objectKey.get(), gp::kFileSysPath, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
        rc = SetString(objectKey.get(), gp::kFileSysPath, GetScriptsIniPath());
        ThrowIfFailed(static_cast<DWORD>(rc), kOpCreateA);
    }

    TraceLine(kTraceNotify, L"%s: Find first free key number", kOpCreate);
    const int number = FindFreeKeyNumber(objectKey.get());
    TraceLine(kTraceNotify, L"%s: Create shutdown script key", kOpCreate);
    CreateShutdownScript(objectKey.get(), number, parameters);
    TraceLine(kTraceNotify, L"%s: Synchronize policies keys", kOpCreate);
    SynchronizePoliciesKeys();
    UpdateScriptIni(objectKey.get());
}

int CShutdownScript::FindFreeKeyNumber(HKEY objectKey) {
    // By number, not in the registry's (alphabetical) order, in which "10"
    // comes before "2".
    std::map<int, std::wstring> keys;
    const LSTATUS rc = EnumScriptKeys(objectKey, keys);
    int n = 0;
    for (const auto& [number, name] : keys) {
        TraceLine(kTraceNotify, L"%s: current subkey = %s", kOpFindFree, name.c_str());
        if (number != n)
            return n;
        ++n;
    }
    // An unreadable list: do not hand out a number that may be taken.
    return rc == ERROR_SUCCESS ? n : n + 1;
}

void CShutdownScript::CreateShutdownScript(HKEY objectKey, int number,
                                           const std::wstring& parameters) const {
    const std::wstring name = IntToHex(number);
    zev::UniqueHKey scriptKey;
    DWORD disposition = 0;
    LSTATUS rc = ::RegCreateKeyExW(objectKey, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, scriptKey.put(), &disposition);
    if (rc == ERROR_SUCCESS)
        rc = SetString(scriptKey.get(), gp::kParameters, parameters);
    if (rc == ERROR_SUCCESS)
        rc = SetString(scriptKey.get(), gp::kScript, m_scriptPath);
    if (rc == ERROR_SUCCESS) {
        const DWORD zero = 0;
        rc = ::RegSetValueExW(scriptKey.get(), gp::kIsPowershell, 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
    }
    if (rc != ERROR_SUCCESS) {
        // A key without its "Script" could never be found again by Delete.
        if (scriptKey && disposition == REG_CREATED_NEW_KEY) {
            scriptKey.reset();
            ::RegDeleteTreeW(objectKey, name.c_str());
        }
        throw SystemError(static_cast<DWORD>(rc), kOpCreateScriptA);
    }
}

void CShutdownScript::Delete() {
    zev::UniqueHKey objectKey;
    LSTATUS rc =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, gp::kObjectKey, 0, KEY_ALL_ACCESS, objectKey.put());
    if (rc != ERROR_SUCCESS) {
        TraceLine(kTraceNotify, L"%s", ErrorText(static_cast<DWORD>(rc), kOpDelete).c_str());
        return;
    }

    std::map<int, std::wstring> keys;
    EnumScriptKeys(objectKey.get(), keys); // an unreadable list leaves what was read
    int ours = -1;
    for (const auto& [number, name] : keys) {
        std::wstring script;
        if (!ReadSubkeyString(objectKey.get(), name, gp::kScript, script))
            TraceLine(kTraceError, L"%s: cann't read subkey %s value %s", kOpDelete, name.c_str(),
                      gp::kScript);
        else if (_wcsicmp(script.c_str(), m_scriptPath.c_str()) == 0)
            ours = number;
        else
            TraceLine(kTraceError, L"%s: skip remove of '%s'", kOpDelete, script.c_str());
    }

    if (ours != -1) {
        TraceLine(kTraceNotify, L"%s: delete subkey %d with our shutdown script", kOpDelete, ours);
        rc = ::RegDeleteTreeW(objectKey.get(), keys[ours].c_str());
        ThrowIfFailed(static_cast<DWORD>(rc), kOpDeleteA);

        TraceLine(kTraceNotify, L"%s: shift all next keys", kOpDelete);
        for (auto it = keys.upper_bound(ours); it != keys.end(); ++it) {
            const std::wstring target = IntToHex(it->first - 1);
            TraceLine(kTraceNotify, L"%s: rename key %d to %s", kOpDelete, it->first,
                      target.c_str());
            zev::UniqueHKey moved;
            rc = ::RegCreateKeyExW(objectKey.get(), target.c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, moved.put(),
                                   nullptr);
            if (rc == ERROR_SUCCESS)
                rc = RegCopyKeyW(objectKey.get(), it->second.c_str(), moved.get());
            if (rc == ERROR_SUCCESS)
                rc = ::RegDeleteTreeW(objectKey.get(), it->second.c_str());
            ThrowIfFailed(static_cast<DWORD>(rc), kOpDeleteA);
        }

        DWORD remaining = 0;
        rc = ::RegQueryInfoKeyW(objectKey.get(), nullptr, nullptr, nullptr, &remaining, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        ThrowIfFailed(static_cast<DWORD>(rc), kOpDeleteA);
        UpdateScriptIni(objectKey.get());
        if (remaining == 0) {
            TraceLine(kTraceNotify, L"%s: no more script keys", kOpDelete);
            objectKey.reset();
            rc = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, gp::kObjectKey);
            ThrowIfFailed(static_cast<DWORD>(rc), kOpDeleteA);
        }
    }
    objectKey.reset();
    SynchronizePoliciesKeys();
}

void CShutdownScript::SynchronizePoliciesKeys() const {
    const wchar_t* mirror = MirrorKey();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, mirror); // a missing mirror is fine
    zev::UniqueHKey mirrorKey;
    LSTATUS rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, mirror, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, mirrorKey.put(), nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegCopyKeyW(HKEY_LOCAL_MACHINE, gp::kStateRoot, mirrorKey.get());
    ThrowIfFailed(static_cast<DWORD>(rc), kOpSyncA);
}

std::wstring CShutdownScript::GetScriptsIniPath() {
    std::wstring windir;
    const int err = GetWindowsDir(windir);
    if (err != 0)
        throw SystemError(static_cast<DWORD>(err), kOpIniPathA);
    return windir + gp::kPolicyFolderSuffix;
}

void CShutdownScript::UpdateScriptIni(HKEY objectKey) {
    CWow64FsRedirectionDisabler redirectionOff;

    std::map<int, std::wstring> keys;
    EnumScriptKeys(objectKey, keys); // an unreadable list leaves what was read
    std::wstring section;
    int expected = 0;
    for (const auto& [number, name] : keys) {
        TraceLine(kTraceNotify, L"%s: current subkey = %s", kOpUpdateIni, name.c_str());
        if (number != expected++)
            break;
        std::wstring script, parameters;
        ReadSubkeyString(objectKey, name, gp::kScript, script);
        ReadSubkeyString(objectKey, name, gp::kParameters, parameters);
        section += name + gp::kCmdLineEntry + L"=" + script + L'\0';
        section += name + gp::kParametersEntry + L"=" + parameters + L'\0';
    }
    section += L'\0';
    if (section.size() == 1)
        section += L'\0';

    const std::wstring folder = GetScriptsIniPath() + gp::kScriptsFolder;
    ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr); // an existing folder is fine
    const std::wstring file = folder + gp::kScriptsIni;
    TraceLine(kTraceNotify, L"%s: write section Shutdown to %s", kOpUpdateIni, file.c_str());
    if (!::WritePrivateProfileSectionW(gp::kShutdownSection, section.c_str(), file.c_str()))
        throw SystemError(::GetLastError(), kOpUpdateIniA);
}

} // namespace hotfixer
