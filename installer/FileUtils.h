// Small file-system operations of the installer: folders, the temporary
// folder, unique names, the packages of a folder and the program's own
// path. They report Windows error codes or booleans and never raise.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace hotfixer {

/// Creates `path` and its missing parents through the long-path form
/// "\\?\<path>". Returns 0 (also when it already exists), 87 for a null
/// path, 161 (traced) when a missing parent cannot be named, or the
/// Windows error code.
DWORD CreateDirRecurs(const wchar_t* path);

/// The temporary folder with its trailing backslash; empty (traced) on
/// failure.
std::wstring GetTempDirPath();

/// Deletes `path` with everything below it, silently and without the
/// recycle bin. False (traced) when the shell refuses.
bool DeleteDirRecurs(const std::wstring& path);

/// A new GUID as lower-case text in braces (38 characters), or empty.
std::wstring NewGuidString();

/// Whether `filePath` carries a valid signature by the key registries
/// "al.pbv" and "oper.pbv" of `productFolder` (which ends with a
/// separator).
bool IsFileSigned(const std::wstring& filePath, const std::wstring& productFolder);

/// Appends to `names` the file names (without folder) of the "*.msp" files
/// in `folder`, skipping folders and reparse points and, when
/// `checkSignatures` is set, files that fail IsFileSigned. A missing folder
/// leaves `names` unchanged.
void FindMspFiles(const std::wstring& folder, std::vector<std::wstring>& names,
                  const std::wstring& productFolder, bool checkSignatures);

/// The running program's full path, or empty.
std::wstring GetModulePath();
/// The running program's file name (after the last "\"), or empty.
std::wstring GetModuleName();

} // namespace hotfixer
