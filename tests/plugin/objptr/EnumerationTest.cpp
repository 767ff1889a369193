// Walking folders through ObjPtr, run once over the Windows find functions
// and once over the native directory reader.
#include "tests/plugin/objptr/ObjPtrFixture.h"

#include "plugin/frame/Settings.h"

#include <algorithm>
#include <set>

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

struct FindFunctions {
    static constexpr bool kNative = false;
};
struct NativeReader {
    static constexpr bool kNative = true;
};

template <typename Reader> class EnumerationTest : public ObjPtrTest {
protected:
    void SetUp() override {
        ObjPtrTest::SetUp();
        if (Reader::kNative && !g_nativeApi)
            GTEST_SKIP() << "the native reader is not available";
    }
    hOBJ Open(const std::wstring& folder, const std::wstring& mask = L"",
              std::uint32_t maskFolders = 0) {
        return NewPtr(folder, mask, Reader::kNative, maskFolders);
    }
    static std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
        std::sort(v.begin(), v.end());
        return v;
    }
};

class ReaderNames {
public:
    template <typename T> static std::string GetName(int) {
        return T::kNative ? "Native" : "FindFunctions";
    }
};
using Readers = ::testing::Types<FindFunctions, NativeReader>;
TYPED_TEST_SUITE(EnumerationTest, Readers, ReaderNames);

TYPED_TEST(EnumerationTest, FilesFirstThenFoldersWithoutDotEntries) {
    for (const wchar_t* f : {L"a.txt", L"b.log", L"abc"})
        this->MakeFile(this->dir / f);
    for (const wchar_t* f : {L"sub1", L"sub2"})
        this->MakeFolder(this->dir / f);
    hOBJ p = this->Open(this->Root());
    EXPECT_EQ(this->State(p), kStateBef);
    Result end = 0;
    const auto names = this->Walk(p, &end);
    ASSERT_EQ(names.size(), 5u);
    const std::vector<std::wstring> files(names.begin(), names.begin() + 3);
    const std::vector<std::wstring> folders(names.begin() + 3, names.end());
    EXPECT_EQ(this->Sorted(files), (std::vector<std::wstring>{L"a.txt", L"abc", L"b.log"}));
    EXPECT_EQ(this->Sorted(folders), (std::vector<std::wstring>{L"sub1", L"sub2"}));
    EXPECT_EQ(end, errEND_OF_THE_LIST);
    EXPECT_EQ(this->State(p), kStateAft);
    EXPECT_EQ(this->Next(p), errEND_OF_THE_LIST);
    // Reset starts over.
    EXPECT_EQ(this->host.CallMethod(p, kSlotReset, std::uint32_t{0}), errOK);
    EXPECT_EQ(this->State(p), kStateBef);
    EXPECT_EQ(this->Walk(p).size(), 5u);
}

TYPED_TEST(EnumerationTest, MasksSelectFilesAndLeaveFoldersAlone) {
    for (const wchar_t* f : {L"a.txt", L"x.txt", L"ab", L"a", L"b.log", L"ab.txt"})
        this->MakeFile(this->dir / f);
    this->MakeFolder(this->dir / L"sub");
    struct Row {
        const wchar_t* mask;
        std::vector<std::wstring> files;
        bool dosWildcards; ///< needs the file system's DOS wildcard matching
    };
    const Row rows[] = {
        {L"*", {L"a", L"a.txt", L"ab", L"ab.txt", L"b.log", L"x.txt"}, false},
        {L"*.*", {L"a", L"a.txt", L"ab", L"ab.txt", L"b.log", L"x.txt"}, false},
        {L"?.txt", {L"a.txt", L"x.txt"}, false},
        {L"a?", {L"ab"}, false},
        {L"*.txt", {L"a.txt", L"ab.txt", L"x.txt"}, TypeParam::kNative},
        {L"a*.", {L"a", L"ab"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "mask " << std::string(row.mask, row.mask + wcslen(row.mask)));
        if (row.dosWildcards && UnderWine()) {
            // Wine deviation: '<', '>' and '"' are not DOS wildcards there,
            // and FindFirstFileW("*.") lists everything.
            continue;
        }
        hOBJ p = this->Open(this->Root(), row.mask);
        auto names = this->Walk(p);
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.back(), L"sub") << "every folder follows the files";
        names.pop_back();
        EXPECT_EQ(this->Sorted(names), row.files);
        this->Close(p);
    }
}

TYPED_TEST(EnumerationTest, MaskFilteringFoldersToo) {
    this->MakeFile(this->dir / L"sfile");
    this->MakeFile(this->dir / L"other");
    for (const wchar_t* f : {L"sub", L"tmp"})
        this->MakeFolder(this->dir / f);
    hOBJ p = this->Open(this->Root(), L"s*", 1);
    EXPECT_EQ(this->Walk(p), (std::vector<std::wstring>{L"sfile", L"sub"}));
}

TYPED_TEST(EnumerationTest, EmptyFolderEndsAtOnce) {
    hOBJ p = this->Open(this->Root());
    EXPECT_EQ(this->Next(p), errEND_OF_THE_LIST);
    EXPECT_EQ(this->State(p), kStateAft);
    EXPECT_EQ(this->Next(p), errEND_OF_THE_LIST);
}

TYPED_TEST(EnumerationTest, MissingFolderLeavesTheCursorUndefined) {
    hOBJ p = this->Open(this->dir / L"missing\\");
    EXPECT_EQ(this->Next(p), errOBJECT_NOT_FOUND);
    EXPECT_EQ(this->State(p), kStateUnd);
    EXPECT_TRUE(this->Traced("objptr: operation(next), errOBJECT_NOT_FOUND"));
    EXPECT_EQ(this->host.GetDWord(p, kPropWinError), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(this->Next(p), errOBJECT_NOT_OPENED);
    EXPECT_EQ(this->Name(p), L"");
}

TYPED_TEST(EnumerationTest, FiveThousandEntriesEachSeenOnce) {
    constexpr int kFiles = 5000;
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(UniqueFile(::CreateFileW((this->dir / (L"f" + std::to_wstring(i))).c_str(),
                                             GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    hOBJ p = this->Open(this->Root());
    const auto names = this->Walk(p);
    const std::set<std::wstring> unique(names.begin(), names.end());
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kFiles)) << "entries repeated or lost";
    EXPECT_EQ(unique.size(), static_cast<std::size_t>(kFiles));
    for (const std::wstring& n : unique)
        ASSERT_TRUE(n.size() > 1 && n[0] == L'f' && std::stoi(n.substr(1)) < kFiles) << "invented";
}

TYPED_TEST(EnumerationTest, LongNamesBeyondMaxPath) {
    const std::wstring deep =
        this->dir / (std::wstring(120, L'd') + L"\\" + std::wstring(120, L'e'));
    this->MakeFolder(this->dir / std::wstring(120, L'd'));
    this->MakeFolder(deep);
    const std::wstring longName = std::wstring(200, L'n') + L".txt";
    this->MakeFile(deep + L"\\" + longName, "long");
    this->MakeFolder(deep + L"\\" + std::wstring(150, L's'));
    ASSERT_GT(deep.size() + longName.size(), 260u);
    hOBJ p = this->Open(deep);
    EXPECT_EQ(this->Folder(p), deep + L"\\");
    ASSERT_EQ(this->Next(p), errOK);
    EXPECT_EQ(this->Name(p), longName);
    EXPECT_EQ(this->host.GetWide(p, kPropFullName), deep + L"\\" + longName);
    EXPECT_EQ(this->host.GetDWord(p, objprop::kSize32), 4u);
    ASSERT_EQ(this->Next(p), errOK);
    EXPECT_EQ(this->Name(p), std::wstring(150, L's'));
    // Down into the long folder and back up.
    EXPECT_EQ(this->host.CallMethod(p, kSlotStepDown), errOK);
    EXPECT_EQ(this->Next(p), errEND_OF_THE_LIST);
    EXPECT_EQ(this->host.CallMethod(p, kSlotStepUp), errOK);
    EXPECT_EQ(this->Name(p), std::wstring(150, L's'));
}

} // namespace
} // namespace zev::test
