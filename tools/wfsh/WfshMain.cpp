#include "tools/wfsh/Wfsh.h"

#include <vector>

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    return zev::wfsh::Run(args, stdout, stderr);
}
