#include "plugin/frame/BoundTables.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/Settings.h"

#include <iterator>

namespace zev::wfsys {

using namespace zev::frame;

FSDirectOpenFn FSDirectOpen = nullptr;
FSDirectCloseFn FSDirectClose = nullptr;
FSDirectReadFn FSDirectRead = nullptr;
FSDirectGetFileSizeFn FSDirectGetFileSize = nullptr;
FSDirectGetFileInfoFn FSDirectGetFileInfo = nullptr;

DateTimeCreateFn g_dateTimeCreate = nullptr;
DateTimeCalendarFn g_dateTimeCalendar = nullptr;
PlatformQueryFn g_platformQuery = nullptr;

namespace {

/// The driver's records that are bound but not called.
void* g_directUnused[std::size(kFidDirectUnused)] = {};

ImportRecord g_fsDriverTable[] = {
    {&FSDirectRead, kPidDirectRead, kFidFSDirectRead},
    {&FSDirectOpen, kPidDirectRead, kFidFSDirectOpen},
    {&FSDirectClose, kPidDirectRead, kFidFSDirectClose},
    {&FSDirectGetFileSize, kPidDirectRead, kFidFSDirectGetFileSize},
    {&FSDirectGetFileInfo, kPidDirectRead, kFidFSDirectGetFileInfo},
    {&g_directUnused[0], kPidDirectRead, kFidDirectUnused[0]},
    {&g_directUnused[1], kPidDirectRead, kFidDirectUnused[1]},
    {&g_directUnused[2], kPidDirectRead, kFidDirectUnused[2]},
    {&g_directUnused[3], kPidDirectRead, kFidDirectUnused[3]},
    {&g_directUnused[4], kPidDirectRead, kFidDirectUnused[4]},
    {&g_directUnused[5], kPidDirectRead, kFidDirectUnused[5]},
    {&g_directUnused[6], kPidDirectRead, kFidDirectUnused[6]},
    {},
};

// Only the records the plug-in calls are bound; the framework accepts such a
// table.
ImportRecord g_kernelTimeTable[] = {
    {&g_dateTimeCreate, kPidKernel, kFidDateTimeCreate},
    {&g_dateTimeCalendar, kPidKernel, kFidDateTimeCalendar},
    {&g_platformQuery, kPidPlatform, kFidPlatformQuery},
    {},
};

} // namespace

void BindDirectReadTable() {
    const Result r =
        RootOf(g_root).BindImports(g_root, g_fsDriverTable, kPidWfsys, kFsDriverTableName);
    if (Failed(r)) {
        PluginTrace(g_root, kTraceError, "wfsys\timport_table_fsdrv exports cannot be imported");
        return;
    }
    PluginTrace(g_root, kTraceDetail, "wfsys\timport_table_fsdrv exports imported");
    g_fsDirect = (FSDirectOpen && FSDirectClose && FSDirectRead) ? 1 : 0;
}

void BindKernelTimeTable() {
    const Result r =
        RootOf(g_root).BindImports(g_root, g_kernelTimeTable, kPidWfsys, kKernelTimeTableName);
    if (Failed(r))
        PluginTrace(g_root, kTraceError, "wfsys\te_ktime exports cannot be imported");
}

void ReleaseBoundTables() {
    if (!g_root)
        return;
    RootOf(g_root).ReleaseImports(g_root, g_fsDriverTable, kPidWfsys);
    RootOf(g_root).ReleaseImports(g_root, g_kernelTimeTable, kPidWfsys);
}

} // namespace zev::wfsys
