// msiexec command lines, starting msiexec with CrtProc and judging its exit
// code; runs against the stand-in msiexec.exe beside the test program.
#include <gtest/gtest.h>

#include "common/UniqueHandle.h"
#include "installer/InstallerInvocation.h"
#include "installer/PatchManager.h"
#include "installer/Unpacker.h"
#include "tests/installer/InstallerStandIn.h"
#include "tests/support/TempDir.h"

using namespace hotfixer;
using namespace zev::test;
namespace msistate = zev::msistate;

namespace {

constexpr wchar_t kGuid[] = L"{FA7AA09B-8B56-4571-B835-5E2FF8BAE62A}";

// Runs a command line through CrtProc and waits for its exit code.
DWORD RunAndWait(std::wstring commandLine, const std::wstring& cwd) {
    PROCESS_INFORMATION info;
    const DWORD started = CrtProc(commandLine, cwd, info);
    EXPECT_EQ(started, 0u);
    if (started)
        return started;
    zev::UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

} // namespace

TEST(InstallerInvocation, ApplyCommandLines) {
    const struct {
        std::vector<std::wstring> packages;
        bool showUi;
        const wchar_t* traceRoot;
        const wchar_t* expected;
    } rows[] = {
        {{L"C:\\Product\\Patches\\hx318.msp"},
         false,
         L"C:\\Logs\\",
         L"msiexec.exe /qn /lv+* \"C:\\Logs\\ZAVEvaduRUD.log\" /update "
         L"\"C:\\Product\\Patches\\hx318.msp\" INSTALLONREBOOT=1"},
        {{L"C:\\Product\\Patches\\hx318.msp"},
         true,
         L"C:\\Logs\\",
         L"msiexec.exe /lv+* \"C:\\Logs\\ZAVEvaduRUD.log\" /update "
         L"\"C:\\Product\\Patches\\hx318.msp\" INSTALLONREBOOT=1"},
        {{L"C:\\Product\\Patches\\hx318.msp"},
         false,
         L"",
         L"msiexec.exe /qn /lv+* \"ZAVEvaduRUD.log\" /update "
         L"\"C:\\Product\\Patches\\hx318.msp\" INSTALLONREBOOT=1"},
        {{L"C:\\Program Files\\My Product\\Patches\\hx318.msp", L"D:\\b c.msp"},
         false,
         L"C:\\Trace Logs\\",
         L"msiexec.exe /qn /lv+* \"C:\\Trace Logs\\ZAVEvaduRUD.log\" /update "
         L"\"C:\\Program Files\\My Product\\Patches\\hx318.msp;D:\\b c.msp\" INSTALLONREBOOT=1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(GetApplyCommandLine(row.packages, row.showUi, row.traceRoot), row.expected);
    }
}

TEST(InstallerInvocation, RemovalCommandLinesTakeTheProductFromTheStateBook) {
    InstallerStandIn standIn;
    TempDir dir;
    const CPatchManager book(dir / L"Patches.ini", dir.path(), dir.path() + L"\\", false);
    const std::wstring product = kProductCode;
    const struct {
        std::vector<std::wstring> guids;
        bool showUi;
        const wchar_t* traceRoot;
        std::wstring expected;
    } rows[] = {
        {{kGuid},
         false,
         L"C:\\Logs\\",
         L"msiexec.exe /package " + product + L" /uninstall " + kGuid +
             L" /lv+* \"C:\\Logs\\ZAVEvaduRUD.log\" /qn INSTALLONREBOOT=1"},
        {{kGuid},
         true,
         L"C:\\Trace Logs\\",
         L"msiexec.exe /package " + product + L" /uninstall " + kGuid +
             L" /lv+* \"C:\\Trace Logs\\ZAVEvaduRUD.log\" INSTALLONREBOOT=1"},
        {{kGuid, L"{00000000-0000-0000-0000-000000000001}"},
         false,
         L"",
         L"msiexec.exe /package " + product + L" /uninstall " + kGuid +
             L";{00000000-0000-0000-0000-000000000001} /lv+* \"ZAVEvaduRUD.log\" /qn "
             L"INSTALLONREBOOT=1"},
        {{},
         false,
         L"",
         L"msiexec.exe /package " + product +
             L" /uninstall  /lv+* \"ZAVEvaduRUD.log\" /qn INSTALLONREBOOT=1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(GetUninstallCommandLine(row.guids, row.showUi, book, row.traceRoot),
                  row.expected);
    }
}

TEST(InstallerInvocation, ApplyWithAnEmptyTraceRootLogsIntoThePatchesFolder) {
    InstallerStandIn standIn;
    TempDir patches;
    const std::wstring package = patches / L"hx318.msp";
    CUnpacker::ExtractResourceToFile(package);

    EXPECT_EQ(RunAndWait(GetApplyCommandLine({package}, false, L""), patches.path()), 0u);
    EXPECT_EQ(standIn.Applied(), std::vector<std::wstring>{kPatchGuid});
    const std::string log = ReadFileBytes(patches / kInstallerLogName);
    EXPECT_NE(log.find("/update"), std::string::npos) << log;
    EXPECT_NE(log.find("User interface: none"), std::string::npos) << log;
}

TEST(InstallerInvocation, RemovalThroughMsiexecAppendsToTheLog) {
    InstallerStandIn standIn;
    TempDir dir;
    msistate::ApplyPatch(kProductCode, {kPatchGuid, L":T"});
    const CPatchManager book(dir / L"Patches.ini", dir.path(), dir.path() + L"\\", false);
    const std::wstring root = dir.path() + L"\\";
    WriteFileBytes(dir / kInstallerLogName, "earlier run\r\n");

    EXPECT_EQ(RunAndWait(GetUninstallCommandLine({kPatchGuid}, true, book, root), dir.path()), 0u);
    EXPECT_TRUE(standIn.Applied().empty());
    const std::string log = ReadFileBytes(dir / kInstallerLogName);
    EXPECT_EQ(log.rfind("earlier run\r\n", 0), 0u);
    EXPECT_NE(log.find("User interface: full"), std::string::npos) << log;
}

TEST(InstallerInvocation, InjectedExitCodesAndTheirJudgement) {
    InstallerStandIn standIn;
    TempDir patches;
    const std::wstring package = patches / L"hx318.msp";
    CUnpacker::ExtractResourceToFile(package);
    const struct {
        DWORD code;
        bool success;
        bool applied;
    } rows[] = {{1603, false, false}, {3010, true, true}, {1641, true, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        msistate::RemovePatch(kProductCode, kPatchGuid);
        msistate::SetInjectedExitCode(row.code);
        const DWORD code = RunAndWait(GetApplyCommandLine({package}, false), patches.path());
        EXPECT_EQ(code, row.code);
        EXPECT_EQ(IsInstallerSuccess(code), row.success);
        EXPECT_EQ(standIn.Applied().size(), row.applied ? 1u : 0u);
    }
    EXPECT_TRUE(IsInstallerSuccess(0));
    EXPECT_FALSE(IsInstallerSuccess(1602));
}

TEST(InstallerInvocation, CrtProcFailuresTraceTheCauseAndTheCommandLine) {
    TempDir dir;
    const struct {
        std::wstring commandLine;
        std::wstring cwd;
        DWORD code;
    } rows[] = {
        {L"zev-missing-program.exe /qn", dir.path(), ERROR_FILE_NOT_FOUND},
        {L"msiexec.exe /qn", dir / L"missing", ERROR_DIRECTORY},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.commandLine);
        TraceCapture trace;
        std::wstring line = row.commandLine;
        PROCESS_INFORMATION info;
        EXPECT_EQ(CrtProc(line, row.cwd, info), row.code);
        EXPECT_EQ(info.hProcess, nullptr);
        EXPECT_EQ(info.hThread, nullptr);
        const auto records = trace.Records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].level, "ERR");
        EXPECT_EQ(records[0].message.rfind("CrtProc: ", 0), 0u) << records[0].message;
        EXPECT_EQ(Wide(records[1].message.c_str()), L"Command line: " + row.commandLine);
    }
}
