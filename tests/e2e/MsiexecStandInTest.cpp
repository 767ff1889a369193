// The msiexec.exe stand-in as its own process: it takes exactly the apply
// and removal command lines of the installer, refuses everything else with
// its usage, appends to its log and changes the installed-products state.
#include <gtest/gtest.h>

#include "installer/ProductUpgradeCode.h"
#include "testbed/msi/InstallerState.h"
#include "tests/support/Process.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"

using namespace zev::test;
namespace msistate = zev::msistate;

namespace {

std::wstring Wide(const char* text) {
    return std::wstring(text, text + strlen(text));
}

const std::wstring kPatchGuid = Wide(ZEV_TEST_PATCH_GUID);
const std::wstring kProduct = Wide(ZEV_TEST_PRODUCT_CODE);

class MsiexecStandIn : public ::testing::Test {
protected:
    MsiexecStandIn() {
        ::SetEnvironmentVariableW(msistate::kStateKeyVariable, m_key.path().c_str());
        msistate::InstallProduct(kProduct, zev::product::kProductUpgradeCode);
        m_package = m_dir / L"hx318.msp";
        WriteFileBytes(m_package, ReadFileBytes(HostPath(ZEV_PATCH_PACKAGE)));
    }
    ~MsiexecStandIn() override { ::SetEnvironmentVariableW(msistate::kStateKeyVariable, nullptr); }

    ProcessResult Run(const std::wstring& args) const {
        return RunProgram(HostPath(ZEV_MSIEXEC_STANDIN), args, m_dir.path());
    }
    std::wstring Apply() const {
        return L"/qn /lv+* \"" + (m_dir / L"log.txt") + L"\" /update \"" + m_package +
               L"\" INSTALLONREBOOT=1";
    }
    std::wstring Remove(const std::wstring& guid) const {
        return L"/package " + kProduct + L" /uninstall " + guid + L" /lv+* \"" +
               (m_dir / L"log.txt") + L"\" /qn INSTALLONREBOOT=1";
    }
    size_t Applied() const { return msistate::Patches(kProduct).size(); }

    ScratchRegKey m_key;
    TempDir m_dir;
    std::wstring m_package;
};

} // namespace

TEST_F(MsiexecStandIn, RefusesOtherCommandLinesWithItsUsage) {
    const std::wstring log = L" /lv+* \"x.log\"";
    const std::wstring rows[] = {
        L"",
        L"/i product.msi /qn",
        L"/p \"" + m_package + L"\" /qn",
        L"/qn /lv+* \"x.log\" /update \"" + m_package + L"\"",
        L"/lv+* \"x.log\" /qn /update \"" + m_package + L"\" INSTALLONREBOOT=1",
        L"/qn /lv+* \"x.log\" /update \"" + m_package + L"\" INSTALLONREBOOT=1 REBOOT=R",
        L"/package " + kProduct + L" /uninstall " + kPatchGuid + L" /qn" + log +
            L" INSTALLONREBOOT=1",
        L"/package " + kProduct + L" /uninstall" + log + L" /qn INSTALLONREBOOT=1",
        L"/package product /uninstall " + kPatchGuid + log + L" /qn INSTALLONREBOOT=1",
    };
    for (const std::wstring& args : rows) {
        SCOPED_TRACE(std::string(args.begin(), args.end()));
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.exitCode, static_cast<DWORD>(ERROR_INVALID_COMMAND_LINE));
        EXPECT_NE(r.output.find("Usage:"), std::string::npos) << r.output;
        EXPECT_FALSE(FileExists(m_dir / L"x.log"));
    }
    EXPECT_EQ(Applied(), 0u);
}

TEST_F(MsiexecStandIn, AppliesAndRemovesAndAppendsToTheLog) {
    ASSERT_EQ(Run(Apply()).exitCode, 0u);
    const auto patches = msistate::Patches(kProduct);
    ASSERT_EQ(patches.size(), 1u);
    EXPECT_EQ(patches[0].guid, kPatchGuid);
    EXPECT_EQ(patches[0].transforms, L":Z318Upd;:#Z318Upd");

    EXPECT_EQ(Run(Remove(kPatchGuid)).exitCode, 0u);
    EXPECT_EQ(Applied(), 0u);
    EXPECT_EQ(Run(Remove(kPatchGuid)).exitCode, 1647u) << "the patch is no longer applied";

    const std::string log = ReadFileBytes(m_dir / L"log.txt");
    size_t runs = 0;
    for (size_t at = log.find("Verbose logging started"); at != std::string::npos;
         at = log.find("Verbose logging started", at + 1))
        ++runs;
    EXPECT_EQ(runs, 3u) << log;
    EXPECT_NE(log.find("MainEngineThread is returning 1647"), std::string::npos) << log;
}

TEST_F(MsiexecStandIn, InjectedAndInstallerErrors) {
    msistate::SetInjectedExitCode(1603);
    EXPECT_EQ(Run(Apply()).exitCode, 1603u);
    EXPECT_EQ(Applied(), 0u);
    msistate::SetInjectedExitCode(0);

    WriteFileBytes(m_package, "not a package");
    EXPECT_EQ(Run(Apply()).exitCode, static_cast<DWORD>(ERROR_PATCH_PACKAGE_INVALID));

    msistate::ClearState();
    EXPECT_EQ(Run(Remove(kPatchGuid)).exitCode, static_cast<DWORD>(ERROR_UNKNOWN_PRODUCT));
}
