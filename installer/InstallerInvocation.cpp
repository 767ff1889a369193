#include "installer/InstallerInvocation.h"

#include <utility>

#include "installer/PatchManager.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {

constexpr wchar_t kProgram[] = L"msiexec.exe";
constexpr wchar_t kQuiet[] = L" /qn";
constexpr wchar_t kVerboseLog[] = L" /lv+* ";
constexpr wchar_t kUpdate[] = L" /update ";
constexpr wchar_t kPackage[] = L" /package ";
constexpr wchar_t kUninstall[] = L" /uninstall ";
constexpr wchar_t kInstallOnReboot[] = L" INSTALLONREBOOT=1";

// The items separated by ";".
std::wstring JoinList(const std::vector<std::wstring>& items) {
    std::wstring out;
    for (const std::wstring& item : items)
        out += item + L";";
    if (!out.empty())
        out.pop_back();
    return out;
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

} // namespace

std::wstring GetInstallerLogPath(const std::wstring& traceRoot) {
    return traceRoot + kInstallerLogName;
}

std::wstring GetApplyCommandLine(const std::vector<std::wstring>& packages, bool showUi,
                                 const std::wstring& traceRoot) {
    std::wstring line = kProgram;
    if (!showUi)
        line += kQuiet;
    line += kVerboseLog + Quoted(GetInstallerLogPath(traceRoot));
    line += kUpdate + Quoted(JoinList(packages));
    line += kInstallOnReboot;
    return line;
}

std::wstring GetUninstallCommandLine(const std::vector<std::wstring>& patchGuids, bool showUi,
                                     const CPatchManager& stateBook,
                                     const std::wstring& traceRoot) {
    std::wstring line = kProgram;
    line += kPackage + stateBook.GetProductCode();
    line += kUninstall + JoinList(patchGuids);
    line += kVerboseLog + Quoted(GetInstallerLogPath(traceRoot));
    if (!showUi)
        line += kQuiet;
    line += kInstallOnReboot;
    return line;
}

DWORD CrtProc(std::wstring& commandLine, const std::wstring& currentDirectory,
              PROCESS_INFORMATION& info) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    info = {};
    if (::CreateProcessW(
            nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
            currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &info))
        return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    TraceLine(kTraceError, L"%s", ErrorText(error, std::wstring(L"CrtProc")).c_str());
    TraceLine(kTraceError, L"Command line: %s", commandLine.c_str());
    if (info.hProcess)
        ::CloseHandle(std::exchange(info.hProcess, nullptr));
    if (info.hThread)
        ::CloseHandle(std::exchange(info.hThread, nullptr));
    return error;
}

bool IsInstallerSuccess(DWORD exitCode) {
    return exitCode == ERROR_SUCCESS || exitCode == ERROR_SUCCESS_REBOOT_INITIATED ||
           exitCode == ERROR_SUCCESS_REBOOT_REQUIRED;
}

} // namespace hotfixer
