// hotfixer.exe as an administrator's script runs it: help, the second
// instance, and the failure report.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "installer/ProgramEntry.h"
#include "tests/support/Process.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using namespace zev::test;

namespace {

const std::wstring kHotfixer = HostPath(ZEV_HOTFIXER_EXE);

/// A run in a fresh current folder with no product values: the trace file
/// lands in that folder.
struct HotfixerRun {
    TempDir cwd;
    ProductEnvironment env;
    ProcessResult result;

    explicit HotfixerRun(const std::wstring& args) {
        result = RunProgram(kHotfixer, args, cwd.path());
    }
    TraceLog Trace() const { return ReadTraceLog(cwd / L"ZORArezi.log"); }
};

} // namespace

TEST(Entry, HelpPrintsTheBannerAndTheHelpLinesExactly) {
    for (const wchar_t* args : {L"/HELP", L"/?", L"/help /when now"}) {
        HotfixerRun run(args);
        SCOPED_TRACE(testing::PrintToString(std::wstring(args)));
        EXPECT_EQ(run.result.exitCode, 0u);
        EXPECT_EQ(run.result.output, "=== ZEV patcher hx318 ===\r\n"
                                     "\r\nZEV patcher parameters:\r\n"
                                     "\t[/when now] - apply patch now\r\n"
                                     "\t[/when reboot] - apply patch at reboot\r\n"
                                     "\tdefaut: /when reboot\r\n"
                                     "\t[/showui] - show user interface during installation\r\n"
                                     "\t[/uninstall] - uninstall patch\r\n"
                                     "Press 'Enter' to return...");
        const TraceLog trace = run.Trace();
        EXPECT_EQ(trace.headers, 1);
        ASSERT_GE(trace.records.size(), 2u);
        EXPECT_EQ(trace.records[0].message, "Start ZEV Patch hx318");
        // Whether the parent has a console depends on how the test runner
        // was started; the outcome of the attachment is traced either way.
        const size_t outcomes =
            trace.Matching("Cann't attach to parent console. Error code: ").size() +
            trace.Matching("Parent console already used.").size() +
            trace.Matching("Success attach to parent console.").size();
        EXPECT_EQ(outcomes, 1u);
    }
}

TEST(Entry, SecondInstanceExitsQuietlyWithOneTraceRecord) {
    zev::UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, hotfixer::kInstanceMutexName));
    ASSERT_TRUE(mutex);
    HotfixerRun run(L"/when now");
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_EQ(run.result.output, "");
    const TraceLog trace = run.Trace();
    EXPECT_EQ(trace.headers, 1);
    ASSERT_EQ(trace.records.size(), 1u);
    EXPECT_EQ(trace.records[0].level, "NTF");
    EXPECT_EQ(trace.records[0].tag, "patch");
    EXPECT_EQ(trace.records[0].message, "PatchAlreadyRunning: HX or PatchManager already running.");
}

TEST(Entry, MissingProductFolderIsReportedAsFailure) {
    HotfixerRun run(L"/when now");
    EXPECT_EQ(run.result.exitCode, 1u);
    const std::string banner = "=== ZEV patcher hx318 ===\r\n";
    ASSERT_EQ(run.result.output.rfind(banner, 0), 0u) << run.result.output;
    EXPECT_EQ(run.result.output.substr(banner.size()).rfind("GetProductFolder: ", 0), 0u)
        << run.result.output;
    const TraceLog trace = run.Trace();
    const auto failure = trace.Matching("GetProductFolder: ");
    ASSERT_EQ(failure.size(), 1u);
    EXPECT_EQ(failure[0].level, "ERR");
    EXPECT_EQ(trace.Matching("CEventLog::Report: Message provider not registered").size(), 1u);
}

TEST(Entry, TwoRunsLeaveTwoHeaders) {
    TempDir cwd;
    ProductEnvironment env;
    RunProgram(kHotfixer, L"/help", cwd.path());
    RunProgram(kHotfixer, L"/help", cwd.path());
    const TraceLog trace = ReadTraceLog(cwd / L"ZORArezi.log");
    EXPECT_EQ(trace.headers, 2);
}
