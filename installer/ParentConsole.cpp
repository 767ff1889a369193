#include "installer/ParentConsole.h"

#include <fcntl.h>
#include <io.h>
#include <cstdio>

#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {
constexpr wchar_t kOp[] = L"COutToParentConsole::COutToParentConsole";
}

COutToParentConsole::COutToParentConsole() {
    attached = ::AttachConsole(ATTACH_PARENT_PROCESS);
    if (!attached) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_ACCESS_DENIED)
            TraceLine(kTraceNotify, L"%s: Parent console already used.", kOp);
        else
            TraceLine(kTraceWarning, L"%s: Cann't attach to parent console. Error code: %d", kOp,
                      static_cast<int>(err));
        return;
    }
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(out), _O_TEXT);
    if (descriptor > 0) {
        FILE* stream = _wfdopen(descriptor, L"w");
        if (!stream) {
            TraceLine(kTraceWarning, L"%s: Cann't open 'stdout'.", kOp);
        } else {
            *stdout = *stream; // the runtime's standard output takes over the console stream
            setvbuf(stdout, nullptr, _IONBF, 0);
        }
    }
    TraceLine(kTraceNotify, L"%s: Success attach to parent console.", kOp);
}

} // namespace hotfixer
