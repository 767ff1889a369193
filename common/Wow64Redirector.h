// Switching WOW64 file-system redirection off around a retried operation.
//
// Shared by the installer (its file signature checker) and the plug-in
// (delete on close). The owner tries its file operation first; only when
// it fails with ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND and IsWow64()
// is true does it call Disable, retry, and call Revert with the saved
// value. The Windows functions are looked up at run time, so the code runs
// on systems without them. Nothing here raises.
#pragma once

#include <windows.h>

namespace zev {

/// The owner's trace callback: (level, narrow text).
using Wow64TraceFn = void (*)(int level, const char* text);

inline constexpr int kWow64TraceError = 300;
inline constexpr int kWow64TraceImportant = 400;
inline constexpr int kWow64TraceNotify = 500;

class Wow64Redirector {
public:
    /// `traceSlot` (may be null) is the address of a variable holding the
    /// owner's trace callback; lines begin with "util" and a tab.
    explicit Wow64Redirector(Wow64TraceFn* traceSlot = nullptr);

    /// True only when the process runs under WOW64 and every function needed
    /// exists.
    bool IsWow64() const { return m_isWow64; }
    /// Switches redirection off for this thread; the previous value goes to
    /// `previous` (with null it is kept in a local and lost). False when
    /// not under WOW64 (without tracing) or when Windows refuses.
    bool Disable(void** previous);
    /// Switches redirection back on with the value from Disable. The
    /// destructor does not revert anything.
    bool Revert(void* previous);

private:
    void Trace(int level, const char* format, ...) const;

    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    using RevertFn = BOOL(WINAPI*)(PVOID);
    using EnableFn = BOOLEAN(WINAPI*)(BOOLEAN);

    IsWow64ProcessFn m_isWow64Process = nullptr;
    DisableFn m_disable = nullptr;
    RevertFn m_revert = nullptr;
    EnableFn m_enable = nullptr;
    bool m_isWow64 = false;
    Wow64TraceFn* m_traceSlot = nullptr;
};

} // namespace zev
