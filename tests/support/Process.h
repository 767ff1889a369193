// Running a Windows program as its own process, as an administrator's
// script would, and reading what it printed.
#pragma once

#include <windows.h>

#include <string>

namespace zev::test {

struct ProcessResult {
    DWORD exitCode = 0;
    std::string output; ///< standard output and standard error, as bytes
    bool timedOut = false;
};

/// Starts `exe` with the command line "\"exe\" args" in `cwd` (the caller's
/// folder when empty), with standard output and error on one pipe, and
/// waits up to `timeoutMs`; a program still running then is terminated.
ProcessResult RunProgram(const std::wstring& exe, const std::wstring& args,
                         const std::wstring& cwd = L"", DWORD timeoutMs = 120000);

/// A build artefact's path as the test process sees it: a POSIX path from
/// the build (Wine's drive Z:) becomes "Z:\...", a Windows path stays.
std::wstring HostPath(const char* buildPath);

/// The folder that holds this test executable.
std::wstring ThisModuleDir();

} // namespace zev::test
