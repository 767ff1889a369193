// The registry actions of earlier fixes, run against a scratch key.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "common/UniqueHandle.h"
#include "installer/CmdParser.h"
#include "installer/FixActions.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TraceLog.h"

using namespace hotfixer;
using zev::test::ScratchRegKey;

namespace {

struct Scratch {
    ScratchRegKey key;
    FixActionRegistry where{HKEY_CURRENT_USER, key.path() + L"\\"};

    std::optional<DWORD> Dword(const wchar_t* path, const wchar_t* name) const {
        zev::UniqueHKey k;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (where.prefix + path).c_str(), 0, KEY_READ, k.put()) !=
            ERROR_SUCCESS)
            return std::nullopt;
        DWORD v = 0, size = sizeof(v);
        if (RegQueryValueExW(k.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) !=
            ERROR_SUCCESS)
            return std::nullopt;
        return v;
    }
    void SetDword(const wchar_t* path, const wchar_t* name, DWORD v) const {
        key.SetDword(name, v, path);
    }
};

boost::shared_ptr<CCMDParser> Parse(const wchar_t* line) {
    return boost::make_shared<CCMDParser>(line);
}

} // namespace

TEST(FixActions, ThisProgramsIdentifierDoesNothing) {
    Scratch s;
    const auto parser = Parse(L"/timelimit 30");
    zev::test::TraceTail tail(TraceFile::Instance().GetPath());
    ApplyFixActions(L"hx318", parser, s.where);
    RollbackFixActions(L"hx318", parser, s.where);
    ApplyFixActions(L"HX104", parser, s.where); // case-sensitive
    EXPECT_TRUE(tail.Read().records.empty());
    EXPECT_FALSE(s.Dword(kHx104Key, kHx104Value));
    EXPECT_FALSE(s.Dword(kHx266Key, kHx266Value));
}

TEST(FixActions, Hx104WritesTheTimeLimitAndRollsItBack) {
    const struct {
        const wchar_t* line;
        std::optional<DWORD> expected;
    } rows[] = {{L"/timelimit 30", 30}, {L"/timelimit abc", 0}, {L"/when now", std::nullopt}};
    for (const auto& row : rows) {
        Scratch s;
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.line)));
        ApplyFixActions(L"hx104", Parse(row.line), s.where);
        EXPECT_EQ(s.Dword(kHx104Key, kHx104Value), row.expected);
    }

    Scratch s;
    ApplyFixActions(L"hx104", Parse(L"/timelimit 5"), s.where);
    RollbackFixActions(L"hx104", Parse(L""), s.where);
    EXPECT_FALSE(s.Dword(kHx104Key, kHx104Value));
    try {
        RollbackFixActions(L"hx104", Parse(L""), s.where);
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()).rfind("RollbackHx104Actions: ", 0), 0u);
    }
}

TEST(FixActions, Hx127SetsBitThreeOfAnExistingValue) {
    for (DWORD before : {1u, 8u, 9u}) {
        Scratch s;
        s.SetDword(kHx127Key, kHx127Value, before);
        ApplyFixActions(L"hx127", Parse(L""), s.where);
        EXPECT_EQ(s.Dword(kHx127Key, kHx127Value), before | 8u) << "before " << before;
    }
    Scratch missing;
    try {
        ApplyHx127Actions(missing.where);
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("ApplyHx127Actions: ", 0), 0u);
    }
    EXPECT_FALSE(missing.Dword(kHx127Key, kHx127Value)); // the key is not created
}

TEST(FixActions, Hx266CountsItsRuns) {
    Scratch s;
    ApplyFixActions(L"hx266", Parse(L""), s.where);
    EXPECT_EQ(s.Dword(kHx266Key, kHx266Value), 1u);
    ApplyFixActions(L"hx266", Parse(L""), s.where);
    EXPECT_EQ(s.Dword(kHx266Key, kHx266Value), 2u);
}
