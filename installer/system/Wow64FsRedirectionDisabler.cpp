#include "installer/system/Wow64FsRedirectionDisabler.h"

#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {
constexpr wchar_t kOpCtor[] = L"CWow64FsRedirectionDisabler::CWow64FsRedirectionDisabler";
constexpr wchar_t kOpDtor[] = L"CWow64FsRedirectionDisabler::~CWow64FsRedirectionDisabler";
using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);
} // namespace

CWow64FsRedirectionDisabler::CWow64FsRedirectionDisabler() {
    TraceLine(kTraceNotify, L"%s: Start", kOpCtor);
    if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        const auto disable = reinterpret_cast<DisableFn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
        if (disable) {
            m_disabled = disable(&m_previous);
            TraceLine(kTraceNotify, L"%s: FS WOW64 redirection disabled %s", kOpCtor,
                      m_disabled ? L"TRUE" : L"FALSE");
        }
    } else {
        TraceLine(kTraceWarning, L"%s: Cann't get kernel32.dll handle.", kOpCtor);
    }
    TraceLine(kTraceNotify, L"%s: Finish", kOpCtor);
}

CWow64FsRedirectionDisabler::~CWow64FsRedirectionDisabler() {
    TraceLine(kTraceNotify, L"%s: Start", kOpDtor);
    if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        const auto revert = reinterpret_cast<RevertFn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
        if (revert && m_disabled) {
            m_disabled = revert(m_previous);
            TraceLine(kTraceNotify, L"%s: FS WOW64 redirection enabled %s", kOpDtor,
                      m_disabled ? L"TRUE" : L"FALSE");
        }
    } else {
        TraceLine(kTraceWarning, L"%s: Cann't get kernel32.dll handle.", kOpDtor);
    }
    TraceLine(kTraceNotify, L"%s: Finish", kOpDtor);
}

} // namespace hotfixer
