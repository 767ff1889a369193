// Registry fixtures that put back what they change.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>

namespace zev::test {

/// A key "Software\ZevTest\<time>-<guid>" under a root (HKCU by default),
/// in the given registry view (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY).
/// Deleted with everything below it on destruction.
class ScratchRegKey {
public:
    explicit ScratchRegKey(HKEY root = HKEY_CURRENT_USER, REGSAM view = 0);
    ~ScratchRegKey();
    ScratchRegKey(const ScratchRegKey&) = delete;
    ScratchRegKey& operator=(const ScratchRegKey&) = delete;

    HKEY root() const { return m_root; }
    REGSAM view() const { return m_view; }
    /// Subkey path under root(), no leading backslash.
    const std::wstring& path() const { return m_path; }
    /// An open handle with KEY_ALL_ACCESS (owned by this object).
    HKEY key() const { return m_key; }

    void SetString(const std::wstring& name, const std::wstring& value, DWORD type = REG_SZ,
                   const std::wstring& subkey = L"") const;
    void SetDword(const std::wstring& name, DWORD value, const std::wstring& subkey = L"") const;
    void SetBinary(const std::wstring& name, const std::string& bytes,
                   const std::wstring& subkey = L"") const;
    std::optional<std::wstring> GetString(const std::wstring& name,
                                          const std::wstring& subkey = L"") const;

private:
    HKEY m_root;
    REGSAM m_view;
    std::wstring m_path;
    HKEY m_key = nullptr;
};

/// Sets the product's environment values (HKLM, this process's view) for
/// one test and restores the values and the key as they were afterwards.
class ProductEnvironment {
public:
    ProductEnvironment();
    ~ProductEnvironment();
    ProductEnvironment(const ProductEnvironment&) = delete;
    ProductEnvironment& operator=(const ProductEnvironment&) = delete;

    void Set(const std::wstring& name, const std::wstring& value) const;
    void Remove(const std::wstring& name) const;

private:
    bool m_keyExisted = false;
    std::map<std::wstring, std::optional<std::wstring>> m_saved;
};

/// Reads a string value; nullopt when the key or value is missing.
std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& subkey,
                                          const std::wstring& name, REGSAM view = 0);
bool RegKeyExists(HKEY root, const std::wstring& subkey, REGSAM view = 0);

} // namespace zev::test
