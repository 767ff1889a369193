// Where the protected product publishes its settings for the installer.
#pragma once

namespace zev::product {

/// The product's environment key under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kEnvironmentKey[] = L"Software\\RodozavEva\\protected\\ZED10\\environment";

inline constexpr wchar_t kProductRoot[] = L"ProductRoot";
inline constexpr wchar_t kTraceRoot[] = L"TraceRoot";
inline constexpr wchar_t kSkin[] = L"Skin";
inline constexpr wchar_t kLocalization[] = L"Localization";

} // namespace zev::product
