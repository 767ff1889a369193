// Output of the help run to the console of the process that started us.
#pragma once

#include <windows.h>

namespace hotfixer {

/// Attaches to the parent's console and points standard output at it.
/// The entry closes `descriptor` (when greater than 0) and detaches (when
/// `attached`) at the end of the help run.
class COutToParentConsole {
public:
    COutToParentConsole();

    BOOL attached = FALSE;
    int descriptor = -1;
};

} // namespace hotfixer
