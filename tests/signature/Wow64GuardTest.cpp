// The WOW64 redirection guards in a 32-bit process (Wine runs it as WOW64
// on its 64-bit prefix).
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/Wow64Redirector.h"
#include "installer/diagnostics/TraceFile.h"
#include "installer/system/Wow64FsRedirectionDisabler.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using namespace zev::test;

namespace {

std::vector<std::pair<int, std::string>> g_lines;
void Collect(int level, const char* text) {
    g_lines.emplace_back(level, text);
}

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// A file name in the system folder as this (redirected) process writes it.
std::wstring SystemFile() {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\system32\\zevwow-" + UniqueName() + L".txt";
}

class Wow64RedirectorTest : public testing::Test {
protected:
    void SetUp() override {
        if (!RunsUnderWow64())
            GTEST_SKIP() << "the process does not run under WOW64";
        g_lines.clear();
    }
};

TEST_F(Wow64RedirectorTest, DisablesAndRevertsWithTracedLines) {
    zev::Wow64TraceFn slot = &Collect;
    zev::Wow64Redirector redirector(&slot);
    EXPECT_TRUE(redirector.IsWow64());
    void* previous = reinterpret_cast<void*>(1);
    ASSERT_TRUE(redirector.Disable(&previous));
    // While it is off, a file written to system32 lands in the real folder.
    const std::wstring file = SystemFile();
    WriteFileBytes(file, "x");
    EXPECT_TRUE(redirector.Revert(previous));
    const bool visibleRedirected = FileExists(file);
    redirector.Disable(nullptr);
    const bool visibleReal = FileExists(file);
    DeleteFileW(file.c_str());
    redirector.Revert(nullptr);
    EXPECT_FALSE(visibleRedirected);
    EXPECT_TRUE(visibleReal);

    ASSERT_GE(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0],
              std::make_pair(zev::kWow64TraceImportant, std::string("util\tIsWow64 = 1")));
    EXPECT_EQ(g_lines[1].first, zev::kWow64TraceNotify);
    EXPECT_EQ(g_lines[1].second.rfind("util\tredirector disabled (prev ", 0), 0u);
    EXPECT_EQ(g_lines[2].second.rfind("util\tredirector reverted (prev ", 0), 0u);
}

TEST_F(Wow64RedirectorTest, TracesNothingWithoutACallback) {
    zev::Wow64TraceFn empty = nullptr;
    zev::Wow64Redirector withEmptySlot(&empty);
    zev::Wow64Redirector withoutSlot;
    void* previous = nullptr;
    EXPECT_TRUE(withoutSlot.Disable(&previous));
    EXPECT_TRUE(withoutSlot.Revert(previous));
    EXPECT_TRUE(withEmptySlot.IsWow64());
    EXPECT_TRUE(g_lines.empty());
}

// The disabler traces through the installer's trace file.
TEST(Wow64FsRedirectionDisabler, SwitchesOffForItsScope) {
    if (!RunsUnderWow64())
        GTEST_SKIP() << "the process does not run under WOW64";
    TempDir traceDir;
    ProductEnvironment env;
    env.Set(L"TraceRoot", traceDir.path() + L"\\");
    const std::wstring tracePath = hotfixer::TraceFile::Instance().GetPath();
    const std::wstring file = SystemFile();
    {
        hotfixer::CWow64FsRedirectionDisabler guard;
        WriteFileBytes(file, "x");
    }
    const bool visibleRedirected = FileExists(file);
    {
        hotfixer::CWow64FsRedirectionDisabler guard;
        DeleteFileW(file.c_str());
    }
    EXPECT_FALSE(visibleRedirected);
    const TraceLog log = ReadTraceLog(tracePath);
    const std::string ctor = "CWow64FsRedirectionDisabler::CWow64FsRedirectionDisabler: ";
    const std::string dtor = "CWow64FsRedirectionDisabler::~CWow64FsRedirectionDisabler: ";
    EXPECT_EQ(log.Matching(ctor + "FS WOW64 redirection disabled TRUE").size(), 2u);
    EXPECT_EQ(log.Matching(dtor + "FS WOW64 redirection enabled TRUE").size(), 2u);
    EXPECT_EQ(log.Matching(ctor + "Start").size(), 2u);
    EXPECT_EQ(log.Matching(dtor + "Finish").size(), 2u);
}

} // namespace
