// Event texts from the localization file or the defaults, and the event-log
// reporter's registration and event identifiers.
#include <gtest/gtest.h>

#include <windows.h>

#include "installer/ProductRegistry.h"
#include "installer/ProgramEntry.h"
#include "installer/diagnostics/EventLog.h"
#include "installer/diagnostics/EventMessage.h"
#include "installer/diagnostics/TraceFile.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using namespace hotfixer;
using namespace zev::test;

namespace {

/// A product skin folder with a localization file "<skin>\loc\en\patcher.loc".
struct Localization {
    TempDir dir;
    ProductEnvironment env;
    std::wstring skin = dir.path() + L"\\skin";

    explicit Localization(const std::string& section) {
        CreateDirectoryW(skin.c_str(), nullptr);
        CreateDirectoryW((skin + L"\\loc").c_str(), nullptr);
        CreateDirectoryW((skin + L"\\loc\\en").c_str(), nullptr);
        WriteFileBytes(skin + L"\\loc\\en\\patcher.loc", section);
        env.Set(zev::product::kSkin, skin);
        env.Set(zev::product::kLocalization, L"en");
    }
};

struct RecordedEvent {
    WORD type;
    DWORD id;
    std::wstring text;
};

class RecordingEventLogApi : public EventLogApi {
public:
    explicit RecordingEventLogApi(std::vector<RecordedEvent>& events) : m_events(events) {}
    HANDLE Register(const wchar_t* source) override {
        EXPECT_STREQ(source, L"zev");
        return reinterpret_cast<HANDLE>(0x1234);
    }
    BOOL Write(HANDLE, WORD type, DWORD id, const wchar_t* text) override {
        m_events.push_back({type, id, text});
        return TRUE;
    }
    void Deregister(HANDLE) override {}

private:
    std::vector<RecordedEvent>& m_events;
};

TraceTail ProcessTraceTail() {
    return TraceTail(TraceFile::Instance().GetPath());
}

} // namespace

TEST(EventMessage, DefaultsWithoutProductValues) {
    ProductEnvironment env;
    CEventMessage messages(L"hx318");
    EXPECT_EQ(messages.Compose(kMessageInstallFail),
              L"Patch version: hx318\nCannot install patches.\n");
    EXPECT_EQ(messages.Compose(kMessagePrepare, {L"one", L"two"}),
              L"Patch version: hx318\nPreparing for installation of patches:\none\ntwo\n");
    EXPECT_EQ(messages.Compose(7), L"Patch version: hx318\n.\n");
    EXPECT_EQ(messages.Messages().size(), 5u);
}

TEST(EventMessage, LocalizedSectionIsUsedAloneWithSkinReferencesResolved) {
    Localization loc("[PatchMessages]\r\nInstallFail=Fehler\r\n");
    // The skin folder given through a reference to another product value.
    loc.env.Set(zev::product::kTraceRoot, loc.skin);
    loc.env.Set(zev::product::kSkin, L"%TraceRoot%");
    const auto tail = ProcessTraceTail();
    CEventMessage messages(L"hx318");
    EXPECT_EQ(messages.Compose(kMessageInstallFail), L" hx318\nFehler.\n");
    EXPECT_EQ(messages.Compose(kMessagePrepare), L" hx318\n.\n");
    EXPECT_EQ(tail.Read().Matching("Localization map not empty. It will be used.").size(), 1u);
}

TEST(EventMessage, EmptyOrMissingLocalizationFallsBackToDefaults) {
    Localization loc("[Other]\r\nx=y\r\n");
    const auto tail = ProcessTraceTail();
    CEventMessage messages(L"hx318");
    EXPECT_EQ(messages.Compose(kMessageInstallSuccess),
              L"Patch version: hx318\nPatches installed successfully.\n");
    const auto log = tail.Read();
    EXPECT_EQ(log.Matching("Localization map empty. Use default strungs").size(), 1u);
    EXPECT_EQ(log.Matching("Localization file path = ").size(), 1u);

    loc.env.Remove(zev::product::kLocalization);
    const auto tail2 = ProcessTraceTail();
    CEventMessage noLocalization(L"hx318");
    EXPECT_EQ(noLocalization.Messages().size(), 5u);
    const auto errors = tail2.Read();
    ASSERT_FALSE(errors.records.empty());
    EXPECT_EQ(errors.records[0].level, "ERR");
    EXPECT_EQ(errors.records[0].message.rfind("CEventMessage::CEventMessage: ", 0), 0u);
}

TEST(EventLog, RegistersTheMessageFileAndChoosesIdentifiersByType) {
    ProductEnvironment env;
    env.Set(zev::product::kProductRoot, L"C:\\Product\\");
    std::vector<RecordedEvent> events;
    CEventLog log(std::make_unique<RecordingEventLogApi>(events));
    ASSERT_TRUE(log.registered());
    EXPECT_EQ(
        ReadRegString(HKEY_LOCAL_MACHINE, CEventLog::kSourceKey, L"EventMessageFile").value_or(L""),
        L"C:\\Product\\\\hb.vpm");

    const struct {
        WORD type;
        DWORD id;
    } rows[] = {{EVENTLOG_ERROR_TYPE, 0xC0021234},   {EVENTLOG_AUDIT_FAILURE, 0xC0021234},
                {EVENTLOG_WARNING_TYPE, 0x80021236}, {EVENTLOG_INFORMATION_TYPE, 0x40021237},
                {EVENTLOG_SUCCESS, 0x40021237},      {EVENTLOG_AUDIT_SUCCESS, 0x40021237}};
    for (const auto& row : rows)
        log.Report(L"text", row.type);
    ASSERT_EQ(events.size(), std::size(rows));
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].type, rows[i].type);
        EXPECT_EQ(events[i].id, rows[i].id) << "type " << rows[i].type;
        EXPECT_EQ(events[i].text, L"text");
    }
}

TEST(EventLog, UnregisteredReporterOnlyTraces) {
    ProductEnvironment env; // no "ProductRoot"
    std::vector<RecordedEvent> events;
    const auto tail = ProcessTraceTail();
    CEventLog log(std::make_unique<RecordingEventLogApi>(events));
    EXPECT_FALSE(log.registered());
    for (int i = 0; i < 3; ++i)
        log.Report(L"text", EVENTLOG_ERROR_TYPE);
    EXPECT_TRUE(events.empty());
    const auto trace = tail.Read();
    EXPECT_EQ(trace.Matching("CEventLog::Report: Message provider not registered").size(), 3u);
    const auto failed = trace.Matching("CEventLog::CEventLogRegQueryStrValue: ");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].level, "ERR");
}

TEST(FailureReport, TracesAndReportsTheInstallFailEvent) {
    ProductEnvironment env;
    env.Set(zev::product::kProductRoot, L"C:\\Product\\");
    std::vector<RecordedEvent> events;
    CEventLog log(std::make_unique<RecordingEventLogApi>(events));
    const auto tail = ProcessTraceTail();
    const std::logic_error error("GetProductFolder: something failed");

    EXPECT_EQ(ReportFailure(error, L"hx318", &log), 1);

    const auto trace = tail.Read();
    const auto lines = trace.Matching("GetProductFolder: something failed");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, "ERR");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[0].id, 0xC0021234u);
    EXPECT_EQ(events[0].text, L"Patch version: hx318\nCannot install patches.\n");
}
