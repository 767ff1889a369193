// Properties, navigation between folders, cloning, and the operations on
// the entry under the cursor.
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/PathForms.h"
#include "tests/plugin/objptr/ObjPtrFixture.h"

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

class ObjPtrOpsTest : public ObjPtrTest {
protected:
    void Goto(hOBJ p, const std::wstring& name) {
        Result r = errOK;
        while ((r = Next(p)) == errOK)
            if (Name(p) == name)
                return;
        FAIL() << "entry not found";
    }
    std::wstring Mask(hOBJ p) { return static_cast<const wchar_t*>(Ptr(p)->mask); }
    /// An uncompleted IO object whose full name is `path` (a destination).
    hOBJ Target(const std::wstring& path) { return NewIo(path); }
};

TEST_F(ObjPtrOpsTest, FolderAndMaskProperties) {
    hOBJ p = NewPtr(L"");
    EXPECT_EQ(host.SetWide(p, objprop::kMask, L"C:\\data\\*.log"), errOK);
    EXPECT_EQ(Folder(p), L"C:\\data\\");
    EXPECT_EQ(Mask(p), L"*.log");
    EXPECT_STREQ(Ptr(p)->folder_buffer, L"\\\\?\\C:\\data\\");
    EXPECT_EQ(host.SetWide(p, objprop::kMask, L"D:\\other\\"), errOK);
    EXPECT_EQ(Folder(p), L"D:\\other\\");
    EXPECT_EQ(Mask(p), L"*.log") << "a folder alone keeps the mask";
    EXPECT_EQ(host.SetWide(p, kPropFolder, L"\\\\server\\share\\dir"), errOK);
    EXPECT_EQ(Folder(p), L"\\\\server\\share\\dir\\");
    EXPECT_STREQ(Ptr(p)->folder_buffer, L"\\\\?\\UNC\\server\\share\\dir\\");
    const std::wstring longMask(40, L'm');
    EXPECT_EQ(host.SetWide(p, objprop::kMask, longMask), errOK);
    EXPECT_EQ(Mask(p), longMask);
    EXPECT_EQ(host.SetWide(p, objprop::kMask, std::wstring(300, L'm')), errBUFFER_TOO_SMALL);
    // Reset with the root flag cuts the folder to its root.
    EXPECT_EQ(host.SetWide(p, kPropFolder, L"C:\\a\\b"), errOK);
    EXPECT_EQ(host.CallMethod(p, kSlotReset, std::uint32_t{1}), errOK);
    EXPECT_EQ(Folder(p), L"C:\\");
}

TEST_F(ObjPtrOpsTest, NativeSwitchRefusedWithoutTheNativeSet) {
    hOBJ p = NewPtr(Root());
    const std::uint32_t saved = std::exchange(g_nativeApi, 0u);
    EXPECT_EQ(host.SetDWord(p, objprop::kNativeEnum, 1), errNOT_SUPPORTED);
    g_nativeApi = saved;
    EXPECT_EQ(host.GetDWord(p, objprop::kNativeEnum), 0u);
}

TEST_F(ObjPtrOpsTest, SwitchingReadersMidWalkClosesWithTheOpener) {
    if (!g_nativeApi)
        GTEST_SKIP();
    MakeFile(dir / L"a");
    MakeFile(dir / L"b");
    hOBJ p = NewPtr(Root());
    ASSERT_EQ(Next(p), errOK);
    EXPECT_EQ(host.SetDWord(p, objprop::kNativeEnum, 1), errOK);
    EXPECT_EQ(State(p), kStateBef);
    EXPECT_EQ(Walk(p).size(), 2u);
}

TEST_F(ObjPtrOpsTest, StepUpStandsOnTheFolderLeft) {
    MakeFolder(dir / L"a");
    MakeFolder(dir / L"a\\b");
    MakeFile(dir / L"a\\z.txt");
    hOBJ p = NewPtr(dir / L"a\\b\\", L"*.txt");
    EXPECT_EQ(host.CallMethod(p, kSlotStepUp), errOK);
    EXPECT_EQ(Folder(p), dir / L"a\\");
    EXPECT_EQ(Name(p), L"b");
    EXPECT_EQ(Mask(p), L"*");
    // And down again: the mask stays.
    EXPECT_EQ(host.CallMethod(p, kSlotStepDown), errOK);
    EXPECT_EQ(Folder(p), dir / L"a\\b\\");
    EXPECT_EQ(State(p), kStateBef);

    hOBJ root = NewPtr(L"C:\\");
    EXPECT_EQ(host.CallMethod(root, kSlotStepUp), errEND_OF_THE_LIST);
    EXPECT_EQ(Folder(root), L"C:\\");
}

TEST_F(ObjPtrOpsTest, StepDownNeedsAFolderEntry) {
    MakeFile(dir / L"file");
    hOBJ p = NewPtr(Root());
    EXPECT_EQ(host.CallMethod(p, kSlotStepDown), errOBJECT_NOT_OPENED) << "before the first entry";
    ASSERT_EQ(Next(p), errOK);
    EXPECT_EQ(host.CallMethod(p, kSlotStepDown), errOBJECT_NOT_OPENED) << "on a file";
}

TEST_F(ObjPtrOpsTest, CloneInEachState) {
    MakeFile(dir / L"f1");
    MakeFile(dir / L"f2");
    hOBJ p = NewPtr(Root(), L"f*");
    hOBJ c = nullptr;
    EXPECT_EQ(host.CallMethod(p, kSlotClone, &c), errOK);
    ASSERT_TRUE(c);
    EXPECT_EQ(State(c), kStateBef);
    EXPECT_EQ(Folder(c), Root());
    EXPECT_EQ(Mask(c), L"f*");
    host.Close(c);

    ASSERT_EQ(Next(p), errOK);
    ASSERT_EQ(Next(p), errOK);
    EXPECT_EQ(host.CallMethod(p, kSlotClone, &c), errOK);
    ASSERT_TRUE(c);
    EXPECT_EQ(State(c), kStatePtr);
    EXPECT_EQ(Name(c), Name(p));
    host.Close(c);

    Walk(p);
    EXPECT_EQ(host.CallMethod(p, kSlotClone, &c), errOK);
    ASSERT_TRUE(c);
    EXPECT_EQ(State(c), kStateAft);
    host.Close(c);

    hOBJ missing = NewPtr(dir / L"gone\\");
    EXPECT_EQ(Next(missing), errOBJECT_NOT_FOUND);
    EXPECT_EQ(host.CallMethod(missing, kSlotClone, &c), errOK);
    ASSERT_TRUE(c);
    EXPECT_EQ(State(c), kStateBef);
    host.Close(c);
}

TEST_F(ObjPtrOpsTest, ChangeToByAnotherObject) {
    MakeFolder(dir / L"sub");
    MakeFile(dir / L"sub\\Target.txt");
    MakeFile(dir / L"other");
    hOBJ p = NewPtr(Root());
    EXPECT_EQ(host.CallMethod(p, kSlotChangeTo, Target(dir / L"sub\\target.TXT")), errOK);
    EXPECT_EQ(Folder(p), dir / L"sub\\");
    EXPECT_EQ(Name(p), L"Target.txt");
    EXPECT_EQ(host.CallMethod(p, kSlotChangeTo, Target(dir / L"sub\\none")), errEND_OF_THE_LIST);
    EXPECT_EQ(host.CallMethod(p, kSlotChangeTo, Target(dir / L"sub\\")), errOBJECT_NOT_FOUND);
    EXPECT_EQ(host.CallMethod(p, kSlotChangeTo, hOBJ{nullptr}), errPARAMETER_INVALID);
}

TEST_F(ObjPtrOpsTest, OpenTheEntryAsIoAndRead) {
    MakeFile(dir / L"data.bin", "payload");
    MakeFolder(dir / L"folder");
    hOBJ p = NewPtr(Root());
    hOBJ io = nullptr;
    EXPECT_EQ(host.CallMethod(p, kSlotIOCreate, &io, hOBJ{nullptr}, fACCESS_READ, kOpenExisting),
              errOBJECT_NOT_OPENED);
    EXPECT_EQ(io, nullptr);
    ASSERT_EQ(Next(p), errOK);
    ASSERT_EQ(host.CallMethod(p, kSlotIOCreate, &io, hOBJ{nullptr}, fACCESS_READ, kOpenExisting),
              errOK);
    ASSERT_TRUE(io);
    char buf[16] = {};
    std::uint32_t read = 0;
    EXPECT_GE(ReadAt(io, 0, buf, sizeof buf, &read), 0);
    EXPECT_EQ(std::string(buf, read), "payload");
    host.Close(io);
    // A name given by a string object is taken in the cursor's folder.
    hOBJ text = nullptr;
    ASSERT_EQ(host.CreateQuick(host.Root(), &text, kIidString), errOK);
    ASSERT_EQ(host.SetWide(text, kPropFullName, L"data.bin"), errOK);
    ASSERT_EQ(host.CallMethod(p, kSlotIOCreate, &io, text, fACCESS_READ, kOpenExisting), errOK);
    EXPECT_EQ(Size(io), 7u);
    host.Close(io);
    ASSERT_EQ(host.SetWide(text, kPropFullName, L"absent.bin"), errOK);
    EXPECT_EQ(host.CallMethod(p, kSlotIOCreate, &io, text, fACCESS_READ, kOpenExisting),
              errOBJECT_NOT_FOUND);
    EXPECT_EQ(io, nullptr);
    EXPECT_TRUE(Traced("objptr:CreateIO failed (errOBJECT_NOT_FOUND"));
    host.Close(text);
    // A folder entry is opened with backup semantics added to the mode.
    ASSERT_EQ(Next(p), errOK);
    ASSERT_EQ(Name(p), L"folder");
    ASSERT_EQ(host.CallMethod(p, kSlotIOCreate, &io, hOBJ{nullptr}, fACCESS_READ, kOpenExisting),
              errOK);
    EXPECT_EQ(host.GetDWord(io, kPropOpenMode), kOpenExisting | kOpenBackupSemantics);
    host.Close(io);
}

TEST_F(ObjPtrOpsTest, CopyOverAnExistingFile) {
    MakeFile(dir / L"src", "new");
    MakeFile(dir / L"dst", "old");
    hOBJ p = NewPtr(Root(), L"src");
    ASSERT_EQ(Next(p), errOK);
    EXPECT_EQ(host.CallMethod(p, kSlotCopy, Target(dir / L"dst"), std::uint32_t{0}),
              errOBJECT_ALREADY_EXISTS);
    EXPECT_EQ(host.GetDWord(p, kPropWinError), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadFileBytes(dir / L"dst"), "old");
    EXPECT_EQ(host.CallMethod(p, kSlotCopy, Target(dir / L"dst"), std::uint32_t{1}), errOK);
    EXPECT_EQ(ReadFileBytes(dir / L"dst"), "new");
}

TEST_F(ObjPtrOpsTest, RenameIntoAnotherFolderFollowsTheEntry) {
    MakeFolder(dir / L"to");
    MakeFile(dir / L"moving", "m");
    MakeFile(dir / L"stay");
    hOBJ p = NewPtr(Root());
    Goto(p, L"moving");
    EXPECT_EQ(host.CallMethod(p, kSlotRename, Target(dir / L"to\\moved"), std::uint32_t{0}), errOK);
    EXPECT_EQ(Folder(p), dir / L"to\\");
    EXPECT_EQ(Name(p), L"moved");
    EXPECT_EQ(ReadFileBytes(dir / L"to\\moved"), "m");
    // A folder entry renamed in place: the cursor stands on its new name,
    // in the same folder (not inside the moved folder).
    EXPECT_EQ(host.CallMethod(p, kSlotStepUp), errOK);
    ASSERT_EQ(Name(p), L"to");
    EXPECT_EQ(host.CallMethod(p, kSlotRename, Target(dir / L"renamed\\"), std::uint32_t{0}), errOK);
    EXPECT_EQ(Folder(p), Root());
    EXPECT_EQ(Name(p), L"renamed");
    // Over an existing file only with the replace choice.
    MakeFile(dir / L"taken", "t");
    host.CallMethod(p, kSlotReset, std::uint32_t{0});
    Goto(p, L"stay");
    EXPECT_EQ(host.CallMethod(p, kSlotRename, Target(dir / L"taken"), std::uint32_t{0}),
              errOBJECT_ALREADY_EXISTS);
    EXPECT_EQ(Name(p), L"stay");
    EXPECT_EQ(host.CallMethod(p, kSlotRename, Target(dir / L"taken"), std::uint32_t{1}), errOK);
    EXPECT_EQ(Name(p), L"taken");
    EXPECT_EQ(ReadFileBytes(dir / L"taken"), "x");
}

TEST_F(ObjPtrOpsTest, DeleteMovesOnAndALockedEntryStays) {
    MakeFile(dir / L"a1");
    MakeFile(dir / L"a2");
    MakeFolder(dir / L"a3");
    hOBJ p = NewPtr(Root(), L"a*");
    ASSERT_EQ(Next(p), errOK);
    const std::wstring first = Name(p);
    EXPECT_EQ(host.CallMethod(p, kSlotDelete), errOK);
    EXPECT_FALSE(FileExists(dir / first));
    EXPECT_EQ(State(p), kStatePtr);
    const std::wstring second = Name(p);
    EXPECT_NE(second, first);
    {
        UniqueFile held(::CreateFileW((dir / second).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(host.CallMethod(p, kSlotDelete), errLOCKED);
        EXPECT_EQ(host.GetDWord(p, kPropWinError), ERROR_SHARING_VIOLATION);
        EXPECT_EQ(Name(p), second);
    }
    EXPECT_EQ(host.CallMethod(p, kSlotDelete), errOK);
    EXPECT_EQ(Name(p), L"a3");
    EXPECT_EQ(host.CallMethod(p, kSlotDelete), errOK) << "a folder entry";
    EXPECT_EQ(State(p), kStateAft);
    EXPECT_FALSE(FileExists(dir / L"a3"));
}

TEST_F(ObjPtrOpsTest, ComputedProperties) {
    MakeFile(dir / L"Some Long File Name.txt", std::string(1234, 'x'));
    hOBJ p = NewPtr(Root());
    EXPECT_EQ(host.GetDWord(p, objprop::kSize32), std::nullopt) << "off an entry";
    ASSERT_EQ(Next(p), errOK);
    EXPECT_EQ(host.GetDWord(p, objprop::kSize32), 1234u);
    EXPECT_EQ(host.GetDWord(p, objprop::kIsFolder), 0u);
    std::uint64_t size = 0;
    std::uint32_t count = 0;
    EXPECT_EQ(host.Get(p, &count, objprop::kSize64, &size, 8), errOK);
    EXPECT_EQ(size, 1234u);
    EXPECT_EQ(host.SetDWord(p, objprop::kSize32, 1), errOPERATION_REFUSED);
    // Attributes, written through.
    EXPECT_EQ(host.SetDWord(p, kPropAttributes, FILE_ATTRIBUTE_READONLY), errOK);
    EXPECT_EQ(host.GetDWord(p, kPropAttributes),
              static_cast<std::uint32_t>(FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(::GetFileAttributesW((dir / L"Some Long File Name.txt").c_str()) &
                FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW((dir / L"Some Long File Name.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    // Times: the last write time as the framework's date-time.
    WIN32_FILE_ATTRIBUTE_DATA info{};
    ASSERT_TRUE(::GetFileAttributesExW((dir / L"Some Long File Name.txt").c_str(),
                                       GetFileExInfoStandard, &info));
    std::uint64_t when = 0;
    EXPECT_EQ(host.Get(p, &count, kPropLastWriteTime, &when, 8), errOK);
    const std::uint64_t ft = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                             info.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(when, DateTimeFromFileTime(ft - ft % 10000));
    EXPECT_EQ(host.Get(p, &count, kPropLastWriteTime, &when, 4), errBUFFER_TOO_SMALL);
    EXPECT_EQ(host.Set(p, &count, kPropLastWriteTime, &when, 8), errOPERATION_REFUSED);
    EXPECT_EQ(host.Get(p, &count, kPropReopenData, &when, 8), errPROPERTY_NOT_IMPLEMENTED);
    // Name forms.
    const auto shortName = host.GetWide(p, objprop::kShortName);
    ASSERT_TRUE(shortName);
    EXPECT_LE(shortName->size(), 12u);
    wchar_t expectedShort[MAX_PATH] = {};
    ASSERT_NE(
        ::GetShortPathNameW((dir / L"Some Long File Name.txt").c_str(), expectedShort, MAX_PATH),
        0u);
    EXPECT_EQ(host.GetWide(p, objprop::kShortFullName), std::wstring(expectedShort));
    const auto longFull = host.GetWide(p, objprop::kLongFullName);
    ASSERT_TRUE(longFull);
    std::wstring expected = dir / L"Some Long File Name.txt";
    for (wchar_t& c : expected)
        c = static_cast<wchar_t>(::towlower(c));
    EXPECT_EQ(*longFull, expected);
    wchar_t tiny[2];
    EXPECT_EQ(host.Get(p, &count, objprop::kLongFullName, tiny, sizeof tiny), errOK);
    EXPECT_EQ(count, (expected.size() + 1) * sizeof(wchar_t)) << "the needed size";
    // Identifiers: the folder's handle and index, the entry's identifier,
    // the volume's identifier (the same for two folders of one volume).
    EXPECT_NE(host.GetDWord(p, kPropFileIndex), 0u);
    std::uint64_t fileId = 0;
    EXPECT_EQ(host.Get(p, &count, objprop::kFileId, &fileId, 8), errOK);
    EXPECT_NE(fileId, 0u);
    const auto volume = host.GetDWord(p, objprop::kVolumeId);
    hOBJ other = NewPtr(L"C:\\windows\\");
    EXPECT_EQ(host.GetDWord(other, objprop::kVolumeId), volume);
}

TEST_F(ObjPtrOpsTest, OperationsOffAnEntry) {
    hOBJ p = NewPtr(Root());
    EXPECT_EQ(host.CallMethod(p, kSlotCopy, Target(dir / L"x"), std::uint32_t{1}),
              errOBJECT_NOT_OPENED);
    EXPECT_EQ(host.CallMethod(p, kSlotRename, Target(dir / L"x"), std::uint32_t{1}),
              errOBJECT_NOT_OPENED);
    EXPECT_EQ(host.SetDWord(p, kPropAttributes, 0), errOBJECT_NOT_OPENED);
}

TEST_F(ObjPtrOpsTest, FolderPassListsAnewWhenTheReplayCannotGrow) {
    constexpr int kFolders = 20; // beyond the replay's first capacity
    for (int i = 0; i < kFolders; ++i)
        MakeFolder(dir / (L"d" + std::to_wstring(i)));
    MakeFile(dir / L"file");
    hOBJ p = NewPtr(Root());
    // The replay block, the used mask, then the growth of the replay.
    host.FailAllocation(3);
    const auto names = Walk(p);
    host.FailAllocation(0);
    ASSERT_TRUE(Ptr(p)->replay);
    EXPECT_LT(Ptr(p)->replay->capacity, static_cast<std::uint32_t>(kFolders)) << "it did not grow";
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kFolders + 1));
    EXPECT_EQ(names.front(), L"file");
    // With room the folder pass replays the same folders.
    EXPECT_EQ(host.CallMethod(p, kSlotReset, std::uint32_t{0}), errOK);
    EXPECT_EQ(Walk(p), names);
    EXPECT_GE(Ptr(p)->replay->count, static_cast<std::uint32_t>(kFolders));
}

TEST_F(ObjPtrOpsTest, MissingKernelFunctionsAreReported) {
    MakeFile(dir / L"f");
    hOBJ p = NewPtr(Root());
    ASSERT_EQ(Next(p), errOK);
    const FARPROC copy = std::exchange(g_kernel.fCopyFile, nullptr);
    EXPECT_EQ(host.CallMethod(p, kSlotCopy, Target(dir / L"g"), std::uint32_t{1}),
              errFUNCTION_NOT_FOUND);
    g_kernel.fCopyFile = copy;
    EXPECT_TRUE(Traced("CopyFile export pointer cannot be imported"));
    const FARPROC del = std::exchange(g_kernel.fDeleteFile, nullptr);
    EXPECT_EQ(host.CallMethod(p, kSlotDelete), errFUNCTION_NOT_FOUND);
    g_kernel.fDeleteFile = del;
    EXPECT_TRUE(FileExists(dir / L"f"));
    // Without the find functions no cursor is made.
    const FARPROC first = std::exchange(g_kernel.fFindFirstFile, nullptr);
    hOBJ none = nullptr;
    EXPECT_EQ(host.Create(host.Root(), &none, IID_OBJPTR), errOBJECT_NOT_CREATED);
    g_kernel.fFindFirstFile = first;
    EXPECT_TRUE(Traced("FindFirstFile and/or FindNextFile export pointer(s)"));
}

} // namespace
} // namespace zev::test
