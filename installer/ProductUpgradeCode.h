// The Windows Installer upgrade code shared by every release of the
// protected product; the installed product is found through it.
#pragma once

namespace zev::product {

inline constexpr wchar_t kProductUpgradeCode[] = L"{007172A8-935D-421D-801A-D2B19F536045}";

} // namespace zev::product
