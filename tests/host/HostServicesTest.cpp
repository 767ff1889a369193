// The host's heap, messages, trace formatter, service objects, import and
// export tables, text conversion and direct-read driver.
#include "host/Host.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/MessageIds.h"
#include "plugin/frame/PropertyIds.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace zev::frame;
using zev::host::DirectReadMode;
using zev::host::Host;

namespace {

class HostServices : public ::testing::Test {
protected:
    const SystemTable& Sys() { return *m_host.Root()->sys; }
    const RootMethods& Root() { return RootOf(m_host.Root()); }
    template <typename F> F Export(std::uint32_t pid, std::uint32_t fid) {
        void* fn = nullptr;
        EXPECT_EQ(errOK, Root().LookupExport(m_host.Root(), &fn, pid, fid, kLookupMode));
        return reinterpret_cast<F>(fn);
    }
    std::string Trace(std::uint32_t level, const char* format, ...) {
        auto formatter = Export<TraceFormatterFn>(kPidKernel, kFidTraceFormatter);
        m_host.ClearTraces();
        va_list args;
        va_start(args, format);
        formatter(m_host.Root(), level, format, args);
        va_end(args);
        return m_host.Traces().empty() ? "<dropped>" : m_host.Traces().back().text;
    }

    Host m_host;
};

TEST_F(HostServices, HeapAccountsForEveryBlock) {
    hOBJ root = m_host.Root();
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(errOK, Sys().ObjHeapAlloc(root, &a, 100));
    ASSERT_EQ(errOK, Sys().ObjHeapAlloc(root, &b, 28));
    EXPECT_EQ(2u, m_host.LiveBlocks());
    EXPECT_EQ(128u, m_host.LiveBytes());
    EXPECT_EQ(0, static_cast<unsigned char*>(a)[99]) << "blocks are zero-filled";

    std::memcpy(a, "keep me", 8);
    ASSERT_EQ(errOK, Sys().ObjHeapRealloc(root, &a, a, 4000));
    EXPECT_STREQ("keep me", static_cast<char*>(a));
    EXPECT_EQ(4028u, m_host.LiveBytes());

    // A failing allocation answers the host's code and leaves the pointer.
    m_host.FailAllocation(1);
    void* c = &c;
    EXPECT_EQ(errNOT_ENOUGH_MEMORY, Sys().ObjHeapAlloc(root, &c, 10));
    EXPECT_EQ(&c, c);
    m_host.FailAllocation(1);
    void* kept = a;
    EXPECT_EQ(errNOT_ENOUGH_MEMORY, Sys().ObjHeapRealloc(root, &kept, a, 8000));
    EXPECT_EQ(a, kept);
    EXPECT_STREQ("keep me", static_cast<char*>(a)) << "a failed reallocation keeps the block";

    EXPECT_EQ(errOK, Sys().ObjHeapFree(root, a));
    EXPECT_EQ(errOK, Sys().ObjHeapFree(root, b));
    EXPECT_EQ(0u, m_host.LiveBlocks());
    EXPECT_EQ(0u, m_host.LiveBytes());
    EXPECT_EQ(0u, m_host.BadFrees());
    EXPECT_EQ(errPARAMETER_INVALID, Sys().ObjHeapFree(root, b)) << "double free";
    EXPECT_EQ(1u, m_host.BadFrees());
}

TEST_F(HostServices, MessagesAreRecordedAndAnswered) {
    hOBJ context = nullptr;
    ASSERT_EQ(errOK, Sys().ObjectCreateQuick(m_host.Root(), &context, kIidString, 0, 0));
    std::int32_t code = errDELETE_ON_CLOSE_FAILED;
    std::uint32_t size = sizeof code;
    EXPECT_EQ(errNOT_FOUND, Sys().sysSendMsg(m_host.Root(), kMsgClassIo, kMsgIoDeleteOnCloseFailed,
                                             context, &code, &size))
        << "nobody answers by default";
    m_host.SetMessageHandler([](const zev::host::SentMessage& m, void*, std::uint32_t*) {
        return m.msgClass == kMsgClassProductEnv ? kAnswerResolved : errNOT_FOUND;
    });
    EXPECT_EQ(kAnswerResolved, Sys().sysSendMsg(m_host.Root(), kMsgClassProductEnv,
                                                kMsgResolveEnvNames, context, nullptr, nullptr));

    ASSERT_EQ(2u, m_host.Messages().size());
    const auto& first = m_host.Messages()[0];
    EXPECT_EQ(m_host.Root(), first.object);
    EXPECT_EQ(kMsgClassIo, first.msgClass);
    EXPECT_EQ(kMsgIoDeleteOnCloseFailed, first.msgId);
    EXPECT_EQ(context, first.context);
    ASSERT_EQ(4u, first.data.size());
    std::int32_t sent = 0;
    std::memcpy(&sent, first.data.data(), 4);
    EXPECT_EQ(errDELETE_ON_CLOSE_FAILED, sent);
    EXPECT_TRUE(m_host.Messages()[1].data.empty());
}

const char* AccessName(std::uint32_t v) {
    switch (v) {
    case 0x80000000:
        return "READ";
    case 0x40000000:
        return "WRITE";
    default:
        return nullptr;
    }
}

const char* CreationName(std::uint32_t v) {
    return v == 3 ? "OPEN_EXISTING" : nullptr;
}

TEST_F(HostServices, FormatterDirectives) {
    const TraceFlags access{AccessName, 0xC0000000};
    const TraceFlags accessWithUnknown{AccessName, 0x80000011};
    const TraceFlags none{AccessName, 0};
    const TraceFlags creation{CreationName, 3};
    const TraceFlags unnamed{CreationName, 9};

    EXPECT_EQ("wfsys\terr errOBJECT_NOT_FOUND(0x800000C5)",
              Trace(300, "wfsys\terr %terr", errOBJECT_NOT_FOUND));
    EXPECT_EQ("x 0x8000ABCD y", Trace(300, "x %terr y", static_cast<Result>(0x8000ABCD)));
    EXPECT_EQ("a=WRITE|READ", Trace(400, "a=%tflags", &access));
    EXPECT_EQ("a=READ|0x00000011", Trace(400, "a=%tflags", &accessWithUnknown));
    EXPECT_EQ("a=0", Trace(400, "a=%tflags", &none));
    EXPECT_EQ("c=OPEN_EXISTING,9", Trace(400, "c=%tenum,%tenum", &creation, &unnamed));
    EXPECT_EQ("\"C:\\f\" \"C:\\g\"", Trace(500, "\"%s%S\" \"%s%S\"", "C:\\f", L"", "", L"C:\\g"));
    EXPECT_EQ("0000002A|-7|18446744073709551615|100%|z|  ab",
              Trace(500, "%08X|%d|%I64u|%d%%|%c|%4.2s", 42u, -7, ~0ull, 100, 'z', "abc"));
    EXPECT_EQ("(h=0x00000010) 5", Trace(500, "(h=0x%08x) %u", 16u, 5u));

    // Tagged lines lose the tag; lines above the level are dropped.
    std::string tagged(reinterpret_cast<const char*>(kTraceTag), sizeof kTraceTag);
    tagged += "\twfsys\tGetProcessHandleByName: %d";
    EXPECT_EQ("wfsys\tGetProcessHandleByName: 3", Trace(400, tagged.c_str(), 3));
    EXPECT_TRUE(m_host.Traces().back().tagged);
    m_host.TraceLevel() = 500;
    EXPECT_EQ("<dropped>", Trace(600, "wfsys\tquiet"));
    EXPECT_EQ("wfsys\tloud", Trace(500, "wfsys\tloud"));
}

TEST_F(HostServices, StringLockAndTokenObjects) {
    hOBJ text = nullptr;
    ASSERT_EQ(errOK, Sys().ObjectCreateQuick(m_host.Root(), &text, kIidString, 0, 0));
    std::uint32_t count = 0;
    ASSERT_EQ(errOK, m_host.CallMethod(text, kStringSlotSetText, &count,
                                       static_cast<const void*>("C:\\temp"), 0u, kCodePageSystem,
                                       kStringFlagWhole));
    ASSERT_EQ(errOK, m_host.CallMethod(text, kStringSlotAddSeparator));
    ASSERT_EQ(errOK,
              m_host.CallMethod(text, kStringSlotAddText, &count, static_cast<const void*>(L"sub"),
                                0u, kCodePageUtf16, kStringFlagWhole));
    EXPECT_EQ(L"C:\\temp\\sub", m_host.GetWide(text, kPropFullName).value_or(L"?"));
    char narrow[8] = {};
    EXPECT_EQ(errBUFFER_TOO_SMALL,
              m_host.CallMethod(text, kStringSlotGetText, &count, static_cast<void*>(narrow),
                                static_cast<std::uint32_t>(sizeof narrow), kCodePageSystem, 0u));
    EXPECT_EQ(12u, count);

    hOBJ other = nullptr;
    ASSERT_EQ(errOK, Sys().ObjectCreateQuick(m_host.Root(), &other, kIidString, 0, 0));
    ASSERT_EQ(errOK, m_host.CallMethod(text, kStringSlotExportToProp, &count, other, kPropName));
    EXPECT_EQ(L"C:\\temp\\sub", m_host.GetWide(other, kPropName).value_or(L"?"));

    hOBJ lock = nullptr;
    ASSERT_EQ(errOK, Sys().ObjectCreateQuick(text, &lock, kIidLock, 0, 0));
    EXPECT_EQ(errOBJECT_BAD_STATE, m_host.CallMethod(lock, kLockSlotUnlock, 0u));
    EXPECT_EQ(errOK, m_host.CallMethod(lock, kLockSlotLock, 1u));
    EXPECT_EQ(errOK, m_host.CallMethod(lock, kLockSlotUnlock, 0u));

    hOBJ token = nullptr;
    ASSERT_EQ(errOK, Sys().ObjectCreateQuick(text, &token, kIidToken, 0, 0));
    auto threadHasToken = [] {
        zev::UniqueKernelHandle t;
        return ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, t.put()) != FALSE;
    };
    ASSERT_FALSE(threadHasToken());
    EXPECT_EQ(errOK, m_host.CallMethod(token, kTokenSlotIdentity, kTokenAssume));
    EXPECT_TRUE(threadHasToken());
    EXPECT_EQ(errOK, m_host.CallMethod(token, kTokenSlotIdentity, kTokenRevert));
    EXPECT_FALSE(threadHasToken());
    // Closing an object that still holds the identity gives it back.
    EXPECT_EQ(errOK, m_host.CallMethod(token, kTokenSlotAssume));
    EXPECT_EQ(errOK, Sys().ObjectClose(text));
    EXPECT_FALSE(threadHasToken());
    EXPECT_FALSE(m_host.IsAlive(lock));

    // Service objects can be confined to the root.
    m_host.RefuseServiceObjectsBelowRoot(true);
    hOBJ parent = nullptr;
    ASSERT_EQ(errOK, Sys().ObjectCreateQuick(m_host.Root(), &parent, kIidString, 0, 0));
    hOBJ refused = nullptr;
    EXPECT_EQ(errOBJECT_INCOMPATIBLE, Sys().ObjectCreateQuick(parent, &refused, kIidToken, 0, 0));
    EXPECT_EQ(nullptr, refused);
}

TEST_F(HostServices, ImportTablesAreBoundAndReleased) {
    void* open = &open;
    void* missing = &missing;
    void* platform = nullptr;
    ImportRecord table[] = {
        {&open, kPidDirectRead, kFidFSDirectOpen},
        {&missing, kPidDirectRead, kFidDirectUnused[0]},
        {&platform, kPidPlatform, kFidPlatformQuery},
        {},
    };
    ASSERT_EQ(errOK, Root().BindImports(m_host.Root(), table, kPidWfsys, "first"));
    EXPECT_NE(nullptr, open);
    EXPECT_EQ(nullptr, missing) << "a function the component lacks stays null";
    ASSERT_NE(nullptr, platform);
    EXPECT_EQ(kPlatformWindowsNt, reinterpret_cast<PlatformQueryFn>(platform)());
    EXPECT_EQ(std::vector<std::string>{"first"}, m_host.BoundTables());

    EXPECT_EQ(errOK, Root().ReleaseImports(m_host.Root(), table, kPidWfsys));
    EXPECT_EQ(nullptr, open);
    EXPECT_EQ(nullptr, platform);
    EXPECT_TRUE(m_host.BoundTables().empty());
    EXPECT_EQ(errNOT_FOUND, Root().ReleaseImports(m_host.Root(), table, kPidWfsys));

    // An absent component fails the binding and leaves every variable null.
    m_host.SetDirectRead(DirectReadMode::Absent);
    EXPECT_EQ(errFUNCTION_NOT_FOUND, Root().BindImports(m_host.Root(), table, kPidWfsys, "second"));
    EXPECT_EQ(nullptr, open);
    EXPECT_EQ(nullptr, platform);
    EXPECT_TRUE(m_host.BoundTables().empty());

    // Published exports are found by (plug-in, function).
    auto exported = +[](std::uint32_t v) -> std::uint32_t { return v + 1; };
    const ImportRecord exports[] = {{reinterpret_cast<void*>(exported), 0x55, 0x1234}, {}};
    EXPECT_EQ(errOK, Root().PublishExports(m_host.Root(), exports, 0x55));
    auto found = Export<std::uint32_t (*)(std::uint32_t)>(0x55, 0x1234);
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(8u, found(7));
    void* none = &none;
    EXPECT_EQ(errNOT_FOUND, Root().LookupExport(m_host.Root(), &none, 0x55, 0x9999, kLookupMode));
    EXPECT_EQ(nullptr, none);
}

TEST_F(HostServices, TextConversionAndDateTime) {
    auto convert = Export<TextConvertFn>(kPidTextConversion, kFidTextConvert);
    ConvertedText out{};
    ASSERT_EQ(errOK, convert(&out, 0, 0xFFFF, "C:\\x", 0, kCodePageSystem));
    EXPECT_STREQ(L"C:\\x", out.text);
    EXPECT_EQ(10u, out.size);
    EXPECT_EQ(1u, m_host.LiveBlocks()) << "the converted text is a host-heap block";
    EXPECT_EQ(errOK, Sys().ObjHeapFree(m_host.Root(), out.text));
    ASSERT_EQ(errOK, convert(&out, 0, 0xFFFF, L"wide", 0, kCodePageUtf16));
    EXPECT_STREQ(L"wide", out.text);
    Sys().ObjHeapFree(m_host.Root(), out.text);
    EXPECT_EQ(0u, m_host.LiveBlocks());

    auto calendar = Export<DateTimeCalendarFn>(kPidKernel, kFidDateTimeCalendar);
    auto fromFileTime = Export<DateTimeCreateFn>(kPidKernel, kFidDateTimeCreate);
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    // 1601-01-01 is FILETIME 0.
    ASSERT_EQ(errOK, calendar(&a, 1601, 1, 1, 0, 0, 0, 500));
    ASSERT_EQ(errOK, fromFileTime(&b, 0));
    EXPECT_EQ(kDateTimeFileTimeBias + 50, a);
    EXPECT_EQ(kDateTimeFileTimeBias, b);
    EXPECT_EQ(errPARAMETER_INVALID, calendar(&a, 2024, 13, 1, 0, 0, 0, 0));
}

TEST_F(HostServices, DirectReadDriverReadsOrFailsOnRequest) {
    zev::test::TempDir dir;
    const std::wstring path = dir / L"locked.bin";
    zev::test::WriteFileBytes(path, "0123456789");
    auto open = Export<FSDirectOpenFn>(kPidDirectRead, kFidFSDirectOpen);
    auto read = Export<FSDirectReadFn>(kPidDirectRead, kFidFSDirectRead);
    auto size = Export<FSDirectGetFileSizeFn>(kPidDirectRead, kFidFSDirectGetFileSize);
    auto info = Export<FSDirectGetFileInfoFn>(kPidDirectRead, kFidFSDirectGetFileInfo);
    auto close = Export<FSDirectCloseFn>(kPidDirectRead, kFidFSDirectClose);

    std::uint64_t handle = 0;
    ASSERT_EQ(errOK, open(&handle, path.c_str()));
    ASSERT_NE(0u, handle);
    char buffer[8] = {};
    std::uint32_t got = 0;
    EXPECT_EQ(errOK, read(handle, 3, buffer, 4, &got));
    EXPECT_EQ(4u, got);
    EXPECT_EQ(std::string("3456"), std::string(buffer, 4));
    EXPECT_EQ(warnEOF, read(handle, 8, buffer, 4, &got));
    EXPECT_EQ(2u, got);
    std::uint32_t high = 1, low = 0;
    EXPECT_EQ(errOK, size(handle, &high, &low));
    EXPECT_EQ(0u, high);
    EXPECT_EQ(10u, low);
    DirectFileInfo fi{};
    EXPECT_EQ(errOK, info(handle, &fi));
    EXPECT_EQ(10u, fi.size);
    EXPECT_GT(fi.lastWriteTime, kDateTimeFileTimeBias);

    m_host.SetDirectRead(DirectReadMode::Failing, errLOCKED);
    EXPECT_EQ(errLOCKED, read(handle, 0, buffer, 4, &got));
    EXPECT_EQ(0u, got);
    std::uint64_t second = 0;
    EXPECT_EQ(errLOCKED, open(&second, path.c_str()));
    EXPECT_EQ(errOK, close(handle)) << "closing works whatever the mode";
    EXPECT_EQ(0u, m_host.DirectHandlesOpen());
    m_host.SetDirectRead(DirectReadMode::Available);
    EXPECT_EQ(errOBJECT_NOT_FOUND, open(&second, (dir / L"missing.bin").c_str()));
}

} // namespace
