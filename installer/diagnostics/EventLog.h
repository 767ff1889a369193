// The installer's outcome messages in the product's event log.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace hotfixer {

/// The event-log calls CEventLog makes; tests substitute a recorder.
class EventLogApi {
public:
    virtual ~EventLogApi() = default;
    virtual HANDLE Register(const wchar_t* sourceName) = 0;
    virtual BOOL Write(HANDLE source, WORD type, DWORD eventId, const wchar_t* text) = 0;
    virtual void Deregister(HANDLE source) = 0;
};

/// The real Windows event log.
std::unique_ptr<EventLogApi> MakeWindowsEventLogApi();

class CEventLog {
public:
    /// The process-wide reporter; registers the source "zev" on first use.
    static CEventLog& Instance();

    /// Registers the event source (the "EventMessageFile" value under
    /// kSourceKey) and reports through `api`. Failures are traced.
    explicit CEventLog(std::unique_ptr<EventLogApi> api);

    /// Writes one event of `type` carrying `text` as its only insertion
    /// string. Failures are traced, never raised.
    void Report(const std::wstring& text, WORD type);

    bool registered() const { return m_registered; }

    /// The event identifier written for an event type.
    static DWORD EventIdForType(WORD type);

    static constexpr wchar_t kSourceName[] = L"zev";
    static constexpr wchar_t kSourceKey[] =
        L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Arventa Event Log\\zev";
    static constexpr wchar_t kMessageFileValue[] = L"EventMessageFile";
    static constexpr DWORD kErrorEventId = 0xC0021234;
    static constexpr DWORD kWarningEventId = 0x80021236;
    static constexpr DWORD kInformationEventId = 0x40021237;

private:
    std::unique_ptr<EventLogApi> m_api;
    bool m_registered = false;
};

} // namespace hotfixer
