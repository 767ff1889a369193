// The Windows Installer's command-line program: the apply and removal
// command lines, starting it, and which of its exit codes mean success.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

class CPatchManager;

/// The installer log's file name, appended directly to the trace root.
inline constexpr wchar_t kInstallerLogName[] = L"ZAVEvaduRUD.log";

/// `traceRoot` followed directly by kInstallerLogName: with an empty trace
/// root the log lands in msiexec's current folder.
std::wstring GetInstallerLogPath(const std::wstring& traceRoot = GetTraceRoot());

/// msiexec.exe [/qn] /lv+* "<log>" /update "<p1;p2>" INSTALLONREBOOT=1;
/// " /qn" only without "/showui" (`showUi` is the parser's
/// HasOption(L"/showui")).
std::wstring GetApplyCommandLine(const std::vector<std::wstring>& packages, bool showUi,
                                 const std::wstring& traceRoot = GetTraceRoot());

/// msiexec.exe /package <product> /uninstall <g1;g2> /lv+* "<log>" [/qn]
/// INSTALLONREBOOT=1, with the product code of `stateBook`.
std::wstring GetUninstallCommandLine(const std::vector<std::wstring>& patchGuids, bool showUi,
                                     const CPatchManager& stateBook,
                                     const std::wstring& traceRoot = GetTraceRoot());

/// Starts `commandLine` (msiexec found by the system's search rules) in
/// `currentDirectory`. Returns 0 with both handles in `info` (the caller
/// closes them), or the start's Windows error code after tracing the cause
/// and the command line.
DWORD CrtProc(std::wstring& commandLine, const std::wstring& currentDirectory,
              PROCESS_INFORMATION& info);

/// Whether msiexec's exit code means success: 0, 1641 (a restart was
/// started) or 3010 (a restart is needed).
bool IsInstallerSuccess(DWORD exitCode);

} // namespace hotfixer
