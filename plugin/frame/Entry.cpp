#include "plugin/frame/Entry.h"

#include "plugin/frame/BoundTables.h"
#include "plugin/frame/ExportHelpers.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/InterfaceTables.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/Registration.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/PathForms.h"

#include <windows.h>

namespace zev::wfsys {

using namespace zev::frame;

std::uint32_t SetProcessErrorMode(std::uint32_t mode) {
    return ::SetErrorMode(mode);
}

namespace {

void ReportMissingEssentials() {
    if (!g_kernel.fCreateFile)
        PluginTrace(g_root, kTraceError,
                    "wfsys\tCreateFile export pointer cannot be imported from the Windows kernel");
    if (!g_kernel.fFindFirstFile)
        PluginTrace(
            g_root, kTraceError,
            "wfsys\tFindFirstFile export pointer cannot be imported from the Windows kernel");
    if (!g_kernel.fFindNextFile)
        PluginTrace(
            g_root, kTraceError,
            "wfsys\tFindNextFile export pointer cannot be imported from the Windows kernel");
}

int Load(hOBJ root, Result* result) {
    g_root = root;
    LoadSettings();
    InitDriveMap();
    if (!LoadKernel()) {
        ClearSystemFunctions();
    } else {
        ResolveKernelFunctions();
        if (g_wideMode) {
            ResolveNativeFunctions();
            BindDirectReadTable();
        }
        ReportMissingEssentials();
    }
    RootOf(g_root).PublishExports(g_root, ExportTable(), kPidWfsys); // result not examined
    BindKernelTimeTable();

    struct Step {
        Result (*registerOne)();
        const char* failure;
    };
    static constexpr Step kSteps[] = {
        {RegisterOs, "wfsys\tcannot register \"OS\" interface"},
        {RegisterObjPtr, "wfsys\tcannot register \"ObjPtr\" interface"},
        {RegisterIo, "wfsys\tcannot register \"IO\" interface"},
    };
    for (const Step& step : kSteps) {
        const Result r = step.registerOne();
        if (result)
            *result = r;
        if (Failed(r)) {
            PluginTrace(g_root, kTraceError, step.failure);
            return 0;
        }
    }
    return 1;
}

} // namespace

int PluginEntry(hOBJ root, unsigned long reason, Result* result) {
    switch (reason) {
    case kReasonLoad:
        return Load(root, result);
    case kReasonUnload:
        FreeDriveMap();
        ReleaseKernel();
        return 1;
    case kReasonReleaseBindings:
        ReleaseBoundTables();
        return 1;
    default:
        return 1;
    }
}

} // namespace zev::wfsys
