#include "tests/plugin/PluginFixture.h"

#include "plugin/frame/PropertyIds.h"
#include "tests/support/Process.h"

namespace zev::test {

using namespace zev::frame;

std::wstring PluginModulePath() {
    return HostPath(ZEV_WFSYS_PATH);
}

void LoadedPlugin::SetUp() {
    const host::Host::LoadOutcome outcome = m_host.LoadPlugin(PluginModulePath());
    ASSERT_EQ(0u, outcome.windowsError) << "the module did not load";
    ASSERT_EQ(1, outcome.returned) << std::hex << outcome.result;
}

void LoadedPlugin::TearDown() {
    m_host.UnloadPlugins();
    if (m_checkHeap) {
        EXPECT_EQ(0u, m_host.LiveBlocks()) << "framework-heap blocks left behind";
        EXPECT_EQ(0u, m_host.BadFrees()) << "blocks freed twice or not from the heap";
    }
}

Result LoadedPlugin::CreateObject(const Setup& setup, hOBJ* out) {
    *out = nullptr;
    hOBJ obj = nullptr;
    Result r =
        m_host.Create(setup.parent ? setup.parent : m_host.Root(), &obj, setup.iid, kPidWfsys);
    if (Failed(r))
        return r;
    if (!setup.fullName.empty())
        r = m_host.SetWide(obj, kPropFullName, setup.fullName);
    for (const auto& [id, value] : setup.dwords)
        if (Succeeded(r))
            r = m_host.SetDWord(obj, id, value);
    if (Succeeded(r))
        r = m_host.CreateDone(obj);
    if (Failed(r)) {
        m_host.Close(obj);
        return r;
    }
    *out = obj;
    return r;
}

} // namespace zev::test
