// Another process that holds a file open: the test program itself, run
// with the filter of its FileHolder.DISABLED_HoldFile helper test (which a
// test program that uses this class defines, see IoOpenTest.cpp).
#pragma once

#include "common/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace zev::test {

inline constexpr wchar_t kHoldFileVariable[] = L"WFSYS_TEST_HOLD_FILE";

/// Another process that holds a file open for writing while it lives.
class FileHeldByAnotherProcess {
public:
    explicit FileHeldByAnotherProcess(const std::wstring& path) {
        const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
        m_ready.reset(::CreateEventW(nullptr, TRUE, FALSE, (name + L"-ready").c_str()));
        m_release.reset(::CreateEventW(nullptr, TRUE, FALSE, (name + L"-release").c_str()));
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = std::wstring(L"\"") + self +
                               L"\" --gtest_also_run_disabled_tests "
                               L"--gtest_filter=FileHolder.DISABLED_HoldFile";
        ::SetEnvironmentVariableW(kHoldFileVariable, path.c_str());
        STARTUPINFOW si{}; // no standard handles: the helper's report is not ours
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        PROCESS_INFORMATION pi{};
        if (::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi)) {
            m_process.reset(pi.hProcess);
            ::CloseHandle(pi.hThread);
        }
        ::SetEnvironmentVariableW(kHoldFileVariable, nullptr);
        HANDLE waits[] = {m_ready.get(), m_process.get()};
        m_holding = m_process && ::WaitForMultipleObjects(2, waits, FALSE, 60000) == WAIT_OBJECT_0;
    }
    ~FileHeldByAnotherProcess() {
        ::SetEvent(m_release.get());
        if (m_process)
            ::WaitForSingleObject(m_process.get(), 60000);
    }
    FileHeldByAnotherProcess(const FileHeldByAnotherProcess&) = delete;
    FileHeldByAnotherProcess& operator=(const FileHeldByAnotherProcess&) = delete;
    bool Holding() const { return m_holding; }

private:
    UniqueKernelHandle m_ready, m_release, m_process;
    bool m_holding = false;
};

} // namespace zev::test
