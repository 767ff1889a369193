// wfsh started as its own program in a prepared folder: what it prints and
// what it leaves on disk.
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace zev::test {
namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class WfshTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(dir / L"notes.txt", "hello wfsh\r\n");
        WriteFileBytes(dir / L"data.bin", std::string(3000, 'd'));
        WriteFileBytes(dir / L"locked.txt", "keep me");
        ::SetFileAttributesW((dir / L"locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        ::CreateDirectoryW((dir / L"old").c_str(), nullptr);
        ::CreateDirectoryW((dir / L"old\\inner").c_str(), nullptr);
        WriteFileBytes(dir / L"old\\inner\\x.log", "x");
    }
    void TearDown() override {
        ::SetFileAttributesW((dir / L"locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    ProcessResult Wfsh(const std::wstring& args) {
        ProcessResult r = RunProgram(HostPath(ZEV_WFSH_EXE), args, dir.path());
        EXPECT_FALSE(Has(r.output, "blocks left behind"))
            << "wfsh " << std::string(args.begin(), args.end());
        return r;
    }
    TempDir dir;
};

TEST_F(WfshTest, ListsTheFolder) {
    ProcessResult r = Wfsh(L"ls");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    for (const char* name : {"notes.txt", "data.bin", "locked.txt", "old"})
        EXPECT_TRUE(Has(r.output, name)) << name << " in:\n" << r.output;

    r = Wfsh(L"ls -l");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(Has(r.output, "3000  data.bin")) << r.output;
    EXPECT_TRUE(Has(r.output, "-r-")) << "read-only shown:\n" << r.output;
    EXPECT_TRUE(Has(r.output, "old\\")) << r.output;
    EXPECT_TRUE(Has(r.output, "4 entries")) << r.output;

    r = Wfsh(L"ls *.txt");
    EXPECT_TRUE(Has(r.output, "notes.txt") && !Has(r.output, "data.bin")) << r.output;
}

TEST_F(WfshTest, CopyMoveDeleteAndPrint) {
    ProcessResult r = Wfsh(L"cp notes.txt copy.txt");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(ReadFileBytes(dir / L"copy.txt"), "hello wfsh\r\n");

    r = Wfsh(L"cp data.bin copy.txt");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_TRUE(Has(r.output, "already exists (framework code 0x800000D1, Windows error 80)"))
        << r.output;
    EXPECT_EQ(Wfsh(L"cp -f data.bin copy.txt").exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(dir / L"copy.txt").size(), 3000u);

    EXPECT_EQ(Wfsh(L"mv copy.txt moved.txt").exitCode, 0u);
    EXPECT_FALSE(FileExists(dir / L"copy.txt"));
    EXPECT_TRUE(FileExists(dir / L"moved.txt"));

    r = Wfsh(L"cat notes.txt");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "hello wfsh\r\n");

    EXPECT_EQ(Wfsh(L"rm moved.txt").exitCode, 0u);
    EXPECT_FALSE(FileExists(dir / L"moved.txt"));

    r = Wfsh(L"stat notes.txt");
    EXPECT_TRUE(Has(r.output, "size:       12 bytes")) << r.output;
}

TEST_F(WfshTest, ReadableErrors) {
    ProcessResult r = Wfsh(L"cat missing.txt");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.output,
              "wfsh: cat: missing.txt: not found (framework code 0x800000C5, Windows error 2)\n");

    r = Wfsh(L"rm locked.txt");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.output,
              "wfsh: rm: locked.txt: access denied (framework code 0x80000045, Windows error 5)\n");
    EXPECT_EQ(ReadFileBytes(dir / L"locked.txt"), "keep me");

    r = Wfsh(L"frobnicate");
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_TRUE(Has(r.output, "unknown command")) << r.output;
}

TEST_F(WfshTest, FoldersTemporaryNamesSpaceAndPrograms) {
    EXPECT_EQ(Wfsh(L"mkdir -p new/deeper/deepest").exitCode, 0u);
    EXPECT_TRUE(::GetFileAttributesW((dir / L"new\\deeper\\deepest").c_str()) &
                FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(Wfsh(L"mkdir new").exitCode, 1u) << "exists";

    EXPECT_EQ(Wfsh(L"rmdir -r old").exitCode, 0u);
    EXPECT_EQ(::GetFileAttributesW((dir / L"old").c_str()), INVALID_FILE_ATTRIBUTES);

    ProcessResult r = Wfsh(L"tmpname . vl_");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    const std::string made = r.output.substr(0, r.output.find('\n'));
    EXPECT_TRUE(FileExists(std::wstring(made.begin(), made.end()))) << made;

    r = Wfsh(L"df");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(Has(r.output, "bytes free")) << r.output;

    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    r = Wfsh(L"run " + std::wstring(system) + L"\\cmd.exe /c exit 3");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(Has(r.output, "exit code 3")) << r.output;
}

TEST_F(WfshTest, TraceShowsThePluginsLines) {
    const ProcessResult r = Wfsh(L"--trace cat notes.txt");
    EXPECT_TRUE(Has(r.output, "wfsys\t")) << r.output;
    EXPECT_TRUE(Has(r.output, "has been closed")) << r.output;
}

} // namespace
} // namespace zev::test
