#include "tests/support/ProductStandIn.h"

#include <windows.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "tests/support/Process.h"

namespace zev::test {

namespace {

std::string ReadIfPresent(const std::wstring& path) {
    return FileExists(path) ? ReadFileBytes(path) : std::string();
}

} // namespace

ProductStandIn::ProductStandIn(const char* testbedDir) : m_testbed(HostPath(testbedDir)) {
    m_env.Set(product::kProductRoot, m_dir.path());
    m_env.Set(product::kTraceRoot, m_dir.path() + L"\\");
    Install(L"grd.exe");
    Install(L"vlremote.dll");
    WriteFileBytes(m_dir / L"vxstub.vpm", "stub");
}

ProductStandIn::~ProductStandIn() {
    std::istringstream journal(Journal());
    for (std::string line; std::getline(journal, line);) {
        if (line.rfind("start pid=", 0) != 0)
            continue;
        const DWORD pid = std::stoul(line.substr(10));
        UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process.get(), 0xDEAD);
            ::WaitForSingleObject(process.get(), 5000);
        }
    }
    ::SetCurrentDirectoryW(ThisModuleDir().c_str());
}

void ProductStandIn::Install(const std::wstring& built, const std::wstring& as) const {
    const std::wstring from = m_testbed + L"\\" + built;
    if (!::CopyFileW(from.c_str(), (m_dir / (as.empty() ? built : as)).c_str(), FALSE))
        throw std::runtime_error("ProductStandIn: cannot copy a stand-in");
}

void ProductStandIn::Setting(const wchar_t* section, const wchar_t* name,
                             const wchar_t* value) const {
    if (!::WritePrivateProfileStringW(section, name, value, (m_dir / L"testbed.ini").c_str()))
        throw std::runtime_error("ProductStandIn: cannot write testbed.ini");
}

bool ProductStandIn::StartService() const {
    const std::wstring exe = m_dir / L"grd.exe";
    std::wstring cmd = L"\"" + exe + L"\" -s";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          m_dir.path().c_str(), &si, &pi))
        return false;
    UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    for (int i = 0; i < 500; ++i) {
        if (Journal().find("start pid=") != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string ProductStandIn::Journal() const {
    return ReadIfPresent(m_dir / L"grd.journal");
}

std::string ProductStandIn::LibraryLog() const {
    return ReadIfPresent(m_dir / L"vlremote.log");
}

TraceLog ProductStandIn::Trace() const {
    return ReadTraceLog(m_dir / L"ZORArezi.log");
}

} // namespace zev::test
