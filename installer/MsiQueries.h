// Questions put to the Windows Installer (msi.dll): the installed product
// of an upgrade code, the patch GUID of a patch package and the patches
// applied to a product. Nothing here changes the system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace hotfixer {

/// Answer buffers for product codes and patch GUIDs, in characters (the
/// Windows Installer needs 39 with the terminating NUL).
inline constexpr DWORD kMsiGuidChars = 40;
/// First size of the transforms buffer of MsiEnumPatchesW, in characters.
inline constexpr DWORD kMsiTransformsChars = 64;

/// The product code of the first installed product related to
/// `upgradeCode`. Traces and raises SystemError("GetProductCodeByUpgradeCode")
/// when there is none (259) or the query fails.
std::wstring GetProductCodeByUpgradeCode(const std::wstring& upgradeCode);

/// Reads the patch GUID of the package at `packagePath` from its patch XML:
/// the text between the first pair of double quotes after "PATCHGUID=",
/// upper-cased. Returns 0; the Windows Installer's code when the XML cannot
/// be read (`guid` untouched); 259 when the XML has no "PATCHGUID=" (`guid`
/// emptied).
UINT GetMSPPatchGUID(const std::wstring& packagePath, std::wstring& guid);

/// Lists the patches applied to `productCode`. Returns 0 with the list, or
/// the Windows Installer's code with what was read before it.
UINT GetProductPatches(const std::wstring& productCode, std::vector<std::wstring>& patches);

} // namespace hotfixer
