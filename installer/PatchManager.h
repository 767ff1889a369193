// The patch state book: the section "PATCHES_STATE" of Patches.ini in the
// product's "Patches" folder records every private patch seen there and
// whether the product has it applied.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace hotfixer {

/// Values of the state book's entries.
inline constexpr wchar_t kPatchStateSection[] = L"PATCHES_STATE";
inline constexpr wchar_t kPatchStateNotInstalled[] = L"not_installed";
inline constexpr wchar_t kPatchStateInstalled[] = L"installed";
inline constexpr wchar_t kPatchStateIgnored[] = L"ignored";
/// The state book's file name inside the patches folder.
inline constexpr wchar_t kPatchStateFileName[] = L"Patches.ini";

class CPatchManager {
public:
    /// Finds the installed product by the product's upgrade code and
    /// rebuilds the section. Raises SystemError when the product is not
    /// installed, a package's GUID cannot be read, the applied patches
    /// cannot be listed or the file cannot be written.
    CPatchManager(const std::wstring& stateBookPath, const std::wstring& patchesFolder,
                  const std::wstring& productFolder, bool checkSignatures);
    /// Rebuilds the section once more; failures are traced, never raised.
    ~CPatchManager();
    CPatchManager(const CPatchManager&) = delete;
    CPatchManager& operator=(const CPatchManager&) = delete;

    /// Rebuilds the section from the packages in the patches folder and the
    /// patches the Windows Installer reports as applied.
    void UpdateConfig();

    /// Patch GUID -> package file name for `names` in the patches folder; a
    /// later package with the same GUID wins. Raises
    /// SystemError("CPatchManager::GetMSPsGUIDsMap") for an unreadable one.
    std::map<std::wstring, std::wstring>
    GetMSPsGUIDsMap(const std::vector<std::wstring>& names) const;

    /// Whether the product has `patchGuid` applied (exact comparison).
    bool IsPatchInstalled(const std::wstring& patchGuid) const;

    std::wstring GetProductCode() const { return m_productCode; }

private:
    std::wstring m_productFolder;
    std::wstring m_patchesFolder;
    std::wstring m_stateBookPath;
    std::wstring m_productCode;
    bool m_checkSignatures = false;
};

} // namespace hotfixer
