#include "plugin/fs/Impersonation.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"

#include <tlhelp32.h>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

#define WFSYS_TAG "\x01\xD8\xAD\xFE\x9F\xDA\xC9\xBF?\t"

constexpr DWORD kProcessQueryRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

} // namespace

HANDLE GetProcessHandleByName(hOBJ traceObject, const wchar_t* exeName) {
    PluginTrace(traceObject, kTraceInfo,
                WFSYS_TAG "wfsys\tGetProcessHandleByName: trying to open process '%S'", exeName);
    UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        PluginTrace(traceObject, kTraceError,
                    WFSYS_TAG "wfsys\tGetProcessHandleByName: CreateToolhelp32Snapshot failed, "
                              "win_err = 0x%08X",
                    ::GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32FirstW(snapshot.get(), &entry)) {
        PluginTrace(traceObject, kTraceError,
                    WFSYS_TAG
                    "wfsys\tGetProcessHandleByName: Process32FirstW failed, win_err = 0x%08X",
                    ::GetLastError());
    } else {
        do {
            if (entry.th32ProcessID == 0 || ::lstrcmpiW(entry.szExeFile, exeName) != 0)
                continue;
            HANDLE process = ::OpenProcess(kProcessQueryRead, FALSE, entry.th32ProcessID);
            if (process) {
                PluginTrace(traceObject, kTraceInfo,
                            WFSYS_TAG
                            "wfsys\tGetProcessHandleByName: OpenProcess(pid = %u) succeeded",
                            entry.th32ProcessID);
                return process;
            }
            PluginTrace(traceObject, kTraceError,
                        WFSYS_TAG "wfsys\tGetProcessHandleByName: OpenProcess(pid = %u) failed, "
                                  "win_err = 0x%08X",
                        entry.th32ProcessID, ::GetLastError());
        } while (::Process32NextW(snapshot.get(), &entry));
    }
    PluginTrace(traceObject, kTraceError,
                WFSYS_TAG
                "wfsys\tGetProcessHandleByName: failed to open any process with name '%S'",
                exeName);
    return INVALID_HANDLE_VALUE;
}

bool CProcessImpersonizer::ImpersonateByHandle(HANDLE process) {
    Revert();
    UniqueKernelHandle processToken;
    if (!::OpenProcessToken(process, kTokenAccess, processToken.put())) {
        PluginTrace(m_trace, kTraceError,
                    WFSYS_TAG "wfsys\tCProcessImpersonizer::ImpersonateByHandle: OpenProcessToken "
                              "failed, win_err = 0x%08X",
                    ::GetLastError());
        return false;
    }
    UniqueKernelHandle duplicate;
    if (!::DuplicateTokenEx(processToken.get(), TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr,
                            SecurityImpersonation, TokenImpersonation, duplicate.put())) {
        PluginTrace(m_trace, kTraceError,
                    WFSYS_TAG "wfsys\tCProcessImpersonizer::ImpersonateByHandle: DuplicateTokenEx "
                              "failed, win_err = 0x%08X",
                    ::GetLastError());
        return false;
    }
    if (::OpenThreadToken(::GetCurrentThread(), kTokenAccess, TRUE, m_previous.put())) {
        m_hadPrevious = true;
    } else {
        PluginTrace(m_trace, kTraceInfo,
                    WFSYS_TAG "wfsys\tCProcessImpersonizer::ImpersonateByHandle: OpenThreadToken "
                              "failed, win_err = 0x%08X",
                    ::GetLastError());
    }
    if (!::SetThreadToken(nullptr, duplicate.get())) {
        PluginTrace(m_trace, kTraceError,
                    WFSYS_TAG "wfsys\tCProcessImpersonizer::ImpersonateByHandle: SetThreadToken "
                              "failed, win_err = 0x%08X",
                    ::GetLastError());
        m_previous.reset();
        m_hadPrevious = false;
        return false;
    }
    m_token = std::move(duplicate);
    PluginTrace(m_trace, kTraceInfo,
                WFSYS_TAG "wfsys\tCProcessImpersonizer::ImpersonateByHandle: succeeded");
    return true;
}

bool CProcessImpersonizer::ImpersonateByProcessName(const wchar_t* exeName) {
    if (!exeName || !exeName[0])
        return false;
    UniqueFile process(GetProcessHandleByName(m_trace, exeName));
    if (!process)
        return false;
    return ImpersonateByHandle(process.get());
}

void CProcessImpersonizer::Revert() {
    if (!m_token)
        return;
    if (m_hadPrevious) {
        if (!::SetThreadToken(nullptr, m_previous.get()))
            PluginTrace(m_trace, kTraceError,
                        WFSYS_TAG "wfsys\tCProcessImpersonizer::Revert: SetThreadToken failed, "
                                  "win_err = 0x%08X",
                        ::GetLastError());
        m_previous.reset();
        m_hadPrevious = false;
    } else if (!::RevertToSelf()) {
        PluginTrace(m_trace, kTraceError,
                    WFSYS_TAG
                    "wfsys\tCProcessImpersonizer::Revert: RevertToSelf failed, win_err = 0x%08X",
                    ::GetLastError());
    }
    m_token.reset();
}

CThreadTokenSuspension::CThreadTokenSuspension() {
    if (::OpenThreadToken(::GetCurrentThread(), kTokenAccess, TRUE, m_token.put()))
        ::RevertToSelf();
    else
        m_openError = ::GetLastError();
}

bool CThreadTokenSuspension::Restore() {
    if (!m_token)
        return true;
    const BOOL ok = ::SetThreadToken(nullptr, m_token.get());
    const DWORD error = ::GetLastError();
    m_token.reset();
    ::SetLastError(error);
    return ok != FALSE;
}

CThreadTokenSuspension::~CThreadTokenSuspension() {
    Restore();
}

} // namespace zev::wfsys
