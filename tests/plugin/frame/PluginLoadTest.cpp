// wfsys.vpm loaded through the framework host: registrations, bound tables,
// exports and the failure paths of the load.
#include "host/Host.h"
#include "plugin/frame/ExportIds.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/RegistrationValues.h"
#include "tests/plugin/PluginFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zev::frame;
using zev::host::DirectReadMode;
using zev::host::Host;

namespace {

bool HasTrace(const Host& host, std::uint32_t level, const std::string& text) {
    for (const auto& line : host.Traces())
        if (line.level == level && line.text == text)
            return true;
    return false;
}

std::string TraceDump(const Host& host) {
    std::string dump;
    for (const auto& line : host.Traces())
        dump += std::to_string(line.level) + " " + line.text + "\n";
    return dump;
}

TEST(PluginLoad, RegistersTheThreeInterfacesWithTheirValues) {
    Host host;
    const Host::LoadOutcome outcome = host.LoadPlugin(zev::test::PluginModulePath());
    ASSERT_EQ(0u, outcome.windowsError);
    EXPECT_EQ(1, outcome.returned);
    EXPECT_EQ(errOK, outcome.result);

    struct Expected {
        const char* name;
        std::uint32_t iid, internal, methods, properties, data;
    };
    const Expected expected[] = {
        {"OS", IID_OS, 0, 5, 11, 4},
        {"ObjPtr", IID_OBJPTR, 12, 10, 36, 784},
        {"IO", IID_IO, 12, 5, 47, 280},
    };
    const auto& regs = host.Registrations();
    ASSERT_EQ(std::size(expected), regs.size());
    for (std::size_t i = 0; i < regs.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        const auto& r = regs[i];
        EXPECT_EQ(expected[i].iid, r.iid);
        EXPECT_EQ(kPidWfsys, r.pid);
        EXPECT_EQ(0u, r.subtype);
        EXPECT_EQ(2u, r.version);
        EXPECT_EQ(100u, r.value);
        EXPECT_EQ(expected[i].internal, r.internalCount);
        EXPECT_EQ(expected[i].internal == 0, r.internalTable == nullptr);
        EXPECT_EQ(expected[i].methods, r.methodCount);
        EXPECT_EQ(expected[i].properties, r.propertyCount);
        EXPECT_EQ(expected[i].data, r.dataSize);
        EXPECT_EQ(0u, r.flags);
    }

    EXPECT_EQ((std::vector<std::string>{"import_table_fsdrv", "e_ktime"}), host.BoundTables());
    EXPECT_TRUE(HasTrace(host, 600, "wfsys\timport_table_fsdrv exports imported"))
        << TraceDump(host);
    for (const auto& line : host.Traces())
        EXPECT_GT(line.level, 300u) << "nothing is missing under Wine: " << line.text;
}

using PluginServices = zev::test::LoadedPlugin;

TEST_F(PluginServices, PublishesItsExportsAndServesOsObjects) {
    auto setErrorMode = reinterpret_cast<std::uint32_t (*)(std::uint32_t)>(
        m_host.LookupExport(kPidWfsys, kFidSetErrorMode));
    ASSERT_NE(nullptr, setErrorMode);
    const UINT before = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    EXPECT_EQ(static_cast<std::uint32_t>(SEM_FAILCRITICALERRORS),
              setErrorMode(SEM_NOOPENFILEERRORBOX));
    EXPECT_EQ(static_cast<UINT>(SEM_NOOPENFILEERRORBOX), ::SetErrorMode(before));

    hOBJ os = nullptr;
    ASSERT_EQ(errOK, CreateObject({IID_OS, L"", {}, nullptr}, &os));
    EXPECT_EQ(L"Win32 native file system", m_host.GetWide(os, kPropName).value_or(L"?"));
    EXPECT_EQ(L"win32 object system interface",
              m_host.GetWide(os, kPropDescription).value_or(L"?"));
    EXPECT_EQ(static_cast<std::uint32_t>(kCodePageSystem), m_host.GetDWord(os, kPropCodePage));
    EXPECT_EQ(2u, m_host.GetDWord(os, kPropVersion));
    EXPECT_EQ(260u, m_host.GetDWord(os, 0x20401000));
    EXPECT_EQ(0u, m_host.GetDWord(os, kPropWinError));
    EXPECT_EQ(errACCESS_DENIED, m_host.SetDWord(os, kPropWinError, 5)) << "read-only field";
    EXPECT_EQ(errOK, m_host.Close(os));

    // A failing step closes the new object: OS objects have no full name.
    hOBJ unused = nullptr;
    EXPECT_EQ(errPROPERTY_NOT_IMPLEMENTED, CreateObject({IID_OS, L"C:\\x", {}, nullptr}, &unused));
    EXPECT_EQ(nullptr, unused);
}

TEST(PluginLoad, FailingOsRegistrationStopsTheSequence) {
    Host host;
    host.FailRegistration(IID_OS, errOBJECT_ALREADY_EXISTS);
    const Host::LoadOutcome outcome = host.LoadPlugin(zev::test::PluginModulePath());
    EXPECT_EQ(0, outcome.returned);
    EXPECT_EQ(errOBJECT_ALREADY_EXISTS, outcome.result);
    ASSERT_EQ(1u, host.Registrations().size()) << "neither ObjPtr nor IO is registered";
    EXPECT_EQ(IID_OS, host.Registrations()[0].iid);
    EXPECT_TRUE(HasTrace(host, 200, "wfsys\tOS(IID_OS) registered [error = 0x800000D1]"))
        << TraceDump(host);
    EXPECT_TRUE(HasTrace(host, 300, "wfsys\tcannot register \"OS\" interface"));
    hOBJ io = nullptr;
    EXPECT_EQ(errNOT_FOUND, host.Create(host.Root(), &io, IID_IO, kPidWfsys));
}

TEST(PluginLoad, LaterRegistrationFailuresTraceTheirOwnLines) {
    struct Case {
        std::uint32_t iid;
        std::size_t attempted;
        const char* own;
        const char* entry;
    };
    const Case cases[] = {
        {IID_OBJPTR, 2, "wfsys\tObjPtr(IID_OBJPTR) registered [error=0x800000c0]",
         "wfsys\tcannot register \"ObjPtr\" interface"},
        {IID_IO, 3, "wfsys\tIO(IID_IO) registered [errOBJECT_BAD_STATE(0x800000C0)]",
         "wfsys\tcannot register \"IO\" interface"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        Host host;
        host.FailRegistration(c.iid, errOBJECT_BAD_STATE);
        const Host::LoadOutcome outcome = host.LoadPlugin(zev::test::PluginModulePath());
        EXPECT_EQ(0, outcome.returned);
        EXPECT_EQ(errOBJECT_BAD_STATE, outcome.result);
        EXPECT_EQ(c.attempted, host.Registrations().size());
        EXPECT_TRUE(HasTrace(host, 200, c.own)) << TraceDump(host);
        EXPECT_TRUE(HasTrace(host, 300, c.entry));
    }
}

TEST(PluginLoad, WithoutTheDirectReadDriverTheModuleStillLoads) {
    Host host;
    host.SetDirectRead(DirectReadMode::Absent);
    EXPECT_EQ(1, host.LoadPlugin(zev::test::PluginModulePath()).returned);
    EXPECT_TRUE(HasTrace(host, 300, "wfsys\timport_table_fsdrv exports cannot be imported"))
        << TraceDump(host);
    EXPECT_EQ(std::vector<std::string>{"e_ktime"}, host.BoundTables());
    EXPECT_EQ(3u, host.Registrations().size());
}

TEST(PluginLoad, ReasonsReleaseBindingsThenUnload) {
    Host host;
    ASSERT_EQ(1, host.LoadPlugin(zev::test::PluginModulePath()).returned);
    Result result = 0;
    EXPECT_EQ(1, host.CallEntry(kReasonReleaseBindings, &result));
    EXPECT_TRUE(host.BoundTables().empty());
    EXPECT_EQ(3u, host.Registrations().size()) << "registrations stay";
    EXPECT_NE(nullptr, host.LookupExport(kPidWfsys, kFidSetErrorMode)) << "exports stay";
    EXPECT_EQ(1, host.CallEntry(kReasonUnload, &result));
    EXPECT_EQ(1, host.CallEntry(4711, &result)) << "other reasons answer 1";
}

TEST(PluginLoad, RootLoadsAProxyStubModuleByName) {
    Host host;
    std::string narrow;
    for (wchar_t c : zev::test::PluginModulePath())
        narrow += static_cast<char>(c); // the build path is ASCII
    const RootMethods& root = RootOf(host.Root());
    EXPECT_EQ(errOK,
              root.LoadProxyStub(host.Root(), 0, narrow.c_str(),
                                 static_cast<std::uint32_t>(narrow.size()), kCodePageSystem));
    EXPECT_EQ(3u, host.Registrations().size());
    EXPECT_EQ(errREMOTE_LOAD_FAILED,
              root.LoadProxyStub(host.Root(), 0, "no-such-stub.vpm", 0, kCodePageSystem));
}

} // namespace
