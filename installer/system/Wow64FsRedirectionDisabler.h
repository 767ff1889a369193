// A scoped guard that switches WOW64 file-system redirection off for the
// calling thread while it lives, tracing through the installer's trace
// file. It never raises; where the Windows functions are missing it does
// nothing.
#pragma once

#include <windows.h>

namespace hotfixer {

class CWow64FsRedirectionDisabler {
public:
    CWow64FsRedirectionDisabler();
    ~CWow64FsRedirectionDisabler();
    CWow64FsRedirectionDisabler(const CWow64FsRedirectionDisabler&) = delete;
    CWow64FsRedirectionDisabler& operator=(const CWow64FsRedirectionDisabler&) = delete;

private:
    PVOID m_previous = nullptr;
    bool m_disabled = false;
};

} // namespace hotfixer
