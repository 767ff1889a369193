// The texts the installer writes into the event log, from the product's
// localization file or from built-in English defaults.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace hotfixer {

/// Message types of Compose.
enum EventMessageType : unsigned {
    kMessagePrepare = 0,
    kMessageAtRestart = 1,
    kMessageInstallSuccess = 2,
    kMessageInstallFail = 3,
};

class CEventMessage {
public:
    /// Loads the catalogue: the section "PatchMessages" of
    /// <Skin>\loc\<Localization>\patcher.loc, or the defaults. Never fails.
    explicit CEventMessage(std::wstring patchId);

    /// "<Version> <patch id>\n<message of the type>" then ".\n" without
    /// items, or ":\n" and each item with its line feed.
    std::wstring Compose(unsigned type, const std::vector<std::wstring>& items = {});

    const std::map<std::wstring, std::wstring>& Messages() const { return m_messages; }

private:
    std::wstring m_patchId;
    std::map<std::wstring, std::wstring> m_messages;
};

} // namespace hotfixer
