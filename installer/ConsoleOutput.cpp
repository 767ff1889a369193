#include "installer/ConsoleOutput.h"

#include <cstdarg>
#include <cstdio>

namespace hotfixer {

void ConsolePrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    __ms_vfwprintf(stdout, format, args);
    va_end(args);
}

} // namespace hotfixer
