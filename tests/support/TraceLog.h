// Reading the installer's trace file back into records.
#pragma once

#include <string>
#include <vector>

namespace zev::test {

struct TraceRecord {
    std::string time;    ///< "hh:mm:ss.mmm"
    std::string thread;  ///< lower-case hexadecimal, at least three digits
    std::string level;   ///< "NTF", "ERR", ... or the level's digits
    std::string tag;     ///< "patch"
    std::string message; ///< the text after the tag; inner line breaks as "\n"
};

struct TraceLog {
    int headers = 0; ///< "===ZEV Patcher trace file===" lines
    std::vector<TraceRecord> records;
    /// Records whose message contains `text`.
    std::vector<TraceRecord> Matching(const std::string& text) const;
};

/// Parses the bytes of a trace file. Lines that fit no record shape are
/// kept as continuation of the record before them.
TraceLog ParseTraceLog(const std::string& bytes);
/// Reads and parses a trace file; an empty log when it does not exist.
TraceLog ReadTraceLog(const std::wstring& path);

/// What a trace file gained since this object was made: for tests that
/// share a process-wide trace file with earlier tests.
class TraceTail {
public:
    explicit TraceTail(std::wstring path);
    TraceLog Read() const;

private:
    std::wstring m_path;
    size_t m_offset = 0;
};

} // namespace zev::test
