#include "common/Wow64Redirector.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace zev {
namespace {

template <typename Fn> Fn Lookup(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
}

constexpr size_t kTraceBufferSize = 1024;

} // namespace

Wow64Redirector::Wow64Redirector(Wow64TraceFn* traceSlot) : m_traceSlot(traceSlot) {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32");
    m_isWow64Process = Lookup<IsWow64ProcessFn>(kernel32, "IsWow64Process");
    m_disable = Lookup<DisableFn>(kernel32, "Wow64DisableWow64FsRedirection");
    m_revert = Lookup<RevertFn>(kernel32, "Wow64RevertWow64FsRedirection");
    m_enable = Lookup<EnableFn>(kernel32, "Wow64EnableWow64FsRedirection");
    if (m_isWow64Process && m_disable && m_revert) {
        BOOL wow64 = FALSE;
        if (m_isWow64Process(::GetCurrentProcess(), &wow64))
            m_isWow64 = wow64 != FALSE;
    }
    Trace(kWow64TraceImportant, "util\tIsWow64 = %d", m_isWow64 ? 1 : 0);
}

bool Wow64Redirector::Disable(void** previous) {
    if (!m_isWow64)
        return false;
    void* local = nullptr;
    void** slot = previous ? previous : &local;
    if (m_disable(slot)) {
        Trace(kWow64TraceNotify, "util\tredirector disabled (prev %x)",
              unsigned(reinterpret_cast<uintptr_t>(*slot)));
        return true;
    }
    Trace(kWow64TraceError, "util\tfailed to disable redirector");
    return false;
}

bool Wow64Redirector::Revert(void* previous) {
    if (!m_isWow64)
        return false;
    if (m_revert(previous)) {
        Trace(kWow64TraceNotify, "util\tredirector reverted (prev %x)",
              unsigned(reinterpret_cast<uintptr_t>(previous)));
        return true;
    }
    Trace(kWow64TraceError, "util\tfailed to revert redirector");
    return false;
}

void Wow64Redirector::Trace(int level, const char* format, ...) const {
    if (!m_traceSlot || !*m_traceSlot)
        return;
    char text[kTraceBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    (*m_traceSlot)(level, text);
}

} // namespace zev
