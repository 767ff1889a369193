#include "tests/support/GroupPolicyState.h"

#include <cstdlib>
#include <stdexcept>

#include "common/UniqueHandle.h"
#include "installer/system/GroupPolicyKeys.h"

namespace zev::test {

namespace {

namespace gp = hotfixer::gp;

std::wstring FirstMissingAncestor(const std::wstring& path) {
    for (size_t at = path.find(L'\\');; at = path.find(L'\\', at + 1)) {
        const std::wstring prefix = path.substr(0, at);
        if (!RegKeyExists(HKEY_LOCAL_MACHINE, prefix))
            return prefix;
        if (at == std::wstring::npos)
            return {};
    }
}

} // namespace

GroupPolicyState::GroupPolicyState() {
    const wchar_t* keys[] = {gp::kStateRoot, gp::kMirrorNewLayout, gp::kMirrorOldLayout};
    int index = 0;
    for (const wchar_t* path : keys) {
        Saved saved{path, FirstMissingAncestor(path), L""};
        if (saved.firstMissing.empty()) {
            saved.backup = std::to_wstring(index++);
            UniqueHKey source, target;
            if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, source.put()) ||
                ::RegCreateKeyExW(m_backup.key(), saved.backup.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, target.put(), nullptr) ||
                ::RegCopyTreeW(source.get(), nullptr, target.get()))
                throw std::runtime_error("GroupPolicyState: cannot save a policy key");
            ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
        }
        m_saved.push_back(saved);
    }
    size_t required = 0;
    if (_wgetenv_s(&required, nullptr, 0, L"windir") == 0 && required) {
        std::wstring value(required, L'\0');
        _wgetenv_s(&required, value.data(), value.size(), L"windir");
        m_oldWindir = value.c_str();
    }
    _wputenv_s(L"windir", m_windir.path().c_str());
}

GroupPolicyState::~GroupPolicyState() {
    _wputenv_s(L"windir", m_oldWindir ? m_oldWindir->c_str() : L"");
    for (const Saved& saved : m_saved) {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, saved.path.c_str());
        if (!saved.firstMissing.empty())
            ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, saved.firstMissing.c_str());
    }
    for (const Saved& saved : m_saved) {
        if (saved.backup.empty())
            continue;
        UniqueHKey source, target;
        if (::RegOpenKeyExW(m_backup.key(), saved.backup.c_str(), 0, KEY_READ, source.put()) ==
                ERROR_SUCCESS &&
            ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, saved.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, target.put(), nullptr) == ERROR_SUCCESS)
            ::RegCopyTreeW(source.get(), nullptr, target.get());
    }
}

std::wstring GroupPolicyState::PolicyFolder() const {
    return m_windir.path() + gp::kPolicyFolderSuffix;
}

std::wstring GroupPolicyState::ScriptsIni() const {
    return PolicyFolder() + gp::kScriptsFolder + gp::kScriptsIni;
}

} // namespace zev::test
