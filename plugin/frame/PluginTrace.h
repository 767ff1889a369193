// The plug-in's trace operation: forwards (object, level, format, arguments)
// to the framework's trace formatter, looked up once on first use.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <cstdint>

namespace zev::wfsys {

/// Writes one trace line on behalf of `obj` (the root in helpers). The
/// format begins with "wfsys" and a tab; "%s" is narrow and "%S" wide text,
/// "%terr", "%tflags" and "%tenum" are the framework's directives.
/// Without a root, or when the formatter cannot be found, writes nothing and
/// answers 0x80000040.
frame::Result PluginTrace(frame::hOBJ obj, std::uint32_t level, const char* format, ...);

} // namespace zev::wfsys
