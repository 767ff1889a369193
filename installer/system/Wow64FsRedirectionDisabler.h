// Switches WOW64 file-system redirection off for the calling thread while
// the guard lives, and back on when it goes.
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
    BOOL m_disabled = FALSE;
};

} // namespace hotfixer
