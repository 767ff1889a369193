#include "plugin/frame/PluginTrace.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/Settings.h"

#include <cstdarg>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

/// Stored with a plain write: two racing first traces only look it up twice.
TraceFormatterFn g_formatter = nullptr;

} // namespace

Result PluginTrace(hOBJ obj, std::uint32_t level, const char* format, ...) {
    if (!g_root)
        return errUNEXPECTED;
    if (!g_formatter) {
        void* found = nullptr;
        RootOf(g_root).LookupExport(g_root, &found, kPidKernel, kFidTraceFormatter, kLookupMode);
        g_formatter = reinterpret_cast<TraceFormatterFn>(found);
        if (!g_formatter)
            return errUNEXPECTED;
    }
    va_list args;
    va_start(args, format);
    const Result r = g_formatter(obj, level, format, args);
    va_end(args);
    return r;
}

} // namespace zev::wfsys
