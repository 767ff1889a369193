// msiexec.exe stand-in. It understands exactly the two command lines the
// installer builds:
//   msiexec.exe [/qn] /lv+* "<log>" /update "<package;...>" INSTALLONREBOOT=1
//   msiexec.exe /package <product> /uninstall <patch;...> /lv+* "<log>" [/qn]
//       INSTALLONREBOOT=1
// applies or removes the patches in the installed-products state, appends
// to the log and exits with 0 or the injected exit code. Anything else is
// refused with its usage and 1639, as the real program does.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "testbed/msi/InstallerState.h"

namespace {

using namespace zev::msistate;

constexpr wchar_t kUsage[] =
    L"Windows Installer stand-in. Usage:\n"
    L"  msiexec.exe [/qn] /lv+* \"<log>\" /update \"<package>[;<package>...]\" "
    L"INSTALLONREBOOT=1\n"
    L"  msiexec.exe /package <ProductCode> /uninstall <PatchGUID>[;<PatchGUID>...] "
    L"/lv+* \"<log>\" [/qn] INSTALLONREBOOT=1\n";
constexpr wchar_t kInstallOnReboot[] = L"INSTALLONREBOOT=1";
// ERROR_UNKNOWN_PATCH: the patch is not applied to the product.
constexpr DWORD kErrorUnknownPatch = 1647;

struct Request {
    bool apply = false;
    bool quiet = false;
    std::wstring log;
    std::wstring product;
    std::vector<std::wstring> items; // packages or patch GUIDs
};

bool Is(const std::vector<std::wstring>& args, size_t i, const wchar_t* option) {
    return i < args.size() &&
           ::CompareStringOrdinal(args[i].c_str(), -1, option, -1, TRUE) == CSTR_EQUAL;
}

bool ParseApply(const std::vector<std::wstring>& a, Request& r) {
    size_t i = 0;
    r.apply = true;
    r.quiet = Is(a, i, L"/qn");
    if (r.quiet)
        ++i;
    if (!Is(a, i, L"/lv+*") || i + 1 >= a.size())
        return false;
    r.log = a[i + 1];
    i += 2;
    if (!Is(a, i, L"/update") || i + 1 >= a.size())
        return false;
    r.items = SplitList(a[i + 1]);
    i += 2;
    return a.size() == i + 1 && a[i] == kInstallOnReboot && !r.items.empty() && !r.log.empty();
}

bool ParseRemove(const std::vector<std::wstring>& a, Request& r) {
    if (!Is(a, 0, L"/package") || a.size() < 7 || !Is(a, 2, L"/uninstall") || !Is(a, 4, L"/lv+*"))
        return false;
    r.product = a[1];
    r.items = SplitList(a[3]);
    r.log = a[5];
    size_t i = 6;
    r.quiet = Is(a, i, L"/qn");
    if (r.quiet)
        ++i;
    if (a.size() != i + 1 || a[i] != kInstallOnReboot || r.items.empty() || r.log.empty())
        return false;
    for (const std::wstring& guid : r.items)
        if (!IsBracedGuid(guid))
            return false;
    return IsBracedGuid(r.product);
}

// The verbose log, opened for appending on every line.
class Log {
public:
    explicit Log(std::wstring path) : m_path(std::move(path)) {}
    bool Line(const std::wstring& text) const {
        zev::UniqueFile file(::CreateFileW(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        std::string bytes;
        for (wchar_t c : text + L"\r\n")
            bytes += c < 0x100 ? static_cast<char>(c) : '?';
        DWORD written = 0;
        return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                           nullptr) != FALSE;
    }

private:
    std::wstring m_path;
};

bool IsSuccess(DWORD code) {
    return code == ERROR_SUCCESS || code == ERROR_SUCCESS_REBOOT_INITIATED ||
           code == ERROR_SUCCESS_REBOOT_REQUIRED;
}

DWORD Apply(const Request& r, const Log& log) {
    std::vector<PackageInfo> packages;
    for (const std::wstring& path : r.items) {
        PackageInfo info;
        if (const UINT result = ReadPackageInfo(path, info); result != ERROR_SUCCESS) {
            log.Line(L"Patch package " + path + L" cannot be opened or is invalid, error " +
                     std::to_wstring(result) + L".");
            return result;
        }
        packages.push_back(info);
    }
    const DWORD injected = InjectedExitCode();
    for (const PackageInfo& package : packages) {
        bool applied = false;
        for (const std::wstring& product : Products()) {
            bool targeted = package.targetProducts.empty();
            for (const std::wstring& target : package.targetProducts)
                targeted = targeted || ::CompareStringOrdinal(target.c_str(), -1, product.c_str(),
                                                              -1, TRUE) == CSTR_EQUAL;
            if (!targeted)
                continue;
            applied = true;
            if (!IsSuccess(injected))
                continue;
            ApplyPatch(product, {package.patchGuid, package.transforms});
            log.Line(L"Product: " + product + L" -- patch " + package.patchGuid + L" applied.");
        }
        if (!applied) {
            log.Line(L"Patch " + package.patchGuid + L" targets no installed product.");
            return ERROR_PATCH_TARGET_NOT_FOUND;
        }
    }
    return injected;
}

DWORD Remove(const Request& r, const Log& log) {
    if (!ProductInstalled(r.product)) {
        log.Line(L"Product " + r.product + L" is not installed.");
        return ERROR_UNKNOWN_PRODUCT;
    }
    const std::vector<AppliedPatch> applied = Patches(r.product);
    for (const std::wstring& guid : r.items) {
        bool found = false;
        for (const AppliedPatch& patch : applied)
            found = found || ::CompareStringOrdinal(patch.guid.c_str(), -1, guid.c_str(), -1,
                                                    TRUE) == CSTR_EQUAL;
        if (!found) {
            log.Line(L"Patch " + guid + L" is not applied to product " + r.product + L".");
            return kErrorUnknownPatch;
        }
    }
    const DWORD injected = InjectedExitCode();
    if (!IsSuccess(injected))
        return injected;
    for (const std::wstring& guid : r.items) {
        RemovePatch(r.product, guid);
        log.Line(L"Product: " + r.product + L" -- patch " + guid + L" removed.");
    }
    return injected;
}

} // namespace

int wmain() {
    int argc = 0;
    zev::UniqueLocal argvBlock(
        reinterpret_cast<HLOCAL>(::CommandLineToArgvW(::GetCommandLineW(), &argc)));
    wchar_t** argv = reinterpret_cast<wchar_t**>(argvBlock.get());
    if (!argv)
        return ERROR_INVALID_COMMAND_LINE;
    std::vector<std::wstring> args(argv + 1, argv + argc);

    Request request;
    if (!ParseApply(args, request) && !ParseRemove(args, (request = Request{}))) {
        fwprintf(stderr, L"msiexec: command line not understood: %ls\n%ls", ::GetCommandLineW(),
                 kUsage);
        return ERROR_INVALID_COMMAND_LINE;
    }
    const Log log(request.log);
    if (!log.Line(L"=== Verbose logging started. Command line: " +
                  std::wstring(::GetCommandLineW()) + L" ===")) {
        fwprintf(stderr, L"msiexec: cannot open the log %ls\n", request.log.c_str());
        return ERROR_INSTALL_LOG_FAILURE;
    }
    log.Line(request.quiet ? L"User interface: none" : L"User interface: full");
    const DWORD result = request.apply ? Apply(request, log) : Remove(request, log);
    log.Line(L"MainEngineThread is returning " + std::to_wstring(result));
    log.Line(L"=== Verbose logging stopped ===");
    return static_cast<int>(result);
}
