// The frame's load step seen from inside: settings, function tables, bound
// tables, the trace helper and the release reasons. The frame is linked
// directly here so that its process-wide settings can be read; each test
// runs in a process of its own.
#include "host/Host.h"
#include "plugin/frame/BoundTables.h"
#include "plugin/frame/Entry.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace zev::frame;
using namespace zev::wfsys;
using zev::host::Host;

namespace {

/// Sets (or deletes) "ObCaseInsensitive" for one test and puts the value
/// that was there back afterwards.
class CaseSettingGuard {
public:
    CaseSettingGuard() {
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKernelSettingsKey, 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, m_key.put(), nullptr);
        DWORD value = 0;
        DWORD size = sizeof value;
        if (::RegQueryValueExW(m_key.get(), kCaseInsensitiveValue, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS)
            m_saved = value;
    }
    ~CaseSettingGuard() { Set(m_saved); }
    CaseSettingGuard(const CaseSettingGuard&) = delete;
    CaseSettingGuard& operator=(const CaseSettingGuard&) = delete;

    bool Set(std::optional<DWORD> value) {
        if (!value) {
            const LSTATUS rc = ::RegDeleteValueW(m_key.get(), kCaseInsensitiveValue);
            return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
        }
        return ::RegSetValueExW(m_key.get(), kCaseInsensitiveValue, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&*value),
                                sizeof(DWORD)) == ERROR_SUCCESS;
    }

private:
    zev::UniqueHKey m_key;
    std::optional<DWORD> m_saved;
};

DWORD WINAPI NarrowVersion() {
    return 0x80000004;
} // bit 31 set: not NT

int Load(Host& host, Result* result = nullptr) {
    Result local = 0;
    return PluginEntry(host.Root(), kReasonLoad, result ? result : &local);
}

void Unload() {
    Result ignored = 0;
    PluginEntry(g_root, kReasonReleaseBindings, &ignored);
    PluginEntry(g_root, kReasonUnload, &ignored);
}

TEST(FrameSettings, CaseSensitivityFollowsObCaseInsensitive) {
    CaseSettingGuard guard;
    struct Case {
        std::optional<DWORD> value;
        std::uint32_t caseSensitive;
    };
    const Case cases[] = {{std::nullopt, 0}, {0, 1}, {1, 0}, {7, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? std::to_string(*c.value) : std::string("missing"));
        ASSERT_TRUE(guard.Set(c.value));
        g_caseSensitiveNames = 0xDEAD;
        LoadSettings();
        EXPECT_EQ(1u, g_wideMode);
        EXPECT_EQ(kCodePageUtf16, g_codePage);
        EXPECT_EQ(c.caseSensitive, g_caseSensitiveNames);
    }
}

TEST(FrameSettings, NarrowModeTakesTheNarrowValues) {
    CaseSettingGuard guard;
    ASSERT_TRUE(guard.Set(0)); // would make names case-sensitive in wide mode
    g_versionQuery = NarrowVersion;
    Host host;
    EXPECT_EQ(1, Load(host));
    EXPECT_EQ(0u, g_wideMode);
    EXPECT_EQ(kCodePageSystem, g_codePage);
    EXPECT_EQ(0u, g_caseSensitiveNames);
    EXPECT_EQ(0u, g_nativeApi);
    EXPECT_EQ(0u, g_fsDirect);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    EXPECT_EQ(::GetProcAddress(kernel, "CreateFileA"), g_kernel.fCreateFile);
    EXPECT_EQ(nullptr, g_kernel.fMoveFileEx);
    EXPECT_EQ(nullptr, g_kernel.fGetVolumePathName);
    EXPECT_EQ(std::vector<std::string>{"e_ktime"}, host.BoundTables())
        << "narrow mode binds no direct-read table";
    Unload();
}

TEST(FrameSettings, WideModeResolvesKernelNativeAndSecurityFunctions) {
    Host host;
    ASSERT_EQ(1, Load(host));
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    EXPECT_EQ(::GetProcAddress(kernel, "CreateFileW"), g_kernel.fCreateFile);
    EXPECT_EQ(::GetProcAddress(kernel, "MoveFileExW"), g_kernel.fMoveFileEx);
    EXPECT_EQ(::GetProcAddress(kernel, "FindClose"), g_kernel.fFindClose);
    EXPECT_NE(nullptr, g_kernel.fGetVolumeNameForVolumeMountPoint);
    EXPECT_EQ(1u, g_nativeApi);
    EXPECT_NE(nullptr, g_native.NtQueryDirectoryFile);
    // advapi32.dll is loaded in this process (the test links it).
    EXPECT_NE(nullptr, g_security.GetFileSecurityW);
    EXPECT_EQ(1u, g_fsDirect);
    EXPECT_NE(nullptr, g_dateTimeCreate);
    EXPECT_NE(nullptr, g_dateTimeCalendar);
    ASSERT_NE(nullptr, g_platformQuery);
    EXPECT_EQ(kPlatformWindowsNt, g_platformQuery());
    Unload();
}

TEST(FrameSettings, DirectReadNeedsOpenCloseAndRead) {
    struct Case {
        std::uint32_t withheld;
        std::uint32_t fsDirect;
    };
    const Case cases[] = {
        {kFidFSDirectOpen, 0},
        {kFidFSDirectClose, 0},
        {kFidFSDirectRead, 0},
        {kFidFSDirectGetFileSize, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "withheld 0x" << c.withheld);
        Host host;
        host.WithholdExport(kPidDirectRead, c.withheld);
        EXPECT_EQ(1, Load(host)) << "loading succeeds";
        EXPECT_EQ(c.fsDirect, g_fsDirect);
        EXPECT_EQ(std::vector<std::string>({"import_table_fsdrv", "e_ktime"}), host.BoundTables());
        Unload();
    }
}

TEST(FrameSettings, ReleaseBindingsThenUnloadKernel) {
    Host host;
    ASSERT_EQ(1, Load(host));
    ASSERT_TRUE(HoldsKernel());
    ASSERT_NE(nullptr, FSDirectOpen);
    Result result = 0;
    EXPECT_EQ(1, PluginEntry(host.Root(), kReasonReleaseBindings, &result));
    EXPECT_TRUE(host.BoundTables().empty());
    EXPECT_EQ(nullptr, FSDirectOpen);
    EXPECT_EQ(nullptr, FSDirectRead);
    EXPECT_EQ(nullptr, g_platformQuery);
    EXPECT_TRUE(HoldsKernel()) << "102 leaves kernel32.dll alone";
    EXPECT_EQ(1, PluginEntry(host.Root(), kReasonUnload, &result));
    EXPECT_FALSE(HoldsKernel());
    EXPECT_EQ(3u, host.Registrations().size()) << "registrations are not touched";
}

TEST(FrameSettings, UnloadWithoutLoadDoesNothing) {
    Result result = 0x1234;
    EXPECT_EQ(1, PluginEntry(nullptr, kReasonUnload, &result));
    EXPECT_EQ(0x1234, result);
    EXPECT_FALSE(HoldsKernel());
    EXPECT_EQ(nullptr, g_root);
    EXPECT_EQ(1, PluginEntry(nullptr, kReasonReleaseBindings, &result));
}

TEST(PluginTraceHelper, WithoutARootWritesNothing) {
    Host host;
    ASSERT_EQ(nullptr, g_root);
    EXPECT_EQ(errUNEXPECTED, PluginTrace(host.Root(), 300, "wfsys\tnothing"));
    EXPECT_TRUE(host.Traces().empty());
}

TEST(PluginTraceHelper, GoesThroughTheLookedUpFormatter) {
    Host host;
    ASSERT_EQ(1, Load(host));
    host.ClearTraces();
    EXPECT_EQ(errOK, PluginTrace(g_root, 400, "wfsys\t%terr \"%s%S\" %tenum", errLOCKED, "",
                                 L"C:\\a", static_cast<const TraceFlags*>(nullptr)));
    ASSERT_EQ(1u, host.Traces().size());
    EXPECT_EQ("wfsys\terrLOCKED(0x8000004F) \"C:\\a\" (null)", host.Traces()[0].text);
    EXPECT_EQ(400u, host.Traces()[0].level);
    EXPECT_EQ(g_root, host.Traces()[0].object);
    Unload();
}

TEST(PluginTraceHelper, WithoutTheFormatterAnswersGenericFailure) {
    Host host;
    host.WithholdExport(kPidKernel, kFidTraceFormatter);
    ASSERT_EQ(1, Load(host)) << "a load without the formatter still registers";
    EXPECT_EQ(errUNEXPECTED, PluginTrace(g_root, 300, "wfsys\tlost"));
    EXPECT_TRUE(host.Traces().empty());
    Unload();
}

} // namespace
