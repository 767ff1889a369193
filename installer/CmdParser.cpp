#include "installer/CmdParser.h"

#include <windows.h>
#include <shellapi.h>

#include "common/UniqueHandle.h"
#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {
bool IsOption(const wchar_t* arg) {
    return arg[0] == L'/';
}
} // namespace

std::wstring CCMDParser::ToLowerClassic(const std::wstring& text) {
    std::wstring out = text;
    for (auto& c : out)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return out;
}

CCMDParser::CCMDParser(const wchar_t* commandLine) {
    // The shell's splitter crashes on a null text; treat it as empty.
    const wchar_t* text = commandLine ? commandLine : L"";
    TraceLine(kTraceNotify, L"Parse CMD line: %s", text);
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(text, &count);
    if (!args) {
        TraceLine(kTraceError, L"Parse CMD line: %s Error code: %d", text,
                  static_cast<int>(::GetLastError()));
        return;
    }
    zev::UniqueLocal owner(reinterpret_cast<HLOCAL>(args));
    for (int i = 0; i < count;) {
        const wchar_t* arg = args[i];
        if (!arg[0] || !IsOption(arg)) {
            ++i;
            continue;
        }
        std::wstring value;
        int used = 1;
        if (i + 1 < count && !(args[i + 1][0] && IsOption(args[i + 1]))) {
            value = args[i + 1];
            used = 2;
        }
        m_options.emplace(ToLowerClassic(arg), value); // the first occurrence wins
        i += used;
    }
}

bool CCMDParser::HasOption(const wchar_t* name) const {
    return name && m_options.count(ToLowerClassic(name)) != 0;
}

std::wstring CCMDParser::GetOptionValue(const wchar_t* name) const {
    if (!HasOption(name))
        return {};
    const auto it = m_options.find(name);
    return it == m_options.end() ? std::wstring() : it->second;
}

} // namespace hotfixer
