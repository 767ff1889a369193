#include "plugin/frame/Registration.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/InterfaceTables.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/RegistrationValues.h"
#include "plugin/frame/Settings.h"

namespace zev::wfsys {

using namespace zev::frame;

namespace {

Result Register(std::uint32_t iid, const InterfaceTables& t) {
    return RootOf(g_root).RegisterInterface(
        g_root, iid, kPidWfsys, kRegSubtype, kRegVersion, kRegValue, t.internal, t.internalCount,
        t.methods, t.methodCount, t.properties, t.propertyCount, t.dataSize, kRegFlags);
}

} // namespace

Result RegisterOs() {
    const Result r = Register(IID_OS, OsTables());
    if (Failed(r))
        PluginTrace(g_root, kTraceRegistration, "wfsys\tOS(IID_OS) registered [error = 0x%08X]", r);
    return r;
}

Result RegisterObjPtr() {
    const Result r = Register(IID_OBJPTR, ObjPtrTables());
    if (Failed(r))
        PluginTrace(g_root, kTraceRegistration,
                    "wfsys\tObjPtr(IID_OBJPTR) registered [error=0x%08x]", r);
    return r;
}

Result RegisterIo() {
    const Result r = Register(IID_IO, IoTables());
    if (Failed(r))
        PluginTrace(g_root, kTraceRegistration, "wfsys\tIO(IID_IO) registered [%terr]", r);
    return r;
}

} // namespace zev::wfsys
