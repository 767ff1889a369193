#include "installer/ProgramEntry.h"

#include <io.h>
#include <cstdio>

#include <boost/shared_ptr.hpp>
#include <boost/make_shared.hpp>

#include "installer/CmdParser.h"
#include "installer/ConsoleOutput.h"
#include "installer/ParentConsole.h"
#include "installer/PatchRunner.h"
#include "installer/diagnostics/EventLog.h"
#include "installer/diagnostics/EventMessage.h"
#include "installer/diagnostics/TraceFile.h"
#include "installer/system/ProductConnection.h"

namespace hotfixer {

namespace {

const wchar_t* const kHelpLines[] = {
    L"\nZEV patcher parameters:\n",
    L"\t[/when now] - apply patch now\n",
    L"\t[/when reboot] - apply patch at reboot\n",
    L"\tdefaut: /when reboot\n",
    L"\t[/showui] - show user interface during installation\n",
    L"\t[/uninstall] - uninstall patch\n",
    L"Press 'Enter' to return...",
};

void RunHelp() {
    COutToParentConsole console;
    for (const wchar_t* line : kHelpLines)
        ConsolePrint(L"%s", line);
    fflush(stdout);
    if (console.descriptor > 0)
        _close(console.descriptor);
    if (console.attached)
        ::FreeConsole();
}

// The patch job: the product connection, the patch runner and the chosen
// mode. The runner is destroyed before the connection is released, so its
// final state-book update runs while the product is still connected.
void RunNormalBranch(HINSTANCE instance, const boost::shared_ptr<CCMDParser>& parser,
                     const std::wstring& patchId) {
    const auto connection = boost::make_shared<CUsingGRD>(instance);
    connection->RegisterSelfInvisible();
    CPatchRunner runner(parser, patchId, true);
    runner.RunHotfixer(connection);
    TraceLine(kTraceNotify, L"Finish ZEV Patch successfully");
    ConsolePrint(L"\nZEV Patch successfully installed.");
}

} // namespace

bool PatchAlreadyRunning() {
    ::CreateMutexW(nullptr, FALSE, kInstanceMutexName); // held until the process ends
    const DWORD err = ::GetLastError();
    if (err != ERROR_ALREADY_EXISTS && err != ERROR_ACCESS_DENIED)
        return false;
    TraceLine(kTraceNotify, L"%s: HX or PatchManager already running.", L"PatchAlreadyRunning");
    return true;
}

int ReportFailure(const std::exception& error, const std::wstring& patchId, CEventLog* eventLog) {
    TraceLine(kTraceError, L"%S", error.what());
    ConsolePrint(L"%S", error.what());
    fflush(stdout);
    CEventMessage messages(patchId);
    CEventLog& log = eventLog ? *eventLog : CEventLog::Instance();
    log.Report(messages.Compose(kMessageInstallFail), EVENTLOG_ERROR_TYPE);
    return kExitFailure;
}

int RunHotfixerProgram(HINSTANCE instance, const wchar_t* commandLine) {
    if (PatchAlreadyRunning())
        return kExitSuccess;
    const std::wstring patchId = kPatchId;
    TraceLine(kTraceNotify, L"Start ZEV Patch %s", patchId.c_str());
    ConsolePrint(L"=== ZEV patcher %s ===\n", patchId.c_str());

    int exitCode = kExitSuccess;
    try {
        const auto parser = boost::make_shared<CCMDParser>(commandLine);
        if (parser->HasOption(L"/help") || parser->HasOption(L"/?")) {
            RunHelp();
        } else {
            RunNormalBranch(instance, parser, patchId);
        }
    } catch (const std::exception& e) {
        exitCode = ReportFailure(e, patchId);
    }
    fflush(stdout);
    return exitCode;
}

} // namespace hotfixer
