// The installer's trace file "ZORArezi.log".
//
// One process-wide TraceFile, created on first use, appends records to the
// file in the folder named by the product's "TraceRoot" value (the current
// folder when the value is missing). The file is opened and closed for
// every record, so nothing is lost when the process ends abruptly and other
// processes can read it at any time. Tracing never fails and never changes
// the thread's last error.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

#include "installer/diagnostics/TraceLevels.h"

namespace hotfixer {

class TraceFile {
public:
    /// The process-wide instance; reads "TraceRoot" and writes the header
    /// on first use.
    static TraceFile& Instance();

    /// A trace file in `traceRoot` (used verbatim as a prefix of
    /// "ZORArezi.log"); writes the header. Tests make their own instances.
    explicit TraceFile(std::wstring traceRoot);

    const std::wstring& GetTraceRoot() const { return m_root; }
    const std::wstring& GetPath() const { return m_path; }

    /// Appends one record: the prefix, then `format` with `args` (wide
    /// printf: "%s" wide text, "%S" narrow text).
    void WriteLine(int level, const wchar_t* format, va_list args) const;

    /// "NTF" for 500, "ERR" for 399, "1000" for 1000, "-150" for -150.
    static std::wstring LevelName(int level);
    /// "\nhh:mm:ss.mmm\tTID\tLVL\tpatch\t", cut to 127 characters.
    static std::wstring FormatPrefix(const SYSTEMTIME& time, DWORD threadId, int level);
    /// Text-mode conversion: one byte per character (characters outside
    /// the first 256 code points become '?'), line feed as CR LF.
    static std::string ToFileBytes(const std::wstring& text);

private:
    void Append(const std::wstring& text) const;

    std::wstring m_root;
    std::wstring m_path;
};

/// Writes one record through the process-wide trace file.
void TraceLine(int level, const wchar_t* format, ...);

/// The process-wide trace root (possibly empty).
std::wstring GetTraceRoot();

} // namespace hotfixer
