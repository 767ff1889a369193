#include "installer/diagnostics/EventMessage.h"

#include <windows.h>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"
#include "installer/system/ConfigManager.h"

namespace hotfixer {

namespace {

constexpr wchar_t kOp[] = L"CEventMessage::CEventMessage";
constexpr char kOpNarrow[] = "CEventMessage::CEventMessage";
constexpr wchar_t kSection[] = L"PatchMessages";

constexpr wchar_t kVersionKey[] = L"Version";
// Keys by message type.
constexpr const wchar_t* kTypeKeys[] = {L"Prepare", L"AtRestart", L"InstallSuccess",
                                        L"InstallFail"};

struct DefaultText {
    const wchar_t* key;
    const wchar_t* text;
};
constexpr DefaultText kDefaults[] = {
    {kVersionKey, L"Patch version:"},
    {L"Prepare", L"Preparing for installation of patches"},
    {L"AtRestart", L"Patches will be installed when the operating system restarts"},
    {L"InstallSuccess", L"Patches installed successfully"},
    {L"InstallFail", L"Cannot install patches"},
};

std::wstring ReadEnvironmentValue(const wchar_t* name) {
    std::vector<wchar_t> buffer;
    ThrowIfFailed(
        RegReadStringValue(name, zev::product::kEnvironmentKey, HKEY_LOCAL_MACHINE, buffer),
        kOpNarrow);
    return buffer.data();
}

} // namespace

CEventMessage::CEventMessage(std::wstring patchId) : m_patchId(std::move(patchId)) {
    try {
        std::wstring skin = ReadEnvironmentValue(zev::product::kSkin);
        ThrowIfFailed(
            SubstituteRegVariables(HKEY_LOCAL_MACHINE, zev::product::kEnvironmentKey, skin),
            kOpNarrow);
        const std::wstring localization = ReadEnvironmentValue(zev::product::kLocalization);
        const std::wstring path = skin + L"\\loc\\" + localization + L"\\patcher.loc";
        TraceLine(kTraceNotify, L"%s: Localization file path = %s", kOp, path.c_str());
        IniSection localized;
        CConfigManager(path.c_str()).GetSection(kSection, localized);
        if (!localized.empty()) {
            TraceLine(kTraceNotify, L"%s: Localization map not empty. It will be used.", kOp);
            m_messages.swap(localized);
        } else {
            TraceLine(kTraceNotify, L"%s: Localization map empty. Use default strungs", kOp);
        }
    } catch (const std::logic_error& e) {
        TraceLine(kTraceError, L"%S", e.what());
    }
    if (m_messages.empty()) {
        TraceLine(kTraceNotify, L"%s: Messages map empty. Fill it default strings.", kOp);
        for (const auto& d : kDefaults)
            m_messages[d.key] = d.text;
    }
}

std::wstring CEventMessage::Compose(unsigned type, const std::vector<std::wstring>& items) {
    std::wstring text = m_messages[kVersionKey] + L" " + m_patchId + L"\n";
    if (type < std::size(kTypeKeys))
        text += m_messages[kTypeKeys[type]];
    text += items.empty() ? L".\n" : L":\n";
    for (const auto& item : items)
        text += item + L"\n";
    return text;
}

} // namespace hotfixer
