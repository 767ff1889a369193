#include "tests/support/Process.h"

#include <algorithm>
#include <stdexcept>

#include "common/UniqueHandle.h"

namespace zev::test {

ProcessResult RunProgram(const std::wstring& exe, const std::wstring& args, const std::wstring& cwd,
                         DWORD timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    UniqueKernelHandle readEnd, writeEnd;
    if (!::CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0))
        throw std::runtime_error("RunProgram: CreatePipe failed");
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd.get();
    si.hStdError = writeEnd.get();
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!args.empty())
        cmd += L" " + args;
    if (!::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
        throw std::runtime_error("RunProgram: CreateProcessW failed");
    UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    writeEnd.reset();

    // Read until the program has ended and the pipe is drained. End of file
    // alone is not enough: a process the program started (Wine's desktop
    // process, for one) may inherit the pipe and keep it open.
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    char buf[4096];
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr))
            break; // every writer is gone
        if (available) {
            DWORD got = 0;
            if (!::ReadFile(readEnd.get(), buf, std::min<DWORD>(available, sizeof(buf)), &got,
                            nullptr))
                break;
            result.output.append(buf, got);
            continue;
        }
        if (::WaitForSingleObject(process.get(), 10) == WAIT_OBJECT_0) {
            // Take what the program wrote just before it ended.
            while (::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) &&
                   available) {
                DWORD got = 0;
                if (!::ReadFile(readEnd.get(), buf, std::min<DWORD>(available, sizeof(buf)), &got,
                                nullptr))
                    break;
                result.output.append(buf, got);
            }
            break;
        }
        if (::GetTickCount64() > deadline) {
            result.timedOut = true;
            ::TerminateProcess(process.get(), 0xDEAD);
            ::WaitForSingleObject(process.get(), INFINITE);
            break;
        }
    }
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

std::wstring HostPath(const char* buildPath) {
    std::wstring out;
    for (const char* p = buildPath; *p; ++p)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    if (!out.empty() && out[0] == L'/') {
        for (auto& c : out)
            if (c == L'/')
                c = L'\\';
        out = L"Z:" + out;
    }
    return out;
}

std::wstring ThisModuleDir() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/"));
}

} // namespace zev::test
