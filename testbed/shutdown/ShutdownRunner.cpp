// Runs the machine shutdown scripts of the Group Policy objects the way
// Windows does at shutdown: for every object under the state key, its
// script keys 0, 1, 2, ... up to the first missing number, each command
// line ("Script" with "Parameters") in turn, waiting for each.
//
// Each script's entries in the object's "scripts.ini" (<n>CmdLine,
// <n>Parameters in the section "Shutdown") must agree with its key;
// a disagreement is reported and makes the exit code 3.
//
//   shutdown_runner [/list]     /list prints the scripts without running them
//
// Output: "script <object>/<n>: <command line>", then "exit <n>: <code>".
// Exit code: 0 all ran, 1 a script could not be started, 3 mismatch.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "installer/SystemUtils.h"
#include "installer/system/GroupPolicyKeys.h"
#include "installer/system/ShutdownScript.h"

namespace gp = hotfixer::gp;

namespace {

std::wstring ReadString(HKEY key, const wchar_t* name) {
    std::vector<wchar_t> buffer;
    if (hotfixer::RegQueryStringValue(key, name, buffer) != ERROR_SUCCESS)
        return {};
    return buffer.data();
}

std::wstring IniEntry(const std::wstring& ini, const std::wstring& name) {
    std::vector<wchar_t> value(32768, L'\0');
    ::GetPrivateProfileStringW(gp::kShutdownSection, name.c_str(), L"\x01", value.data(),
                               static_cast<DWORD>(value.size()), ini.c_str());
    return value.data();
}

/// The profile functions trim what they read; so does the comparison.
std::wstring Trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

void Print(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c < 0x80 ? c : '?');
    std::printf("%s\n", out.c_str());
    std::fflush(stdout);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool listOnly = argc > 1 && _wcsicmp(argv[1], L"/list") == 0;
    zev::UniqueHKey stateRoot;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, gp::kStateRoot, 0, KEY_READ, stateRoot.put()) !=
        ERROR_SUCCESS) {
        Print(L"no shutdown scripts");
        return 0;
    }
    std::map<int, std::wstring> objects;
    hotfixer::EnumScriptKeys(stateRoot.get(), objects);

    int status = 0;
    for (const auto& [objectNumber, objectName] : objects) {
        zev::UniqueHKey object;
        if (::RegOpenKeyExW(stateRoot.get(), objectName.c_str(), 0, KEY_READ, object.put()) !=
            ERROR_SUCCESS)
            continue;
        const std::wstring ini =
            ReadString(object.get(), gp::kFileSysPath) + gp::kScriptsFolder + gp::kScriptsIni;
        std::map<int, std::wstring> scripts;
        hotfixer::EnumScriptKeys(object.get(), scripts);
        int expected = 0;
        for (const auto& [number, name] : scripts) {
            if (number != expected++)
                break;
            zev::UniqueHKey scriptKey;
            if (::RegOpenKeyExW(object.get(), name.c_str(), 0, KEY_READ, scriptKey.put()) !=
                ERROR_SUCCESS)
                break;
            const std::wstring script = ReadString(scriptKey.get(), gp::kScript);
            const std::wstring parameters = ReadString(scriptKey.get(), gp::kParameters);
            const std::wstring label = objectName + L"/" + name;
            if (IniEntry(ini, name + gp::kCmdLineEntry) != Trimmed(script) ||
                IniEntry(ini, name + gp::kParametersEntry) != Trimmed(parameters)) {
                Print(L"mismatch " + label + L": scripts.ini " + ini + L" disagrees");
                status = 3;
            }
            std::wstring command = L"\"" + script + L"\" " + parameters;
            Print(L"script " + label + L": " + command);
            if (listOnly)
                continue;

            STARTUPINFOW si{};
            si.cb = sizeof(si);
            PROCESS_INFORMATION pi{};
            if (!::CreateProcessW(script.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, &si, &pi)) {
                Print(L"cannot start " + label + L": " +
                      hotfixer::ErrorText(::GetLastError(), std::wstring(L"CreateProcessW")));
                if (status == 0)
                    status = 1;
                continue;
            }
            zev::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
            ::WaitForSingleObject(process.get(), INFINITE);
            DWORD code = 0;
            ::GetExitCodeProcess(process.get(), &code);
            Print(L"exit " + label + L": " + std::to_wstring(code));
        }
    }
    return status;
}
