// The installed-products state shared by the Windows Installer stand-ins
// (msi.dll, msiexec.exe), the msistate tool and the tests.
//
// It lives under HKEY_CURRENT_USER\<key>, where <key> is the environment
// variable ZEV_MSI_STATE_KEY or "Software\ZevTestbed\InstallerState":
//   Products\<product code>               value "UpgradeCode"
//   Products\<product code>\Patches\<GUID> value "Transforms"
//   value "ExitCode" (DWORD)   msiexec's injected exit code (0 when absent)
//   value "PatchXml" (string)  patch XML served for every package instead of
//                              the one read from the package
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/patchpack/CompoundFile.h"

namespace zev::msistate {

inline constexpr wchar_t kStateKeyVariable[] = L"ZEV_MSI_STATE_KEY";
inline constexpr wchar_t kDefaultStateKey[] = L"Software\\ZevTestbed\\InstallerState";

struct AppliedPatch {
    std::wstring guid;
    std::wstring transforms;
};

/// The state key's path under HKEY_CURRENT_USER.
std::wstring StateKeyPath();

/// Registers a product under an upgrade code (replacing an older entry).
LSTATUS InstallProduct(const std::wstring& productCode, const std::wstring& upgradeCode);
/// Product codes in registry order; only those of `upgradeCode` when given
/// (compared without regard to case).
std::vector<std::wstring> Products(const std::wstring* upgradeCode = nullptr);
bool ProductInstalled(const std::wstring& productCode);

/// The patches applied to a product, in registry order.
std::vector<AppliedPatch> Patches(const std::wstring& productCode);
LSTATUS ApplyPatch(const std::wstring& productCode, const AppliedPatch& patch);
LSTATUS RemovePatch(const std::wstring& productCode, const std::wstring& patchGuid);

/// msiexec's injected exit code; 0 when none is set.
DWORD InjectedExitCode();
LSTATUS SetInjectedExitCode(DWORD code);
/// The patch XML override, when set.
std::optional<std::wstring> PatchXmlOverride();
LSTATUS SetPatchXmlOverride(const std::wstring& xml);
LSTATUS ClearPatchXmlOverride();

/// Deletes the whole state.
LSTATUS ClearState();

/// Whether `text` is a GUID in braces ({8-4-4-4-12} hexadecimal digits).
bool IsBracedGuid(const std::wstring& text);

/// What a patch package tells about itself in its summary information.
struct PackageInfo {
    std::wstring patchGuid;
    std::vector<std::wstring> targetProducts;
    std::wstring transforms;
};

/// Reads a patch package: 0, ERROR_PATCH_PACKAGE_OPEN_FAILED (1635) when the
/// file cannot be read, ERROR_PATCH_PACKAGE_INVALID (1636) when it is no
/// compound document with a patch GUID in its summary information.
UINT ReadPackageInfo(const std::wstring& path, PackageInfo& info);

/// The patch XML the Windows Installer gives for a package.
std::wstring PatchXml(const PackageInfo& info);

/// Splits a ";"-separated list, dropping empty items.
std::vector<std::wstring> SplitList(const std::wstring& text);

} // namespace zev::msistate
