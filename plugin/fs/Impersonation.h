// Switching the calling thread's identity around single Windows calls.
#pragma once

#include "common/UniqueHandle.h"
#include "plugin/frame/FrameworkApi.h"

#include <windows.h>

namespace zev::wfsys {

/// Access asked of process and thread tokens: duplicate, impersonate, query.
constexpr DWORD kTokenAccess = TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY;

/// The first process named `exeName` (without regard to case) that can be
/// opened for query and reading, or INVALID_HANDLE_VALUE. The caller closes it.
HANDLE GetProcessHandleByName(frame::hOBJ traceObject, const wchar_t* exeName);

/// Makes the calling thread run as another process's user until Revert or
/// destruction, and then puts back the token the thread had (or none).
class CProcessImpersonizer {
public:
    explicit CProcessImpersonizer(frame::hOBJ traceObject) : m_trace(traceObject) {}
    ~CProcessImpersonizer() { Revert(); }
    CProcessImpersonizer(const CProcessImpersonizer&) = delete;
    CProcessImpersonizer& operator=(const CProcessImpersonizer&) = delete;

    /// True when the thread now runs as the user of `process`.
    bool ImpersonateByHandle(HANDLE process);
    /// True when a process named `exeName` was found and impersonated.
    bool ImpersonateByProcessName(const wchar_t* exeName);
    void Revert();
    bool Impersonating() const { return m_token.valid(); }

private:
    frame::hOBJ m_trace;
    UniqueKernelHandle m_token;
    UniqueKernelHandle m_previous;
    bool m_hadPrevious = false;
};

/// Takes the calling thread's impersonation token away (RevertToSelf) for
/// its lifetime and puts it back afterwards; does nothing for a thread
/// that is not impersonating.
class CThreadTokenSuspension {
public:
    CThreadTokenSuspension();
    ~CThreadTokenSuspension();
    CThreadTokenSuspension(const CThreadTokenSuspension&) = delete;
    CThreadTokenSuspension& operator=(const CThreadTokenSuspension&) = delete;
    bool HadToken() const { return m_token.valid(); }
    /// Error of OpenThreadToken when there was no token.
    DWORD OpenError() const { return m_openError; }
    /// Puts the token back now; false (with GetLastError) when SetThreadToken failed.
    bool Restore();

private:
    UniqueKernelHandle m_token;
    DWORD m_openError = 0;
};

} // namespace zev::wfsys
