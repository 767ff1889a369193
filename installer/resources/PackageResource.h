// The patch package embedded in hotfixer.exe: resource type, id and the
// file name it is extracted to. Read by the resource compiler as well.
#pragma once

#define ZEV_PACKAGE_RESOURCE_TYPE PATCHDATA
#define ZEV_PACKAGE_RESOURCE_ID 101

#ifndef RC_INVOKED
#define ZEV_PACKAGE_WIDEN2(x) L##x
#define ZEV_PACKAGE_WIDEN(x) ZEV_PACKAGE_WIDEN2(x)
#define ZEV_PACKAGE_STRING2(x) #x
#define ZEV_PACKAGE_STRING(x) ZEV_PACKAGE_STRING2(x)

namespace hotfixer {

/// The resource type name, "PATCHDATA".
inline constexpr wchar_t kPackageResourceType[] =
    ZEV_PACKAGE_WIDEN(ZEV_PACKAGE_STRING(ZEV_PACKAGE_RESOURCE_TYPE));
inline constexpr int kPackageResourceId = ZEV_PACKAGE_RESOURCE_ID;
/// The package's file name: the patch identifier and ".msp".
inline constexpr wchar_t kPackageFileName[] = L"hx318.msp";

} // namespace hotfixer
#endif
