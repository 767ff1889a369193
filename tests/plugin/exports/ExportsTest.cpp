// The helpers the plug-in exports, called as other components call them:
// looked up in the framework's export table by identifier.
#include "plugin/frame/ExportIds.h"
#include "plugin/frame/MessageIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/fs/DirHelpers.h"
#include "common/UniqueHandle.h"
#include "tests/plugin/LinkedPluginFixture.h"

#include <cstring>

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

/// The pending renames as Windows records them: pairs of "\??\source" and
/// "\??\destination" ("!" first: replace; empty: delete).
std::vector<std::wstring> PendingRenames() {
    DWORD bytes = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ,
                       nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return {};
    std::wstring block(bytes / sizeof(wchar_t) + 1, L'\0');
    ::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ,
                   nullptr, block.data(), &bytes);
    std::vector<std::wstring> out;
    for (std::size_t i = 0; i + 1 < bytes / sizeof(wchar_t);) {
        std::wstring item(block.c_str() + i);
        out.push_back(item);
        i += item.size() + 1;
    }
    return out;
}

/// Puts the pending renames back as they were, so that no later start of
/// the prefix carries out what the tests recorded.
class PendingRenamesGuard {
public:
    PendingRenamesGuard() {
        DWORD bytes = 0;
        m_had = ::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames,
                               RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &bytes) == ERROR_SUCCESS;
        if (m_had) {
            m_value.resize(bytes);
            ::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames,
                           RRF_RT_REG_MULTI_SZ, nullptr, m_value.data(), &bytes);
        }
    }
    ~PendingRenamesGuard() {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key))
            return;
        if (m_had)
            ::RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, m_value.data(),
                             static_cast<DWORD>(m_value.size()));
        else
            ::RegDeleteValueW(key, kPendingRenames);
        ::RegCloseKey(key);
    }

private:
    bool m_had = false;
    std::vector<BYTE> m_value;
};

class ExportsTest : public LinkedPluginTest {
protected:
    template <typename F> F Export(std::uint32_t fid) {
        auto f = reinterpret_cast<F>(host.LookupExport(kPidWfsys, fid));
        EXPECT_NE(f, nullptr) << std::hex << fid;
        return f;
    }
    void TearDown() override {
        for (hOBJ s : m_strings)
            if (host.IsAlive(s))
                host.Close(s);
        LinkedPluginTest::TearDown();
    }
    hOBJ String(const std::wstring& text) {
        hOBJ s = nullptr;
        EXPECT_EQ(host.CreateQuick(host.Root(), &s, kIidString), errOK);
        if (!text.empty()) {
            EXPECT_EQ(host.SetWide(s, kPropFullName, text), errOK);
        }
        m_strings.push_back(s);
        return s;
    }
    std::wstring Text(hOBJ s) { return host.GetWide(s, kPropFullName).value_or(L"?"); }
    bool IsFolder(const std::wstring& path) {
        const DWORD a = ::GetFileAttributesW(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    /// The product answers its environment names with `folder`.
    void AnswerEnvironmentNames(const std::wstring& folder) {
        host.SetMessageHandler([this, folder](const host::SentMessage& m, void*,
                                              std::uint32_t*) -> Result {
            if (m.msgClass != kMsgClassProductEnv || m.msgId != kMsgResolveEnvNames || !m.context)
                return errNOT_FOUND;
            ++m_envQuestions;
            host.SetWide(m.context, kPropFullName, folder);
            return kAnswerResolved;
        });
    }

    using ObjectFn = Result (*)(hOBJ);
    using CopyFn = Result (*)(hOBJ, hOBJ, std::uint32_t);
    using TempNameFn = Result (*)(hOBJ, const void*, std::int32_t);
    using RunFn = Result (*)(hOBJ, hOBJ, hOBJ, std::uint32_t*, std::uint32_t);
    using FreeSpaceFn = Result (*)(hOBJ, std::uint64_t*);
    int m_envQuestions = 0;

private:
    std::vector<hOBJ> m_strings;
};

TEST_F(ExportsTest, AllThirteenArePublished) {
    for (std::uint32_t fid :
         {kFidCopyObjectFile, kFidMoveFileDelayed, kFidSetErrorMode, kFidMakeTempFileName,
          kFidCreateDirectoryRecursively, kFidStartProgram, kFidFindTempFolder, kFidLongPathName,
          kFidFreeSpace, kFidRemoveDir, kFidVlDeleteFile, kFidTotalBytesWritten, kFidUniversalName})
        EXPECT_NE(host.LookupExport(kPidWfsys, fid), nullptr) << std::hex << fid;
}

TEST_F(ExportsTest, CreateDirectoryRecursively) {
    struct Case {
        const wchar_t* path;  ///< below the test folder
        const wchar_t* exist; ///< made first, or null
        Result expected;
    };
    const Case cases[] = {
        {L"/a/b/", nullptr, 0},
        {L"/a/b/", nullptr, kFolderExisted}, // the second call finds it
        {L"\\c\\d\\e", L"\\c", 0},
        {L"\\f\\\\g", nullptr, 0}, // a doubled separator
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        if (c.exist)
            ::CreateDirectoryW((dir.path() + c.exist).c_str(), nullptr);
        std::wstring path = dir.path() + c.path;
        EXPECT_EQ(CreateDirectoryRecursively(path.data(), nullptr), c.expected);
        std::wstring expected = dir.path() + c.path;
        std::replace(expected.begin(), expected.end(), L'/', L'\\');
        EXPECT_TRUE(IsFolder(expected));
    }
    std::wstring empty;
    EXPECT_EQ(CreateDirectoryRecursively(empty.data(), nullptr), errPARAMETER_INVALID);
    std::wstring underFile = dir / L"file.txt";
    WriteFileBytes(underFile, "x");
    underFile += L"\\sub";
    EXPECT_LT(CreateDirectoryRecursively(underFile.data(), nullptr), 0);
}

TEST_F(ExportsTest, CreateFolderOfObjectMakesTheChain) {
    auto create = Export<ObjectFn>(kFidCreateDirectoryRecursively);
    const std::wstring folder = dir / L"x\\y\\z";
    EXPECT_EQ(create(String(folder)), errOK);
    EXPECT_TRUE(IsFolder(folder));
    EXPECT_EQ(create(nullptr), errPARAMETER_INVALID);
}

TEST_F(ExportsTest, FindTempFolderAskedOfTheProductFirst) {
    using FindFn = Result (*)(hOBJ, const void*, std::int32_t);
    auto find = Export<FindFn>(kFidFindTempFolder);
    AnswerEnvironmentNames(dir.path());
    hOBJ s = String(L"");
    EXPECT_EQ(find(s, L"sub", kCodePageUtf16), errOK);
    EXPECT_EQ(m_envQuestions, 1);
    EXPECT_EQ(Text(s), dir / L"sub");
    EXPECT_TRUE(IsFolder(dir / L"sub"));
    EXPECT_EQ(find(String(L""), L"sub", kCodePageUtf16), kFolderExisted);
    hOBJ io = NewIo(dir / L"any.txt");
    EXPECT_EQ(find(io, nullptr, 0), errPARAMETER_INVALID) << "only string objects";
}

TEST_F(ExportsTest, FindTempFolderFallsBackToTheSystemsTemporaryPath) {
    using FindFn = Result (*)(hOBJ, const void*, std::int32_t);
    auto find = Export<FindFn>(kFidFindTempFolder);
    hOBJ s = String(L"");
    const std::size_t before = host.Messages().size();
    EXPECT_EQ(find(s, nullptr, 0), kFolderExisted);
    EXPECT_EQ(host.Messages().size() - before, 3u) << "%Temp%, %TMP% and %TMPDIR% were asked";
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(Text(s), temp);
}

TEST_F(ExportsTest, MakeTempFileNameInAFolderOrInTheTemporaryFolder) {
    auto make = Export<TempNameFn>(kFidMakeTempFileName);
    hOBJ s = String(dir.path());
    ASSERT_EQ(make(s, "vl_", kCodePageSystem), errOK);
    const std::wstring made = Text(s);
    EXPECT_EQ(made.rfind(dir / L"vl_", 0), 0u) << "in the folder, with the prefix";
    EXPECT_TRUE(FileExists(made));

    AnswerEnvironmentNames(dir.path());
    hOBJ empty = String(L"");
    ASSERT_EQ(make(empty, L"wide", kCodePageUtf16), errOK);
    EXPECT_EQ(Text(empty).rfind(dir / L"wid", 0), 0u);
    EXPECT_TRUE(FileExists(Text(empty)));

    EXPECT_EQ(make(NewIo(made), "vl_", kCodePageSystem), errPARAMETER_INVALID);
    EXPECT_LT(make(String(dir / L"missing"), "vl_", kCodePageSystem), 0);
}

TEST_F(ExportsTest, CopyObjectFileOverwriteAndRefusal) {
    auto copy = Export<CopyFn>(kFidCopyObjectFile);
    const std::wstring source = dir / L"source.bin", target = dir / L"target.bin";
    WriteFileBytes(source, "new");
    WriteFileBytes(target, "old");
    EXPECT_EQ(copy(String(source), String(target), 0), errOBJECT_ALREADY_EXISTS);
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(copy(String(source), String(target), kCopyOverwrite), errOK);
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(copy(String(source), nullptr, 0), errPARAMETER_INVALID);
}

TEST_F(ExportsTest, CopyObjectFileThroughIoObjects) {
    auto copy = Export<CopyFn>(kFidCopyObjectFile);
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    struct Case {
        const wchar_t* name;
        std::string bytes;
    };
    const Case cases[] = {{L"empty", ""}, {L"small", "a few bytes"}, {L"big", big}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bytes.size() << " bytes");
        const std::wstring source = dir / (std::wstring(c.name) + L".src");
        const std::wstring target = dir / (std::wstring(c.name) + L".dst");
        WriteFileBytes(source, c.bytes);
        hOBJ io = OpenIo(source, kOpenExisting, fACCESS_READ);
        EXPECT_EQ(copy(io, String(target), 0), errOK);
        EXPECT_TRUE(FileExists(target));
        EXPECT_EQ(ReadFileBytes(target), c.bytes);
        Close(io);
    }
    // Onto an IO object open for writing: the destination is cut to size.
    const std::wstring longer = dir / L"longer.dst";
    WriteFileBytes(longer, std::string(5000, 'z'));
    hOBJ out = OpenIo(longer, kOpenExisting, fACCESS_READ | fACCESS_WRITE);
    EXPECT_EQ(copy(String(dir / L"small.src"), out, 0), errOK);
    Close(out);
    EXPECT_EQ(ReadFileBytes(longer), "a few bytes");
}

TEST_F(ExportsTest, CopyObjectFileAtRestartRecordsThePendingRename) {
    PendingRenamesGuard guard;
    auto copy = Export<CopyFn>(kFidCopyObjectFile);
    const std::wstring source = dir / L"update.bin", target = dir / L"in-use.bin";
    WriteFileBytes(source, "update");
    WriteFileBytes(target, "running");

    EXPECT_EQ(copy(String(source), String(target), kCopyAtRestart), errOBJECT_ALREADY_EXISTS);
    WIN32_FIND_DATAW data{};
    HANDLE find = ::FindFirstFileW((dir / L"vl_*").c_str(), &data);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "no temporary file without overwrite";
    if (find != INVALID_HANDLE_VALUE)
        ::FindClose(find);

    ASSERT_EQ(copy(String(source), String(target), kCopyAtRestart | kCopyOverwrite), errOK);
    EXPECT_EQ(ReadFileBytes(target), "running") << "replaced only at the restart";
    find = ::FindFirstFileW((dir / L"vl_*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    ::FindClose(find);
    const std::wstring temporary = dir / data.cFileName;
    EXPECT_EQ(ReadFileBytes(temporary), "update");
    const auto pending = PendingRenames();
    const auto at = std::find(pending.begin(), pending.end(), L"\\??\\" + temporary);
    ASSERT_NE(at, pending.end());
    ASSERT_NE(at + 1, pending.end());
    EXPECT_EQ(*(at + 1), L"!\\??\\" + target);
    EXPECT_EQ(copy(String(source), NewIo(target), kCopyAtRestart), errPARAMETER_INVALID);
}

TEST_F(ExportsTest, MoveFileDelayedNowAndAtRestart) {
    PendingRenamesGuard guard;
    auto move = Export<CopyFn>(kFidMoveFileDelayed);
    const std::wstring a = dir / L"a.txt", b = dir / L"b.txt", c = dir / L"c.txt";
    WriteFileBytes(a, "a");
    EXPECT_EQ(move(String(a), String(b), 0), errOK);
    EXPECT_FALSE(FileExists(a));
    EXPECT_EQ(ReadFileBytes(b), "a");
    WriteFileBytes(c, "c");
    EXPECT_EQ(move(String(c), String(b), 0), errOBJECT_ALREADY_EXISTS);
    EXPECT_EQ(move(String(dir / L"none.txt"), String(b), 0), errOBJECT_NOT_FOUND);

    EXPECT_EQ(move(String(c), String(b), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING),
              errOK);
    EXPECT_TRUE(FileExists(c)) << "moved only at the restart";
    EXPECT_EQ(move(String(L"\\\\?\\" + b), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), errOK);
    const auto pending = PendingRenames();
    auto at = std::find(pending.begin(), pending.end(), L"\\??\\" + c);
    ASSERT_NE(at, pending.end());
    EXPECT_EQ(*(at + 1), L"!\\??\\" + b);
    at = std::find(pending.begin(), pending.end(), L"\\??\\" + b);
    ASSERT_NE(at, pending.end()) << "the long-path prefix is left out";
    EXPECT_EQ(*(at + 1), L"") << "no destination: deleted at the restart";
    EXPECT_EQ(move(nullptr, String(b), 0), errPARAMETER_INVALID);
}

TEST_F(ExportsTest, RunProgramWaitsForTheExitCode) {
    auto run = Export<RunFn>(kFidStartProgram);
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    std::uint32_t code = 0;
    EXPECT_EQ(
        run(String(cmd), String(L"/c exit 7"), String(dir.path()), &code, kRunWait | kRunNoWindow),
        errOK);
    EXPECT_EQ(code, 7u);
    // The working folder is the one given.
    EXPECT_EQ(
        run(String(cmd), String(L"/c echo here> made.txt"), String(dir.path()), &code, kRunWait),
        errOK);
    EXPECT_TRUE(FileExists(dir / L"made.txt"));
    code = 0;
    EXPECT_EQ(run(String(dir / L"missing.exe"), String(L""), nullptr, &code, kRunWait),
              errOBJECT_NOT_FOUND);
    EXPECT_EQ(code, 0xFFFFFFFFu);
}

TEST_F(ExportsTest, GetFreeSpaceOfTheObjectsDrive) {
    auto space = Export<FreeSpaceFn>(kFidFreeSpace);
    std::uint64_t bytes = 0;
    ASSERT_EQ(space(String(dir / L"anything.txt"), &bytes), errOK);
    ULARGE_INTEGER expected{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW((dir.path().substr(0, 2) + L"\\").c_str(), &expected, nullptr,
                                      nullptr));
    EXPECT_GT(bytes, 0u);
    EXPECT_LE(bytes > expected.QuadPart ? bytes - expected.QuadPart : expected.QuadPart - bytes,
              std::uint64_t{64} << 20)
        << "the same drive, give or take what others wrote meanwhile";
    EXPECT_EQ(space(nullptr, &bytes), errPARAMETER_INVALID);
    EXPECT_EQ(space(String(L"Q:\\nowhere"), &bytes), errOBJECT_BAD_STATE);
}

TEST_F(ExportsTest, RemoveDirTakesEverythingBottomUp) {
    auto remove = Export<ObjectFn>(kFidRemoveDir);
    const std::wstring root = dir / L"tree";
    for (const wchar_t* folder : {L"", L"\\one", L"\\one\\two", L"\\empty"})
        ASSERT_TRUE(::CreateDirectoryW((root + folder).c_str(), nullptr));
    for (const wchar_t* file : {L"\\top.txt", L"\\one\\mid.txt", L"\\one\\two\\deep.txt"}) {
        WriteFileBytes(root + file, "x");
        ::SetFileAttributesW((root + file).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    EXPECT_EQ(remove(String(root)), errOK);
    EXPECT_EQ(::GetFileAttributesW(root.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(remove(String(root)), errOBJECT_NOT_FOUND);
}

TEST_F(ExportsTest, RemoveDirStopsAtAFileThatCannotBeDeleted) {
    auto remove = Export<ObjectFn>(kFidRemoveDir);
    const std::wstring root = dir / L"held";
    ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
    WriteFileBytes(root + L"\\sub\\locked.txt", "x");
    UniqueFile holder(::CreateFileW((root + L"\\sub\\locked.txt").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(remove(String(root)), errLOCKED);
    EXPECT_TRUE(FileExists(root + L"\\sub\\locked.txt"));
    EXPECT_TRUE(Traced("RemoveDir: file"));
    EXPECT_TRUE(Traced("RemoveDir: subdir"));
}

DWORD WINAPI NarrowVersion() {
    return 0x80000004; // bit 31: not an NT-family system
}

/// The plug-in loaded on a system without MoveFileEx and with 8-bit texts:
/// renames at the next start go to the Windows initialisation file.
class NarrowExportsTest : public ExportsTest {
protected:
    void SetUp() override {
        char windows[MAX_PATH] = {};
        ::GetWindowsDirectoryA(windows, MAX_PATH);
        m_winInit = std::string(windows) + "\\WinInit.Ini";
        m_hadWinInit = ::GetFileAttributesA(m_winInit.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (m_hadWinInit)
            m_savedWinInit = ReadFileBytes(std::wstring(m_winInit.begin(), m_winInit.end()));
        m_savedVersion = g_versionQuery;
        g_versionQuery = NarrowVersion;
        ExportsTest::SetUp();
    }
    void TearDown() override {
        ExportsTest::TearDown();
        g_versionQuery = m_savedVersion;
        const std::wstring path(m_winInit.begin(), m_winInit.end());
        if (m_hadWinInit)
            WriteFileBytes(path, m_savedWinInit);
        else
            ::DeleteFileW(path.c_str());
    }
    void WriteWinInit(const std::string& bytes) {
        WriteFileBytes(std::wstring(m_winInit.begin(), m_winInit.end()), bytes);
    }
    std::string WinInit() {
        return ReadFileBytes(std::wstring(m_winInit.begin(), m_winInit.end()));
    }
    static std::string Short(const std::wstring& path) {
        char out[MAX_PATH] = {};
        ::GetShortPathNameA(std::string(path.begin(), path.end()).c_str(), out, MAX_PATH);
        return out;
    }

private:
    std::string m_winInit, m_savedWinInit;
    bool m_hadWinInit = false;
    VersionQuery m_savedVersion = nullptr;
};

TEST_F(NarrowExportsTest, MoveFileDelayedWritesTheRenameSection) {
    auto move = Export<CopyFn>(kFidMoveFileDelayed);
    const std::wstring gone = dir / L"gone.txt", from = dir / L"from.txt", to = dir / L"to.txt";
    for (const std::wstring& f : {gone, from, to})
        WriteFileBytes(f, "x");
    WriteWinInit("[Other]\r\nkey=value\r\n");
    ASSERT_EQ(move(String(gone), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), errOK);
    EXPECT_EQ(WinInit(), "[Other]\r\nkey=value\r\n[Rename]\r\nNUL=" + Short(gone) + "\r\n");
    ASSERT_EQ(move(String(from), String(to), MOVEFILE_DELAY_UNTIL_REBOOT), errOK);
    EXPECT_EQ(WinInit(), "[Other]\r\nkey=value\r\n[Rename]\r\n" + Short(to) + "=" + Short(from) +
                             "\r\nNUL=" + Short(gone) + "\r\n")
        << "inserted right after the section line";
    EXPECT_TRUE(FileExists(gone) && FileExists(from)) << "nothing moves before the restart";
}

} // namespace
} // namespace zev::test
