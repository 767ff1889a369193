// Closing IO objects: delete on close with its retries and outcome
// messages, and the reopen data by which an object is recreated.
#include "plugin/frame/MessageIds.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/io/IoClose.h"
#include "tests/plugin/FileHolder.h"
#include "tests/plugin/LinkedPluginFixture.h"

#include <cstring>

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

/// A DeleteFileW stand-in that refuses every call with one error and
/// counts the calls.
DWORD g_refusal = 0;
int g_deleteCalls = 0;
BOOL WINAPI RefusingDelete(LPCWSTR) {
    ++g_deleteCalls;
    ::SetLastError(g_refusal);
    return FALSE;
}
class DeleteRefusal {
public:
    explicit DeleteRefusal(DWORD error) : m_saved(g_kernel.fDeleteFile) {
        g_refusal = error;
        g_deleteCalls = 0;
        g_kernel.fDeleteFile = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RefusingDelete));
    }
    ~DeleteRefusal() { g_kernel.fDeleteFile = m_saved; }

private:
    FARPROC m_saved;
};

class IoCloseTest : public LinkedPluginTest {
protected:
    std::wstring NewFile(const std::wstring& stem, const std::string& bytes = "data") {
        const std::wstring path = dir / (stem + L"-" + UniqueName() + L".txt");
        WriteFileBytes(path, bytes);
        return path;
    }
    /// The outcome messages of delete on close: (id, code).
    std::vector<std::pair<std::uint32_t, Result>> Outcomes() const {
        std::vector<std::pair<std::uint32_t, Result>> out;
        for (const host::SentMessage& m : host.Messages())
            if (m.msgClass == kMsgClassIo &&
                (m.msgId == kMsgIoDeletedOnClose || m.msgId == kMsgIoDeleteOnCloseFailed)) {
                Result code = 0;
                if (m.data.size() == sizeof code)
                    std::memcpy(&code, m.data.data(), sizeof code);
                out.emplace_back(m.msgId, code);
            }
        return out;
    }
    Result CloseResult(hOBJ obj) {
        const Result r = ObjectClose(obj); // the close's own result, which the host hides
        Close(obj);
        return r;
    }
};

TEST_F(IoCloseTest, DeletesTheFileOnCloseAndSaysSo) {
    const std::wstring path = NewFile(L"plain");
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ);
    ASSERT_EQ(host.SetDWord(obj, kPropDeleteOnClose, 1), errOK);
    EXPECT_TRUE(FileExists(path)) << "deleted before the close";
    EXPECT_EQ(CloseResult(obj), errOK);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(Outcomes(), (std::vector<std::pair<std::uint32_t, Result>>{{1, errOK}}));
    EXPECT_TRUE(Traced("has been deleted on close"));
}

TEST_F(IoCloseTest, ReadOnlyFileIsDeletedAfterItsAttributeIsCleared) {
    const std::wstring path = NewFile(L"readonly");
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ);
    Data(obj)->saved_attributes = INVALID_FILE_ATTRIBUTES; // learnt at close, not at the open
    ASSERT_EQ(host.SetDWord(obj, kPropDeleteOnClose, 1), errOK);
    EXPECT_EQ(CloseResult(obj), errOK);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(Outcomes(), (std::vector<std::pair<std::uint32_t, Result>>{{1, errOK}}));
}

TEST_F(IoCloseTest, FileHeldByAnotherProcessEndsTheDeleteAfterOnePass) {
    const std::wstring path = NewFile(L"held");
    FileHeldByAnotherProcess holder(path);
    ASSERT_TRUE(holder.Holding());
    hOBJ obj = NewIo(path, kOpenExisting, fACCESS_READ | fACCESS_NO_OPEN);
    ASSERT_EQ(host.CreateDone(obj), errOK);
    ASSERT_EQ(host.SetDWord(obj, kPropDeleteOnClose, 1), errOK);
    EXPECT_EQ(CloseResult(obj), errDELETE_ON_CLOSE_FAILED);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(Outcomes(), (std::vector<std::pair<std::uint32_t, Result>>{{2, errLOCKED}}));
    EXPECT_TRUE(Traced("cannot be deleted on close. Win error is -- 32"));
}

TEST_F(IoCloseTest, DeleteRefusedEveryTimeRunsAllPassesThenReportsAccessDenied) {
    const std::wstring path = NewFile(L"refused");
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ);
    ASSERT_EQ(host.SetDWord(obj, kPropDeleteOnClose, 1), errOK);
    // The last resort, a delete-on-close open under the process's identity
    // (the elevated token object leaves one on the thread), meets this handle.
    UniqueFile other(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(other);
    Result r = 0;
    {
        DeleteRefusal refusal(ERROR_ACCESS_DENIED);
        r = CloseResult(obj);
        EXPECT_EQ(g_deleteCalls, 15) << "one delete per pass";
    }
    other.reset();
    EXPECT_EQ(r, errDELETE_ON_CLOSE_FAILED);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(Outcomes(), (std::vector<std::pair<std::uint32_t, Result>>{{2, errACCESS_DENIED}}));
    EXPECT_TRUE(Traced("prepareElevatedToken")) << "the elevated identity is tried once";
}

TEST_F(IoCloseTest, RefusedDeleteFallsBackToTheProcessIdentityOfAnImpersonatingThread) {
    const std::wstring path = NewFile(L"system");
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ);
    ASSERT_EQ(host.SetDWord(obj, kPropDeleteOnClose, 1), errOK);
    ASSERT_TRUE(::ImpersonateSelf(SecurityImpersonation));
    Result r = 0;
    {
        DeleteRefusal refusal(ERROR_ACCESS_DENIED);
        r = CloseResult(obj);
    }
    HANDLE token = nullptr;
    const bool stillImpersonating =
        ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
    if (token)
        ::CloseHandle(token);
    ::RevertToSelf();
    EXPECT_TRUE(stillImpersonating) << "the thread's token is put back";
    EXPECT_EQ(r, errOK);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(Traced("has been deleted on close (system)"));
    EXPECT_EQ(Outcomes(), (std::vector<std::pair<std::uint32_t, Result>>{{1, errOK}}));
}

TEST_F(IoCloseTest, TemporaryOpenLeavesTheDeleteToTheSystem) {
    const std::wstring path = NewFile(L"temporary");
    hOBJ obj = OpenIo(path, kOpenExisting | kOpenTemporary, fACCESS_READ);
    ASSERT_EQ(host.SetDWord(obj, kPropDeleteOnClose, 1), errOK);
    {
        DeleteRefusal refusal(ERROR_ACCESS_DENIED);
        EXPECT_EQ(CloseResult(obj), errOK);
        EXPECT_EQ(g_deleteCalls, 0);
    }
    EXPECT_FALSE(FileExists(path));
    const bool verbose = std::any_of(host.Traces().begin(), host.Traces().end(), [](auto& l) {
        return l.level == 700 && l.text.find("has been deleted on close") != std::string::npos;
    });
    EXPECT_TRUE(verbose);
}

TEST_F(IoCloseTest, ClosePutsBackAttributesTheOpenCleared) {
    const std::wstring path = NewFile(L"restore");
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ);
    Data(obj)->saved_attributes = FILE_ATTRIBUTE_HIDDEN;
    Data(obj)->restore_attributes = 1;
    Close(obj);
    EXPECT_TRUE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// ---- reopen data --------------------------------------------------------------

std::vector<unsigned char> ReopenData(host::Host& host, hOBJ obj) {
    std::uint32_t count = 0;
    EXPECT_EQ(host.Get(obj, &count, kPropReopenData, nullptr, 0), errOK);
    std::vector<unsigned char> data(count);
    EXPECT_EQ(host.Get(obj, &count, kPropReopenData, data.data(), count), errOK);
    data.resize(count);
    return data;
}

TEST_F(IoCloseTest, ReopenDataRecreatesTheObjectByItsShortName) {
    const std::wstring path = NewFile(L"a rather long reopen name", "reopened");
    hOBJ first = OpenIo(path, kOpenExisting, fACCESS_READ);
    Data(first)->reopen_by_short_name = 1;
    const std::vector<unsigned char> data = ReopenData(host, first);
    ASSERT_GT(data.size(), 2u);
    EXPECT_EQ(data[0], 0) << "kind 0: the short full name follows";
    std::wstring name(reinterpret_cast<const wchar_t*>(data.data() + 1),
                      (data.size() - 1) / sizeof(wchar_t));
    name.resize(std::wcslen(name.c_str()));
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_TRUE(::GetShortPathNameW(path.c_str(), shortName, MAX_PATH));
    EXPECT_EQ(name, shortName);
    Close(first);

    hOBJ second = NewIo(L"", kOpenExisting, fACCESS_READ);
    std::uint32_t count = 0;
    ASSERT_EQ(host.Set(second, &count, kPropReopenData, data.data(),
                       static_cast<std::uint32_t>(data.size())),
              errOK);
    EXPECT_EQ(Data(second)->reopen_by_short_name, 1u);
    ASSERT_EQ(host.CreateDone(second), errOK);
    char buffer[16] = {};
    std::uint32_t read = 0;
    ASSERT_GE(ReadAt(second, 0, buffer, sizeof buffer, &read), 0);
    EXPECT_EQ(std::string(buffer, read), "reopened");
    EXPECT_TRUE(Traced("set reopen data succeeded (int name)"));
}

TEST_F(IoCloseTest, ReopenDataForms) {
    const std::wstring path = NewFile(L"forms");
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ);
    const std::vector<unsigned char> longForm = ReopenData(host, obj);
    std::wstring text(reinterpret_cast<const wchar_t*>(longForm.data()),
                      longForm.size() / sizeof(wchar_t));
    EXPECT_EQ(text.c_str(), host.GetWide(obj, ioprop::kLongFullName).value_or(L"?"))
        << "no kind byte: the long full name";

    // Kind 1 makes an object that opens no file, whatever its access was.
    hOBJ other = NewIo(L"", kOpenExisting, fACCESS_READ | fACCESS_WRITE);
    std::vector<unsigned char> data{1};
    data.insert(data.end(), longForm.begin(), longForm.end());
    std::uint32_t count = 0;
    ASSERT_EQ(host.Set(other, &count, kPropReopenData, data.data(),
                       static_cast<std::uint32_t>(data.size())),
              errOK);
    EXPECT_EQ(Data(other)->access_mode, fACCESS_NO_OPEN);
    EXPECT_EQ(ReopenData(host, other)[0], 1);
    EXPECT_EQ(host.Set(other, &count, kPropReopenData, nullptr, 0), errPARAMETER_INVALID);
}

TEST_F(IoCloseTest, ReopenDataOfASubstitutedDriveCarriesItsTarget) {
    constexpr wchar_t kDrive[] = L"Q:";
    if (!::DefineDosDeviceW(0, kDrive, dir.path().c_str()))
        GTEST_SKIP() << "no substituted drive here: " << ::GetLastError();
    struct Undefine {
        const wchar_t* drive;
        ~Undefine() { ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive, nullptr); }
    } undefine{kDrive};
    // An object that opens no file: Wine does not open files through a
    // drive defined this way, and the reopen data needs no open.
    hOBJ obj = NewIo(std::wstring(kDrive) + L"\\subst.txt", kOpenExisting, fACCESS_NO_OPEN);
    ASSERT_EQ(host.CreateDone(obj), errOK);
    const std::vector<unsigned char> data = ReopenData(host, obj);
    ASSERT_GT(data.size(), 1u);
    EXPECT_EQ(data[0], 1) << "kind 1: opens no file";
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data() + 1),
                      (data.size() - 1) / sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    std::wstring expected = dir / L"subst.txt";
    ::CharLowerW(expected.data());
    std::wstring got = text;
    ::CharLowerW(got.data());
    EXPECT_EQ(got, expected) << "the target replaces the drive letter";
    EXPECT_EQ(text.substr(0, expected.size() - 10), expected.substr(0, expected.size() - 10))
        << "the target is in lower case";
}

} // namespace
} // namespace zev::test
