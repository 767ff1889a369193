#include "tools/wfsh/Wfsh.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    // Bytes out as they are: cat must not turn "\n" into "\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::wstring> args(argv + 1, argv + argc);
    return zev::wfsh::Run(args, stdout, stderr);
}
