// Name storage of IO objects and the name-form getters.
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/PathForms.h"
#include "tests/plugin/LinkedPluginFixture.h"

#include <cwctype>

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

class IoNamesTest : public LinkedPluginTest {
protected:
    std::wstring Get(hOBJ obj, std::uint32_t id) { return host.GetWide(obj, id).value_or(L"?"); }
    /// The stored text with its prefix (the device form of a plain drive).
    std::wstring Stored(hOBJ obj) {
        return std::wstring(static_cast<const wchar_t*>(Data(obj)->name_buffer));
    }
};

TEST_F(IoNamesTest, SettersSplitPrefixAndNormalise) {
    struct Row {
        std::uint32_t openMode;
        const wchar_t* full;
        const wchar_t* stored;
        const wchar_t* folder;
        const wchar_t* file;
        const wchar_t* fullBack;
    };
    const Row rows[] = {
        {1, L"C:\\dir\\file.txt", L"\\\\?\\C:\\dir\\file.txt", L"C:\\dir\\", L"file.txt",
         L"C:\\dir\\file.txt"},
        {1, L"\\\\server\\share\\f.txt", L"\\\\?\\UNC\\server\\share\\f.txt",
         L"\\\\server\\share\\", L"f.txt", L"\\\\server\\share\\f.txt"},
        {1, L"\\\\?\\C:\\x\\y", L"\\\\?\\C:\\x\\y", L"C:\\x\\", L"y", L"C:\\x\\y"},
        {1, L"C:\\a//b\\\\\\c/d.txt", L"\\\\?\\C:\\a\\b\\c\\d.txt", L"C:\\a\\b\\c\\", L"d.txt",
         L"C:\\a\\b\\c\\d.txt"},
        {1, L"rel\\f", L"rel\\f", L"rel\\", L"f", L"rel\\f"},
        {1, L"justname", L"justname", L"", L"justname", L"justname"},
        {kOpenExisting | kOpenNoLongPrefix, L"\\\\server//share\\f", L"\\\\server\\share\\f",
         L"\\\\server\\share\\", L"f", L"\\\\server\\share\\f"},
        {kOpenExisting | kOpenNoLongPrefix, L"C:\\d\\f", L"C:\\d\\f", L"C:\\d\\", L"f",
         L"C:\\d\\f"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
        hOBJ obj = NewIo(row.full, row.openMode);
        EXPECT_EQ(Stored(obj), row.stored);
        EXPECT_EQ(Get(obj, kPropFolder), row.folder);
        EXPECT_EQ(Get(obj, kPropName), row.file);
        EXPECT_EQ(Get(obj, kPropFullName), row.fullBack);
        EXPECT_EQ(Get(obj, ioprop::kFullNameAlias), row.fullBack);
        Close(obj);
    }
}

TEST_F(IoNamesTest, PartsReplaceEachOther) {
    hOBJ obj = NewIo(L"C:\\one\\f.txt");
    // A text without separator replaces the file name only.
    EXPECT_EQ(host.SetWide(obj, kPropName, L"g.txt"), errOK);
    EXPECT_EQ(Get(obj, kPropFullName), L"C:\\one\\g.txt");
    // A text ending with a separator replaces the folder only.
    EXPECT_EQ(host.SetWide(obj, kPropFullName, L"D:\\two\\"), errOK);
    EXPECT_EQ(Get(obj, kPropFullName), L"D:\\two\\g.txt");
    // The folder setter appends the separator.
    EXPECT_EQ(host.SetWide(obj, kPropFolder, L"\\\\srv\\sh\\sub"), errOK);
    EXPECT_EQ(Get(obj, kPropFullName), L"\\\\srv\\sh\\sub\\g.txt");
    EXPECT_EQ(Stored(obj), L"\\\\?\\UNC\\srv\\sh\\sub\\g.txt");
    // An empty folder drops the prefix and keeps the file name.
    EXPECT_EQ(host.SetWide(obj, kPropFolder, L""), errOK);
    EXPECT_EQ(Stored(obj), L"g.txt");
    // An empty name empties the file name.
    EXPECT_EQ(host.SetWide(obj, kPropFullName, L"C:\\x\\y"), errOK);
    EXPECT_EQ(host.SetWide(obj, kPropName, L""), errOK);
    EXPECT_EQ(Get(obj, kPropFullName), L"C:\\x\\");
}

TEST_F(IoNamesTest, PreprocessingStripsNativePrefixAndExpandsVariables) {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"WFSYS_TEST_DIR", L"C:\\expanded"));
    hOBJ obj = NewIo(L"");
    ASSERT_EQ(host.SetDWord(obj, ioprop::kPreprocessNames, 1), errOK);
    EXPECT_EQ(host.SetWide(obj, kPropFullName, L"\\??\\%WFSYS_TEST_DIR%\\f.txt"), errOK);
    EXPECT_EQ(Get(obj, kPropFullName), L"C:\\expanded\\f.txt");
    EXPECT_EQ(Stored(obj), L"\\\\?\\C:\\expanded\\f.txt");
    // Without preprocessing the text is taken as it is.
    hOBJ plain = NewIo(L"%WFSYS_TEST_DIR%\\f.txt");
    EXPECT_EQ(Get(plain, kPropFullName), L"%WFSYS_TEST_DIR%\\f.txt");
    ::SetEnvironmentVariableW(L"WFSYS_TEST_DIR", nullptr);
}

TEST_F(IoNamesTest, LimitsAndOddLengths) {
    hOBJ obj = NewIo(L"C:\\d\\f");
    std::uint32_t count = 0;
    // Asked for its limit.
    EXPECT_EQ(host.Set(obj, &count, kPropFullName, nullptr, 0), errOK);
    EXPECT_EQ(count, 0x7FFFu);
    // An odd byte length.
    const wchar_t text[] = L"C:\\odd";
    EXPECT_EQ(host.Set(obj, &count, kPropFullName, text, 5), errPARAMETER_INVALID);
    EXPECT_EQ(Get(obj, kPropFullName), L"C:\\d\\f");
    // A file name that makes the whole name pass 510 bytes: prefix 8 + folder 10 + name + 2.
    const std::wstring fits(245, L'n'), over(246, L'n');
    EXPECT_EQ(host.SetWide(obj, kPropName, fits), errOK);
    EXPECT_EQ(host.SetWide(obj, kPropName, over), errBUFFER_TOO_SMALL);
    EXPECT_EQ(Get(obj, kPropName), fits) << "nothing is stored beyond the limit";
    // A full name up to 0x7FFF bytes; one character more is refused.
    const std::wstring longFull = L"C:\\" + std::wstring(16378, L'x') + L"\\f";
    EXPECT_EQ(host.SetWide(obj, kPropFullName, longFull), errBUFFER_TOO_SMALL);
    const std::wstring maxFull = L"C:\\" + std::wstring(16373, L'x') + L"\\f";
    EXPECT_EQ(host.SetWide(obj, kPropFullName, maxFull), errOK);
    EXPECT_EQ(Get(obj, kPropFullName), maxFull);
}

TEST_F(IoNamesTest, GettersReportSizesAndShortages) {
    hOBJ obj = NewIo(L"C:\\dir\\file.txt");
    std::uint32_t count = 0;
    wchar_t small[4];
    EXPECT_EQ(host.Get(obj, &count, kPropFullName, small, sizeof small), errBUFFER_TOO_SMALL);
    EXPECT_EQ(count, sizeof(L"C:\\dir\\file.txt"));
    EXPECT_EQ(host.Get(obj, &count, kPropName, small, sizeof small), errBUFFER_TOO_SMALL);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(host.Get(obj, &count, kPropFolder, small, sizeof small), errBUFFER_TOO_SMALL);
    EXPECT_EQ(count, 0u);
    hOBJ empty = NewIo(L"");
    EXPECT_EQ(Get(empty, kPropFullName), L"");
}

TEST_F(IoNamesTest, NameForms) {
    ASSERT_TRUE(::CreateDirectoryW((dir / L"Long Folder Name").c_str(), nullptr));
    const std::wstring path = dir / L"Long Folder Name\\Some Long File.TXT";
    WriteFileBytes(path, "x");
    hOBJ obj = NewIo(path);

    std::wstring lower = path;
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(c));
    const std::uint32_t saved = g_caseSensitiveNames;
    g_caseSensitiveNames = 0;
    EXPECT_EQ(Get(obj, ioprop::kLongFullName), lower);
    EXPECT_EQ(Get(obj, ioprop::kLongFileName), L"some long file.txt");
    g_caseSensitiveNames = 1;
    EXPECT_EQ(Get(obj, ioprop::kLongFullName), path);
    // Without the whole-path function the long form is built by components.
    hOBJ lowered = NewIo(lower);
    const FARPROC longPath = g_kernel.fGetLongPathName;
    g_kernel.fGetLongPathName = nullptr;
    EXPECT_EQ(Get(lowered, ioprop::kLongFullName), path);
    g_kernel.fGetLongPathName = longPath;
    g_caseSensitiveNames = saved;

    const std::wstring shortFull = Get(obj, ioprop::kShortFullName);
    EXPECT_NE(shortFull, path);
    EXPECT_EQ(ReadFileBytes(shortFull), "x") << "the short form names the same file";
    const std::wstring shortFile = Get(obj, ioprop::kShortFileName);
    EXPECT_EQ(shortFull.substr(shortFull.size() - shortFile.size()), shortFile);
    EXPECT_LE(shortFile.size(), 12u);

    EXPECT_EQ(host.GetDWord(obj, ioprop::kDriveType).value_or(99), DRIVE_FIXED);
    EXPECT_EQ(host.GetDWord(obj, ioprop::kNotFixedDisk).value_or(99), 0u);
    // The device form of an ordinary drive is the stored text, prefix included.
    EXPECT_EQ(Get(obj, ioprop::kDeviceForm), L"\\\\?\\" + path);

    hOBJ relative = NewIo(L"rel\\x");
    EXPECT_EQ(host.GetDWord(relative, ioprop::kDriveType).value_or(99), 0u);
    EXPECT_EQ(host.GetDWord(relative, ioprop::kNotFixedDisk).value_or(99), 1u);
    hOBJ unnamed = NewIo(L"");
    std::uint32_t count = 0, value = 0;
    EXPECT_EQ(host.Get(unnamed, &count, ioprop::kNotFixedDisk, &value, 4),
              errOBJECT_NOT_INITIALIZED);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(host.Get(unnamed, &count, ioprop::kDeviceForm, nullptr, 0),
              errOBJECT_NOT_INITIALIZED);

    // A missing file: the Windows error is recorded and mapped. Wine copies
    // any name that starts with two backslashes without looking at it.
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        return;
    hOBJ missing = NewIo(dir / L"missing.txt");
    EXPECT_EQ(host.Get(missing, &count, ioprop::kLongFullName, nullptr, 0), errOBJECT_NOT_FOUND);
    EXPECT_EQ(Data(missing)->win_error, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

DWORD WINAPI NarrowVersion() {
    return 0x80000004; // bit 31: not an NT-family system
}

/// The plug-in loaded on a system that selects narrow (8-bit) texts.
class NarrowIoTest : public IoNamesTest {
protected:
    void SetUp() override {
        m_savedVersion = g_versionQuery;
        g_versionQuery = NarrowVersion;
        IoNamesTest::SetUp();
    }
    void TearDown() override {
        IoNamesTest::TearDown();
        g_versionQuery = m_savedVersion;
    }

private:
    VersionQuery m_savedVersion = nullptr;
};

TEST_F(NarrowIoTest, NamesAreEightBitWithoutPrefixAndFilesOpen) {
    ASSERT_EQ(g_wideMode, 0u);
    WriteFileBytes(dir / L"narrow.txt", "8-bit");
    std::string folder(dir.path().begin(), dir.path().end()); // the temporary folder is ASCII
    hOBJ obj = NewIo(L"");
    std::uint32_t count = 0;
    const std::string name = folder + "\\\\narrow.txt";
    ASSERT_EQ(host.SetText(obj, &count, kPropFullName, name.c_str(), 0, kCodePageSystem), errOK);
    EXPECT_EQ(std::string(static_cast<const char*>(Data(obj)->name_buffer)),
              folder + "\\narrow.txt");
    EXPECT_EQ(host.GetWide(obj, kPropName).value_or(L"?"), L"narrow.txt");
    EXPECT_EQ(host.Set(obj, &count, kPropFullName, nullptr, 0), errOK);
    EXPECT_EQ(count, 260u) << "the narrow setter's limit";
    const std::string tooLong = "C:\\" + std::string(300, 'x');
    EXPECT_EQ(host.SetText(obj, &count, kPropFullName, tooLong.c_str(), 0, kCodePageSystem),
              errBUFFER_TOO_SMALL);
    ASSERT_EQ(host.CreateDone(obj), errOK);
    char buffer[8] = {};
    std::uint32_t got = 0;
    EXPECT_EQ(ReadAt(obj, 0, buffer, 5, &got), errOK);
    EXPECT_EQ(std::string(buffer, got), "8-bit");
}

} // namespace
} // namespace zev::test
