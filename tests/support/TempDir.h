// A uniquely named folder under %TEMP% that deletes itself with its contents.
#pragma once

#include <string>

namespace zev::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /// The folder, without a trailing backslash.
    const std::wstring& path() const { return m_path; }
    /// path() + "\" + name.
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

/// A fresh "{xxxxxxxx-...}"-free lower-case GUID text, for unique names.
std::wstring UniqueName();

/// Deletes a file or a whole folder tree; long paths are fine.
void RemoveTree(const std::wstring& path);

/// Writes bytes to a file, replacing it; throws std::runtime_error on failure.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
/// Reads a whole file; throws std::runtime_error when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

} // namespace zev::test
