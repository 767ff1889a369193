// The state book Patches.ini against the Windows Installer stand-ins: the
// first run, apply, removal and re-apply through msiexec, hand-edited
// entries, and packages that cannot be read.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "common/UniqueHandle.h"
#include "installer/FileUtils.h"
#include "installer/InstallerInvocation.h"
#include "installer/PatchManager.h"
#include "installer/SystemUtils.h"
#include "installer/Unpacker.h"
#include "installer/resources/PackageResource.h"
#include "installer/system/ConfigManager.h"
#include "tests/installer/InstallerStandIn.h"
#include "tests/support/TempDir.h"

using namespace hotfixer;
using namespace zev::test;
namespace msistate = zev::msistate;

namespace {

// A product folder with its "Patches" folder, as the patch runner lays it
// out, and the stand-ins' state with the product installed.
class PatchManagerTest : public ::testing::Test {
protected:
    PatchManagerTest()
        : m_product(m_dir.path() + L"\\"), m_patches(m_dir / L"Patches"),
          m_ini(m_patches + L"\\" + kPatchStateFileName) {
        CreateDirRecurs(m_patches.c_str());
    }

    std::unique_ptr<CPatchManager> Open(bool checkSignatures = false) const {
        return std::make_unique<CPatchManager>(m_ini, m_patches, m_product, checkSignatures);
    }
    IniSection States() const {
        IniSection states;
        CConfigManager(m_ini.c_str()).GetSection(kPatchStateSection, states);
        return states;
    }
    std::wstring Package() const { return m_patches + L"\\" + kPackageFileName; }

    // Runs msiexec on a command line in the patches folder, as the runner does.
    DWORD Msiexec(std::wstring commandLine) const {
        PROCESS_INFORMATION info;
        const DWORD started = CrtProc(commandLine, m_patches, info);
        if (started)
            return started;
        zev::UniqueKernelHandle process(info.hProcess), thread(info.hThread);
        ::WaitForSingleObject(process.get(), INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process.get(), &code);
        return code;
    }

    InstallerStandIn m_standIn;
    TempDir m_dir;
    std::wstring m_product, m_patches, m_ini;
};

bool IsWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

} // namespace

TEST_F(PatchManagerTest, FirstRunWithAnEmptyFolderWritesAnEmptySection) {
    TraceCapture trace;
    Open().reset();
    EXPECT_TRUE(States().empty());
    // Wine deviation: writing an empty section creates no file and no header.
    if (!IsWine()) {
        EXPECT_NE(ReadFileBytes(m_ini).find("[PATCHES_STATE]"), std::string::npos);
    }
    EXPECT_EQ(trace.Count("NTF", L"CPatchManager::UpdateConfig: Start"), 2u);
    EXPECT_EQ(trace.Count("NTF", L"CPatchManager::UpdateConfig: Finish success"), 2u);
    EXPECT_EQ(
        trace.Count("NTF", L"CPatchManager::~CPatchManager: config-ini updated successfully."), 1u);
}

TEST_F(PatchManagerTest, ApplyRemoveAndReapplyThroughMsiexec) {
    // Apply now: no package before the job, so no entry yet.
    auto book = Open();
    EXPECT_TRUE(States().empty());
    CUnpacker::ExtractResourceToFile(Package());
    book->UpdateConfig();
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, kPatchStateNotInstalled}}));
    EXPECT_FALSE(book->IsPatchInstalled(kPatchGuid));
    ASSERT_EQ(Msiexec(GetApplyCommandLine({Package()}, false)), 0u);
    EXPECT_TRUE(book->IsPatchInstalled(kPatchGuid));
    book.reset();
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, kPatchStateInstalled}}));

    // Remove now: the entry turns to "ignored" at the final update.
    book = Open();
    ASSERT_EQ(Msiexec(GetUninstallCommandLine({kPatchGuid}, false, *book)), 0u);
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, kPatchStateInstalled}}));
    book.reset();
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, kPatchStateIgnored}}));

    // Applied again: "ignored" becomes "installed".
    book = Open();
    ASSERT_EQ(Msiexec(GetApplyCommandLine({Package()}, true)), 0u);
    book.reset();
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, kPatchStateInstalled}}));
}

TEST_F(PatchManagerTest, HandEditedValuesStayUntilThePatchIsApplied) {
    const std::wstring other = L"{00000000-AAAA-BBBB-CCCC-000000000000}";
    WriteFileBytes(m_ini, "[Other]\r\nkeep=1\r\n");
    CConfigManager(m_ini.c_str())
        .SetSection(kPatchStateSection, {{kPatchGuid, L"foo"}, {other, L"bar"}});
    CUnpacker::ExtractResourceToFile(Package());

    auto book = Open();
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, L"foo"}, {other, L"bar"}}));
    ASSERT_EQ(Msiexec(GetApplyCommandLine({Package()}, false)), 0u);
    book.reset();
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, kPatchStateInstalled}, {other, L"bar"}}));
    IniSection untouched;
    CConfigManager(m_ini.c_str()).GetSection(L"Other", untouched);
    EXPECT_EQ(untouched, (IniSection{{L"keep", L"1"}}));
}

TEST_F(PatchManagerTest, AFailedInstallerRunLeavesThePackageNotInstalled) {
    CUnpacker::ExtractResourceToFile(Package());
    auto book = Open();
    msistate::SetInjectedExitCode(1603);
    EXPECT_EQ(Msiexec(GetApplyCommandLine({Package()}, false)), 1603u);
    book.reset();
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, kPatchStateNotInstalled}}));
}

TEST_F(PatchManagerTest, PatchesAppliedOutsideThePatchesFolderAreRecordedToo) {
    const std::wstring foreign = L"{00000000-AAAA-BBBB-CCCC-111111111111}";
    msistate::ApplyPatch(kProductCode, {foreign, L":F"});
    Open().reset();
    EXPECT_EQ(States(), (IniSection{{foreign, kPatchStateInstalled}}));
}

TEST_F(PatchManagerTest, LaterPackageWithTheSameGuidWins) {
    CUnpacker::ExtractResourceToFile(m_patches + L"\\a.msp");
    CUnpacker::ExtractResourceToFile(m_patches + L"\\b.msp");
    const auto book = Open();
    EXPECT_EQ(book->GetMSPsGUIDsMap({L"a.msp", L"b.msp"}),
              (std::map<std::wstring, std::wstring>{{kPatchGuid, L"b.msp"}}));
    EXPECT_EQ(book->GetMSPsGUIDsMap({L"b.msp", L"a.msp"}),
              (std::map<std::wstring, std::wstring>{{kPatchGuid, L"a.msp"}}));
}

TEST_F(PatchManagerTest, ProductNotInstalledFailsBeforeTheFileIsWritten) {
    msistate::ClearState();
    try {
        Open();
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    }
    EXPECT_FALSE(FileExists(m_ini));
}

TEST_F(PatchManagerTest, UnreadablePackageFailsTheUpdateAndKeepsTheFile) {
    CConfigManager(m_ini.c_str()).SetSection(kPatchStateSection, {{kPatchGuid, L"installed"}});
    const std::string saved = ReadFileBytes(m_ini);
    WriteFileBytes(m_patches + L"\\corrupt.msp", std::string(2048, '\x7f'));
    try {
        Open();
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_PATCH_PACKAGE_INVALID));
        EXPECT_EQ(std::string(e.what()).rfind("CPatchManager::GetMSPsGUIDsMap: ", 0), 0u)
            << e.what();
    }
    EXPECT_EQ(ReadFileBytes(m_ini), saved);
}

TEST_F(PatchManagerTest, FailureDuringTheFinalUpdateIsTracedAndTheFileKept) {
    msistate::ApplyPatch(kProductCode, {kPatchGuid, L":T"});
    auto book = Open();
    msistate::RemovePatch(kProductCode, kPatchGuid);
    const std::string saved = ReadFileBytes(m_ini);
    WriteFileBytes(m_patches + L"\\corrupt.msp", "not a package");
    TraceCapture trace;
    book.reset();
    EXPECT_EQ(ReadFileBytes(m_ini), saved);
    const auto records = trace.Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().level, "WRN");
    EXPECT_EQ(records.back().message.rfind("CPatchManager::GetMSPsGUIDsMap: ", 0), 0u)
        << records.back().message;
}

TEST_F(PatchManagerTest, WithCheckingCorruptAndUnsignedPackagesAreIgnored) {
    InstallKeyRegistries(m_product);
    WriteFileBytes(m_patches + L"\\corrupt.msp", "not a package");
    WriteFileBytes(m_patches + L"\\unsigned.msp", ReadFileBytes(UnsignedPackage()));
    msistate::SetPatchXmlOverride(
        L"<MsiPatch PatchGUID=\"{00000000-0000-0000-0000-0000000000BD}\"/>");
    Open(true).reset();
    EXPECT_TRUE(States().empty()) << "neither package reached the Windows Installer";

    // The signed package is taken into account; its GUID comes from the
    // package itself once the override is gone.
    ::DeleteFileW((m_patches + L"\\corrupt.msp").c_str());
    ::DeleteFileW((m_patches + L"\\unsigned.msp").c_str());
    msistate::ClearPatchXmlOverride();
    CUnpacker::ExtractResourceToFile(Package());
    Open(true).reset();
    EXPECT_EQ(States(), (IniSection{{kPatchGuid, kPatchStateNotInstalled}}));
}

TEST_F(PatchManagerTest, UnlistablePatchesRaiseWithTheOperationName) {
    const auto book = Open();
    msistate::ClearState();
    const struct {
        std::function<void()> call;
        const char* operation;
    } rows[] = {{[&] { book->UpdateConfig(); }, "CPatchManager::UpdateConfig: "},
                {[&] { book->IsPatchInstalled(kPatchGuid); }, "CPatchManager::IsPatchInstalled: "}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.operation);
        try {
            row.call();
            ADD_FAILURE() << "expected SystemError";
        } catch (const SystemError& e) {
            EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_UNKNOWN_PRODUCT));
            EXPECT_EQ(std::string(e.what()).rfind(row.operation, 0), 0u) << e.what();
        }
    }
    msistate::InstallProduct(kProductCode, zev::product::kProductUpgradeCode);
}
