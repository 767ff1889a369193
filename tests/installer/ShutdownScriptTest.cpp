// Shutdown-script registration against the real registry (the machine's
// policy keys are saved and put back by GroupPolicyState) and a
// "scripts.ini" under a scratch Windows folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <versionhelpers.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "common/UniqueHandle.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"
#include "installer/system/GroupPolicyKeys.h"
#include "installer/system/ShutdownScript.h"
#include "tests/support/GroupPolicyState.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using namespace hotfixer;
using namespace zev::test;

namespace {

constexpr wchar_t kOurs[] = L"C:\\Product\\Patches\\Private\\hotfixer.exe";
constexpr wchar_t kParams[] = L"/when now /clean ";

std::wstring Sub(const std::wstring& parent, const std::wstring& child) {
    return parent + L"\\" + child;
}

/// Subkey names of a key, in the registry's order.
std::vector<std::wstring> Subkeys(const std::wstring& path) {
    std::vector<std::wstring> names;
    zev::UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()))
        return names;
    wchar_t name[260];
    for (DWORD i = 0;; ++i) {
        DWORD length = 260;
        if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr))
            return names;
        names.push_back(name);
    }
}

std::optional<std::wstring> Script(const std::wstring& parent, const std::wstring& name) {
    return ReadRegString(HKEY_LOCAL_MACHINE, Sub(parent, name), gp::kScript);
}

/// The entries of the section "Shutdown", in file order, as written (the
/// profile functions would trim the values).
std::vector<std::wstring> IniShutdown(const std::wstring& ini) {
    std::vector<std::wstring> entries;
    if (!FileExists(ini))
        return entries;
    const std::string bytes = ReadFileBytes(ini);
    bool inSection = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[')
            inSection = line == "[Shutdown]";
        else if (inSection && !line.empty())
            entries.emplace_back(line.begin(), line.end());
    }
    return entries;
}

/// The process's trace file, as a full path.
std::wstring TracePath() {
    wchar_t full[MAX_PATH * 2] = {};
    ::GetFullPathNameW(TraceFile::Instance().GetPath().c_str(), MAX_PATH * 2, full, nullptr);
    return full;
}

size_t TraceMark() {
    return ReadTraceLog(TracePath()).records.size();
}

/// Messages traced at `level` since `mark`.
std::vector<std::string> TracedSince(size_t mark, const std::string& level) {
    const TraceLog log = ReadTraceLog(TracePath());
    std::vector<std::string> out;
    for (size_t i = mark; i < log.records.size(); ++i)
        if (log.records[i].level == level)
            out.push_back(log.records[i].message);
    return out;
}

/// Windows 6.0 or later, asked another way than the code under test does.
bool WindowsHasNewLayout() {
    return ::IsWindowsVistaOrGreater();
}

class ShutdownScriptTest : public ::testing::Test {
protected:
    /// A script key written by someone else.
    static void AddForeign(int number, const std::wstring& script) {
        zev::UniqueHKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                    Sub(gp::kObjectKey, IntToHex(number)).c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring params = L"/p" + std::to_wstring(number);
        ::RegSetValueExW(key.get(), gp::kScript, 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(script.c_str()),
                         static_cast<DWORD>((script.size() + 1) * 2));
        ::RegSetValueExW(key.get(), gp::kParameters, 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(params.c_str()),
                         static_cast<DWORD>((params.size() + 1) * 2));
    }

    GroupPolicyState m_gp;
};

} // namespace

TEST_F(ShutdownScriptTest, FirstScriptOnCleanMachine) {
    CShutdownScript script(kOurs);
    EXPECT_EQ(script.NewLayout(), WindowsHasNewLayout());
    script.Create(kParams);

    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, gp::kObjectKey, gp::kFileSysPath),
              m_gp.PolicyFolder());
    EXPECT_EQ(Subkeys(gp::kObjectKey), std::vector<std::wstring>{L"0"});
    const std::wstring key0 = Sub(gp::kObjectKey, L"0");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key0, gp::kScript), kOurs);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key0, gp::kParameters), kParams);
    DWORD type = 0, value = 0xdeadbeef, size = sizeof(value);
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, key0.c_str(), gp::kIsPowershell, RRF_RT_ANY, &type,
                             &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 0u);

    // The mirror of the running Windows holds a copy of the whole tree.
    const std::wstring mirror = script.MirrorKey();
    EXPECT_EQ(Script(mirror, L"0\\0"), kOurs);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, Sub(mirror, L"0"), gp::kFileSysPath),
              m_gp.PolicyFolder());
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE,
                              script.NewLayout() ? gp::kMirrorOldLayout : gp::kMirrorNewLayout));

    EXPECT_EQ(IniShutdown(m_gp.ScriptsIni()),
              (std::vector<std::wstring>{std::wstring(L"0CmdLine=") + kOurs,
                                         std::wstring(L"0Parameters=") + kParams}));
}

TEST_F(ShutdownScriptTest, ForeignScriptsAreKeptAndReported) {
    AddForeign(0, L"C:\\a.exe");
    AddForeign(1, L"C:\\b.cmd");
    CShutdownScript script(kOurs);
    script.Create(kParams);
    EXPECT_EQ(Script(gp::kObjectKey, L"2"), kOurs);
    EXPECT_EQ(IniShutdown(m_gp.ScriptsIni()).size(), 6u);

    const size_t mark = TraceMark();
    script.Delete();
    EXPECT_EQ(Subkeys(gp::kObjectKey), (std::vector<std::wstring>{L"0", L"1"}));
    EXPECT_EQ(Script(gp::kObjectKey, L"0"), L"C:\\a.exe");
    EXPECT_EQ(Script(gp::kObjectKey, L"1"), L"C:\\b.cmd");
    EXPECT_EQ(TracedSince(mark, "ERR"),
              (std::vector<std::string>{"CShutdownScript::Delete: skip remove of 'C:\\a.exe'",
                                        "CShutdownScript::Delete: skip remove of 'C:\\b.cmd'"}));
    EXPECT_EQ(IniShutdown(m_gp.ScriptsIni()),
              (std::vector<std::wstring>{L"0CmdLine=C:\\a.exe", L"0Parameters=/p0",
                                         L"1CmdLine=C:\\b.cmd", L"1Parameters=/p1"}));
}

TEST_F(ShutdownScriptTest, DeletingTheFirstOfThreeShiftsTheOthersDown) {
    CShutdownScript script(kOurs);
    script.Create(kParams);
    AddForeign(1, L"C:\\b.exe");
    AddForeign(2, L"C:\\c.exe");

    script.Delete();
    EXPECT_EQ(Subkeys(gp::kObjectKey), (std::vector<std::wstring>{L"0", L"1"}));
    EXPECT_EQ(Script(gp::kObjectKey, L"0"), L"C:\\b.exe");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, Sub(gp::kObjectKey, L"0"), gp::kParameters),
              L"/p1");
    EXPECT_EQ(Script(gp::kObjectKey, L"1"), L"C:\\c.exe");
    EXPECT_EQ(Subkeys(Sub(script.MirrorKey(), L"0")), (std::vector<std::wstring>{L"0", L"1"}));
    EXPECT_EQ(Script(script.MirrorKey(), L"0\\1"), L"C:\\c.exe");
    EXPECT_EQ(IniShutdown(m_gp.ScriptsIni()),
              (std::vector<std::wstring>{L"0CmdLine=C:\\b.exe", L"0Parameters=/p1",
                                         L"1CmdLine=C:\\c.exe", L"1Parameters=/p2"}));
}

TEST(ShutdownScriptNumbers, FirstFreeNumberIsTheFirstGap) {
    struct Row {
        std::vector<int> keys;
        int expected;
    };
    std::vector<int> sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen.push_back(i);
    const Row rows[] = {{{}, 0}, {{0, 2}, 1}, {{1, 2}, 0}, {{0, 1, 2}, 3}, {sixteen, 16}};
    for (const Row& row : rows) {
        ScratchRegKey scratch;
        for (int k : row.keys)
            scratch.SetDword(L"x", 1, IntToHex(k));
        SCOPED_TRACE(::testing::Message() << "keys: " << row.keys.size());
        EXPECT_EQ(CShutdownScript::FindFreeKeyNumber(scratch.key()), row.expected);
    }
}

TEST_F(ShutdownScriptTest, KeysPastNineAndPastFifteenAreNumberedInHexadecimal) {
    for (int i = 0; i < 10; ++i)
        AddForeign(i, L"C:\\f" + std::to_wstring(i) + L".exe");
    CShutdownScript ours(kOurs);
    ours.Create(kParams);
    EXPECT_EQ(Script(gp::kObjectKey, L"a"), kOurs);

    // "10" is listed by the registry before "2"; numbering still follows
    // the numbers.
    for (int i = 11; i < 16; ++i)
        AddForeign(i, L"C:\\f" + std::to_wstring(i) + L".exe");
    CShutdownScript other(L"C:\\other.exe");
    other.Create(L"");
    EXPECT_EQ(Script(gp::kObjectKey, L"10"), L"C:\\other.exe");
    EXPECT_EQ(Script(gp::kObjectKey, L"2"), L"C:\\f2.exe");
    const std::vector<std::wstring> ini = IniShutdown(m_gp.ScriptsIni());
    ASSERT_EQ(ini.size(), 34u);
    EXPECT_EQ(ini[20], std::wstring(L"aCmdLine=") + kOurs);
    EXPECT_EQ(ini[32], L"10CmdLine=C:\\other.exe");

    ours.Delete();
    EXPECT_EQ(Subkeys(gp::kObjectKey).size(), 16u);
    EXPECT_EQ(Script(gp::kObjectKey, L"a"), L"C:\\f11.exe");
    EXPECT_EQ(Script(gp::kObjectKey, L"f"), L"C:\\other.exe");
    EXPECT_EQ(IniShutdown(m_gp.ScriptsIni()).size(), 32u);
}

TEST_F(ShutdownScriptTest, CreatingTwiceLeavesOneKey) {
    CShutdownScript script(kOurs);
    script.Create(L"/first ");
    // The same program under another case is the same script.
    CShutdownScript again(L"c:\\product\\patches\\private\\HOTFIXER.EXE");
    again.Create(L"/second ");
    EXPECT_EQ(Subkeys(gp::kObjectKey), std::vector<std::wstring>{L"0"});
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, Sub(gp::kObjectKey, L"0"), gp::kParameters),
              L"/second ");
}

TEST_F(ShutdownScriptTest, DeletingTheOnlyScriptRemovesTheObjectKey) {
    CShutdownScript script(kOurs);
    script.Create(kParams);
    script.Delete();
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, gp::kObjectKey));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, gp::kStateRoot));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, script.MirrorKey()));
    EXPECT_TRUE(Subkeys(script.MirrorKey()).empty());
    EXPECT_TRUE(IniShutdown(m_gp.ScriptsIni()).empty());
    EXPECT_NE(ReadFileBytes(m_gp.ScriptsIni()).find("[Shutdown]"), std::string::npos);
}

TEST_F(ShutdownScriptTest, OtherLayoutMirrorsUnderThePolicyKey) {
    const bool other = !WindowsHasNewLayout();
    CShutdownScript script(kOurs, other);
    script.Create(kParams);
    const std::wstring mirror = other ? gp::kMirrorNewLayout : gp::kMirrorOldLayout;
    EXPECT_EQ(script.MirrorKey(), mirror);
    EXPECT_EQ(Script(mirror, L"0\\0"), kOurs);
    EXPECT_FALSE(
        RegKeyExists(HKEY_LOCAL_MACHINE, other ? gp::kMirrorOldLayout : gp::kMirrorNewLayout));
    script.Delete();
    EXPECT_TRUE(Subkeys(mirror).empty());
}

TEST_F(ShutdownScriptTest, DeleteWithoutRegistrationChangesNothing) {
    CShutdownScript script(kOurs);
    EXPECT_NO_THROW(script.Delete());
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, script.MirrorKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, gp::kObjectKey));
    EXPECT_FALSE(FileExists(m_gp.ScriptsIni()));
}

// ------------------------------------------------------------------- faults

namespace {

void ExpectSystemError(const std::function<void()>& action, const std::string& operation) {
    try {
        action();
        ADD_FAILURE() << "expected SystemError from " << operation;
    } catch (const SystemError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(operation + ": ", 0), 0u) << e.what();
        EXPECT_NE(e.code(), 0u);
    }
}

/// A key that takes no lasting subkeys: every write below it fails.
void CreateVolatile(const std::wstring& path) {
    zev::UniqueHKey key;
    DWORD disposition = 0;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, key.put(), &disposition),
              ERROR_SUCCESS);
    ASSERT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
}

} // namespace

TEST_F(ShutdownScriptTest, ScriptKeyThatCannotBeWrittenLeavesNothingBehind) {
    CreateVolatile(gp::kObjectKey);
    CShutdownScript script(kOurs);
    ExpectSystemError([&] { script.Create(kParams); }, "CShutdownScript::CreateShutdownScript");
    EXPECT_TRUE(Subkeys(gp::kObjectKey).empty());
    EXPECT_NO_THROW(script.Delete());
}

TEST_F(ShutdownScriptTest, MirrorThatCannotBeWrittenIsCleanedUpByDelete) {
    const std::wstring mirrorParent =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\Scripts";
    if (RegKeyExists(HKEY_LOCAL_MACHINE, mirrorParent))
        GTEST_SKIP() << "the mirror's parent exists on this machine";
    CreateVolatile(mirrorParent);
    CShutdownScript script(kOurs, true);
    ExpectSystemError([&] { script.Create(kParams); }, "CShutdownScript::SynchronizePoliciesKeys");
    EXPECT_EQ(Script(gp::kObjectKey, L"0"), kOurs);

    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, mirrorParent.c_str());
    script.Delete();
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, gp::kObjectKey));
    EXPECT_TRUE(Subkeys(gp::kMirrorNewLayout).empty());
}

TEST_F(ShutdownScriptTest, ScriptsIniThatCannotBeWrittenIsCleanedUpByDelete) {
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, m_gp.ScriptsIni().c_str(), nullptr), ERROR_SUCCESS);
    CShutdownScript script(kOurs);
    ExpectSystemError([&] { script.Create(kParams); }, "CShutdownScript::UpdateScriptIni");
    EXPECT_EQ(Script(gp::kObjectKey, L"0"), kOurs);

    RemoveTree(m_gp.ScriptsIni());
    script.Delete();
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, gp::kObjectKey));
    EXPECT_TRUE(IniShutdown(m_gp.ScriptsIni()).empty());
}
