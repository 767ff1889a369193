// Whole sections of an INI file, read and written through the Windows
// profile functions. Nothing is cached: every call goes to the file.
#pragma once

#include <map>
#include <string>

namespace hotfixer {

/// A section's entries, ordered by ordinal (case-sensitive) key.
using IniSection = std::map<std::wstring, std::wstring>;

class CConfigManager {
public:
    /// Keeps a copy of the path; a null path raises SystemError(87).
    explicit CConfigManager(const wchar_t* iniPath);

    /// Clears `out` and fills it with the section's "key=value" entries; a
    /// later duplicate key wins, entries without "=" are skipped. A missing
    /// file or section gives an empty map. A null section raises
    /// SystemError(87).
    void GetSection(const wchar_t* section, IniSection& out) const;

    /// Replaces the section's entries by `entries` (an empty map leaves the
    /// bare header). Raises SystemError with the system's code when the
    /// file cannot be written, and SystemError(87) for a null section.
    void SetSection(const wchar_t* section, const IniSection& entries) const;

    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
};

} // namespace hotfixer
