// The OS object: creating IO and ObjPtr objects by name, copying, renaming
// and deleting objects given as string, IO and ObjPtr objects.
#include "plugin/frame/SystemFunctions.h"
#include "tests/plugin/LinkedPluginFixture.h"

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

constexpr std::uint32_t kPtrCreate = 1, kIOCreate = 2, kCopy = 3, kRename = 4, kDelete = 5;

class OsObjectTest : public LinkedPluginTest {
protected:
    void SetUp() override {
        LinkedPluginTest::SetUp();
        ASSERT_EQ(host.Create(host.Root(), &os, IID_OS, kPidWfsys), errOK);
        ASSERT_EQ(host.CreateDone(os), errOK);
    }
    void TearDown() override {
        for (hOBJ obj : m_owned)
            if (host.IsAlive(obj))
                host.Close(obj);
        if (host.IsAlive(os))
            host.Close(os);
        LinkedPluginTest::TearDown();
    }
    hOBJ String(const std::wstring& text) {
        hOBJ s = nullptr;
        EXPECT_EQ(host.CreateQuick(host.Root(), &s, kIidString), errOK);
        EXPECT_EQ(host.SetWide(s, kPropFullName, text), errOK);
        m_owned.push_back(s);
        return s;
    }
    hOBJ Own(hOBJ obj) {
        m_owned.push_back(obj);
        return obj;
    }
    std::uint32_t WinError() { return host.GetDWord(os, kPropWinError).value_or(0xFFFFFFFF); }
    std::wstring File(const std::wstring& stem, const std::string& bytes) {
        const std::wstring path = dir / (stem + L".txt");
        WriteFileBytes(path, bytes);
        return path;
    }

    hOBJ os = nullptr;

private:
    std::vector<hOBJ> m_owned;
};

TEST_F(OsObjectTest, ConstantProperties) {
    EXPECT_EQ(host.GetWide(os, kPropName).value_or(L""), L"Win32 native file system");
    EXPECT_EQ(host.GetDWord(os, kPropCodePage), 0xFFFFFFF4u);
    EXPECT_EQ(host.GetDWord(os, kPropVersion), 2u);
}

TEST_F(OsObjectTest, IOCreateOpensTheNamedFileOrPassesOnTheChildsError) {
    const std::wstring path = File(L"io", "through the object system");
    hOBJ io = nullptr;
    ASSERT_EQ(host.CallMethod(os, kIOCreate, &io, String(path), fACCESS_READ, kOpenExisting),
              errOK);
    ASSERT_NE(io, nullptr);
    Own(io);
    EXPECT_EQ(host.GetWide(io, kPropFullName).value_or(L""), path);
    EXPECT_EQ(Size(io), 25u);

    hOBJ missing = reinterpret_cast<hOBJ>(1);
    EXPECT_EQ(host.CallMethod(os, kIOCreate, &missing, String(dir / L"missing.txt"), fACCESS_READ,
                              kOpenExisting),
              errOBJECT_NOT_FOUND);
    EXPECT_EQ(missing, nullptr) << "no object delivered";
    EXPECT_EQ(WinError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(OsObjectTest, CopyByStringAndIoObjects) {
    const std::wstring source = File(L"source", "copied bytes");
    const std::wstring target = File(L"target", "old");
    EXPECT_EQ(host.CallMethod(os, kCopy, String(source), String(target), std::uint32_t{0}),
              errOBJECT_ALREADY_EXISTS);
    EXPECT_EQ(WinError(), static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadFileBytes(target), "old");

    hOBJ io = OpenIo(source, kOpenExisting, fACCESS_READ);
    EXPECT_EQ(host.CallMethod(os, kCopy, io, String(target), std::uint32_t{1}), errOK);
    EXPECT_EQ(WinError(), 0u);
    EXPECT_EQ(ReadFileBytes(target), "copied bytes");
}

TEST_F(OsObjectTest, RenameByStringObjects) {
    const std::wstring source = File(L"from", "moved");
    const std::wstring target = File(L"to", "kept");
    EXPECT_EQ(host.CallMethod(os, kRename, String(source), String(target), std::uint32_t{0}),
              errOBJECT_ALREADY_EXISTS);
    EXPECT_EQ(ReadFileBytes(target), "kept");
    EXPECT_EQ(host.CallMethod(os, kRename, String(source), String(target), std::uint32_t{1}),
              errOK);
    EXPECT_FALSE(FileExists(source));
    EXPECT_EQ(ReadFileBytes(target), "moved");
}

TEST_F(OsObjectTest, DeleteOfAnIoObjectWaitsForItsClose) {
    const std::wstring path = File(L"deferred", "x");
    hOBJ io = OpenIo(path, kOpenExisting, fACCESS_READ);
    EXPECT_EQ(host.CallMethod(os, kDelete, io), errOK);
    EXPECT_TRUE(FileExists(path));
    Close(io);
    EXPECT_FALSE(FileExists(path));
}

TEST_F(OsObjectTest, DeleteByNameAndItsFailure) {
    const std::wstring path = File(L"named", "x");
    EXPECT_EQ(host.CallMethod(os, kDelete, String(path)), errOK);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(host.CallMethod(os, kDelete, String(path)), errOBJECT_NOT_FOUND);
    EXPECT_EQ(WinError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(OsObjectTest, MissingCopyFunction) {
    const FARPROC saved = g_kernel.fCopyFile;
    g_kernel.fCopyFile = nullptr;
    const Result r = host.CallMethod(os, kCopy, String(L"C:\\a"), String(L"C:\\b"), 0u);
    g_kernel.fCopyFile = saved;
    EXPECT_EQ(r, errFUNCTION_NOT_FOUND);
    EXPECT_TRUE(Traced("CopyFile export pointer cannot be imported from the Windows kernel"));
}

// ---- ObjPtr objects -------------------------------------------------------------

constexpr std::uint32_t kPtrNext = 7;

class OsPointerTest : public OsObjectTest {
protected:
    /// A pointer on the test folder from the OS object, advanced `steps` times.
    hOBJ Pointer(int steps = 0) {
        hOBJ ptr = nullptr;
        EXPECT_EQ(host.CallMethod(os, kPtrCreate, &ptr, String(dir.path())), errOK);
        if (!ptr)
            return nullptr;
        Own(ptr);
        for (int i = 0; i < steps; ++i)
            EXPECT_EQ(host.CallMethod(ptr, kPtrNext), errOK);
        return ptr;
    }
    std::wstring EntryName(hOBJ ptr) { return host.GetWide(ptr, kPropName).value_or(L"<none>"); }
};

TEST_F(OsPointerTest, PtrCreateOnAFolderAndAsACloneOfAPointer) {
    File(L"only", "1");
    hOBJ ptr = Pointer();
    ASSERT_NE(ptr, nullptr);
    const std::wstring folder = host.GetWide(ptr, kPropFolder).value_or(L"");
    EXPECT_TRUE(folder.ends_with(dir.path() + L"\\")) << "the separator is appended";
    EXPECT_EQ(host.CallMethod(ptr, kPtrNext), errOK);
    EXPECT_EQ(EntryName(ptr), L"only.txt");

    hOBJ clone = nullptr;
    ASSERT_EQ(host.CallMethod(os, kPtrCreate, &clone, ptr), errOK);
    Own(clone);
    EXPECT_NE(clone, ptr);
    EXPECT_EQ(EntryName(clone), L"only.txt") << "at the same position";
}

TEST_F(OsPointerTest, CopyRenameAndDeleteTheEntryAPointerStandsOn) {
    File(L"a", "first");
    hOBJ ptr = Pointer(1);
    ASSERT_EQ(EntryName(ptr), L"a.txt");
    EXPECT_EQ(host.CallMethod(os, kCopy, ptr, String(dir / L"copy.txt"), 0u), errOK);
    EXPECT_EQ(ReadFileBytes(dir / L"copy.txt"), "first");
    EXPECT_EQ(host.CallMethod(os, kRename, ptr, String(dir / L"b.txt"), 0u), errOK);
    EXPECT_FALSE(FileExists(dir / L"a.txt"));
    EXPECT_EQ(ReadFileBytes(dir / L"b.txt"), "first");
}

TEST_F(OsPointerTest, DeleteOfTheLastEntryLeavesThePointerAfterTheEnd) {
    File(L"last", "x");
    hOBJ ptr = Pointer(1);
    ASSERT_EQ(EntryName(ptr), L"last.txt");
    EXPECT_EQ(host.CallMethod(os, kDelete, ptr), errOK);
    EXPECT_FALSE(FileExists(dir / L"last.txt"));
    EXPECT_LT(host.CallMethod(ptr, kPtrNext), 0) << "nothing after the end";
}

TEST_F(OsPointerTest, DeleteOfAFolderEntryFailsAndKeepsThePosition) {
    ASSERT_TRUE(::CreateDirectoryW((dir / L"folder").c_str(), nullptr));
    hOBJ ptr = Pointer(1);
    ASSERT_EQ(EntryName(ptr), L"folder");
    EXPECT_LT(host.CallMethod(os, kDelete, ptr), 0);
    EXPECT_NE(WinError(), 0u);
    EXPECT_EQ(EntryName(ptr), L"folder");
    EXPECT_TRUE(::GetFileAttributesW((dir / L"folder").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace
} // namespace zev::test
