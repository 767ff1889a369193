// hotfixer.exe run as an administrator or a deployment tool runs it, on a
// simulated machine: the product folder with its keys and the product
// service stand-in, the Windows Installer stand-ins, the machine's Group
// Policy shutdown scripts (saved and restored) and a scratch Windows folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>

#include "common/UniqueHandle.h"
#include "installer/PatchManager.h"
#include "installer/ProductUpgradeCode.h"
#include "installer/SystemUtils.h"
#include "installer/system/ConfigManager.h"
#include "installer/system/GroupPolicyKeys.h"
#include "installer/system/ShutdownScript.h"
#include "testbed/msi/InstallerState.h"
#include "tests/support/GroupPolicyState.h"
#include "tests/support/Process.h"
#include "tests/support/ProductStandIn.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using namespace zev::test;
namespace msistate = zev::msistate;
namespace gp = hotfixer::gp;

namespace {

std::wstring Wide(const char* text) {
    return std::wstring(text, text + strlen(text));
}

const std::wstring kPatchGuid = Wide(ZEV_TEST_PATCH_GUID);
const std::wstring kProductCode = Wide(ZEV_TEST_PRODUCT_CODE);
const std::string kBanner = "=== ZEV patcher hx318 ===\n";
const std::string kFinal = "\nZEV Patch successfully installed.";

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c < 0x80 ? c : '?');
    return out;
}

/// One registered shutdown script.
struct Registration {
    std::wstring script;
    std::wstring parameters;
};

class HotfixerMachine : public ::testing::Test {
protected:
    void SetUp() override {
        ::SetEnvironmentVariableW(msistate::kStateKeyVariable, m_msiState.path().c_str());
        ASSERT_EQ(msistate::InstallProduct(kProductCode, zev::product::kProductUpgradeCode), 0);
        for (const wchar_t* name : {L"al.pbv", L"oper.pbv"})
            ASSERT_TRUE(::CopyFileW((HostPath(ZEV_KEYS_DIR) + L"\\" + name).c_str(),
                                    (m_product / name).c_str(), FALSE));
        // The program runs from a folder of its own with the Windows
        // Installer stand-ins beside it, as msiexec is found there first.
        for (const char* built : {ZEV_HOTFIXER_EXE, ZEV_MSIEXEC_STANDIN, ZEV_MSI_STANDIN}) {
            const std::wstring from = HostPath(built);
            const std::wstring name = from.substr(from.find_last_of(L'\\') + 1);
            ASSERT_TRUE(::CopyFileW(from.c_str(), (m_bin / name).c_str(), FALSE)) << Narrow(from);
        }
        ASSERT_TRUE(m_product.StartService());
    }

    void TearDown() override { ::SetEnvironmentVariableW(msistate::kStateKeyVariable, nullptr); }

    std::wstring Hotfixer() const { return m_bin / L"hotfixer.exe"; }

    ProcessResult Run(const std::wstring& args, const std::wstring& exe = L"") {
        ProcessResult run = RunProgram(exe.empty() ? Hotfixer() : exe, args, m_bin.path(), 120000);
        std::erase(run.output, '\r');
        return run;
    }

    std::wstring PatchesFolder() const { return m_product / L"Patches"; }

    std::map<std::wstring, std::wstring> StateBook() const {
        hotfixer::IniSection section;
        hotfixer::CConfigManager((PatchesFolder() + L"\\Patches.ini").c_str())
            .GetSection(hotfixer::kPatchStateSection, section);
        return {section.begin(), section.end()};
    }

    bool Applied() const {
        for (const auto& patch : msistate::Patches(kProductCode))
            if (patch.guid == kPatchGuid)
                return true;
        return false;
    }

    /// The scripts of the local policy object, by key number.
    std::map<int, Registration> Registrations() const {
        std::map<int, Registration> out;
        zev::UniqueHKey object;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, gp::kObjectKey, 0, KEY_READ, object.put()) !=
            ERROR_SUCCESS)
            return out;
        std::map<int, std::wstring> keys;
        hotfixer::EnumScriptKeys(object.get(), keys);
        for (const auto& [number, name] : keys) {
            const std::wstring key = std::wstring(gp::kObjectKey) + L"\\" + name;
            out[number] = {ReadRegString(HKEY_LOCAL_MACHINE, key, gp::kScript).value_or(L""),
                           ReadRegString(HKEY_LOCAL_MACHINE, key, gp::kParameters).value_or(L"")};
        }
        return out;
    }

    /// The product journal's lines that carry a message of `msgClass`.
    size_t JournalCount(const std::string& text) const {
        const std::string journal = m_product.Journal();
        size_t n = 0;
        for (size_t at = journal.find(text); at != std::string::npos;
             at = journal.find(text, at + 1))
            ++n;
        return n;
    }

    std::wstring PrivateCopy() const { return PatchesFolder() + L"\\Private\\hotfixer.exe"; }

    /// Runs the registered shutdown scripts as Windows does at shutdown.
    /// The Windows Installer stand-ins are put beside the registered copy,
    /// where it finds them as it would find the system's own.
    ProcessResult Shutdown() {
        for (const char* built : {ZEV_MSIEXEC_STANDIN, ZEV_MSI_STANDIN}) {
            const std::wstring from = HostPath(built);
            const std::wstring name = from.substr(from.find_last_of(L'\\') + 1);
            ::CopyFileW(from.c_str(), (PatchesFolder() + L"\\Private\\" + name).c_str(), FALSE);
        }
        ProcessResult run = RunProgram(HostPath(ZEV_SHUTDOWN_RUNNER), L"", m_bin.path(), 180000);
        std::erase(run.output, '\r');
        return run;
    }

    GroupPolicyState m_policy;
    ScratchRegKey m_msiState;
    ProductStandIn m_product{ZEV_PRODUCT_TESTBED_DIR};
    TempDir m_bin;
};

} // namespace

TEST_F(HotfixerMachine, DefaultRunSchedulesAndTheShutdownRunAppliesThePatch) {
    const ProcessResult run = Run(L"");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output,
              kBanner + "Patches will be installed when the operating system restarts." + kFinal);

    // The copy is registered with the options that finish the job.
    EXPECT_TRUE(FileExists(PrivateCopy()));
    auto scripts = Registrations();
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0].script, PrivateCopy());
    EXPECT_EQ(scripts[0].parameters, L"/when now /clean ");
    EXPECT_FALSE(Applied());
    // The product was told that the operating system must restart.
    EXPECT_EQ(JournalCount("accept class=0x64e52db8"), 1u) << m_product.Journal();
    EXPECT_TRUE(StateBook().empty());

    // At shutdown the copy removes its registration and applies the patch.
    const ProcessResult shutdown = Shutdown();
    EXPECT_EQ(shutdown.exitCode, 0u) << shutdown.output;
    EXPECT_NE(shutdown.output.find("exit 0/0: 0"), std::string::npos) << shutdown.output;
    EXPECT_TRUE(Registrations().empty());
    EXPECT_TRUE(Applied());
    EXPECT_EQ(StateBook(), (std::map<std::wstring, std::wstring>{{kPatchGuid, L"installed"}}));
    EXPECT_TRUE(FileExists(m_product / L"ZAVEvaduRUD.log"));
}

TEST_F(HotfixerMachine, ApplyNowThenRemoveNow) {
    ProcessResult run = Run(L"/when now");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, kBanner +
                              "Preparing for installation of patches.Patches installed "
                              "successfully." +
                              kFinal);
    EXPECT_TRUE(Applied());
    EXPECT_TRUE(FileExists(PatchesFolder() + L"\\hx318.msp"));
    EXPECT_EQ(StateBook(), (std::map<std::wstring, std::wstring>{{kPatchGuid, L"installed"}}));
    EXPECT_TRUE(Registrations().empty());
    // Registered with the product; no restart asked for.
    EXPECT_EQ(JournalCount("accept class=0xae5e2ea3"), 1u) << m_product.Journal();
    EXPECT_EQ(JournalCount("accept class=0x64e52db8"), 0u) << m_product.Journal();

    run = Run(L"/when now /uninstall");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, kBanner + kFinal.substr(0));
    EXPECT_FALSE(Applied());
    EXPECT_EQ(StateBook(), (std::map<std::wstring, std::wstring>{{kPatchGuid, L"ignored"}}));
    const TraceLog trace = m_product.Trace();
    EXPECT_EQ(trace.Matching("CPatchRunner::UninstallPrivatePachesNow: Patches uninstalled").size(),
              1u);
}

TEST_F(HotfixerMachine, RemoveNowWithoutThePatchDoesNothing) {
    const ProcessResult run = Run(L"/when now /uninstall");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, kBanner + kFinal);
    EXPECT_FALSE(FileExists(m_product / L"ZAVEvaduRUD.log")); // msiexec never ran
    EXPECT_EQ(
        m_product.Trace()
            .Matching("CPatchRunner::UninstallPrivatePachesNow: Patch not installed. Nothing to "
                      "uninstall.")
            .size(),
        1u);
}

TEST_F(HotfixerMachine, UnknownWhenValueFails) {
    const ProcessResult run = Run(L"/when later");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.output, kBanner + "CPatchRunner::RunHotfixer: value of parameter /when");
    const TraceLog trace = m_product.Trace();
    const auto lines = trace.Matching("CPatchRunner::RunHotfixer: ");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, "ERR");
    EXPECT_NE(lines[0].message.find("/when later"), std::string::npos) << lines[0].message;
    // The final state-book update still ran.
    EXPECT_EQ(
        trace.Matching("CPatchManager::~CPatchManager: config-ini updated successfully.").size(),
        1u);
    EXPECT_TRUE(Registrations().empty());
}

TEST_F(HotfixerMachine, InstallerExitCodesDecideTheOutcome) {
    ASSERT_EQ(msistate::SetInjectedExitCode(1603), 0);
    ProcessResult run = Run(L"/when now");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.output,
              kBanner + "Preparing for installation of patches." +
                  hotfixer::ErrorText(1603, std::string("CPatchRunner::ApplyPrivatePachesNow")));
    EXPECT_FALSE(Applied());
    EXPECT_EQ(StateBook(), (std::map<std::wstring, std::wstring>{{kPatchGuid, L"not_installed"}}));

    for (DWORD success : {3010u, 1641u}) {
        ASSERT_EQ(msistate::SetInjectedExitCode(success), 0);
        run = Run(L"/when now");
        EXPECT_EQ(run.exitCode, 0u) << "msiexec exit " << success << ": " << run.output;
    }
}

TEST_F(HotfixerMachine, CleanDeletesTheOwnRegistrationBeforeScheduling) {
    hotfixer::CShutdownScript(Hotfixer()).Create(L"/when now /clean ");
    ASSERT_EQ(Registrations().size(), 1u);
    const ProcessResult run = Run(L"/clean");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    auto scripts = Registrations();
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0].script, PrivateCopy());
    EXPECT_EQ(scripts[0].parameters, L"/when now /clean  /clean ");
}

TEST_F(HotfixerMachine, ScheduledRemovalKeepsEveryOption) {
    ASSERT_EQ(Run(L"/when now").exitCode, 0u);
    const ProcessResult run = Run(L"/uninstall /showui");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, kBanner + kFinal); // removal prints no schedule text
    auto scripts = Registrations();
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0].parameters, L"/when now /showui  /uninstall  /clean ");
    EXPECT_TRUE(Applied());

    // The shutdown run removes the patch, with the installer's interface.
    const ProcessResult shutdown = Shutdown();
    EXPECT_EQ(shutdown.exitCode, 0u) << shutdown.output;
    EXPECT_FALSE(Applied());
    EXPECT_TRUE(Registrations().empty());
    EXPECT_EQ(StateBook(), (std::map<std::wstring, std::wstring>{{kPatchGuid, L"ignored"}}));
}

TEST_F(HotfixerMachine, ScheduledRemovalWithoutThePatchNeedsNothing) {
    const ProcessResult run = Run(L"/when reboot /uninstall");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, kBanner + kFinal);
    EXPECT_FALSE(FileExists(PrivateCopy()));
    EXPECT_TRUE(Registrations().empty());
    EXPECT_EQ(m_product.Trace().Matching("CPatchRunner::RunHotfixer: Need not do anything.").size(),
              1u);
}

TEST_F(HotfixerMachine, TamperedEmbeddedPackageIsRefusedBeforeMsiexecRuns) {
    // A copy of the program whose package lost its signature.
    const std::wstring tampered = m_bin / L"tampered.exe";
    ASSERT_TRUE(::CopyFileW(Hotfixer().c_str(), tampered.c_str(), FALSE));
    std::string package = ReadFileBytes(HostPath(ZEV_PATCH_PACKAGE));
    package[package.size() / 2] ^= 0x5A;
    HANDLE update = ::BeginUpdateResourceW(tampered.c_str(), FALSE);
    ASSERT_TRUE(update);
    ASSERT_TRUE(::UpdateResourceW(update, L"PATCHDATA", MAKEINTRESOURCEW(101),
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), package.data(),
                                  static_cast<DWORD>(package.size())));
    ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));

    const ProcessResult run = Run(L"/when now", tampered);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.output, kBanner + "Preparing for installation of patches." +
                              "CPatchRunner::ApplyPrivatePachesNow invalid MSP signature.");
    EXPECT_FALSE(Applied());
    EXPECT_FALSE(FileExists(m_product / L"ZAVEvaduRUD.log"));
    const TraceLog trace = m_product.Trace();
    EXPECT_EQ(trace.Matching("CPatchRunner::ApplyPrivatePachesNow: MSP-patch not signed.").size(),
              1u);
    EXPECT_TRUE(trace.Matching("Run msiexec").empty());
    // The refused package in the folder is not taken into the state book.
    EXPECT_TRUE(StateBook().empty());
}
