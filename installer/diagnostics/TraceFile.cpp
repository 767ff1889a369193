#include "installer/diagnostics/TraceFile.h"

#include <share.h>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "installer/SystemUtils.h"

namespace hotfixer {

namespace {

constexpr wchar_t kTraceFileName[] = L"ZORArezi.log";
constexpr wchar_t kHeader[] = L"\n===ZEV Patcher trace file===\n";
constexpr wchar_t kTag[] = L"patch";
constexpr size_t kPrefixChars = 128;

struct LevelNameRow {
    int level;
    const wchar_t* name;
};
constexpr LevelNameRow kLevelNames[] = {
    {kTraceAlways, L"ALW"},   {kTraceFatal, L"FTL"},   {kTraceDanger, L"DNG"},
    {kTraceError, L"ERR"},    {kTraceWarning, L"WRN"}, {kTraceImportant, L"IMP"},
    {kTraceNotify, L"NTF"},   {kTraceNoise, L"NOI"},   {kTraceSpam, L"SPM"},
    {kTraceAnnoying, L"ANN"}, {kTraceFfr, L"FFR"},
};

const wchar_t* FindLevelName(int level) {
    for (const auto& row : kLevelNames)
        if (row.level == level)
            return row.name;
    return nullptr;
}

std::wstring ReadTraceRoot() {
    std::vector<wchar_t> buffer;
    if (RegReadStringValue(zev::product::kTraceRoot, zev::product::kEnvironmentKey,
                           HKEY_LOCAL_MACHINE, buffer) != ERROR_SUCCESS)
        return {};
    return std::wstring(buffer.data());
}

} // namespace

TraceFile& TraceFile::Instance() {
    static TraceFile* instance = [] {
        const DWORD err = ::GetLastError();
        auto* created = new TraceFile(ReadTraceRoot()); // lives until the process ends
        ::SetLastError(err);
        return created;
    }();
    return *instance;
}

TraceFile::TraceFile(std::wstring traceRoot)
    : m_root(std::move(traceRoot)), m_path(m_root + kTraceFileName) {
    Append(kHeader);
}

std::wstring TraceFile::LevelName(int level) {
    if (const wchar_t* name = FindLevelName(level))
        return name;
    if (const wchar_t* name = FindLevelName(level / 100 * 100))
        return name;
    return std::to_wstring(level);
}

std::wstring TraceFile::FormatPrefix(const SYSTEMTIME& time, DWORD threadId, int level) {
    wchar_t buffer[kPrefixChars];
    const std::wstring name = LevelName(level);
    _snwprintf(buffer, kPrefixChars, L"\n%02d:%02d:%02d.%03d\t%03x\t%s\t%s\t", time.wHour,
               time.wMinute, time.wSecond, time.wMilliseconds, threadId, name.c_str(), kTag);
    buffer[kPrefixChars - 1] = L'\0';
    return buffer;
}

std::string TraceFile::ToFileBytes(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\n')
            bytes += "\r\n";
        else
            bytes += c < 0x100 ? static_cast<char>(c) : '?';
    }
    return bytes;
}

void TraceFile::Append(const std::wstring& text) const {
    FILE* file = _wfsopen(m_path.c_str(), L"ab", _SH_DENYWR);
    if (!file)
        return;
    const std::string bytes = ToFileBytes(text);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

void TraceFile::WriteLine(int level, const wchar_t* format, va_list args) const {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    std::wstring line = FormatPrefix(now, ::GetCurrentThreadId(), level);
    if (format) {
        va_list counting;
        va_copy(counting, args);
        const int length = _vscwprintf(format, counting);
        va_end(counting);
        if (length > 0) {
            std::wstring message(static_cast<size_t>(length) + 1, L'\0');
            _vsnwprintf(message.data(), message.size(), format, args);
            message.resize(static_cast<size_t>(length));
            line += message;
        }
    }
    Append(line);
}

void TraceLine(int level, const wchar_t* format, ...) {
    const DWORD err = ::GetLastError();
    va_list args;
    va_start(args, format);
    TraceFile::Instance().WriteLine(level, format, args);
    va_end(args);
    ::SetLastError(err);
}

std::wstring GetTraceRoot() {
    return TraceFile::Instance().GetTraceRoot();
}

} // namespace hotfixer
