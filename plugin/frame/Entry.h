// The plug-in's entry as the framework calls it: (root, reason, result).
#pragma once

#include "plugin/frame/FrameworkApi.h"

namespace zev::wfsys {

/// Reason 100 loads (1, or 0 when an interface cannot be registered, with
/// the framework's code in `*result`); 101 releases kernel32.dll; 102
/// releases the bound tables; any other reason answers 1.
int PluginEntry(frame::hOBJ root, unsigned long reason, frame::Result* result);

} // namespace zev::wfsys
