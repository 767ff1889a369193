// The host's object model and properties, driven through the system table
// as a plug-in drives them.
#include "host/Host.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

using namespace zev::frame;
using zev::host::Host;
using zev::host::Registration;

namespace {

constexpr std::uint32_t kIidProbe = 0x7001;
constexpr std::uint32_t kPidProbe = 0x77;

constexpr std::uint32_t kPropConst = 0x20400101;
constexpr std::uint32_t kPropConstText = 0x20900102;
constexpr std::uint32_t kPropFieldRead = 0x20400103;
constexpr std::uint32_t kPropFieldWrite = 0x20400104;
constexpr std::uint32_t kPropVar = 0x20400105;
constexpr std::uint32_t kPropHandler = 0x20500106;
constexpr std::uint32_t kPropText = 0x20900107;
constexpr std::uint32_t kPropPending = 0x20400108;

struct ProbeData {
    std::uint32_t readOnly;
    std::uint32_t readWrite;
    std::uint64_t handlerValue;
    wchar_t text[32];
    std::uint32_t failInitDone;
};

std::uint32_t g_variable = 0;
/// Internal operations seen, in order, with what each saw of the object.
std::vector<std::string> g_calls;
Result g_initResult = errOK;
Result g_initDoneResult = errOK;

Result Construct(hOBJ obj, std::uint32_t flag) {
    g_calls.push_back("construct:" + std::to_string(flag));
    obj->sys = nullptr; // a plug-in puts its own (inert) table here
    return errOK;
}

Result Init(hOBJ obj) {
    const auto* bytes = DataOf<unsigned char>(obj);
    bool zero = true;
    for (std::size_t i = 0; i < sizeof(ProbeData); ++i)
        zero = zero && bytes[i] == 0;
    const bool sysInPlace = obj->sys != nullptr && obj->sys->ObjectParent != nullptr;
    g_calls.push_back(std::string("init:") + (zero ? "zero" : "dirty") +
                      (sysInPlace ? ",sys" : ",nosys"));
    DataOf<ProbeData>(obj)->readOnly = 42;
    return g_initResult;
}

Result InitDone(hOBJ obj) {
    g_calls.push_back("initdone");
    (void)obj;
    return g_initDoneResult;
}

Result CloseOp(hOBJ obj) {
    g_calls.push_back("close:" + std::to_string(DataOf<ProbeData>(obj)->readWrite));
    return errOK;
}

Result HandlerGet(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer, std::uint32_t size) {
    *count = 8;
    if (!buffer)
        return errOK;
    if (size < 8)
        return errBUFFER_TOO_SMALL;
    std::memcpy(buffer, &DataOf<ProbeData>(obj)->handlerValue, 8);
    return errOK;
}

Result HandlerSet(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
                  std::uint32_t size) {
    if (!buffer || size != 8)
        return errPARAMETER_INVALID;
    std::memcpy(&DataOf<ProbeData>(obj)->handlerValue, buffer, 8);
    *count = 8;
    return errOK;
}

Result TextGet(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer, std::uint32_t size) {
    const wchar_t* text = DataOf<ProbeData>(obj)->text;
    const auto bytes = static_cast<std::uint32_t>((std::wcslen(text) + 1) * sizeof(wchar_t));
    *count = bytes;
    if (!buffer)
        return errOK;
    if (size < bytes)
        return errBUFFER_TOO_SMALL;
    std::memcpy(buffer, text, bytes);
    return errOK;
}

Result TextSet(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
               std::uint32_t size) {
    if (size > sizeof(ProbeData::text))
        return errBUFFER_TOO_SMALL;
    std::memset(DataOf<ProbeData>(obj)->text, 0, sizeof(ProbeData::text));
    std::memcpy(DataOf<ProbeData>(obj)->text, buffer, size);
    *count = size;
    return errOK;
}

Result Twice(hOBJ obj, std::uint32_t value, std::uint32_t* out) {
    (void)obj;
    *out = value * 2;
    return errOK;
}

const char kConstText[] = "probe description";

class HostObjects : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_initResult = errOK;
        g_initDoneResult = errOK;
        m_internal[kSlotObjectConstruct - 1] = reinterpret_cast<AnyFn>(Construct);
        m_internal[kSlotObjectInit - 1] = reinterpret_cast<AnyFn>(Init);
        m_internal[kSlotObjectInitDone - 1] = reinterpret_cast<AnyFn>(InitDone);
        m_internal[kSlotObjectClose - 1] = reinterpret_cast<AnyFn>(CloseOp);
        m_methods[0] = reinterpret_cast<AnyFn>(Twice);
        m_rows = {
            ConstRow(kPropConst, 0x1234, 4),
            MemoryRow(kPropConstText, kConstText, sizeof kConstText),
            FieldRow(kPropFieldRead, offsetof(ProbeData, readOnly), 4, kPropRowFieldRead),
            FieldRow(kPropFieldWrite, offsetof(ProbeData, readWrite), 4, kPropRowFieldReadWrite),
            MemoryRow(kPropVar, &g_variable, 4),
            HandlerRow(kPropHandler, HandlerGet, HandlerSet),
            HandlerRow(kPropText, TextGet, TextSet),
            ConstRow(CodePagePropertyOf(kPropText), kCodePageUtf16, 4),
            HandlerRow(kPropPending, nullptr, nullptr),
        };
        ASSERT_EQ(errOK, m_host.RegisterInterface(
                             {kIidProbe, kPidProbe, 0, 2, 100, m_internal.data(), kInternalSlots,
                              m_methods.data(), 1, m_rows.data(),
                              static_cast<std::uint32_t>(m_rows.size()), sizeof(ProbeData), 0}));
    }

    hOBJ CreateProbe(hOBJ parent = nullptr) {
        hOBJ obj = nullptr;
        const Result r =
            Sys().ObjectCreate(parent ? parent : m_host.Root(), &obj, kIidProbe, kPidProbe, 0);
        EXPECT_EQ(errOK, r);
        return obj;
    }
    const SystemTable& Sys() { return *m_host.Root()->sys; }

    Host m_host;
    std::array<AnyFn, kInternalSlots> m_internal{};
    std::array<AnyFn, 1> m_methods{};
    std::vector<PropertyRow> m_rows;
};

TEST_F(HostObjects, CreationRunsTheInternalOperationsInOrderOnAZeroFilledRecord) {
    hOBJ obj = CreateProbe();
    ASSERT_NE(nullptr, obj);
    EXPECT_EQ(m_host.Root()->sys, obj->sys) << "the host's table must stand behind the object";
    EXPECT_EQ(0, Sys().ObjectCheckState(obj, kPropCreationCompleted));
    EXPECT_EQ(errOK, Sys().ObjectCreateDone(obj));
    EXPECT_EQ(1, Sys().ObjectCheckState(obj, kPropCreationCompleted));
    EXPECT_EQ(m_host.Root(), Sys().ObjectParent(obj));
    EXPECT_EQ(errOK, Sys().ObjectQueryInterface(obj, kIidProbe));
    EXPECT_EQ(errNOT_FOUND, Sys().ObjectQueryInterface(obj, kIidString));
    EXPECT_EQ(kIidProbe, Sys().PropGetDWord(obj, kPropInterfaceId));
    EXPECT_EQ(kPidProbe, Sys().PropGetDWord(obj, kPropPluginId));
    std::uint32_t doubled = 0;
    EXPECT_EQ(errOK, m_host.CallMethod(obj, 1, 21u, &doubled));
    EXPECT_EQ(42u, doubled);
    EXPECT_EQ(errOK, Sys().ObjectClose(obj));
    EXPECT_FALSE(m_host.IsAlive(obj));
    EXPECT_EQ((std::vector<std::string>{"construct:1", "init:zero,sys", "initdone", "close:0"}),
              g_calls);
}

TEST_F(HostObjects, ClosingAnObjectClosesItsChildrenFirst) {
    hOBJ parent = CreateProbe();
    hOBJ child = CreateProbe(parent);
    ASSERT_EQ(errOK, Sys().PropSetDWord(parent, kPropFieldWrite, 1));
    ASSERT_EQ(errOK, Sys().PropSetDWord(child, kPropFieldWrite, 2));
    EXPECT_EQ(parent, Sys().ObjectParent(child));
    g_calls.clear();
    EXPECT_EQ(errOK, Sys().ObjectClose(parent));
    EXPECT_FALSE(m_host.IsAlive(child));
    EXPECT_EQ((std::vector<std::string>{"close:2", "close:1"}), g_calls);
}

TEST_F(HostObjects, CreationFailures) {
    hOBJ obj = reinterpret_cast<hOBJ>(1);
    g_initResult = errOBJECT_NOT_CREATED;
    EXPECT_EQ(errOBJECT_NOT_CREATED, Sys().ObjectCreate(m_host.Root(), &obj, kIidProbe, 0, 0));
    EXPECT_EQ(nullptr, obj) << "a failed ObjectInit delivers no object";
    g_initResult = errOK;

    EXPECT_EQ(errNOT_FOUND, Sys().ObjectCreate(m_host.Root(), &obj, 0x7FFF, 0, 0));

    // A failing ObjectInitDone fails the completion; the object stays
    // uncompleted until its creator closes it.
    g_initDoneResult = errOBJECT_NOT_FOUND;
    obj = CreateProbe();
    EXPECT_EQ(errOBJECT_NOT_FOUND, Sys().ObjectCreateDone(obj));
    EXPECT_EQ(0, Sys().ObjectCheckState(obj, kPropCreationCompleted));
    EXPECT_TRUE(m_host.IsAlive(obj));
    EXPECT_EQ(errOK, Sys().ObjectClose(obj));

    // Quick creation closes an object whose completion fails.
    g_calls.clear();
    hOBJ quick = reinterpret_cast<hOBJ>(1);
    EXPECT_EQ(errOBJECT_NOT_FOUND,
              Sys().ObjectCreateQuick(m_host.Root(), &quick, kIidProbe, kPidProbe, 0));
    EXPECT_EQ(nullptr, quick);
    EXPECT_EQ("close:0", g_calls.back());
}

TEST_F(HostObjects, PropertyKinds) {
    hOBJ obj = CreateProbe();
    g_variable = 7;
    struct Case {
        std::uint32_t id;
        std::uint64_t expected;
        std::uint32_t count;
    };
    const Case cases[] = {
        {kPropConst, 0x1234, 4}, {kPropFieldRead, 42, 4}, {kPropFieldWrite, 0, 4},
        {kPropVar, 7, 4},        {kPropHandler, 0, 8},    {kPropInterfaceId, kIidProbe, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "property 0x" << c.id);
        std::uint64_t value = 0xDEADBEEFDEADBEEF;
        std::uint32_t count = 0;
        ASSERT_EQ(errOK, Sys().PropGet(obj, &count, c.id, nullptr, 0)) << "size query";
        EXPECT_EQ(c.count, count);
        value = 0;
        ASSERT_EQ(errOK, Sys().PropGet(obj, &count, c.id, &value, sizeof value));
        EXPECT_EQ(c.expected, value);
        std::uint8_t tiny = 0;
        EXPECT_EQ(errBUFFER_TOO_SMALL, Sys().PropGet(obj, &count, c.id, &tiny, 1));
        EXPECT_EQ(c.count, count) << "a short buffer still reports the size";
    }
    g_variable = 9;
    EXPECT_EQ(9u, Sys().PropGetDWord(obj, kPropVar)) << "a var row reads the variable each time";

    // Writes: read-write fields and setters take values; constants and
    // read-only fields refuse them; unknown and handler-less rows are not
    // implemented.
    EXPECT_EQ(errOK, Sys().PropSetDWord(obj, kPropFieldWrite, 5));
    EXPECT_EQ(5u, DataOf<ProbeData>(obj)->readWrite);
    const std::uint64_t big = 0x1122334455667788;
    std::uint32_t count = 0;
    EXPECT_EQ(errOK, Sys().PropSet(obj, &count, kPropHandler, &big, sizeof big));
    EXPECT_EQ(big, Sys().PropGetQWord(obj, kPropHandler));
    EXPECT_EQ(errBUFFER_TOO_SMALL, Sys().PropSet(obj, &count, kPropFieldWrite, &big, sizeof big));
    EXPECT_EQ(errACCESS_DENIED, Sys().PropSetDWord(obj, kPropFieldRead, 1));
    EXPECT_EQ(errACCESS_DENIED, Sys().PropSetDWord(obj, kPropConst, 1));
    EXPECT_EQ(errACCESS_DENIED, Sys().PropSetDWord(obj, kPropInterfaceId, 1));
    EXPECT_EQ(42u, DataOf<ProbeData>(obj)->readOnly);
    std::uint32_t value = 0;
    EXPECT_EQ(errPROPERTY_NOT_IMPLEMENTED, Sys().PropGet(obj, &count, 0x20400999, &value, 4));
    EXPECT_EQ(errPROPERTY_NOT_IMPLEMENTED, Sys().PropGet(obj, &count, kPropPending, &value, 4));
    EXPECT_EQ(errPROPERTY_NOT_IMPLEMENTED, Sys().PropSetDWord(obj, 0x20400999, 1));
}

TEST_F(HostObjects, TextPropertiesInCodePages) {
    hOBJ obj = CreateProbe();
    std::uint32_t count = 0;
    // Written as 8-bit text, stored by the object in UTF-16.
    ASSERT_EQ(errOK,
              Sys().PropSetStr(obj, &count, kPropText, "C:\\data\\a.txt", 0, kCodePageSystem));
    EXPECT_STREQ(L"C:\\data\\a.txt", DataOf<ProbeData>(obj)->text);

    char narrow[64] = {};
    ASSERT_EQ(errOK,
              Sys().PropGetStr(obj, &count, kPropText, narrow, sizeof narrow, kCodePageSystem));
    EXPECT_STREQ("C:\\data\\a.txt", narrow);
    EXPECT_EQ(14u, count);

    wchar_t wide[64] = {};
    ASSERT_EQ(errOK, Sys().PropGetStr(obj, &count, kPropText, wide, sizeof wide, kCodePageUtf16));
    EXPECT_STREQ(L"C:\\data\\a.txt", wide);
    EXPECT_EQ(28u, count);

    // Too small: 0x80000044 with the needed count; no buffer: the count.
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(errBUFFER_TOO_SMALL,
              Sys().PropGetStr(obj, &count, kPropText, small, sizeof small, kCodePageSystem));
    EXPECT_EQ(14u, count);
    EXPECT_EQ('x', small[0]) << "nothing written into a short buffer";
    EXPECT_EQ(errOK, Sys().PropGetStr(obj, &count, kPropText, nullptr, 0, kCodePageUtf16));
    EXPECT_EQ(28u, count);

    // A constant 8-bit text reads as UTF-16 too.
    ASSERT_EQ(errOK,
              Sys().PropGetStr(obj, &count, kPropConstText, wide, sizeof wide, kCodePageUtf16));
    EXPECT_STREQ(L"probe description", wide);
}

TEST_F(HostObjects, RootPublishesTheTraceLevel) {
    auto* level = static_cast<std::uint32_t*>(Sys().PropGetPtr(m_host.Root(), kPropTraceLevelPtr));
    ASSERT_NE(nullptr, level);
    EXPECT_EQ(&m_host.TraceLevel(), level);
    hOBJ obj = CreateProbe();
    EXPECT_EQ(nullptr, Sys().PropGetPtr(obj, kPropTraceLevelPtr));
}

} // namespace
