// The two function tables the plug-in binds from other framework
// components: the direct-read driver ("import_table_fsdrv") and the kernel
// and platform functions ("e_ktime"). A missing function stays null.
#pragma once

#include "plugin/frame/FrameworkApi.h"

namespace zev::wfsys {

// "import_table_fsdrv" (plug-in 0xBF83)
extern frame::FSDirectOpenFn FSDirectOpen;
extern frame::FSDirectCloseFn FSDirectClose;
extern frame::FSDirectReadFn FSDirectRead;
extern frame::FSDirectGetFileSizeFn FSDirectGetFileSize;
extern frame::FSDirectGetFileInfoFn FSDirectGetFileInfo;

// "e_ktime"
extern frame::DateTimeCreateFn g_dateTimeCreate;     ///< (1, 0x150920E3)
extern frame::DateTimeCalendarFn g_dateTimeCalendar; ///< (1, 0x0E262B4F)
extern frame::PlatformQueryFn g_platformQuery;       ///< (5, 0x78FB55F6)

inline constexpr char kFsDriverTableName[] = "import_table_fsdrv";
inline constexpr char kKernelTimeTableName[] = "e_ktime";

/// Binds "import_table_fsdrv" (traces the outcome) and sets g_fsDirect.
void BindDirectReadTable();
/// Binds "e_ktime" (traces a failure).
void BindKernelTimeTable();
/// Reason 102: releases "import_table_fsdrv", then "e_ktime".
void ReleaseBoundTables();

} // namespace zev::wfsys
