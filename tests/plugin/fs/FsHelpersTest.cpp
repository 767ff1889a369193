// Identities, deletion and moves.
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/FileOps.h"
#include "plugin/fs/Impersonation.h"
#include "plugin/fs/PathForms.h"
#include "tests/plugin/LinkedPluginFixture.h"

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

class FsHelpersTest : public LinkedPluginTest {
protected:
    hOBJ NameObject(const std::wstring& path) {
        hOBJ string = nullptr;
        EXPECT_EQ(host.CreateQuick(host.Root(), &string, kIidString), errOK);
        EXPECT_EQ(host.SetWide(string, kPropFullName, path), errOK);
        return string;
    }
    static bool ThreadHasToken() {
        HANDLE token = nullptr;
        if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
            return false;
        ::CloseHandle(token);
        return true;
    }
};

TEST_F(FsHelpersTest, DeleteClearsProtectingAttributesFirst) {
    const std::wstring path = dir / L"ro.txt";
    WriteFileBytes(path, "x");
    ASSERT_TRUE(
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    auto exported =
        reinterpret_cast<Result (*)(hOBJ, std::uint32_t)>(host.LookupExport(kPidWfsys, 0xF207330E));
    ASSERT_EQ(exported, &VlDeleteFile);
    hOBJ name = NameObject(path);
    EXPECT_EQ(exported(name, kDeleteClearAttributes), errOK);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(Traced("Failed to call SetFillAttributes for file"));
    EXPECT_TRUE(Traced("File's attrs=3"));
    host.Close(name);
}

/// Stands in for a client identity without delete rights: Wine has no file
/// ACLs, so the refusal comes from this wrapper whenever the calling thread
/// impersonates.
FARPROC g_windowsDeleteFile = nullptr;
BOOL WINAPI DeleteRefusedToImpersonation(LPCWSTR name) {
    HANDLE token = nullptr;
    if (::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        ::CloseHandle(token);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return Fn<decltype(&::DeleteFileW)>(g_windowsDeleteFile)(name);
}

TEST_F(FsHelpersTest, DeleteRefusedToTheClientRunsUnderTheProcessIdentity) {
    const std::wstring path = dir / L"client.txt";
    WriteFileBytes(path, "x");
    hOBJ name = NameObject(path);
    g_windowsDeleteFile = g_kernel.fDeleteFile;
    g_kernel.fDeleteFile =
        reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&DeleteRefusedToImpersonation));
    ASSERT_TRUE(::ImpersonateSelf(SecurityImpersonation));
    const Result r = VlDeleteFile(name, 0);
    const bool tokenBack = ThreadHasToken();
    ::RevertToSelf();
    g_kernel.fDeleteFile = g_windowsDeleteFile;
    EXPECT_EQ(r, errOK);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(tokenBack) << "the client's identity is put back";
    EXPECT_TRUE(Traced("fDeleteFile first attempt failed, errACCESS_DENIED"));
    EXPECT_TRUE(Traced("fDeleteFile second attempt succeeded"));
    EXPECT_TRUE(Traced("fDeleteFile failed with err=0x00000000"));

    // Without impersonation there is nobody to fall back to.
    WriteFileBytes(path, "x");
    g_kernel.fDeleteFile = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(+[](LPCWSTR) -> BOOL {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }));
    EXPECT_EQ(VlDeleteFile(name, 0), errACCESS_DENIED);
    g_kernel.fDeleteFile = g_windowsDeleteFile;
    EXPECT_TRUE(Traced("no impersonation detected"));
    host.Close(name);
}

TEST_F(FsHelpersTest, DeleteOfMissingFileReportsNotFound) {
    hOBJ name = NameObject(dir / L"missing.txt");
    EXPECT_EQ(VlDeleteFile(name, 0), errOBJECT_NOT_FOUND);
    EXPECT_TRUE(Traced("fDeleteFile first attempt failed, errOBJECT_NOT_FOUND"));
    EXPECT_TRUE(Traced("fDeleteFile failed with err=0x800000c5"));
    host.Close(name);
}

TEST_F(FsHelpersTest, DeleteUsesAGrownNameBufferAndFreesIt) {
    ASSERT_TRUE(
        ::CreateDirectoryW((L"\\\\?\\" + (dir / std::wstring(200, L'd'))).c_str(), nullptr));
    const std::wstring path =
        L"\\\\?\\" + dir.path() + L"\\" + std::wstring(200, L'd') + L"\\" + std::wstring(120, L'f');
    WriteFileBytes(path, "x");
    hOBJ name = NameObject(path);
    const std::size_t blocks = host.LiveBlocks();
    EXPECT_EQ(VlDeleteFile(name, 0), errOK);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(host.LiveBlocks(), blocks);
    host.Close(name);
}

TEST_F(FsHelpersTest, MoveReplacesOrRefuses) {
    const std::wstring a = dir / L"a.txt", b = dir / L"b.txt";
    WriteFileBytes(a, "aaa");
    WriteFileBytes(b, "bbb");
    std::uint32_t error = 0xdeadbeef;
    EXPECT_EQ(MoveOrCopyFile(host.Root(), a.c_str(), b.c_str(), false, &error),
              errOBJECT_ALREADY_EXISTS);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(Traced("MoveFileEx returns error 183"));
    EXPECT_EQ(MoveOrCopyFile(host.Root(), a.c_str(), b.c_str(), true, &error), errOK);
    EXPECT_EQ(error, 0u);
    EXPECT_FALSE(FileExists(a));
    EXPECT_EQ(ReadFileBytes(b), "aaa");
}

TEST_F(FsHelpersTest, MoveWithoutMoveFileExSameDriveAndAcrossDrives) {
    const FARPROC saved = g_kernel.fMoveFileEx;
    g_kernel.fMoveFileEx = nullptr;
    const std::wstring a = dir / L"a.txt", b = dir / L"b.txt";
    WriteFileBytes(a, "one");
    WriteFileBytes(b, "old");
    std::uint32_t error = 0;
    // Same drive: an existing destination is deleted and the move repeated.
    EXPECT_EQ(MoveOrCopyFile(host.Root(), a.c_str(), b.c_str(), true, &error), errOK);
    EXPECT_EQ(ReadFileBytes(b), "one");

    // Across drives (Z: is the Unix root under Wine): copy, then delete.
    wchar_t temp[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring other = L"Z:\\tmp\\wfsys-move-" + UniqueName() + L".txt";
    if (!IsSameDrive(temp, other.c_str())) {
        WriteFileBytes(other, "present");
        EXPECT_EQ(MoveOrCopyFile(host.Root(), b.c_str(), other.c_str(), false, &error),
                  errOBJECT_ALREADY_EXISTS);
        EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
        EXPECT_TRUE(Traced("CopyFile returns error 80"));
        EXPECT_TRUE(FileExists(b));
        EXPECT_EQ(MoveOrCopyFile(host.Root(), b.c_str(), other.c_str(), true, &error), errOK);
        EXPECT_FALSE(FileExists(b));
        EXPECT_EQ(ReadFileBytes(other), "one");
        ::DeleteFileW(other.c_str());
    }
    g_kernel.fMoveFileEx = saved;
}

TEST_F(FsHelpersTest, ImpersonationFromAThreadWithoutTokenEndsWithoutToken) {
    ASSERT_FALSE(ThreadHasToken());
    {
        CProcessImpersonizer impersonizer(host.Root());
        ASSERT_TRUE(impersonizer.ImpersonateByHandle(::GetCurrentProcess()));
        EXPECT_TRUE(ThreadHasToken());
        EXPECT_TRUE(Traced("ImpersonateByHandle: OpenThreadToken failed, win_err = 0x000003F0"));
        impersonizer.Revert();
        EXPECT_FALSE(ThreadHasToken()) << "reverting must not leave a copy of the process token";
        EXPECT_TRUE(impersonizer.ImpersonateByHandle(::GetCurrentProcess()));
    } // the destructor reverts
    EXPECT_FALSE(ThreadHasToken());
}

TEST_F(FsHelpersTest, ImpersonationPutsBackAPreviousThreadToken) {
    ASSERT_TRUE(::ImpersonateSelf(SecurityImpersonation));
    {
        CProcessImpersonizer impersonizer(host.Root());
        ASSERT_TRUE(impersonizer.ImpersonateByHandle(::GetCurrentProcess()));
    }
    EXPECT_TRUE(ThreadHasToken()) << "the thread's own token comes back";
    ::RevertToSelf();
}

TEST_F(FsHelpersTest, ProcessByName) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe = self;
    exe = exe.substr(exe.find_last_of(L'\\') + 1);
    for (wchar_t& c : exe)
        c = static_cast<wchar_t>(::towupper(c)); // names compare without regard to case
    HANDLE found = GetProcessHandleByName(host.Root(), exe.c_str());
    ASSERT_NE(found, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Traced("OpenProcess(pid = "));
    ::CloseHandle(found);

    const std::wstring missing = L"no-such-" + UniqueName() + L".exe";
    EXPECT_EQ(GetProcessHandleByName(host.Root(), missing.c_str()), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Traced("failed to open any process with name"));
    CProcessImpersonizer impersonizer(host.Root());
    EXPECT_FALSE(impersonizer.ImpersonateByProcessName(missing.c_str()));
    EXPECT_FALSE(impersonizer.ImpersonateByProcessName(L""));
    EXPECT_FALSE(ThreadHasToken());
}

} // namespace
} // namespace zev::test
