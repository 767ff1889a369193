#include "tests/support/ScratchRegistry.h"

#include <stdexcept>
#include <vector>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "tests/support/TempDir.h"

namespace zev::test {

namespace {

constexpr wchar_t kScratchParent[] = L"Software\\ZevTest";

UniqueHKey OpenOrCreate(HKEY root, const std::wstring& path, REGSAM view) {
    UniqueHKey key;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("registry fixture: cannot create key");
    return key;
}

void SetValue(HKEY key, const std::wstring& subkey, const std::wstring& name, DWORD type,
              const void* data, DWORD size, REGSAM view) {
    UniqueHKey sub;
    HKEY target = key;
    if (!subkey.empty()) {
        sub = OpenOrCreate(key, subkey, view);
        target = sub.get();
    }
    if (::RegSetValueExW(target, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) !=
        ERROR_SUCCESS)
        throw std::runtime_error("registry fixture: cannot set value");
}

} // namespace

std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& subkey,
                                          const std::wstring& name, REGSAM view) {
    UniqueHKey key;
    if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) !=
        ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(buf.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buf.data());
}

bool RegKeyExists(HKEY root, const std::wstring& subkey, REGSAM view) {
    UniqueHKey key;
    return ::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) ==
           ERROR_SUCCESS;
}

ScratchRegKey::ScratchRegKey(HKEY root, REGSAM view) : m_root(root), m_view(view) {
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    wchar_t stamp[32];
    swprintf(stamp, 32, L"%04u%02u%02u%02u%02u%02u-", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
    m_path = std::wstring(kScratchParent) + L"\\" + stamp + UniqueName();
    m_key = OpenOrCreate(root, m_path, view).release();
}

ScratchRegKey::~ScratchRegKey() {
    ::RegCloseKey(m_key);
    UniqueHKey parent;
    if (::RegOpenKeyExW(m_root, kScratchParent, 0, KEY_ALL_ACCESS | m_view, parent.put()) ==
        ERROR_SUCCESS) {
        const std::wstring leaf = m_path.substr(m_path.rfind(L'\\') + 1);
        ::RegDeleteTreeW(parent.get(), leaf.c_str());
        ::RegDeleteKeyExW(parent.get(), leaf.c_str(), m_view, 0);
    }
}

void ScratchRegKey::SetString(const std::wstring& name, const std::wstring& value, DWORD type,
                              const std::wstring& subkey) const {
    SetValue(m_key, subkey, name, type, value.c_str(),
             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), m_view);
}

void ScratchRegKey::SetDword(const std::wstring& name, DWORD value,
                             const std::wstring& subkey) const {
    SetValue(m_key, subkey, name, REG_DWORD, &value, sizeof(value), m_view);
}

void ScratchRegKey::SetBinary(const std::wstring& name, const std::string& bytes,
                              const std::wstring& subkey) const {
    SetValue(m_key, subkey, name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()),
             m_view);
}

std::optional<std::wstring> ScratchRegKey::GetString(const std::wstring& name,
                                                     const std::wstring& subkey) const {
    return ReadRegString(m_root, subkey.empty() ? m_path : m_path + L"\\" + subkey, name, m_view);
}

namespace {
const wchar_t* const kEnvNames[] = {product::kProductRoot, product::kTraceRoot, product::kSkin,
                                    product::kLocalization};
}

ProductEnvironment::ProductEnvironment() {
    m_keyExisted = RegKeyExists(HKEY_LOCAL_MACHINE, product::kEnvironmentKey);
    for (const wchar_t* name : kEnvNames)
        m_saved[name] = ReadRegString(HKEY_LOCAL_MACHINE, product::kEnvironmentKey, name);
    OpenOrCreate(HKEY_LOCAL_MACHINE, product::kEnvironmentKey, 0);
    for (const wchar_t* name : kEnvNames)
        Remove(name);
}

ProductEnvironment::~ProductEnvironment() {
    if (!m_keyExisted) {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, product::kEnvironmentKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, product::kEnvironmentKey);
        return;
    }
    for (const auto& [name, value] : m_saved) {
        if (value)
            Set(name, *value);
        else
            Remove(name);
    }
}

void ProductEnvironment::Set(const std::wstring& name, const std::wstring& value) const {
    const UniqueHKey key = OpenOrCreate(HKEY_LOCAL_MACHINE, product::kEnvironmentKey, 0);
    SetValue(key.get(), L"", name, REG_SZ, value.c_str(),
             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), 0);
}

void ProductEnvironment::Remove(const std::wstring& name) const {
    UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, product::kEnvironmentKey, 0, KEY_SET_VALUE,
                        key.put()) == ERROR_SUCCESS)
        ::RegDeleteValueW(key.get(), name.c_str());
}

} // namespace zev::test
