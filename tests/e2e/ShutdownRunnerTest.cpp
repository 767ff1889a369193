// The shutdown runner reads what CShutdownScript registered, as Windows
// does at shutdown, and runs it.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/UniqueHandle.h"
#include "installer/system/GroupPolicyKeys.h"
#include "installer/system/ShutdownScript.h"
#include "tests/support/GroupPolicyState.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

using namespace zev::test;
namespace gp = hotfixer::gp;

namespace {

std::wstring Cmd() {
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\cmd.exe";
}

ProcessResult RunRunner(const std::wstring& args = L"") {
    ProcessResult run = RunProgram(HostPath(ZEV_SHUTDOWN_RUNNER), args, L"", 60000);
    std::erase(run.output, '\r');
    return run;
}

} // namespace

TEST(ShutdownRunner, RunsTheRegisteredScriptsInNumberOrder) {
    GroupPolicyState policy;
    TempDir dir;
    const std::wstring marker = dir / L"ran.txt";
    {
        // A script of someone else's whose program is gone, before ours.
        zev::UniqueHKey foreign;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                    (std::wstring(gp::kObjectKey) + L"\\0").c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, foreign.put(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring missing = dir / L"missing.exe";
        ::RegSetValueExW(foreign.get(), gp::kScript, 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(missing.c_str()),
                         static_cast<DWORD>((missing.size() + 1) * 2));
    }
    hotfixer::CShutdownScript script(Cmd());
    script.Create(L"/c echo ran %CD%> \"" + marker + L"\" ");

    const ProcessResult run = RunRunner();
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    const size_t missing = run.output.find("cannot start 0/0");
    const size_t ours = run.output.find("script 0/1: ");
    ASSERT_NE(missing, std::string::npos) << run.output;
    ASSERT_NE(ours, std::string::npos) << run.output;
    EXPECT_LT(missing, ours);
    EXPECT_NE(run.output.find("exit 0/1: 0"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("mismatch"), std::string::npos) << run.output;
    // The runner waited for the script: its output is complete.
    ASSERT_TRUE(FileExists(marker));
    EXPECT_EQ(ReadFileBytes(marker).rfind("ran ", 0), 0u);

    script.Delete();
    const ProcessResult after = RunRunner(L"/list");
    EXPECT_EQ(after.output.find("script 0/1"), std::string::npos) << after.output;
}

TEST(ShutdownRunner, ScriptsIniThatDisagreesWithTheKeysIsReported) {
    GroupPolicyState policy;
    hotfixer::CShutdownScript script(Cmd());
    script.Create(L"/c exit 0 ");
    ASSERT_TRUE(::WritePrivateProfileStringW(gp::kShutdownSection, L"0Parameters", L"/c exit 5",
                                             policy.ScriptsIni().c_str()));
    const ProcessResult run = RunRunner(L"/list");
    EXPECT_EQ(run.exitCode, 3u) << run.output;
    EXPECT_NE(run.output.find("mismatch 0/0"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("exit 0/0:"), std::string::npos) << "/list runs nothing";
    script.Delete();
}
