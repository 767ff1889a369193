#include "installer/system/Wow64FsRedirectionDisabler.h"

#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {
namespace {

constexpr wchar_t kCtorName[] = L"CWow64FsRedirectionDisabler::CWow64FsRedirectionDisabler";
constexpr wchar_t kDtorName[] = L"CWow64FsRedirectionDisabler::~CWow64FsRedirectionDisabler";

using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);

FARPROC Kernel32Function(const wchar_t* operation, const char* name) {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel32) {
        TraceLine(kTraceWarning, L"%s: Cann't get kernel32.dll handle.", operation);
        return nullptr;
    }
    return ::GetProcAddress(kernel32, name);
}

} // namespace

CWow64FsRedirectionDisabler::CWow64FsRedirectionDisabler() {
    TraceLine(kTraceNotify, L"%s: Start", kCtorName);
    if (const auto disable = reinterpret_cast<DisableFn>(reinterpret_cast<void*>(
            Kernel32Function(kCtorName, "Wow64DisableWow64FsRedirection")))) {
        m_disabled = disable(&m_previous) != FALSE;
        TraceLine(kTraceNotify, L"%s: FS WOW64 redirection disabled %s", kCtorName,
                  m_disabled ? L"TRUE" : L"FALSE");
    }
    TraceLine(kTraceNotify, L"%s: Finish", kCtorName);
}

CWow64FsRedirectionDisabler::~CWow64FsRedirectionDisabler() {
    TraceLine(kTraceNotify, L"%s: Start", kDtorName);
    const auto revert = reinterpret_cast<RevertFn>(
        reinterpret_cast<void*>(Kernel32Function(kDtorName, "Wow64RevertWow64FsRedirection")));
    if (revert && m_disabled) {
        m_disabled = revert(m_previous) != FALSE;
        TraceLine(kTraceNotify, L"%s: FS WOW64 redirection enabled %s", kDtorName,
                  m_disabled ? L"TRUE" : L"FALSE");
    }
    TraceLine(kTraceNotify, L"%s: Finish", kDtorName);
}

} // namespace hotfixer
