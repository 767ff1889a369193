// The trace file's records: prefix, level names, layout and encoding.
#include <gtest/gtest.h>

#include <windows.h>

#include "installer/diagnostics/TraceFile.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using hotfixer::TraceFile;
using namespace zev::test;

namespace {
void Write(const TraceFile& file, int level, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    file.WriteLine(level, format, args);
    va_end(args);
}
} // namespace

TEST(TraceFile, LevelNames) {
    const struct {
        int level;
        const wchar_t* name;
    } rows[] = {{0, L"ALW"},     {50, L"ALW"},    {100, L"FTL"},  {200, L"DNG"}, {300, L"ERR"},
                {350, L"WRN"},   {399, L"ERR"},   {400, L"IMP"},  {500, L"NTF"}, {600, L"NOI"},
                {700, L"SPM"},   {800, L"ANN"},   {900, L"FFR"},  {999, L"FFR"}, {-50, L"ALW"},
                {1000, L"1000"}, {-150, L"-150"}, {-100, L"-100"}};
    for (const auto& row : rows)
        EXPECT_EQ(TraceFile::LevelName(row.level), row.name) << "level " << row.level;
}

TEST(TraceFile, PrefixCarriesTimeThreadLevelAndTag) {
    SYSTEMTIME t{};
    t.wHour = 14;
    t.wMinute = 3;
    t.wSecond = 7;
    t.wMilliseconds = 52;
    EXPECT_EQ(TraceFile::FormatPrefix(t, 0x1a4, 500), L"\n14:03:07.052\t1a4\tNTF\tpatch\t");
    EXPECT_EQ(TraceFile::FormatPrefix(t, 10, 300), L"\n14:03:07.052\t00a\tERR\tpatch\t");
    EXPECT_EQ(TraceFile::FormatPrefix(t, 0x12345, 1000), L"\n14:03:07.052\t12345\t1000\tpatch\t");
}

TEST(TraceFile, TextModeBytes) {
    EXPECT_EQ(TraceFile::ToFileBytes(L"a\nb"), "a\r\nb");
    EXPECT_EQ(TraceFile::ToFileBytes(L"\u00e9\u4e2d"), std::string("\xe9?", 2));
}

TEST(TraceFile, HeaderOncePerInstanceAndRecordsAppended) {
    TempDir dir;
    const std::wstring root = dir.path() + L"\\";
    {
        TraceFile first(root);
        Write(first, 500, L"%s: wide %s, narrow %S, number %d", L"Op", L"w", "n", 42);
        Write(first, 350, L"second");
    }
    TraceFile second(root);
    Write(second, 300, L"third");
    EXPECT_EQ(second.GetPath(), root + L"ZORArezi.log");

    const std::string bytes = ReadFileBytes(root + L"ZORArezi.log");
    // Every record starts on a new line, so a blank line follows each
    // header and the last record has no line end.
    EXPECT_EQ(bytes.rfind("\r\n===ZEV Patcher trace file===\r\n\r\n", 0), 0u);
    EXPECT_NE(bytes.substr(bytes.size() - 5), "\r\n");

    const TraceLog log = ParseTraceLog(bytes);
    EXPECT_EQ(log.headers, 2);
    ASSERT_EQ(log.records.size(), 3u);
    EXPECT_EQ(log.records[0].level, "NTF");
    EXPECT_EQ(log.records[0].tag, "patch");
    EXPECT_EQ(log.records[0].message, "Op: wide w, narrow n, number 42");
    EXPECT_EQ(log.records[1].level, "WRN");
    EXPECT_EQ(log.records[2].message, "third");
    char tid[16];
    snprintf(tid, sizeof(tid), "%03lx", GetCurrentThreadId());
    EXPECT_EQ(log.records[0].thread, tid);
}

TEST(TraceFile, RootIsAPlainPrefix) {
    TempDir dir;
    TraceFile noSeparator(dir.path() + L"\\Logs");
    EXPECT_EQ(noSeparator.GetPath(), dir.path() + L"\\LogsZORArezi.log");
    EXPECT_TRUE(FileExists(dir.path() + L"\\LogsZORArezi.log"));
}

TEST(TraceFile, UnopenableFileDropsLinesSilently) {
    TempDir dir;
    TraceFile missing(dir.path() + L"\\no\\such\\folder\\");
    Write(missing, 500, L"lost");
    SetLastError(1234);
    hotfixer::TraceLine(500, L"%s", L"through the process-wide file");
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_FALSE(FileExists(missing.GetPath()));
}
