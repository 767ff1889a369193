#include "tests/support/Process.h"

#include <thread>

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

    std::thread reader([&] {
        char buf[4096];
        DWORD got = 0;
        while (::ReadFile(readEnd.get(), buf, sizeof(buf), &got, nullptr) && got)
            result.output.append(buf, got);
    });
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        ::TerminateProcess(process.get(), 0xDEAD);
        ::WaitForSingleObject(process.get(), INFINITE);
    }
    reader.join();
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
