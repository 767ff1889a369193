// Path forms, the Windows-error mapping and conversion by components.
#include "plugin/frame/ResultCodes.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/PathComponents.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"
#include "tests/plugin/LinkedPluginFixture.h"

#include <cwctype>

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

TEST(WinErrorMap, EveryRowOfTheTable) {
    struct Row {
        DWORD error;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {0, 0},
        {2, 0x800000C5},
        {3, 0x800000C5},
        {53, 0x800000C5},
        {5, 0x80000045},
        {65, 0x80000045},
        {1326, 0x80000045},
        {18, 0x80000056},
        {19, 0x8000005F},
        {21, 0x80000063},
        {32, 0x8000004F},
        {33, 0x8000004F},
        {108, 0x8000004F},
        {80, 0x800000D1},
        {183, 0x800000D1},
        {112, 0x80000062},
        {123, 0x80000046},
        {87, 0x80000040},
        {6, 0x80000040},
        {0xFFFFFFFF, 0x80000040},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        EXPECT_EQ(static_cast<std::uint32_t>(MapWin32Error(row.error)), row.expected);
    }
}

class PathFormsTest : public LinkedPluginTest {};

TEST_F(PathFormsTest, LongPathPrefixByForm) {
    struct Row {
        const wchar_t* text;
        const wchar_t* prefix; // null: none
        std::size_t skip;
    };
    const Row rows[] = {
        {L"C:", L"\\\\?\\", 0},
        {L"C", nullptr, 0},
        {L"", nullptr, 0},
        {L"c:\\dir\\file", L"\\\\?\\", 0},
        {L"\\\\server", L"\\\\?\\UNC\\", 2},
        {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\", 8},
        {L"\\\\?\\unc\\server\\share", L"\\\\?\\UNC\\", 8},
        {L"\\\\?\\C:\\x", L"\\\\?\\", 4},
        {L"\\\\.\\pipe\\x", nullptr, 0},
        {L"dir\\file", nullptr, 0},
        {L"\\dir", nullptr, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
        std::size_t skip = 99, bytes = 99;
        const wchar_t* prefix = LongPathPrefix(row.text, std::wcslen(row.text) * 2, &skip, &bytes);
        if (!row.prefix) {
            EXPECT_EQ(prefix, nullptr);
            EXPECT_EQ(bytes, 0u);
            continue;
        }
        ASSERT_NE(prefix, nullptr);
        EXPECT_STREQ(prefix, row.prefix);
        EXPECT_EQ(bytes, std::wcslen(row.prefix) * 2);
        EXPECT_EQ(skip, row.skip);
    }
}

TEST_F(PathFormsTest, RelativeSameDriveAndShareRoot) {
    const std::pair<const wchar_t*, int> relative[] = {
        {L"dir\\file", 1}, {L"\\dir", 0}, {L"/dir", 0}, {L"C:dir", 0}, {L"C:", 0}, {L"x", 1}};
    for (auto [text, expected] : relative)
        EXPECT_EQ(IsRelativePath(text, std::wcslen(text) * 2), expected) << "for " << text;

    EXPECT_TRUE(IsSameDrive(L"c:\\a", L"C:\\b"));
    EXPECT_FALSE(IsSameDrive(L"c:\\a", L"d:\\a"));
    EXPECT_FALSE(IsSameDrive(L"\\\\s\\a", L"\\\\s\\b"));

    const std::wstring share = L"\\\\server\\share\\dir\\f";
    EXPECT_EQ(ShareRootEnd(share.c_str(), share.size() * 2, 0), 14);
    const std::wstring bare = L"\\\\server\\share";
    EXPECT_EQ(ShareRootEnd(bare.c_str(), bare.size() * 2, 0), 14);
    EXPECT_EQ(ShareRootEnd(L"\\\\?\\UNC\\s\\x", 22, 0), -1);
    EXPECT_EQ(ShareRootEnd(L"\\\\server", 16, 0), -1);
    const std::string narrow = "\\\\srv\\sh/x";
    EXPECT_EQ(ShareRootEndNarrow(narrow.c_str(), narrow.size(), 0), 8);

    EXPECT_EQ(BoundedTextLength(L"abc", 100), 8u);
    EXPECT_EQ(BoundedTextLength(L"abc", 4), 4u);
    EXPECT_EQ(BoundedTextLength(L"", 100), 0u);
    EXPECT_EQ(BoundedTextLength(nullptr, 100), 0u);
}

TEST_F(PathFormsTest, ExistingFolderTest) {
    std::uint32_t error = 0xdeadbeef;
    EXPECT_EQ(IsExistingFolder(dir.path().c_str(), &error), errOK);
    EXPECT_EQ(error, 0u);
    WriteFileBytes(dir / L"f.txt", "x");
    EXPECT_EQ(IsExistingFolder((dir / L"f.txt").c_str()), errOBJECT_NOT_FOUND);
    EXPECT_EQ(IsExistingFolder((dir / L"missing").c_str(), &error), errOBJECT_NOT_FOUND);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(PathFormsTest, LongPathByComponentsRestoresCaseAndDriveLetter) {
    ASSERT_TRUE(::CreateDirectoryW((dir / L"Mixed Case").c_str(), nullptr));
    WriteFileBytes(dir / L"Mixed Case\\File.TXT", "x");
    std::wstring lower = dir / L"mixed case\\file.txt";
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(c));
    // Without the whole-path function every component is searched.
    const FARPROC saved = g_kernel.fGetLongPathName;
    g_kernel.fGetLongPathName = nullptr;
    wchar_t initial[8];
    wchar_t* buffer = initial;
    std::uint32_t size = sizeof initial, length = 0, error = 0;
    const Result r =
        LongPathByComponents(host.Root(), lower.c_str(), &buffer, &size, &length, &error);
    g_kernel.fGetLongPathName = saved;
    ASSERT_EQ(r, errOK);
    ASSERT_NE(buffer, initial) << "the result does not fit 8 bytes: the buffer must grow";
    std::wstring expected = dir / L"Mixed Case\\File.TXT";
    expected[0] = static_cast<wchar_t>(std::towupper(expected[0]));
    EXPECT_EQ(std::wstring(buffer), expected);
    EXPECT_EQ(length, expected.size() + 1);
    host.Free(buffer);

    // A missing second component ends with the search's error.
    wchar_t out[600];
    buffer = out;
    size = sizeof out;
    EXPECT_EQ(LongPathByComponents(host.Root(), (dir / L"nope\\file.txt").c_str(), &buffer, &size,
                                   &length, &error),
              errOBJECT_NOT_FOUND);
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    // Neither a drive nor a network path.
    EXPECT_EQ(LongPathByComponents(host.Root(), L"rel\\x", &buffer, &size, &length, &error),
              errPARAMETER_INVALID);
    wchar_t shortOut[kComponentBufferChars];
    EXPECT_EQ(ShortPathByComponents(L"rel\\x", shortOut), errPARAMETER_INVALID);
}

TEST_F(PathFormsTest, ShortPathByComponents) {
    ASSERT_TRUE(::CreateDirectoryW((dir / L"a long folder name").c_str(), nullptr));
    WriteFileBytes(dir / L"a long folder name\\another long file.txt", "x");
    wchar_t out[kComponentBufferChars];
    ASSERT_EQ(
        ShortPathByComponents((dir / L"a long folder name\\another long file.txt").c_str(), out),
        errOK);
    // The short form names the same file.
    EXPECT_EQ(ReadFileBytes(out), "x");
    EXPECT_EQ(std::wstring(out).find(L"another long file"), std::wstring::npos);

    // An intermediate prefix beyond 520 characters.
    const std::wstring deep =
        L"C:\\" + std::wstring(300, L'a') + L"\\" + std::wstring(300, L'b') + L"\\c";
    std::uint32_t error = 0;
    const Result r = ShortPathByComponents(deep.c_str(), out, &error);
    EXPECT_TRUE(r == errBUFFER_TOO_SMALL || r == errOBJECT_NOT_FOUND) << std::hex << r;
}

DWORD g_queries = 0;
DWORD WINAPI NotConnected(LPCWSTR, DWORD, LPVOID, LPDWORD) {
    ++g_queries;
    return ERROR_NOT_CONNECTED;
}
DWORD WINAPI ShareOfDriveN(LPCWSTR path, DWORD, LPVOID buffer, LPDWORD size) {
    ++g_queries;
    const std::wstring universal = std::wstring(L"\\\\srv\\share") + (path + 2);
    const DWORD need =
        static_cast<DWORD>(sizeof(UNIVERSAL_NAME_INFOW) + (universal.size() + 1) * sizeof(wchar_t));
    if (!buffer || *size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    info->lpUniversalName = reinterpret_cast<wchar_t*>(info + 1);
    std::wmemcpy(info->lpUniversalName, universal.c_str(), universal.size() + 1);
    return NO_ERROR;
}

TEST_F(PathFormsTest, UniversalNameAsksOncePerDrive) {
    const auto saved = g_universalNameQuery;
    ResetDriveMap();
    g_queries = 0;
    g_universalNameQuery = NotConnected;
    wchar_t buffer[64];
    std::uint32_t size = 64;
    EXPECT_EQ(UniversalName(L"C:\\dir\\f", buffer, &size), 0);
    EXPECT_EQ(UniversalName(L"c:\\other", buffer, &size), 0);
    EXPECT_EQ(g_queries, 1u) << "a drive that is not a network drive is asked about once";

    g_universalNameQuery = ShareOfDriveN;
    size = 64;
    EXPECT_EQ(UniversalName(L"N:\\dir\\f.txt", buffer, &size), 1);
    const DWORD asked = g_queries;
    EXPECT_STREQ(buffer, L"\\\\srv\\share\\dir\\f.txt");
    size = 8; // too small: the size needed comes back
    EXPECT_EQ(UniversalName(L"n:\\other.txt", buffer, &size), errBUFFER_TOO_SMALL);
    EXPECT_EQ(size, std::wcslen(L"\\\\srv\\share\\other.txt") + 1);
    EXPECT_EQ(g_queries, asked) << "a known drive is answered from the cache";
    EXPECT_EQ(UniversalName(L"1:\\x", buffer, &size), errPARAMETER_INVALID);
    EXPECT_EQ(UniversalName(L"C", buffer, &size), errPARAMETER_INVALID);
    g_universalNameQuery = saved;
    ResetDriveMap();
}

TEST_F(PathFormsTest, PrefixExportOnStringObjects) {
    struct Row {
        const wchar_t* text;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {L"C:\\dir\\file.txt", L"\\\\?\\C:\\dir\\file.txt"},
        {L"\\\\server\\share\\f", L"\\\\server\\share\\f"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {L"relative", L"relative"},
    };
    auto exportFn = reinterpret_cast<Result (*)(hOBJ)>(host.LookupExport(kPidWfsys, 0xF97328FD));
    ASSERT_NE(exportFn, nullptr);
    for (const Row& row : rows) {
        hOBJ string = nullptr;
        ASSERT_EQ(host.CreateQuick(host.Root(), &string, kIidString), errOK);
        ASSERT_EQ(host.SetWide(string, kPropFullName, row.text), errOK);
        EXPECT_EQ(exportFn(string), errOK);
        EXPECT_EQ(host.GetWide(string, kPropFullName).value_or(L"?"), row.expected);
        host.Close(string);
    }
}

} // namespace
} // namespace zev::test
