// Windows Installer queries against the msi.dll stand-in: the product of
// the upgrade code, the applied patches (with long transform lists) and
// the patch GUID read from a package's patch XML.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include "installer/MsiQueries.h"
#include "installer/SystemUtils.h"
#include "tests/installer/InstallerStandIn.h"
#include "tests/support/TempDir.h"

using namespace hotfixer;
using namespace zev::test;
namespace msistate = zev::msistate;

TEST(MsiQueries, ProductCodeOfTheUpgradeCode) {
    InstallerStandIn standIn;
    msistate::InstallProduct(L"{99999999-0000-0000-0000-000000000001}",
                             L"{99999999-0000-0000-0000-0000000000FF}");
    EXPECT_EQ(GetProductCodeByUpgradeCode(zev::product::kProductUpgradeCode), kProductCode);
}

TEST(MsiQueries, MissingProductTracesTheUpgradeCodeAndRaises259) {
    InstallerStandIn standIn(false);
    TraceCapture trace;
    const std::wstring upgrade = zev::product::kProductUpgradeCode;
    try {
        GetProductCodeByUpgradeCode(upgrade);
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), 259u);
        EXPECT_EQ(std::string(e.what()).rfind("GetProductCodeByUpgradeCode: ", 0), 0u) << e.what();
    }
    EXPECT_EQ(trace.Count("ERR", L"GetProductCodeByUpgradeCode: Can't get product code by "
                                 L"upgrade code = <" +
                                     upgrade + L">."),
              1u);
}

TEST(MsiQueries, ProductPatchesIncludingATransformListLongerThanTheBuffer) {
    InstallerStandIn standIn;
    std::vector<std::wstring> patches{L"stale"};
    EXPECT_EQ(GetProductPatches(kProductCode, patches), 0u);
    EXPECT_TRUE(patches.empty());

    const std::wstring first = L"{00000000-1111-2222-3333-444444444444}";
    const std::wstring second = L"{00000000-1111-2222-3333-555555555555}";
    const std::wstring longTransforms = L":" + std::wstring(150, L'T') + L";:#Second";
    msistate::ApplyPatch(kProductCode, {first, longTransforms});
    msistate::ApplyPatch(kProductCode, {second, L":Short"});

    // The stand-in answers a short transforms buffer as the real one does.
    wchar_t patch[kMsiGuidChars], transforms[kMsiTransformsChars];
    DWORD length = kMsiTransformsChars;
    ASSERT_EQ(::MsiEnumPatchesW(kProductCode.c_str(), 0, patch, transforms, &length),
              static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(length, longTransforms.size());

    EXPECT_EQ(GetProductPatches(kProductCode, patches), 0u);
    EXPECT_EQ(patches, (std::vector<std::wstring>{first, second}));
}

TEST(MsiQueries, ProductPatchesOfAnUnknownProductReturnTheInstallersCode) {
    InstallerStandIn standIn(false);
    std::vector<std::wstring> patches{L"stale"};
    EXPECT_EQ(GetProductPatches(kProductCode, patches), static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));
    EXPECT_TRUE(patches.empty());
}

TEST(MsiQueries, PatchGuidOfTheBuiltPackage) {
    InstallerStandIn standIn;
    TraceCapture trace;
    std::wstring guid;
    ASSERT_EQ(GetMSPPatchGUID(SignedPackage(), guid), 0u);
    EXPECT_EQ(guid, kPatchGuid);
    EXPECT_EQ(
        trace.Count("NTF", L"GetMSPPatchGUID: Patch " + SignedPackage() + L" GUID = " + kPatchGuid),
        1u);
}

TEST(MsiQueries, PatchGuidFromTheXmlText) {
    struct Row {
        const wchar_t* xml;
        UINT result;
        const wchar_t* guid;
    } rows[] = {
        {L"<MsiPatch PatchGUID=\"{0a1b2c3d-0000-4000-8000-abcdefabcdef}\"/>", 0,
         L"{0A1B2C3D-0000-4000-8000-ABCDEFABCDEF}"},
        {L"<msipatch patchguid=\"{0a1b2c3d-0000-4000-8000-abcdefabcdef}\" x=\"y\"/>", 0,
         L"{0A1B2C3D-0000-4000-8000-ABCDEFABCDEF}"},
        {L"<MsiPatch SchemaVersion=\"1.0.0.0\" MinMsiVersion=\"300\"/>", 259, L""},
        {L"<MsiPatch PatchGUID=\"{0A1B", 0, L"{0A1B"},
    };
    InstallerStandIn standIn;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.xml);
        msistate::SetPatchXmlOverride(row.xml);
        std::wstring guid = L"stale";
        EXPECT_EQ(GetMSPPatchGUID(L"C:\\any.msp", guid), row.result);
        EXPECT_EQ(guid, row.guid);
    }
}

TEST(MsiQueries, UnreadablePackagesLeaveTheGuidUntouched) {
    InstallerStandIn standIn;
    TempDir dir;
    WriteFileBytes(dir / L"corrupt.msp", std::string(4096, 'x'));
    const struct {
        std::wstring path;
        UINT result;
    } rows[] = {{dir / L"corrupt.msp", ERROR_PATCH_PACKAGE_INVALID},
                {dir / L"missing.msp", ERROR_PATCH_PACKAGE_OPEN_FAILED}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        std::wstring guid = L"stale";
        EXPECT_EQ(GetMSPPatchGUID(row.path, guid), row.result);
        EXPECT_EQ(guid, L"stale");
    }
}
