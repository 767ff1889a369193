// Process-wide settings of the plug-in, written only by the load step
// (reason 100) and read everywhere else without locking.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <windows.h>

#include <cstdint>

namespace zev::wfsys {

/// The framework's root object received at load; null before.
extern frame::hOBJ g_root;
/// 1 on Windows NT-family systems (UTF-16 texts, W functions), else 0.
extern std::uint32_t g_wideMode;
/// 1200 in wide mode, -12 in narrow mode.
extern std::int32_t g_codePage;
/// 1 when "ObCaseInsensitive" reads 0 (wide mode only).
extern std::uint32_t g_caseSensitiveNames;
/// 1 when the native-API set was resolved completely.
extern std::uint32_t g_nativeApi;
/// 1 when the direct-read table is bound with its open, close and read.
extern std::uint32_t g_fsDirect;

/// Where the case-sensitivity setting is read.
inline constexpr wchar_t kKernelSettingsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\kernel";
inline constexpr wchar_t kCaseInsensitiveValue[] = L"ObCaseInsensitive";

/// Source of the operating-system version (GetVersion); bit 31 set selects
/// narrow mode. Replaceable so that narrow mode can be exercised.
using VersionQuery = DWORD(WINAPI*)();
extern VersionQuery g_versionQuery;

/// Steps 2 and 3 of the load: character mode, code page, name case.
void LoadSettings();
/// Reads "ObCaseInsensitive": 1 when names are case-sensitive (the value
/// reads 0), 0 otherwise (missing key or value, any other number).
std::uint32_t ReadCaseSensitivity();

} // namespace zev::wfsys
