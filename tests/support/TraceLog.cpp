#include "tests/support/TraceLog.h"

#include <regex>

#include "tests/support/TempDir.h"

namespace zev::test {

std::vector<TraceRecord> TraceLog::Matching(const std::string& text) const {
    std::vector<TraceRecord> out;
    for (const auto& r : records)
        if (r.message.find(text) != std::string::npos)
            out.push_back(r);
    return out;
}

TraceLog ParseTraceLog(const std::string& bytes) {
    static const std::regex record(
        R"(^(\d\d:\d\d:\d\d\.\d\d\d)\t([0-9a-f]{3,})\t([A-Z]{3}|-?\d+)\t([^\t]*)\t(.*)$)");
    TraceLog log;
    std::string text = bytes;
    // Text-mode files: CRLF ends every line.
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        lines += text[i];
    }
    size_t pos = 0;
    bool inRecord = false;
    while (pos <= lines.size()) {
        size_t end = lines.find('\n', pos);
        if (end == std::string::npos)
            end = lines.size();
        const std::string line = lines.substr(pos, end - pos);
        std::smatch m;
        if (line == "===ZEV Patcher trace file===") {
            ++log.headers;
            inRecord = false;
        } else if (std::regex_match(line, m, record)) {
            log.records.push_back({m[1], m[2], m[3], m[4], m[5]});
            inRecord = true;
        } else if (inRecord) {
            log.records.back().message += "\n" + line;
        }
        pos = end + 1;
    }
    return log;
}

TraceLog ReadTraceLog(const std::wstring& path) {
    if (!FileExists(path))
        return {};
    return ParseTraceLog(ReadFileBytes(path));
}

TraceTail::TraceTail(std::wstring path) : m_path(std::move(path)) {
    if (FileExists(m_path))
        m_offset = ReadFileBytes(m_path).size();
}

TraceLog TraceTail::Read() const {
    if (!FileExists(m_path))
        return {};
    const std::string bytes = ReadFileBytes(m_path);
    return ParseTraceLog(bytes.size() > m_offset ? bytes.substr(m_offset) : std::string());
}

} // namespace zev::test
