#include "installer/system/ConfigManager.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {
constexpr size_t kInitialChars = 260;
}

CConfigManager::CConfigManager(const wchar_t* iniPath) {
    if (!iniPath)
        throw SystemError(ERROR_INVALID_PARAMETER, "CConfigManager::CConfigManager");
    m_path = iniPath;
}

void CConfigManager::GetSection(const wchar_t* section, IniSection& out) const {
    static const wchar_t kOp[] = L"CConfigManager::GetSection";
    if (!section)
        throw SystemError(ERROR_INVALID_PARAMETER, "CConfigManager::GetSection");
    out.clear();
    std::vector<wchar_t> buffer(kInitialChars, L'\0');
    DWORD count = 0;
    do {
        buffer.resize(buffer.size() * 2, L'\0');
        TraceLine(kTraceNotify, L"%s: New buffer size for ini-section = %d chars", kOp,
                  static_cast<int>(buffer.size()));
        count = ::GetPrivateProfileSectionW(section, buffer.data(),
                                            static_cast<DWORD>(buffer.size()), m_path.c_str());
    } while (count == buffer.size() - 2);

    // The list ends with an empty entry; never read past what was returned.
    const wchar_t* end = buffer.data() + std::min<size_t>(count, buffer.size() - 1);
    for (const wchar_t* entry = buffer.data(); entry < end && *entry;) {
        const std::wstring line(entry);
        entry += line.size() + 1;
        const size_t eq = line.find(L'=');
        if (eq == std::wstring::npos)
            continue;
        out[line.substr(0, eq)] = line.substr(eq + 1);
    }
}

void CConfigManager::SetSection(const wchar_t* section, const IniSection& entries) const {
    static const wchar_t kOp[] = L"CConfigManager::SetSection";
    if (!section)
        throw SystemError(ERROR_INVALID_PARAMETER, "CConfigManager::SetSection");
    std::wstring buffer;
    for (const auto& [key, value] : entries) {
        buffer += key;
        buffer += L'=';
        buffer += value;
        buffer += L'\0';
    }
    buffer += L'\0';
    if (entries.empty())
        buffer += L'\0';
    TraceLine(kTraceNotify, L"%s: Set section '%s' in config file %s", kOp, section,
              m_path.c_str());
    if (!::WritePrivateProfileSectionW(section, buffer.c_str(), m_path.c_str()))
        throw SystemError(::GetLastError(), "CConfigManager::SetSection");
}

} // namespace hotfixer
