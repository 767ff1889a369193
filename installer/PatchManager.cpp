#include "installer/PatchManager.h"

#include <algorithm>
#include <exception>

#include "installer/FileUtils.h"
#include "installer/MsiQueries.h"
#include "installer/ProductUpgradeCode.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"
#include "installer/system/ConfigManager.h"

namespace hotfixer {

CPatchManager::CPatchManager(const std::wstring& stateBookPath, const std::wstring& patchesFolder,
                             const std::wstring& productFolder, bool checkSignatures)
    : m_productFolder(productFolder), m_patchesFolder(patchesFolder),
      m_stateBookPath(stateBookPath),
      m_productCode(GetProductCodeByUpgradeCode(zev::product::kProductUpgradeCode)),
      m_checkSignatures(checkSignatures) {
    UpdateConfig();
}

CPatchManager::~CPatchManager() {
    try {
        UpdateConfig();
        TraceLine(kTraceNotify, L"%s: config-ini updated successfully.",
                  L"CPatchManager::~CPatchManager");
    } catch (const std::exception& e) {
        TraceLine(kTraceWarning, L"%S", e.what());
    }
}

void CPatchManager::UpdateConfig() {
    static constexpr wchar_t kOperation[] = L"CPatchManager::UpdateConfig";
    TraceLine(kTraceNotify, L"%s: Start", kOperation);

    const CConfigManager config(m_stateBookPath.c_str());
    IniSection states;
    config.GetSection(kPatchStateSection, states);

    std::vector<std::wstring> names;
    FindMspFiles(m_patchesFolder, names, m_productFolder, m_checkSignatures);
    for (const auto& [guid, name] : GetMSPsGUIDsMap(names))
        states.try_emplace(guid, kPatchStateNotInstalled);

    std::vector<std::wstring> applied;
    ThrowIfFailed(GetProductPatches(m_productCode, applied), "CPatchManager::UpdateConfig");
    for (const std::wstring& guid : applied)
        states[guid] = kPatchStateInstalled;
    for (auto& [guid, state] : states)
        if (state == kPatchStateInstalled &&
            std::find(applied.begin(), applied.end(), guid) == applied.end())
            state = kPatchStateIgnored;

    config.SetSection(kPatchStateSection, states);
    TraceLine(kTraceNotify, L"%s: Finish success", kOperation);
}

std::map<std::wstring, std::wstring>
CPatchManager::GetMSPsGUIDsMap(const std::vector<std::wstring>& names) const {
    std::map<std::wstring, std::wstring> guids;
    for (const std::wstring& name : names) {
        std::wstring guid;
        ThrowIfFailed(GetMSPPatchGUID(m_patchesFolder + L"\\" + name, guid),
                      "CPatchManager::GetMSPsGUIDsMap");
        guids[guid] = name;
    }
    return guids;
}

bool CPatchManager::IsPatchInstalled(const std::wstring& patchGuid) const {
    std::vector<std::wstring> applied;
    ThrowIfFailed(GetProductPatches(m_productCode, applied), "CPatchManager::IsPatchInstalled");
    return std::find(applied.begin(), applied.end(), patchGuid) != applied.end();
}

} // namespace hotfixer
