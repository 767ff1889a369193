// The fixtures every suite relies on: they must clean up after themselves
// and read back what Windows wrote.
#include <gtest/gtest.h>

#include "tests/support/Process.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using namespace zev::test;

TEST(Harness, TempDirIsRemovedWithItsContents) {
    std::wstring path;
    {
        TempDir dir;
        path = dir.path();
        const std::wstring sub = dir / L"a";
        ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
        WriteFileBytes(sub + L"\\f.txt", "x");
        SetFileAttributesW((sub + L"\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(ReadFileBytes(sub + L"\\f.txt"), "x");
    }
    EXPECT_FALSE(FileExists(path));
}

TEST(Harness, ScratchKeyIsRemoved) {
    std::wstring path;
    {
        ScratchRegKey key;
        path = key.path();
        key.SetString(L"v", L"text", REG_SZ, L"sub\\deeper");
        EXPECT_EQ(key.GetString(L"v", L"sub\\deeper").value_or(L""), L"text");
    }
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, path));
}

TEST(Harness, RunProgramCapturesOutputAndExitCode) {
    wchar_t sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    const auto r = RunProgram(std::wstring(sys) + L"\\cmd.exe", L"/c echo hello& exit 3");
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_NE(r.output.find("hello"), std::string::npos) << r.output;
}

TEST(Harness, TraceLogParsesHeadersAndRecords) {
    const std::string bytes = "\r\n===ZEV Patcher trace file===\r\n"
                              "\r\n14:03:07.052\t1a4\tNTF\tpatch\tStart ZEV Patch hx318"
                              "\r\n14:03:07.053\t1a4\tERR\tpatch\tline one\r\nline two"
                              "\r\n===ZEV Patcher trace file===\r\n"
                              "\r\n14:03:08.000\t00a\t-150\tpatch\tlast";
    const TraceLog log = ParseTraceLog(bytes);
    EXPECT_EQ(log.headers, 2);
    ASSERT_EQ(log.records.size(), 3u);
    EXPECT_EQ(log.records[0].thread, "1a4");
    EXPECT_EQ(log.records[1].message, "line one\nline two");
    EXPECT_EQ(log.records[2].level, "-150");
}

TEST(Harness, TraceLogParsesARecordOfAHundredThousandCharacters) {
    const std::string message = "Parse CMD line: /x " + std::string(100000, 'a');
    const TraceLog log = ParseTraceLog("\r\n14:03:07.052\t1a4\tNTF\tpatch\t" + message);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].message, message);
}
