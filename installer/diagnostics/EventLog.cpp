#include "installer/diagnostics/EventLog.h"

#include <vector>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {

constexpr wchar_t kMessageFileName[] = L"\\hb.vpm";

class WindowsEventLogApi final : public EventLogApi {
public:
    HANDLE Register(const wchar_t* sourceName) override {
        return ::RegisterEventSourceW(nullptr, sourceName);
    }
    BOOL Write(HANDLE source, WORD type, DWORD eventId, const wchar_t* text) override {
        const wchar_t* strings[] = {text};
        return ::ReportEventW(source, type, 0, eventId, nullptr, 1, 0, strings, nullptr);
    }
    void Deregister(HANDLE source) override { ::DeregisterEventSource(source); }
};

void TraceSystemError(DWORD code, const wchar_t* operation) {
    TraceLine(kTraceError, L"%s", ErrorText(code, std::wstring(operation)).c_str());
}

} // namespace

std::unique_ptr<EventLogApi> MakeWindowsEventLogApi() {
    return std::make_unique<WindowsEventLogApi>();
}

CEventLog& CEventLog::Instance() {
    static CEventLog* instance = new CEventLog(MakeWindowsEventLogApi()); // never destroyed
    return *instance;
}

CEventLog::CEventLog(std::unique_ptr<EventLogApi> api) : m_api(std::move(api)) {
    std::vector<wchar_t> productRoot;
    if (const LSTATUS rc =
            RegReadStringValue(zev::product::kProductRoot, zev::product::kEnvironmentKey,
                               HKEY_LOCAL_MACHINE, productRoot);
        rc != ERROR_SUCCESS) {
        TraceSystemError(rc, L"CEventLog::CEventLogRegQueryStrValue");
        return;
    }
    const std::wstring messageFile = std::wstring(productRoot.data()) + kMessageFileName;
    zev::UniqueHKey source;
    LSTATUS rc =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_WRITE, nullptr, source.put(), nullptr);
    if (rc == ERROR_SUCCESS)
        rc = ::RegSetValueExW(source.get(), kMessageFileValue, 0, REG_EXPAND_SZ,
                              reinterpret_cast<const BYTE*>(messageFile.c_str()),
                              static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) {
        TraceSystemError(rc, L"CEventLog::CEventLogRegSetValueEx");
        return;
    }
    m_registered = true;
}

DWORD CEventLog::EventIdForType(WORD type) {
    switch (type) {
    case EVENTLOG_ERROR_TYPE:
    case EVENTLOG_AUDIT_FAILURE:
        return kErrorEventId;
    case EVENTLOG_WARNING_TYPE:
        return kWarningEventId;
    default:
        return kInformationEventId;
    }
}

void CEventLog::Report(const std::wstring& text, WORD type) {
    if (!m_registered) {
        TraceLine(kTraceError, L"%s: Message provider not registered", L"CEventLog::Report");
        return;
    }
    const HANDLE source = m_api->Register(kSourceName);
    if (!source) {
        TraceSystemError(::GetLastError(), L"CEventLog::ReportRegisterEventSource");
        return;
    }
    m_api->Write(source, type, EventIdForType(type), text.c_str()); // a failed write is ignored
    m_api->Deregister(source);
}

} // namespace hotfixer
