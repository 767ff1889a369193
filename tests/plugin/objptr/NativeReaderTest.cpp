// The native reader's own pieces: the pattern rewriting, the status
// mapping and the class-3 fallback.
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/objptr/NativeReader.h"
#include "tests/plugin/objptr/ObjPtrFixture.h"

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

TEST(NativePatternTest, RewritesForDosMatching) {
    struct Row {
        const wchar_t* pattern;
        bool endedWithDot;
        const wchar_t* rewritten;
    };
    const Row rows[] = {
        {L"*.*", false, L"*"},         {L"*", false, L"*"},           {L"*.txt", false, L"<.txt"},
        {L"a?.log", false, L"a>.log"}, {L"a*", true, L"a<"},          {L"a.*", false, L"a\"*"},
        {L"x.?", false, L"x\">"},      {L"*.*.*", false, L"<\"<\"*"}, {L"abc", false, L"abc"},
        {L"abc", true, L"abc"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(RewriteNamePattern(row.pattern, row.endedWithDot), row.rewritten)
            << "pattern index " << (&row - rows);
}

class NativeReaderTest : public ObjPtrTest {
protected:
    void SetUp() override {
        ObjPtrTest::SetUp();
        if (!g_nativeApi)
            GTEST_SKIP() << "the native reader is not available";
    }
};

TEST_F(NativeReaderTest, StatusMappingWithAndWithoutTheSystemTable) {
    EXPECT_EQ(MapNtStatus(static_cast<LONG>(0x80000006)), ERROR_NO_MORE_FILES);
    const FARPROC saved = std::exchange(g_native.RtlNtStatusToDosError, nullptr);
    const std::pair<std::uint32_t, DWORD> rows[] = {
        {0, 0},          {0x80000005, 234}, {0xC000000F, 2},  {0xC0000034, 2},
        {0xC0000022, 5}, {0xC0000121, 5},   {0xC0000024, 6},  {0xC0000033, 123},
        {0xC000003A, 3}, {0xC0000103, 267}, {0x80000006, 87}, {0xC0000001, 87},
    };
    for (const auto& [status, error] : rows)
        EXPECT_EQ(MapNtStatus(static_cast<LONG>(status)), error) << std::hex << status;
    g_native.RtlNtStatusToDosError = saved;
}

TEST_F(NativeReaderTest, FirstReadAndEndAndErrors) {
    MakeFile(dir / L"one.bin", "12345");
    WIN32_FIND_DATAW data{};
    std::uint64_t id = 77;
    HANDLE h = NativeFindFirst((dir / L"one.bin").c_str(), &data, &id);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << ::GetLastError();
    EXPECT_STREQ(data.cFileName, L"one.bin");
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_NE(id, 77u);
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(NativeFindNext(h, &data, &id));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(NativeFindClose(h, &id));
    EXPECT_EQ(id, 0u);

    EXPECT_EQ(NativeFindFirst((dir / L"none*").c_str(), &data, &id), INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(NativeFindFirst((dir / L"no\\x").c_str(), &data, &id), INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(NativeFindFirst((Root()).c_str(), &data, &id), INVALID_HANDLE_VALUE)
        << "a folder without a name pattern";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(NativeFindNext(nullptr, &data, &id));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

/// A directory query that refuses class 37 on the first (single-entry) call.
LONG NTAPI RefuseClass37(HANDLE h, HANDLE e, void* r, void* c, void* io, void* buf, ULONG len,
                         int cls, BOOLEAN single, void* mask, BOOLEAN restart) {
    if (cls == 37 && single)
        return static_cast<LONG>(0xC0000005);
    auto real = Fn<DirectoryQueryFn>(g_native.NtQueryDirectoryFile);
    return real(h, e, r, c, io, buf, len, cls, single, mask, restart);
}

TEST_F(NativeReaderTest, ClassThreeFallbackGivesTheDotEntryTheFolderIdentifier) {
    SetDirectoryQueryForTest(RefuseClass37);
    WIN32_FIND_DATAW data{};
    std::uint64_t id = 0;
    HANDLE h = NativeFindFirst((dir / L"*").c_str(), &data, &id);
    SetDirectoryQueryForTest(nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << ::GetLastError();
    EXPECT_STREQ(data.cFileName, L".");
    UniqueFile folder(::CreateFileW(dir.path().c_str(), 0, 7, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(::GetFileInformationByHandle(folder.get(), &info));
    EXPECT_EQ(id, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow);
    EXPECT_TRUE(NativeFindClose(h));
}

} // namespace
} // namespace zev::test
