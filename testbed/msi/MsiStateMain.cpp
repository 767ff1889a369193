// msistate: prepares and shows the Windows Installer stand-ins' state for
// the demonstration and for manual runs.
//   msistate install <ProductCode>   installs a product under the protected
//                                    product's upgrade code
//   msistate patches <ProductCode>   lists the patches applied to it
//   msistate exit-code <N>           msiexec's next exit codes (0: none)
//   msistate clear                   deletes the whole state
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "installer/ProductUpgradeCode.h"
#include "testbed/msi/InstallerState.h"

int wmain(int argc, wchar_t** argv) {
    using namespace zev::msistate;
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"install" && argc == 3 && IsBracedGuid(argv[2])) {
        return static_cast<int>(InstallProduct(argv[2], zev::product::kProductUpgradeCode));
    } else if (command == L"patches" && argc == 3) {
        for (const AppliedPatch& patch : Patches(argv[2]))
            wprintf(L"%ls\t%ls\n", patch.guid.c_str(), patch.transforms.c_str());
        return 0;
    } else if (command == L"exit-code" && argc == 3) {
        return static_cast<int>(SetInjectedExitCode(wcstoul(argv[2], nullptr, 10)));
    } else if (command == L"clear" && argc == 2) {
        const LSTATUS result = ClearState();
        return result == ERROR_FILE_NOT_FOUND ? 0 : static_cast<int>(result);
    }
    fwprintf(stderr, L"usage: msistate install <ProductCode> | patches <ProductCode> |"
                     L" exit-code <N> | clear\n");
    return 2;
}
