// FileSignChecker end to end: files signed by zsign with the development
// keys, checked against a key folder holding al.pbv and oper.pbv.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "installer/diagnostics/TraceFile.h"
#include "signature/FileSignChecker.h"
#include "signature/FileSignCodes.h"
#include "signature/ZsigResult.h"
#include "tests/support/Process.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using namespace zev::test;
using hotfixer::FileSignChecker;

namespace {

std::string Narrow(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

// One trace folder for the process: the trace file is process-wide.
const std::wstring& TracePath() {
    static const auto setup = [] {
        auto dir = std::make_unique<TempDir>();
        auto env = std::make_unique<ProductEnvironment>();
        env->Set(L"TraceRoot", dir->path() + L"\\");
        return std::make_pair(std::move(dir), std::move(env));
    }();
    (void)setup;
    return hotfixer::TraceFile::Instance().GetPath();
}

class FileSignCheckerTest : public testing::Test {
protected:
    void SetUp() override {
        TracePath();
        m_fixtures = HostPath(ZEV_SIG_FIXTURES);
        m_signed = ReadFileBytes(m_fixtures + L"\\signed.bin");
        ASSERT_GT(m_signed.size(), 94u);
        m_keys = m_dir / L"keys";
        ASSERT_TRUE(CreateDirectoryW(m_keys.c_str(), nullptr));
        WriteFileBytes(m_keys + L"\\al.pbv", ReadFileBytes(m_fixtures + L"\\al.pbv"));
        WriteFileBytes(m_keys + L"\\oper.pbv", ReadFileBytes(m_fixtures + L"\\oper.pbv"));
    }

    int32_t Check(const std::vector<std::wstring>& files) {
        FileSignChecker checker(m_keys + L"\\");
        return checker.CheckFilesSign(files);
    }
    size_t TraceCount(const std::string& text) {
        return ReadTraceLog(TracePath()).Matching(text).size();
    }
    static std::string FailedLine(const std::wstring& path) {
        return "FileSignChecker::HandleZSIGError: ConsistencyCheckFailed - module name = <" +
               Narrow(path) + ">";
    }

    TempDir m_dir;
    std::wstring m_fixtures, m_keys;
    std::string m_signed;
};

TEST_F(FileSignCheckerTest, AcceptsAFileSignedByZsign) {
    const std::wstring file = m_dir / L"Package.MSP";
    WriteFileBytes(file, m_signed);
    FileSignChecker checker(m_keys + L"\\");
    EXPECT_TRUE(checker.CheckFileSign(file));
    EXPECT_EQ(TraceCount("Check files sign is ok"), 1u);
}

TEST_F(FileSignCheckerTest, OneFlippedByteAnywhereIsRefusedWithOneTraceLine) {
    const size_t n = m_signed.size();
    // Start, middle, the last content byte, the tag's Base64 text, its "%%".
    for (size_t pos : {size_t(0), n / 2, n - 95, n - 94, n - 50, n - 3, n - 1}) {
        SCOPED_TRACE("flipped byte " + std::to_string(pos));
        std::string bytes = m_signed;
        bytes[pos] = char(bytes[pos] ^ (pos >= n - 90 && pos < n - 2 ? 0x20 : 0x01));
        const std::wstring file = m_dir / (L"flip" + std::to_wstring(pos) + L".bin");
        WriteFileBytes(file, bytes);
        EXPECT_EQ(Check({file}), hotfixer::kSignCheckFailed);
        EXPECT_EQ(TraceCount(FailedLine(file)), 1u);
    }
}

TEST_F(FileSignCheckerTest, OnlyTheRefusedFilesOfAListAreNamed) {
    const std::wstring good = m_dir / L"good.bin", bad = m_dir / L"bad.bin";
    WriteFileBytes(good, m_signed);
    std::string bytes = m_signed;
    bytes[10] ^= 0x40;
    WriteFileBytes(bad, bytes);
    EXPECT_EQ(Check({good, bad}), hotfixer::kSignCheckFailed);
    EXPECT_EQ(TraceCount(FailedLine(bad)), 1u);
    EXPECT_EQ(TraceCount(FailedLine(good)), 0u);
    EXPECT_EQ(TraceCount("Error check files sign - result <" +
                         std::to_string(int32_t(zsig::kConsistencyCheckFailed)) + ">"),
              1u);
}

TEST_F(FileSignCheckerTest, UnsignedAndEmptyFilesAreRefused) {
    const std::wstring unsignedFile = m_dir / L"plain.bin", empty = m_dir / L"empty.bin";
    WriteFileBytes(unsignedFile, m_signed.substr(0, m_signed.size() - 94));
    WriteFileBytes(empty, "");
    EXPECT_EQ(Check({unsignedFile}), hotfixer::kSignCheckFailed);
    EXPECT_EQ(TraceCount(FailedLine(unsignedFile)), 1u);
    EXPECT_EQ(Check({empty}), hotfixer::kSignCheckFailed);
    EXPECT_EQ(TraceCount("Can't add object image, result <" +
                         std::to_string(hotfixer::kSignAddImageFailed) + ">"),
              1u);
}

TEST_F(FileSignCheckerTest, MissingFilesGiveTheirLoadCodes) {
    const std::wstring file = m_dir / L"signed.bin";
    WriteFileBytes(file, m_signed);
    EXPECT_EQ(Check({m_dir / L"absent.bin"}), hotfixer::kSignCheckFailed);
    ASSERT_TRUE(DeleteFileW((m_keys + L"\\oper.pbv").c_str()));
    EXPECT_EQ(Check({file}), int32_t(0x80010102));
    RemoveTree(m_keys);
    EXPECT_EQ(Check({file}), int32_t(0x80010103));
}

// Corrupt registries: the library's code is traced and the check fails.
TEST_F(FileSignCheckerTest, CorruptRegistriesAreRefusedWithTheirCodes) {
    const std::wstring file = m_dir / L"signed.bin";
    WriteFileBytes(file, m_signed);
    const std::string al = ReadFileBytes(m_keys + L"\\al.pbv");
    const std::string oper = ReadFileBytes(m_keys + L"\\oper.pbv");
    struct Case {
        const char* name;
        std::string al, oper;
        zsig::Result expected;
    };
    // Any change inside a tree stream breaks its CRC; a changed tag keeps
    // the container readable and breaks the signature.
    const auto retag = [](std::string bytes) {
        char& c = bytes[bytes.size() - 50];
        c = c == 'A' ? 'B' : 'A';
        return bytes;
    };
    std::string badMagic = oper, badVersion = oper, badCrc = oper;
    badMagic[0] = 'X';
    badVersion[4] = 2;
    badCrc[30] ^= 1;
    const Case cases[] = {
        {"bad magic", al, badMagic, zsig::kContainerBadMagic},
        {"bad version", al, badVersion, zsig::kContainerBadVersion},
        {"bad crc", al, badCrc, zsig::kContainerNoData},
        {"truncated", al, oper.substr(0, 20), zsig::kContainerNoData},
        {"no key registry", al, al, zsig::kNoRegistryAccepted},
        {"tampered key registry", al, retag(oper), zsig::kConsistencyCheckFailed},
        {"tampered root registry", retag(al), oper, zsig::kConsistencyCheckFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(m_keys + L"\\al.pbv", c.al);
        WriteFileBytes(m_keys + L"\\oper.pbv", c.oper);
        const size_t before = TraceCount("Can't prepare regs set, result - <" +
                                         std::to_string(int32_t(c.expected)) + ">");
        EXPECT_EQ(Check({file}), hotfixer::kSignCheckFailed);
        EXPECT_EQ(TraceCount("Can't prepare regs set, result - <" +
                             std::to_string(int32_t(c.expected)) + ">"),
                  before + 1);
    }
    // Tampered registries are named like refused files; the key registry a
    // second time when its signer (the tampered root registry) is refused.
    EXPECT_EQ(TraceCount(FailedLine(m_keys + L"\\oper.pbv")), 2u);
    EXPECT_EQ(TraceCount(FailedLine(m_keys + L"\\al.pbv")), 1u);
}

TEST(FileSignCheckerCodes, WindowsErrorsMapByTheTable) {
    struct Row {
        DWORD error;
        uint32_t code;
    };
    const Row rows[] = {{0, 0},           {2, 0x80010102},     {3, 0x80010103},
                        {5, 0x80000045},  {32, 0x80010104},    {33, 0x80010104},
                        {50, 0x80000042}, {1460, 0x80000221},  {14001, 0x80010108},
                        {4, 0x80010100},  {999999, 0x80010100}};
    for (const Row& r : rows)
        EXPECT_EQ(uint32_t(FileSignChecker::WinErrorToCode(r.error)), r.code) << r.error;
}

TEST(FileSignCheckerCodes, ObjectNamesAreLowerCasedFileNames) {
    struct Row {
        const wchar_t* path;
        const wchar_t* name;
    };
    const Row rows[] = {{L"C:\\Program Files\\Prod\\Patches\\HX318.MSP", L"hx318.msp"},
                        {L"C:/Dir/Sub/File.Bin", L"file.bin"},
                        {L"Mixed\\dir/Last.TXT", L"last.txt"},
                        {L"NoFolder.DAT", L"nofolder.dat"},
                        {L"C:\\Dir\\", L""}};
    for (const Row& r : rows)
        EXPECT_EQ(FileSignChecker::ObjectName(r.path), r.name);
}

// A file that exists only in the real (64-bit) system folder is found by
// LoadFile's retry without redirection.
TEST(FileSignCheckerLoad, RetriesWithoutRedirectionWhenNotFound) {
    wchar_t windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring path =
        std::wstring(windows) + L"\\system32\\zevsig-" + UniqueName() + L".bin";
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    using RevertFn = BOOL(WINAPI*)(PVOID);
    const HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
    const auto disable = reinterpret_cast<DisableFn>(
        reinterpret_cast<void*>(GetProcAddress(k32, "Wow64DisableWow64FsRedirection")));
    const auto revert = reinterpret_cast<RevertFn>(
        reinterpret_cast<void*>(GetProcAddress(k32, "Wow64RevertWow64FsRedirection")));
    BOOL wow64 = FALSE;
    if (!disable || !revert || !IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        GTEST_SKIP() << "not a WOW64 process";
    PVOID previous = nullptr;
    ASSERT_TRUE(disable(&previous));
    WriteFileBytes(path, "only in the real system folder");
    revert(previous);

    FileSignChecker::FileImage image{path, {}};
    const int32_t code = FileSignChecker::LoadFile(image);
    ASSERT_TRUE(disable(&previous));
    DeleteFileW(path.c_str());
    revert(previous);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(std::string(image.content.begin(), image.content.end()),
              "only in the real system folder");
}

} // namespace
