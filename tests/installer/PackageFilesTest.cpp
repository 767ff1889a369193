// The embedded package and the file utilities: extraction byte for byte,
// folders with missing parents and long paths, deletion, GUID names, the
// packages of a folder and the program's own path.
#include <gtest/gtest.h>

#include "installer/FileUtils.h"
#include "installer/SystemUtils.h"
#include "installer/Unpacker.h"
#include "installer/resources/PackageResource.h"
#include "tests/installer/InstallerStandIn.h"
#include "tests/support/TempDir.h"

using namespace hotfixer;
using namespace zev::test;
namespace msistate = zev::msistate;

namespace {

std::string ResourceBytes() {
    const HRSRC res =
        ::FindResourceW(nullptr, MAKEINTRESOURCEW(kPackageResourceId), kPackageResourceType);
    if (!res)
        return {};
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(nullptr, res)));
    return std::string(data, ::SizeofResource(nullptr, res));
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attrs = ::GetFileAttributesW((L"\\\\?\\" + path).c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

TEST(Unpacker, WritesTheResourceByteForByteAndReplacesAnExistingFile) {
    const std::string resource = ResourceBytes();
    ASSERT_FALSE(resource.empty());
    EXPECT_EQ(resource, ReadFileBytes(SignedPackage())) << "the embedded package is the signed one";

    TempDir dir;
    const std::wstring target = dir / kPackageFileName;
    WriteFileBytes(target, std::string(resource.size() + 4096, 'z'));
    CUnpacker::ExtractResourceToFile(target);
    EXPECT_EQ(ReadFileBytes(target), resource);
    CUnpacker::ExtractResourceToFile(target);
    EXPECT_EQ(ReadFileBytes(target).size(), resource.size());
}

TEST(Unpacker, UnwritableDestinationRaisesWithTheWindowsCode) {
    TempDir dir;
    try {
        CUnpacker::ExtractResourceToFile(dir / L"missing\\hx318.msp");
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()).rfind("CUnpacker::ExtractResourceToFile: ", 0), 0u);
    }
}

TEST(CreateDirRecurs, CreatesMissingParentsAndAcceptsExistingFolders) {
    TempDir dir;
    const std::wstring deep = dir / L"One\\Two\\Three";
    EXPECT_EQ(CreateDirRecurs(deep.c_str()), 0u);
    EXPECT_TRUE(IsDirectory(dir / L"One\\Two"));
    EXPECT_TRUE(IsDirectory(deep));
    EXPECT_EQ(CreateDirRecurs(deep.c_str()), 0u);
    EXPECT_EQ(CreateDirRecurs(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CreateDirRecurs, PathsLongerThanMaxPath) {
    TempDir dir;
    std::wstring deep = dir.path();
    while (deep.size() <= 300)
        deep += L"\\" + std::wstring(40, L'd');
    ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_EQ(CreateDirRecurs(deep.c_str()), 0u);
    EXPECT_TRUE(IsDirectory(deep));
}

TEST(CreateDirRecurs, UnnamableMissingParentGives161AndTraces) {
    TraceCapture trace;
    const std::wstring name = L"zev-" + UniqueName();
    EXPECT_EQ(CreateDirRecurs(name.c_str()), static_cast<DWORD>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(trace.Count("ERR", L"CreateDirRecurs: incorrect path " + name), 1u);
}

TEST(DeleteDirRecurs, DeletesATreeAndTracesAMissingFolder) {
    TempDir dir;
    const std::wstring tree = dir / L"tree";
    ASSERT_EQ(CreateDirRecurs((tree + L"\\sub").c_str()), 0u);
    WriteFileBytes(tree + L"\\sub\\f.txt", "x");
    EXPECT_TRUE(DeleteDirRecurs(tree));
    EXPECT_FALSE(FileExists(tree));

    TraceCapture trace;
    EXPECT_FALSE(DeleteDirRecurs(tree));
    EXPECT_EQ(trace.Count("ERR", L"DeleteDirRecurs: Cann't delete directory " + tree), 1u);
}

TEST(FileUtils, NewGuidStringIsLowerCaseInBraces) {
    const std::wstring a = NewGuidString(), b = NewGuidString();
    ASSERT_EQ(a.size(), 38u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.front(), L'{');
    EXPECT_EQ(a.back(), L'}');
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        const bool lowerHex = iswdigit(a[i]) || (a[i] >= L'a' && a[i] <= L'f');
        EXPECT_TRUE(dash ? a[i] == L'-' : lowerHex) << a << " at " << i;
    }
}

TEST(FileUtils, TempFolderAndOwnPath) {
    const std::wstring temp = GetTempDirPath();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_TRUE(IsDirectory(temp));

    const std::wstring path = GetModulePath();
    EXPECT_EQ(GetModuleName(), L"installer_tests.exe");
    EXPECT_EQ(path, ThisModuleDir() + L"\\installer_tests.exe");
}

TEST(FindMspFiles, ListsPackageFilesOnlyAndAppends) {
    TempDir dir;
    WriteFileBytes(dir / L"a.msp", "a");
    WriteFileBytes(dir / L"b.txt", "b");
    ASSERT_EQ(CreateDirRecurs((dir / L"x.msp").c_str()), 0u);
    std::vector<std::wstring> names{L"kept"};
    FindMspFiles(dir.path(), names, dir.path() + L"\\", false);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"kept", L"a.msp"}));

    FindMspFiles(dir / L"missing", names, dir.path() + L"\\", true);
    EXPECT_EQ(names.size(), 2u);
}

TEST(FindMspFiles, WithCheckingOnlySignedPackagesAreListed) {
    TempDir dir;
    const std::wstring product = dir.path() + L"\\";
    InstallKeyRegistries(product);
    CUnpacker::ExtractResourceToFile(dir / L"signed.msp");
    WriteFileBytes(dir / L"unsigned.msp", ReadFileBytes(UnsignedPackage()));
    WriteFileBytes(dir / L"corrupt.msp", "MZ not a package");
    EXPECT_TRUE(IsFileSigned(dir / L"signed.msp", product));
    EXPECT_FALSE(IsFileSigned(dir / L"unsigned.msp", product));

    std::vector<std::wstring> names;
    FindMspFiles(dir.path(), names, product, true);
    EXPECT_EQ(names, std::vector<std::wstring>{L"signed.msp"});
    names.clear();
    FindMspFiles(dir.path(), names, product, false);
    EXPECT_EQ(names.size(), 3u);
}

TEST(FindMspFiles, WithoutKeyRegistriesNothingPassesTheCheck) {
    TempDir dir;
    CUnpacker::ExtractResourceToFile(dir / L"signed.msp");
    std::vector<std::wstring> names;
    FindMspFiles(dir.path(), names, dir.path() + L"\\", true);
    EXPECT_TRUE(names.empty());
}
