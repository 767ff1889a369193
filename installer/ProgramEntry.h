// One run of hotfixer: guard, banners, options, then the help text or the
// patch job, and the failure report.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace hotfixer {

class CEventLog;

/// The patch this program carries.
inline constexpr wchar_t kPatchId[] = L"hx318";
/// Shared with the sibling PatchManager tool: one of the two runs at a time.
inline constexpr wchar_t kInstanceMutexName[] =
    L"Global\\REVUVID_342IV671-I61R-4ev0-E313-RI0RI83RO7DI";

/// Exit codes of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

/// Takes the single-instance mutex (the handle stays open until the process
/// ends). True, after one trace line, when another run holds it.
bool PatchAlreadyRunning();

/// The whole run; returns the exit code.
int RunHotfixerProgram(HINSTANCE instance, const wchar_t* commandLine);

/// The top-level failure report: trace, print, "InstallFail" event through
/// `eventLog` (the process-wide reporter when null). Returns kExitFailure.
int ReportFailure(const std::exception& error, const std::wstring& patchId,
                  CEventLog* eventLog = nullptr);

} // namespace hotfixer
